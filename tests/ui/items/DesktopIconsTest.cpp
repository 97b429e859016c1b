// Icons named by path or through the icon theme in desktop entries other programs install: the
// popup's rows and the application chooser paint at once, whatever the entry names, and show a
// picture once it is read.
#include "platform/files/IconFiles.h"
#include "platform/workspace/DesktopEntries.h"
#include "ui/preview/FileThumbnailView.h"
#include "ui/popup/ContentViewState.h"
#include "ui/popup/HistoryListModel.h"
#include "ui/popup/HistoryListView.h"
#include "ui/settings/ApplicationChooser.h"

#include "EngineFixture.h"
#include "FifoWatchdog.h"
#include "LargestAllocation.h"
#include "platform/image/AmplifyingImages.h"
#include "platform/image/ImageFixtures.h"
#include "Screenshots.h"
#include "TestIconTheme.h"

#include <QImage>
#include <QListView>
#include <QSignalSpy>
#include <QTest>
#include <QTemporaryDir>

namespace lumra {
namespace {

// The desktop as the app sees it: applications resolved through the installed desktop entries.
class EntriesWorkspace final : public Workspace {
public:
    std::optional<AppIdentity> frontmostApplication() override { return std::nullopt; }
    std::optional<AppIdentity> applicationForWindow(quint64) override { return std::nullopt; }
    Status activate(const AppIdentity&) override { return {}; }
    QIcon icon(const QString& bundleId) override { return entries.icon(bundleId); }
    DesktopEntries entries;
};

bool hasColour(const QImage& image, QRgb colour)
{
    const QImage rgb = image.convertToFormat(QImage::Format_RGB32);
    for (int y = 0; y < rgb.height(); ++y) {
        const auto* line = reinterpret_cast<const QRgb*>(rgb.constScanLine(y));
        for (int x = 0; x < rgb.width(); ++x) {
            if ((line[x] & 0xffffff) == (colour & 0xffffff))
                return true;
        }
    }
    return false;
}

class DesktopIconsTest : public test::EngineTest {
protected:
    static constexpr QRgb iconColour = qRgb(255, 0, 255);

    void SetUp() override
    {
        m_savedDirs = qgetenv("XDG_DATA_DIRS");
        ASSERT_TRUE(QDir(m_system.path()).mkpath("applications"));
        qputenv("XDG_DATA_DIRS", QFile::encodeName(m_system.path()));
        ASSERT_TRUE(fifo.made());
        QImage picture(32, 32, QImage::Format_RGB32);
        picture.fill(iconColour);
        ASSERT_TRUE(picture.save(m_system.filePath("picture.png")));
        entry("org.example.Fifo", "Fifo Tool", m_system.filePath("icon.png"));
        entry("org.example.Picture", "Picture Tool", m_system.filePath("picture.png"));
    }
    void TearDown() override { qputenv("XDG_DATA_DIRS", m_savedDirs); }

    void entry(const QString& id, const QString& name, const QString& icon)
    {
        QFile file(m_system.filePath("applications/" + id + ".desktop"));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(("[Desktop Entry]\nType=Application\nName=" + name + "\nExec=true\nIcon=" + icon + "\n").toUtf8());
    }

    // Waits until the icon files the views asked for have been read: the bound is for a hang, since a loaded
    // machine takes seconds to start the decoder program.
    static void waitForIcons(const QStringList& paths)
    {
        for (const QString& path : paths)
            ASSERT_TRUE(QTest::qWaitFor([&] { return IconFiles::instance().icon(path).has_value(); }, 20000)) << path.toStdString();
        QCoreApplication::processEvents();
    }

    ClipboardItem copiedFrom(const QString& app)
    {
        ClipboardItem item = test::textItem(QStringLiteral("copied from ") + app, clock.now());
        item.sourceAppBundleId = app;
        return item;
    }

    // The popup's list over the items.
    struct Rows {
        Rows(DesktopIconsTest& fixture, const QList<ClipboardItem>& items)
            : manager(fixture.start([&](ClipboardManagerServices& services) { services.workspace = &desktop; }))
        {
            manager->setShowFileThumbnails(false);
            manager->setClipboardItems(items);
            list = std::make_unique<HistoryListView>(*manager, state);
            list->resize(360, 300);
            list->historyModel()->resetWindow();
            list->show();
        }
        EntriesWorkspace desktop;
        std::unique_ptr<ClipboardManager> manager;
        ContentViewState state;
        std::unique_ptr<HistoryListView> list;
    };

