#pragma once

#include "BenchEngine.h"

#include "engine/ClipboardManager.h"
#include "platform/keys/FakeGlobalHotKeys.h"
#include "ui/popup/ContentView.h"
#include "ui/popup/HistoryListView.h"
#include "ui/shell/HotKeyManager.h"
#include "ui/shell/PopupPanel.h"

#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QEvent>
#include <QLineEdit>
#include <QPointer>

#include <memory>

namespace lumra::bench {

// Sees paints of the popup's list.
class PaintWatch : public QObject {
public:
    bool painted = false;

protected:
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::Paint)
            painted = true;
        return false;
    }
};

// A whole engine over a generated history of `size` items (texts of realistic length, some images
// and files), the hot keys on a double.
struct PopupBenchFixture {
    static constexpr quint16 keyV = 9;
    static constexpr quint64 ctrlAlt = ItemShortcut::commandFlag | ItemShortcut::optionFlag;

    explicit PopupBenchFixture(int size)
    {
        engine.fillHistory(size);
        engine.openDefaults(true); // the generated history is in the synced store
        engine.defaults->set("retentionDays", 0);
        engine.defaults->set("maxItems", 1'000'000);
        manager = engine.start();
        hotKeys = std::make_unique<HotKeyManager>(keys, *engine.defaults);
        ok = hotKeys->setupHotKeyManager(manager.get()).ok();
        QObject::connect(hotKeys.get(), &HotKeyManager::popupToggled, &watch, [this](PopupPanel* panel) {
            view = panel ? qobject_cast<ContentView*>(panel->contentWidget()) : nullptr;
            if (view)
                view->listView()->viewport()->installEventFilter(&watch);
        });
    }

    // A popup left open must not outlive the engine it saves its place into.
    ~PopupBenchFixture() { delete PopupPanel::findOpen(); }

    bool waitForPaint()
    {
        for (int turns = 0; !watch.painted && turns < 100000; ++turns)
            QCoreApplication::processEvents(QEventLoop::AllEvents);
        return watch.painted;
    }

    void toggle()
    {
        watch.painted = false;
        keys.press(keyV, ctrlAlt);
    }

    // Opens the popup; false (the benchmark skipped) when it did not open.
    bool open(benchmark::State& state)
    {
        toggle();
        if (!ok || !waitForPaint() || !view) {
            state.SkipWithError("the popup did not open");
            return false;
        }
        return true;
    }

    // Opens the popup and gives its search field; none (the benchmark skipped) when it did not open.
    QLineEdit* openSearchField(benchmark::State& state)
    {
        return open(state) ? view->searchAreaHost()->findChild<QLineEdit*>() : nullptr;
    }

    void closeAndSettle()
    {
        toggle();
        QCoreApplication::processEvents();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        view = nullptr;
    }

    BenchEngine engine;
    std::unique_ptr<ClipboardManager> manager;
    FakeGlobalHotKeys keys;
    std::unique_ptr<HotKeyManager> hotKeys;
    PaintWatch watch;
    QPointer<ContentView> view;
    bool ok = false;
};

} // namespace lumra::bench
