#include "ui/settings/ShortcutsPage.h"

#include "ui/shell/HotKeyManager.h"
#include "ui/shell/Prompt.h"
#include "engine/ClipboardManager.h"
#include "platform/keys/KeyCodes.h"
#include "platform/symbols/Symbols.h"
#include "ui/items/RowFormatters.h"
#include "ui/items/ShortcutRecorder.h"
#include "ui/settings/SettingsWidgets.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QScrollArea>
#include <QStackedWidget>
#include <QFontDatabase>
#include <QToolButton>
#include <QVBoxLayout>

namespace lumra {

namespace {

QString shownText(const ClipboardItem& item) { return item.isSensitive ? item.maskedDisplayText() : item.displayText(); }

// At most two lines of the item's text, the second cut short with an ellipsis.
class TwoLineLabel : public QLabel {
public:
    TwoLineLabel(const QString& text, QWidget* parent) : QLabel(parent), m_full(text)
    {
        setWordWrap(true);
        setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
        setTextFormat(Qt::PlainText);
    }

protected:
    void resizeEvent(QResizeEvent* event) override
    {
        QLabel::resizeEvent(event);
        const QFontMetrics metrics(font());
        QString flat = m_full.left(600);
        flat.replace(QLatin1Char('\n'), QLatin1Char(' ')).replace(QLatin1Char('\t'), QLatin1Char(' '));
        // Words that fit on the first line stay whole; the rest is elided on the second.
        const QStringList words = flat.split(QLatin1Char(' '));
        QString first;
        int taken = 0;
        for (; taken < words.size(); ++taken) {
            const QString candidate = first.isEmpty() ? words[taken] : first + QLatin1Char(' ') + words[taken];
            if (metrics.horizontalAdvance(candidate) > width())
                break;
            first = candidate;
        }
        const QString rest = words.mid(taken).join(QLatin1Char(' '));
        QString shown = first.isEmpty() ? metrics.elidedText(flat, Qt::ElideRight, width() * 2) : first;
        if (!first.isEmpty() && !rest.isEmpty())
            shown += QLatin1Char('\n') + metrics.elidedText(rest, Qt::ElideRight, width());
        if (shown != text())
            setText(shown);
        setMaximumHeight(metrics.lineSpacing() * 2 + 2);
    }

private:
    QString m_full;
};

} // namespace

QList<ClipboardItem> shortcutItems(const QList<ClipboardItem>& items)
{
    QList<ClipboardItem> listed;
    for (const ClipboardItem& item : items) {
        if (item.shortcut && !item.isTrashed)
            listed.append(item);
    }
    return listed;
}

ShortcutsPage::ShortcutsPage(SettingsContext context, QWidget* parent)
    : QWidget(parent)
    , m_context(std::move(context))
    , m_stack(new QStackedWidget(this))
{
    setFont(SettingsStyle::font(14, false, font()));
    auto* scroll = new QScrollArea;
    SettingsStyle::setUpPage(scroll);
    m_listContent = new QWidget;
    m_listLayout = new QVBoxLayout(m_listContent);
    m_listLayout->setContentsMargins(16, 12, 16, 12);
    m_listLayout->setSpacing(0);
    m_listLayout->addStretch(1);
    scroll->setWidget(m_listContent);
    m_stack->addWidget(emptyState());
    m_stack->addWidget(scroll);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_stack);

    ClipboardManager& manager = m_context.manager;
    connect(&manager, &ClipboardManager::clipboardItemsChanged, this, &ShortcutsPage::refresh);
    connect(&manager, &ClipboardManager::itemShortcutsChanged, this, &ShortcutsPage::refresh);
    m_ageTimer = manager.clock().start(std::chrono::seconds(30), true, [this] { updateAges(); });
    refresh();
}

