// The paste key goes only once the clipboard holds the chosen item, and only to a window: else
// nothing is sent, the item is not marked pasted, and the user is told.
#include "PasteTestSupport.h"

#include <QSignalSpy>

using namespace lumra;
using namespace std::chrono_literals;

namespace {

class PasteWhenHeldTest : public test::PasteTest {
protected:
    bool pasted(const ClipboardItem& item) const { return current(item.id)->lastPastedDate.has_value(); }
};

} // namespace

TEST_F(PasteWhenHeldTest, TheKeyWaitsForTheClipboardToConfirmTheWrite)
{
    pasteboard.setConfirmsLater(true);
    const ClipboardItem chosen = addText("chosen");
    const QDateTime choice = clock.now();
    ASSERT_TRUE(manager->paste().pasteItem(chosen, true, false, 80ms));
    clock.advance(500ms);
    EXPECT_EQ(injector.pasteCount(), 0) << "the previous clipboard would be pasted";
    EXPECT_FALSE(pasted(chosen));

    pasteboard.confirmWrite();
    EXPECT_EQ(injector.pasteCount(), 1);
    EXPECT_TRUE(pasted(chosen));
    EXPECT_EQ(current(chosen.id)->dateAdded, choice);
    EXPECT_EQ(defaults->integer("totalSuccessfulPastes"), 1);
}

TEST_F(PasteWhenHeldTest, AWriteNeverConfirmedIsToldAndNotMarkedPasted)
{
    pasteboard.setConfirmsLater(true);
    QSignalSpy failed(&manager->paste(), &PasteService::pasteFailed);
    const ClipboardItem chosen = addText("chosen");
    manager->paste().copyAndPaste(chosen, false);
    clock.advance(PasteService::writeHeldPatience);
    ASSERT_EQ(failed.count(), 1);
    EXPECT_TRUE(failed.first().first().toString().contains("did not paste")) << failed.first().first().toString().toStdString();
    // A confirmation past the patience sends nothing: the user may be typing elsewhere by now.
    pasteboard.confirmWrite();
    clock.advance(1s);
    EXPECT_EQ(injector.pasteCount(), 0);
    EXPECT_FALSE(pasted(chosen));
    EXPECT_EQ(defaults->integer("totalSuccessfulPastes"), 0);
}

TEST_F(PasteWhenHeldTest, WithNoWindowInFrontNothingIsSentAndTheUserIsTold)
{
    manager.reset();
    manager = start([this](ClipboardManagerServices& services) {
        services.pasteboard = &pasteboard;
        services.keyInjector = &injector;
        services.workspace = &workspace;
    });
    workspace.setFrontmost(std::nullopt);
    QSignalSpy failed(&manager->paste(), &PasteService::pasteFailed);
    const ClipboardItem chosen = addText("chosen");
    ASSERT_TRUE(manager->paste().pasteItem(chosen, true, false, 80ms));
    clock.advance(100ms);
    EXPECT_EQ(injector.pasteCount(), 0);
    ASSERT_EQ(failed.count(), 1);
    EXPECT_EQ(failed.first().first().toString(), KeyInjectorMessages::noWindowInFront());
    EXPECT_FALSE(pasted(chosen));

    workspace.setFrontmost(AppIdentity {QStringLiteral("org.gnome.TextEditor"), QStringLiteral("Text Editor"), 1, 2});
    ASSERT_TRUE(manager->paste().pasteItem(chosen, true, false, 80ms));
    clock.advance(100ms);
    EXPECT_EQ(injector.pasteCount(), 1);
    EXPECT_TRUE(pasted(chosen));
}
