#include "PasteTestSupport.h"
#include "platform/keys/EventWait.h"

#include "model/Diagnostics.h"
#include "platform/image/ImageDecoding.h"
#include "platform/richtext/RtfCodec.h"

#include <QDir>
#include <QFileInfo>

#include <QSignalSpy>

using namespace lumra;
using namespace std::chrono_literals;

namespace {

class PasteItemsTest : public test::PasteTest {
protected:
    QStringList writtenTexts() const
    {
        QStringList texts;
        for (const auto& write : pasteboard.writes())
            texts.append(QString::fromUtf8(write.value(0).data));
        return texts;
    }
};

} // namespace

TEST_F(PasteItemsTest, CombinedTextsAreJoinedByTheMode)
{
    struct Case {
        const char* mode;
        QString expected;
    };
    for (const Case& c : {Case {"horizontal", "a b"}, Case {"vertical", "  a\n\nb"}}) {
        SCOPED_TRACE(c.mode);
        manager->setCombineTextsMode(c.mode);
        const ClipboardItem first = addText("  a\n");
        const ClipboardItem second = addText("b");
        ClipboardItem empty;
        empty.textContent = QString();
        const ClipboardItem third = addItem(empty);
        injector.clear();

        manager->paste().pasteItems({first, second, third});
        EXPECT_EQ(writtenTexts().last(), c.expected);
        EXPECT_EQ(injector.pasteCount(), 0);
        clock.advance(100ms);
        EXPECT_EQ(injector.pasteCount(), 1);
        for (const ClipboardItem& item : {first, second, third})
            EXPECT_EQ(current(item.id)->dateAdded, clock.now().addMSecs(-100)) << "every combined item moves to the top";
    }
    EXPECT_EQ(defaults->integer("totalSuccessfulPastes"), 6);
}

TEST_F(PasteItemsTest, CombinedPasteOfOnlyEmptyTextsDoesNothing)
{
    manager->setCombineTextsMode("horizontal");
    const ClipboardItem blank = addText("  \n");
    const ClipboardItem other = addText("\t");
    manager->paste().pasteItems({blank, other});
    clock.advance(1s);
    EXPECT_TRUE(pasteboard.writes().isEmpty());
    EXPECT_EQ(injector.pasteCount(), 0);
    EXPECT_FALSE(current(blank.id)->lastPastedDate);
}

TEST_F(PasteItemsTest, SequentialPasteFollowsItsTimeline)
{
    manager->setCombineTextsMode("off");
    manager->setPasteOnNewLines(true);
    const ClipboardItem a = addText("A");
    const ClipboardItem b = addText("B");
    const ClipboardItem c = addText("C");
    const QDateTime start = clock.now();

    manager->paste().pasteItems({a, b, c});

    struct Step {
        int atMs;
        qsizetype writes;
        int pastes;
    };
    const Step timeline[] = {{0, 1, 0}, {99, 1, 0}, {100, 1, 1}, {549, 1, 1}, {550, 2, 1},
                             {650, 2, 2}, {1100, 3, 2}, {1200, 3, 3}, {5000, 3, 3}};
    int at = 0;
    for (const Step& step : timeline) {
        clock.advance(std::chrono::milliseconds(step.atMs - at));
        at = step.atMs;
        EXPECT_EQ(pasteboard.writes().size(), step.writes) << "at " << at << " ms";
        EXPECT_EQ(injector.pasteCount(), step.pastes) << "at " << at << " ms";
    }
    EXPECT_EQ(writtenTexts(), (QStringList {"A\n", "B\n", "C"}));
    for (const ClipboardItem& item : {a, b, c})
        EXPECT_EQ(current(item.id)->dateAdded, start) << "all move to the top as of the paste";
}

