#include "platform/files/IconFiles.h"

#include "FifoWatchdog.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QPixmap>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <future>
#include <memory>

using namespace lumra;

namespace {

// Two icon folders as a desktop has them: the user's, where any program may write, and the
// system's; theme "Mine" inherits "Base", every theme falls back to hicolor, then to "pixmaps".
class ThemeIconFilesTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        theme(m_system.filePath("icons/Mine"), "Mine", "Base", {"48x48/apps", "scalable/apps"});
        theme(m_system.filePath("icons/Base"), "Base", "", {"32x32/mimetypes"});
        theme(m_system.filePath("icons/hicolor"), "Hicolor", "", {"48x48/apps", "16x16/mimetypes"});
        ASSERT_TRUE(QDir().mkpath(m_user.filePath("icons/hicolor/48x48/apps")));
        ASSERT_TRUE(QDir().mkpath(m_system.filePath("pixmaps")));
        file(m_system.filePath("icons/Mine/48x48/apps/editor.png"));
        file(m_system.filePath("icons/hicolor/16x16/mimetypes/text-x-generic.svg"));
        search = {QStringLiteral("Mine"), QStringLiteral("Base"), {m_user.filePath("icons"), m_system.filePath("icons")},
                  {m_system.filePath("pixmaps")}};
    }

    static void file(const QString& path)
    {
        QFile out(path);
        ASSERT_TRUE(out.open(QIODevice::WriteOnly)) << path.toStdString();
        out.write("picture");
    }
    static void theme(const QString& folder, const char* name, const char* inherits, const QStringList& folders)
    {
        for (const QString& sub : folders)
            ASSERT_TRUE(QDir().mkpath(folder + '/' + sub));
        QByteArray index = QByteArray("[Icon Theme]\nName=") + name + "\nInherits=" + inherits
            + "\nDirectories=" + folders.join(',').toUtf8() + "\n";
        for (const QString& sub : folders)
            index += "\n[" + sub.toUtf8() + "]\nSize=48\nType=Fixed\n";
        QFile out(folder + "/index.theme");
        ASSERT_TRUE(out.open(QIODevice::WriteOnly));
        out.write(index);
    }
    // A FIFO planted at `path` for the length of the test; a check that opened it would trip it.
    void plant(const QString& path)
    {
        m_fifos.push_back(std::make_unique<test::FifoWatchdog>(path, std::chrono::milliseconds(500)));
        ASSERT_TRUE(m_fifos.back()->made()) << path.toStdString();
    }
    void TearDown() override
    {
        for (const auto& fifo : m_fifos)
            EXPECT_FALSE(fifo->tripped()) << "the check opened a FIFO";
    }

    QTemporaryDir m_user;
    QTemporaryDir m_system;
    IconThemeSearch search;
    std::vector<std::unique_ptr<test::FifoWatchdog>> m_fifos;
};

TEST_F(ThemeIconFilesTest, RegularAndMissingFilesPass)
{
    EXPECT_TRUE(themeIconFilesAreRegular("editor", search));
    EXPECT_TRUE(themeIconFilesAreRegular("text-x-generic", search));
    EXPECT_TRUE(themeIconFilesAreRegular("not-installed", search));
    EXPECT_FALSE(themeIconFilesAreRegular("", search));
    EXPECT_FALSE(themeIconFilesAreRegular("../../editor", search)) << "a name is no path";
}

// Wherever the theme could find a picture for the name, a FIFO there refuses it, and only it.
TEST_F(ThemeIconFilesTest, AFifoWhereTheThemeLooksRefusesThatName)
{
    struct Case {
        const char* planted; // relative to the user's or the system's folder
        bool user;
        const char* refused;
    };
    const Case cases[] = {
        {"icons/hicolor/48x48/apps/tool.png", true, "tool"}, // the user's folder of an inherited theme
        {"icons/Mine/scalable/apps/drawing.svg", false, "drawing"},
        {"icons/Base/32x32/mimetypes/text-x-script.png", false, "text-x-script"}, // inherited
        {"icons/hicolor/16x16/mimetypes/text-x.png", false, "text-x-python"}, // a shorter form of the name
        {"pixmaps/legacy.xpm", false, "legacy"}, // the fallback folders
        {"icons/Mine/48x48/apps/edit-symbolic.svg", false, "edit-paste-symbolic"}, // a symbolic name's shorter form
    };
    for (const Case& c : cases)
        plant((c.user ? m_user : m_system).filePath(c.planted));
    for (const Case& c : cases)
        EXPECT_FALSE(themeIconFilesAreRegular(c.refused, search)) << c.planted;
    EXPECT_TRUE(themeIconFilesAreRegular("editor", search));
    EXPECT_TRUE(themeIconFilesAreRegular("text-y", search));
}

