#include "engine/editing/EditingTestSupport.h"
#include "engine/HistoryFilter.h"

#include "engine/BackupService.h"
#include "engine/SettingsFile.h"
#include "engine/ItemMedia.h"
#include "model/store/StoreSchema.h"
#include "platform/image/ImageDecoding.h"

#include "TestImages.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>

#include <sys/stat.h>

using namespace lumra;
using namespace lumra::test;

namespace {

class ImportExportTest : public EditingTest {
protected:
    QString path(const char* name) const { return dataDir.root() + QLatin1Char('/') + QLatin1String(name); }
    QString written(const char* name, const QByteArray& bytes) const
    {
        QFile file(path(name));
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes);
        return file.fileName();
    }

    static void drain()
    {
        for (int i = 0; i < 5; ++i)
            QCoreApplication::processEvents();
    }

    template <typename T>
    static T finished(QFuture<T> future)
    {
        future.waitForFinished();
        drain();
        return future.result();
    }

    int rowCount()
    {
        return manager->persistence()->viewContext().count({}).value();
    }

    // Every kind, every field the format carries.
    QList<ClipboardItem> everyKind(const QUuid& categoryId)
    {
        ClipboardItem full = text(QStringLiteral("full text"), 3600);
        full.rtfData = QByteArray("{\\rtf1 full}");
        full.isPinned = true;
        full.tags = {QStringLiteral("a"), QStringLiteral("b")};
        full.comment = QStringLiteral("note");
        full.categoryId = categoryId;
        full.shortcut = ItemShortcut {9, ItemShortcut::commandFlag | ItemShortcut::shiftFlag};
        full.isSensitive = true;
        full.sourceAppBundleId = QStringLiteral("org.gnome.TextEditor");
        full.sourceAppName = QStringLiteral("Text Editor");
        full.lastPastedDate = clock.now().addSecs(-60);
        full.firstCopiedDate = clock.now().addDays(-3);
        ClipboardItem top = text(QStringLiteral("pinned on top"), 7200);
        top.isPinnedToTop = true;
        ClipboardItem picture = image(image::imageFileName(test::solidPng(QSize(4, 4), Qt::blue)), 60);
        picture.ocrText = QStringLiteral("words in the picture");
        ClipboardItem files = file(QStringLiteral("file:///home/user/report.pdf"), 120);
        files.fileURLStrings = QStringList {QStringLiteral("file:///home/user/report.pdf"), QStringLiteral("file:///home/user/dir/")};
        files.fileURLIsDirectory = QList<bool> {false, true};
        return {full, top, picture, files};
    }
};

