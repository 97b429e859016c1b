#include "ui/popup/SlashCommands.h"

#include "engine/ClipboardManager.h"

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
    QSet<TypeFilterOption> types = manager.excludedTypes();
    if (!types.remove(type))
        types.insert(type);
    manager.setExcludedTypes(types);
}

void runSlashCommand(ClipboardManager& manager, const SlashCommandMatch& match, const SlashCommandHost& host)
{
    manager.setSearchText(match.remainingText);
    const auto open = [&](FilterPopover popover) {
        if (host.openPopover)
            host.openPopover(popover);
    };
    if (const std::optional<TypeFilterOption> type = typeOf(match.command)) {
        if (isExclusion(match.command))
            toggleExcludedType(manager, *type);
        else
            manager.setTypeFilterOption(manager.typeFilterOption() == type ? std::nullopt : type);
        return;
    }
    switch (match.command) {
    case SlashCommand::excludeDate: open(FilterPopover::excludeDate); break;
    case SlashCommand::excludeType: open(FilterPopover::excludeType); break;
    case SlashCommand::excludeApp: open(FilterPopover::excludeApp); break;
    case SlashCommand::excludeStar: manager.setExcludeStarred(!manager.excludeStarred()); break;
    case SlashCommand::date: open(FilterPopover::date); break;
    case SlashCommand::type: open(FilterPopover::type); break;
    case SlashCommand::app: open(FilterPopover::app); break;
    case SlashCommand::category: open(FilterPopover::category); break;
    case SlashCommand::tag: manager.setSearchTagsOnly(!manager.searchTagsOnly()); break;
    case SlashCommand::star: manager.setShowStarredOnly(!manager.showStarredOnly()); break;
    case SlashCommand::pasted: manager.setShowPastedOnly(!manager.showPastedOnly()); break;
    case SlashCommand::trash:
        if (manager.recycleBinEnabled())
            manager.setShowRecycleBin(!manager.showRecycleBin());
        break;
    case SlashCommand::unpin:
        manager.setPinnedFilters(PinnedFilters());
        manager.savePinnedFilters();
        break;
    case SlashCommand::pin: manager.pinCurrentFilters(); break;
    case SlashCommand::help:
        if (host.openHelp)
            host.openHelp();
        break;
    default: break;
    }
}

void clearAllFilters(ClipboardManager& manager)
{
    ClipboardManager::FilterUpdateBatch batch(manager);
    manager.setSearchText(QString());
    manager.setDateFilterOption(std::nullopt);
    manager.setTypeFilterOption(std::nullopt);
    manager.setAppFilterBundleId(std::nullopt);
    manager.setShowStarredOnly(false);
    manager.setShowRecycleBin(false);
    manager.setShowPastedOnly(false);
    manager.setSearchTagsOnly(false);
    manager.setExcludedTypes({});
    manager.setExcludeStarred(false);
    manager.setExcludedDateOption(std::nullopt);
    manager.setExcludedAppBundleIds({});
}

} // namespace lumra
