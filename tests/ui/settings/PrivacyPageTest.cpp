#include "ui/settings/PrivacyPage.h"

#include "engine/ClipboardManager.h"
#include "ui/settings/ApplicationChooser.h"
#include "ui/settings/BoundRows.h"
#include "ui/settings/IgnoredAppsBox.h"

#include "SettingsPageFixture.h"

#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QListWidget>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolButton>

namespace lumra {
namespace {

using namespace lumra::test;

class PrivacyPageTest : public SettingsPageTest {
protected:
    IgnoredAppsBox& box() { return *page<PrivacyPage>(SettingsTab::privacy).appsBox(); }
    QStringList listedNames()
    {
        QStringList names;
        for (int row = 0; row < box().list()->count(); ++row)
            names.append(box().list()->item(row)->text());
        return names;
    }
    void select(int row) { box().list()->item(row)->setSelected(true); }
    // The chooser answers with `answers`, one per opening.
    void chooseNext(QList<std::optional<IgnoredApp>> answers)
    {
        box().setChooser([answers](QWidget*) mutable {
            return answers.isEmpty() ? std::nullopt : answers.takeFirst();
        });
    }
};

TEST_F(PrivacyPageTest, AddsThroughTheChooserOnceAndRemovesAfterAsking)
{
    window().present(SettingsTab::privacy);
    EXPECT_EQ(listedNames(), (QStringList {"KeePassXC", "Passwords and Keys"}));
    EXPECT_FALSE(box().removeButton()->isEnabled());

    chooseNext({IgnoredApp {"org.example.Vault", "Vault"}, std::nullopt, IgnoredApp {"org.example.Vault", "Renamed"}});
    box().addButton()->click();
    box().addButton()->click(); // cancelled
    box().addButton()->click(); // already listed: keeps its earlier name
    EXPECT_EQ(listedNames(), (QStringList {"KeePassXC", "Passwords and Keys", "Vault"}));
    EXPECT_EQ(manager->ignoredApplications().last(), (IgnoredApp {"org.example.Vault", "Vault"}));

    select(2);
    ASSERT_TRUE(box().removeButton()->isEnabled());
    prompts.answerNext(1);
    box().removeButton()->click();
    ASSERT_EQ(prompts.shown.size(), 1);
    EXPECT_EQ(prompts.shown[0].title, "Remove Vault from ignored apps?");
    EXPECT_EQ(prompts.shown[0].text, "Content copied from this application will be saved to your clipboard history.");
    EXPECT_EQ(prompts.shown[0].buttons, (QStringList {"Remove", "Cancel"}));
    EXPECT_EQ(listedNames().size(), 3);
    EXPECT_EQ(box().selectedAppId(), "org.example.Vault") << "a cancelled removal keeps the selection";

    for (int left = 3; left > 0; --left) {
        select(0);
        prompts.answerNext(0);
        box().removeButton()->click();
        EXPECT_FALSE(box().selectedAppId());
        EXPECT_FALSE(box().removeButton()->isEnabled());
    }
    EXPECT_TRUE(listedNames().isEmpty());

    // Emptied on purpose, the list stays empty at the next start.
    closeWindow();
    hotKeys.reset();
    manager.reset();
    openDefaults();
    manager = makeManager();
    EXPECT_TRUE(manager->ignoredApplications().isEmpty());
}

TEST_F(PrivacyPageTest, AListThatCannotBeReadShowsTheDefaultsAndStaysUntilEdited)
{
    closeWindow();
    hotKeys.reset();
    manager.reset();
    openDefaults().set("ignoredApplications", QByteArray("[{\"bundleIdentifier\": 7}"));
    manager = makeManager();
    hotKeys = std::make_unique<HotKeyManager>(keys, *defaults, clock);
    window().present(SettingsTab::privacy);
    EXPECT_EQ(listedNames(), (QStringList {"KeePassXC", "Passwords and Keys"}));
    page<PrivacyPage>(SettingsTab::privacy).transientRow()->toggle()->click();
    EXPECT_EQ(defaults->data("ignoredApplications"), QByteArray("[{\"bundleIdentifier\": 7}"));

    chooseNext({IgnoredApp {"org.example.Vault", "Vault"}});
    box().addButton()->click();
    const auto stored = decodeIgnoredApplications(*defaults->data("ignoredApplications"));
    ASSERT_TRUE(stored);
    EXPECT_EQ(stored->size(), 3);
}

TEST_F(PrivacyPageTest, TheSwitchAndTheListFollowChangesMadeElsewhere)
{
    window().present(SettingsTab::privacy);
    SettingSwitchRow* transient = page<PrivacyPage>(SettingsTab::privacy).transientRow();
    EXPECT_TRUE(transient->toggle()->isChecked());
    transient->toggle()->click();
    EXPECT_FALSE(manager->ignoreTransientContent());
    ASSERT_TRUE(manager->setIgnoreTransientContent(true));
    EXPECT_TRUE(transient->toggle()->isChecked());

    select(1);
    manager->appendIgnoredApp("org.example.Other", "Other");
    EXPECT_EQ(listedNames().last(), "Other");
    EXPECT_EQ(box().selectedAppId(), "org.gnome.seahorse.Application") << "the selection survives a redraw";
    manager->removeIgnoredAppEntry("org.gnome.seahorse.Application");
    EXPECT_FALSE(box().selectedAppId());
    EXPECT_FALSE(box().removeButton()->isEnabled());
}

TEST_F(PrivacyPageTest, TheBoxTakesItsIconSizeAndHeight)
{
    IgnoredAppsBox small(*manager, prompts, 24, 120);
    EXPECT_EQ(small.list()->iconSize(), QSize(24, 24));
    EXPECT_EQ(small.list()->height(), 120);
    EXPECT_EQ(small.list()->item(0)->icon().isNull(), false) << "an application not installed shows the generic icon";
}

TEST_F(PrivacyPageTest, AnAppWithOnlyASmallIconLinesItsNameUpWithTheOthers)
{
    IgnoredAppsBox& apps = box();
    apps.resize(400, 300);
    QListWidget* list = apps.list();
    const auto iconOf = [](int size) {
        QPixmap pixmap(size, size);
        pixmap.fill(Qt::darkCyan);
        return QIcon(pixmap);
    };
    list->clear();
    new QListWidgetItem(iconOf(32), QStringLiteral("Full"), list);
    new QListWidgetItem(iconOf(16), QStringLiteral("Small"), list);
    auto* delegate = qobject_cast<FullIconDelegate*>(list->itemDelegate());
    ASSERT_TRUE(delegate);
    QList<int> textLeft;
    for (int row = 0; row < 2; ++row) {
        QStyleOptionViewItem base;
        base.initFrom(list);
        base.widget = list;
        base.rect = list->visualItemRect(list->item(row));
        base.decorationSize = list->iconSize();
        base.features |= QStyleOptionViewItem::HasDecoration;
        const QStyleOptionViewItem option = delegate->rowOption(base, list->model()->index(row, 0));
        EXPECT_EQ(option.decorationSize, QSize(32, 32)) << row;
        EXPECT_EQ(option.icon.actualSize(QSize(32, 32)), QSize(32, 32)) << "drawn at the full size, row " << row;
        textLeft << list->style()->subElementRect(QStyle::SE_ItemViewItemText, &option, list).left();
    }
    EXPECT_EQ(textLeft[0], textLeft[1]);
}

// The chooser over installed entries: what it lists, how it searches, and files picked by path.
class ApplicationChooserTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(QDir(root.path()).mkpath("applications/kde4"));
        ASSERT_TRUE(QDir(root.path()).mkpath("bin"));
        write("applications/org.example.Vault.desktop", "Name=Vault\nExec=/opt/vault/vault --quiet %U\n");
        write("applications/kde4/kate.desktop", "Name=kate\nExec=kate %F\n");
        write("applications/unnamed.desktop", "Exec=\"/opt/my tools/unnamed\"\n");
        write("applications/helper.desktop", "Name=Helper\nNoDisplay=true\n");
        write("applications/Zebra.desktop", "Name=Zebra\n");
        write("applications/link.desktop", "Name=Web page\n", "Link");
        write("elsewhere.desktop", "Name=Somewhere Else\n");
        write("notes.txt", "just text");
        for (const char* program : {"bin/kate", "bin/stranger"}) {
            write(program, "#!/bin/sh\n");
            QFile::setPermissions(root.filePath(program), QFile::ReadOwner | QFile::ExeOwner | QFile::WriteOwner);
        }
        folders = {root.filePath("applications")};
        index.load(folders);
    }
    void write(const QString& relative, const QByteArray& body, const QByteArray& type = "Application")
    {
        QFile file(root.filePath(relative));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(relative.endsWith(".desktop") ? "[Desktop Entry]\nType=" + type + "\n" + body : body);
    }

