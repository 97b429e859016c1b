#include "app/Prompt.h"

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
    QMessageBox box(m_parent);
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
    box.setWindowFlag(Qt::WindowStaysOnTopHint);
    box.exec();
    return added.indexOf(qobject_cast<QPushButton*>(box.clickedButton()));
}

int ScriptedPromptService::alert(const QString& title, const QString& text, const QStringList& buttons,
                                 Style style)
{
    shown.append({title, text, buttons, style});
    if (m_answers.empty())
        return defaultAnswer;
    const int answer = m_answers.front();
    m_answers.pop_front();
    return answer;
}

} // namespace lumra