QWidget* ShortcutsPage::emptyState()
{
    auto* holder = new QWidget;
    auto* column = new QWidget(holder);
    column->setFixedWidth(440);
    auto* layout = new QVBoxLayout(column);
    layout->setContentsMargins(24, 0, 24, 0);
    layout->setSpacing(12);
    auto* symbol = new QLabel(column);
    symbol->setAlignment(Qt::AlignCenter);
    m_emptySymbol = symbol;
    updateSymbol();
    auto* title = SettingsStyle::label(QStringLiteral("Item Shortcuts"), 15, true, false, column);
    const QString intro = QStringLiteral(
        "Give any clipboard item its own keyboard shortcut, then paste it instantly in any app \u2014 even when Lumra "
        "is closed. Great for things you paste all the time, like your email address, a signature, or a favorite "
        "code snippet.");
    const QString howTo = QStringLiteral(
        "<b>How to set one up:</b> open Lumra, right-click the item you want, choose <b>\u201cSet Shortcut,\u201d</b> and "
        "press the key combination you'd like (for example Ctrl+Alt+1). Pressing those keys anywhere then pastes that "
        "item. Your shortcuts will appear here, where you can change or remove them anytime.");
    layout->addWidget(symbol);
    layout->addWidget(title);
    for (const QString& text : {intro, howTo}) {
        QLabel* paragraph = SettingsStyle::label(text, 12, false, true, column);
        paragraph->setTextFormat(Qt::RichText);
        paragraph->setWordWrap(true);
        // Wrapped labels under an aligned layout get no height for their width; never cut them short.
        paragraph->setMinimumHeight(paragraph->heightForWidth(column->width() - 48));
        layout->addWidget(paragraph);
    }
    for (int i = 0; i < layout->count(); ++i) {
        if (auto* label = qobject_cast<QLabel*>(layout->itemAt(i)->widget()))
            label->setAlignment(Qt::AlignCenter);
    }
    auto* outer = new QVBoxLayout(holder);
    outer->addStretch(1);
    outer->addWidget(column, 0, Qt::AlignHCenter);
    outer->addStretch(1);
    holder->setObjectName(QStringLiteral("shortcutsEmptyState"));
    return holder;
}

void ShortcutsPage::updateSymbol()
{
    const QColor secondary = palette().color(QPalette::PlaceholderText);
    m_emptySymbol->setPixmap(
        SettingsStyle::tinted(Symbols::icon(QStringLiteral("keyboard")), secondary, secondary, 36).pixmap(36, 36));
}

void ShortcutsPage::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::PaletteChange && m_emptySymbol)
        updateSymbol();
    QWidget::changeEvent(event);
}

bool ShortcutsPage::isShowingEmptyState() const { return m_stack->currentIndex() == 0; }

void ShortcutsPage::refresh()
{
    const QList<ClipboardItem> items = shortcutItems(m_context.manager.clipboardItems());
    // Captures change the history all the time; the rows are made again only when what they show
    // changed, so a recording under way is not cut short by a copy.
    QString signature;
    for (const ClipboardItem& item : items)
        signature += item.id.toString() + shownText(item) + item.shortcut->displayString()
            + QString::number(item.dateAdded.toMSecsSinceEpoch()) + QLatin1Char('\n');
    m_stack->setCurrentIndex(items.isEmpty() ? 0 : 1);
    if (signature == m_signature && m_rowsHolder)
        return;
    m_signature = signature;
    if (m_rowsHolder) {
        // Deleted later: the recorder that asked for this change may still be on the stack.
        m_rowsHolder->hide();
        m_rowsHolder->deleteLater();
    }
    m_rows.clear();
    m_listed.clear();
    m_rowsHolder = new QWidget(m_listContent);
    auto* rows = new QVBoxLayout(m_rowsHolder);
    rows->setContentsMargins(0, 0, 0, 0);
    rows->setSpacing(0);
    for (int i = 0; i < items.size(); ++i) {
        if (i > 0) {
            auto* line = new QFrame(m_rowsHolder);
            line->setFrameShape(QFrame::HLine);
            line->setFrameShadow(QFrame::Plain);
            line->setForegroundRole(QPalette::Midlight);
            rows->addWidget(line);
        }
        rows->addWidget(makeRow(items[i]));
        m_listed.append(items[i].id);
    }
    m_listLayout->insertWidget(0, m_rowsHolder);
}

QWidget* ShortcutsPage::makeRow(const ClipboardItem& item)
{
    auto* row = new QWidget(m_rowsHolder);
    auto* text = new TwoLineLabel(shownText(item), row);
    auto* age = SettingsStyle::label(QString(), 11, false, true, row);
    auto* recorder = new ShortcutRecorder(&m_context.hotKeys, row);
    recorder->setShortcut(item.shortcut);
    recorder->setIdleText(QString());
    recorder->setRecordingText(QStringLiteral("Press shortcut..."));
    // Escape (with any modifiers) cancels; keys without Ctrl, Alt or Super are dropped.
    recorder->setPlainKeysPassOn(false);
    recorder->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    QFont mono = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    mono.setPixelSize(12);
    recorder->setFont(mono);
    recorder->setMinimumWidth(120);
    recorder->setAccessibleName(QStringLiteral("Shortcut"));
    auto* remove = new QToolButton(row);
    remove->setAutoRaise(true);
    remove->setIcon(SettingsStyle::tinted(Symbols::icon(QStringLiteral("trash")), QColor(0xE0, 0x3E, 0x3E),
                                          QColor(0xE0, 0x3E, 0x3E), 14));
    remove->setToolTip(QStringLiteral("Remove shortcut"));
    remove->setAccessibleName(QStringLiteral("Remove shortcut"));

    auto* texts = new QVBoxLayout;
    texts->setSpacing(2);
    texts->addWidget(text);
    texts->addWidget(age);
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 6, 0, 6);
    layout->setSpacing(10);
    layout->addLayout(texts, 1);
    layout->addWidget(recorder);
    layout->addWidget(remove);

    const QUuid id = item.id;
    connect(recorder, &ShortcutRecorder::recordingChanged, this, [this, recorder](bool recording) {
        if (recording)
            recordingStarted(recorder);
    });
    connect(recorder, &ShortcutRecorder::recorded, this, [this, id](const ItemShortcut& chord) { takeChord(id, chord); });
    connect(recorder, &ShortcutRecorder::refused, this, &ShortcutsPage::refuse);
    connect(remove, &QToolButton::clicked, this, [this, id] { confirmRemove(id); });
    m_rows.append({id, age, item.dateAdded, recorder, remove});
    updateAges();
    return row;
}

