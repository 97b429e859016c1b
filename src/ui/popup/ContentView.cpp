#include "ui/popup/ContentView.h"

#include "ui/shell/PopupPanel.h"
#include "ui/shell/Prompt.h"
#include "engine/ClipboardManager.h"
#include "engine/HistoryFilter.h"
#include "engine/PasteService.h"
#include "model/NotificationCenter.h"
#include "platform/defaults/UserDefaults.h"
#include "ui/DrawableText.h"
#include "platform/symbols/Symbols.h"
#include "ui/items/ItemRowDelegate.h"
#include "ui/items/PopupAlert.h"
#include "ui/items/RowFormatters.h"
#include "ui/popup/HistoryListModel.h"
#include "ui/popup/HistoryListView.h"
#include "ui/popup/PreviewTriggers.h"
#include "ui/popup/SearchBar.h"
#include "ui/popup/SearchField.h"
#include "ui/preview/PreviewCoordinator.h"

#include <QAbstractButton>
#include <QDesktopServices>
#include <QScreen>
#include <QEvent>
#include <QFrame>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QStackedWidget>
#include <QToolTip>
#include <QVBoxLayout>

#include <tuple>

namespace lumra {

namespace {

const QString pendingCelebrationKey = QStringLiteral("pendingCelebrationMessage");
const QString totalPastesKey = QStringLiteral("totalSuccessfulPastes");

QFrame* divider(QWidget* parent)
{
    auto* line = new QFrame(parent);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Plain);
    line->setFixedHeight(1);
    line->setForegroundRole(QPalette::Mid);
    return line;
}

QColor secondaryText(const QPalette& palette)
{
    QColor color = palette.color(QPalette::WindowText);
    color.setAlphaF(0.62f);
    return color;
}

// One of the panel's own window buttons: a small coloured circle whose symbol shows on hover.
class WindowButton : public QAbstractButton {
public:
    enum class Kind { close, zoom };
    WindowButton(Kind kind, QWidget* parent) : QAbstractButton(parent), m_kind(kind)
    {
        setFixedSize(14, 14);
        setCursor(Qt::ArrowCursor);
        setFocusPolicy(Qt::NoFocus);
        setToolTip(kind == Kind::close ? QStringLiteral("Close") : QStringLiteral("Zoom"));
        setAttribute(Qt::WA_Hover);
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        const QColor fill = m_kind == Kind::close ? QColor(255, 95, 87) : QColor(40, 200, 64);
        painter.setPen(QPen(fill.darker(125), 0.8));
        painter.setBrush(isDown() ? fill.darker(115) : fill);
        const QRectF circle = QRectF(rect()).adjusted(1, 1, -1, -1);
        painter.drawEllipse(circle);
        if (!underMouse())
            return;
        painter.setPen(QPen(QColor(0, 0, 0, 150), 1.3, Qt::SolidLine, Qt::RoundCap));
        const QRectF glyph = circle.adjusted(3.5, 3.5, -3.5, -3.5);
        if (m_kind == Kind::close) {
            painter.drawLine(glyph.topLeft(), glyph.bottomRight());
            painter.drawLine(glyph.bottomLeft(), glyph.topRight());
        } else {
            painter.drawLine(QPointF(glyph.center().x(), glyph.top()), QPointF(glyph.center().x(), glyph.bottom()));
            painter.drawLine(QPointF(glyph.left(), glyph.center().y()), QPointF(glyph.right(), glyph.center().y()));
        }
    }

private:
    Kind m_kind;
};

QFont captionFont(const QFont& base)
{
    QFont font = base;
    font.setPixelSize(11);
    return font;
}

} // namespace

SyncStatusLook SyncStatusLook::forStatus(const QString& status)
{
    const QString cross = QStringLiteral("\u274C");
    const QString arrows = QStringLiteral("\U0001F504");
    const QString check = QStringLiteral("\u2705");
    const QString warning = QStringLiteral("\u26A0");
    SyncStatusLook look;
    if (status.contains(cross) || status.contains(warning))
        look.symbol = QStringLiteral("exclamationmark.icloud");
    else if (status.contains(arrows))
        look.symbol = QStringLiteral("arrow.triangle.2.circlepath.icloud");
    else if (status.contains(check))
        look.symbol = QStringLiteral("checkmark.icloud");
    else
        look.symbol = QStringLiteral("icloud");
    if (status.contains(cross))
        look.tone = Tone::red;
    else if (status.contains(warning))
        look.tone = Tone::orange;
    else if (status.contains(check))
        look.tone = Tone::green;
    return look;
}

