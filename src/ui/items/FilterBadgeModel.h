#pragma once

#include "engine/filter/FilterState.h"
#include "engine/filter/PinnedFilters.h"
#include "model/ClipboardItem.h"

#include <QList>
#include <QLocale>
#include <QString>
#include <QTimeZone>

#include <optional>

namespace lumra {

enum class FilterBadgeKind {
    date, type, app, category, starred, pasted, tags, notStarred, excludedType, excludedDate, excludedApp, recycleBin
};

// The named colours a badge is tinted with; the accent follows the palette.
enum class BadgeTint { accent, purple, green, yellow, red };

// One badge of the search bar, as the bar draws it and as its remove button acts.
struct FilterBadgeSpec {
    FilterBadgeKind kind = FilterBadgeKind::date;
    QString symbol;   // empty for the application badges, which show the application's icon
    QString label;
    BadgeTint tint = BadgeTint::accent;
    qreal tintOpacity = 0.2;
    bool isPinned = false;
    QString bundleId;                      // app and excluded-app badges
    std::optional<TypeFilterOption> type;  // type and excluded-type badges

    friend bool operator==(const FilterBadgeSpec&, const FilterBadgeSpec&) = default;
};

struct FilterBadgeInputs {
    FilterState state;
    PinnedFilters pin;
    QList<ClipboardCategory> categories;
    QList<SourceApp> sourceApps;
    int trashedCount = 0;
    QLocale locale;
    QTimeZone timeZone = QTimeZone::systemTimeZone();
};

// The badges in the bar's order: date, type, application, category, starred, pasted, tags, not
// starred, excluded types, excluded date, excluded applications, recycle bin. The members of the
// two exclusion sets come in a fixed order (types as the type picker lists them, applications by
// name, then bundle id), so badges never swap places when the set is rebuilt.
QList<FilterBadgeSpec> filterBadges(const FilterBadgeInputs& inputs);

// Whether anything besides a category narrows the list: the bar then offers its clear button.
bool clearButtonShown(const FilterState& state);

} // namespace lumra
