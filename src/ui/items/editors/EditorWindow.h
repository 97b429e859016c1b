#pragma once

#include "ui/shell/HotKeyManager.h"
#include "ui/shell/PopupPanel.h"
#include "engine/ClipboardManager.h"
#include "platform/core/Result.h"

#include <QDialog>
#include <QPointer>

class QBoxLayout;
class QLabel;
class QPushButton;

namespace lumra {

// What an editor window is opened with: the engine, the hot keys (for the shortcut recorder) and
// the popup it keeps open; the popup may be null.
struct EditorHost {
    ClipboardManager* manager = nullptr;
    HotKeyManager* hotKeys = nullptr;
    PopupPanel* panel = nullptr;
};

// The window of one editor. It keeps the popup open while it lives, closes only itself, and gives
// the popup back the focus when it goes. Save runs the editor's write; one that fails leaves the
// window open with the reason shown, so nothing reads as saved that was not.
class EditorWindow : public QDialog {
    Q_OBJECT
public:
    enum class Sizing { fixed, resizable };

    EditorWindow(const EditorHost& host, const QString& title, QSize contentSize, Sizing sizing);
    ~EditorWindow() override;

    ClipboardManager& manager() const { return *m_manager; }
    HotKeyManager* hotKeys() const { return m_hotKeys; }
    PopupPanel* panel() const { return m_panel; }

    // Runs the write; closes on success, shows the failure otherwise. True when saved.
    bool trySave();
    // The failure shown; empty while there is none.
    QString errorText() const;

    void done(int result) override;

protected:
    bool event(QEvent* event) override;

protected:
    virtual Status save() = 0;

    // The bold title line and the item's caption (secondary, at most two lines).
    static QLabel* headline(const QString& text);
    static QLabel* caption(const QString& text, int maxLines = 2);
    QLabel* errorLabel() const { return m_error; }
    // Cancel (Escape) and the default button (Return), at the trailing end of a row.
    QBoxLayout* buttonRow(const QString& saveTitle, QPushButton** saveButton = nullptr);
    void showError(const QString& message);
    // Called once the editor's layout is built: the window takes its size, never smaller than
    // its content needs.
    void finishLayout();

private:
    // Ends the hold; `showPopup` once the user closed the editor (not when Lumra tears it down).
    void handBack(bool showPopup);
    // The popup and this editor back on screen and in front, the editor with the focus.
    void bringForward();
    void fitContent();

    QPointer<ClipboardManager> m_manager;
    QPointer<HotKeyManager> m_hotKeys;
    QPointer<PopupPanel> m_panel;
    PopupPanel::Hold m_hold;
    QLabel* m_error = nullptr;
    QSize m_contentSize;
    Sizing m_sizing;
    bool m_handedBack = false;
    bool m_laidOut = false;
};

// The title-bar buttons of an editor window: close only.
Qt::WindowFlags editorWindowFlags(EditorWindow::Sizing sizing);

} // namespace lumra