TEST_F(ImportExportTest, historyComesBackWholeThroughAFileIntoAnEmptyStore)
{
    open();
    const ClipboardCategory work {QUuid::createUuid(), QStringLiteral("Work"), QStringLiteral("briefcase"), true, 0};
    ASSERT_TRUE(manager->addCategory(work).ok());
    QList<ClipboardItem> items = everyKind(work.id);
    // Stored as Lumra stores pictures: its own PNG, which the import's decoding writes alike.
    QImage blue(4, 4, QImage::Format_RGB32);
    blue.fill(Qt::blue);
    const QByteArray png = image::encodePng(blue).value();
    storeItems(*manager, items, [&](store::ManagedObject& row) {
        if (row.string(store::ItemAttr::contentType) == QStringLiteral("image")) {
            row.set(store::ItemAttr::imageData, png);
            row.set(store::ItemAttr::ocrText, QStringLiteral("words in the picture"));
        }
    });
    ClipboardItem binned = text(QStringLiteral("in the bin"));
    binned.isTrashed = true;
    store({binned});

    const QString file = path("LumraBackup.json");
    const auto exported = finished(manager->backup().exportToFile({}, file));
    ASSERT_TRUE(exported.error.isEmpty()) << exported.error.toStdString();
    EXPECT_EQ(exported.exported, 4); // never the recycle bin
    struct stat info {};
    ASSERT_EQ(::stat(QFile::encodeName(file).constData(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u); // it holds clipboard contents

    // A second computer: its own folders and an empty history.
    const QList<ClipboardItem> before = manager->backup().itemsForExport({});
    manager.reset();
    TempDataDir otherHome;
    defaults.reset();
    defaults = std::make_unique<UserDefaults>(otherHome.configHome() + QStringLiteral("/settings.json"), &clock);
    ClipboardManager::registerDefaultSettings(*defaults);
    defaults->set(QStringLiteral("iCloudSyncEnabled"), false);
    ClipboardManagerServices services = engineServices();
    services.storeFolder = otherHome.supportFolder();
    manager = std::make_unique<EditingManager>(services);
    ASSERT_TRUE(manager->clipboardItems().isEmpty());

    const auto opened = finished(manager->backup().openBackup(file));
    ASSERT_TRUE(opened.preview) << opened.error.toStdString();
    EXPECT_EQ(backup::countSelection(*opened.preview, {}, QTimeZone::systemTimeZone()).newItems(), 4);
    const auto& data = opened.preview->backup.data;
    const auto imported = finished(manager->backup().startImport(data.items, data.images, data.categories.value_or(QList<ClipboardCategory>()), false));
    ASSERT_TRUE(imported.error.isEmpty()) << imported.error.toStdString();
    EXPECT_EQ(imported.outcome.inserted, 4);

    QList<ClipboardItem> after = manager->backup().itemsForExport({});
    auto byId = [](const ClipboardItem& a, const ClipboardItem& b) { return a.id.toString() < b.id.toString(); };
    QList<ClipboardItem> expected = before;
    std::sort(expected.begin(), expected.end(), byId);
    std::sort(after.begin(), after.end(), byId);
    ASSERT_EQ(after.size(), expected.size());
    for (qsizetype i = 0; i < after.size(); ++i)
        EXPECT_EQ(after[i], expected[i]) << after[i].displayText().toStdString();
    ASSERT_EQ(manager->categories().size(), 1);
    EXPECT_EQ(manager->categories()[0], work);
    for (const ClipboardItem& item : std::as_const(after)) {
        if (item.contentType == ClipboardContentType::image)
            EXPECT_EQ(manager->media().imageData(item), png);
        // The list's values leave rich text in the store; the file carried it all the same.
        EXPECT_FALSE(item.rtfData);
        if (item.textContent == QStringLiteral("full text"))
            EXPECT_EQ(manager->media().richText(item), QByteArray("{\\rtf1 full}"));
    }
}

TEST_F(ImportExportTest, importKeepsIdsUniqueAndSkipsWhatTheHistoryHolds)
{
    open();
    ClipboardItem live = text(QStringLiteral("live"));
    ClipboardItem binned = text(QStringLiteral("binned"));
    binned.isTrashed = true;
    ClipboardItem picture = image(QStringLiteral("0123456789abcdef0123456789abcdef.png"));
    ClipboardItem files = file(QStringLiteral("file:///a"));
    store({live, binned, picture, files});

    ClipboardItem sameIdOtherText = live;
    sameIdOtherText.textContent = QStringLiteral("other text");
    ClipboardItem sameBinnedItem = binned; // same id, same content: it is that item
    ClipboardItem binnedContentNewId = text(QStringLiteral("binned")); // the bin does not make duplicates
    ClipboardItem samePicture = image(*picture.imageFileName);
    ClipboardItem sameFiles = file(QStringLiteral("file:///a"));
    ClipboardItem textNamedLikeFiles = text(QStringLiteral("file:///a"));
    ClipboardItem twice = text(QStringLiteral("twice"));
    ClipboardItem twiceAgain = text(QStringLiteral("twice"));
    ClipboardItem fileTwice = file(QStringLiteral("file:///b"));
    ClipboardItem fileTwiceAgain = file(QStringLiteral("file:///b"));
    ClipboardItem repeatedId = text(QStringLiteral("repeated id"));
    repeatedId.id = twice.id;

    const auto result = manager->backup().importData({sameIdOtherText, sameBinnedItem, binnedContentNewId, samePicture, sameFiles,
                                             textNamedLikeFiles, twice, twiceAgain, fileTwice, fileTwiceAgain, repeatedId},
                                            {}, {});
    ASSERT_TRUE(result.ok()) << result.error().toStdString();
    EXPECT_EQ(result->inserted, 6); // other text, binned (new id), file:///a as text, twice, file:///b, repeated id
    QSet<QUuid> ids;
    for (const ClipboardItem& item : manager->clipboardItems())
        ids.insert(item.id);
    EXPECT_EQ(ids.size(), manager->clipboardItems().size());
    EXPECT_EQ(manager->clipboardItems().size(), 4 + 6);
    expectHistoryMatchesStore();

    // A second import of the same items finds them all.
    const auto again = manager->backup().importData({sameIdOtherText, twice, fileTwice}, {}, {});
    ASSERT_TRUE(again.ok());
    EXPECT_EQ(again->inserted, 0);
}

TEST_F(ImportExportTest, aLargeImportIsReadBackOffTheMainThreadAndShowsWhole)
{
    open();
    store({text(QStringLiteral("already here"))});
    QList<ClipboardItem> many;
    for (int i = 0; i < 300; ++i)
        many << text(QStringLiteral("imported %1").arg(i), 1000 + i);
    ClipboardItem withShortcut = text(QStringLiteral("with a shortcut"));
    withShortcut.shortcut = ItemShortcut {1, ItemShortcut::optionFlag};
    many << withShortcut;
    ShortcutAnnouncements announcements(*manager);
    const auto result = finished(manager->backup().startImport(many, {}, {}, false));
    ASSERT_TRUE(result.error.isEmpty());
    EXPECT_EQ(result.outcome.inserted, 301);
    for (int i = 0; i < 2000 && manager->clipboardItems().size() < 302; ++i) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::msleep(1);
    }
    EXPECT_EQ(manager->clipboardItems().size(), 302);
    EXPECT_EQ(manager->filters().filteredItemCount(), 302);
    EXPECT_GE(announcements.signalled(), 1);
    expectHistoryMatchesStore();
}

TEST_F(ImportExportTest, aFailedExportNamesTheFileAndLeavesNothing)
{
    open();
    store({text(QStringLiteral("something"))});
    const QString target = path("missing-folder/LumraBackup.json");
    const auto result = finished(manager->backup().exportToFile({}, target));
    EXPECT_TRUE(result.error.contains(QStringLiteral("\"LumraBackup.json\" could not be written"))) << result.error.toStdString();
    EXPECT_FALSE(QFile::exists(target));
}

// Another user's link planted at the name chosen for the export: the export takes the link's
// place, and the file it pointed to keeps what it held.
TEST_F(ImportExportTest, anExportReplacesALinkAtTheChosenNameNotWhatItPointsTo)
{
    open();
    store({text(QStringLiteral("exported text"))});
    const QString victim = written("elsewhere.txt", "someone else's file\n");
    QFile planted(victim);
    const QString target = path("LumraBackup.json");
    ASSERT_TRUE(QFile::link(victim, target));

    const auto exported = finished(manager->backup().exportToFile({}, target));
    ASSERT_TRUE(exported.error.isEmpty()) << exported.error.toStdString();
    EXPECT_EQ(exported.exported, 1);
    EXPECT_FALSE(QFileInfo(target).isSymLink());
    ASSERT_TRUE(planted.open(QIODevice::ReadOnly));
    EXPECT_EQ(planted.readAll(), "someone else's file\n");
    QFile written(target);
    ASSERT_TRUE(written.open(QIODevice::ReadOnly));
    EXPECT_TRUE(written.readAll().contains("exported text"));
    EXPECT_EQ(QDir(QFileInfo(target).path()).entryList(QDir::Files | QDir::Hidden).filter(QStringLiteral(".LumraBackup")),
              QStringList()) << "no temporary file is left";
}

TEST_F(ImportExportTest, aSettingsFileNamingAnythingButAReadableFileAsTheSoundIsRefusedThere)
{
    open();
    const QString sound = written("chime.wav", "RIFF");
    const QString fifo = path("fifo.wav");
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);

    for (const QString& refused : {fifo, QStringLiteral("chime.wav"), QStringLiteral("/dev/zero"), path("")}) {
        const auto imported = manager->backup().importSettings(QJsonDocument(QJsonObject {{"customSoundPath", refused}}).toJson());
        ASSERT_TRUE(imported.ok()) << refused.toStdString();
        EXPECT_EQ(imported.refused, 1) << refused.toStdString();
        EXPECT_EQ(manager->customSoundPath(), QString());
    }
    const auto imported = manager->backup().importSettings(QJsonDocument(QJsonObject {{"customSoundPath", sound}}).toJson());
    ASSERT_TRUE(imported.ok());
    EXPECT_EQ(imported.refused, 0);
    EXPECT_EQ(manager->customSoundPath(), sound);
}

