#include "app/Prompt.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QMessageBox>
#include <QPushButton>

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
