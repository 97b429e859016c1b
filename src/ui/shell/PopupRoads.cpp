#include "ui/shell/PopupRoads.h"

#include "ui/shell/PopupPanel.h"
#include "ui/shell/PopupPlacement.h"
#include "engine/ClipboardManager.h"
#include "engine/HistoryFilter.h"
#include "model/NotificationCenter.h"
#include "platform/defaults/UserDefaults.h"
#include "ui/popup/ContentView.h"
#include "ui/popup/ItemMenuController.h"

#include <QEvent>
#include <QLoggingCategory>

#include <cmath>

Q_LOGGING_CATEGORY(lcPopupRoads, "lumra.app.popup")

namespace lumra::PopupRoads {

namespace {

const QString widthKey = QStringLiteral("clipboardWindowWidth");
const QString heightKey = QStringLiteral("clipboardWindowHeight");
const QString lastXKey = QStringLiteral("lastWindowX");
const QString lastYKey = QStringLiteral("lastWindowY");

// Notes whether the panel held the focus when a close was asked for; by the time the panel has
// closed that can no longer be told.
class FocusAtClose : public QObject {
public:
    using QObject::QObject;
    bool hadFocus = false;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Close)
            hadFocus = static_cast<QWidget*>(watched)->isActiveWindow();
        return false;
    }
};

} // namespace

std::optional<AppIdentity> frontmostOtherApp(Workspace* workspace)
{
    if (!workspace)
        return std::nullopt;
    auto front = workspace->frontmostApplication();
    if (front && front->bundleId == QLatin1String(lumraBundleId))
        return std::nullopt;
    return front;
}

PopupPanel* makePanel(ClipboardManager& manager, HotKeyManager* hotKeys, std::optional<AppIdentity> previousApp,
                      std::function<void()> onClose)
{
    UserDefaults& defaults = manager.userDefaults();
    auto* panel = new PopupPanel(
        PopupPlacement::contentSize(defaults.doubleValue(widthKey), defaults.doubleValue(heightKey)));
    panel->setKeepWindowOpen(manager.keepWindowOpen());
    panel->setShowWindowButtons(manager.showTrafficLights());

    QPointer<ClipboardManager> weakManager(&manager);
    NotificationCenter& center = NotificationCenter::defaultCenter();
    center.observe(Notifications::keepWindowOpenChanged, panel, [panel, weakManager](const QVariantMap&) {
        if (weakManager)
            panel->setKeepWindowOpen(weakManager->keepWindowOpen());
    });
    center.observe(Notifications::showTrafficLightsChanged, panel, [panel, weakManager](const QVariantMap&) {
        if (weakManager)
            panel->setShowWindowButtons(weakManager->showTrafficLights());
    });
    panel->setSizeSaver([&defaults](QSize size) {
        defaults.set(widthKey, double(size.width()));
        defaults.set(heightKey, double(size.height()));
    });

    auto* focus = new FocusAtClose(panel);
    panel->installEventFilter(focus);
    QPointer<Workspace> workspace(manager.services().workspace);
    panel->setOnClose([weakManager, workspace, previousApp, focus, onClose = std::move(onClose)] {
        // Quick paste and the next opening never see the recycle bin.
        if (weakManager)
            weakManager->filters().leaveRecycleBinView();
        if (previousApp && workspace && focus->hadFocus) {
            if (Status activated = workspace->activate(*previousApp); !activated)
                qCInfo(lcPopupRoads) << "Could not give the focus back:" << activated.error();
        }
        if (onClose)
            onClose();
    });

    auto* content = new ContentView(manager, hotKeys);
    content->setPanel(panel);
    new ItemMenuController(*content); // the item menu and the footer
    panel->setContentWidget(content);
    return panel;
}

QPoint fitToScreen(PopupPanel& panel, const std::function<QPoint(QSize)>& place)
{
    const auto fitted = PopupPlacement::fitOnScreen(panel.size(), place, PopupPlacement::currentScreens());
    if (fitted.size != panel.size()) {
        panel.setMinimumSize(panel.minimumSize().boundedTo(fitted.size));
        panel.resize(fitted.size);
    }
    return fitted.origin;
}

std::optional<QPoint> lastPosition(const UserDefaults& defaults)
{
    const auto x = defaults.losslessDouble(lastXKey);
    const auto y = defaults.losslessDouble(lastYKey);
    // A hand-edited value far off any screen is no position at all.
    constexpr double limit = 1e6;
    if (!x || !y || !(std::abs(*x) < limit) || !(std::abs(*y) < limit))
        return std::nullopt;
    return QPoint(qRound(*x), qRound(*y));
}

void saveLastPosition(UserDefaults& defaults, QPoint position)
{
    defaults.set(lastXKey, double(position.x()));
    defaults.set(lastYKey, double(position.y()));
}

} // namespace lumra::PopupRoads
