#include "platform/login/LoginItem.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

namespace lumra {
namespace {

TEST(LoginItemTest, TheEntryStartsTheRunningBinaryWithItsPathQuotedAsDesktopEntriesAsk)
{
    struct Case { QString path; QString exec; };
    const Case cases[] = {
        {"/usr/bin/lumra", "/usr/bin/lumra"},
        {"/home/me/My Apps/lumra", "\"/home/me/My Apps/lumra\""},
        {"/opt/a$b/lumra", "\"/opt/a\\\\$b/lumra\""},
        {"/opt/100%/lumra", "/opt/100%%/lumra"},
        {"/opt/back\\slash/lumra", "\"/opt/back\\\\\\\\slash/lumra\""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(AutostartLoginItem::execArgument(c.path), c.exec) << c.path.toStdString();

    EXPECT_EQ(AutostartLoginItem::entryText("/usr/bin/lumra"),
              QStringLiteral("[Desktop Entry]\nType=Application\nName=Lumra\nComment=Clipboard history\n"
                             "Exec=/usr/bin/lumra\nTerminal=false\nX-GNOME-Autostart-enabled=true\n"));
    // A relative path or one with a line break cannot name the binary in an entry.
    EXPECT_EQ(AutostartLoginItem::entryText("lumra"), std::nullopt);
    EXPECT_EQ(AutostartLoginItem::entryText("/tmp/a\nExec=rm"), std::nullopt);
}

TEST(LoginItemTest, OnWritesTheEntryAndOffRemovesOnlyThatFile)
{
    QTemporaryDir dir;
    const QString autostart = dir.path() + QStringLiteral("/autostart");
    const QString entry = autostart + QStringLiteral("/lumra.desktop");
    AutostartLoginItem item(entry, QStringLiteral("/usr/bin/lumra"));
    EXPECT_FALSE(item.isEnabled());

    ASSERT_TRUE(item.setEnabled(true).ok());
    EXPECT_TRUE(item.isEnabled());
    QFile written(entry);
    ASSERT_TRUE(written.open(QIODevice::ReadOnly));
    EXPECT_EQ(QString::fromUtf8(written.readAll()), *AutostartLoginItem::entryText("/usr/bin/lumra"));
    written.close();
    EXPECT_EQ(QDir(autostart).entryList(QDir::Files), QStringList {"lumra.desktop"}) << "no temporary file is left";

    QFile other(autostart + QStringLiteral("/other.desktop"));
    ASSERT_TRUE(other.open(QIODevice::WriteOnly));
    other.close();
    ASSERT_TRUE(item.setEnabled(false).ok());
    EXPECT_FALSE(item.isEnabled());
    EXPECT_EQ(QDir(autostart).entryList(QDir::Files), QStringList {"other.desktop"});
    EXPECT_TRUE(item.setEnabled(false).ok()) << "already off";

    // A link in our place is removed itself; what it points at stays.
    const QString target = dir.path() + QStringLiteral("/elsewhere.desktop");
    QFile::copy(autostart + QStringLiteral("/other.desktop"), target);
    ASSERT_TRUE(QFile::link(target, entry));
    ASSERT_TRUE(item.setEnabled(false).ok());
    EXPECT_FALSE(QFileInfo(entry).isSymLink());
    EXPECT_TRUE(QFile::exists(target));
}

TEST(LoginItemTest, AnEntrySwitchedOffByTheDesktopCountsAsOff)
{
    QTemporaryDir dir;
    const QString entry = dir.path() + QStringLiteral("/lumra.desktop");
    for (const char* text : {"[Desktop Entry]\nExec=lumra\nHidden=true\n",
                             "[Desktop Entry]\nExec=lumra\nX-GNOME-Autostart-enabled=false\n",
                             "[Desktop Entry]\nName=Lumra\n"}) {
        QFile file(entry);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(text);
        file.close();
        EXPECT_FALSE(AutostartLoginItem(entry, "/usr/bin/lumra").isEnabled()) << text;
    }
}

} // namespace
} // namespace lumra
