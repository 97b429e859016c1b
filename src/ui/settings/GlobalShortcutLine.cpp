#include "ui/settings/GlobalShortcutLine.h"

#include "ui/shell/HotKeyManager.h"
#include "ui/shell/Prompt.h"
#include "engine/ClipboardManager.h"
#include "platform/keys/KeyCodes.h"
#include "platform/symbols/Symbols.h"
#include "ui/items/ShortcutRecorder.h"
#include "ui/settings/SettingsWidgets.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QToolButton>

namespace lumra {

GlobalShortcutLine::GlobalShortcutLine(ClipboardManager& manager, HotKeyManager& hotKeys, PromptService& prompts,
                                       QWidget* parent)
    : QWidget(parent)
    , m_manager(manager)
    , m_hotKeys(hotKeys)
    , m_prompts(prompts)
    , m_recorder(new ShortcutRecorder(&hotKeys, this))
    , m_remove(new QToolButton(this))
{
    m_recorder->setIdleText(QStringLiteral("Set\u2026"));
    m_recorder->setRecordingText(QStringLiteral("Press keys\u2026"));
    // Escape ends the recording; a key without Ctrl, Alt or Super is dropped and listening goes on.
    m_recorder->setPlainKeysPassOn(false);
    m_recorder->setAccessibleName(QStringLiteral("Global shortcut"));
    m_recorder->setMinimumWidth(120);
    m_remove->setAutoRaise(true);
    m_remove->setToolTip(QStringLiteral("Remove global shortcut"));
    m_remove->setAccessibleName(QStringLiteral("Remove global shortcut"));

    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    m_label = SettingsStyle::label(QStringLiteral("Shortcut:"), 15, true, false, this);
    layout->addWidget(m_label);
    layout->addStretch(1);
    layout->addWidget(m_recorder);
    layout->addWidget(m_remove);

    connect(m_recorder, &ShortcutRecorder::recordingChanged, this, &GlobalShortcutLine::refresh);
    connect(m_recorder, &ShortcutRecorder::recorded, this, &GlobalShortcutLine::apply);
    connect(m_recorder, &ShortcutRecorder::refused, this, &GlobalShortcutLine::refuse);
    connect(m_remove, &QToolButton::clicked, this, &GlobalShortcutLine::confirmRemove);
    connect(&hotKeys, &HotKeyManager::shortcutRevisionChanged, this, &GlobalShortcutLine::refresh);
    updateIcon();
    refresh();
}

void GlobalShortcutLine::updateIcon()
{
    const QColor secondary = palette().color(QPalette::PlaceholderText);
    m_remove->setIcon(SettingsStyle::tinted(Symbols::icon(QStringLiteral("xmark")), secondary, secondary, 12));
}

void GlobalShortcutLine::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::PaletteChange)
        updateIcon();
    QWidget::changeEvent(event);
}

std::optional<ItemShortcut> GlobalShortcutLine::storedShortcut() const
{
    const UserDefaults& defaults = m_manager.userDefaults();
    const qint64 keyCode = defaults.integer(QStringLiteral("hotKeyKeyCode"));
    if (keyCode < 0 || keyCode >= HotKeyManager::noKeyCode)
        return std::nullopt;
    return ItemShortcut {quint16(keyCode), quint64(qMax<qint64>(0, defaults.integer(QStringLiteral("hotKeyModifiers"))))};
}

void GlobalShortcutLine::refresh()
{
    const std::optional<ItemShortcut> shortcut = storedShortcut();
    m_recorder->setShortcut(shortcut);
    m_remove->setVisible(shortcut && !m_recorder->isRecording());
}

void GlobalShortcutLine::stopRecording() { m_recorder->stopRecording(); }

void GlobalShortcutLine::setLabelVisible(bool visible) { m_label->setVisible(visible); }

void GlobalShortcutLine::apply(const ItemShortcut& shortcut)
{
    // The recording has ended: the hot keys are back as the settings ask. Escape with any
    // modifiers only cancels.
    if (shortcut.keyCode == KeyCodes::keyCodeForQtKey(Qt::Key_Escape))
        return;
    const std::optional<ItemShortcut> previous = storedShortcut();
    if (previous != shortcut) {
        if (auto conflict = m_manager.shortcutConflictMessage(shortcut.keyCode, shortcut.modifiers, std::nullopt, true))
            return refuse(*conflict);
        if (const Status available = m_hotKeys.checkAvailable(shortcut.keyCode, shortcut.modifiers); !available)
            return refuse(available.error());
    }
    const Status updated = m_hotKeys.updateMainHotKey(shortcut.keyCode, shortcut.modifiers);
    if (!updated && updated.error().contains(shortcut.displayString())) {
        // Taken between the check and the grab: the shortcut that worked stays.
        std::ignore = m_hotKeys.updateMainHotKey(previous ? previous->keyCode : HotKeyManager::noKeyCode,
                                                 previous ? previous->modifiers : 0);
        refuse(tr("This shortcut is in use by another application."));
        return;
    }
    if (updated && m_enablesHotKey && !m_hotKeys.isEnabled()) {
        if (const Status enabled = m_hotKeys.setHotKeyEnabled(true); !enabled)
            refuse(enabled.error());
    }
}

void GlobalShortcutLine::refuse(const QString& reason)
{
    m_prompts.alert(QStringLiteral("Shortcut already in use"), reason + QStringLiteral(" Please use a different shortcut."),
                    {QStringLiteral("OK")}, PromptService::Style::warning);
}

void GlobalShortcutLine::confirmRemove()
{
    const int answer = m_prompts.alert(
        QStringLiteral("Remove global shortcut?"),
        QStringLiteral("You can set a new shortcut at any time. The global shortcut stays enabled."),
        {QStringLiteral("Remove"), QStringLiteral("Cancel")}, PromptService::Style::warning);
    if (answer != 0)
        return;
    // Only the open-popup key goes; item shortcuts and quick paste are registered again as they were.
    std::ignore = m_hotKeys.updateMainHotKey(HotKeyManager::noKeyCode, 0);
}

} // namespace lumra