ContentView::ContentView(ClipboardManager& manager, HotKeyManager* hotKeys, QWidget* parent)
    : QWidget(parent)
    , m_manager(&manager)
    , m_hotKeys(hotKeys)
{
    setObjectName(QStringLiteral("ContentView"));
    setMinimumSize(280, 300);
    setMaximumSize(1000, 1400);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    buildHeader();
    layout->addWidget(m_header);

    m_searchAreaHost = new QWidget(this);
    m_searchAreaHost->setObjectName(QStringLiteral("searchAreaHost"));
    auto* searchLayout = new QVBoxLayout(m_searchAreaHost);
    searchLayout->setContentsMargins(12, 8, 12, 8);
    searchLayout->setSpacing(6);
    layout->addWidget(m_searchAreaHost);
    buildSearchBar();

    layout->addWidget(divider(this));

    m_listArea = new QStackedWidget(this);
    m_list = new HistoryListView(manager, m_state, m_listArea);
    m_emptyState = new QWidget(m_listArea);
    auto* emptyLayout = new QVBoxLayout(m_emptyState);
    emptyLayout->setSpacing(8);
    emptyLayout->addStretch(1);
    m_emptyIcon = new QLabel(m_emptyState);
    m_emptyIcon->setAlignment(Qt::AlignCenter);
    m_emptyText = new QLabel(m_emptyState);
    m_emptyText->setObjectName(QStringLiteral("emptyText"));
    m_emptyText->setAlignment(Qt::AlignCenter);
    m_emptyText->setWordWrap(true);
    emptyLayout->addWidget(m_emptyIcon);
    emptyLayout->addWidget(m_emptyText);
    emptyLayout->addStretch(1);
    m_listArea->addWidget(m_list);
    m_listArea->addWidget(m_emptyState);
    layout->addWidget(m_listArea, 1);
    // A long rich text's forms take seconds before anything is written: until then the popup says so.
    m_pasteStatus = new QLabel(QStringLiteral("Preparing the paste…"), this);
    m_pasteStatus->setObjectName(QStringLiteral("pasteStatus"));
    m_pasteStatus->setFont(captionFont(font()));
    m_pasteStatus->setContentsMargins(12, 4, 12, 4);
    m_pasteStatus->setVisible(manager.paste().preparing());
    layout->addWidget(m_pasteStatus);
    applySecondaryColours();

    m_footerDivider = divider(this);
    layout->addWidget(m_footerDivider);
    m_footerHost = new QWidget(this);
    m_footerHost->setObjectName(QStringLiteral("footerHost"));
    auto* footerLayout = new QHBoxLayout(m_footerHost);
    footerLayout->setContentsMargins(12, 6, 12, 6);
    footerLayout->setSpacing(6);
    layout->addWidget(m_footerHost);
    m_footerHost->hide();
    m_footerDivider->hide();
    m_footerHost->installEventFilter(this);

    connect(&manager.filters(), &HistoryFilter::filteredItemsChanged, this, [this] {
        updateListArea();
        updateHeader();
    });
    connect(&manager.filters(), &HistoryFilter::filtersChanged, this, [this] {
        // Typing in the search field clears the keyboard selection.
        m_state.setKeyboardSelectedId(std::nullopt);
        updateListArea();
    });
    connect(&manager.paste(), &PasteService::preparingChanged, m_pasteStatus, &QWidget::setVisible);
    connect(&manager, &ClipboardManager::settingChanged, this, &ContentView::updateHeader);
    connect(&manager, &ClipboardManager::iCloudSyncStatusChanged, this, &ContentView::updateHeader);
    connect(&m_state, &ContentViewState::savingsMessageChanged, this, &ContentView::updateHeader);
    connect(&m_state, &ContentViewState::scrollToItemIdChanged, this, &ContentView::scrollRequested);
    connect(m_list, &HistoryListView::pasteRequested, this, [this](const QUuid& id, bool plain) { pasteRow(id, plain); });
    connect(m_list, &HistoryListView::contextMenuRequested, this, &ContentView::rowContextMenu);
    connect(m_list, &HistoryListView::linkActivated, this, [](const QUrl& url) { QDesktopServices::openUrl(url); });

    new PreviewTriggers(*this);

    updateHeader();
    updateListArea();
}

