#include "ui/items/CustomDateRangePicker.h"

#include "ui/items/CustomRangeDates.h"

#include <QCalendarWidget>
#include <QDateEdit>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace lumra {

CustomDateRangePicker::CustomDateRangePicker(Bound start, Bound end, const CalendarSettings& calendar,
                                             const QDateTime& now, QWidget* parent)
    : QWidget(parent)
    , m_calendar(calendar)
    , m_now(now)
{
    setFixedWidth(240);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(16, 16, 16, 16);
    layout->setSpacing(12);

    auto* title = new QLabel(tr("Custom Date Range"), this);
    QFont headline = title->font();
    headline.setBold(true);
    title->setFont(headline);
    layout->addWidget(title);

    const auto addField = [&](const QString& caption, QDateEdit* field) {
        auto* group = new QVBoxLayout;
        group->setSpacing(6);
        auto* label = new QLabel(caption, this);
        QFont small = label->font();
        small.setPointSizeF(small.pointSizeF() * 0.85);
        label->setFont(small);
        label->setForegroundRole(QPalette::PlaceholderText);
        label->setBuddy(field);
        group->addWidget(label);
        group->addWidget(field);
        layout->addLayout(group);
    };
    m_from = makeField(start, false);
    addField(tr("From"), m_from);
    m_to = makeField(end, true);
    addField(tr("To"), m_to);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    m_cancel = new QPushButton(tr("Cancel"), this);
    m_apply = new QPushButton(tr("Apply"), this);
    m_apply->setDefault(true);
    buttons->addWidget(m_cancel);
    buttons->addWidget(m_apply);
    layout->addLayout(buttons);
    connect(m_cancel, &QPushButton::clicked, this, &CustomDateRangePicker::cancelled);
    connect(m_apply, &QPushButton::clicked, this, &CustomDateRangePicker::applied);
}

QDateEdit* CustomDateRangePicker::makeField(const Bound& bound, bool isEnd)
{
    auto* field = new QDateEdit(this);
    field->setCalendarPopup(true);
    field->setDisplayFormat(QLocale().dateFormat(QLocale::ShortFormat));
    field->setMaximumDate(CustomRangeDates::latestDay(m_now, m_calendar));
    field->calendarWidget()->setFirstDayOfWeek(m_calendar.firstDayOfWeek);
    field->setDate(CustomRangeDates::dayOf(bound.get(), m_calendar));
    connect(field, &QDateEdit::dateChanged, this, [this, bound, isEnd](QDate day) {
        const QDateTime value = isEnd ? CustomRangeDates::endBound(day, m_calendar)
                                      : CustomRangeDates::startBound(day, m_calendar);
        if (value != bound.get())
            bound.set(value);
    });
    return field;
}

void CustomDateRangePicker::keyPressEvent(QKeyEvent* event)
{
    switch (event->key()) {
    case Qt::Key_Escape: emit cancelled(); return;
    case Qt::Key_Return:
    case Qt::Key_Enter: emit applied(); return;
    default: QWidget::keyPressEvent(event);
    }
}

} // namespace lumra
