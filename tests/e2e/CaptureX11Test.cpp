#include "engine/ClipboardManager.h"
#include "model/Diagnostics.h"
#include "platform/cloud/CloudKeyValueStore.h"
#include "platform/pasteboard/PasteboardTypes.h"
#include "platform/pasteboard/X11Pasteboard.h"
#include "platform/workspace/X11Workspace.h"

#include "HostileOwners.h"
#include "X11EngineTest.h"
#include "Xclip.h"
#include "platform/pasteboard/SelectionOwner.h"

#include <gtest/gtest.h>

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QSignalSpy>
#include <QUrl>

#include <list>

#include "platform/x11/X11Includes.h"

using namespace lumra;

namespace {

// The real road under X: another process copies, Lumra captures into a temporary data folder.
class CaptureX11Test : public test::X11EngineTest {
protected:
    void SetUp() override { startEngine(); }
    void TearDown() override { manager.reset(); }

    void copyWithXclip(const QByteArray& data, const QString& type = QString()) { ASSERT_TRUE(test::xclipCopy(data, type)); }

    // Event driven and bounded: the history reaches `count` items.
    bool waitForItems(qsizetype count)
    {
        QSignalSpy changed(manager.get(), &ClipboardManager::clipboardItemsChanged);
        while (manager->clipboardItems().size() < count) {
            if (!changed.wait(20000))
                return false;
        }
        return true;
    }

