#pragma once

#include <QList>
#include <QObject>
#include <QPoint>
#include <QString>
#include <QUuid>

#include <optional>
#include <utility>

namespace lumra {

// The popup's shared view state: every part of the popup reads and writes it, and each field
// tells its change through its own signal (only when the value really changed). A new popup
// makes a new state, so nothing here outlives a closed popup.
class ContentViewState : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

    // Rows.
    std::optional<QUuid> hoveredItemId() const { return m_hoveredItemId; }
    void setHoveredItemId(std::optional<QUuid> id) { assign(m_hoveredItemId, id, &ContentViewState::hoveredItemIdChanged); }
    // The multi-selection, in the order the items were added.
    const QList<QUuid>& selectedIds() const { return m_selectedIds; }
    void setSelectedIds(QList<QUuid> ids) { assign(m_selectedIds, std::move(ids), &ContentViewState::selectedIdsChanged); }
    // Ctrl-click: removes a selected id, else appends it.
    void toggleSelection(const QUuid& id);
    std::optional<QUuid> keyboardSelectedId() const { return m_keyboardSelectedId; }
    void setKeyboardSelectedId(std::optional<QUuid> id)
    {
        assign(m_keyboardSelectedId, id, &ContentViewState::keyboardSelectedIdChanged);
    }
    std::optional<QUuid> highlightedItemId() const { return m_highlightedItemId; }
    void setHighlightedItemId(std::optional<QUuid> id)
    {
        assign(m_highlightedItemId, id, &ContentViewState::highlightedItemIdChanged);
    }
    // A request to bring an item into view (and highlight it for a while).
    std::optional<QUuid> scrollToItemId() const { return m_scrollToItemId; }
    void setScrollToItemId(std::optional<QUuid> id) { assign(m_scrollToItemId, id, &ContentViewState::scrollToItemIdChanged); }
    // From the first arrow key until the pointer moves more than 2 px from where it was then.
    bool keyboardNavActive() const { return m_keyboardNavActive; }
    QPoint keyboardNavMouseOrigin() const { return m_keyboardNavMouseOrigin; }
    void setKeyboardNav(bool active, QPoint mouseOrigin = {})
    {
        m_keyboardNavMouseOrigin = mouseOrigin;
        assign(m_keyboardNavActive, active, &ContentViewState::keyboardNavActiveChanged);
    }

    bool isSearchFocused() const { return m_isSearchFocused; }
    void setSearchFocused(bool focused) { assign(m_isSearchFocused, focused, &ContentViewState::isSearchFocusedChanged); }

