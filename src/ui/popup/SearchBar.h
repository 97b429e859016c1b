#pragma once

#include "ui/items/FilterBadgeModel.h"
#include "ui/popup/SlashCommands.h"

#include <QFrame>
#include <QPointer>
#include <QUrl>
#include <QWidget>

#include <functional>
#include <optional>

class QHBoxLayout;
class QLabel;
class QMenu;
class QScrollArea;
class QToolButton;

namespace lumra {

class ClipboardManager;
class ContentViewState;
class FilterBadge;
class HorizontalWheelScrollArea;
class SearchField;

// A popover hanging from the search bar: a borderless popup that closes on a click elsewhere or
// Escape and reports that it closed.
class FilterPopoverFrame : public QFrame {
    Q_OBJECT
public:
    FilterPopoverFrame(FilterPopover kind, QWidget* content, QWidget* parent);

    FilterPopover kind() const { return m_kind; }
    QWidget* content() const { return m_content; }
    // Below `anchor`, centred on it and kept on its screen.
    void showBelow(const QWidget* anchor);

signals:
    void closed();

protected:
    void paintEvent(QPaintEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    FilterPopover m_kind;
    QWidget* m_content;
};

// The bar's tint: the text colour laid over the window colour at a low share, as one opaque colour.
QColor searchBarFill(const QPalette& palette);

// The search-mode menu: the four modes, the one in force checked; a choice sets the mode.
QMenu* buildSearchModeMenu(ClipboardManager& manager, QWidget* parent = nullptr);

// The rounded bar at the top of the popup: the magnifying glass (search modes), one badge per active
// filter, the search field, the clear button while anything narrows the list, and the help button.
// Slash commands typed in the field run at once; the filter popovers hang from the bar.
class SearchBar : public QWidget {
    Q_OBJECT
public:
    explicit SearchBar(ClipboardManager& manager, QWidget* parent = nullptr);
    ~SearchBar() override;

    SearchField* searchField() const { return m_field; }
    QToolButton* clearButton() const { return m_clear; }
    QToolButton* helpButton() const { return m_help; }
    QToolButton* modeButton() const { return m_mode; }
    // The sideways-scrolling strip that holds the badges.
    QScrollArea* badgeStrip() const;
    // The line under the row that says why the search text was not searched for.
    QLabel* errorLine() const { return m_errorLine; }
    const QList<FilterBadgeSpec>& badgeSpecs() const { return m_specs; }
    QList<FilterBadge*> badges() const;

    // From now on the popup's state drives the bar: its nine popover flags open and close the
    // popovers (and follow them), and the search focus it asks for goes to the field.
    void attachViewState(ContentViewState& state);

    // Opens a popover (closing another one); the picker is built from the manager's current lists.
    void openPopover(FilterPopover popover);
    void closePopover();
    std::optional<FilterPopover> openPopoverKind() const;
    FilterPopoverFrame* popover() const { return m_popover; }

    // How the help button opens the slash-command page; the settings window's unless set.
    void setOpenCommandsHelp(std::function<void()> open);
    // How "/help" opens the web site; the desktop's browser unless set.
    void setOpenUrl(std::function<void(const QUrl&)> open);

    // Gives the search field the keyboard focus, as after every choice in a popover.
    void focusSearch();

signals:
    void popoverShown(lumra::FilterPopover popover, bool shown);
    void searchFocusRequested();

protected:
    void paintEvent(QPaintEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void applySymbols();
    void showSearchError(const QString& error);
    // Opens through the popup's flag when there is a popup state, else directly.
    void requestPopover(FilterPopover popover);
    void setFlag(FilterPopover popover, bool shown);
    void refresh();
    void rebuildBadges(const QList<FilterBadgeSpec>& specs);
    void removeBadge(const FilterBadgeSpec& spec);
    void textEdited(const QString& text);
    void chooseDate(FilterPopover popover, const QString& raw);
    void finishChoice();
    QWidget* makePicker(FilterPopover popover);
    QIcon appIcon(const QString& bundleId) const;

    ClipboardManager& m_manager;
    QHBoxLayout* m_row = nullptr;
    QToolButton* m_mode = nullptr;
    HorizontalWheelScrollArea* m_badgeStrip = nullptr;
    QHBoxLayout* m_badgeRow = nullptr;
    SearchField* m_field = nullptr;
    QToolButton* m_clear = nullptr;
    QToolButton* m_help = nullptr;
    QLabel* m_errorLine = nullptr;
    QList<FilterBadgeSpec> m_specs;
    QList<QPointer<FilterBadge>> m_badges;
    QPointer<FilterPopoverFrame> m_popover;
    QPointer<ContentViewState> m_state;
    std::function<void()> m_openCommandsHelp;
    std::function<void(const QUrl&)> m_openUrl;
};

} // namespace lumra
