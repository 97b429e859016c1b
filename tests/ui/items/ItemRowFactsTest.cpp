#include "ui/items/ItemRowFacts.h"

#include <QTimeZone>

#include <gtest/gtest.h>

namespace lumra {
namespace {

const QDateTime now(QDate(2026, 6, 15), QTime(12, 0), Qt::UTC);

ClipboardItem text(const QString& content)
{
    ClipboardItem item;
    item.id = QUuid::createUuid();
    item.textContent = content;
    item.dateAdded = now.addSecs(-300);
    return item;
}

ClipboardItem files(const QStringList& paths, std::optional<QList<bool>> folders = std::nullopt)
{
    ClipboardItem item;
    item.id = QUuid::createUuid();
    item.contentType = ClipboardContentType::file;
    QStringList urls;
    for (const QString& path : paths)
        urls << QUrl::fromLocalFile(path).toString();
    item.fileURLStrings = urls;
    item.fileURLIsDirectory = folders;
    item.dateAdded = now.addSecs(-300);
    return item;
}

// A file system of a few known paths.
RowContext contextWith(std::map<QString, bool> disk = {})
{
    RowContext context;
    context.now = now;
    context.probeFile = [disk](const QString& path) {
        const auto it = disk.find(path);
        return it == disk.end() ? FilePresence::missing : it->second ? FilePresence::folder : FilePresence::file;
    };
    return context;
}

ItemRowFacts facts(const ClipboardItem& item, RowSettings settings = {}, RowContext context = contextWith())
{
    return ItemRowFacts::make(item, settings, context);
}

TEST(ItemRowFactsTest, TextAccessoriesFollowTheWholeText)
{
    struct Case {
        const char* text;
        bool swatch;
        bool link;
        bool command;
        bool breaksAnywhere;
    };
    for (const Case& c : {Case{"#FF0000", true, false, false, false}, Case{"#abc", true, false, false, false},
                          Case{"#FF000080", false, false, false, false}, Case{"rgb(1, 2, 3)", false, false, false, false},
                          Case{"https://example.com/a", false, true, false, true},
                          Case{"see https://example.com/a here", false, false, false, false},
                          Case{"someone@example.com", false, true, false, true},
                          Case{"git status --short", false, false, true, false}}) {
        const ItemRowFacts f = facts(text(QString::fromUtf8(c.text)));
        EXPECT_EQ(f.kind, ItemRowFacts::Kind::text);
        EXPECT_EQ(f.swatch.has_value(), c.swatch) << c.text;
        EXPECT_EQ(f.link.has_value(), c.link) << c.text;
        EXPECT_EQ(f.isCommand, c.command) << c.text;
        EXPECT_EQ(f.text.contains(QChar(0x200B)), c.breaksAnywhere) << c.text;
    }
    EXPECT_EQ(facts(text(QString(2500, QLatin1Char('x')))).text.size(), 2000);
}

TEST(ItemRowFactsTest, OnlyWebAndMailLinksGetAButton)
{
    for (const char* ok : {"http://example.com", "HTTPS://example.com/x?y=1", "ftp://files.example.org/a", "www.example.com",
                           "mailto:someone@example.com"})
        EXPECT_TRUE(openableLink(QString::fromUtf8(ok))) << ok;
    for (const char* refused : {"file:///etc/passwd", "javascript:alert(1)", "smb://server/share", "vscode://open",
                                "http://", "/usr/share/applications/x.desktop", "steam://run/1", "data:text/html,hi"})
        EXPECT_FALSE(openableLink(QString::fromUtf8(refused))) << refused;
    EXPECT_EQ(openableLink(QStringLiteral("someone@example.com"))->scheme(), QStringLiteral("mailto"));
}

TEST(ItemRowFactsTest, ASensitiveItemShowsNoContentInClear)
{
    ClipboardItem secret = text(QStringLiteral("https://bank.example.com/reset?token=hunter2"));
    secret.isSensitive = true;
    ItemRowFacts f = facts(secret);
    EXPECT_FALSE(f.text.contains(QStringLiteral("hunter2")));
    EXPECT_EQ(f.text, secret.maskedDisplayText());
    EXPECT_FALSE(f.link);
    EXPECT_TRUE(f.isSensitive);

    ClipboardItem colour = text(QStringLiteral("#FF0000"));
    colour.isSensitive = true;
    EXPECT_FALSE(facts(colour).swatch);

    ClipboardItem picture;
    picture.contentType = ClipboardContentType::image;
    picture.isSensitive = true;
    picture.ocrText = QStringLiteral("PIN 4711");
    // A picture that could be drawn: only the sensitive flag keeps its thumbnail away.
    RowContext readable = contextWith();
    readable.imageSize = QSize(640, 480);
    picture.isSensitive = false;
    ASSERT_TRUE(facts(picture, {}, readable).showThumbnail);
    picture.isSensitive = true;
    f = facts(picture, {}, readable);
    EXPECT_FALSE(f.showThumbnail);
    EXPECT_TRUE(f.recognisedText.isEmpty());

    ClipboardItem file = files({QStringLiteral("/home/u/secret-plan.pdf")});
    file.isSensitive = true;
    f = facts(file, {}, contextWith({{QStringLiteral("/home/u/secret-plan.pdf"), false}}));
    EXPECT_FALSE(f.fileNames.join(QString()).contains(QStringLiteral("secret")));
    EXPECT_TRUE(f.firstFilePath.isEmpty());
}

TEST(ItemRowFactsTest, Badges)
{
    ClipboardItem item = text(QStringLiteral("x"));
    item.isPinned = true;
    item.isPinnedToTop = true;
    item.comment = QString();
    item.sourceAppBundleId = QStringLiteral("org.mozilla.firefox");
    item.shortcut = ItemShortcut{18, ItemShortcut::commandFlag};
    ItemRowFacts f = facts(item);
    EXPECT_EQ(f.pinBadge, ItemRowFacts::PinBadge::pin);
    EXPECT_TRUE(f.hasComment) << "an empty comment still shows its badge";
    EXPECT_EQ(f.sourceAppBundleId, QStringLiteral("org.mozilla.firefox"));
    EXPECT_TRUE(f.shortcutText);

    item.isPinnedToTop = false;
    RowSettings noIcons;
    noIcons.showSourceAppIcon = false;
    f = facts(item, noIcons);
    EXPECT_EQ(f.pinBadge, ItemRowFacts::PinBadge::star);
    EXPECT_FALSE(f.sourceAppBundleId);
}

TEST(ItemRowFactsTest, ImagesShowTheirThumbnailHeightAndRecognisedText)
{
    ClipboardItem picture;
    picture.contentType = ClipboardContentType::image;
    picture.ocrText = QStringLiteral("Invoice\n42");
    picture.dateAdded = now.addSecs(-300);
    RowSettings settings;
    for (auto [setting, height] : {std::pair{"big", 120}, std::pair{"bigger", 200}, std::pair{"small", 60}}) {
        settings.imageThumbnailHeight = QString::fromUtf8(setting);
        EXPECT_EQ(facts(picture, settings).imageHeight, height);
    }
    EXPECT_FALSE(facts(picture).showThumbnail) << "no size: the data is gone";
    RowContext context = contextWith();
    context.imageSize = QSize(1920, 1080);
    const ItemRowFacts f = facts(picture, {}, context);
    EXPECT_TRUE(f.showThumbnail);
    EXPECT_EQ(f.recognisedText, QStringLiteral("Invoice 42"));
    EXPECT_EQ(f.metadataLine, QStringLiteral("5 mins ago · 1920x1080"));
}

TEST(ItemRowFactsTest, FileRows)
{
    const QString a = QStringLiteral("/d/a.txt"), b = QStringLiteral("/d/b.txt"), c = QStringLiteral("/d/c.txt"),
                  d = QStringLiteral("/d/d.txt"), dir = QStringLiteral("/d/Photos"), app = QStringLiteral("/d/Tool.AppDir");
    const RowContext disk = contextWith({{a, false}, {b, false}, {c, false}, {d, false}, {dir, true}, {app, true}});

    ItemRowFacts f = facts(files({a, b, c, d}), {}, disk);
    EXPECT_EQ(f.fileIcon, ItemRowFacts::FileIcon::multipleFiles);
    EXPECT_EQ(f.fileCaption, QStringLiteral("4 Files"));
    EXPECT_EQ(f.fileNames, (QStringList{"a.txt", "b.txt", "c.txt"}));
    EXPECT_EQ(f.fileOverflow, 1);

    f = facts(files({a, dir}), {}, disk);
    EXPECT_EQ(f.fileIcon, ItemRowFacts::FileIcon::mixed);
    EXPECT_EQ(f.fileCaption, QStringLiteral("1 File & 1 Folder"));

    f = facts(files({app}), {}, disk);
    EXPECT_EQ(f.fileCaption, QStringLiteral("1 File")) << "an application folder is one file";

    f = facts(files({QStringLiteral("/gone/x.txt")}), {}, disk);
    EXPECT_EQ(f.fileIcon, ItemRowFacts::FileIcon::missingFile);
    EXPECT_TRUE(f.anyFileMissing);
    EXPECT_EQ(f.fileMissing, QList<bool>{true});
    f = facts(files({QStringLiteral("/gone/dir")}, QList<bool>{true}), {}, disk);
    EXPECT_EQ(f.fileIcon, ItemRowFacts::FileIcon::missingFolder);

    // Not looked at yet: shown as stored, neither struck through nor dimmed.
    RowContext looking = disk;
    looking.probeFile = [](const QString&) { return FilePresence::unknown; };
    f = facts(files({QStringLiteral("/slow/x.txt"), QStringLiteral("/slow/dir")}, QList<bool>{false, true}), {}, looking);
    EXPECT_EQ(f.fileIcon, ItemRowFacts::FileIcon::mixed);
    EXPECT_FALSE(f.anyFileMissing);
    EXPECT_EQ(f.fileMissing, (QList<bool>{false, false}));

    f = facts(files({a, QStringLiteral("/gone/y.txt")}), {}, disk);
    EXPECT_EQ(f.fileIcon, ItemRowFacts::FileIcon::multipleFiles);
    EXPECT_TRUE(f.anyFileMissing);
    EXPECT_EQ(f.fileMissing, (QList<bool>{false, true}));

    f = facts(files({}), {}, disk);
    EXPECT_EQ(f.fileIcon, ItemRowFacts::FileIcon::noFile);
    EXPECT_EQ(f.fileCaption, QStringLiteral("0 Files"));
}

TEST(ItemRowFactsTest, MetadataAndDeletedLines)
{
    ClipboardItem item = text(QStringLiteral("x"));
    item.firstCopiedDate = now.addDays(-2);
    RowContext context = contextWith();
    context.categoryName = QStringLiteral("Work");
    EXPECT_EQ(facts(item, {}, context).metadataLine, QStringLiteral("5 mins ago · Work"));

    RowSettings exactOnly;
    exactOnly.showDateLabels = false;
    exactOnly.showExactTimestamps = true;
    const QString line = facts(item, exactOnly).metadataLine;
    EXPECT_TRUE(line.startsWith(QStringLiteral("Copied: "))) << line.toStdString();
    EXPECT_FALSE(line.contains(QStringLiteral("Pasted")));
    item.lastPastedDate = now.addSecs(-60);
    EXPECT_TRUE(facts(item, exactOnly).metadataLine.contains(QStringLiteral(" · Pasted: ")));

    RowSettings nothing;
    nothing.showDateLabels = false;
    EXPECT_TRUE(facts(item, nothing).metadataLine.isEmpty());

    item.isTrashed = true;
    item.trashedDate = now.addDays(-2);
    EXPECT_EQ(facts(item).deletedLine, QStringLiteral("Deleted: 2 days ago"));
}

} // namespace
} // namespace lumra
