#pragma once

#include <QList>
#include <QString>
#include <QStringList>

#include <deque>

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

    static PromptService& shared();
    static void setShared(PromptService* service); // nullptr restores the message-box service
};

class MessageBoxPromptService final : public PromptService {
public:
    explicit MessageBoxPromptService(QWidget* parent = nullptr) : m_parent(parent) { }
    int alert(const QString& title, const QString& text, const QStringList& buttons, Style style) override;

private:
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
    };

    void answerNext(int index) { m_answers.push_back(index); }
    int alert(const QString& title, const QString& text, const QStringList& buttons, Style style) override;

    QList<Shown> shown;
    int defaultAnswer = 0;

private:
    std::deque<int> m_answers;
};

} // namespace lumra