    QTemporaryDir root;
    QStringList folders;
    DesktopEntryIndex index;
};

TEST_F(ApplicationChooserTest, ListsWhatMenusShowByNameWithoutCase)
{
    QStringList shown;
    for (const DesktopEntry& entry : choosableApplications(index.entries()))
        shown.append(entry.name.isEmpty() ? "(" + entry.id + ")" : entry.name);
    EXPECT_EQ(shown, (QStringList {"kate", "(unnamed)", "Vault", "Zebra"}));
    EXPECT_EQ(index.entry("unnamed")->program, "/opt/my tools/unnamed");
    EXPECT_EQ(index.entry("kde4-kate")->program, "kate");
}

TEST_F(ApplicationChooserTest, AFilePickedByPathIsTheApplicationCaptureRecords)
{
    struct Case {
        const char* file;
        QString id; // empty: refused
        QString name;
    };
    const Case cases[] = {
        {"applications/kde4/kate.desktop", "kde4-kate", "kate"},
        {"applications/unnamed.desktop", "unnamed", "unnamed"},
        {"elsewhere.desktop", "elsewhere", "Somewhere Else"},
        {"applications/link.desktop", {}, {}},
        {"bin/kate", "kde4-kate", "kate"},
        {"bin/stranger", "stranger", "stranger"},
        {"notes.txt", {}, {}},
        {"bin", {}, {}},
    };
    for (const Case& c : cases) {
        const Result<IgnoredApp> app = applicationForPath(root.filePath(c.file), index, folders);
        if (c.id.isEmpty()) {
            EXPECT_FALSE(app) << c.file;
            EXPECT_FALSE(app.error().isEmpty()) << c.file;
            continue;
        }
        ASSERT_TRUE(app) << c.file << ": " << app.error().toStdString();
        EXPECT_EQ(*app, (IgnoredApp {c.id, c.name})) << c.file;
    }
}

