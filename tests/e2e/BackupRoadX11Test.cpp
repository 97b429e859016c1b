// Moving to another computer: a history exported through the Import/Export page of one home is
// imported through the page of a fresh home, in a process of its own, and comes back whole.
#include "ui/shell/HotKeyManager.h"
#include "ui/shell/Prompt.h"
#include "engine/BackupService.h"
#include "engine/ClipboardManager.h"
#include "engine/ItemMedia.h"
#include "model/store/ItemRows.h"
#include "model/store/PersistenceController.h"
#include "platform/cloud/CloudKeyValueStore.h"
#include "platform/image/ImageDecoding.h"
#include "platform/keys/FakeGlobalHotKeys.h"
#include "platform/login/LoginItem.h"
#include "ui/settings/ImportExportPage.h"
#include "ui/settings/SettingsWindow.h"
#include "ThisProgram.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QImage>
#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

namespace lumra {
namespace {

constexpr int waitMs = 60000;

// One computer's Lumra: its settings and store under `home`, the settings window over them.
struct Home {
    explicit Home(const QString& home)
        : defaults(home + QStringLiteral("/config/Lumra/settings.json"), &clock)
    {
        clock.setNow(QDateTime(QDate(2026, 3, 1), QTime(12, 0), Qt::UTC));
        ClipboardManager::registerDefaultSettings(defaults);
        defaults.set(QStringLiteral("iCloudSyncEnabled"), false);
        ClipboardManagerServices services;
        services.defaults = &defaults;
        services.cloudKeyValueStore = &kv;
        services.clock = &clock;
        services.storeFolder = home + QStringLiteral("/data/Lumra");
        manager = std::make_unique<ClipboardManager>(services);
        hotKeys = std::make_unique<HotKeyManager>(keys, defaults, clock);
        std::ignore = hotKeys->setupHotKeyManager(manager.get());
        SettingsServices settings;
        settings.loginItem = &loginItem;
        settings.prompts = &prompts;
        window = std::make_unique<SettingsWindow>(*manager, *hotKeys, settings);
        window->present(SettingsTab::data);
        page = qobject_cast<ImportExportPage*>(window->page(SettingsTab::data));
    }
    ~Home() { std::ignore = defaults.flush(); }

