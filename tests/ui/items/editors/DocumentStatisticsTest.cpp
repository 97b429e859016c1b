#include "ui/items/editors/DocumentStatistics.h"
#include "ui/items/editors/EditorRules.h"
#include "ui/items/editors/RichTextFormatting.h"

#include <gtest/gtest.h>

#include <QRandomGenerator>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextList>

namespace lumra {
namespace {

std::tuple<int, int, int> fields(const EditorRules::TextStatistics& s) { return {s.characters, s.words, s.lines}; }

// The counts as the editor used to take them: the whole saved text, counted afresh.
std::tuple<int, int, int> counted(const QTextDocument& document)
{
    return fields(EditorRules::textStatistics(RichTextFormatting::plainText(document)));
}

QString randomText(QRandomGenerator& random, int length)
{
    static const QStringList pieces = {
        QStringLiteral("word"),   QStringLiteral(" "),       QStringLiteral("\n"),          QStringLiteral("\r\n"),
        QStringLiteral("\t"),     QStringLiteral("\u00a0"), QStringLiteral("\u2028"),      QStringLiteral("e\u0301"),
        QStringLiteral("\U0001F469\u200D\U0001F4BB"),       QStringLiteral("x"),           QStringLiteral("\u0301"),
    };
    QString text;
    while (text.size() < length)
        text += pieces[random.bounded(int(pieces.size()))];
    return text;
}

// Random edits of every size, from a key to the whole document, with formats, images, lists,
// undo and redo: after each one the kept counts are those of the text counted afresh.
void editAtRandom(QTextDocument& document, DocumentStatistics& statistics, quint32 seed)
{
    QRandomGenerator random(seed);
    for (int step = 0; step < 300; ++step) {
        SCOPED_TRACE(step);
        const int length = document.characterCount() - 1;
        const int at = random.bounded(length + 1);
        const int sizes[] = {1, 3, 40, 600, 4000};
        const int size = sizes[random.bounded(5)];
        QTextCursor cursor(&document);
        cursor.setPosition(at);
        // Kept to a size counted afresh quickly: a long document cut down now and then.
        const int operation = length > 12000 ? 2 : int(random.bounded(9));
        switch (operation) {
        case 0:
        case 1:
            cursor.insertText(randomText(random, random.bounded(size) + 1));
            break;
        case 2:
            cursor.setPosition(std::min(length, at + random.bounded(size) + 1), QTextCursor::KeepAnchor);
            cursor.removeSelectedText();
            break;
        case 3: {
            cursor.setPosition(std::min(length, at + random.bounded(size) + 1), QTextCursor::KeepAnchor);
            QTextCharFormat bold;
            bold.setFontWeight(random.bounded(2) ? QFont::Bold : QFont::Normal);
            cursor.mergeCharFormat(bold);
            break;
        }
        case 4:
            cursor.insertBlock();
            break;
        case 5:
            if (random.bounded(2))
                document.undo();
            else
                document.redo();
            break;
        case 6:
            cursor.insertImage(QStringLiteral("picture"));
            break;
        case 7:
            if (random.bounded(8) == 0)
                document.setPlainText(randomText(random, size));
            else
                cursor.createList(QTextListFormat::ListDisc);
            break;
        case 8:
            cursor.beginEditBlock();
            cursor.insertText(randomText(random, size));
            cursor.setPosition(random.bounded(document.characterCount()));
            cursor.setPosition(std::min(document.characterCount() - 1, cursor.position() + size), QTextCursor::KeepAnchor);
            cursor.removeSelectedText();
            cursor.endEditBlock();
            break;
        }
        ASSERT_EQ(fields(statistics.statistics()), counted(document)) << "after edit " << operation << " at " << at;
    }
}

TEST(DocumentStatisticsTest, KeptCountsAreThoseOfTheWholeTextAfterEveryEdit)
{
    for (const quint32 seed : {1u, 2u, 3u}) {
        SCOPED_TRACE(seed);
        QTextDocument document;
        DocumentStatistics statistics;
        statistics.follow(&document);
        EXPECT_EQ(fields(statistics.statistics()), std::make_tuple(0, 0, 0));
        editAtRandom(document, statistics, seed);
    }
}

// A document counted where it was read (a worker) is followed without being counted again.
TEST(DocumentStatisticsTest, ADocumentCountedWhereItWasReadIsTakenAsCounted)
{
    QTextDocument document;
    QRandomGenerator random(7);
    document.setPlainText(randomText(random, 20000));
    DocumentStatistics::countAll(document);
    const qint64 before = EditorRules::charactersCountedOnThisThread();
    DocumentStatistics statistics;
    statistics.follow(&document);
    EXPECT_EQ(EditorRules::charactersCountedOnThisThread(), before);
    EXPECT_EQ(fields(statistics.statistics()), counted(document));
    editAtRandom(document, statistics, 8);
}

} // namespace
} // namespace lumra
