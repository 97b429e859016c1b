#pragma once

#include <QScrollArea>

#include <optional>

namespace lumra {

// Where one wheel step moves a row scrolled sideways: the larger of the two deltas (the
// horizontal one on a tie) moves it 30 points per step, a positive delta towards the start,
// clamped to the row's ends. None when the step moves nothing, so the event goes on.
std::optional<int> wheelScrollTarget(int offset, double horizontalDelta, double verticalDelta, int contentWidth,
                                     int visibleWidth);

// A scroll area that scrolls only sideways and shows no scroll bars; a plain mouse wheel
// (which turns vertically) moves the row left and right, while precise deltas of a touchpad keep the
// standard behaviour. The content keeps its own width and may be wider than the area.
class HorizontalWheelScrollArea : public QScrollArea {
    Q_OBJECT
public:
    explicit HorizontalWheelScrollArea(QWidget* parent = nullptr);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void wheelEvent(QWheelEvent* event) override;
};

} // namespace lumra
