// From the open-popup hot key to the popup's first paint, over a large history.
#include "app/HotKeyManager.h"
#include "app/PopupPanel.h"
#include "engine/ClipboardManager.h"
#include "platform/cloud/CloudKeyValueStore.h"
#include "platform/defaults/UserDefaults.h"
#include "platform/keys/FakeGlobalHotKeys.h"
#include "ui/popup/ContentView.h"
#include "ui/popup/HistoryListView.h"

#include "BenchSize.h"

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QListView>
#include <QTemporaryDir>

using namespace lumra;

namespace {

constexpr quint16 keyV = 9;
constexpr quint64 ctrlAlt = ItemShortcut::commandFlag | ItemShortcut::optionFlag;

QList<ClipboardItem> history(int count)
{
    QList<ClipboardItem> items;
    items.reserve(count);
    const QDateTime start(QDate(2024, 1, 1), QTime(0, 0), Qt::UTC);
    for (int i = 0; i < count; ++i) {
        ClipboardItem item;
        item.id = QUuid::createUuid();
        item.textContent = QStringLiteral("Copied text number %1: the quarterly report draft, please review before the "
                                          "meeting tomorrow\nsecond line %2")
                               .arg(i)
                               .arg(i * 7);
        item.dateAdded = start.addSecs(qint64(count - i) * 60);
        item.isSensitive = i % 50 == 0;
        items.append(std::move(item));
    }
    return items;
}

// Sees the first paint of the popup's list.
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

void BM_HotKeyToPopupFirstPaint(benchmark::State& state)
{
    QTemporaryDir folder;
    UserDefaults defaults(folder.path() + QStringLiteral("/settings.json"));
    ClipboardManager::registerDefaultSettings(defaults);
    InMemoryCloudKeyValueStore kv;
    ClipboardManager manager(defaults, &kv);
    manager.setClipboardItems(history(int(state.range(0))));
    FakeGlobalHotKeys keys;
    HotKeyManager hotKeys(keys, defaults);
    if (Status s = hotKeys.setupHotKeyManager(&manager); !s) {
        state.SkipWithError(s.error().toUtf8().constData());
        return;
    }

    PaintWatch watch;
    QObject::connect(&hotKeys, &HotKeyManager::popupToggled, &watch, [&watch](PopupPanel* panel) {
        if (auto* view = panel ? qobject_cast<ContentView*>(panel->contentWidget()) : nullptr)
            view->listView()->viewport()->installEventFilter(&watch);
    });

    for (auto _ : state) {
        watch.painted = false;
        keys.press(keyV, ctrlAlt);
        for (int turns = 0; !watch.painted && turns < 100000; ++turns)
            QCoreApplication::processEvents(QEventLoop::AllEvents);
        if (!watch.painted) {
            state.SkipWithError("the popup was never painted");
            break;
        }

        state.PauseTiming();
        keys.press(keyV, ctrlAlt); // closes it again
        QCoreApplication::processEvents();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        state.ResumeTiming();
    }
    state.counters["items"] = double(state.range(0));
}

} // namespace

BENCHMARK(BM_HotKeyToPopupFirstPaint)->Arg(bench::historySize(100000))->Unit(benchmark::kMillisecond);