    QTemporaryDir m_system;
    QByteArray m_savedDirs;
    test::FifoWatchdog fifo {m_system.filePath("icon.png")};
};

TEST_F(DesktopIconsTest, RowsOfAnApplicationWhoseIconIsAFifoPaintAndPicturesFollow)
{
    Rows rows(*this, {copiedFrom("org.example.Fifo"), copiedFrom("org.example.Picture")});
    HistoryListView& list = *rows.list;
    ASSERT_GE(list.historyModel()->rowCount(), 2);
    const QImage first = list.grab().toImage();
    EXPECT_FALSE(fifo.tripped()) << "painting a row opened the FIFO";
    EXPECT_FALSE(hasColour(first, iconColour)) << "the picture is read off the painting thread";

    waitForIcons({m_system.filePath("icon.png"), m_system.filePath("picture.png")});
    EXPECT_TRUE(hasColour(list.grab().toImage(), iconColour)) << "the row shows the picture once read";
    test::saveArtifact(list, QStringLiteral("rows-desktop-entry-icons"));
    EXPECT_TRUE(IconFiles::instance().icon(m_system.filePath("icon.png"))->isNull());
    EXPECT_FALSE(fifo.tripped());
}

TEST_F(DesktopIconsTest, TheChooserListsAnApplicationWhoseIconIsAFifo)
{
    DesktopEntryIndex index;
    index.load(DesktopEntryIndex::applicationFolders());
    ApplicationChooser chooser(choosableApplications(index.entries()));
    chooser.show();
    chooser.grab();
    EXPECT_FALSE(fifo.tripped()) << "the chooser opened the FIFO";
    EXPECT_EQ(chooser.visibleNames(), (QStringList {"Fifo Tool", "Picture Tool"}));

    waitForIcons({m_system.filePath("icon.png"), m_system.filePath("picture.png")});
    auto* list = chooser.findChild<QListView*>();
    ASSERT_TRUE(list);
    const QIcon picture = list->model()->index(1, 0).data(Qt::DecorationRole).value<QIcon>();
    EXPECT_TRUE(hasColour(picture.pixmap(16, 16).toImage(), iconColour)) << "the row's icon follows the read";
    EXPECT_FALSE(list->model()->index(0, 0).data(Qt::DecorationRole).value<QIcon>().isNull()) << "the generic icon stays";
    test::saveArtifact(chooser, QStringLiteral("chooser-desktop-entry-icons"));
    EXPECT_FALSE(fifo.tripped());
}

} // namespace
} // namespace lumra

