#pragma once

#include "platform/keys/FakeGlobalHotKeys.h"

#include "EngineFixture.h"

#include <QCoreApplication>

#include <memory>

namespace lumra::test {

// The shell over the whole engine on doubles: an in-memory clipboard, workspace, key injector
// and hot keys, settings and history in a temporary folder, time on a manual clock.
class ShellTest : public EngineTest {
protected:
    ShellTest()
    {
        Clock::setShared(&clock);
        openDefaults();
    }
    ~ShellTest() override { Clock::setShared(nullptr); }

    std::unique_ptr<ClipboardManager> makeManager(const std::function<void(ClipboardManagerServices&)>& more = {})
    {
        return start([this, &more](ClipboardManagerServices& services) {
            services.pasteboard = &pasteboard;
            services.workspace = &workspace;
            services.keyInjector = &injector;
            if (more)
                more(services);
        });
    }

    static ClipboardItem textItem(const QString& text, std::optional<ItemShortcut> shortcut = std::nullopt,
                                  bool trashed = false)
    {
        static int counter = 0;
        ClipboardItem item = test::textItem(text, QDateTime(QDate(2026, 2, 1), QTime(12, 0), Qt::UTC).addSecs(-(++counter)));
        item.shortcut = shortcut;
        item.isTrashed = trashed;
        return item;
    }

    // The text of Lumra's last clipboard write; empty when it wrote nothing.
    QString lastWrittenText() const
    {
        if (pasteboard.writes().isEmpty())
            return {};
        for (const PasteboardRepresentation& r : pasteboard.writes().last()) {
            if (r.mimeType.startsWith(QLatin1String("text/plain")))
                return QString::fromUtf8(r.data);
        }
        return {};
    }

    static void processEvents()
    {
        QCoreApplication::sendPostedEvents();
        QCoreApplication::processEvents();
    }

    FakeGlobalHotKeys keys;
};

inline constexpr quint64 ctrlAlt = ItemShortcut::commandFlag | ItemShortcut::optionFlag;

} // namespace lumra::test