ContentView::~ContentView() { cancelPaste(); }

void ContentView::setPanel(PopupPanel* panel)
{
    if (m_panel)
        m_panel->removeEventFilter(this);
    m_panel = panel;
    m_panelObject = panel;
    if (panel) {
        panel->installEventFilter(this);
        connect(panel, &PopupPanel::windowButtonsChanged, this, &ContentView::updateHeader);
    }
    updateHeader();
}

void ContentView::buildHeader()
{
    m_header = new QWidget(this);
    m_header->setObjectName(QStringLiteral("headerBand"));
    auto* row = new QHBoxLayout(m_header);
    row->setSpacing(3);
    // The window buttons sit in a fixed leading column, so the message after them never moves.
    m_windowButtons = new QWidget(m_header);
    m_windowButtons->setFixedWidth(70);
    auto* buttons = new QHBoxLayout(m_windowButtons);
    buttons->setContentsMargins(0, 0, 0, 0);
    buttons->setSpacing(8);
    auto* close = new WindowButton(WindowButton::Kind::close, m_windowButtons);
    auto* zoom = new WindowButton(WindowButton::Kind::zoom, m_windowButtons);
    buttons->addWidget(close);
    buttons->addWidget(zoom);
    buttons->addStretch(1);
    connect(close, &QAbstractButton::clicked, this, [this] {
        if (m_panel)
            m_panel->close();
    });
    connect(zoom, &QAbstractButton::clicked, this, &ContentView::toggleZoom);
    row->addWidget(m_windowButtons);
    m_savingsButton = new QPushButton(m_header);
    m_savingsButton->setFlat(true);
    m_savingsButton->setCursor(Qt::PointingHandCursor);
    m_savingsButton->setFocusPolicy(Qt::TabFocus);
    m_savingsButton->setToolTip(QStringLiteral("Click to reset your time-saved counter"));
    m_savingsButton->setFont(captionFont(font()));
    m_savingsButton->setStyleSheet(QStringLiteral("QPushButton { border: none; padding: 0; text-align: left; }"));
    m_savingsButton->hide();
    connect(m_savingsButton, &QPushButton::clicked, this, &ContentView::confirmSavingsReset);
    m_syncIcon = new QLabel(m_header);
    m_countLabel = new QLabel(m_header);
    m_countLabel->setFont(captionFont(font()));
    row->addWidget(m_savingsButton);
    row->addStretch(1);
    row->addWidget(m_syncIcon);
    row->addWidget(m_countLabel);
}

void ContentView::buildSearchBar()
{
    m_searchBar = new SearchBar(*m_manager, m_searchAreaHost);
    m_searchAreaHost->layout()->addWidget(m_searchBar);
    m_searchBar->attachViewState(m_state);
    setFocusProxy(m_searchBar->searchField());
}

void ContentView::updateHeader()
{
    if (!m_manager)
        return;
    ClipboardManager& m = *m_manager;
    const bool syncShown = m.iCloudSyncEnabled() && m.showSyncIcon();
    const std::optional<QString> message = m_state.savingsMessage();
    const bool headerShown = syncShown || m.showItemCount() || message;
    const bool windowButtons = m_panel && m_panel->showsWindowButtons();
    const bool tall = headerShown || windowButtons;

    m_header->setFixedHeight(headerBandHeight(tall));
    m_header->layout()->setContentsMargins(12, tall ? 3 : 0, 12, 0);

    m_windowButtons->setVisible(windowButtons || message.has_value());
    for (QWidget* button : m_windowButtons->findChildren<QAbstractButton*>())
        button->setVisible(windowButtons);
    m_savingsButton->setVisible(message.has_value());
    if (message) // an "&" of the message is text, not a keyboard accelerator
        m_savingsButton->setText(drawableText(*message, m_savingsButton->font()).replace(QLatin1Char('&'), QLatin1String("&&")));

    m_syncIcon->setVisible(syncShown && tall);
    if (syncShown) {
        const QString status = m.iCloudSyncStatus();
        const SyncStatusLook look = SyncStatusLook::forStatus(status);
        QColor tone = secondaryText(palette());
        if (look.tone == SyncStatusLook::Tone::green)
            tone = QColor(52, 199, 89);
        else if (look.tone == SyncStatusLook::Tone::red)
            tone = QColor(255, 59, 48);
        else if (look.tone == SyncStatusLook::Tone::orange)
            tone = QColor(255, 149, 0);
        QPixmap pixmap = Symbols::icon(look.symbol).pixmap(QSize(12, 12), devicePixelRatioF());
        if (!pixmap.isNull()) {
            QPainter painter(&pixmap);
            painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
            painter.fillRect(pixmap.rect(), tone);
        }
        m_syncIcon->setPixmap(pixmap);
        m_syncIcon->setToolTip(status.isEmpty() ? QStringLiteral("Sync is on") : drawableText(status, QToolTip::font()));
    }
    m_countLabel->setVisible(m.showItemCount() && tall);
    m_countLabel->setText(itemCountText(m.filters().filteredItemCount()));
}