// Each item of a sequence is marked pasted and moved to the top only once its own key went: a
// write the clipboard never took sends no key and leaves its item as it was.
TEST_F(PasteItemsTest, ASequenceMarksOnlyTheItemsWhoseKeyWent)
{
    manager->setCombineTextsMode("off");
    manager->setPasteOnNewLines(false);
    const ClipboardItem a = addText("A");
    const ClipboardItem b = addText("B");
    clock.advance(1min);
    const QDateTime start = clock.now();
    pasteboard.setConfirmsLater(true);
    QSignalSpy failed(&manager->paste(), &PasteService::pasteFailed);

    manager->paste().pasteItems({a, b});
    clock.advance(0ms);
    ASSERT_EQ(writtenTexts(), (QStringList {"A"}));
    EXPECT_FALSE(current(a.id)->lastPastedDate) << "marked before its key went";
    EXPECT_FALSE(current(b.id)->lastPastedDate) << "marked before its key went";
    pasteboard.confirmWrite();
    clock.advance(100ms);
    EXPECT_EQ(injector.pasteCount(), 1);
    clock.advance(5s); // B's write is never confirmed
    EXPECT_EQ(writtenTexts(), (QStringList {"A", "B"}));
    EXPECT_EQ(injector.pasteCount(), 1);
    EXPECT_EQ(failed.count(), 1);

    EXPECT_EQ(current(a.id)->lastPastedDate, start);
    EXPECT_EQ(current(a.id)->dateAdded, start);
    EXPECT_FALSE(current(b.id)->lastPastedDate);
    EXPECT_EQ(current(b.id)->dateAdded, b.dateAdded);
    EXPECT_EQ(defaults->integer("totalSuccessfulPastes"), 1);
}

TEST_F(PasteItemsTest, WithoutNewLinesTheStepIsShorter)
{
    manager->setCombineTextsMode("off");
    manager->setPasteOnNewLines(false);
    manager->paste().pasteItems({addText("A"), addText("B")});
    clock.advance(400ms);
    EXPECT_EQ(writtenTexts(), (QStringList {"A", "B"}));
}

TEST_F(PasteItemsTest, AnImageInTheSelectionIsNeverCombined)
{
    manager->setCombineTextsMode("horizontal");
    QImage picture(4, 4, QImage::Format_RGB32);
    picture.fill(Qt::green);
    const ClipboardItem picked = addImage(image::encodePng(picture).value());
    manager->paste().pasteItems({addText("one"), picked, addText("two")});
    // Each in turn; the picture's forms are made on a lane.
    EXPECT_TRUE(test::processEventsUntil([&] {
        clock.advance(100ms);
        return injector.pasteCount() == 3;
    }, 10000));
    EXPECT_EQ(pasteboard.writes().size(), 3);
}

TEST_F(PasteItemsTest, ASingleItemKeepsItsPlace)
{
    const ClipboardItem older = addText("older");
    addText("newer");
    manager->paste().pasteItems({older});
    clock.advance(200ms);
    EXPECT_EQ(injector.pasteCount(), 1);
    EXPECT_EQ(current(older.id)->dateAdded, older.dateAdded);
    EXPECT_TRUE(current(older.id)->lastPastedDate);
}

TEST_F(PasteItemsTest, AKeyInjectorFailureIsReported)
{
    injector.setCanPost(false);
    QSignalSpy failed(&manager->paste(), &PasteService::pasteFailed);
    manager->paste().copyAndPaste(addText("x"), false);
    clock.advance(100ms);
    ASSERT_EQ(failed.count(), 1);
    EXPECT_FALSE(failed.first().first().toString().isEmpty());
    EXPECT_FALSE(manager->paste().simulatePaste().ok());
}

// A write that returned and then did not hold (another program took the clipboard as it was
// made) is told, and the Ctrl+V waiting for it is not sent: it would paste the other program's copy.
TEST_F(PasteItemsTest, AWriteThatFailsAfterReturningIsToldAndNotPasted)
{
    QSignalSpy failed(&manager->paste(), &PasteService::pasteFailed);
    manager->paste().copyAndPaste(addText("chosen"), false);
    emit pasteboard.writeFailed("Another program took the clipboard");
    clock.advance(100ms);
    ASSERT_EQ(failed.count(), 1);
    EXPECT_EQ(failed.first().first().toString(), "Another program took the clipboard");
    EXPECT_EQ(injector.pasteCount(), 0);

    manager->paste().copyAndPaste(addText("chosen again"), false);
    clock.advance(100ms);
    EXPECT_EQ(injector.pasteCount(), 1);
}

