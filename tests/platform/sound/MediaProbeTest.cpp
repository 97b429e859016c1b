#include "platform/sound/MediaProbe.h"

#include "TestMedia.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <atomic>
#include <optional>
#include <thread>
#include <vector>

namespace lumra {

// The probe plays into nothing, so the backend stops each stream soon after it starts; on a busy
// machine it now and then says so before it says the file loaded. Probe after probe on a machine
// kept busy, as when a user tries one file and then another, the sound is heard every time and
// the broken file is refused every time with the backend's reason.
TEST(MediaProbeTest, OnABusyMachineASoundIsHeardAndABrokenFileRefusedProbeAfterProbe)
{
    QTemporaryDir folder;
    const QString broken = folder.filePath(QStringLiteral("ding.ogg"));
    const QString sound = folder.filePath(QStringLiteral("ding.wav"));
    for (const auto& [path, bytes] : {std::pair {broken, QByteArray(4096, 'x')}, std::pair {sound, test::wavOfSilence(1)}}) {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes);
    }
    std::atomic<bool> busy = true;
    std::vector<std::jthread> spinners;
    for (unsigned i = 0; i < std::max(2u, std::thread::hardware_concurrency()); ++i)
        spinners.emplace_back([&busy] {
            while (busy.load(std::memory_order_relaxed)) {
            }
        });
    int refusedSounds = 0;
    for (int round = 0; round < 30; ++round) {
        for (const QString& path : {broken, sound}) {
            QObject context;
            std::optional<Status> probed;
            probeMedia(path, false, &context, [&](Status status) { probed = std::move(status); });
            ASSERT_TRUE(QTest::qWaitFor([&] { return probed.has_value(); }, 20000));
            if (path == broken) {
                ASSERT_FALSE(*probed);
                EXPECT_FALSE(probed->error().isEmpty());
            } else if (!*probed) {
                ++refusedSounds;
                ADD_FAILURE() << "round " << round << ": " << probed->error().toStdString();
            }
        }
    }
    busy = false;
    EXPECT_EQ(refusedSounds, 0);
}

} // namespace lumra