    // The nine filter popovers of the search area.
#define LUMRA_POPOVER_FLAG(name, setter)                                                                                \
    bool name() const { return m_##name; }                                                                             \
    void setter(bool shown) { assign(m_##name, shown, &ContentViewState::name##Changed); }
    LUMRA_POPOVER_FLAG(showDateFilterPicker, setShowDateFilterPicker)
    LUMRA_POPOVER_FLAG(showCustomDatePicker, setShowCustomDatePicker)
    LUMRA_POPOVER_FLAG(showTypeFilterPicker, setShowTypeFilterPicker)
    LUMRA_POPOVER_FLAG(showAppFilterPicker, setShowAppFilterPicker)
    LUMRA_POPOVER_FLAG(showCategoryFilterPicker, setShowCategoryFilterPicker)
    LUMRA_POPOVER_FLAG(showExcludeDateFilterPicker, setShowExcludeDateFilterPicker)
    LUMRA_POPOVER_FLAG(showExcludeCustomDatePicker, setShowExcludeCustomDatePicker)
    LUMRA_POPOVER_FLAG(showExcludeTypeFilterPicker, setShowExcludeTypeFilterPicker)
    LUMRA_POPOVER_FLAG(showExcludeAppFilterPicker, setShowExcludeAppFilterPicker)
#undef LUMRA_POPOVER_FLAG

    // Editor requests: set to an item id to open that editor once; the opener clears it again.
    std::optional<QUuid> tagEditItem() const { return m_tagEditItem; }
    void setTagEditItem(std::optional<QUuid> id) { assign(m_tagEditItem, id, &ContentViewState::tagEditItemChanged); }
    std::optional<QUuid> editContentItem() const { return m_editContentItem; }
    void setEditContentItem(std::optional<QUuid> id)
    {
        assign(m_editContentItem, id, &ContentViewState::editContentItemChanged);
    }
    std::optional<QUuid> commentEditItem() const { return m_commentEditItem; }
    void setCommentEditItem(std::optional<QUuid> id)
    {
        assign(m_commentEditItem, id, &ContentViewState::commentEditItemChanged);
    }
    std::optional<QUuid> shortcutEditItem() const { return m_shortcutEditItem; }
    void setShortcutEditItem(std::optional<QUuid> id)
    {
        assign(m_shortcutEditItem, id, &ContentViewState::shortcutEditItemChanged);
    }

    bool previewModifiersHeld() const { return m_previewModifiersHeld; }
    void setPreviewModifiersHeld(bool held)
    {
        assign(m_previewModifiersHeld, held, &ContentViewState::previewModifiersHeldChanged);
    }
    bool suppressSpaceBarPreview() const { return m_suppressSpaceBarPreview; }
    void setSuppressSpaceBarPreview(bool suppress)
    {
        assign(m_suppressSpaceBarPreview, suppress, &ContentViewState::suppressSpaceBarPreviewChanged);
    }
    // The row whose preview the held modifiers point at: the keyboard-selected row, else the hovered one.
    std::optional<QUuid> previewTargetId() const
    {
        if (!m_previewModifiersHeld)
            return std::nullopt;
        return m_keyboardSelectedId ? m_keyboardSelectedId : m_hoveredItemId;
    }

    // The time-saved message of the header; none when there is nothing to show.
    std::optional<QString> savingsMessage() const { return m_savingsMessage; }
    void setSavingsMessage(std::optional<QString> message)
    {
        assign(m_savingsMessage, std::move(message), &ContentViewState::savingsMessageChanged);
    }

signals:
    void hoveredItemIdChanged();
    void selectedIdsChanged();
    void keyboardSelectedIdChanged();
    void highlightedItemIdChanged();
    void scrollToItemIdChanged();
    void keyboardNavActiveChanged();
    void isSearchFocusedChanged();
    void showDateFilterPickerChanged();
    void showCustomDatePickerChanged();
    void showTypeFilterPickerChanged();
    void showAppFilterPickerChanged();
    void showCategoryFilterPickerChanged();
    void showExcludeDateFilterPickerChanged();
    void showExcludeCustomDatePickerChanged();
    void showExcludeTypeFilterPickerChanged();
    void showExcludeAppFilterPickerChanged();
    void tagEditItemChanged();
    void editContentItemChanged();
    void commentEditItemChanged();
    void shortcutEditItemChanged();
    void previewModifiersHeldChanged();
    void suppressSpaceBarPreviewChanged();
    void savingsMessageChanged();

private:
    template <typename T, typename U>
    void assign(T& field, U&& value, void (ContentViewState::*changed)())
    {
        if (field == value)
            return;
        field = std::forward<U>(value);
        emit(this->*changed)();
    }

    std::optional<QUuid> m_hoveredItemId;
    QList<QUuid> m_selectedIds;
    std::optional<QUuid> m_keyboardSelectedId;
    std::optional<QUuid> m_highlightedItemId;
    std::optional<QUuid> m_scrollToItemId;
    bool m_keyboardNavActive = false;
    QPoint m_keyboardNavMouseOrigin;
    bool m_isSearchFocused = false;
    bool m_showDateFilterPicker = false;
    bool m_showCustomDatePicker = false;
    bool m_showTypeFilterPicker = false;
    bool m_showAppFilterPicker = false;
    bool m_showCategoryFilterPicker = false;
    bool m_showExcludeDateFilterPicker = false;
    bool m_showExcludeCustomDatePicker = false;
    bool m_showExcludeTypeFilterPicker = false;
    bool m_showExcludeAppFilterPicker = false;
    std::optional<QUuid> m_tagEditItem;
    std::optional<QUuid> m_editContentItem;
    std::optional<QUuid> m_commentEditItem;
    std::optional<QUuid> m_shortcutEditItem;
    bool m_previewModifiersHeld = false;
    bool m_suppressSpaceBarPreview = false;
    std::optional<QString> m_savingsMessage;
};

inline void ContentViewState::toggleSelection(const QUuid& id)
{
    QList<QUuid> ids = m_selectedIds;
    if (const qsizetype at = ids.indexOf(id); at >= 0)
        ids.removeAt(at);
    else
        ids.append(id);
    setSelectedIds(std::move(ids));
}

} // namespace lumra
