#include "ui/popup/ListWindow.h"

#include <algorithm>

namespace lumra {

int effectiveBatchSize(qint64 stored)
{
    const bool offered = std::find(std::begin(offeredBatchSizes), std::end(offeredBatchSizes), stored)
        != std::end(offeredBatchSizes);
    return offered ? int(stored) : defaultBatchSize;
}

ListWindow::Range ListWindow::visible(int count) const
{
    const int lower = std::min(count, std::max(start, 0));
    const int upper = std::min(count, std::max(end, lower));
    return {lower, upper};
}

ListWindow ListWindow::first(int count, int batch) { return {0, std::max(0, std::min(count, batch))}; }

ListWindow ListWindow::grownDown(int count, int batch) const
{
    return {start, std::max(end, std::min(count, end + batch))};
}

ListWindow ListWindow::grownUp(int batch) const { return {std::max(start - batch, 0), end}; }

ListWindow ListWindow::around(int index, int count, int batch)
{
    const int reach = std::max(batch, 50);
    return {std::max(index - reach, 0), std::min(index + reach + 1, count)};
}

std::optional<int> keyboardMove(int rowCount, std::optional<int> keyboardRow, std::optional<int> hoveredRow,
                                MoveDirection direction)
{
    if (rowCount <= 0)
        return std::nullopt;
    const auto valid = [rowCount](std::optional<int> row) { return row && *row >= 0 && *row < rowCount; };
    const int step = direction == MoveDirection::down ? 1 : -1;
    const auto inside = [rowCount](int row) { return row >= 0 && row < rowCount; };
    if (valid(keyboardRow))
        return inside(*keyboardRow + step) ? *keyboardRow + step : *keyboardRow;
    if (valid(hoveredRow))
        return inside(*hoveredRow + step) ? *hoveredRow + step : *hoveredRow;
    return direction == MoveDirection::down ? 0 : rowCount - 1;
}

} // namespace lumra
