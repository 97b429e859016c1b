#pragma once

#include <QAbstractButton>
#include <QPointer>
#include <QScrollArea>

#include <functional>
#include <optional>

namespace lumra {

// Where one wheel step moves a row scrolled sideways: the larger of the two deltas (the
// horizontal one on a tie) moves it 30 points per step, a positive delta towards the start,
// clamped to the row's ends. None when the step moves nothing, so the event goes on.
std::optional<int> wheelScrollTarget(int offset, double horizontalDelta, double verticalDelta, int contentWidth,
                                     int visibleWidth);

// How many items of a row scrolled by `offset` lie mostly outside an area `visibleWidth` wide (their
// middle is out of view): those before its start and those after its end. `spans` are the items' left and
// right (exclusive) edges along the row.
struct HiddenItems {
    int before = 0;
    int after = 0;
    bool operator==(const HiddenItems&) const = default;
};
HiddenItems hiddenItems(const QList<std::pair<int, int>>& spans, int offset, int visibleWidth);

// A scroll area that scrolls only sideways and shows no scroll bars; a plain mouse wheel
// (which turns vertically) moves the row left and right, while precise deltas of a touchpad keep the
// standard behaviour. The content keeps its own width and may be wider than the area.
class HorizontalWheelScrollArea : public QScrollArea {
    Q_OBJECT
public:
    explicit HorizontalWheelScrollArea(QWidget* parent = nullptr);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

    // From now on a "+N" chip stands at either end while N of the content's widgets are out of view
    // there, so nothing is hidden without a word; a click on it scrolls them in. `describe` gives
    // the chip's tooltip for a count.
    void showHiddenCounts(std::function<QString(int count)> describe);
    HiddenItems hiddenNow() const;
    QAbstractButton* moreBefore() const { return m_before; }
    QAbstractButton* moreAfter() const { return m_after; }

protected:
    void wheelEvent(QWheelEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void updateHiddenCounts();
    HiddenItems hiddenAt(int visibleWidth) const;

    std::function<QString(int)> m_describe;
    QAbstractButton* m_before = nullptr;
    QAbstractButton* m_after = nullptr;
    QPointer<QWidget> m_watched;
    bool m_updating = false;
};

} // namespace lumra