void ContentView::toggleZoom()
{
    if (!m_panel)
        return;
    // Between the user's size and the largest one the screen and the panel's limits allow.
    const QRect available = m_panel->screen() ? m_panel->screen()->availableGeometry() : QRect();
    const QSize largest = m_panel->maximumSize().boundedTo(available.size());
    if (m_unzoomedGeometry) {
        m_panel->setGeometry(*m_unzoomedGeometry);
        m_unzoomedGeometry.reset();
        return;
    }
    m_unzoomedGeometry = m_panel->geometry();
    QRect zoomed(m_panel->geometry().topLeft(), largest);
    if (available.isValid()) {
        zoomed.moveRight(std::min(zoomed.right(), available.right()));
        zoomed.moveBottom(std::min(zoomed.bottom(), available.bottom()));
        zoomed.moveLeft(std::max(zoomed.left(), available.left()));
        zoomed.moveTop(std::max(zoomed.top(), available.top()));
    }
    m_panel->setGeometry(zoomed);
}

void ContentView::updateListArea()
{
    if (!m_manager)
        return;
    const bool empty = m_manager->filters().filteredItemCount() == 0;
    m_listArea->setCurrentWidget(empty ? m_emptyState : static_cast<QWidget*>(m_list));
    m_emptyText->setText(m_manager->filters().searchText().isEmpty() ? QStringLiteral("No clipboard history yet")
                                                           : QStringLiteral("No matches found"));
}

QList<QUuid> ContentView::visibleSelectedIds() const
{
    QList<QUuid> ids;
    for (const QUuid& id : m_state.selectedIds()) {
        if (m_list->historyModel()->containsItem(id))
            ids.append(id);
    }
    return ids;
}

std::optional<int> ContentView::visibleRowOf(const std::optional<QUuid>& id) const
{
    if (!id)
        return std::nullopt;
    const HistoryListModel* model = m_list->historyModel();
    const int row = model->rowOf(*id);
    return row >= 0 ? std::optional(row - model->firstItemRow()) : std::nullopt;
}

bool ContentView::moveSelection(MoveDirection direction)
{
    if (!m_manager || m_manager->filters().filteredItemCount() == 0)
        return false;
    m_state.setKeyboardNav(true, QCursor::pos());
    HistoryListModel* model = m_list->historyModel();
    const bool down = direction == MoveDirection::down;
    if (const std::optional<int> row = visibleRowOf(m_state.keyboardSelectedId());
        row && *row == (down ? model->itemRowCount() - 1 : 0))
        model->growTowards(down);
    const std::optional<int> position = keyboardMove(model->itemRowCount(), visibleRowOf(m_state.keyboardSelectedId()),
                                                     visibleRowOf(m_state.hoveredItemId()), direction);
    const ClipboardItem* item = position ? model->itemAt(model->firstItemRow() + *position) : nullptr;
    m_state.setKeyboardSelectedId(item ? std::optional(item->id) : std::nullopt);
    return true;
}

bool ContentView::handleReturnKey(bool plainText)
{
    if (!m_manager)
        return false;
    const HistoryListModel* model = m_list->historyModel();
    if (!m_state.selectedIds().isEmpty()) {
        QList<ClipboardItem> items;
        for (const QUuid& id : m_state.selectedIds()) {
            if (const ClipboardItem* item = model->findItem(id))
                items.append(*item);
        }
        if (items.isEmpty())
            return false;
        m_state.setSelectedIds({});
        m_state.setKeyboardSelectedId(std::nullopt);
        QPointer<ClipboardManager> manager = m_manager;
        handBackFocus();
        manager->clock().after(selectionPasteDelay, manager, [manager, items] {
            if (manager)
                manager->paste().pasteItems(items);
        });
        return true;
    }
    const std::optional<QUuid> id = m_state.keyboardSelectedId() ? m_state.keyboardSelectedId() : m_state.hoveredItemId();
    const ClipboardItem* found = id ? model->findItem(*id) : nullptr;
    if (!found) {
        m_manager->paste().tellNothingChosen();
        return true;
    }
    const ClipboardItem item = *found;
    m_state.setKeyboardSelectedId(std::nullopt);
    pasteItem(item, plainText);
    return true;
}

