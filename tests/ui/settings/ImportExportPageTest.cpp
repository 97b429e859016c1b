#include "ui/settings/ImportExportPage.h"

#include "ui/shell/HotKeyManager.h"
#include "ui/shell/Prompt.h"
#include "platform/login/LoginItem.h"
#include "ui/settings/SettingsWindow.h"

#include "app/ShellTestSupport.h"
#include "Screenshots.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDeadlineTimer>
#include <QFile>
#include <QLabel>
#include <QPushButton>

namespace lumra {
namespace {

using namespace lumra::test;
using namespace std::chrono_literals;

class ImportExportPageTest : public ShellTest {
protected:
    ImportExportPageTest()
    {
        manager = makeManager();
        hotKeys = std::make_unique<HotKeyManager>(keys, *defaults, clock);
        std::ignore = hotKeys->setupHotKeyManager(manager.get());
    }

    ImportExportPage& page()
    {
        if (!m_page) {
            m_page = std::make_unique<ImportExportPage>(SettingsContext {*manager, *hotKeys, loginItem, prompts, {}});
            m_page->setFileDialogs({[this](QWidget*, const QString& name) {
                                        offeredNames << name;
                                        return savePath;
                                    },
                                    [this](QWidget*, const QString&) { return openPath; }});
            m_page->resize(720, 609);
        }
        return *m_page;
    }

    static void waitFor(const std::function<bool()>& done)
    {
        // Generous: the sheet's worker may be slow on a loaded machine under the sanitizers.
        QDeadlineTimer deadline(30000);
        while (!done() && !deadline.hasExpired()) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
            QThread::msleep(1);
        }
        QCoreApplication::processEvents();
    }

    QString file(const char* name) const { return dataDir.root() + QLatin1Char('/') + QLatin1String(name); }

