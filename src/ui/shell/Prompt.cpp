#include "ui/shell/Prompt.h"

#include <QCheckBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QGridLayout>
#include <QMessageBox>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>

#include <algorithm>

namespace lumra {

namespace {
PromptService* g_shared = nullptr;
}

PromptService& PromptService::shared()
{
    static MessageBoxPromptService messageBoxes;
    return g_shared ? *g_shared : messageBoxes;
}

void PromptService::setShared(PromptService* service) { g_shared = service; }

int MessageBoxPromptService::alert(const QString& title, const QString& text, const QStringList& buttons,
                                   Style style)
{
    return run(title, text, buttons, style, {}, nullptr);
}

int MessageBoxPromptService::alertWithCheckBox(const QString& title, const QString& text, const QStringList& buttons,
                                               Style style, const QString& checkBoxTitle, bool& checked)
{
    return run(title, text, buttons, style, checkBoxTitle, &checked);
}

int alertMinimumWidth(const QString& title, const QFontMetrics& metrics)
{
    // The title bar's own buttons and margins take about this much beside the title.
    constexpr int titleBarChrome = 140;
    return metrics.horizontalAdvance(title) + titleBarChrome;
}

int MessageBoxPromptService::run(const QString& title, const QString& text, const QStringList& buttons, Style style,
                                 const QString& checkBoxTitle, bool* checked)
{
    QMessageBox box(m_parent);
    QCheckBox* checkBox = nullptr;
    if (checked) {
        checkBox = new QCheckBox(checkBoxTitle, &box);
        checkBox->setChecked(*checked);
        box.setCheckBox(checkBox);
    }
    box.setWindowTitle(title);
    box.setText(title);
    box.setInformativeText(text);
    box.setIcon(style == Style::informational ? QMessageBox::Information
                : style == Style::warning     ? QMessageBox::Warning
                                              : QMessageBox::Critical);
    QList<QPushButton*> added;
    const QStringList labels = buttons.isEmpty() ? QStringList{QStringLiteral("OK")} : buttons;
    for (int i = 0; i < labels.size(); ++i)
        added.append(box.addButton(labels[i], i == 0 ? QMessageBox::AcceptRole : QMessageBox::RejectRole));
    box.setDefaultButton(added.first());
    box.setEscapeButton(added.last());
    // A fixed-size box: no maximise button, and wide enough that the window manager shows the whole title.
    box.setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint
                       | Qt::WindowStaysOnTopHint);
    if (auto* grid = qobject_cast<QGridLayout*>(box.layout()))
        grid->addItem(new QSpacerItem(alertMinimumWidth(title, box.fontMetrics()), 0, QSizePolicy::Fixed), grid->rowCount(),
                      0, 1, grid->columnCount());
    box.exec();
    if (checkBox)
        *checked = checkBox->isChecked();
    return added.indexOf(qobject_cast<QPushButton*>(box.clickedButton()));
}

int MessageBoxPromptService::alertWithAccessory(const QString& title, const QString& text, const QStringList& buttons,
                                                Style style, QWidget* accessory)
{
    // QMessageBox takes no widget of ours, so this alert is laid out like one by hand.
    QDialog dialog(m_parent);
    dialog.setWindowTitle(title);
    dialog.setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint
                          | Qt::WindowStaysOnTopHint);
    const QStyle::StandardPixmap pixmap = style == Style::informational ? QStyle::SP_MessageBoxInformation
        : style == Style::warning                                         ? QStyle::SP_MessageBoxWarning
                                                                          : QStyle::SP_MessageBoxCritical;
    auto* icon = new QLabel(&dialog);
    icon->setPixmap(dialog.style()->standardIcon(pixmap).pixmap(48, 48));
    icon->setAlignment(Qt::AlignTop);
    auto* heading = new QLabel(title, &dialog);
    QFont bold = heading->font();
    bold.setBold(true);
    heading->setFont(bold);
    heading->setWordWrap(true);
    auto* body = new QLabel(text, &dialog);
    body->setWordWrap(true);
    body->setTextFormat(Qt::PlainText);

    auto* column = new QVBoxLayout;
    column->setSpacing(8);
    column->addWidget(heading);
    column->addWidget(body);
    QWidget* previousParent = accessory ? accessory->parentWidget() : nullptr;
    if (accessory)
        column->addWidget(accessory);
    auto* top = new QHBoxLayout;
    top->setSpacing(16);
    top->addWidget(icon, 0, Qt::AlignTop);
    top->addLayout(column, 1);

    auto* box = new QDialogButtonBox(&dialog);
    QList<QPushButton*> added;
    const QStringList labels = buttons.isEmpty() ? QStringList{QStringLiteral("OK")} : buttons;
    int chosen = -1;
    for (int i = 0; i < labels.size(); ++i) {
        QPushButton* button = box->addButton(labels[i], i == 0 ? QDialogButtonBox::AcceptRole : QDialogButtonBox::RejectRole);
        QObject::connect(button, &QPushButton::clicked, &dialog, [&chosen, &dialog, i] {
            chosen = i;
            dialog.done(i == 0 ? QDialog::Accepted : QDialog::Rejected);
        });
        added.append(button);
    }
    added.first()->setDefault(true);
    if (accessory && accessory->metaObject()->indexOfSignal("firstButtonEnabledChanged(bool)") >= 0)
        QObject::connect(accessory, SIGNAL(firstButtonEnabledChanged(bool)), added.first(), SLOT(setEnabled(bool)));

    auto* layout = new QVBoxLayout(&dialog);
    layout->setContentsMargins(20, 20, 20, 16);
    layout->setSpacing(16);
    layout->addLayout(top);
    layout->addWidget(box);
    dialog.setFixedSize(dialog.sizeHint().expandedTo(QSize(std::max(420, alertMinimumWidth(title, dialog.fontMetrics())), 0)));
    dialog.exec();
    // The caller owns the accessory; the dialog must not delete it.
    if (accessory) {
        accessory->hide();
        accessory->setParent(previousParent);
    }
    return chosen;
}

int ScriptedPromptService::alertWithAccessory(const QString& title, const QString& text, const QStringList& buttons,
                                              Style style, QWidget* accessory)
{
    if (onAccessory)
        onAccessory(accessory);
    const int answer = alert(title, text, buttons, style);
    shown.last().hadAccessory = accessory != nullptr;
    return answer;
}

int ScriptedPromptService::alert(const QString& title, const QString& text, const QStringList& buttons,
                                 Style style)
{
    shown.append({title, text, buttons, style, {}});
    if (m_answers.empty())
        return defaultAnswer;
    const int answer = m_answers.front();
    m_answers.pop_front();
    return answer;
}

int ScriptedPromptService::alertWithCheckBox(const QString& title, const QString& text, const QStringList& buttons,
                                             Style style, const QString& checkBoxTitle, bool& checked)
{
    const int answer = alert(title, text, buttons, style);
    shown.last().checkBoxTitle = checkBoxTitle;
    if (!m_checks.empty()) {
        checked = m_checks.front();
        m_checks.pop_front();
    }
    return answer;
}

} // namespace lumra
