#pragma once

#include <QDateTime>
#include <QList>
#include <QLocale>
#include <QPointer>
#include <QString>
#include <QToolButton>

#include <optional>

class QMenu;

namespace lumra {

class ClipboardManager;

struct PauseDuration {
    QString label;
    std::optional<int> minutes; // none: until resumed
};

// "5 minutes", "10 minutes", "20 minutes", "1 hour", "Permanently".
const QList<PauseDuration>& pauseDurations();
// The paused button's tooltip: "Paused until 15:10 — click to resume" or "Paused — click to resume".
QString pauseStatusText(const std::optional<QDateTime>& resumeDate, const QLocale& locale = QLocale());

// The footer's pause control. While capture runs it shows a pause symbol that offers the
// durations; while paused, a green play symbol that resumes at once. It follows the manager, so a
// timed pause that runs out turns it back by itself.
class PauseButton : public QToolButton {
    Q_OBJECT
public:
    explicit PauseButton(ClipboardManager& manager, QWidget* parent = nullptr);

    void setSymbolSize(int pixels);
    // The duration menu, as offered on a click (tests read and trigger it).
    QMenu* makeDurationMenu(QWidget* parent);

protected:
    void changeEvent(QEvent* event) override;

private:
    void refresh();
    void pressed();

    QPointer<ClipboardManager> m_manager;
};

} // namespace lumra
