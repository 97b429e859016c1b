#pragma once

#include <gtest/gtest.h>

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include <map>

namespace lumra::test {

// Points every XDG folder at a fresh temporary directory for the life of the object, so a
// test never sees the user's settings, history or log, and restores the environment after.
class TempDataDir {
public:
    TempDataDir()
    {
        for (const char* var : {"XDG_DATA_HOME", "XDG_CONFIG_HOME", "XDG_CACHE_HOME", "XDG_RUNTIME_DIR"}) {
            m_saved[var] = qgetenv(var);
            m_wasSet[var] = qEnvironmentVariableIsSet(var);
        }
        const QString root = m_dir.path();
        QDir(root).mkpath(QStringLiteral("data"));
        QDir(root).mkpath(QStringLiteral("config"));
        QDir(root).mkpath(QStringLiteral("cache"));
        QDir(root).mkpath(QStringLiteral("runtime"));
        QFile::setPermissions(root + QStringLiteral("/runtime"), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        qputenv("XDG_DATA_HOME", QFile::encodeName(root + QStringLiteral("/data")));
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(root + QStringLiteral("/config")));
        qputenv("XDG_CACHE_HOME", QFile::encodeName(root + QStringLiteral("/cache")));
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(root + QStringLiteral("/runtime")));
    }
    ~TempDataDir()
    {
        for (const auto& [var, value] : m_saved) {
            if (m_wasSet[var])
                qputenv(var.c_str(), value);
            else
                qunsetenv(var.c_str());
        }
    }
    TempDataDir(const TempDataDir&) = delete;
    TempDataDir& operator=(const TempDataDir&) = delete;

    QString root() const { return m_dir.path(); }
    QString dataHome() const { return root() + QStringLiteral("/data"); }
    QString configHome() const { return root() + QStringLiteral("/config"); }
    QString cacheHome() const { return root() + QStringLiteral("/cache"); }
    QString runtimeDir() const { return root() + QStringLiteral("/runtime"); }
    QString supportFolder() const { return dataHome() + QStringLiteral("/Lumra"); }
    QString settingsFile() const { return configHome() + QStringLiteral("/Lumra/settings.json"); }

    // Marks the first-run walkthrough as done in the settings file, keeping what it holds, so a
    // Lumra started here opens no walkthrough window over the test's own windows.
    void skipOnboarding() const { markOnboardingDone(settingsFile()); }
    static void markOnboardingDone(const QString& settingsFile)
    {
        QFile file(settingsFile);
        QJsonObject settings;
        if (file.open(QIODevice::ReadOnly))
            settings = QJsonDocument::fromJson(file.readAll()).object();
        file.close();
        settings.insert(QStringLiteral("hasCompletedOnboarding"), true);
        QDir().mkpath(QFileInfo(settingsFile).absolutePath());
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(QJsonDocument(settings).toJson());
    }

private:
    QTemporaryDir m_dir;
    std::map<std::string, QByteArray> m_saved;
    std::map<std::string, bool> m_wasSet;
};

// A fixture for tests that touch Lumra's folders.
class DataDirTest : public ::testing::Test {
protected:
    TempDataDir dataDir;
};

} // namespace lumra::test