TEST_F(ImportExportTest, categoriesAreMadeOnlyWhenAnItemUsesThem)
{
    open();
    const ClipboardCategory used {QUuid::createUuid(), QStringLiteral("Used"), QStringLiteral("star"), false, 3};
    const ClipboardCategory unused {QUuid::createUuid(), QStringLiteral("Unused"), QStringLiteral("star"), false, 4};
    ClipboardItem item = text(QStringLiteral("in a category"));
    item.categoryId = used.id;
    const auto result = manager->backup().importData({item}, {}, {used, unused});
    ASSERT_TRUE(result.ok());
    ASSERT_EQ(manager->categories().size(), 1);
    EXPECT_EQ(manager->categories()[0], used);
}

TEST_F(ImportExportTest, theItemLimitIsToldBeforehandAndAppliedInTheSameSave)
{
    open();
    ASSERT_TRUE(manager->setMaxItems(4));
    store({text(QStringLiteral("old 1"), 9000), text(QStringLiteral("old 2"), 8000), text(QStringLiteral("old 3"), 7000)});
    const QList<ClipboardItem> incoming {text(QStringLiteral("new 1"), 100), text(QStringLiteral("ancient"), 99999),
                                         text(QStringLiteral("new 2"), 50)};
    const auto preview = finished(manager->backup().startImport(incoming, {}, {}, true));
    ASSERT_TRUE(preview.error.isEmpty());
    EXPECT_EQ(preview.outcome.removed, 1);  // "old 1"
    EXPECT_EQ(preview.outcome.notKept, 1);  // "ancient" would go at once
    EXPECT_EQ(manager->clipboardItems().size(), 3); // a dry run writes nothing

    const auto done = finished(manager->backup().startImport(incoming, {}, {}, false));
    ASSERT_TRUE(done.error.isEmpty());
    EXPECT_EQ(done.outcome.inserted, 2);
    EXPECT_EQ(done.outcome.removed, 1);
    QStringList texts;
    for (const ClipboardItem& item : manager->clipboardItems())
        texts << *item.textContent;
    texts.sort();
    EXPECT_EQ(texts, QStringList({"new 1", "new 2", "old 2", "old 3"}));
    expectHistoryMatchesStore();
}