    ManualClock clock;
    UserDefaults defaults;
    InMemoryCloudKeyValueStore kv;
    FakeGlobalHotKeys keys;
    InMemoryLoginItem loginItem;
    ScriptedPromptService prompts;
    std::unique_ptr<ClipboardManager> manager;
    std::unique_ptr<HotKeyManager> hotKeys;
    std::unique_ptr<SettingsWindow> window;
    ImportExportPage* page = nullptr;
};

bool waitFor(const std::function<bool()>& done) { return QTest::qWaitFor(done, waitMs); }

QList<ClipboardItem> sortedById(QList<ClipboardItem> items)
{
    std::sort(items.begin(), items.end(), [](const auto& a, const auto& b) { return a.id.toString() < b.id.toString(); });
    return items;
}

TEST(BackupRoadX11Test, historyMovesToAFreshHomeThroughThePage)
{
    QTemporaryDir homeA;
    QTemporaryDir homeB;
    const QString file = homeA.path() + QStringLiteral("/LumraBackup.json");
    QList<ClipboardItem> exported;
    // Lumra's own PNG, as its history holds pictures: the import's decoding writes it alike.
    QImage green(6, 6, QImage::Format_RGB32);
    green.fill(Qt::darkGreen);
    QByteArray png = image::encodePng(green).value();
    {
        Home a(homeA.path());
        ASSERT_TRUE(a.page);
        const ClipboardCategory work {QUuid::createUuid(), QStringLiteral("Work"), QStringLiteral("briefcase"), false, 0};
        ASSERT_TRUE(a.manager->addCategory(work).ok());
        auto& context = a.manager->persistence()->viewContext();
        const auto add = [&](ClipboardItem item, const QByteArray& bytes = {}) {
            item.id = QUuid::createUuid();
            item.dateAdded = a.clock.now().addSecs(-qint64(context.count({}).value() + 1) * 60);
            auto row = context.insert(store::EntityKind::item);
            populateManagedItem(*row, item);
            if (!bytes.isEmpty())
                row->set(store::ItemAttr::imageData, bytes);
        };
        ClipboardItem text;
        text.textContent = QStringLiteral("a starred note");
        text.isPinned = true;
        text.tags = {QStringLiteral("work")};
        text.comment = QStringLiteral("keep");
        text.categoryId = work.id;
        add(text);
        ClipboardItem picture;
        picture.contentType = ClipboardContentType::image;
        picture.imageFileName = image::imageFileName(png);
        add(picture, png);
        ClipboardItem files;
        files.contentType = ClipboardContentType::file;
        files.fileURLStrings = QStringList {QStringLiteral("file:///home/user/report.pdf")};
        files.fileURLIsDirectory = QList<bool> {false};
        add(files);
        ASSERT_TRUE(a.manager->persistence()->save().ok());
        a.manager->loadItems();
        exported = a.manager->backup().itemsForExport({});
        ASSERT_EQ(exported.size(), 3);

        a.page->setFileDialogs({[&](QWidget*, const QString&) { return file; }, [](QWidget*, const QString&) { return QString(); }});
        a.page->button(QStringLiteral("Clipboard Items"), QStringLiteral("Export"))->click();
        ExportSheet* sheet = a.page->exportSheet();
        ASSERT_TRUE(sheet);
        sheet->exportButton()->click();
        ASSERT_TRUE(waitFor([&] { return !sheet->isExporting() && !sheet->resultLabel()->text().isEmpty(); }));
        EXPECT_EQ(sheet->resultLabel()->text(), QStringLiteral("Exported 3 items successfully."));
    }

    // The other computer reads the file in a process of its own.
    QProcess other;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("LUMRA_BACKUP_ROAD_FILE"), file);
    env.insert(QStringLiteral("LUMRA_BACKUP_ROAD_HOME"), homeB.path());
    env.insert(QStringLiteral("ASAN_OPTIONS"), QStringLiteral("detect_leaks=0"));
    other.setProcessEnvironment(env);
    other.setProcessChannelMode(QProcess::MergedChannels);
    lumra::test::startThisProgram(other, {QStringLiteral("--gtest_filter=BackupRoadX11Test.DISABLED_importSide"),
                                          QStringLiteral("--gtest_also_run_disabled_tests")});
    ASSERT_TRUE(other.waitForFinished(waitMs * 2));
    const QString output = QString::fromUtf8(other.readAll());
    ASSERT_EQ(other.exitCode(), 0) << output.toStdString();
    ASSERT_TRUE(output.contains(QStringLiteral("[  PASSED  ] 1 test"))) << output.toStdString();

    Home b(homeB.path());
    EXPECT_EQ(sortedById(b.manager->backup().itemsForExport({})), sortedById(exported));
    ASSERT_EQ(b.manager->categories().size(), 1);
    EXPECT_EQ(b.manager->categories()[0].name, QStringLiteral("Work"));
    for (const ClipboardItem& item : b.manager->clipboardItems()) {
        if (item.contentType == ClipboardContentType::image)
            EXPECT_EQ(b.manager->media().imageData(item), png);
    }
}

// The import side, run by the test above in a second process.
TEST(BackupRoadX11Test, DISABLED_importSide)
{
    const QString file = qEnvironmentVariable("LUMRA_BACKUP_ROAD_FILE");
    const QString home = qEnvironmentVariable("LUMRA_BACKUP_ROAD_HOME");
    if (file.isEmpty() || home.isEmpty())
        GTEST_SKIP() << "run by historyMovesToAFreshHomeThroughThePage";
    Home b(home);
    ASSERT_TRUE(b.page);
    ASSERT_TRUE(b.manager->clipboardItems().isEmpty());
    b.page->setFileDialogs({[](QWidget*, const QString&) { return QString(); }, [&](QWidget*, const QString&) { return file; }});
    b.page->button(QStringLiteral("Clipboard Items"), QStringLiteral("Import"))->click();
    ImportSheet* sheet = b.page->importSheet();
    ASSERT_TRUE(sheet);
    sheet->chooseBackupFile();
    ASSERT_TRUE(waitFor([&] { return !sheet->isBusy(); }));
    ASSERT_TRUE(sheet->isFileLoaded()) << sheet->errorLabel()->text().toStdString();
    EXPECT_EQ(sheet->importButton()->text(), QStringLiteral("Import 3 Items"));
    sheet->importButton()->click();
    ASSERT_TRUE(waitFor([&] { return !sheet->isBusy() && !sheet->resultLabel()->text().isEmpty(); }));
    EXPECT_EQ(sheet->resultLabel()->text(), QStringLiteral("Imported 3 items successfully."));
    EXPECT_EQ(b.manager->clipboardItems().size(), 3);
}

} // namespace
} // namespace lumra
