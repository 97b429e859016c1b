#include "ui/popup/SlashCommands.h"

#include "engine/ClipboardManager.h"
#include "engine/HistoryFilter.h"

#include <array>

namespace lumra {

namespace {

struct CommandWord {
    const char* word;
    SlashCommand command;
};

// No word ends with another one, so at most one matches; the order is the order of testing.
constexpr std::array<CommandWord, 31> commandWords{{
    {"/ex date", SlashCommand::excludeDate},
    {"/ex type", SlashCommand::excludeType},
    {"/ex app", SlashCommand::excludeApp},
    {"/ex star", SlashCommand::excludeStar},
    {"/ex link", SlashCommand::excludeLink},
    {"/ex image", SlashCommand::excludeImage},
    {"/ex color", SlashCommand::excludeColor},
    {"/ex folder", SlashCommand::excludeFolder},
    {"/ex file", SlashCommand::excludeFile},
    {"/ex terminal", SlashCommand::excludeTerminal},
    {"/ex text", SlashCommand::excludeText},
    {"/ex email", SlashCommand::excludeEmail},
    {"/date", SlashCommand::date},
    {"/type", SlashCommand::type},
    {"/app", SlashCommand::app},
    {"/cat", SlashCommand::category},
    {"/tag", SlashCommand::tag},
    {"/star", SlashCommand::star},
    {"/link", SlashCommand::link},
    {"/image", SlashCommand::image},
    {"/color", SlashCommand::color},
    {"/folder", SlashCommand::folder},
    {"/file", SlashCommand::file},
    {"/terminal", SlashCommand::terminal},
    {"/text", SlashCommand::text},
    {"/email", SlashCommand::email},
    {"/pasted", SlashCommand::pasted},
    {"/trash", SlashCommand::trash},
    {"/unpin", SlashCommand::unpin},
    {"/pin", SlashCommand::pin},
    {"/help", SlashCommand::help},
}};

std::optional<TypeFilterOption> typeOf(SlashCommand command)
{
    switch (command) {
    case SlashCommand::link: case SlashCommand::excludeLink: return TypeFilterOption::links;
    case SlashCommand::image: case SlashCommand::excludeImage: return TypeFilterOption::images;
    case SlashCommand::color: case SlashCommand::excludeColor: return TypeFilterOption::colors;
    case SlashCommand::folder: case SlashCommand::excludeFolder: return TypeFilterOption::folders;
    case SlashCommand::file: case SlashCommand::excludeFile: return TypeFilterOption::files;
    case SlashCommand::terminal: case SlashCommand::excludeTerminal: return TypeFilterOption::commands;
    case SlashCommand::text: case SlashCommand::excludeText: return TypeFilterOption::text;
    case SlashCommand::email: case SlashCommand::excludeEmail: return TypeFilterOption::emails;
    default: return std::nullopt;
    }
}

bool isExclusion(SlashCommand command) { return command <= SlashCommand::excludeEmail; }

} // namespace

std::optional<SlashCommandMatch> matchSlashCommand(const QString& text)
{
    for (const CommandWord& entry : commandWords) {
        const QLatin1StringView word(entry.word);
        if (!text.endsWith(word, Qt::CaseInsensitive))
            continue;
        const qsizetype start = text.size() - word.size();
        if (start > 0 && !text.at(start - 1).isSpace())
            return std::nullopt;
        return SlashCommandMatch{entry.command, text.left(start)};
    }
    return std::nullopt;
}

void toggleExcludedType(ClipboardManager& manager, TypeFilterOption type)
{
    QSet<TypeFilterOption> types = manager.filters().excludedTypes();
    if (!types.remove(type))
        types.insert(type);
    manager.filters().setExcludedTypes(types);
}

void runSlashCommand(ClipboardManager& manager, const SlashCommandMatch& match, const SlashCommandHost& host)
{
    manager.filters().setSearchText(match.remainingText);
    const auto open = [&](FilterPopover popover) {
        if (host.openPopover)
            host.openPopover(popover);
    };
    if (const std::optional<TypeFilterOption> type = typeOf(match.command)) {
        if (isExclusion(match.command))
            toggleExcludedType(manager, *type);
        else
            manager.filters().setTypeFilterOption(manager.filters().typeFilterOption() == type ? std::nullopt : type);
        return;
    }
    switch (match.command) {
    case SlashCommand::excludeDate: open(FilterPopover::excludeDate); break;
    case SlashCommand::excludeType: open(FilterPopover::excludeType); break;
    case SlashCommand::excludeApp: open(FilterPopover::excludeApp); break;
    case SlashCommand::excludeStar: manager.filters().setExcludeStarred(!manager.filters().excludeStarred()); break;
    case SlashCommand::date: open(FilterPopover::date); break;
    case SlashCommand::type: open(FilterPopover::type); break;
    case SlashCommand::app: open(FilterPopover::app); break;
    case SlashCommand::category: open(FilterPopover::category); break;
    case SlashCommand::tag: manager.filters().setSearchTagsOnly(!manager.filters().searchTagsOnly()); break;
    case SlashCommand::star: manager.filters().setShowStarredOnly(!manager.filters().showStarredOnly()); break;
    case SlashCommand::pasted: manager.filters().setShowPastedOnly(!manager.filters().showPastedOnly()); break;
    case SlashCommand::trash:
        if (manager.recycleBinEnabled())
            manager.filters().setShowRecycleBin(!manager.filters().showRecycleBin());
        break;
    case SlashCommand::unpin:
        manager.filters().setPinnedFilters(PinnedFilters());
        manager.filters().savePinnedFilters();
        break;
    case SlashCommand::pin: manager.filters().pinCurrentFilters(); break;
    case SlashCommand::help:
        if (host.openHelp)
            host.openHelp();
        break;
    default: break;
    }
}

void clearAllFilters(ClipboardManager& manager)
{
    HistoryFilter::FilterUpdateBatch batch(manager.filters());
    manager.filters().setSearchText(QString());
    manager.filters().setDateFilterOption(std::nullopt);
    manager.filters().setTypeFilterOption(std::nullopt);
    manager.filters().setAppFilterBundleId(std::nullopt);
    manager.filters().setShowStarredOnly(false);
    manager.filters().setShowRecycleBin(false);
    manager.filters().setShowPastedOnly(false);
    manager.filters().setSearchTagsOnly(false);
    manager.filters().setExcludedTypes({});
    manager.filters().setExcludeStarred(false);
    manager.filters().setExcludedDateOption(std::nullopt);
    manager.filters().setExcludedAppBundleIds({});
}

} // namespace lumra