TEST_F(ApplicationChooserTest, SearchesPicksAndSaysWhyAFileWasRefused)
{
    ApplicationChooser chooser(choosableApplications(index.entries()));
    chooser.setIndex(&index, folders);
    chooser.show();
    chooser.searchField()->setText("VA");
    EXPECT_EQ(chooser.visibleNames(), (QStringList {"Vault"}));
    EXPECT_TRUE(chooser.addButton()->isEnabled());
    chooser.searchField()->setText("nothing like it");
    EXPECT_FALSE(chooser.addButton()->isEnabled());

    chooser.setChooseFile([this] { return root.filePath("notes.txt"); });
    chooser.otherButton()->click();
    EXPECT_TRUE(chooser.isVisible()) << "a refused file leaves the chooser open with the reason";
    EXPECT_FALSE(chooser.chosen());

    chooser.searchField()->setText("kat");
    chooser.addButton()->click();
    EXPECT_EQ(chooser.result(), QDialog::Accepted);
    EXPECT_EQ(chooser.chosen(), (IgnoredApp {"kde4-kate", "kate"}));
}

TEST_F(PrivacyPageTest, SaysWhenTheDesktopCannotTellWhichApplicationCopied)
{
    EXPECT_EQ(page<PrivacyPage>(SettingsTab::privacy).sourceNote(), nullptr);
    closeWindow();

    workspace.setKnowsSourceApplications(false);
    SettingsWindow& w = window();
    w.present(SettingsTab::privacy);
    QLabel* note = page<PrivacyPage>(SettingsTab::privacy).sourceNote();
    ASSERT_NE(note, nullptr);
    EXPECT_TRUE(note->isVisible());
    EXPECT_TRUE(note->text().contains("does not tell Lumra which application made a copy"));
    saveScreenshots(w, "settings-privacy-no-source");
}

TEST_F(PrivacyPageTest, Screenshots)
{
    manager->appendIgnoredApp("firefox-esr", "Firefox ESR");
    SettingsWindow& w = window();
    w.present(SettingsTab::privacy);
    select(0);
    saveScreenshots(w, "settings-privacy");

    QTemporaryDir folder;
    QDir(folder.path()).mkpath("applications");
    QFile entry(folder.filePath("applications/org.example.Vault.desktop"));
    ASSERT_TRUE(entry.open(QIODevice::WriteOnly));
    entry.write("[Desktop Entry]\nType=Application\nName=Vault\nIcon=dialog-password\n");
    entry.close();
    DesktopEntryIndex index;
    index.load({folder.filePath("applications")});
    QList<DesktopEntry> entries = index.entries();
    for (const char* name : {"Calculator", "Files", "Text Editor", "Terminal"})
        entries.append(DesktopEntry {QString(name).toLower(), name, {}, {}, {}, false, false});
    ApplicationChooser chooser(choosableApplications(entries));
    chooser.show();
    saveScreenshots(chooser, "settings-privacy-chooser");
}

} // namespace
} // namespace lumra