    std::unique_ptr<ClipboardManager> manager;
    std::unique_ptr<HotKeyManager> hotKeys;
    std::unique_ptr<ImportExportPage> m_page;
    InMemoryLoginItem loginItem;
    ScriptedPromptService prompts;
    QString savePath;
    QString openPath;
    QStringList offeredNames;
};

TEST_F(ImportExportPageTest, exportSheetCountsLiveAndWritesTheFile)
{
    storeItems(*manager, {textItem(QStringLiteral("one")), textItem(QStringLiteral("two")),
                          textItem(QStringLiteral("gone"), std::nullopt, true)});
    page().button(QStringLiteral("Clipboard Items"), QStringLiteral("Export"))->click();
    ExportSheet* sheet = page().exportSheet();
    ASSERT_TRUE(sheet);
    EXPECT_EQ(sheet->countLabel()->text(), QStringLiteral("2 items will be exported"));
    sheet->filters()->starredOnly()->setChecked(true);
    EXPECT_EQ(sheet->countLabel()->text(), QStringLiteral("0 items will be exported"));
    EXPECT_FALSE(sheet->exportButton()->isEnabled());
    sheet->filters()->starredOnly()->setChecked(false);

    for (const bool dark : {false, true}) {
        QApplication::setPalette(dark ? darkPalette() : QPalette());
        sheet->filters()->dateRange()->setChecked(dark);
        QApplication::processEvents();
        saveArtifact(*sheet, QStringLiteral("export-sheet-") + (dark ? "dark" : "light"));
        saveArtifact(page(), QStringLiteral("import-export-page-") + (dark ? "dark" : "light"));
    }
    QApplication::setPalette(QPalette());
    sheet->filters()->dateRange()->setChecked(false);

    savePath.clear(); // cancelled: nothing written, the sheet stays
    sheet->exportButton()->click();
    EXPECT_TRUE(sheet->isVisible());

    savePath = file("LumraBackup.json");
    sheet->exportButton()->click();
    EXPECT_EQ(offeredNames.last(), QStringLiteral("LumraBackup.json"));
    waitFor([&] { return !sheet->isExporting(); });
    EXPECT_EQ(sheet->resultLabel()->text(), QStringLiteral("Exported 2 items successfully."));
    EXPECT_TRUE(QFile::exists(savePath));
    clock.advance(1500ms);
    QApplication::processEvents();
    EXPECT_FALSE(page().exportSheet() && page().exportSheet()->isVisible());
}

TEST_F(ImportExportPageTest, importSheetShowsWhatIsNewAndImportsIt)
{
    ClipboardItem kept = textItem(QStringLiteral("already here"));
    storeItems(*manager, {kept});
    backup::ExportData data;
    data.items = {kept, textItem(QStringLiteral("new one")), textItem(QStringLiteral("new two"))};
    data.items[1].isPinned = true;
    QFile out(file("backup.json"));
    ASSERT_TRUE(out.open(QIODevice::WriteOnly));
    out.write(backup::encodeBackup(data));
    out.close();
    QFile broken(file("broken.json"));
    ASSERT_TRUE(broken.open(QIODevice::WriteOnly));
    broken.write(R"({"items":[{"id":"x"}],"images":{}})");
    broken.close();

    page().button(QStringLiteral("Clipboard Items"), QStringLiteral("Import"))->click();
    ImportSheet* sheet = page().importSheet();
    ASSERT_TRUE(sheet);
    for (const bool dark : {false, true}) {
        QApplication::setPalette(dark ? darkPalette() : QPalette());
        QApplication::processEvents();
        saveArtifact(*sheet, QStringLiteral("import-sheet-empty-") + (dark ? "dark" : "light"));
    }
    QApplication::setPalette(QPalette());

    openPath = file("broken.json");
    sheet->chooseBackupFile();
    waitFor([&] { return !sheet->isBusy(); });
    EXPECT_FALSE(sheet->isFileLoaded());
    EXPECT_TRUE(sheet->errorLabel()->text().contains(QStringLiteral("\"id\""))) << sheet->errorLabel()->text().toStdString();

    openPath = file("backup.json");
    sheet->chooseBackupFile();
    waitFor([&] { return !sheet->isBusy(); });
    ASSERT_TRUE(sheet->isFileLoaded());
    EXPECT_EQ(sheet->summaryLabel()->text(), QStringLiteral("3 items"));
    EXPECT_EQ(sheet->newCountLabel()->text(), QStringLiteral("2 new"));
    EXPECT_EQ(sheet->duplicateCountLabel()->text(), QStringLiteral("1 duplicates (skipped)"));
    EXPECT_EQ(sheet->importButton()->text(), QStringLiteral("Import 2 Items"));
    sheet->filters()->starredOnly()->setChecked(true);
    EXPECT_EQ(sheet->importButton()->text(), QStringLiteral("Import 1 Items"));
    sheet->filters()->starredOnly()->setChecked(false);
    for (const bool dark : {false, true}) {
        QApplication::setPalette(dark ? darkPalette() : QPalette());
        sheet->filters()->dateRange()->setChecked(dark);
        QApplication::processEvents();
        saveArtifact(*sheet, QStringLiteral("import-sheet-loaded-") + (dark ? "dark" : "light"));
    }
    QApplication::setPalette(QPalette());
    sheet->filters()->dateRange()->setChecked(false);

    sheet->importButton()->click();
    waitFor([&] { return !sheet->isBusy() && !sheet->resultLabel()->text().isEmpty(); });
    EXPECT_EQ(sheet->resultLabel()->text(), QStringLiteral("Imported 2 items successfully."));
    EXPECT_EQ(manager->clipboardItems().size(), 3);
}

TEST_F(ImportExportPageTest, settingsFileRoundTripThroughThePage)
{
    savePath = file("LumraSettings.json");
    page().button(QStringLiteral("Application Settings"), QStringLiteral("Export"))->click();
    EXPECT_EQ(offeredNames.last(), QStringLiteral("LumraSettings.json"));
    ASSERT_TRUE(QFile::exists(savePath));
    ASSERT_TRUE(manager->setMaxItems(5));

    openPath = savePath;
    prompts.answerNext(1); // Cancel: nothing changes
    page().button(QStringLiteral("Application Settings"), QStringLiteral("Import"))->click();
    EXPECT_EQ(manager->maxItems(), 5);
    EXPECT_FALSE(page().resultLabel()->isVisible());
    ASSERT_EQ(prompts.shown.size(), 1);
    EXPECT_EQ(prompts.shown[0].title, QStringLiteral("Import settings?"));

    prompts.answerNext(0);
    page().button(QStringLiteral("Application Settings"), QStringLiteral("Import"))->click();
    EXPECT_EQ(manager->maxItems(), 2000);
    EXPECT_EQ(page().resultLabel()->text(), QStringLiteral("Settings imported successfully."));
    clock.advance(3s);
    EXPECT_TRUE(page().resultLabel()->isHidden());

    QFile notSettings(file("backup.json"));
    ASSERT_TRUE(notSettings.open(QIODevice::WriteOnly));
    notSettings.write(R"({"items":[],"images":{}})");
    notSettings.close();
    openPath = notSettings.fileName();
    prompts.answerNext(0);
    page().button(QStringLiteral("Application Settings"), QStringLiteral("Import"))->click();
    EXPECT_TRUE(page().resultLabel()->text().contains(QStringLiteral("not a Lumra settings file")));
    EXPECT_EQ(manager->maxItems(), 2000);
}

TEST_F(ImportExportPageTest, aChosenCategoryTheNextFileDoesNotOfferIsCleared)
{
    BackupFilterBox filters(false);
    const ClipboardCategory work {QUuid::createUuid(), QStringLiteral("Work"), QStringLiteral("briefcase"), false, 0};
    const ClipboardCategory home {QUuid::createUuid(), QStringLiteral("Home"), QStringLiteral("house"), false, 1};
    filters.setCategories({work, home});
    filters.category()->setCurrentIndex(2);
    EXPECT_EQ(filters.filter().categoryId, home.id);
    filters.setCategories({work, home}); // offered again: kept
    EXPECT_EQ(filters.filter().categoryId, home.id);
    filters.setCategories({work});
    EXPECT_FALSE(filters.filter().categoryId.has_value());
    filters.setCategories({});
    EXPECT_TRUE(filters.category()->parentWidget()->isHidden());
}

TEST_F(ImportExportPageTest, theSettingsWindowShowsThePage)
{
    SettingsServices services;
    services.loginItem = &loginItem;
    services.prompts = &prompts;
    SettingsWindow window(*manager, *hotKeys, services);
    EXPECT_TRUE(qobject_cast<ImportExportPage*>(window.page(SettingsTab::data)));
}

} // namespace
} // namespace lumra
