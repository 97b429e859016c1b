#include "ui/shell/HotKeyManager.h"

#include "ui/shell/PopupPanel.h"
#include "ui/shell/PopupPlacement.h"
#include "ui/shell/PopupRoads.h"
#include "engine/ClipboardManager.h"
#include "engine/HistoryFilter.h"
#include "engine/PasteService.h"
#include "model/Diagnostics.h"
#include "model/NotificationCenter.h"
#include "platform/defaults/UserDefaults.h"
#include "platform/keys/GlobalHotKeys.h"
#include "platform/keys/KeyCodes.h"

#include <QCursor>
#include <QLoggingCategory>
#include <QStringList>

#include <tuple>
#include <utility>

Q_LOGGING_CATEGORY(lcHotKeyManager, "lumra.app.hotkeys")

namespace lumra {

namespace {

const QString keyCodeKey = QStringLiteral("hotKeyKeyCode");
const QString modifiersKey = QStringLiteral("hotKeyModifiers");
const QString enabledKey = QStringLiteral("hotKeyEnabled");

Status joined(const QStringList& errors)
{
    return errors.isEmpty() ? Status() : Status::failure(errors.join(QLatin1Char('\n')));
}

void collect(QStringList& errors, const Status& status)
{
    if (!status)
        errors << status.error();
}

bool isQuickPasteId(quint32 id)
{
    return id >= HotKeyManager::firstQuickPasteHotKeyId
        && id < HotKeyManager::firstQuickPasteHotKeyId + HotKeyManager::quickPasteCount;
}

} // namespace

HotKeyManager::HotKeyManager(GlobalHotKeys& keys, UserDefaults& defaults, Clock& clock, QObject* parent)
    : QObject(parent)
    , m_keys(keys)
    , m_defaults(defaults)
    , m_clock(clock)
    , m_enabled(defaults.boolean(enabledKey))
{
    // The key press arrives inside the X event filter; act on it once that has returned.
    connect(&m_keys, &GlobalHotKeys::activated, this, &HotKeyManager::handleActivation, Qt::QueuedConnection);
}

HotKeyManager::~HotKeyManager() = default;

Status HotKeyManager::setupHotKeyManager(ClipboardManager* manager)
{
    m_manager = manager;
    NotificationCenter& center = NotificationCenter::defaultCenter();
    center.observe(Notifications::itemShortcutsChanged, this, [this](const QVariantMap&) { std::ignore = registerItemHotKeys(); });
    center.observe(Notifications::quickPasteChanged, this, [this](const QVariantMap&) { std::ignore = registerQuickPasteHotKeys(); });
    // Trashing, restoring, clearing and cleaning change which items hold keys without saying so.
    if (manager)
        connect(manager, &ClipboardManager::clipboardItemsChanged, this, [this] { std::ignore = report(syncItemHotKeys(false)); });
    if (!m_enabled)
        return {};
    Status main;
    const Status others = registerAll(main);
    if (!main)
        retryOpenKeyAtLaunch(0);
    return others;
}

// Each try waits for the one before, so a slow server never sees two grabs at once; a change the
// user made meanwhile (another key, keys off, a recording) ends the tries.
void HotKeyManager::retryOpenKeyAtLaunch(size_t attempt)
{
    const int revision = m_shortcutRevision;
    m_launchRetries.push_back(m_clock.start(launchRetryDelays[attempt], false, [this, attempt, revision] {
        if (!m_enabled || revision != m_shortcutRevision || isSuspended() || m_keys.isRegistered(mainHotKeyId))
            return;
        const Status main = registerMainHotKey();
        if (main)
            qCInfo(lcHotKeyManager) << "the open-popup shortcut was registered at try" << attempt + 2;
        else if (attempt + 1 < launchRetryDelays.size())
            retryOpenKeyAtLaunch(attempt + 1);
        else
            emit openKeyFailedAtLaunch(main.error());
    }));
}

Status HotKeyManager::setHotKeyEnabled(bool enabled)
{
    const bool changed = enabled != m_enabled;
    m_enabled = enabled;
    m_defaults.set(enabledKey, enabled);
    if (changed)
        emit enabledChanged(enabled);
    if (!enabled) {
        unregisterAllHotKeys();
        return {};
    }
    return registerAllHotKeys();
}

QString HotKeyManager::shortcutDisplayString() const
{
    const qint64 keyCode = m_defaults.integer(keyCodeKey);
    if (keyCode < 0 || keyCode >= noKeyCode)
        return {};
    return ItemShortcut::displayString(quint16(keyCode), quint64(qMax<qint64>(0, m_defaults.integer(modifiersKey))));
}

QString HotKeyManager::howToOpenPopup() const
{
    const QString shortcut = shortcutDisplayString();
    if (m_enabled && !shortcut.isEmpty() && m_keys.isRegistered(mainHotKeyId) && m_keys.limitation().isEmpty())
        return QStringLiteral("open Lumra with %1").arg(shortcut);
    return QStringLiteral("to open Lumra, bind the command \u201clumra\u201d to a key in the desktop\u2019s keyboard settings");
}

Status HotKeyManager::updateMainHotKey(quint16 keyCode, quint64 modifiers)
{
    m_defaults.set(keyCodeKey, qint64(keyCode));
    m_defaults.set(modifiersKey, qint64(KeyCodes::maskedModifierFlags(modifiers)));
    ++m_shortcutRevision;
    emit shortcutRevisionChanged();
    return m_enabled ? registerAllHotKeys() : Status();
}

Status HotKeyManager::registerAllHotKeys()
{
    Status main;
    const Status others = registerAll(main);
    QStringList errors;
    collect(errors, main);
    collect(errors, others);
    return joined(errors);
}

// `main` is the open-popup key's outcome; the result, the others'.
Status HotKeyManager::registerAll(Status& main)
{
    unregisterAllHotKeys();
    main = Status();
    if (!m_enabled)
        return {};
    // The open-popup key first, then item keys in list order, then the digits: of two equal
    // combinations the earlier one is live and the later one is reported.
    main = registerMainHotKey();
    QStringList errors;
    m_refusedItemShortcuts.clear();
    collect(errors, syncItemHotKeys(true));
    collect(errors, registerQuickPasteHotKeys());
    return joined(errors);
}

Status HotKeyManager::registerMainHotKey()
{
    m_keys.unregisterHotKey(mainHotKeyId);
    const qint64 keyCode = m_defaults.integer(keyCodeKey);
    if (keyCode == noKeyCode)
        return {};
    const qint64 modifiers = m_defaults.integer(modifiersKey);
    if (keyCode < 0 || keyCode > noKeyCode || modifiers < 0) {
        return report(Status::failure(
            QStringLiteral("The stored shortcut for opening Lumra is not valid (key %1, modifiers %2).")
                .arg(keyCode)
                .arg(modifiers)));
    }
    return report(m_keys.registerHotKey(mainHotKeyId, quint16(keyCode), quint64(modifiers)));
}

Status HotKeyManager::registerItemHotKeys() { return report(syncItemHotKeys(true)); }

Status HotKeyManager::syncItemHotKeys(bool retryRefused)
{
    if (!m_enabled || !m_manager) {
        dropItemHotKeys();
        return {};
    }

    // Items in the recycle bin hold no key, so their combinations stay free for the others.
    QList<ItemShortcut> wanted;
    for (const ClipboardItem& item : m_manager->clipboardItems()) {
        if (item.shortcut && !item.isTrashed && !wanted.contains(*item.shortcut))
            wanted.append(*item.shortcut);
    }

    for (auto it = m_itemHotKeys.begin(); it != m_itemHotKeys.end();) {
        if (wanted.contains(*it)) {
            ++it;
            continue;
        }
        m_keys.unregisterHotKey(it.key());
        it = m_itemHotKeys.erase(it);
    }
    m_refusedItemShortcuts.removeIf([&](const ItemShortcut& s) { return !wanted.contains(s); });

    QStringList errors;
    for (const ItemShortcut& shortcut : std::as_const(wanted)) {
        if (std::find(m_itemHotKeys.cbegin(), m_itemHotKeys.cend(), shortcut) != m_itemHotKeys.cend())
            continue;
        if (!retryRefused && m_refusedItemShortcuts.contains(shortcut))
            continue;
        const quint32 id = nextFreeItemId();
        if (Status registered = m_keys.registerHotKey(id, shortcut.keyCode, shortcut.modifiers); registered) {
            m_itemHotKeys.insert(id, shortcut);
            m_refusedItemShortcuts.removeAll(shortcut);
        } else {
            if (!m_refusedItemShortcuts.contains(shortcut))
                m_refusedItemShortcuts.append(shortcut);
            errors << registered.error();
        }
    }
    return joined(errors);
}

quint32 HotKeyManager::nextFreeItemId() const
{
    // Item ids never take the quick-paste range: one id names one registration.
    quint32 id = firstItemHotKeyId;
    while (m_itemHotKeys.contains(id) || isQuickPasteId(id))
        ++id;
    return id;
}

void HotKeyManager::dropItemHotKeys()
{
    for (auto it = m_itemHotKeys.cbegin(); it != m_itemHotKeys.cend(); ++it)
        m_keys.unregisterHotKey(it.key());
    m_itemHotKeys.clear();
}

Status HotKeyManager::registerQuickPasteHotKeys()
{
    for (int i = 0; i < quickPasteCount; ++i)
        m_keys.unregisterHotKey(firstQuickPasteHotKeyId + quint32(i));
    if (!m_enabled || !m_manager)
        return {};
    const std::optional<quint64> flag = m_manager->quickPasteModifierFlag();
    if (!flag)
        return {};
    QStringList errors;
    for (int i = 0; i < quickPasteCount; ++i)
        collect(errors, m_keys.registerHotKey(firstQuickPasteHotKeyId + quint32(i), quickPasteKeyCodes[size_t(i)], *flag));
    return report(joined(errors));
}

HotKeyManager::Suspension::Suspension(HotKeyManager* manager)
    : m_manager(manager)
{
    if (manager)
        manager->beginSuspension();
}

HotKeyManager::Suspension& HotKeyManager::Suspension::operator=(Suspension&& other) noexcept
{
    if (this != &other) {
        release();
        m_manager = other.m_manager;
        other.m_manager = nullptr;
    }
    return *this;
}

void HotKeyManager::Suspension::release()
{
    if (HotKeyManager* manager = m_manager) {
        m_manager = nullptr;
        manager->endSuspension();
    }
}

void HotKeyManager::beginSuspension()
{
    if (m_suspensionDepth++ == 0) {
        m_keys.suspend();
        emit suspendedChanged(true);
    }
}

void HotKeyManager::endSuspension()
{
    if (m_suspensionDepth <= 0 || --m_suspensionDepth > 0)
        return;
    // Whatever changed while recording (the shortcut itself, enabling) is applied from the settings.
    m_keys.unregisterAll();
    m_itemHotKeys.clear();
    std::ignore = report(m_keys.resume());
    std::ignore = registerAllHotKeys();
    emit suspendedChanged(false);
}

Status HotKeyManager::checkAvailable(quint16 keyCode, quint64 modifiers)
{
    switch (m_keys.availability(keyCode, modifiers)) {
    case GlobalHotKeys::Availability::available:
        return {};
    case GlobalHotKeys::Availability::takenElsewhere:
        return Status::failure(tr("This shortcut is in use by another application."));
    case GlobalHotKeys::Availability::unavailable:
        break;
    }
    return Status::failure(tr("This shortcut cannot be used as a global shortcut."));
}

void HotKeyManager::unregisterAllHotKeys()
{
    m_keys.unregisterAll();
    m_itemHotKeys.clear();
}

Status HotKeyManager::report(Status status)
{
    if (!status) {
        qCWarning(lcHotKeyManager).noquote() << status.error();
        Diagnostics::shared().warn(QStringLiteral("HotKeyManager"), status.error());
    }
    return status;
}

void HotKeyManager::handleActivation(quint32 id)
{
    if (id == mainHotKeyId) {
        togglePopup();
        return;
    }
    ClipboardManager* manager = m_manager;
    if (!manager)
        return;
    // The paste reloads the history, so it gets a copy of the item, not a reference into it.
    if (const auto it = m_itemHotKeys.constFind(id); it != m_itemHotKeys.cend()) {
        const ItemShortcut shortcut = *it;
        for (const ClipboardItem& item : manager->clipboardItems()) {
            if (!item.isTrashed && item.shortcut == shortcut) {
                pasteItemAfterDelay(ClipboardItem(item), true);
                return;
            }
        }
        return;
    }
    if (isQuickPasteId(id)) {
        const qsizetype index = qsizetype(id - firstQuickPasteHotKeyId);
        if (index >= manager->filters().filteredItemCount())
            return;
        // The list may still show the recycle bin; a trashed item is never pasted.
        const ClipboardItem item = manager->filters().filteredItemAt(index);
        if (!item.isTrashed)
            pasteItemAfterDelay(item, false);
    }
}

void HotKeyManager::pasteItemAfterDelay(const ClipboardItem& item, bool moveToTop)
{
    if (ClipboardManager* manager = m_manager)
        std::ignore = manager->paste().pasteItem(item, moveToTop, false, pasteDelay);
}

void HotKeyManager::togglePopup()
{
    if (PopupPanel* open = PopupPanel::findOpen()) {
        open->close();
        m_popupWindow = nullptr;
        emit popupToggled(nullptr);
        return;
    }
    ClipboardManager* manager = m_manager;
    if (!manager)
        return;
    // Noted before the panel shows: afterwards the popup may already be the active window.
    auto previous = PopupRoads::frontmostOtherApp(manager->services().workspace);
    QPointer<HotKeyManager> self(this);
    PopupPanel* panel = PopupRoads::makePanel(*manager, this, previous, [self] {
        if (self)
            self->m_popupWindow = nullptr;
    });
    UserDefaults* defaults = &m_defaults;
    panel->setPositionSaver([defaults](QPoint position) { PopupRoads::saveLastPosition(*defaults, position); });
    const QString position = PopupPlacement::honouredHotKeyPosition(manager->shortcutWindowPosition(),
                                                                    PopupPlacement::pointerPositionKnown());
    static bool toldCentred = false;
    if (position != manager->shortcutWindowPosition() && !std::exchange(toldCentred, true))
        qCInfo(lcHotKeyManager) << "the pointer position is not known on this desktop: the popup opens centred";
    const QPoint pointer = QCursor::pos();
    const auto last = PopupRoads::lastPosition(m_defaults);
    const QPoint origin = PopupRoads::fitToScreen(*panel, [&](QSize frame) {
        return PopupPlacement::forHotKey(position, frame, pointer, last, PopupPlacement::currentScreens());
    });
    m_popupWindow = panel;
    panel->present(origin, m_keys.lastActivationTime());
    emit popupToggled(panel);
}

} // namespace lumra
