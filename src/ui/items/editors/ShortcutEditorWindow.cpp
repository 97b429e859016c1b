#include "ui/items/editors/ShortcutEditorWindow.h"

#include "ui/shell/HotKeyManager.h"
#include "engine/ClipboardManager.h"
#include "ui/items/ShortcutRecorder.h"
#include "ui/items/SymbolIcon.h"
#include "ui/items/editors/EditorRules.h"

#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace lumra {

namespace {

const QString tryAnother = QStringLiteral(" Please use a different shortcut.");

} // namespace

ShortcutEditorWindow::ShortcutEditorWindow(const EditorHost& host, const ClipboardItem& item)
    : EditorWindow(host, tr("Set Shortcut"), QSize(300, 180), Sizing::fixed)
    , m_item(item)
    , m_recorded(item.shortcut)
{
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(16, 16, 16, 16);
    column->setSpacing(16);
    QLabel* title = headline(tr("Set Shortcut"));
    title->setAlignment(Qt::AlignCenter);
    column->addWidget(title);
    QLabel* itemText = caption(EditorRules::itemCaption(item));
    itemText->setAlignment(Qt::AlignCenter);
    column->addWidget(itemText);

    m_recorder = new ShortcutRecorder(host.hotKeys);
    m_recorder->setShortcut(m_recorded);
    column->addWidget(m_recorder);
    connect(m_recorder, &ShortcutRecorder::recorded, this, &ShortcutEditorWindow::takeChord);
    connect(m_recorder, &ShortcutRecorder::refused, this, &ShortcutEditorWindow::refuse);
    connect(m_recorder, &ShortcutRecorder::recordingChanged, this, [this](bool recording) {
        if (recording)
            m_conflict->hide();
    });

    m_conflict = caption(QString(), 0);
    QPalette palette = m_conflict->palette();
    palette.setColor(QPalette::WindowText, destructiveRed(palette));
    m_conflict->setPalette(palette);
    m_conflict->setAlignment(Qt::AlignCenter);
    m_conflict->hide();
    column->addWidget(m_conflict);
    column->addWidget(errorLabel());

    QBoxLayout* buttons = buttonRow(tr("Save"), &m_save);
    m_remove = new QPushButton(tr("Remove"));
    m_remove->setAutoDefault(false);
    QPalette removePalette = m_remove->palette();
    removePalette.setColor(QPalette::ButtonText, destructiveRed(removePalette));
    m_remove->setPalette(removePalette);
    connect(m_remove, &QPushButton::clicked, this, &ShortcutEditorWindow::removeShortcut);
    buttons->insertWidget(0, m_remove);
    column->addLayout(buttons);
    refresh();
    finishLayout();
}

QString ShortcutEditorWindow::conflictMessage() const { return m_conflict->isVisible() ? m_conflict->text() : QString(); }

void ShortcutEditorWindow::takeChord(const ItemShortcut& chord)
{
    if (const std::optional<QString> reason = manager().shortcutConflictMessage(chord.keyCode, chord.modifiers, m_item.id, false)) {
        refuse(*reason + tryAnother);
        return;
    }
    // Only an attempt to grab it tells whether another program holds it; a held chord would never fire.
    if (hotKeys() && !(m_item.shortcut == chord)) {
        if (const Status available = hotKeys()->checkAvailable(chord.keyCode, chord.modifiers); !available) {
            refuse(available.error() + tryAnother);
            return;
        }
    }
    m_recorded = chord;
    m_conflict->hide();
    refresh();
}

void ShortcutEditorWindow::refuse(const QString& message)
{
    m_recorded.reset();
    m_conflict->setText(message);
    m_conflict->show();
    refresh();
}

void ShortcutEditorWindow::refresh()
{
    m_recorder->setShortcut(m_recorded);
    m_remove->setVisible(m_item.shortcut.has_value() || m_recorded.has_value());
    m_save->setEnabled(EditorRules::canSaveShortcut(m_recorded, m_item.shortcut.has_value()));
}

void ShortcutEditorWindow::removeShortcut()
{
    m_recorder->stopRecording();
    m_removing = true;
    trySave();
    m_removing = false;
}

Status ShortcutEditorWindow::save()
{
    m_recorder->stopRecording();
    if (m_removing)
        return manager().setItemShortcut(m_item.id, std::nullopt);
    if (!m_recorded)
        return {};
    return manager().setItemShortcut(m_item.id, m_recorded);
}

} // namespace lumra
