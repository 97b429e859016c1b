#include "PasteTestSupport.h"

#include "platform/pasteboard/PasteboardTypes.h"

using namespace lumra;

namespace {

using FileUrlPasteTest = lumra::test::PasteTest;

TEST_F(FileUrlPasteTest, OnlyFilesOnThisComputerGoOutAsFiles)
{
    const QString missing = fileUrl("/nowhere/report.txt");
    const ClipboardItem item = addFiles({"", "", ""}, {"http://example.org/report.txt", missing, "mailto:me@example.org"});

    ASSERT_TRUE(test::copyToPasteboard(*manager, item, false));
    EXPECT_EQ(lastWrite().value(QStringLiteral("text/uri-list")), uriListBody({missing}));
    EXPECT_EQ(lastWrite().value(QStringLiteral("x-special/gnome-copied-files")), gnomeCopiedFilesBody({missing}));
}

TEST_F(FileUrlPasteTest, AnItemWithNoLocalFileWritesAndCountsNothing)
{
    const ClipboardItem item = addFiles({"", ""}, {"http://example.org/a.txt", "https://example.org/b/"});
    const qint64 changeCount = pasteboard.changeCount();
    const qint64 pastes = defaults->integer("totalSuccessfulPastes");

    EXPECT_FALSE(test::copyToPasteboard(*manager, item, true));
    EXPECT_TRUE(pasteboard.writes().isEmpty());
    EXPECT_EQ(pasteboard.changeCount(), changeCount);
    EXPECT_EQ(defaults->integer("totalSuccessfulPastes"), pastes);
    EXPECT_FALSE(current(item.id)->lastPastedDate);
}

} // namespace