bool ContentView::pasteRow(const QUuid& id, bool plainText)
{
    const ClipboardItem* found = m_manager ? m_list->historyModel()->findItem(id) : nullptr;
    m_state.setSelectedIds({});
    return found && pasteItem(*found, plainText);
}

bool ContentView::pasteItem(ClipboardItem item, bool plainText)
{
    // `item` is a copy: the paste reloads the list it came from. Focus goes back once the write is
    // made: a rich text's forms may take a moment.
    // Closing the popup before the write cancels the paste; the focus handed back after it does not.
    if (!m_manager)
        return false;
    m_paste = m_manager->paste().pasteItem(item, true, plainText, pasteDelay, [view = QPointer(this)] {
        if (view)
            view->handBackFocus();
    });
    return m_paste != nullptr;
}

void ContentView::cancelPaste()
{
    if (const auto paste = std::exchange(m_paste, nullptr))
        paste->cancel();
}

void ContentView::handBackFocus()
{
    if (m_manager && m_manager->keepWindowOpen())
        NotificationCenter::defaultCenter().post(Notifications::activatePreviousAppForPaste);
    else if (m_panel)
        m_panel->close();
    else
        window()->close();
}

QList<QUuid> ContentView::menuIdsFor(const QUuid& id) const
{
    const QList<QUuid> selected = visibleSelectedIds();
    if (selected.size() >= 2 && selected.contains(id))
        return selected;
    return {id};
}

void ContentView::rowContextMenu(const QUuid& id, QPoint globalPos) { emit contextMenuRequested(menuIdsFor(id), globalPos); }

bool ContentView::requestContextMenuFromKeyboard()
{
    const std::optional<QUuid> id = m_state.keyboardSelectedId() ? m_state.keyboardSelectedId() : m_state.hoveredItemId();
    const QModelIndex index = id ? m_list->historyModel()->indexOf(*id) : QModelIndex();
    if (!index.isValid())
        return false;
    const QRect rect = m_list->visualRect(index);
    rowContextMenu(*id, m_list->viewport()->mapToGlobal(QPoint(rect.left() + 24, rect.center().y())));
    return true;
}

void ContentView::resetForOpening()
{
    if (!m_manager)
        return;
    {
        HistoryFilter::FilterUpdateBatch batch(m_manager->filters());
        m_manager->filters().setSearchText(QString());
        m_manager->filters().resetFiltersToPinned();
    }
    m_lostFocusSinceReset = false;
    m_state.setSelectedIds({});
    m_state.setKeyboardSelectedId(std::nullopt);
    m_list->historyModel()->resetWindow();
    m_list->scrollToTop();
    m_state.setSearchFocused(false);
    m_focusTimer = m_manager->clock().start(focusDelay, false, [this] { m_state.setSearchFocused(true); });
}

void ContentView::showPendingSavingsMessage()
{
    if (!m_manager || !m_manager->showTimeSavedCelebration())
        return;
    UserDefaults& defaults = m_manager->userDefaults();
    const std::optional<QString> message = defaults.string(pendingCelebrationKey);
    if (!message)
        return;
    m_state.setSavingsMessage(*message);
    defaults.remove(pendingCelebrationKey);
    m_savingsTimer = m_manager->clock().start(savingsMessageDuration, false, [this] { m_state.setSavingsMessage(std::nullopt); });
}

void ContentView::confirmSavingsReset()
{
    if (!m_manager)
        return;
    const int answer = askHoldingPopup(m_panel, [] {
        return PromptService::shared().alert(QStringLiteral("Reset Time Saved Counter?"),
                                             QStringLiteral("This will set your saved-time back to zero."),
                                             {QStringLiteral("Reset"), QStringLiteral("Cancel")},
                                             PromptService::Style::warning);
    });
    if (answer != 0 || !m_manager)
        return;
    UserDefaults& defaults = m_manager->userDefaults();
    defaults.set(totalPastesKey, 0);
    defaults.remove(pendingCelebrationKey);
    m_state.setSavingsMessage(std::nullopt);
    m_savingsTimer.reset();
}