namespace lumra {
namespace {

TEST_F(DesktopIconsTest, RowsOfAnApplicationWhoseThemeIconIsAFifoPaintAndThemePicturesFollow)
{
    test::TestIconTheme theme;
    const test::FifoWatchdog& themeFifo = theme.fifo("lumra-test-fifo");
    theme.picture("lumra-test-picture", iconColour);
    entry("org.example.ThemeFifo", "Theme Fifo Tool", "lumra-test-fifo");
    entry("org.example.ThemePicture", "Theme Picture Tool", "lumra-test-picture");
    Rows rows(*this, {copiedFrom("org.example.ThemeFifo"), copiedFrom("org.example.ThemePicture")});
    HistoryListView& list = *rows.list;
    ASSERT_GE(list.historyModel()->rowCount(), 2);
    list.grab();
    ASSERT_TRUE(QTest::qWaitFor([&] { return IconFiles::instance().themeIcon("lumra-test-fifo").has_value()
                                             && IconFiles::instance().themeIcon("lumra-test-picture").has_value(); },
                                5000));
    QCoreApplication::processEvents();
    const QImage shown = list.grab().toImage();
    EXPECT_TRUE(hasColour(shown, iconColour)) << "the theme's picture shows once its files were checked";
    test::saveArtifact(list, QStringLiteral("rows-theme-icons"));
    EXPECT_TRUE(IconFiles::instance().themeIcon("lumra-test-fifo")->isNull());
    EXPECT_FALSE(themeFifo.tripped()) << "painting a row opened the FIFO";

    // The chooser of the Privacy page lists the same applications.
    DesktopEntryIndex index;
    index.load(DesktopEntryIndex::applicationFolders());
    ApplicationChooser chooser(choosableApplications(index.entries()));
    chooser.show();
    chooser.grab();
    EXPECT_TRUE(chooser.visibleNames().contains("Theme Fifo Tool"));
    EXPECT_FALSE(themeFifo.tripped()) << "the chooser opened the FIFO";
}

// A copied file's type names its icon through the MIME database, which other programs add to.
TEST_F(DesktopIconsTest, FileRowsAndPreviewsWhoseTypeIconIsAFifoInTheThemePaint)
{
    // The desktop's MIME database names the types.
    qputenv("XDG_DATA_DIRS", QFile::encodeName(m_system.path()) + ':'
                                 + (m_savedDirs.isEmpty() ? QByteArray("/usr/local/share:/usr/share") : m_savedDirs));
    test::TestIconTheme theme;
    const test::FifoWatchdog& themeFifo = theme.fifo("text-plain");
    theme.picture("image-png", iconColour);
    const QString notes = m_system.filePath("notes.txt");
    const QString drawing = m_system.filePath("drawing.png");
    for (const QString& path : {notes, drawing}) {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("not a picture");
    }
    QList<ClipboardItem> items;
    for (const QString& path : {notes, drawing}) {
        ClipboardItem item = copiedFrom("org.example.Files");
        item.contentType = ClipboardContentType::file;
        item.textContent.reset();
        item.fileURLStrings = QStringList {QUrl::fromLocalFile(path).toString()};
        items << item;
    }
    Rows rows(*this, items);
    HistoryListView& list = *rows.list;
    list.grab();
    ASSERT_TRUE(QTest::qWaitFor([&] {
        list.grab();
        return IconFiles::instance().themeIcon("text-plain") && IconFiles::instance().themeIcon("image-png");
    }, 5000));
    // The rows follow the files' looks and the checked icons as they arrive.
    EXPECT_TRUE(QTest::qWaitFor([&] { return hasColour(list.grab().toImage(), iconColour); }, 5000))
        << "the type's picture shows once its files were checked";
    test::saveArtifact(list, QStringLiteral("rows-theme-type-icons"));
    EXPECT_FALSE(themeFifo.tripped()) << "painting a file row opened the FIFO";

    // The preview's icons of the same files.
    fileIcon(notes, false).pixmap(48);
    EXPECT_TRUE(hasColour(fileIcon(drawing, false).pixmap(48).toImage(), iconColour));
    EXPECT_FALSE(themeFifo.tripped()) << "the preview's icon opened the FIFO";
}

} // namespace
} // namespace lumra

namespace lumra {
namespace {

TEST_F(DesktopIconsTest, AThemePictureAnInstalledProgramLeftIsDecodedOutsideLumra)
{
    // Text chunks that inflate to 158 MB in a 200 KB icon: Qt's theme loader would gather them all
    // in Lumra's process when the row is painted.
    test::TestIconTheme theme;
    QImage magenta(48, 48, QImage::Format_RGB32);
    magenta.fill(iconColour);
    QByteArray chunks;
    for (int i = 0; i < 20; ++i)
        chunks += test::zTxtChunk(7900000);
    theme.pictureFile("lumra-test-amplifying", test::withChunksAfterHeader(test::encode(magenta, "png"), chunks));
    std::optional<QIcon> icon;
    const auto largest = test::largestAllocationDuring([&] {
        ASSERT_TRUE(QTest::qWaitFor([&] { return (icon = IconFiles::instance().themeIcon("lumra-test-amplifying")).has_value(); }, 20000));
        ASSERT_FALSE(icon->isNull());
        EXPECT_TRUE(hasColour(icon->pixmap(48, 48).toImage(), iconColour));
    });
    if (largest)
        EXPECT_LT(*largest, size_t(16) * 1024 * 1024);
}

} // namespace
} // namespace lumra
