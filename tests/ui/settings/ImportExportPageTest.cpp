#include "ui/settings/ImportExportPage.h"

#include "ui/shell/HotKeyManager.h"
#include "ui/shell/Prompt.h"
#include "platform/login/LoginItem.h"
#include "ui/settings/SettingsWindow.h"

#include "app/ShellTestSupport.h"
#include "FifoWatchdog.h"
#include "Screenshots.h"
#include "TestImages.h"
#include "platform/image/ImageFixtures.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDeadlineTimer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QScrollBar>
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

    // The import sheet with `data` written to a file and chosen in it.
    ImportSheet* sheetWith(const backup::ExportData& data, const char* name)
    {
        QFile out(file(name));
        if (!out.open(QIODevice::WriteOnly))
            return nullptr;
        out.write(backup::encodeBackup(data));
        out.close();
        page().button(QStringLiteral("Clipboard Items"), QStringLiteral("Import"))->click();
        ImportSheet* sheet = page().importSheet();
        openPath = out.fileName();
        sheet->chooseBackupFile();
        waitFor([&] { return !sheet->isBusy(); });
        return sheet;
    }

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
    // Everything in the file, the global shortcut included, applies at once: no restart is asked for.
    EXPECT_FALSE(prompts.shown[0].text.contains(QStringLiteral("restart"), Qt::CaseInsensitive)) << prompts.shown[0].text.toStdString();
    EXPECT_TRUE(prompts.shown[0].text.contains(QStringLiteral("\"LumraSettings.json\""))) << prompts.shown[0].text.toStdString();

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
    const qsizetype asked = prompts.shown.size();
    page().button(QStringLiteral("Application Settings"), QStringLiteral("Import"))->click();
    EXPECT_TRUE(page().resultLabel()->text().contains(QStringLiteral("not a Lumra settings file")));
    EXPECT_EQ(prompts.shown.size(), asked) << "a file that is no settings file is refused before any question";
    EXPECT_EQ(manager->maxItems(), 2000);

    // The shortcut of the file is the one in use as soon as the import is done.
    QJsonObject object = QJsonDocument::fromJson(*manager->backup().exportSettings()).object();
    object.insert(QStringLiteral("hotKeyKeyCode"), 11); // B
    object.insert(QStringLiteral("hotKeyModifiers"), qint64(ItemShortcut::commandFlag | ItemShortcut::shiftFlag));
    object.insert(QStringLiteral("maxItems"), QStringLiteral("lots"));
    QFile withShortcut(file("shortcut.json"));
    ASSERT_TRUE(withShortcut.open(QIODevice::WriteOnly));
    withShortcut.write(QJsonDocument(object).toJson());
    withShortcut.close();
    openPath = withShortcut.fileName();
    prompts.answerNext(0);
    page().button(QStringLiteral("Application Settings"), QStringLiteral("Import"))->click();
    ASSERT_EQ(prompts.shown.size(), asked + 1);
    EXPECT_TRUE(prompts.shown.last().text.contains(QStringLiteral("1 values in the file are not valid"))) << prompts.shown.last().text.toStdString();
    const GlobalHotKeys::HotKey chord {11, ItemShortcut::commandFlag | ItemShortcut::shiftFlag};
    EXPECT_TRUE(keys.grabbed().contains(chord)) << "the new shortcut is grabbed at once";
}

TEST_F(ImportExportPageTest, importSheetCountsARepeatOnceAndImportsWhatItShows)
{
    backup::ExportData data;
    data.items = {textItem(QStringLiteral("first")), textItem(QStringLiteral("second")), textItem(QStringLiteral("first"))};
    // Same picture under two names, then another picture: the second of the pair is the repeat.
    const QByteArray red = test::solidPng(QSize(6, 6), Qt::red);
    const QByteArray blue = test::solidPng(QSize(6, 6), Qt::blue);
    const auto picture = [&](const QString& name) {
        ClipboardItem item = textItem(name);
        item.contentType = ClipboardContentType::image;
        item.textContent = std::nullopt;
        item.imageFileName = name;
        return item;
    };
    data.items << picture(QStringLiteral("red-a.png")) << picture(QStringLiteral("red-b.png")) << picture(QStringLiteral("blue.png"));
    data.items[3].isPinned = true; // only the first red one is starred
    data.items[5].isPinned = true;
    data.images = {{QStringLiteral("red-a.png"), red}, {QStringLiteral("red-b.png"), red}, {QStringLiteral("blue.png"), blue}};
    ImportSheet* sheet = sheetWith(data, "repeats.json");
    ASSERT_TRUE(sheet && sheet->isFileLoaded());
    EXPECT_EQ(sheet->newCountLabel()->text(), QStringLiteral("4 new"));
    EXPECT_EQ(sheet->duplicateCountLabel()->text(), QStringLiteral("2 duplicates (skipped)"));
    EXPECT_EQ(sheet->importButton()->text(), QStringLiteral("Import 4 Items"));
    sheet->filters()->starredOnly()->setChecked(true);
    EXPECT_EQ(sheet->importButton()->text(), QStringLiteral("Import 2 Items")) << "the blue picture is no repeat";
    sheet->filters()->starredOnly()->setChecked(false);
    EXPECT_EQ(sheet->summaryLabel()->text(), QStringLiteral("6 items"));
    saveArtifact(*sheet, QStringLiteral("import-sheet-repeats"));

    sheet->importButton()->click();
    waitFor([&] { return !sheet->isBusy() && !sheet->resultLabel()->text().isEmpty(); });
    EXPECT_EQ(sheet->resultLabel()->text(), QStringLiteral("Imported 4 items successfully."));
    EXPECT_EQ(manager->clipboardItems().size(), 4);
}

