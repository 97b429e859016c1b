#include "platform/workspace/DesktopEntries.h"

#include "BytesRead.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTest>
#include <QTemporaryDir>

#include <memory>

using namespace lumra;

namespace {

TEST(DesktopEntryParsing, ReadsTheMainGroupOnly)
{
    const QByteArray contents = "# comment\n"
                                "[Desktop Entry]\n"
                                "Type=Application\n"
                                "Name=Files\\sand\\sFolders\n"
                                "Name[de]=Dateien\n"
                                "StartupWMClass = Org.Gnome.Nautilus \n"
                                "Icon=org.gnome.Nautilus\n"
                                "[Desktop Action new-window]\n"
                                "Name=New Window\n";
    auto entry = parseDesktopEntry(contents, "org.gnome.Nautilus");
    ASSERT_TRUE(entry);
    EXPECT_EQ(entry->name, "Files and Folders");
    EXPECT_EQ(entry->startupWmClass, "Org.Gnome.Nautilus");
    EXPECT_EQ(entry->icon, "org.gnome.Nautilus");
    EXPECT_EQ(parseDesktopEntry(contents, "x", "de_CH")->name, "Dateien");
    EXPECT_EQ(parseDesktopEntry(contents, "x", "fr_FR")->name, "Files and Folders");
}

TEST(DesktopEntryParsing, RejectsWhatIsNotAnApplication)
{
    EXPECT_FALSE(parseDesktopEntry("[Desktop Entry]\nType=Link\nName=x\n", "x"));
    EXPECT_FALSE(parseDesktopEntry("[Other]\nType=Application\nName=x\n", "x"));
    EXPECT_FALSE(parseDesktopEntry("garbage", "x"));
    auto hidden = parseDesktopEntry("[Desktop Entry]\nHidden=true\n", "x");
    ASSERT_TRUE(hidden);
    EXPECT_TRUE(hidden->hidden);
}

class DesktopIndexTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(QDir(root.path()).mkpath("home/applications/kde4"));
        ASSERT_TRUE(QDir(root.path()).mkpath("system/applications"));
        write("home/applications/org.keepassxc.KeePassXC.desktop", "Name=KeePassXC\n");
        write("home/applications/kde4/kate.desktop", "Name=Kate\n");
        write("home/applications/masked.desktop", "Hidden=true\n");
        write("system/applications/masked.desktop", "Name=Masked\n");
        write("system/applications/org.keepassxc.KeePassXC.desktop", "Name=System KeePassXC\n");
        write("system/applications/firefox-esr.desktop", "Name=Firefox ESR\nStartupWMClass=firefox-esr\n");
        write("system/applications/org.gnome.Nautilus.desktop", "Name=Files\nStartupWMClass=org.gnome.Nautilus\n");
        write("system/applications/org.kde.dolphin.desktop", "Name=Dolphin\n");
        write("system/applications/nautilus-like.desktop", "Name=Impostor\nStartupWMClass=Nautilus\n");
        write("system/applications/code.desktop", "Name=Editor\nStartupWMClass=Code\n");
        index.load({root.filePath("home/applications"), root.filePath("system/applications")});
    }

    void write(const QString& relative, const QByteArray& body)
    {
        QFile file(root.filePath(relative));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        const QByteArray type = body.contains("Hidden") ? "" : "Type=Application\n";
        file.write("[Desktop Entry]\n" + type + body);
    }

    QTemporaryDir root;
    DesktopEntryIndex index;
};

TEST_F(DesktopIndexTest, EarlierFoldersWinAndHiddenEntriesMask)
{
    ASSERT_TRUE(index.entry("org.keepassxc.KeePassXC"));
    EXPECT_EQ(index.entry("org.keepassxc.KeePassXC")->name, "KeePassXC");
    EXPECT_FALSE(index.entry("masked"));
    ASSERT_TRUE(index.entry("kde4-kate"));
    EXPECT_EQ(index.entry("kde4-kate")->name, "Kate");
}

