#pragma once

#include "engine/ClipboardManager.h"
#include "platform/core/Clock.h"
#include "ui/items/ItemRowFacts.h"

#include <QPointer>
#include <QRect>
#include <QStyledItemDelegate>

#include <chrono>
#include <memory>

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

// The last line a line-limited text shows: `rest` is the text from that line on (line breaks as
// U+2028); the line keeps only its own words and ends in an ellipsis, since more text follows.
QString lastShownLine(const QString& rest, const QFontMetricsF& metrics, qreal width);

// The direction a row's text runs in: right to left for Hebrew or Arabic, whose rows then align right.
Qt::LayoutDirection textDirection(const QString& text);

// How far the highlight of a row has faded in (1) or out (0), `elapsed` into a fade that started at
// level `from`, eased in and out over `ItemRowDelegate::highlightFade`.
double highlightFadeLevel(double from, bool fadingIn, std::chrono::milliseconds elapsed);

// Paints history rows from their facts: badges, content by kind, tags, comment, metadata and the
// divider, on a background that shows hover, selection, keyboard cursor and highlight.
class ItemRowDelegate : public QStyledItemDelegate {
    Q_OBJECT
public:
    static constexpr int listPaddingX = 8;
    static constexpr int rowSpacing = 2;
    static constexpr int loaderHeight = 32;
    static constexpr std::chrono::milliseconds highlightFade{500};

    ItemRowDelegate(ClipboardManager& manager, ContentViewState& state, QObject* parent = nullptr);

    static RowGeometry layout(const ItemRowFacts& facts, const RowSettings& settings, const QFont& base, int width);

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;

    // The link button of the row at `index`, in view coordinates; empty when it has none.
    QRect linkRect(const QStyleOptionViewItem& option, const QModelIndex& index) const;
    // How strongly the row of the item shows the yellow highlight, 0 to 1, while it fades in and out.
    double highlightLevel(const QUuid& id) const;

signals:
    void repaintNeeded();

private:
    void highlightChanged();
    void paintItem(QPainter* painter, const QStyleOptionViewItem& option, const HistoryListModel& model, int row) const;
    void paintLoader(QPainter* painter, const QStyleOptionViewItem& option, const HistoryListModel& model) const;

    QPointer<ClipboardManager> m_manager;
    QPointer<ContentViewState> m_state;
    std::optional<QUuid> m_fadeId;
    QDateTime m_fadeStart;
    double m_fadeFrom = 0;
    bool m_fadingIn = false;
    std::unique_ptr<Timer> m_fadeTick;
};

} // namespace lumra
