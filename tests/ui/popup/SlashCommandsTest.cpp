#include "ui/popup/SlashCommands.h"
#include "ui/settings/CommandsPage.h"

#include "engine/ClipboardManager.h"
#include "engine/HistoryFilter.h"
#include "platform/cloud/CloudKeyValueStore.h"
#include "platform/defaults/UserDefaults.h"

#include "TempDataDir.h"

#include <gtest/gtest.h>

using namespace lumra;

namespace {

struct ParseCase {
    const char* text;
    std::optional<SlashCommand> command;
    const char* remaining;
};

void PrintTo(const ParseCase& c, std::ostream* out) { *out << '"' << c.text << '"'; }

class SlashCommandParsing : public testing::TestWithParam<ParseCase> { };

TEST_P(SlashCommandParsing, RecognisesOnlyAWordOfItsOwnAtTheEnd)
{
    const ParseCase& c = GetParam();
    const std::optional<SlashCommandMatch> match = matchSlashCommand(QString::fromUtf8(c.text));
    ASSERT_EQ(match.has_value(), c.command.has_value());
    if (match) {
        EXPECT_EQ(match->command, *c.command);
        EXPECT_EQ(match->remainingText, QString::fromUtf8(c.remaining));
    }
}

INSTANTIATE_TEST_SUITE_P(Table, SlashCommandParsing, testing::Values(
    ParseCase{"/star", SlashCommand::star, ""},
    ParseCase{"/STAR", SlashCommand::star, ""},
    ParseCase{"report /link", SlashCommand::link, "report "},
    ParseCase{"report\t/Pin", SlashCommand::pin, "report\t"},
    ParseCase{"/ex date", SlashCommand::excludeDate, ""},
    ParseCase{"a /ex terminal", SlashCommand::excludeTerminal, "a "},
    ParseCase{"/unpin", SlashCommand::unpin, ""},
    ParseCase{"/pinx", std::nullopt, ""},
    ParseCase{"/usr/bin/cat", std::nullopt, ""},
    ParseCase{"https://host/help", std::nullopt, ""},
    ParseCase{"see https://host/help", std::nullopt, ""},
    ParseCase{"~/notes/today/date", std::nullopt, ""},
    ParseCase{"report/link", std::nullopt, ""},
    ParseCase{"/ex", std::nullopt, ""},
    ParseCase{"", std::nullopt, ""}));

class SlashCommandEffects : public testing::Test {
protected:
    SlashCommandEffects()
        : defaults(dir.configHome() + QStringLiteral("/settings.json"))
    {
        ClipboardManager::registerDefaultSettings(defaults);
        manager = std::make_unique<ClipboardManager>(defaults, &kv);
    }

    void type(const QString& text)
    {
        manager->filters().setSearchText(text);
        if (const auto match = matchSlashCommand(text))
            runSlashCommand(*manager, *match, host);
    }

    test::TempDataDir dir;
    UserDefaults defaults;
    InMemoryCloudKeyValueStore kv;
    std::unique_ptr<ClipboardManager> manager;
    QList<FilterPopover> opened;
    int helpOpened = 0;
    SlashCommandHost host{[this](FilterPopover p) { opened.append(p); }, [this] { ++helpOpened; }};
};

TEST_F(SlashCommandEffects, TogglesFiltersOpensPopoversAndKeepsTheWordsBefore)
{
    type(QStringLiteral("invoice /link"));
    EXPECT_EQ(manager->filters().searchText(), QStringLiteral("invoice "));
    EXPECT_EQ(manager->filters().typeFilterOption(), TypeFilterOption::links);
    type(QStringLiteral("invoice /image"));
    EXPECT_EQ(manager->filters().typeFilterOption(), TypeFilterOption::images);
    type(QStringLiteral("invoice /image"));
    EXPECT_EQ(manager->filters().typeFilterOption(), std::nullopt);

    type(QStringLiteral("/ex text"));
    type(QStringLiteral("/ex color"));
    type(QStringLiteral("/ex text"));
    EXPECT_EQ(manager->filters().excludedTypes(), QSet<TypeFilterOption>{TypeFilterOption::colors});

    type(QStringLiteral("/ex date"));
    type(QStringLiteral("/date"));
    EXPECT_EQ(opened, (QList<FilterPopover>{FilterPopover::excludeDate, FilterPopover::date}));

    type(QStringLiteral("/trash")); // the recycle bin is off: only the word goes
    EXPECT_FALSE(manager->filters().showRecycleBin());
    EXPECT_EQ(manager->filters().searchText(), QString());

    type(QStringLiteral("/usr/bin/cat"));
    EXPECT_EQ(manager->filters().searchText(), QStringLiteral("/usr/bin/cat"));
    type(QStringLiteral("https://host/help"));
    EXPECT_EQ(helpOpened, 0);
    EXPECT_EQ(opened.size(), 2);
}

TEST_F(SlashCommandEffects, PinUnpinAndClearAllLeaveTheCategory)
{
    const QUuid category = QUuid::createUuid();
    manager->setCategories({ClipboardCategory{category, QStringLiteral("Work"), QStringLiteral("folder")}});
    manager->filters().setSelectedCategoryId(category);
    type(QStringLiteral("/star"));
    type(QStringLiteral("/pin"));
    EXPECT_TRUE(manager->filters().pinnedFilters().star);
    EXPECT_EQ(manager->filters().pinnedFilters().categoryId, category);

    type(QStringLiteral("/unpin"));
    EXPECT_EQ(manager->filters().pinnedFilters(), PinnedFilters());
    EXPECT_TRUE(manager->filters().showStarredOnly());

    manager->filters().setSearchText(QStringLiteral("abc"));
    manager->filters().setExcludedAppBundleIds({QStringLiteral("org.mozilla.firefox")});
    clearAllFilters(*manager);
    EXPECT_EQ(manager->filters().searchText(), QString());
    EXPECT_FALSE(manager->filters().showStarredOnly());
    EXPECT_TRUE(manager->filters().excludedAppBundleIds().isEmpty());
    EXPECT_EQ(manager->filters().selectedCategoryId(), category);
}

} // namespace

namespace {

// Typed a key at a time, as the field runs them, no example asks for words after a command that
// opens a picker at once: those words would become a search instead.
TEST(SlashCommandExamples, EveryExampleWorksAsTyped)
{
    const QSet<SlashCommand> pickers{SlashCommand::date, SlashCommand::type, SlashCommand::app, SlashCommand::category,
                                     SlashCommand::excludeDate, SlashCommand::excludeType, SlashCommand::excludeApp};
    for (const CommandsPage::CommandInfo& example : CommandsPage::examples()) {
        const QString typed = example.command;
        QString field;
        std::optional<SlashCommand> pickerOpened;
        for (qsizetype i = 0; i < typed.size(); ++i) {
            field += typed.at(i);
            if (const std::optional<SlashCommandMatch> match = matchSlashCommand(field)) {
                EXPECT_FALSE(pickerOpened) << typed.toStdString() << ": a picker opened before the example ended";
                if (pickers.contains(match->command))
                    pickerOpened = match->command;
                field = match->remainingText;
            }
        }
        EXPECT_FALSE(pickerOpened && !field.trimmed().isEmpty()) << typed.toStdString();
    }
}

} // namespace
