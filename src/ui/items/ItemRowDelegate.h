#pragma once

#include "engine/ClipboardManager.h"
#include "ui/items/ItemRowFacts.h"

#include <QPointer>
#include <QRect>
#include <QStyledItemDelegate>

namespace lumra {

class ContentViewState;
class HistoryListModel;

// Where the parts of one row go, for a row of a given width (origin at the row's top-left corner).
struct RowGeometry {
    int height = 0;
    QRect frame;   // the rounded background
    QRect badges;  // the badge column
    QRect content; // text, picture or file block
    QRect fileIcon;
    QRect recognisedText;
    QRect tags;
    QRect comment;
    QRect metadata;
    QRect deleted;
    QRect swatch;
    QRect link;
    QRect terminal;
    int textLines = 0;
};

// Paints history rows from their facts: badges, content by kind, tags, comment, metadata and the
// divider, on a background that shows hover, selection, keyboard cursor and highlight.
class ItemRowDelegate : public QStyledItemDelegate {
    Q_OBJECT
public:
    static constexpr int listPaddingX = 8;
    static constexpr int rowSpacing = 2;
    static constexpr int loaderHeight = 32;

    ItemRowDelegate(ClipboardManager& manager, ContentViewState& state, QObject* parent = nullptr);

    static RowGeometry layout(const ItemRowFacts& facts, const RowSettings& settings, const QFont& base, int width);

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;

    // The link button of the row at `index`, in view coordinates; empty when it has none.
    QRect linkRect(const QStyleOptionViewItem& option, const QModelIndex& index) const;

private:
    void paintItem(QPainter* painter, const QStyleOptionViewItem& option, const HistoryListModel& model, int row) const;
    void paintLoader(QPainter* painter, const QStyleOptionViewItem& option, const HistoryListModel& model) const;

    QPointer<ClipboardManager> m_manager;
    QPointer<ContentViewState> m_state;
};

} // namespace lumra
