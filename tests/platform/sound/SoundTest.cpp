#include "platform/sound/QtSoundPlayer.h"
#include "platform/sound/SoundSynth.h"

#include "TempDataDir.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QFile>
#include <QSet>
#include <QtEndian>

using namespace lumra;
using namespace lumra::sound;

namespace {

struct WavInfo {
    quint16 format = 0, channels = 0, bits = 0;
    quint32 rate = 0, dataBytes = 0;
    std::vector<qint16> samples;
};

// Parses the canonical 44-byte header; fails the test when the file is not well formed.
WavInfo parseWav(const QByteArray& wav)
{
    WavInfo info;
    EXPECT_GE(wav.size(), 44);
    if (wav.size() < 44)
        return info;
    const char* d = wav.constData();
    EXPECT_EQ(wav.left(4), "RIFF");
    EXPECT_EQ(qFromLittleEndian<quint32>(d + 4), quint32(wav.size() - 8));
    EXPECT_EQ(wav.mid(8, 8), "WAVEfmt ");
    EXPECT_EQ(qFromLittleEndian<quint32>(d + 16), 16u);
    info.format = qFromLittleEndian<quint16>(d + 20);
    info.channels = qFromLittleEndian<quint16>(d + 22);
    info.rate = qFromLittleEndian<quint32>(d + 24);
    EXPECT_EQ(qFromLittleEndian<quint32>(d + 28), info.rate * info.channels * 2);
    EXPECT_EQ(qFromLittleEndian<quint16>(d + 32), info.channels * 2);
    info.bits = qFromLittleEndian<quint16>(d + 34);
    EXPECT_EQ(wav.mid(36, 4), "data");
    info.dataBytes = qFromLittleEndian<quint32>(d + 40);
    EXPECT_EQ(info.dataBytes, quint32(wav.size() - 44));
    for (qsizetype i = 44; i + 1 < wav.size(); i += 2)
        info.samples.push_back(qFromLittleEndian<qint16>(d + i));
    return info;
}

} // namespace

TEST(SoundSynth, EveryStoredNameGivesAWellFormedAudibleWav)
{
    QSet<QByteArray> digests;
    for (const QString& name : storedSoundNames()) {
        SCOPED_TRACE(name.toStdString());
        const QByteArray wav = synthesizeSound(name);
        const WavInfo info = parseWav(wav);
        EXPECT_EQ(info.format, 1);
        EXPECT_EQ(info.channels, 1);
        EXPECT_EQ(info.rate, 44100u);
        EXPECT_EQ(info.bits, 16);
        const double seconds = double(info.samples.size()) / info.rate;
        EXPECT_GT(seconds, 0.05);
        EXPECT_LT(seconds, 1.5);

        int peak = 0;
        for (qint16 s : info.samples)
            peak = std::max(peak, std::abs(int(s)));
        EXPECT_GT(peak, 10000); // audible
        EXPECT_LT(peak, 32767); // not clipped
        // Ends near silence, so the sound stops without a click.
        EXPECT_LT(std::abs(int(info.samples.back())), 1000);

        EXPECT_EQ(synthesizeSound(name), wav);
        digests.insert(QCryptographicHash::hash(wav.mid(44), QCryptographicHash::Sha256));
    }
    EXPECT_EQ(digests.size(), storedSoundNames().size()) << "two names give the same sound";
}

class StoredSoundFileTest : public lumra::test::DataDirTest { };

TEST_F(StoredSoundFileTest, WritesTheSoundIntoTheCacheAndRepairsADamagedCopy)
{
    const auto path = storedSoundFile(QStringLiteral("Glass"));
    ASSERT_TRUE(path.ok()) << path.error().toStdString();
    EXPECT_TRUE(path->startsWith(dataDir.cacheHome()));

    QFile file(*path);
    ASSERT_TRUE(file.open(QIODevice::ReadWrite));
    EXPECT_EQ(file.readAll(), synthesizeSound(QStringLiteral("Glass")));
    file.resize(100);
    file.close();

    ASSERT_TRUE(storedSoundFile(QStringLiteral("Glass")).ok());
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), synthesizeSound(QStringLiteral("Glass")));

    EXPECT_FALSE(storedSoundFile(QStringLiteral("Beep")).ok());
}

class QtSoundPlayerTest : public lumra::test::DataDirTest { };

// The test machine may have no audio device at all: playing must still return.
TEST_F(QtSoundPlayerTest, PlaysEveryStoredNameAndRefusesUnknownOnes)
{
    QtSoundPlayer player;
    for (const QString& name : storedSoundNames())
        EXPECT_TRUE(player.playStored(name)) << name.toStdString();
    EXPECT_TRUE(player.playStored(QStringLiteral("Pop"))); // again, from the kept player
    EXPECT_FALSE(player.playStored(QStringLiteral("pop")));
    EXPECT_FALSE(player.playStored(QStringLiteral("none")));
    QCoreApplication::processEvents();
}

TEST_F(QtSoundPlayerTest, PlaysTheUsersFileAndFollowsAChangedPath)
{
    const QString first = dataDir.root() + QStringLiteral("/first.wav");
    const QString second = dataDir.root() + QStringLiteral("/second.wav");
    for (const auto& [path, name] : { std::pair(first, "Ping"), std::pair(second, "Hero") }) {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(synthesizeSound(QString::fromLatin1(name)));
    }

    QtSoundPlayer player;
    EXPECT_TRUE(player.playFile(first));
    EXPECT_TRUE(player.playFile(first));
    EXPECT_TRUE(player.playFile(second));
    EXPECT_FALSE(player.playFile(dataDir.root() + QStringLiteral("/missing.wav")));
    EXPECT_FALSE(player.playFile(QString()));
    EXPECT_FALSE(player.playFile(dataDir.root())); // a folder is no sound file
    QCoreApplication::processEvents();
}