void ContentView::scrollRequested()
{
    const std::optional<QUuid> id = m_state.scrollToItemId();
    if (!id || !m_manager)
        return;
    m_list->historyModel()->showWindowAround(*id);
    m_list->scrollToItem(*id);
    m_state.setHighlightedItemId(id);
    m_state.setScrollToItemId(std::nullopt);
    m_highlightTimer = m_manager->clock().start(highlightDuration, false, [this] { m_state.setHighlightedItemId(std::nullopt); });
}

void ContentView::keyPressEvent(QKeyEvent* event)
{
    const int key = event->key();
    const Qt::KeyboardModifiers modifiers = event->modifiers();
    if (m_manager && (key == Qt::Key_Down || key == Qt::Key_Up || key == Qt::Key_Return || key == Qt::Key_Enter))
        m_manager->filters().applyPendingSearch();
    bool used = false;
    switch (key) {
    case Qt::Key_Down:
        used = moveSelection(MoveDirection::down);
        break;
    case Qt::Key_Up:
        used = moveSelection(MoveDirection::up);
        break;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        used = handleReturnKey(modifiers.testFlag(Qt::ShiftModifier)
                               || QGuiApplication::queryKeyboardModifiers().testFlag(Qt::ShiftModifier));
        break;
    case Qt::Key_Menu:
        used = requestContextMenuFromKeyboard();
        break;
    case Qt::Key_F10:
        used = modifiers.testFlag(Qt::ShiftModifier) && requestContextMenuFromKeyboard();
        break;
    case Qt::Key_Escape:
        if (m_panel)
            m_panel->close();
        used = true;
        break;
    default:
        break;
    }
    if (used)
        event->accept();
    else
        QWidget::keyPressEvent(event);
}

// Derived from the palette, so worked out again when the desktop switches between light and dark.
void ContentView::applySecondaryColours()
{
    const QColor secondary = secondaryText(palette());
    for (QLabel* label : {m_emptyText, m_countLabel, m_pasteStatus}) {
        QPalette colours = label->palette();
        colours.setColor(QPalette::WindowText, secondary);
        label->setPalette(colours);
    }
    QPalette colours = m_savingsButton->palette();
    colours.setColor(QPalette::ButtonText, secondary);
    m_savingsButton->setPalette(colours);
    m_emptyIcon->setPixmap(Symbols::icon(QStringLiteral("clipboard")).pixmap(QSize(34, 34), devicePixelRatioF(), QIcon::Disabled));
}

void ContentView::changeEvent(QEvent* event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::PaletteChange && m_emptyIcon)
        applySecondaryColours();
}

void ContentView::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (m_appeared)
        return;
    m_appeared = true;
    resetForOpening();
    showPendingSavingsMessage();
}

void ContentView::hideEvent(QHideEvent* event)
{
    QWidget::hideEvent(event);
    m_state.setPreviewModifiersHeld(false);
    cancelPaste();
}

bool ContentView::eventFilter(QObject* watched, QEvent* event)
{
    // Focus coming back from the preview leaves the search and filters as they are.
    // The first activation can arrive after the user's first keys (a busy machine, a slow window
    // manager); only one that follows a lost focus starts the view afresh.
    // Nor does a move by the window manager, which holds the keyboard meanwhile: it is no new opening.
    if (watched == m_panelObject && event->type() == QEvent::WindowDeactivate && m_appeared) {
        // Cast afresh: a panel being destroyed is no longer a PopupPanel.
        const auto* panel = qobject_cast<const PopupPanel*>(watched);
        if (!(panel && panel->isMovedBySystem())) {
            m_lostFocusSinceReset = true;
            cancelPaste(); // it would go to the window that took the focus
        }
    }
    if (watched == m_panelObject && event->type() == QEvent::WindowActivate && m_appeared && m_lostFocusSinceReset
        && !UnifiedPreviewCoordinator::shared().isPreviewVisibleOrJustClosed()) {
        // The panel got the focus back (from an editor, an alert or another application).
        m_state.setPreviewModifiersHeld(false);
        resetForOpening();
    }
    if (watched == m_footerHost && (event->type() == QEvent::ShowToParent || event->type() == QEvent::HideToParent))
        m_footerDivider->setVisible(m_footerHost->isVisibleTo(this));
    return QWidget::eventFilter(watched, event);
}

} // namespace lumra