struct ResolveCase {
    const char* name;
    WindowProperties window;
    std::optional<QString> bundleId;
    QString appName;
};

class Resolution : public DesktopIndexTest, public ::testing::WithParamInterface<ResolveCase> { };

TEST_P(Resolution, FollowsTheOrderOfEvidence)
{
    const ResolveCase& c = GetParam();
    auto identity = index.identify(c.window, 4242);
    ASSERT_EQ(identity.has_value(), c.bundleId.has_value());
    if (!identity)
        return;
    EXPECT_EQ(identity->bundleId, *c.bundleId);
    EXPECT_EQ(identity->name, c.appName);
    EXPECT_EQ(identity->pid, c.window.pid);
}

WindowProperties props(QString instance, QString wmClass, QString gtk = {}, QString kde = {}, qint64 pid = 7)
{
    return {instance, wmClass, gtk, kde, pid, 1};
}

INSTANTIATE_TEST_SUITE_P(
    Windows, Resolution,
    ::testing::Values(
        ResolveCase {"own_process", props("tests", "Whatever", "org.kde.dolphin", "", 4242), "lumra", "Lumra"},
        ResolveCase {"gtk_id_first", props("code", "Code", "org.gnome.Nautilus"), "org.gnome.Nautilus", "Files"},
        ResolveCase {"gtk_id_not_installed", props("code", "Code", "org.example.Gone"), "code", "Editor"},
        ResolveCase {"kde_file_with_suffix", props("x", "y", "", "org.kde.dolphin.desktop"), "org.kde.dolphin",
                     "Dolphin"},
        ResolveCase {"kde_file_path", props("x", "y", "", "/usr/share/applications/org.kde.dolphin.desktop"),
                     "org.kde.dolphin", "Dolphin"},
        ResolveCase {"startup_class_exact", props("Navigator", "firefox-esr"), "firefox-esr", "Firefox ESR"},
        ResolveCase {"startup_class_beats_id", props("nautilus", "Nautilus"), "nautilus-like", "Impostor"},
        ResolveCase {"startup_class_any_case", props("code", "CODE"), "code", "Editor"},
        ResolveCase {"id_any_case", props("Org.Kde.Dolphin", "Org.Kde.Dolphin"), "org.kde.dolphin", "Dolphin"},
        ResolveCase {"last_dotted_part", props("keepassxc", "KeePassXC"), "org.keepassxc.KeePassXC", "KeePassXC"},
        ResolveCase {"subfolder_id", props("kde4-kate", "Kde4-kate"), "kde4-kate", "Kate"},
        ResolveCase {"unknown_class", props("xterm", "XTerm"), "XTerm", "XTerm"},
        ResolveCase {"instance_only", props("xterm", ""), "xterm", "xterm"},
        ResolveCase {"nothing_known", props("", ""), std::nullopt, ""}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(DesktopEntriesWatch, PicksUpANewlyInstalledApplication)
{
    QTemporaryDir root;
    ASSERT_TRUE(QDir(root.path()).mkpath("home/applications"));
    const QByteArray savedHome = qgetenv("XDG_DATA_HOME");
    const QByteArray savedDirs = qgetenv("XDG_DATA_DIRS");
    qputenv("XDG_DATA_HOME", QFile::encodeName(root.filePath("home")));
    qputenv("XDG_DATA_DIRS", QFile::encodeName(root.filePath("none")));

    DesktopEntries entries;
    EXPECT_EQ(entries.index().size(), 0);
    QSignalSpy changed(&entries, &DesktopEntries::changed);
    QFile file(root.filePath("home/applications/org.example.New.desktop"));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("[Desktop Entry]\nType=Application\nName=New\n");
    file.close();
    EXPECT_TRUE(changed.wait(5000));
    ASSERT_TRUE(entries.index().entry("org.example.New"));

    qputenv("XDG_DATA_HOME", savedHome);
    qputenv("XDG_DATA_DIRS", savedDirs);
}

// Entries as large as a program may leave: every key translated into thousands of languages.
QByteArray largeEntry(const QString& name, qsizetype bytes)
{
    QByteArray body = "[Desktop Entry]\nType=Application\nName=" + name.toUtf8() + "\nExec=tool\n";
    for (int i = 0; body.size() < bytes; ++i)
        body += "Comment[x" + QByteArray::number(i) + "]=" + QByteArray(200, 'c') + '\n';
    return body;
}

class DesktopEntriesLoad : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(QDir(root.path()).mkpath("home/applications"));
        savedHome = qgetenv("XDG_DATA_HOME");
        savedDirs = qgetenv("XDG_DATA_DIRS");
        qputenv("XDG_DATA_HOME", QFile::encodeName(root.filePath("home")));
        qputenv("XDG_DATA_DIRS", QFile::encodeName(root.filePath("none")));
    }
    void TearDown() override
    {
        qputenv("XDG_DATA_HOME", savedHome);
        qputenv("XDG_DATA_DIRS", savedDirs);
    }
    void write(const QString& id, const QByteArray& body)
    {
        QFile file(root.filePath("home/applications/" + id + ".desktop"));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(body);
    }

    QTemporaryDir root;
    QByteArray savedHome, savedDirs;
};

