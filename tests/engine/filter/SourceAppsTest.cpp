#include "engine/filter/SourceApps.h"

#include "FilterTestItems.h"

#include <gtest/gtest.h>

using namespace lumra;
using namespace lumra::test;

namespace {

ClipboardItem from(const char* bundleId, std::optional<QString> name, int hour, bool trashed = false)
{
    ClipboardItem item = textItem(bundleId, "x");
    item.sourceAppBundleId = QString::fromUtf8(bundleId);
    item.sourceAppName = std::move(name);
    item.dateAdded = berlinTime(2024, 5, 15, hour, 0);
    item.isTrashed = trashed;
    return item;
}

TEST(SourceApps, OneEntryPerAppNewestFirstWithTheLastNameInListOrder)
{
    const QList<ClipboardItem> items{
        from("org.gnome.TextEditor", QStringLiteral("Text Editor"), 9),
        from("org.mozilla.firefox", QStringLiteral("Firefox"), 5),
        from("org.mozilla.firefox", QStringLiteral("Firefox Nightly"), 3),
        from("org.kde.dolphin", std::nullopt, 23),              // no name: ignored
        from("", QStringLiteral("Nameless"), 22),               // empty id: ignored
        from("lumra", QStringLiteral("Lumra"), 21),             // ourselves: never offered
        from("org.gnome.Terminal", QStringLiteral("Terminal"), 12, true), // trashed still counts
    };
    const QList<SourceApp> apps = sourceApps(items, QStringLiteral("lumra"));
    const QList<SourceApp> expected{{"org.gnome.Terminal", "Terminal"},
                                    {"org.gnome.TextEditor", "Text Editor"},
                                    {"org.mozilla.firefox", "Firefox Nightly"}};
    EXPECT_EQ(apps, expected);
}

TEST(SourceApps, EmptyWithoutSources)
{
    EXPECT_TRUE(sourceApps({}, QStringLiteral("lumra")).isEmpty());
    EXPECT_TRUE(sourceApps({textItem("plain", "x")}, QStringLiteral("lumra")).isEmpty());
}

} // namespace
