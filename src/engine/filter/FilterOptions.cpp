#include "engine/filter/FilterOptions.h"

namespace lumra {

namespace {
template <typename Enum, size_t N>
std::optional<Enum> fromRaw(const std::array<Enum, N>& all, const QString& raw)
{
    for (Enum value : all) {
        if (toRawValue(value) == raw) return value;
    }
    return std::nullopt;
}
} // namespace

QString toRawValue(DateFilterOption option)
{
    switch (option) {
    case DateFilterOption::today: return QStringLiteral("today");
    case DateFilterOption::last24Hours: return QStringLiteral("last24Hours");
    case DateFilterOption::thisWeek: return QStringLiteral("thisWeek");
    case DateFilterOption::last7Days: return QStringLiteral("last7Days");
    case DateFilterOption::thisMonth: return QStringLiteral("thisMonth");
    case DateFilterOption::last30Days: return QStringLiteral("last30Days");
    case DateFilterOption::custom: return QStringLiteral("custom");
    }
    return {};
}

QString toRawValue(TypeFilterOption option)
{
    switch (option) {
    case TypeFilterOption::text: return QStringLiteral("text");
    case TypeFilterOption::images: return QStringLiteral("images");
    case TypeFilterOption::links: return QStringLiteral("links");
    case TypeFilterOption::emails: return QStringLiteral("emails");
    case TypeFilterOption::files: return QStringLiteral("files");
    case TypeFilterOption::folders: return QStringLiteral("folders");
    case TypeFilterOption::colors: return QStringLiteral("colors");
    case TypeFilterOption::commands: return QStringLiteral("commands");
    }
    return {};
}

QString toRawValue(SearchMode mode)
{
    switch (mode) {
    case SearchMode::contains: return QStringLiteral("contains");
    case SearchMode::exact: return QStringLiteral("exact");
    case SearchMode::fuzzy: return QStringLiteral("fuzzy");
    case SearchMode::regex: return QStringLiteral("regex");
    }
    return {};
}

std::optional<DateFilterOption> dateFilterOptionFromRawValue(const QString& raw) { return fromRaw(allDateFilterOptions, raw); }
std::optional<TypeFilterOption> typeFilterOptionFromRawValue(const QString& raw) { return fromRaw(allTypeFilterOptions, raw); }
std::optional<SearchMode> searchModeFromRawValue(const QString& raw) { return fromRaw(allSearchModes, raw); }

} // namespace lumra
