#include "engine/ClipboardManager.h"
#include "platform/cloud/CloudKeyValueStore.h"
#include "platform/pasteboard/PasteboardTypes.h"
#include "platform/pasteboard/X11Pasteboard.h"
#include "platform/workspace/X11Workspace.h"

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
    manager->checkClipboard();
    manager->finishPendingCaptures();
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
        manager->checkClipboard();
    }
    copyWithXclip("after the password");
    ASSERT_TRUE(waitForItems(1));
    ASSERT_EQ(manager->clipboardItems().size(), 1);
    EXPECT_EQ(last().textContent, "after the password");
}

} // namespace
