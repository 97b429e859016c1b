#pragma once

#include "engine/SettingOptions.h"

#include <QList>
#include <QString>

#include <array>
#include <optional>

namespace lumra {

// The date filter's periods, in their significant order; raw values are the case names.
enum class DateFilterOption { today, last24Hours, thisWeek, last7Days, thisMonth, last30Days, custom };
inline constexpr std::array allDateFilterOptions{DateFilterOption::today, DateFilterOption::last24Hours,
    DateFilterOption::thisWeek, DateFilterOption::last7Days, DateFilterOption::thisMonth,
    DateFilterOption::last30Days, DateFilterOption::custom};

enum class TypeFilterOption { text, images, links, emails, files, folders, colors, commands };
inline constexpr std::array allTypeFilterOptions{TypeFilterOption::text, TypeFilterOption::images,
    TypeFilterOption::links, TypeFilterOption::emails, TypeFilterOption::files, TypeFilterOption::folders,
    TypeFilterOption::colors, TypeFilterOption::commands};

inline constexpr std::array allSearchModes{SearchMode::contains, SearchMode::exact, SearchMode::fuzzy, SearchMode::regex};

QString toRawValue(DateFilterOption option);
QString toRawValue(TypeFilterOption option);
QString toRawValue(SearchMode mode);
// Exact, case-sensitive raw values; anything else gives nullopt.
std::optional<DateFilterOption> dateFilterOptionFromRawValue(const QString& raw);
std::optional<TypeFilterOption> typeFilterOptionFromRawValue(const QString& raw);
std::optional<SearchMode> searchModeFromRawValue(const QString& raw);

inline size_t qHash(TypeFilterOption option, size_t seed = 0) noexcept { return size_t(option) ^ seed; }
inline size_t qHash(DateFilterOption option, size_t seed = 0) noexcept { return size_t(option) ^ seed; }

// An application that history items were copied from. Identified by bundleId; equal when both fields are.
struct SourceApp {
    QString bundleId;
    QString name;

    const QString& id() const { return bundleId; }
    friend bool operator==(const SourceApp&, const SourceApp&) = default;
};

} // namespace lumra
