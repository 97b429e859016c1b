#pragma once

#include "engine/filter/PinnedFilters.h"
#include "engine/HistoryFilter.h"

#include "EngineFixture.h"

#include <QStringList>

#include <memory>
#include <ostream>

[[maybe_unused]] static void PrintTo(const QString& text, std::ostream* os) { *os << '"' << text.toStdString() << '"'; }
[[maybe_unused]] static void PrintTo(const QStringList& list, std::ostream* os)
{
    *os << '[' << list.join(QStringLiteral(", ")).toStdString() << ']';
}

namespace lumra::test {

// The pin as stored in the user defaults; none when nothing is stored or it does not decode.
inline std::optional<PinnedFilters> storedPin(const UserDefaults& defaults)
{
    const std::optional<QByteArray> data = defaults.data(QString::fromLatin1(pinnedFiltersKey));
    return data ? decodePinnedFilters(*data) : std::nullopt;
}

// A settings-only manager (no store) whose history the test sets directly.
class QueriesTest : public EngineTest {
protected:
    QueriesTest() { makeManager(); }

    ClipboardManager& makeManager()
    {
        manager.reset();
        openDefaults();
        manager = std::make_unique<ClipboardManager>(*defaults, &kv, clock);
        return *manager;
    }

    // Items carry their name in `comment`, which no filter reads; newer items come first in the list.
    ClipboardItem text(const QString& name, const QString& content, int minutesAgo = 0)
    {
        ClipboardItem item;
        item.id = QUuid::createUuid();
        item.comment = name;
        item.textContent = content;
        item.dateAdded = clock.now().addSecs(-60 * minutesAgo);
        return item;
    }

    static QStringList names(const QList<ClipboardItem>& items)
    {
        QStringList result;
        for (const ClipboardItem& item : items)
            result.append(item.comment.value_or(QStringLiteral("?")));
        return result;
    }
    QStringList shown() const { return names(manager->filters().filteredItems()); }

    std::optional<PinnedFilters> storedPin() const { return test::storedPin(*defaults); }

    std::unique_ptr<ClipboardManager> manager;
};

} // namespace lumra::test
