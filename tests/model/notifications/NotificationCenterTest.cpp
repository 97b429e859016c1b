#include "model/NotificationCenter.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QThread>

using lumra::NotificationCenter;

TEST(NotificationCenter, DeliversOnlyTheObservedNameWithItsUserInfo)
{
    NotificationCenter center;
    QObject context;
    QStringList statuses;
    center.observe("iCloudSyncStatusChanged", &context, [&](const QVariantMap& info) {
        statuses << info.value("status").toString();
    });
    center.post("itemShortcutsChanged");
    center.post("iCloudSyncStatusChanged", {{"status", "Synced"}});
    EXPECT_EQ(statuses, QStringList {"Synced"});
}

TEST(NotificationCenter, ObservationEndsWithItsContext)
{
    NotificationCenter center;
    int calls = 0;
    {
        QObject context;
        center.observe("quickPasteChanged", &context, [&](const QVariantMap&) { ++calls; });
        center.post("quickPasteChanged");
    }
    center.post("quickPasteChanged");
    EXPECT_EQ(calls, 1);
}

TEST(NotificationCenter, PostFromAWorkerArrivesOnTheCentersThread)
{
    NotificationCenter center;
    QObject context;
    QThread* deliveredOn = nullptr;
    center.observe("showCopyReminder", &context, [&](const QVariantMap&) { deliveredOn = QThread::currentThread(); });
    QThread* worker = QThread::create([&] { center.post("showCopyReminder"); });
    worker->start();
    worker->wait();
    delete worker;
    EXPECT_EQ(deliveredOn, nullptr); // not synchronously on the worker
    QCoreApplication::processEvents();
    EXPECT_EQ(deliveredOn, QThread::currentThread());
}
