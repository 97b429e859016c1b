#include "model/ClipboardItem.h"

#include <gtest/gtest.h>

using namespace lumra;

static void PrintTo(const QString& text, std::ostream* out) { *out << '"' << text.toStdString() << '"'; }

namespace {

const QString ellipsis = QString(QChar(0x2026));

ClipboardItem textItem(const QString& text)
{
    ClipboardItem item;
    item.textContent = text;
    return item;
}

ClipboardItem fileItem(QStringList strings, std::optional<QList<bool>> isDirectory = std::nullopt)
{
    ClipboardItem item;
    item.contentType = ClipboardContentType::file;
    item.fileURLStrings = std::move(strings);
    item.fileURLIsDirectory = std::move(isDirectory);
    return item;
}

// User-perceived characters of several shapes: combining marks, emoji with modifiers and
// joiners, a flag, and a carriage return with its line feed.
const QStringList clusters {
    "a",
    QString::fromUtf8("e\xCC\x81"),
    QString::fromUtf8("\xF0\x9F\x91\x8D\xF0\x9F\x8F\xBD"),
    QString::fromUtf8("\xF0\x9F\x91\xA8\xE2\x80\x8D\xF0\x9F\x91\xA9\xE2\x80\x8D\xF0\x9F\x91\xA7"),
    QString::fromUtf8("\xF0\x9F\x87\xA9\xF0\x9F\x87\xAA"),
    QString::fromUtf8("a\xCC\x88\xCC\x81"),
    "\r\n",
    QString::fromUtf8("\xC3\xB1"),
};

QStringList mixedClusters(int count)
{
    QStringList list;
    for (int i = 0; i < count; ++i)
        list.append(clusters[i % clusters.size()]);
    return list;
}

QString lines(int count, const QString& separator = "\n")
{
    QStringList list;
    for (int i = 1; i <= count; ++i)
        list.append(QStringLiteral("line %1").arg(i));
    return list.join(separator);
}

} // namespace

TEST(DisplayText, ByContentType)
{
    EXPECT_EQ(textItem("hello").displayText(), "hello");
    EXPECT_EQ(ClipboardItem().displayText(), "");

    ClipboardItem image;
    image.contentType = ClipboardContentType::image;
    image.textContent = "ignored";
    EXPECT_EQ(image.displayText(), "[Image]");

    ClipboardItem file;
    file.contentType = ClipboardContentType::file;
    EXPECT_EQ(file.displayText(), "[File]");
    EXPECT_EQ(fileItem({}).displayText(), "[File]");
}

struct FileCase {
    const char* name;
    QStringList strings;
    std::optional<QList<bool>> isDirectory;
    QString expected;
};

class FileDisplayText : public ::testing::TestWithParam<FileCase> { };

