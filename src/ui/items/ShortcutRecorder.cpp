#include "ui/items/ShortcutRecorder.h"

#include "platform/keys/KeyCodes.h"

#include <QApplication>
#include <QKeyEvent>
#include <QPainter>
#include <QPainterPath>
#include <QWindow>

namespace lumra {

namespace ChordRules {

namespace {

bool isModifierKey(int qtKey)
{
    switch (qtKey) {
    case Qt::Key_Shift:
    case Qt::Key_Control:
    case Qt::Key_Meta:
    case Qt::Key_Alt:
    case Qt::Key_AltGr:
    case Qt::Key_Super_L:
    case Qt::Key_Super_R:
    case Qt::Key_Hyper_L:
    case Qt::Key_Hyper_R:
    case Qt::Key_CapsLock:
    case Qt::Key_NumLock:
    case Qt::Key_ScrollLock:
    case Qt::Key_Mode_switch:
        return true;
    default:
        return false;
    }
}

} // namespace

KeyPress classify(int qtKey, Qt::KeyboardModifiers modifiers, quint32 nativeVirtualKey)
{
    if (isModifierKey(qtKey))
        return {KeyKind::modifierOnly, {}};
    const quint64 flags = KeyCodes::maskedModifierFlags(KeyCodes::modifierFlagsFromQt(modifiers));
    const std::optional<ItemShortcut> key = KeyCodes::shortcutFromKeyEvent(qtKey, modifiers, nativeVirtualKey);
    const bool functionKey = key && KeyCodes::isFunctionKey(key->keyCode);
    if (!KeyCodes::isValidShortcutModifiers(flags) && !functionKey)
        return {KeyKind::plainKey, {}};
    if (!key)
        return {KeyKind::unsupported, {}};
    return {KeyKind::chord, ItemShortcut {key->keyCode, flags}};
}

} // namespace ChordRules

ShortcutRecorder::ShortcutRecorder(HotKeyManager* hotKeys, QWidget* parent)
    : QAbstractButton(parent)
    , m_hotKeys(hotKeys)
    , m_idleText(tr("Click to record"))
    , m_recordingText(tr("Press shortcut..."))
{
    setFocusPolicy(Qt::StrongFocus);
    setCursor(Qt::PointingHandCursor);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    connect(this, &QAbstractButton::clicked, this, [this] {
        if (m_recording)
            stopRecording();
        else
            startRecording();
    });
    setText(displayText());
}

ShortcutRecorder::~ShortcutRecorder()
{
    if (m_recording) {
        qApp->removeEventFilter(this);
        if (m_grabbedWindow)
            m_grabbedWindow->setKeyboardGrabEnabled(false);
    }
}

void ShortcutRecorder::setShortcut(const std::optional<ItemShortcut>& shortcut)
{
    m_shortcut = shortcut;
    setText(displayText());
    update();
}

void ShortcutRecorder::setIdleText(const QString& text)
{
    m_idleText = text;
    setText(displayText());
    update();
}

void ShortcutRecorder::setRecordingText(const QString& text)
{
    m_recordingText = text;
    setText(displayText());
    update();
}

QString ShortcutRecorder::displayText() const
{
    if (m_recording)
        return m_recordingText;
    return m_shortcut ? m_shortcut->displayString() : m_idleText;
}

void ShortcutRecorder::startRecording()
{
    if (m_recording)
        return;
    m_recording = true;
    m_suspension = m_hotKeys ? m_hotKeys->suspendHotKeys() : HotKeyManager::Suspension();
    qApp->installEventFilter(this);
    // A chord another program holds would go to that program, never here: while listening, every
    // key comes to this window, so the owner can say the chord is taken.
    if (QWindow* handle = window()->windowHandle()) {
        handle->setKeyboardGrabEnabled(true);
        m_grabbedWindow = handle;
    }
    setText(displayText());
    update();
    emit recordingChanged(true);
}

void ShortcutRecorder::stopRecording()
{
    if (!m_recording)
        return;
    m_recording = false;
    qApp->removeEventFilter(this);
    if (m_grabbedWindow)
        m_grabbedWindow->setKeyboardGrabEnabled(false);
    m_grabbedWindow = nullptr;
    m_suspension.release();
    setText(displayText());
    update();
    emit recordingChanged(false);
}

bool ShortcutRecorder::isInMyWindow(QObject* watched) const
{
    if (auto* widget = qobject_cast<QWidget*>(watched))
        return widget->window() == window();
    if (auto* handle = qobject_cast<QWindow*>(watched))
        return handle == window()->windowHandle();
    return false;
}

bool ShortcutRecorder::eventFilter(QObject* watched, QEvent* event)
{
    const QEvent::Type type = event->type();
    if ((type != QEvent::KeyPress && type != QEvent::ShortcutOverride) || !m_recording || !isInMyWindow(watched))
        return false;
    auto* key = static_cast<QKeyEvent*>(event);
    const ChordRules::KeyPress press = ChordRules::classify(key->key(), key->modifiers(), key->nativeVirtualKey());
    if (press.kind == ChordRules::KeyKind::plainKey && m_plainKeysPassOn)
        return false;
    if (type == QEvent::ShortcutOverride) {
        // Accepted here, no menu accelerator or window shortcut takes the chord first.
        event->accept();
        return true;
    }
    switch (press.kind) {
    case ChordRules::KeyKind::modifierOnly:
        break;
    case ChordRules::KeyKind::plainKey:
        if (key->key() == Qt::Key_Escape) {
            stopRecording();
            emit cancelled();
        }
        break;
    case ChordRules::KeyKind::unsupported:
        stopRecording();
        emit refused(tr("This key cannot be used in a shortcut."));
        break;
    case ChordRules::KeyKind::chord:
        stopRecording();
        emit recorded(press.shortcut);
        break;
    }
    return true;
}

void ShortcutRecorder::hideEvent(QHideEvent* event)
{
    stopRecording();
    QAbstractButton::hideEvent(event);
}

QSize ShortcutRecorder::sizeHint() const
{
    const QFontMetrics metrics(font());
    return {metrics.horizontalAdvance(displayText()) + 32, metrics.height() + 16};
}

void ShortcutRecorder::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QPalette& colours = palette();
    QColor fill = m_recording ? colours.color(QPalette::Highlight) : colours.color(QPalette::WindowText);
    fill.setAlphaF(m_recording ? 0.2 : 0.1);
    QColor outline = m_recording ? colours.color(QPalette::Highlight) : colours.color(QPalette::WindowText);
    outline.setAlphaF(m_recording ? 1.0 : (hasFocus() ? 0.6 : 0.25));
    QPainterPath shape;
    shape.addRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 8, 8);
    painter.fillPath(shape, fill);
    painter.setPen(QPen(outline, 1));
    painter.drawPath(shape);
    QColor textColour = colours.color(QPalette::WindowText);
    if (!m_recording && !m_shortcut)
        textColour = colours.color(QPalette::PlaceholderText);
    painter.setPen(textColour);
    painter.drawText(rect().adjusted(8, 0, -8, 0), Qt::AlignCenter,
                     fontMetrics().elidedText(displayText(), Qt::ElideRight, width() - 16));
}

} // namespace lumra
