#include "ui/items/FilterBadgeModel.h"

#include "ui/items/FilterLabels.h"

#include <algorithm>

namespace lumra {

namespace {

const QString notPrefix = QStringLiteral("Not ");

FilterBadgeSpec badge(FilterBadgeKind kind, const QString& symbol, const QString& label, BadgeTint tint, bool pinned)
{
    FilterBadgeSpec spec;
    spec.kind = kind;
    spec.symbol = symbol;
    spec.label = label;
    spec.tint = tint;
    spec.isPinned = pinned;
    return spec;
}

FilterBadgeSpec typeBadge(FilterBadgeKind kind, TypeFilterOption option, bool pinned)
{
    const bool excluded = kind == FilterBadgeKind::excludedType;
    FilterBadgeSpec spec = badge(kind, FilterLabels::typeOptionSymbol(option),
                                 (excluded ? notPrefix : QString()) + FilterLabels::typeOption(option),
                                 excluded ? BadgeTint::red : BadgeTint::purple, pinned);
    spec.type = option;
    return spec;
}

FilterBadgeSpec appBadge(FilterBadgeKind kind, const QString& bundleId, const QList<SourceApp>& apps, bool pinned)
{
    const bool excluded = kind == FilterBadgeKind::excludedApp;
    FilterBadgeSpec spec = badge(kind, QString(), (excluded ? notPrefix : QString()) + FilterLabels::appName(bundleId, apps),
                                 excluded ? BadgeTint::red : BadgeTint::green, pinned);
    spec.bundleId = bundleId;
    return spec;
}

} // namespace

QList<FilterBadgeSpec> filterBadges(const FilterBadgeInputs& in)
{
    const FilterState& s = in.state;
    const PinnedFilters& pin = in.pin;
    QList<FilterBadgeSpec> badges;

    if (s.dateFilterOption) {
        badges.append(badge(FilterBadgeKind::date, QStringLiteral("calendar"),
                            FilterLabels::dateBadge(*s.dateFilterOption, s.customDateStart, s.customDateEnd, in.locale,
                                                    in.timeZone),
                            BadgeTint::accent, pin.date == s.dateFilterOption));
    }
    if (s.typeFilterOption)
        badges.append(typeBadge(FilterBadgeKind::type, *s.typeFilterOption, pin.type == s.typeFilterOption));
    if (s.appFilterBundleId) {
        badges.append(appBadge(FilterBadgeKind::app, *s.appFilterBundleId, in.sourceApps,
                               pin.appBundleId == s.appFilterBundleId));
    }
    if (s.selectedCategoryId) {
        const auto category = std::find_if(in.categories.cbegin(), in.categories.cend(),
                                           [&](const ClipboardCategory& c) { return c.id == *s.selectedCategoryId; });
        if (category != in.categories.cend()) {
            badges.append(badge(FilterBadgeKind::category, category->iconName, category->name, BadgeTint::green,
                                pin.categoryId == category->id));
        }
    }
    if (s.showStarredOnly)
        badges.append(badge(FilterBadgeKind::starred, QStringLiteral("star.fill"), QStringLiteral("Starred"), BadgeTint::yellow, pin.star));
    if (s.showPastedOnly)
        badges.append(badge(FilterBadgeKind::pasted, QStringLiteral("doc.on.clipboard"), QStringLiteral("Pasted"), BadgeTint::green, pin.pasted));
    if (s.searchTagsOnly)
        badges.append(badge(FilterBadgeKind::tags, QStringLiteral("tag"), QStringLiteral("Tags"), BadgeTint::accent, pin.tag));
    if (s.excludeStarred) {
        badges.append(badge(FilterBadgeKind::notStarred, QStringLiteral("star.slash.fill"), QStringLiteral("Not Starred"),
                            BadgeTint::red, pin.excludeStar));
    }
    for (TypeFilterOption option : allTypeFilterOptions) {
        if (s.excludedTypes.contains(option))
            badges.append(typeBadge(FilterBadgeKind::excludedType, option, pin.excludedTypes.contains(option)));
    }
    if (s.excludedDateOption) {
        badges.append(badge(FilterBadgeKind::excludedDate, QStringLiteral("calendar"),
                            notPrefix + FilterLabels::dateBadge(*s.excludedDateOption, s.excludedCustomDateStart,
                                                                s.excludedCustomDateEnd, in.locale, in.timeZone),
                            BadgeTint::red, pin.excludedDate == s.excludedDateOption));
    }
    QList<FilterBadgeSpec> excludedApps;
    for (const QString& bundleId : s.excludedAppBundleIds)
        excludedApps.append(appBadge(FilterBadgeKind::excludedApp, bundleId, in.sourceApps, pin.excludedApps.contains(bundleId)));
    std::sort(excludedApps.begin(), excludedApps.end(), [](const FilterBadgeSpec& a, const FilterBadgeSpec& b) {
        if (const int byName = a.label.compare(b.label, Qt::CaseInsensitive); byName != 0)
            return byName < 0;
        return a.bundleId < b.bundleId;
    });
    badges.append(excludedApps);
    if (s.showRecycleBin) {
        FilterBadgeSpec bin = badge(FilterBadgeKind::recycleBin, QStringLiteral("trash"),
                                    QStringLiteral("Recycle Bin (%1)").arg(in.trashedCount), BadgeTint::red, false);
        bin.tintOpacity = 0.15;
        badges.append(bin);
    }
    return badges;
}

bool clearButtonShown(const FilterState& s)
{
    return !s.searchText.isEmpty() || s.dateFilterOption || s.typeFilterOption || s.appFilterBundleId
        || s.showStarredOnly || s.showRecycleBin || s.showPastedOnly || s.searchTagsOnly || !s.excludedTypes.isEmpty()
        || s.excludeStarred || s.excludedDateOption || !s.excludedAppBundleIds.isEmpty();
}

} // namespace lumra