TEST_F(ImportExportTest, anImportedItemIsAsOldAsItsImportForEveryAgeRule)
{
    constexpr qint64 day = 86'400;
    for (const bool sync : {false, true}) {
        SCOPED_TRACE(sync);
        open(sync); // default settings: items go after 150 days
        QList<ClipboardItem> incoming;
        for (int i = 0; i < 10; ++i) {
            incoming << text(QStringLiteral("from the backup %1").arg(i), 284 * day);
            incoming.back().isPinned = i % 2 == 0;
        }
        const auto done = finished(manager->backup().startImport(incoming, {}, {}, false));
        ASSERT_TRUE(done.error.isEmpty()) << done.error.toStdString();
        ASSERT_EQ(done.outcome.inserted, 10);
        EXPECT_EQ(manager->countItemsOlderThan(150), 0);
        EXPECT_EQ(manager->countAutoCleanCandidates(60), 0);

        for (int start = 0; start < 2; ++start) {
            clock.advance(std::chrono::hours(24));
            reopen();
            manager->applyRetention();
            manager->setAutoCleanMinutes(30 * 24 * 60);
            manager->runAutoClean();
            manager->finishBackgroundWork();
            EXPECT_EQ(manager->clipboardItems().size(), 10);
            manager->setAutoCleanMinutes(0);
        }
        // Once the import itself is older than a rule, the rule takes its items as any others.
        clock.advance(std::chrono::hours(24 * 150));
        EXPECT_EQ(manager->countItemsOlderThan(150), 5);
        manager->applyRetention();
        EXPECT_EQ(manager->clipboardItems().size(), 5);
        manager.reset();
        QDir(dataDir.supportFolder()).removeRecursively();
    }
}

