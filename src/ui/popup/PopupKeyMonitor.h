#pragma once

#include <QDateTime>
#include <QObject>
#include <QPoint>
#include <QPointer>
#include <QString>

#include <functional>
#include <optional>

class QKeyEvent;
class QWidget;

namespace lumra {

// The preview modifier rule of the "previewShortcut" setting on flags in the stored encoding
// (0x20000 Shift, 0x40000 Super, 0x80000 Alt, 0x100000 Ctrl). Unknown settings count as
// "shiftCommand"; "spaceBar" and "disabled" never match.
bool previewModifiersMatch(const QString& previewShortcut, quint64 flags);
// Keys that move through the list; after one of them Space previews again instead of typing.
bool isNavigationKey(int qtKey);

// A quick press and release of the preview modifiers, with no other key in between.
class PreviewModifierTap {
public:
    static constexpr qint64 maximumHoldMs = 400;
    // The modifiers changed to `flags`; true when this release completes a tap.
    bool modifiersChanged(const QString& previewShortcut, quint64 flags, const QDateTime& now);
    void keyDown() { m_held = false; }

private:
    bool m_held = false;
    std::optional<QDateTime> m_pressedAt;
};

// Watches the keys of the popup's own window (and of the preview while it is up): Space and the
// modifier taps toggle the preview, Delete asks to delete a multi-selection, and typing keeps
// Space a plain space. Events of any other window (an editor, a dialog) pass untouched.
class PopupKeyMonitor : public QObject {
    Q_OBJECT
public:
    struct Hooks {
        std::function<QString()> previewShortcut;
        std::function<bool()> isPreviewVisible;
        std::function<void()> togglePreview;
        std::function<bool()> hasCurrentItem;   // a hovered or keyboard-selected row
        std::function<int()> selectedCount;
        std::function<void()> confirmDeleteSelection; // may be empty: Delete then passes on
        std::function<QWidget*()> previewWindow;      // may return null
        std::function<QDateTime()> now;
    };

    PopupKeyMonitor(QWidget* popupWindow, Hooks hooks, QObject* parent = nullptr);
    ~PopupKeyMonitor() override;

    bool suppressSpaceBarPreview() const { return m_suppressSpace; }
    // The row hover handler: a mouse that moved more than 2 pixels from where typing began
    // makes Space preview again.
    void mouseEnteredRow(QPoint globalPosition);

signals:
    void suppressSpaceBarPreviewChanged(bool suppressed);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    bool isOurs(QObject* watched, bool* inPopup) const;
    bool handleKey(QKeyEvent* event, bool inPopup);
    void setSuppressed(bool suppressed, std::optional<QPoint> anchor);

    QPointer<QWidget> m_window;
    Hooks m_hooks;
    PreviewModifierTap m_tap;
    bool m_suppressSpace = false;
    std::optional<QPoint> m_suppressAnchor;
};

} // namespace lumra