TEST_F(DesktopEntriesLoad, LargeEntriesAreReadOffTheMainThread)
{
    for (int i = 0; i < 100; ++i)
        write(QStringLiteral("org.example.App%1").arg(i), largeEntry(QStringLiteral("App %1").arg(i), 200 * 1024));
    // 20 MB of entries: the main thread reads none of it, whatever the machine's speed.
    constexpr qint64 readHere = 1024 * 1024;
    std::unique_ptr<DesktopEntries> made;
    qint64 read = test::bytesReadDuring([&] {
        made = std::make_unique<DesktopEntries>();
        (void)made->index(); // the first copy asks at once
    }, true);
    DesktopEntries& entries = *made;
    QSignalSpy changed(&entries, &DesktopEntries::changed);
    EXPECT_LT(read, readHere) << "the main thread read the entries; the worker reads";
    ASSERT_TRUE(QTest::qWaitFor([&] { return entries.index().size() == 100; }, 20000));
    EXPECT_EQ(entries.index().entry("org.example.App7")->name, "App 7");

    // After a change the old entries answer until the new ones are read.
    write("org.example.New", "[Desktop Entry]\nType=Application\nName=New\n");
    read = test::bytesReadDuring([&] { EXPECT_TRUE(changed.wait(20000)); }, true);
    EXPECT_LT(read, readHere) << "the main thread read the entries again";
    EXPECT_TRUE(entries.index().entry("org.example.New"));
}

TEST_F(DesktopEntriesLoad, ALoadStopsAtItsBounds)
{
    write("huge", largeEntry(QStringLiteral("Huge"), 600 * 1024));
    for (int i = 0; i < 20; ++i)
        write(QStringLiteral("small%1").arg(i, 2, 10, QLatin1Char('0')), largeEntry(QStringLiteral("Small"), 1000));
    DesktopEntryIndex index;
    index.load(DesktopEntryIndex::applicationFolders());
    EXPECT_FALSE(index.entry("huge")) << "an entry far larger than any real one is skipped unread";
    EXPECT_EQ(index.size(), 20);

    index.load(DesktopEntryIndex::applicationFolders(), {}, {.entryBytes = 4096, .files = 8, .totalBytes = 1 << 20});
    EXPECT_GE(index.size(), 7);
    EXPECT_LE(index.size(), 8) << "no more files are read than the count";
    index.load(DesktopEntryIndex::applicationFolders(), {}, {.entryBytes = 4096, .files = 100, .totalBytes = 5 * 1000});
    EXPECT_GT(index.size(), 0);
    EXPECT_LE(index.size(), 5) << "no more bytes are read than the total";
}

} // namespace
