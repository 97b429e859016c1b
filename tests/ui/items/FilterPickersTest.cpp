#include "ui/items/FilterPickers.h"

#include "Screenshots.h"

#include <QApplication>
#include <QTest>

namespace lumra {
namespace {

QList<ClipboardCategory> categories(const QStringList& names)
{
    QList<ClipboardCategory> list;
    for (const QString& name : names)
        list.append(ClipboardCategory{QUuid::createUuid(), name, QStringLiteral("folder")});
    return list;
}

int highlightedCount(const FilterPickerView& picker)
{
    int count = 0;
    for (const PickerRow* row : picker.rows())
        count += row->isHighlighted() ? 1 : 0;
    return count;
}

// The pointer and the keyboard share one highlight: hovering a row takes it from the focused one,
// leaving the list clears it, and the keys go on from the row the pointer left.
TEST(FilterPickers, OneRowIsHighlightedAtATime)
{
    std::unique_ptr<FilterPickerView> picker(makeTypePicker());
    picker->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(picker.get()));
    const QList<PickerRow*>& rows = picker->rows();
    rows[0]->setFocus(Qt::PopupFocusReason);
    EXPECT_EQ(picker->highlightedRow(), rows[0]);

    QTest::mouseMove(rows[2]);
    EXPECT_EQ(picker->highlightedRow(), rows[2]);
    EXPECT_EQ(highlightedCount(*picker), 1);
    QTest::mouseMove(rows[4]);
    EXPECT_EQ(picker->highlightedRow(), rows[4]);
    EXPECT_EQ(highlightedCount(*picker), 1);

    QTest::mouseMove(picker.get(), QPoint(picker->width() / 2, 2)); // over the title
    EXPECT_EQ(highlightedCount(*picker), 0);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Down);
    EXPECT_EQ(picker->highlightedRow(), rows[5]);
    EXPECT_EQ(highlightedCount(*picker), 1);
}

// Rows run to the picker's edges; the picker widens for a long label, and past its limit the cut
// label reads in full from the tooltip.
TEST(FilterPickers, LabelsFitAndHighlightsReachTheEdges)
{
    const QString longest = QStringLiteral("A category with a name far longer than any popover should ever be wide");
    for (const QStringList& names : {QStringList{"Work", "Terminal Commands and Snippets"}, QStringList{"Work", longest}}) {
        std::unique_ptr<FilterPickerView> picker(makeCategoryPicker(categories(names)));
        picker->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(picker.get()));
        EXPECT_GE(picker->width(), 200);
        for (PickerRow* row : picker->rows()) {
            const QRect inPicker(row->mapTo(picker.get(), QPoint(0, 0)), row->size());
            EXPECT_EQ(inPicker.left(), 0);
            EXPECT_EQ(inPicker.right(), picker->width() - 1);
            const bool cut = row->text() == longest;
            EXPECT_EQ(row->width() >= row->sizeHint().width(), !cut) << row->text().toStdString();
            EXPECT_EQ(row->toolTip(), cut ? longest : QString());
        }
    }
    std::unique_ptr<FilterPickerView> types(makeTypePicker());
    types->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(types.get()));
    for (PickerRow* row : types->rows())
        EXPECT_GE(row->width(), row->sizeHint().width()) << row->text().toStdString();
}

} // namespace
} // namespace lumra
