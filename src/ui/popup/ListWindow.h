#pragma once

#include <QtGlobal>

#include <optional>

namespace lumra {

// The page sizes the settings offer; any other stored value (0, negative, huge, from a hand-edited
// or imported file) pages by the default instead of leaving a list that can never grow.
inline constexpr int offeredBatchSizes[] = {25, 50, 100, 200, 300};
inline constexpr int defaultBatchSize = 50;
int effectiveBatchSize(qint64 stored);

// The slice of the filtered list that the popup builds rows for: [start, end). The bounds are not
// clamped when the list changes; `visible` clamps them, so a stale window only shrinks.
struct ListWindow {
    int start = 0;
    int end = 0;

    struct Range {
        int lower = 0;
        int upper = 0;
        int size() const { return upper - lower; }
        bool contains(int index) const { return index >= lower && index < upper; }
    };
    Range visible(int count) const;

    // The first batch: what every opening starts with.
    static ListWindow first(int count, int batch);
    // One batch more at the end, never past it.
    ListWindow grownDown(int count, int batch) const;
    // One batch more at the top, never before the first item.
    ListWindow grownUp(int batch) const;
    // About two batches (at least 50 rows each side) around the item at `index`.
    static ListWindow around(int index, int count, int batch);

    friend bool operator==(const ListWindow&, const ListWindow&) = default;
};

// Arrow keys among the shown rows (positions 0 ..< rowCount): from the keyboard-selected row, else
// from the hovered one, else the first (Down) or last (Up) row. Never wraps; none when no row is shown.
enum class MoveDirection { down, up };
std::optional<int> keyboardMove(int rowCount, std::optional<int> keyboardRow, std::optional<int> hoveredRow,
                                 MoveDirection direction);

} // namespace lumra