TEST_F(ImportExportPageTest, imagesWithoutAPictureAreLeftOutAndSaidSo)
{
    backup::ExportData data;
    ClipboardItem kept = textItem(QStringLiteral("words"));
    ClipboardItem huge = textItem(QStringLiteral("huge"));
    huge.contentType = ClipboardContentType::image;
    huge.textContent = std::nullopt;
    huge.imageFileName = QStringLiteral("huge.png");
    ClipboardItem missing = huge;
    missing.id = QUuid::createUuid();
    missing.imageFileName = QStringLiteral("00000000000000000000000000000003.png");
    ClipboardItem noise = huge;
    noise.id = QUuid::createUuid();
    noise.imageFileName = QStringLiteral("noise.png");
    ClipboardItem noiseAgain = noise;
    noiseAgain.id = QUuid::createUuid();
    data.items = {kept, huge, missing, noise, noiseAgain};
    data.images = {{QStringLiteral("huge.png"), test::pngHeaderClaiming(40000, 40000)},
                   {QStringLiteral("noise.png"), QByteArray(64, 'x')}};
    ImportSheet* sheet = sheetWith(data, "pictures.json");
    ASSERT_TRUE(sheet && sheet->isFileLoaded());
    EXPECT_EQ(sheet->summaryLabel()->text(), QStringLiteral("1 items"));
    const QLabel* checked = nullptr;
    for (const QLabel* label : sheet->findChildren<QLabel*>()) {
        if (label->text().startsWith(QStringLiteral("Checked:")))
            checked = label;
    }
    ASSERT_TRUE(checked);
    EXPECT_EQ(checked->text(), QStringLiteral("Checked: 1 image too large left out, 2 images that are not pictures left out, "
                                              "1 image with no picture in the file left out."));
    saveArtifact(*sheet, QStringLiteral("import-sheet-checked"));
    sheet->importButton()->click();
    waitFor([&] { return !sheet->isBusy() && !sheet->resultLabel()->text().isEmpty(); });
    ASSERT_EQ(manager->clipboardItems().size(), 1);
    EXPECT_EQ(manager->clipboardItems()[0].contentType, ClipboardContentType::text);
}

TEST_F(ImportExportPageTest, theLimitPromptIsTitledWithWhatIsKept)
{
    ASSERT_TRUE(manager->setMaxItems(50));
    QList<ClipboardItem> history;
    for (int i = 0; i < 40; ++i)
        history << textItem(QStringLiteral("here %1").arg(i));
    storeItems(*manager, history);
    backup::ExportData data;
    for (int i = 0; i < 30; ++i) {
        data.items << textItem(QStringLiteral("old %1").arg(i));
        data.items.last().dateAdded = QDateTime(QDate(2020, 1, 1), QTime(12, 0), Qt::UTC).addSecs(i);
    }
    ImportSheet* sheet = sheetWith(data, "old.json");
    ASSERT_TRUE(sheet && sheet->isFileLoaded());
    prompts.answerNext(1);
    sheet->importButton()->click();
    waitFor([&] { return !sheet->isBusy() && !prompts.shown.isEmpty(); });
    ASSERT_EQ(prompts.shown.size(), 1);
    // 40 + 30 is 20 over the limit, and the imported items are the oldest: 10 of them stay.
    EXPECT_EQ(prompts.shown[0].title, QStringLiteral("Import 10 items?"));
    EXPECT_TRUE(prompts.shown[0].text.contains(QStringLiteral("20 of the imported items"))) << prompts.shown[0].text.toStdString();
    EXPECT_EQ(manager->clipboardItems().size(), 40);
}

TEST_F(ImportExportPageTest, sheetsShrinkBackAndThePageScrollsOnlyWhenItMust)
{
    page().show();
    page().button(QStringLiteral("Clipboard Items"), QStringLiteral("Export"))->click();
    ExportSheet* sheet = page().exportSheet();
    ASSERT_TRUE(sheet);
    QApplication::processEvents();
    const int closed = sheet->height();
    sheet->filters()->dateRange()->setChecked(true);
    waitFor([&] { return sheet->height() > closed; });
    EXPECT_GT(sheet->height(), closed);
    sheet->filters()->dateRange()->setChecked(false);
    waitFor([&] { return sheet->height() == closed; }); // the layouts pass the change up one by one
    EXPECT_EQ(sheet->height(), closed);
    saveArtifact(*sheet, QStringLiteral("export-sheet-range-off"));

    QApplication::processEvents();
    EXPECT_FALSE(page().verticalScrollBar()->isVisible()) << "everything fits: no empty scroll bar";
    page().resize(720, 160);
    QApplication::processEvents();
    EXPECT_TRUE(page().verticalScrollBar()->isVisible());
}

TEST_F(ImportExportPageTest, aSettingsFileThatIsAPipeNeverHoldsThePage)
{
    const QString pipe = file("LumraSettings.json");
    FifoWatchdog watchdog(pipe);
    ASSERT_TRUE(watchdog.made());
    openPath = pipe;
    page().button(QStringLiteral("Application Settings"), QStringLiteral("Import"))->click();
    EXPECT_FALSE(watchdog.tripped()) << "the page waited for a writer";
    EXPECT_TRUE(prompts.shown.isEmpty());
    EXPECT_TRUE(page().resultLabel()->text().contains(QStringLiteral("could not be read as a settings file")))
        << page().resultLabel()->text().toStdString();
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