TEST_F(ImportExportTest, aFailedSaveLeavesNothingBehind)
{
    open();
    sql::Database* db = manager->persistence()->viewContext().database(manager->persistence()->viewContext().stores().front());
    ASSERT_TRUE(db->exec(QStringLiteral("CREATE TRIGGER refuse BEFORE INSERT ON CDClipboardItem WHEN NEW.textContent = 'boom' "
                                        "BEGIN SELECT RAISE(ABORT, 'forced'); END"))
                    .ok());
    const ClipboardCategory category {QUuid::createUuid(), QStringLiteral("C"), QStringLiteral("star"), false, 0};
    ClipboardItem first = text(QStringLiteral("fine"));
    first.categoryId = category.id;
    const auto result = manager->backup().importData({first, text(QStringLiteral("boom"))}, {}, {category});
    ASSERT_FALSE(result.ok());
    EXPECT_TRUE(result.error().contains(QStringLiteral("forced")));
    EXPECT_EQ(rowCount(), 0);
    manager->loadCategories();
    EXPECT_TRUE(manager->categories().isEmpty());
}

TEST_F(ImportExportTest, shortcutsFromAFileNeverClashOrGrabBareKeys)
{
    open();
    ClipboardItem owner = text(QStringLiteral("owner"));
    owner.shortcut = ItemShortcut {0, ItemShortcut::commandFlag};
    store({owner});
    ShortcutAnnouncements announcements(*manager);
    const auto with = [&](const char* content, quint16 key, quint64 modifiers) {
        ClipboardItem item = text(QString::fromLatin1(content));
        item.shortcut = ItemShortcut {key, modifiers};
        return item;
    };
    const auto result = manager->backup().importData({with("bare", 0, 0), with("clash", 0, ItemShortcut::commandFlag),
                                             with("popup", 9, 0x180000), with("kept", 1, ItemShortcut::optionFlag),
                                             with("same as kept", 1, ItemShortcut::optionFlag)},
                                            {}, {});
    ASSERT_TRUE(result.ok());
    int withShortcut = 0;
    for (const ClipboardItem& item : manager->clipboardItems())
        withShortcut += item.shortcut ? 1 : 0;
    EXPECT_EQ(withShortcut, 2); // owner and "kept"
    EXPECT_EQ(manager->clipboardItems().size(), 6); // every item stays, without its shortcut
    EXPECT_GE(announcements.signalled(), 1); // registered at once
}