TEST_F(ThemeIconFilesTest, AFifoForAThemesIndexOrCacheRefusesEveryName)
{
    plant(m_user.filePath("icons/hicolor/icon-theme.cache"));
    EXPECT_FALSE(themeIconFilesAreRegular("editor", search));

    QTemporaryDir own;
    ASSERT_TRUE(QDir().mkpath(own.filePath("Other")));
    plant(own.filePath("Other/index.theme"));
    const IconThemeSearch other {QStringLiteral("Other"), {}, {own.path()}, {}};
    EXPECT_FALSE(themeIconFilesAreRegular("editor", other));
}

// A link in a theme folder counts as what it points at: to a picture, a picture; to a FIFO, the FIFO,
// whether named like a picture, the theme's index or its cache.
TEST_F(ThemeIconFilesTest, ALinkCountsAsWhatItPointsAt)
{
    ASSERT_TRUE(QFile::link(m_system.filePath("icons/Mine/48x48/apps/editor.png"),
                            m_system.filePath("icons/Mine/scalable/apps/shortcut.svg")));
    EXPECT_TRUE(themeIconFilesAreRegular("shortcut", search));
    EXPECT_EQ(withoutBlockingFolders(search).themePaths, search.themePaths);

    const QString fifo = m_user.filePath("pipe");
    plant(fifo);
    ASSERT_TRUE(QFile::link(fifo, m_system.filePath("icons/Base/32x32/mimetypes/text-x-script.png")));
    EXPECT_FALSE(themeIconFilesAreRegular("text-x-script", search));
    EXPECT_TRUE(themeIconFilesAreRegular("editor", search));
    EXPECT_EQ(withoutBlockingFolders(search).themePaths, QStringList {m_user.filePath("icons")});

    ASSERT_TRUE(QFile::link(fifo, m_user.filePath("icons/hicolor/icon-theme.cache")));
    EXPECT_FALSE(themeIconFilesAreRegular("editor", search));
    EXPECT_TRUE(withoutBlockingFolders(search).themePaths.isEmpty());

    QTemporaryDir own;
    ASSERT_TRUE(QDir().mkpath(own.filePath("Other")));
    ASSERT_TRUE(QFile::link(fifo, own.filePath("Other/index.theme")));
    EXPECT_FALSE(themeIconFilesAreRegular("editor", {QStringLiteral("Other"), {}, {own.path()}, {}}));
}

// Qt follows a theme's chain to its end: a chain too long to check is not trusted.
TEST_F(ThemeIconFilesTest, AChainTooLongToCheckIsRefused)
{
    QTemporaryDir own;
    for (int i = 0; i < 20; ++i) {
        const QByteArray parent = "T" + QByteArray::number(i + 1);
        theme(own.filePath(QStringLiteral("T%1").arg(i)), "T", parent.constData(), {"apps"});
    }
    plant(own.filePath("T19/apps/editor.png"));
    const IconThemeSearch deep {QStringLiteral("T0"), {}, {own.path(), m_system.filePath("icons")}, {}};
    EXPECT_FALSE(themeIconFilesAreRegular("editor", deep));
    EXPECT_EQ(withoutBlockingFolders(deep).themePaths, QStringList {m_system.filePath("icons")});
}

// Resident memory of this process, in bytes.
qint64 residentBytes()
{
    long pages = 0;
    long resident = 0;
    std::ifstream("/proc/self/statm") >> pages >> resident;
    return qint64(resident) * ::sysconf(_SC_PAGESIZE);
}

