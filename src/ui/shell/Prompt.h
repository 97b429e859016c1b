#pragma once

#include <QFontMetrics>

#include <QList>
#include <QString>
#include <QStringList>

#include <deque>
#include <functional>

class QWidget;

namespace lumra {

// Every modal alert of Lumra goes through this, so tests can read what was asked and answer it.
class PromptService {
public:
    enum class Style { informational, warning, critical };

    virtual ~PromptService() = default;

    // Shows `title` and `text` with `buttons` (the first is the default, the last answers Escape)
    // and returns the index of the button chosen, or -1 when the alert was dismissed otherwise.
    virtual int alert(const QString& title, const QString& text, const QStringList& buttons,
                      Style style = Style::informational) = 0;
    // The same with a check box under the text; `checked` holds its state before and after.
    virtual int alertWithCheckBox(const QString& title, const QString& text, const QStringList& buttons, Style style,
                                  const QString& checkBoxTitle, bool& checked) = 0;
    // The same with `accessory` (check boxes, a live count) under the text; the caller keeps it and
    // reads it afterwards. When it has a signal firstButtonEnabledChanged(bool), the first
    // button follows it.
    virtual int alertWithAccessory(const QString& title, const QString& text, const QStringList& buttons, Style style,
                                   QWidget* accessory) = 0;

    static PromptService& shared();
    static void setShared(PromptService* service); // nullptr restores the message-box service
};

// The narrowest an alert may be for the window manager to show its whole title.
int alertMinimumWidth(const QString& title, const QFontMetrics& metrics);

class MessageBoxPromptService final : public PromptService {
public:
    explicit MessageBoxPromptService(QWidget* parent = nullptr) : m_parent(parent) { }
    int alert(const QString& title, const QString& text, const QStringList& buttons, Style style) override;
    int alertWithCheckBox(const QString& title, const QString& text, const QStringList& buttons, Style style,
                          const QString& checkBoxTitle, bool& checked) override;
    int alertWithAccessory(const QString& title, const QString& text, const QStringList& buttons, Style style,
                           QWidget* accessory) override;

private:
    int run(const QString& title, const QString& text, const QStringList& buttons, Style style,
            const QString& checkBoxTitle, bool* checked);
    QWidget* m_parent;
};

// Test double: records each alert and answers from a script (then with `defaultAnswer`).
class ScriptedPromptService final : public PromptService {
public:
    struct Shown {
        QString title;
        QString text;
        QStringList buttons;
        Style style;
        QString checkBoxTitle;
        bool hadAccessory = false;
    };

    void answerNext(int index) { m_answers.push_back(index); }
    // The check box state the next alert that has one is left with.
    void checkNext(bool checked) { m_checks.push_back(checked); }
    int alert(const QString& title, const QString& text, const QStringList& buttons, Style style) override;
    int alertWithCheckBox(const QString& title, const QString& text, const QStringList& buttons, Style style,
                          const QString& checkBoxTitle, bool& checked) override;
    // Calls `onAccessory` with the accessory while the alert is "open", so a test can tick boxes
    // and read what it shows before the scripted answer is given.
    int alertWithAccessory(const QString& title, const QString& text, const QStringList& buttons, Style style,
                           QWidget* accessory) override;

    std::function<void(QWidget* accessory)> onAccessory;
    QList<Shown> shown;
    int defaultAnswer = 0;

private:
    std::deque<int> m_answers;
    std::deque<bool> m_checks;
};

} // namespace lumra
