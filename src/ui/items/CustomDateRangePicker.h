#pragma once

#include "engine/filter/FilterState.h"

#include <QDateTime>
#include <QWidget>

#include <functional>

class QDateEdit;
class QPushButton;

namespace lumra {

// "Custom Date Range": two day fields that write their bound as the user changes them (the first
// moment of the "From" day, the last millisecond of the "To" day), with Cancel (Escape) and Apply
// (Return). Neither button changes the dates; days after today cannot be chosen.
class CustomDateRangePicker : public QWidget {
    Q_OBJECT
public:
    struct Bound {
        std::function<QDateTime()> get;
        std::function<void(const QDateTime&)> set;
    };
    CustomDateRangePicker(Bound start, Bound end, const CalendarSettings& calendar, const QDateTime& now,
                          QWidget* parent = nullptr);

    QDateEdit* fromField() const { return m_from; }
    QDateEdit* toField() const { return m_to; }
    QPushButton* applyButton() const { return m_apply; }
    QPushButton* cancelButton() const { return m_cancel; }

signals:
    void applied();
    void cancelled();

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    QDateEdit* makeField(const Bound& bound, bool isEnd);

    CalendarSettings m_calendar;
    QDateTime m_now;
    QDateEdit* m_from = nullptr;
    QDateEdit* m_to = nullptr;
    QPushButton* m_apply = nullptr;
    QPushButton* m_cancel = nullptr;
};

} // namespace lumra