    const ClipboardItem& last() const { return manager->clipboardItems().last(); }
};

TEST_F(CaptureX11Test, CapturesTextImageAndFilesCopiedByAnotherProcess)
{
    copyWithXclip(QString::fromUtf8("Grüße from xclip").toUtf8());
    ASSERT_TRUE(waitForItems(1));
    EXPECT_EQ(last().contentType, ClipboardContentType::text);
    EXPECT_EQ(last().textContent, QString::fromUtf8("Grüße from xclip"));

    QImage picture(64, 48, QImage::Format_RGB32);
    picture.fill(Qt::darkCyan);
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    picture.save(&buffer, "png");
    copyWithXclip(png, "image/png");
    ASSERT_TRUE(waitForItems(2));
    EXPECT_EQ(last().contentType, ClipboardContentType::image);

    QDir root(dataDir.root());
    root.mkdir("folder");
    QFile(root.filePath("notes.txt")).open(QIODevice::WriteOnly);
    const QString file = QUrl::fromLocalFile(root.filePath("notes.txt")).toString();
    const QString folder = QUrl::fromLocalFile(root.filePath("folder")).toString();
    copyWithXclip((file + "\r\n" + folder + "\r\n").toUtf8(), "text/uri-list");
    ASSERT_TRUE(waitForItems(3));
    EXPECT_EQ(last().contentType, ClipboardContentType::file);
    EXPECT_EQ(last().fileURLStrings, (QStringList {file, folder + "/"}));
    EXPECT_EQ(last().fileURLIsDirectory, (QList<bool> {false, true}));

    // Each copy was captured once, by the change event or the poll but not both: a second
    // capture would bring the row forward.
    const QDateTime added = last().dateAdded;
    manager->captureService()->checkClipboard();
    test::finishPendingCaptures(*manager);
    EXPECT_EQ(manager->clipboardItems().size(), 3);
    EXPECT_EQ(last().dateAdded, added);
}

TEST_F(CaptureX11Test, APasswordManagerCopyIsNotStored)
{
    {
        QSignalSpy changed(pasteboard.get(), &Pasteboard::changed);
        test::SelectionOwner owner({{PasteboardMime::utf8String, "hunter2"},
                                    {PasteboardMime::passwordManagerHint, "secret"}});
        ASSERT_TRUE(changed.wait(20000));
        manager->captureService()->checkClipboard();
    }
    copyWithXclip("after the password");
    ASSERT_TRUE(waitForItems(1));
    ASSERT_EQ(manager->clipboardItems().size(), 1);
    EXPECT_EQ(last().textContent, "after the password");
}

// Copies alternate between xclip and a second program whose window, of no class of its own, claims the
// process of an ignored password manager's window (_NET_WM_PID): each is looked at before the next, and
// every one is stored, or counted and told as not recorded.
TEST_F(CaptureX11Test, NoCopyOfAProgramClaimingAnotherProcessGoesUncounted)
{
    Display* display = XOpenDisplay(nullptr);
    ASSERT_TRUE(display);
    const Window vault = XCreateSimpleWindow(display, DefaultRootWindow(display), 0, 0, 10, 10, 0, 0, 0);
    XClassHint hint {const_cast<char*>("vault"), const_cast<char*>("LumraTestVault")};
    XSetClassHint(display, vault, &hint);
    const unsigned long vaultPid = 4000003;
    XChangeProperty(display, vault, XInternAtom(display, "_NET_WM_PID", x11::XFalse), XA_CARDINAL, 32, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(&vaultPid), 1);
    XChangeProperty(display, DefaultRootWindow(display), XInternAtom(display, "_NET_CLIENT_LIST", x11::XFalse), XA_WINDOW,
                    32, PropModeReplace, reinterpret_cast<const unsigned char*>(&vault), 1);
    XSync(display, x11::XFalse);
    manager->setIgnoredApplications({{"LumraTestVault", "Test Vault"}});

    const qint64 lostBefore = Diagnostics::shared().lostCopies();
    constexpr int copies = 120;
    QStringList made;
    std::list<test::HostileProgram> owners; // each ends once the next copy takes the clipboard
    for (int i = 0; i < copies; ++i) {
        const qint64 before = pasteboard->changeCount();
        if (i % 2 == 0) {
            made.append(QStringLiteral("plain copy %1").arg(i));
            copyWithXclip(made.last().toUtf8());
        } else {
            ASSERT_TRUE(owners.emplace_back().start(QStringLiteral(LUMRA_HOSTILE_X11_OWNER),
                                                    {QStringLiteral("forged-pid"), QString::number(i), QString::number(vaultPid)}));
        }
        ASSERT_TRUE(QTest::qWaitFor(
            [&] { return pasteboard->changeCount() > before && manager->lastChangeCount() == pasteboard->changeCount(); },
            20000))
            << "copy " << i << " was never looked at";
        test::finishPendingCaptures(*manager);
    }
    qsizetype stored = 0;
    for (const ClipboardItem& item : manager->clipboardItems())
        stored += made.contains(item.textContent.value_or(QString())) ? 1 : 0;
    EXPECT_EQ(stored, copies / 2);
    EXPECT_EQ(stored + (Diagnostics::shared().lostCopies() - lostBefore), copies);

    XDeleteProperty(display, DefaultRootWindow(display), XInternAtom(display, "_NET_CLIENT_LIST", x11::XFalse));
    XDestroyWindow(display, vault);
    XCloseDisplay(display);
}

// A read for a copy that the same window replaced before the read began is refused as replaced:
// the window still owns the clipboard, but its answers would be the later copy's.
TEST_F(CaptureX11Test, AReadOfACopyReplacedBeforeItBeganIsRefused)
{
    manager.reset(); // only the reads below ask the owner
    QSignalSpy changed(pasteboard.get(), &Pasteboard::changed);
    test::HostileProgram owner; // copies again on the same window once it has listed its types
    ASSERT_TRUE(owner.start(QStringLiteral(LUMRA_HOSTILE_X11_OWNER), {QStringLiteral("retake-at-targets")}));
    ASSERT_TRUE(changed.wait(20000));
    auto first = pasteboard->offerReader();
    auto late = pasteboard->offerReader();
    ASSERT_TRUE(first->types(QDeadlineTimer(5000)).ok());
    ASSERT_TRUE(owner.waitForOutput("RETAKEN", 10000));
    ASSERT_TRUE(QTest::qWaitFor([&] { return pasteboard->changeCount() > first->changeCount(); }, 10000));

    const auto types = late->types(QDeadlineTimer(5000));
    ASSERT_FALSE(types.ok()) << types.value().join(u' ').toStdString();
    EXPECT_EQ(types.error(), QStringLiteral("A later copy replaced it before it was read"));
}

} // namespace
