#pragma once

#include "ui/shell/Prompt.h"

#include <QApplication>
#include <QWidget>

namespace lumra::test {

// An alert that takes the focus while it is up, as a real dialog window does, and answers `answer`.
class FocusTakingPrompts final : public PromptService {
public:
    int alert(const QString& title, const QString&, const QStringList&, Style) override
    {
        titles << title;
        QWidget dialog;
        dialog.show();
        QApplication::setActiveWindow(&dialog);
        return answer;
    }
    int alertWithCheckBox(const QString& title, const QString& text, const QStringList& buttons, Style style,
                          const QString&, bool&) override
    {
        return alert(title, text, buttons, style);
    }
    int alertWithAccessory(const QString& title, const QString& text, const QStringList& buttons, Style style,
                           QWidget*) override
    {
        return alert(title, text, buttons, style);
    }

    QStringList titles;
    int answer = 0;
};

} // namespace lumra::test