// A desktop entry may name an icon of any length: one with many dashes must cost no more than a
// short one. Past a bound on memory or time the test gives up on the runaway check.
TEST_F(ThemeIconFilesTest, AVeryLongDashedNameIsRefusedAtOnce)
{
    QString dashed;
    for (int i = 0; i < 500'000; ++i)
        dashed += QStringLiteral("a-");
    const qint64 before = residentBytes();
    auto check = std::async(std::launch::async, [&] { return themeIconFilesAreRegular(dashed, search); });
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (check.wait_for(std::chrono::milliseconds(20)) != std::future_status::ready) {
        if (residentBytes() - before > 1024ll * 1024 * 1024 || std::chrono::steady_clock::now() > deadline) {
            std::fprintf(stderr, "the check of a long dashed name ran away\n");
            std::_Exit(1); // the check cannot be stopped from here
        }
    }
    EXPECT_FALSE(check.get()) << "no file has a name that long";
    // The longest name a file may have is still checked, down to its shortest form.
    file(m_system.filePath("icons/Mine/48x48/apps/a.png"));
    QString longest = dashed.left(255);
    EXPECT_TRUE(themeIconFilesAreRegular(longest, search));
    plant(m_system.filePath("icons/Mine/48x48/apps/a-a-a.svg"));
    EXPECT_FALSE(themeIconFilesAreRegular(longest, search));
}

// At start, a search folder holding a theme file Qt would open for any name, or a picture that is no
// regular file, is left out as a whole; the others stay, in their order.
TEST_F(ThemeIconFilesTest, AtStartFoldersHoldingAFifoAreLeftOut)
{
    EXPECT_EQ(withoutBlockingFolders(search).themePaths, search.themePaths);
    const struct {
        const char* planted;
        bool user;
    } cases[] = {
        {"icons/hicolor/icon-theme.cache", true},
        {"icons/hicolor/48x48/apps/folder.png", true},
        {"icons/Base/32x32/mimetypes/text-x-generic.png", false},
    };
    for (const auto& c : cases) {
        const QString path = (c.user ? m_user : m_system).filePath(c.planted);
        auto fifo = std::make_unique<test::FifoWatchdog>(path, std::chrono::milliseconds(500));
        ASSERT_TRUE(fifo->made());
        const IconThemeSearch checked = withoutBlockingFolders(search);
        EXPECT_EQ(checked.themePaths, QStringList {(c.user ? m_system : m_user).filePath("icons")}) << c.planted;
        EXPECT_EQ(checked.fallbackPaths, search.fallbackPaths);
        EXPECT_FALSE(fifo->tripped()) << c.planted;
    }
    plant(m_system.filePath("pixmaps/legacy.xpm"));
    EXPECT_TRUE(withoutBlockingFolders(search).fallbackPaths.isEmpty());
}

// Qt itself, asked for any icon once the theme was checked, opens no FIFO: not the user's
// icon-theme.cache, nor a picture planted under a name of Lumra's own.
TEST_F(ThemeIconFilesTest, QtOpensNoFifoOnceTheThemeWasChecked)
{
    const IconThemeSearch saved = IconThemeSearch::current();
    QImage picture(48, 48, QImage::Format_RGB32);
    picture.fill(Qt::darkYellow);
    ASSERT_TRUE(picture.save(m_system.filePath("icons/Mine/48x48/apps/folder.png")));
    plant(m_user.filePath("icons/hicolor/icon-theme.cache"));
    ASSERT_TRUE(QDir().mkpath(m_user.filePath("icons/Mine/48x48/apps")));
    theme(m_user.filePath("icons/Mine"), "Mine", "Base", {"48x48/apps"});
    plant(m_user.filePath("icons/Mine/48x48/apps/folder.png"));
    QIcon::setThemeName(search.themeName);
    QIcon::setFallbackThemeName(search.fallbackThemeName);
    IconFiles::instance().checkTheme(search, std::chrono::seconds(30));
    ASSERT_FALSE(IconFiles::instance().themeHidden());

    EXPECT_TRUE(QIcon::hasThemeIcon("folder"));
    EXPECT_FALSE(QIcon::fromTheme("folder").pixmap(48).isNull()) << "the system's picture is still found";
    EXPECT_FALSE(QIcon::hasThemeIcon("not-installed")) << "every theme of the chain was asked";

    QIcon::setThemeName(saved.themeName);
    QIcon::setFallbackThemeName(saved.fallbackThemeName);
    QIcon::setThemeSearchPaths(saved.themePaths);
    QIcon::setFallbackSearchPaths(saved.fallbackPaths);
}

} // namespace
