#pragma once

#include "engine/filter/FilterOptions.h"
#include "model/ClipboardItem.h"

#include <QHash>
#include <QList>
#include <QPointer>
#include <QWidget>

#include <optional>

class QFrame;
class QHBoxLayout;
class QToolButton;

namespace lumra {

class CategoryBar;
class ClipboardManager;
class PauseButton;

// One control of the footer row, as the settings and the filters make it.
struct FooterButton {
    enum class Kind { settings, starFilter, typeFilter, categories, pause, quit };
    Kind kind = Kind::settings;
    QString symbol;  // empty for the categories, the pause control and "Quit"
    QString toolTip;
    bool active = false;
    std::optional<TypeFilterOption> type;

    friend bool operator==(const FooterButton&, const FooterButton&) = default;
};

// The footer's controls left to right, each present only while its setting is on; the category
// strip only when some category is shown in the footer.
QList<FooterButton> footerButtons(const ClipboardManager& manager);
// The categories of the strip: those not hidden from the footer, none while the strip is off.
QList<ClipboardCategory> footerCategories(const ClipboardManager& manager);

// The popup's bottom row: settings, the star and type filters, the category chips, and at the right
// edge the pause control and "Quit". It hides itself when every control is switched off.
class PopupFooter : public QWidget {
    Q_OBJECT
public:
    explicit PopupFooter(ClipboardManager& manager, QWidget* parent = nullptr);

    CategoryBar* categoryBar() const { return m_categoryBar; }
    PauseButton* pauseButton() const { return m_pause; }
    QToolButton* button(FooterButton::Kind kind, std::optional<TypeFilterOption> type = std::nullopt) const;
    // Whether the row has anything to show (the divider above it follows this).
    bool hasContent() const { return m_hasContent; }

    // The quit confirmation; quits the application on "Quit".
    void confirmQuit();

signals:
    void hasContentChanged(bool hasContent);

protected:
    void changeEvent(QEvent* event) override;

private:
    QToolButton* makeButton(const FooterButton& facts);
    void refresh();
    void activate(const FooterButton& facts);

    QPointer<ClipboardManager> m_manager;
    QHBoxLayout* m_row = nullptr;
    QToolButton* m_settings = nullptr;
    QToolButton* m_star = nullptr;
    QHash<int, QToolButton*> m_typeButtons;
    QFrame* m_divider = nullptr;
    CategoryBar* m_categoryBar = nullptr;
    PauseButton* m_pause = nullptr;
    QToolButton* m_quit = nullptr;
    bool m_hasContent = true;
};

} // namespace lumra