TEST_P(FileDisplayText, HeadsTheNamesWithFileAndFolderCounts)
{
    EXPECT_EQ(fileItem(GetParam().strings, GetParam().isDirectory).displayText(), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Cases, FileDisplayText,
    ::testing::Values(
        FileCase {"TwoFiles", {"file:///home/ada/a.txt", "file:///home/ada/b.txt"}, std::nullopt,
            "2 Files:\na.txt\nb.txt"},
        FileCase {"OneFile", {"file:///home/ada/a.txt"}, std::nullopt, "1 File:\na.txt"},
        FileCase {"FolderByFlag", {"file:///home/ada/notes.txt", "file:///home/ada/Projects"}, QList<bool> {false, true},
            "1 File & 1 Folder:\nnotes.txt\nProjects"},
        FileCase {"FlagsOfWrongLengthFallBackToSlashes", {"file:///a/x.txt", "file:///a/B/", "file:///a/C/"},
            QList<bool> {false, false}, "1 File & 2 Folders:\nx.txt\nB\nC"},
        FileCase {"FoldersOnly", {"file:///a/B/", "file:///a/C/"}, std::nullopt, "2 Folders:\nB\nC"},
        FileCase {"OneFolder", {"file:///a/B"}, QList<bool> {true}, "1 Folder:\nB"},
        FileCase {"FlagsWinOverSlashes", {"file:///a/B/"}, QList<bool> {false}, "1 File:\nB"},
        FileCase {"EscapedNamesAreDecoded", {"file:///home/ada/My%20Notes.txt"}, std::nullopt, "1 File:\nMy Notes.txt"},
        FileCase {"RootFolder", {"file:///"}, std::nullopt, "1 Folder:\n/"},
        FileCase {"UnusableStringsCountButAreNotNamed", {"file:///a/x.txt", "", "http://exa mple.com/"}, std::nullopt,
            "3 Files:\nx.txt"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(PreviewText, KeepsSixLinesAndCountsTheRest)
{
    EXPECT_EQ(textItem(lines(6)).previewText(), lines(6));
    EXPECT_EQ(textItem(lines(7)).previewText(), lines(6) + "\n" + ellipsis + " and 1 more");
    EXPECT_EQ(textItem(lines(10)).previewText(), lines(6) + "\n" + ellipsis + " and 4 more");
    // A trailing line feed makes a last, empty line.
    EXPECT_EQ(textItem(lines(6) + "\n").previewText(), lines(6) + "\n" + ellipsis + " and 1 more");
    EXPECT_EQ(textItem("\n\n\n\n\n\n\n").previewText(), "\n\n\n\n\n\n" + ellipsis + " and 2 more");
}

TEST(PreviewText, CarriageReturnLineFeedDoesNotEndALine)
{
    EXPECT_EQ(textItem(lines(10, "\r\n")).previewText(), lines(10, "\r\n"));
    const QString mixed = lines(4, "\r\n") + "\n" + lines(7);
    EXPECT_EQ(textItem(mixed).previewText(), lines(4, "\r\n") + "\n" + lines(5) + "\n" + ellipsis + " and 2 more");
}

TEST(PreviewText, CutsAfter500UserPerceivedCharacters)
{
    const QStringList five00 = mixedClusters(500);
    EXPECT_EQ(textItem(five00.join("")).previewText(), five00.join(""));

    const QStringList five01 = mixedClusters(501);
    EXPECT_EQ(textItem(five01.join("")).previewText(), five00.join("") + ellipsis);

    // A cluster that straddles the limit stays whole.
    const QString joined = QString(499, 'x') + clusters[3] + "y";
    EXPECT_EQ(textItem(joined).previewText(), QString(499, 'x') + clusters[3] + ellipsis);
    // Flags pair their regional indicators from the start of a run.
    const QString flags = QString(498, 'x') + clusters[4] + clusters[4] + clusters[4];
    EXPECT_EQ(textItem(flags).previewText(), QString(498, 'x') + clusters[4] + clusters[4] + ellipsis);
}

TEST(PreviewText, CutMayFallInsideTheCountLine)
{
    QStringList longLines;
    for (int i = 0; i < 7; ++i)
        longLines.append(QString(81, QChar('a' + i)));
    // 6 lines of 81 plus 5 line feeds leave 9 characters of the count line.
    const QString expected = longLines.mid(0, 6).join("\n") + "\n" + ellipsis + " and 1 " + ellipsis;
    EXPECT_EQ(textItem(longLines.join("\n")).previewText(), expected);
}

TEST(MaskedDisplayText, KeepsEndsAroundBulletsForEveryLengthUpTo30)
{
    // Characters kept at each end, by length.
    const int kept[] = {0, 0, 0, 1, 1, 1, 1, 1, 1, 1, 2, 2, 2, 2, 2, 3, 3, 3, 3, 3, 4, 4, 4, 4, 4, 5, 5, 5, 5, 5, 5};
    for (int n = 0; n <= 30; ++n) {
        const QStringList text = mixedClusters(n);
        const int k = kept[n];
        const QString expected = text.mid(0, k).join("") + QString(n - 2 * k, QChar(0x2022)) + text.mid(n - k).join("");
        EXPECT_EQ(textItem(text.join("")).maskedDisplayText(), expected) << "length " << n;
    }
}

TEST(MaskedDisplayText, MasksTheDisplayTextOfEveryKind)
{
    EXPECT_EQ(textItem("abc").maskedDisplayText(), QString("a") + QChar(0x2022) + "c");
    ClipboardItem image;
    image.contentType = ClipboardContentType::image;
    EXPECT_EQ(image.maskedDisplayText(), QString("[") + QString(5, QChar(0x2022)) + "]");
    EXPECT_EQ(textItem(QString(100, 'z')).maskedDisplayText(), "zzzzz" + QString(90, QChar(0x2022)) + "zzzzz");
}
