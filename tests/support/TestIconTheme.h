#pragma once

#include "FifoWatchdog.h"

#include "platform/symbols/Symbols.h"

#include <QColor>
#include <QDir>
#include <QFile>
#include <QIcon>
#include <QImage>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <list>

namespace lumra::test {

// An icon theme of the test's own ("lumra-test", inheriting a hicolor of its own), searched before
// the desktop's for as long as it lives; other programs' files are planted in its folder.
class TestIconTheme {
public:
    TestIconTheme()
    {
        Symbols::icon(QStringLiteral("doc")); // Lumra's own set-up of the theme happens before it is changed here
        m_savedTheme = QIcon::themeName();
        m_savedPaths = QIcon::themeSearchPaths();
        write("lumra-test/index.theme", "[Icon Theme]\nName=Test\nInherits=hicolor\nDirectories=\n");
        write("hicolor/index.theme",
              "[Icon Theme]\nName=Hicolor\nDirectories=48x48/apps\n\n[48x48/apps]\nSize=48\nType=Threshold\n");
        QIcon::setThemeSearchPaths(QStringList {m_folder.path()} + m_savedPaths);
        QIcon::setThemeName(QStringLiteral("lumra-test"));
    }
    ~TestIconTheme()
    {
        QIcon::setThemeName(m_savedTheme);
        QIcon::setThemeSearchPaths(m_savedPaths);
    }
    TestIconTheme(const TestIconTheme&) = delete;
    TestIconTheme& operator=(const TestIconTheme&) = delete;

    // A picture of one colour the theme has for `name`.
    void picture(const QString& name, QColor colour)
    {
        QImage image(48, 48, QImage::Format_RGB32);
        image.fill(colour);
        ASSERT_TRUE(image.save(path(name)));
    }
    // The file the theme has for `name`, as it is.
    void pictureFile(const QString& name, const QByteArray& bytes)
    {
        QFile out(path(name));
        ASSERT_TRUE(out.open(QIODevice::WriteOnly));
        out.write(bytes);
    }
    // A FIFO where the theme would find the picture for `name`.
    const FifoWatchdog& fifo(const QString& name)
    {
        const FifoWatchdog& planted = m_fifos.emplace_back(path(name));
        EXPECT_TRUE(planted.made());
        return planted;
    }

private:
    QString path(const QString& name) const { return m_folder.filePath(QStringLiteral("hicolor/48x48/apps/") + name + ".png"); }
    void write(const QString& file, const QByteArray& text)
    {
        QDir().mkpath(QFileInfo(m_folder.filePath(file)).path());
        QDir().mkpath(m_folder.filePath(QStringLiteral("hicolor/48x48/apps")));
        QFile out(m_folder.filePath(file));
        ASSERT_TRUE(out.open(QIODevice::WriteOnly));
        out.write(text);
    }

    QTemporaryDir m_folder;
    QString m_savedTheme;
    QStringList m_savedPaths;
    std::list<FifoWatchdog> m_fifos;
};

} // namespace lumra::test