TEST_F(ImportExportTest, settingsFileRoundTripKeepsTypesAndSkipsBadValues)
{
    open();
    ASSERT_TRUE(manager->setMaxItems(777));
    ASSERT_TRUE(manager->setItemFontSize(14.5));
    manager->setIgnoredApplications({{QStringLiteral("org.example.Vault"), QStringLiteral("Vault")}});
    const std::optional<QByteArray> exported = manager->backup().exportSettings();
    ASSERT_TRUE(exported);
    const QJsonObject object = QJsonDocument::fromJson(*exported).object();
    EXPECT_EQ(object.value(QStringLiteral("maxItems")).toInteger(), 777);
    EXPECT_TRUE(object.value(QStringLiteral("showTags")).isBool());
    EXPECT_EQ(object.value(QStringLiteral("ignoredApplications__type")).toString(), QStringLiteral("data"));
    EXPECT_FALSE(object.contains(QStringLiteral("iCloudSyncEnabled")));
    EXPECT_FALSE(object.contains(QStringLiteral("captureText")));
    for (auto it = object.begin(); it != object.end(); ++it)
        EXPECT_TRUE(settingsfile::keys().contains(it.key().remove(QStringLiteral("__type")))) << it.key().toStdString();

    // Back to other values, then the file again.
    ASSERT_TRUE(manager->setMaxItems(10));
    manager->setIgnoredApplications({});
    const auto restored = manager->backup().importSettings(*exported);
    ASSERT_TRUE(restored.ok());
    EXPECT_EQ(restored.refused, 0);
    EXPECT_EQ(manager->maxItems(), 777);
    EXPECT_EQ(manager->itemFontSize(), 14.5);
    ASSERT_EQ(manager->ignoredApplications().size(), 1);

    // Bad values are skipped and counted; the good ones beside them apply.
    QJsonObject bad = object;
    bad.insert(QStringLiteral("maxItems"), QStringLiteral("lots"));
    bad.insert(QStringLiteral("itemFontSize"), -3);
    bad.insert(QStringLiteral("ignoredApplications"), QStringLiteral("not base64 ***"));
    bad.insert(QStringLiteral("hotKeyModifiers"), 0x20000); // Shift alone
    bad.insert(QStringLiteral("showTags"), false);
    bad.insert(QStringLiteral("clipboardWindowWidth"), 612.5);
    bad.insert(QStringLiteral("clipboardWindowHeight"), 50); // smaller than the popup can be
    bad.insert(QStringLiteral("iCloudSyncEnabled"), true);
    const bool syncBefore = manager->iCloudSyncEnabled();
    const auto partly = manager->backup().importSettings(QJsonDocument(bad).toJson());
    ASSERT_TRUE(partly.ok());
    EXPECT_EQ(partly.refused, 5);
    EXPECT_EQ(defaults->doubleValue(QStringLiteral("clipboardWindowWidth")), 612.5);
    EXPECT_EQ(defaults->doubleValue(QStringLiteral("clipboardWindowHeight")), 621);
    EXPECT_EQ(manager->maxItems(), 777);
    EXPECT_EQ(manager->itemFontSize(), 14.5);
    EXPECT_EQ(manager->ignoredApplications().size(), 1);
    EXPECT_FALSE(manager->showTags());
    EXPECT_EQ(manager->iCloudSyncEnabled(), syncBefore);
    EXPECT_EQ(defaults->integer(QStringLiteral("hotKeyModifiers")), 0x180000);

    // Not a settings file at all: nothing changes.
    for (const char* notSettings : {"{}", "[]", "{\"items\":[],\"images\":{}}", "nonsense"}) {
        const auto refused = manager->backup().importSettings(QByteArray(notSettings));
        EXPECT_FALSE(refused.ok()) << notSettings;
    }
    // Larger than any settings file: refused unparsed, with a clear error.
    QJsonObject huge {{"showTags", true}};
    for (int i = 0; i < 60000; ++i)
        huge.insert(QStringLiteral("padding%1").arg(i), QStringLiteral("xxxxxxxxxxxxxxxx"));
    const auto tooLarge = manager->backup().importSettings(QJsonDocument(huge).toJson());
    EXPECT_FALSE(tooLarge.ok());
    EXPECT_TRUE(tooLarge.error.contains(QStringLiteral("larger"))) << tooLarge.error.toStdString();
    EXPECT_FALSE(manager->showTags());
}

} // namespace