void ShortcutsPage::updateAges()
{
    const QDateTime now = m_context.manager.clock().now();
    for (const Row& row : m_rows)
        row.age->setText(relativeAgeText(row.dateAdded, now));
}

void ShortcutsPage::recordingStarted(ShortcutRecorder* recorder)
{
    // One recording at a time: starting on a row ends the one on another row.
    for (const Row& row : m_rows) {
        if (row.recorder != recorder)
            row.recorder->stopRecording();
    }
}

void ShortcutsPage::stopShortcutRecording()
{
    for (const Row& row : m_rows)
        row.recorder->stopRecording();
}

std::optional<ClipboardItem> ShortcutsPage::listedItem(const QUuid& itemId) const
{
    for (const ClipboardItem& item : m_context.manager.clipboardItems()) {
        if (item.id == itemId)
            return item;
    }
    return std::nullopt;
}

void ShortcutsPage::takeChord(const QUuid& itemId, const ItemShortcut& chord)
{
    // The recording has ended and the hot keys are back. Escape with modifiers only cancels.
    if (chord.keyCode == KeyCodes::keyCodeForQtKey(Qt::Key_Escape))
        return;
    const std::optional<ClipboardItem> item = listedItem(itemId);
    if (!item)
        return;
    ClipboardManager& manager = m_context.manager;
    if (const auto reason = manager.shortcutConflictMessage(chord.keyCode, chord.modifiers, itemId, false))
        return refuse(*reason);
    // Only an attempt to grab it tells whether another program holds it; a held chord would never fire.
    if (!(item->shortcut == chord)) {
        if (const Status available = m_context.hotKeys.checkAvailable(chord.keyCode, chord.modifiers); !available)
            return refuse(available.error());
    }
    if (const Status stored = manager.setItemShortcut(itemId, chord); !stored)
        m_context.prompts.alert(QStringLiteral("The shortcut could not be saved"), stored.error(), {QStringLiteral("OK")},
                                PromptService::Style::warning);
}

void ShortcutsPage::refuse(const QString& reason)
{
    m_context.prompts.alert(QStringLiteral("Shortcut already in use"), reason + QStringLiteral(" Please use a different shortcut."),
                            {QStringLiteral("OK")}, PromptService::Style::warning);
}

void ShortcutsPage::confirmRemove(const QUuid& itemId)
{
    const std::optional<ClipboardItem> item = listedItem(itemId);
    if (!item)
        return;
    const QString chord = item->shortcut ? item->shortcut->displayString() : QString();
    const int answer = m_context.prompts.alert(
        QStringLiteral("Remove shortcut %1?").arg(chord), item->isSensitive ? item->maskedDisplayText() : item->previewText(),
        {QStringLiteral("Remove"), QStringLiteral("Cancel")}, PromptService::Style::warning);
    if (answer != 0)
        return;
    if (const Status removed = m_context.manager.setItemShortcut(itemId, std::nullopt); !removed)
        m_context.prompts.alert(QStringLiteral("The shortcut could not be removed"), removed.error(), {QStringLiteral("OK")},
                                PromptService::Style::warning);
}

ShortcutRecorder* ShortcutsPage::recorder(const QUuid& itemId) const
{
    for (const Row& row : m_rows) {
        if (row.id == itemId)
            return row.recorder;
    }
    return nullptr;
}

QToolButton* ShortcutsPage::removeButton(const QUuid& itemId) const
{
    for (const Row& row : m_rows) {
        if (row.id == itemId)
            return row.remove;
    }
    return nullptr;
}

} // namespace lumra
