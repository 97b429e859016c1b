#pragma once

#include "engine/filter/FilterOptions.h"

#include <QString>

#include <functional>
#include <optional>

namespace lumra {

class ClipboardManager;

enum class SlashCommand {
    excludeDate, excludeType, excludeApp, excludeStar, excludeLink, excludeImage, excludeColor, excludeFolder,
    excludeFile, excludeTerminal, excludeText, excludeEmail,
    date, type, app, category, tag, star, link, image, color, folder, file, terminal, text, email,
    pasted, trash, unpin, pin, help
};

// The popovers of the search bar, in the order they hang from it.
enum class FilterPopover {
    date, customDate, type, app, category, excludeDate, excludeCustomDate, excludeType, excludeApp
};

struct SlashCommandMatch {
    SlashCommand command;
    QString remainingText; // the text as typed, without the command word

    friend bool operator==(const SlashCommandMatch&, const SlashCommandMatch&) = default;
};

// The command word the text ends with, in any letter case. It counts only as a word of its own, at
// the start of the field or after white space, so a path ("/usr/bin/cat") or an address
// ("https://host/help") is searched for like any other text.
std::optional<SlashCommandMatch> matchSlashCommand(const QString& text);

// What a command does beyond the filters: open a popover or a web page.
struct SlashCommandHost {
    std::function<void(FilterPopover)> openPopover;
    std::function<void()> openHelp;
};

// Strips the command from the search text, then performs it.
void runSlashCommand(ClipboardManager& manager, const SlashCommandMatch& match, const SlashCommandHost& host);

// Puts the type into the excluded types, or takes it out when it is there.
void toggleExcludedType(ClipboardManager& manager, TypeFilterOption type);
// The search text and every filter but the category, off; the list is computed once.
void clearAllFilters(ClipboardManager& manager);

} // namespace lumra
