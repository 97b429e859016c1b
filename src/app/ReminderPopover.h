#pragma once

#include "platform/core/Clock.h"

#include <QLocale>
#include <QPoint>
#include <QRect>
#include <QWidget>

#include <memory>

class QLabel;

namespace lumra {

// The copy reminder: a small bubble next to the tray icon saying how many clips the history holds.
// A click on it asks for the popup, "Do not Disturb" asks to snooze; either closes it, and so does
// the clock 10 s after it was shown. It never takes the keyboard from the app the user is in.
class ReminderPopover : public QWidget {
    Q_OBJECT
public:
    static constexpr QSize bubbleSize{260, 80};
    static constexpr std::chrono::seconds autoCloseDelay{10};

    explicit ReminderPopover(int count, QWidget* parent = nullptr);
    ~ReminderPopover() override;

    // Shows the bubble next to `trayIcon` (empty when the tray gives no geometry: then by the pointer).
    void showNear(const QRect& trayIcon, QPoint pointer);

    static QString reminderMessage(int count, const QLocale& locale = QLocale());

    // How the reminder can reach the user without taking the keyboard. The bubble belongs beside
    // the tray icon, so on X11 with no tray there is none. A Wayland compositor places and focuses
    // a window of its own accord, so there a desktop notification stands in for the bubble, with
    // or without a tray.
    enum class Form { none, bubble, notification };
    static Form formFor(bool trayAvailable, const QString& platformName);

    QString messageText() const;

signals:
    void tapped();
    void doNotDisturb();

protected:
    void mouseReleaseEvent(QMouseEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    void finish();

    QLabel* m_message = nullptr;
    std::unique_ptr<Timer> m_autoClose;
};

} // namespace lumra
