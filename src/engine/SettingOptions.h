#pragma once

#include <QList>
#include <QString>
#include <QtGlobal>

#include <array>
#include <optional>
#include <string_view>

namespace lumra {

// The choices of option settings. A setting holds the raw value, never the enum; readers convert
// with fromRawValue<E>() when they use it. Raw values are stored by users' files: never change them.
// The cases stand in declaration order, which is also the order of allCases<E>().

enum class RetentionPeriod { oneWeek, twoWeeks, threeWeeks, oneMonth, twoMonths, threeMonths, fourMonths, fiveMonths, sixMonths, unlimited };

enum class AutoCleanInterval {
    disable, tenMinutes, twentyMinutes, thirtyMinutes, fortyFiveMinutes, oneHour, twoHours, threeHours, fiveHours,
    eightHours, twelveHours, sixteenHours, twentyFourHours, twoDays, threeDays, fourDays, fiveDays, sevenDays,
    tenDays, fifteenDays, twentyDays, oneMonth, twoMonths, threeMonths, fourMonths, fiveMonths, sixMonths
};

enum class CombineTextsMode { off, horizontal, vertical };
enum class ThumbnailQuality { low, normal, high };
enum class DividerStyle { none, inset, fullWidth };
enum class SearchMode { contains, exact, fuzzy, regex };
enum class ReminderThreshold { off, twoPerMinute, threePerMinute, fivePerMinute, tenPerMinute, twentyPerMinute };

enum class CopySoundOption { none, basso, blow, bottle, frog, funk, glass, hero, morse, ping, pop, purr, sosumi, submarine, tink, custom };

enum class QuickPasteModifier { disabled, command, control, option };

enum class PreviewShortcut { disabled, shiftCommand, option, control, shiftOption, shiftControl, optionCommand, controlCommand, spaceBar };

// Never stored; names an appearance preset. Has no allCases.
enum class AppearanceStyle { standard, minimal };

template <typename E, typename Raw>
struct OptionCase {
    E value;
    Raw raw;
};

template <typename E>
struct Options; // one specialisation per enum: `cases` and `caseIterable`

#define LUMRA_INT_OPTIONS(Enum, ...)                                                   \
    template <>                                                                         \
    struct Options<Enum> {                                                              \
        using C = OptionCase<Enum, qint64>;                                             \
        static constexpr bool caseIterable = true;                                      \
        static constexpr auto cases = std::to_array<C>({ __VA_ARGS__ });               \
    };
#define LUMRA_STRING_OPTIONS(Enum, iterable, ...)                                      \
    template <>                                                                         \
    struct Options<Enum> {                                                              \
        using C = OptionCase<Enum, std::string_view>;                                   \
        static constexpr bool caseIterable = iterable;                                  \
        static constexpr auto cases = std::to_array<C>({ __VA_ARGS__ });               \
    };

LUMRA_INT_OPTIONS(RetentionPeriod, { RetentionPeriod::oneWeek, 7 }, { RetentionPeriod::twoWeeks, 14 },
                  { RetentionPeriod::threeWeeks, 21 }, { RetentionPeriod::oneMonth, 30 }, { RetentionPeriod::twoMonths, 60 },
                  { RetentionPeriod::threeMonths, 90 }, { RetentionPeriod::fourMonths, 120 },
                  { RetentionPeriod::fiveMonths, 150 }, { RetentionPeriod::sixMonths, 180 }, { RetentionPeriod::unlimited, 0 })

LUMRA_INT_OPTIONS(AutoCleanInterval, { AutoCleanInterval::disable, 0 }, { AutoCleanInterval::tenMinutes, 10 },
                  { AutoCleanInterval::twentyMinutes, 20 }, { AutoCleanInterval::thirtyMinutes, 30 },
                  { AutoCleanInterval::fortyFiveMinutes, 45 }, { AutoCleanInterval::oneHour, 60 },
                  { AutoCleanInterval::twoHours, 120 }, { AutoCleanInterval::threeHours, 180 },
                  { AutoCleanInterval::fiveHours, 300 }, { AutoCleanInterval::eightHours, 480 },
                  { AutoCleanInterval::twelveHours, 720 }, { AutoCleanInterval::sixteenHours, 960 },
                  { AutoCleanInterval::twentyFourHours, 1440 }, { AutoCleanInterval::twoDays, 2880 },
                  { AutoCleanInterval::threeDays, 4320 }, { AutoCleanInterval::fourDays, 5760 },
                  { AutoCleanInterval::fiveDays, 7200 }, { AutoCleanInterval::sevenDays, 10080 },
                  { AutoCleanInterval::tenDays, 14400 }, { AutoCleanInterval::fifteenDays, 21600 },
                  { AutoCleanInterval::twentyDays, 28800 }, { AutoCleanInterval::oneMonth, 43200 },
                  { AutoCleanInterval::twoMonths, 86400 }, { AutoCleanInterval::threeMonths, 129600 },
                  { AutoCleanInterval::fourMonths, 172800 }, { AutoCleanInterval::fiveMonths, 216000 },
                  { AutoCleanInterval::sixMonths, 259200 })

LUMRA_STRING_OPTIONS(CombineTextsMode, true, { CombineTextsMode::off, "off" }, { CombineTextsMode::horizontal, "horizontal" },
                     { CombineTextsMode::vertical, "vertical" })
LUMRA_STRING_OPTIONS(ThumbnailQuality, true, { ThumbnailQuality::low, "low" }, { ThumbnailQuality::normal, "normal" },
                     { ThumbnailQuality::high, "high" })
LUMRA_STRING_OPTIONS(DividerStyle, true, { DividerStyle::none, "none" }, { DividerStyle::inset, "inset" },
                     { DividerStyle::fullWidth, "fullWidth" })
LUMRA_STRING_OPTIONS(SearchMode, true, { SearchMode::contains, "contains" }, { SearchMode::exact, "exact" },
                     { SearchMode::fuzzy, "fuzzy" }, { SearchMode::regex, "regex" })
LUMRA_INT_OPTIONS(ReminderThreshold, { ReminderThreshold::off, 0 }, { ReminderThreshold::twoPerMinute, 2 },
                  { ReminderThreshold::threePerMinute, 3 }, { ReminderThreshold::fivePerMinute, 5 },
                  { ReminderThreshold::tenPerMinute, 10 }, { ReminderThreshold::twentyPerMinute, 20 })
LUMRA_STRING_OPTIONS(CopySoundOption, true, { CopySoundOption::none, "none" }, { CopySoundOption::basso, "Basso" },
                     { CopySoundOption::blow, "Blow" }, { CopySoundOption::bottle, "Bottle" }, { CopySoundOption::frog, "Frog" },
                     { CopySoundOption::funk, "Funk" }, { CopySoundOption::glass, "Glass" }, { CopySoundOption::hero, "Hero" },
                     { CopySoundOption::morse, "Morse" }, { CopySoundOption::ping, "Ping" }, { CopySoundOption::pop, "Pop" },
                     { CopySoundOption::purr, "Purr" }, { CopySoundOption::sosumi, "Sosumi" },
                     { CopySoundOption::submarine, "Submarine" }, { CopySoundOption::tink, "Tink" },
                     { CopySoundOption::custom, "custom" })
LUMRA_STRING_OPTIONS(QuickPasteModifier, true, { QuickPasteModifier::disabled, "disabled" },
                     { QuickPasteModifier::command, "command" }, { QuickPasteModifier::control, "control" },
                     { QuickPasteModifier::option, "option" })
LUMRA_STRING_OPTIONS(PreviewShortcut, true, { PreviewShortcut::disabled, "disabled" },
                     { PreviewShortcut::shiftCommand, "shiftCommand" }, { PreviewShortcut::option, "option" },
                     { PreviewShortcut::control, "control" }, { PreviewShortcut::shiftOption, "shiftOption" },
                     { PreviewShortcut::shiftControl, "shiftControl" }, { PreviewShortcut::optionCommand, "optionCommand" },
                     { PreviewShortcut::controlCommand, "controlCommand" }, { PreviewShortcut::spaceBar, "spaceBar" })
LUMRA_STRING_OPTIONS(AppearanceStyle, false, { AppearanceStyle::standard, "default" }, { AppearanceStyle::minimal, "minimal" })

#undef LUMRA_INT_OPTIONS
#undef LUMRA_STRING_OPTIONS

template <typename E>
inline constexpr bool hasStringRawValue = std::is_same_v<typename Options<E>::C, OptionCase<E, std::string_view>>;

// qint64 for the numeric enums, QString for the string enums.
template <typename E>
auto rawValue(E value)
{
    for (const auto& c : Options<E>::cases) {
        if (c.value == value) {
            if constexpr (hasStringRawValue<E>)
                return QString::fromLatin1(c.raw.data(), qsizetype(c.raw.size()));
            else
                return c.raw;
        }
    }
    Q_UNREACHABLE();
}

// The case whose raw value equals `raw` exactly (case-sensitive for strings), else nullopt.
template <typename E>
std::optional<E> fromRawValue(const QString& raw) requires hasStringRawValue<E>
{
    for (const auto& c : Options<E>::cases) {
        if (raw == QLatin1String(c.raw.data(), qsizetype(c.raw.size())))
            return c.value;
    }
    return std::nullopt;
}

template <typename E>
std::optional<E> fromRawValue(qint64 raw) requires(!hasStringRawValue<E>)
{
    for (const auto& c : Options<E>::cases) {
        if (c.raw == raw)
            return c.value;
    }
    return std::nullopt;
}

template <typename E>
QList<E> allCases() requires Options<E>::caseIterable
{
    QList<E> cases;
    for (const auto& c : Options<E>::cases)
        cases.append(c.value);
    return cases;
}

// Picker labels ("2 weeks", "24 hours", "Custom...").
QString displayName(RetentionPeriod period);
QString displayName(AutoCleanInterval interval);
QString displayName(CopySoundOption option);

} // namespace lumra