TEST_F(PasteItemsTest, ACombinedPasteCountsEveryItemEvenWithoutARow)
{
    manager->setCombineTextsMode("horizontal");
    const ClipboardItem kept = addText("kept");
    ClipboardItem gone;
    gone.id = QUuid::createUuid();
    gone.textContent = QStringLiteral("gone");
    manager->paste().pasteItems({kept, gone});
    clock.advance(100ms);
    EXPECT_EQ(writtenTexts(), (QStringList {"kept gone"}));
    EXPECT_EQ(defaults->integer("totalSuccessfulPastes"), 2);
    EXPECT_EQ(manager->lastChangeCount(), pasteboard.changeCount());
}

TEST_F(PasteItemsTest, MarkPastedAndCountSkipsAMissingRow)
{
    ClipboardItem ghost;
    ghost.id = QUuid::createUuid();
    manager->paste().markPastedAndCount(ghost);
    EXPECT_EQ(defaults->integer("totalSuccessfulPastes"), 0);
    const ClipboardItem dragged = addText("dragged");
    manager->paste().markPastedAndCount(dragged);
    EXPECT_EQ(defaults->integer("totalSuccessfulPastes"), 1);
    EXPECT_EQ(current(dragged.id)->dateAdded, clock.now());
    EXPECT_TRUE(pasteboard.writes().isEmpty());
}

// ------------------------------------------------------------------------------------------------ counter

TEST_F(PasteItemsTest, EveryTwentyFifthPasteLeavesACelebration)
{
    struct Case {
        int pastes;
        QString message;
    };
    const Case cases[] = {{24, ""}, {25, "Saved 4 Mins of copying & pasting 🎉"},
                          {50, "Saved 8 Mins of copying & pasting 🎉"},
                          {75, "Saved 13 Mins of copying & pasting 🎉"},
                          {375, "Saved 1 Hr of copying & pasting 🎉"}};
    int done = 0;
    for (const Case& c : cases) {
        defaults->remove("pendingCelebrationMessage");
        while (done < c.pastes) {
            manager->paste().recordSuccessfulPaste();
            ++done;
        }
        EXPECT_EQ(defaults->string("pendingCelebrationMessage").value_or(""), c.message) << c.pastes;
    }
    EXPECT_EQ(defaults->integer("totalSuccessfulPastes"), 375);

    manager->setShowTimeSavedCelebration(false);
    defaults->set("totalSuccessfulPastes", 399);
    defaults->remove("pendingCelebrationMessage");
    manager->paste().recordSuccessfulPaste();
    EXPECT_FALSE(defaults->hasStoredValue("pendingCelebrationMessage"));
}

TEST(FormatTimeSaved, PicksTheUnitByTheRoundedNumber)
{
    const std::pair<qint64, const char*> cases[] = {
        {0, "0 Secs"},     {1, "1 Sec"},     {59, "59 Secs"},    {60, "1 Min"},     {89, "1 Min"},
        {90, "2 Mins"},    {250, "4 Mins"},  {750, "13 Mins"},   {3599, "60 Mins"}, {3600, "1 Hr"},
        {5000, "1 Hr"},    {5400, "2 Hrs"},  {86399, "24 Hrs"},  {86400, "1 Day"},  {129600, "2 Days"},
    };
    for (const auto& [seconds, expected] : cases)
        EXPECT_EQ(PasteService::formatTimeSaved(seconds), expected) << seconds;
}

// Rich text too long to be made into HTML goes out as RTF and text, and the log says the HTML is missing.
TEST(PasteRichTextForms, RichTextTooLongForHtmlIsPastedWithoutItAndSaysSo)
{
    Diagnostics& log = Diagnostics::shared();
    QDir().mkpath(QFileInfo(log.logPath()).absolutePath());
    log.setEnabled(true);
    log.writeDiagnosticsLog();
    const QByteArray rtf = "{\\rtf1\\ansi " + QByteArray(RichText::kMaxDocumentCharacters + 1, 'r') + "}";
    const QList<PasteboardRepresentation> forms = PasteService::richTextForms(rtf, false);
    log.flush();
    const QString logged = log.readDiagnosticsLog().value_or(QString());
    log.writeDiagnosticsLog();
    log.setEnabled(false);
    ASSERT_EQ(forms.size(), 1);
    EXPECT_EQ(forms[0].mimeType, QLatin1String(PasteboardMime::rtf));
    EXPECT_TRUE(logged.contains("[Paste] Pasted without HTML: its rich text is longer or nests deeper than HTML is made of"))
        << logged.toStdString();
}
