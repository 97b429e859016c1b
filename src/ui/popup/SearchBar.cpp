#include "ui/popup/SearchBar.h"

#include "ui/shell/AppActions.h"
#include "ui/shell/AppLinks.h"
#include "engine/ClipboardManager.h"
#include "engine/HistoryFilter.h"
#include "ui/items/AppIcons.h"
#include "ui/items/CustomDateRangePicker.h"
#include "ui/items/CustomRangeDates.h"
#include "ui/items/FilterBadge.h"
#include "ui/items/FilterPickers.h"
#include "ui/items/HorizontalWheelScrollArea.h"
#include "ui/items/SymbolIcon.h"
#include "ui/popup/ContentViewState.h"
#include "ui/popup/SearchField.h"

#include <QApplication>
#include <QCursor>
#include <QDesktopServices>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QPainter>
#include <QPainterPath>
#include <QScreen>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

namespace lumra {

namespace {

// The custom-range popover follows the date popover once that one has gone.
constexpr int customRangeDelayMs = 300;

FilterState liveFilterState(const HistoryFilter& m)
{
    FilterState s;
    s.searchText = m.searchText();
    s.searchTagsOnly = m.searchTagsOnly();
    s.showStarredOnly = m.showStarredOnly();
    s.showImagesOnly = m.showImagesOnly();
    s.showLinksOnly = m.showLinksOnly();
    s.showPastedOnly = m.showPastedOnly();
    s.excludeStarred = m.excludeStarred();
    s.selectedCategoryId = m.selectedCategoryId();
    s.dateFilterOption = m.dateFilterOption();
    s.customDateStart = m.customDateStart();
    s.customDateEnd = m.customDateEnd();
    s.excludedDateOption = m.excludedDateOption();
    s.excludedCustomDateStart = m.excludedCustomDateStart();
    s.excludedCustomDateEnd = m.excludedCustomDateEnd();
    s.typeFilterOption = m.typeFilterOption();
    s.excludedTypes = m.excludedTypes();
    s.appFilterBundleId = m.appFilterBundleId();
    s.excludedAppBundleIds = m.excludedAppBundleIds();
    s.showRecycleBin = m.showRecycleBin();
    return s;
}

// Symbols in the secondary colour of the palette.
void paintSymbols(const std::initializer_list<std::pair<QToolButton*, const char*>>& buttons, const QPalette& palette)
{
    for (const auto& [button, symbol] : buttons)
        button->setIcon(tintedSymbol(QString::fromLatin1(symbol), secondaryColor(palette)));
}

QToolButton* plainButton(int iconSize, QWidget* parent)
{
    auto* button = new QToolButton(parent);
    button->setAutoRaise(true);
    button->setIconSize(QSize(iconSize, iconSize));
    button->setStyleSheet(QStringLiteral("QToolButton { border: none; padding: 0; background: transparent; }"));
    button->setFocusPolicy(Qt::TabFocus);
    return button;
}

struct PopoverFlag {
    FilterPopover popover;
    bool (ContentViewState::*get)() const;
    void (ContentViewState::*set)(bool);
    void (ContentViewState::*changed)();
};

#define LUMRA_FLAG(kind, name, setter) \
    PopoverFlag{FilterPopover::kind, &ContentViewState::name, &ContentViewState::setter, &ContentViewState::name##Changed}
const std::array<PopoverFlag, 9> popoverFlags{
    LUMRA_FLAG(date, showDateFilterPicker, setShowDateFilterPicker),
    LUMRA_FLAG(customDate, showCustomDatePicker, setShowCustomDatePicker),
    LUMRA_FLAG(type, showTypeFilterPicker, setShowTypeFilterPicker),
    LUMRA_FLAG(app, showAppFilterPicker, setShowAppFilterPicker),
    LUMRA_FLAG(category, showCategoryFilterPicker, setShowCategoryFilterPicker),
    LUMRA_FLAG(excludeDate, showExcludeDateFilterPicker, setShowExcludeDateFilterPicker),
    LUMRA_FLAG(excludeCustomDate, showExcludeCustomDatePicker, setShowExcludeCustomDatePicker),
    LUMRA_FLAG(excludeType, showExcludeTypeFilterPicker, setShowExcludeTypeFilterPicker),
    LUMRA_FLAG(excludeApp, showExcludeAppFilterPicker, setShowExcludeAppFilterPicker),
};
#undef LUMRA_FLAG

const PopoverFlag& flagOf(FilterPopover popover) { return popoverFlags[size_t(popover)]; }

bool isExcluding(FilterPopover popover)
{
    return popover == FilterPopover::excludeDate || popover == FilterPopover::excludeCustomDate
        || popover == FilterPopover::excludeType || popover == FilterPopover::excludeApp;
}

} // namespace

// ---------------------------------------------------------------------------- popover frame

FilterPopoverFrame::FilterPopoverFrame(FilterPopover kind, QWidget* content, QWidget* parent)
    : QFrame(parent, Qt::Popup | Qt::FramelessWindowHint)
    , m_kind(kind)
    , m_content(content)
{
    setAttribute(Qt::WA_DeleteOnClose);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(1, 1, 1, 1);
    content->setParent(this);
    layout->addWidget(content);
}

void FilterPopoverFrame::showBelow(const QWidget* anchor)
{
    adjustSize();
    const QPoint below = anchor->mapToGlobal(QPoint(anchor->width() / 2, anchor->height() + 4));
    QPoint origin(below.x() - width() / 2, below.y());
    if (const QScreen* screen = anchor->screen()) {
        const QRect area = screen->availableGeometry();
        origin.setX(qBound(area.left(), origin.x(), qMax(area.left(), area.right() - width())));
        if (origin.y() + height() > area.bottom())
            origin.setY(anchor->mapToGlobal(QPoint(0, 0)).y() - height() - 4);
    }
    move(origin);
    show();
    // Keyboard users start on the first control that takes the focus; the mouse works either way.
    for (QWidget* w = m_content->nextInFocusChain(); w && m_content->isAncestorOf(w); w = w->nextInFocusChain()) {
        if (w->isVisibleTo(this) && (w->focusPolicy() & Qt::TabFocus)) {
            w->setFocus(Qt::PopupFocusReason);
            break;
        }
    }
}

void FilterPopoverFrame::paintEvent(QPaintEvent*)
{
    // Square: without a compositor a popup cannot show rounded corners.
    QPainter painter(this);
    painter.fillRect(rect(), palette().color(QPalette::Window));
    QColor border = palette().color(QPalette::WindowText);
    border.setAlphaF(0.25f);
    painter.setPen(border);
    painter.drawRect(rect().adjusted(0, 0, -1, -1));
}

void FilterPopoverFrame::hideEvent(QHideEvent* event)
{
    QFrame::hideEvent(event);
    emit closed();
}

void FilterPopoverFrame::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Escape) {
        close();
        return;
    }
    QFrame::keyPressEvent(event);
}

// ---------------------------------------------------------------------------- search-mode menu

QMenu* buildSearchModeMenu(ClipboardManager& manager, QWidget* parent)
{
    auto* menu = new QMenu(parent);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    const std::array<QString, 4> titles{QObject::tr("Contains"), QObject::tr("Exact match"), QObject::tr("Fuzzy match"),
                                        QObject::tr("Regular expression")};
    for (size_t i = 0; i < allSearchModes.size(); ++i) {
        const QString raw = toRawValue(allSearchModes[i]);
        QAction* action = menu->addAction(titles[i]);
        action->setCheckable(true);
        action->setChecked(manager.searchMode() == raw);
        action->setData(raw);
        QObject::connect(action, &QAction::triggered, &manager, [&manager, raw] { manager.setSearchMode(raw); });
    }
    return menu;
}

// ---------------------------------------------------------------------------- the bar

SearchBar::SearchBar(ClipboardManager& manager, QWidget* parent)
    : QWidget(parent)
    , m_manager(manager)
    , m_openCommandsHelp([] { AppActions::openSettings(SettingsTab::commands); })
    , m_openUrl([](const QUrl& url) { QDesktopServices::openUrl(url); })
{
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(4);
    m_row = new QHBoxLayout;
    column->addLayout(m_row);
    m_row->setContentsMargins(8, 7, 8, 7);
    m_row->setSpacing(6);

    m_mode = plainButton(14, this);
    m_mode->setAccessibleName(tr("Search mode"));
    m_mode->setToolTip(tr("Search mode"));
    connect(m_mode, &QToolButton::clicked, this, [this] {
        QMenu* menu = buildSearchModeMenu(m_manager, this);
        menu->popup(QCursor::pos());
    });
    m_row->addWidget(m_mode);

    // Badges keep their labels and scroll sideways when they outgrow the room the field leaves them.
    m_badgeStrip = new HorizontalWheelScrollArea(this);
    m_badgeStrip->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    auto* badgeHost = new QWidget(m_badgeStrip);
    m_badgeRow = new QHBoxLayout(badgeHost);
    m_badgeRow->setContentsMargins(0, 0, 0, 0);
    m_badgeRow->setSpacing(6);
    m_badgeRow->setSizeConstraint(QLayout::SetFixedSize);
    m_badgeStrip->setWidget(badgeHost);
    badgeHost->setAutoFillBackground(false); // the scroll area turned it on: the bar's tint shows through
    m_badgeStrip->hide();
    m_badgeStrip->showHiddenCounts([](int count) {
        return count == 1 ? tr("1 more filter applies") : tr("%1 more filters apply").arg(count);
    });
    m_row->addWidget(m_badgeStrip);

    m_field = new SearchField(this);
    m_field->setFixedHeight(22);
    m_row->addWidget(m_field, 1);
    connect(m_field, &QLineEdit::textChanged, this, &SearchBar::textEdited);

    m_clear = plainButton(14, this);
    m_clear->setAccessibleName(tr("Clear filters"));
    connect(m_clear, &QToolButton::clicked, this, [this] {
        clearAllFilters(m_manager);
        focusSearch();
    });
    m_row->addWidget(m_clear);

    m_help = plainButton(12, this);
    m_help->setToolTip(tr("View available slash commands"));
    m_help->setAccessibleName(m_help->toolTip());
    connect(m_help, &QToolButton::clicked, this, [this] {
        if (m_openCommandsHelp)
            m_openCommandsHelp();
    });
    m_row->addWidget(m_help);
    setFocusProxy(m_field);

    m_errorLine = new QLabel(this);
    m_errorLine->setWordWrap(true);
    QFont caption = m_errorLine->font();
    caption.setPointSizeF(caption.pointSizeF() * 0.85);
    m_errorLine->setFont(caption);
    m_errorLine->setContentsMargins(8, 0, 8, 0);
    m_errorLine->hide();
    column->addWidget(m_errorLine);
    connect(&m_manager.filters(), &HistoryFilter::searchErrorChanged, this, &SearchBar::showSearchError);
    showSearchError(m_manager.filters().searchError());
    applySymbols();

    connect(&m_manager.filters(), &HistoryFilter::filtersChanged, this, &SearchBar::refresh);
    connect(&m_manager.filters(), &HistoryFilter::pinnedFiltersChanged, this, &SearchBar::refresh);
    connect(&m_manager, &ClipboardManager::categoriesChanged, this, &SearchBar::refresh);
    connect(&m_manager, &ClipboardManager::clipboardItemsChanged, this, [this] {
        // Only application names and the recycle-bin count follow the history.
        if (m_manager.filters().showRecycleBin() || m_manager.filters().appFilterBundleId() || !m_manager.filters().excludedAppBundleIds().isEmpty())
            refresh();
    });
    connect(&m_manager, &ClipboardManager::settingChanged, this, [this](Setting setting) {
        if (setting == Setting::showHelpIcon || setting == Setting::showSearchHints)
            refresh();
    });
    refresh();
}

SearchBar::~SearchBar()
{
    if (m_popover)
        m_popover->disconnect(this);
}

QScrollArea* SearchBar::badgeStrip() const { return m_badgeStrip; }

QList<FilterBadge*> SearchBar::badges() const
{
    QList<FilterBadge*> live;
    for (const QPointer<FilterBadge>& badge : m_badges) {
        if (badge)
            live.append(badge);
    }
    return live;
}

void SearchBar::setOpenCommandsHelp(std::function<void()> open)
{
    m_openCommandsHelp = std::move(open);
    refresh();
}

void SearchBar::setOpenUrl(std::function<void(const QUrl&)> open) { m_openUrl = std::move(open); }

void SearchBar::focusSearch()
{
    m_field->setFocus(Qt::OtherFocusReason);
    if (m_state)
        m_state->setSearchFocused(true);
    emit searchFocusRequested();
}

void SearchBar::attachViewState(ContentViewState& state)
{
    m_state = &state;
    for (const PopoverFlag& flag : popoverFlags) {
        connect(&state, flag.changed, this, [this, flag] {
            const bool shown = (m_state->*flag.get)();
            if (shown && openPopoverKind() != flag.popover)
                openPopover(flag.popover);
            else if (!shown && openPopoverKind() == flag.popover)
                closePopover();
        });
    }
    connect(this, &SearchBar::popoverShown, &state, [this](FilterPopover popover, bool shown) { setFlag(popover, shown); });
    connect(&state, &ContentViewState::isSearchFocusedChanged, this, [this] {
        if (m_state->isSearchFocused())
            m_field->setFocus(Qt::OtherFocusReason);
    });
}

void SearchBar::setFlag(FilterPopover popover, bool shown)
{
    if (m_state)
        (m_state->*flagOf(popover).set)(shown);
}

void SearchBar::requestPopover(FilterPopover popover)
{
    if (m_state)
        setFlag(popover, true);
    else
        openPopover(popover);
}

void SearchBar::refresh()
{
    const FilterState state = liveFilterState(m_manager.filters());
    if (m_field->text() != state.searchText)
        m_field->setText(state.searchText);
    m_field->setShowHints(m_manager.showSearchHints());
    m_clear->setVisible(clearButtonShown(state));
    m_help->setVisible(m_manager.showHelpIcon() && m_openCommandsHelp);

    FilterBadgeInputs inputs;
    inputs.state = state;
    inputs.pin = m_manager.filters().pinnedFilters();
    inputs.categories = m_manager.categories();
    inputs.timeZone = CalendarSettings::current().timeZone;
    if (state.appFilterBundleId || !state.excludedAppBundleIds.isEmpty())
        inputs.sourceApps = m_manager.filters().sourceApps();
    if (state.showRecycleBin)
        inputs.trashedCount = int(m_manager.filters().trashedItems().size());
    const QList<FilterBadgeSpec> specs = filterBadges(inputs);
    if (specs != m_specs)
        rebuildBadges(specs);
}

void SearchBar::rebuildBadges(const QList<FilterBadgeSpec>& specs)
{
    // A badge may be rebuilt from its own remove button's click: it goes once that click is over.
    for (const QPointer<FilterBadge>& badge : m_badges) {
        if (badge) {
            badge->hide();
            badge->deleteLater();
        }
    }
    m_badges.clear();
    m_specs = specs;
    QWidget* host = m_badgeStrip->widget();
    for (const FilterBadgeSpec& spec : specs) {
        auto* badge = new FilterBadge(spec, spec.bundleId.isEmpty() ? QIcon() : appIcon(spec.bundleId), host);
        connect(badge, &FilterBadge::removeRequested, this, [this, spec] { removeBadge(spec); });
        m_badgeRow->addWidget(badge);
        badge->show();
        m_badges.append(badge);
    }
    m_badgeRow->activate();
    m_badgeStrip->setVisible(!specs.isEmpty());
    m_badgeStrip->updateGeometry();
}

void SearchBar::removeBadge(const FilterBadgeSpec& spec)
{
    switch (spec.kind) {
    case FilterBadgeKind::date: m_manager.filters().setDateFilterOption(std::nullopt); break;
    case FilterBadgeKind::type: m_manager.filters().setTypeFilterOption(std::nullopt); break;
    case FilterBadgeKind::app: m_manager.filters().setAppFilterBundleId(std::nullopt); break;
    case FilterBadgeKind::category: m_manager.filters().setSelectedCategoryId(std::nullopt); break;
    case FilterBadgeKind::starred: m_manager.filters().setShowStarredOnly(false); break;
    case FilterBadgeKind::pasted: m_manager.filters().setShowPastedOnly(false); break;
    case FilterBadgeKind::tags: m_manager.filters().setSearchTagsOnly(false); break;
    case FilterBadgeKind::notStarred: m_manager.filters().setExcludeStarred(false); break;
    case FilterBadgeKind::excludedType: {
        QSet<TypeFilterOption> types = m_manager.filters().excludedTypes();
        if (spec.type)
            types.remove(*spec.type);
        m_manager.filters().setExcludedTypes(types);
        break;
    }
    case FilterBadgeKind::excludedDate: m_manager.filters().setExcludedDateOption(std::nullopt); break;
    case FilterBadgeKind::excludedApp: {
        QSet<QString> apps = m_manager.filters().excludedAppBundleIds();
        apps.remove(spec.bundleId);
        m_manager.filters().setExcludedAppBundleIds(apps);
        break;
    }
    case FilterBadgeKind::recycleBin: m_manager.filters().setShowRecycleBin(false); break;
    }
    focusSearch();
}

void SearchBar::textEdited(const QString& text)
{
    // The field also follows the manager's text; that echo is no edit.
    if (text == m_manager.filters().searchText())
        return;
    m_manager.filters().setSearchText(text);
    if (const std::optional<SlashCommandMatch> match = matchSlashCommand(text)) {
        SlashCommandHost host;
        host.openPopover = [this](FilterPopover popover) { requestPopover(popover); };
        host.openHelp = [this] {
            if (m_openUrl && AppLinks::home().isValid())
                m_openUrl(AppLinks::home());
        };
        runSlashCommand(m_manager, *match, host);
    }
}

QIcon SearchBar::appIcon(const QString& bundleId) const
{
    return AppIcons::appIcon(m_manager.services().workspace, bundleId);
}

// ---------------------------------------------------------------------------- popovers

std::optional<FilterPopover> SearchBar::openPopoverKind() const
{
    if (m_popover && m_popover->isVisible())
        return m_popover->kind();
    return std::nullopt;
}

void SearchBar::closePopover()
{
    if (m_popover)
        m_popover->close();
}

void SearchBar::openPopover(FilterPopover popover)
{
    closePopover();
    QWidget* content = makePicker(popover);
    auto* frame = new FilterPopoverFrame(popover, content, this);
    m_popover = frame;
    connect(frame, &FilterPopoverFrame::closed, this, [this, frame] {
        if (m_popover == frame)
            m_popover = nullptr;
        emit popoverShown(frame->kind(), false);
    });
    frame->showBelow(this);
    emit popoverShown(popover, true);
}

QWidget* SearchBar::makePicker(FilterPopover popover)
{
    ClipboardManager& m = m_manager;
    const bool excluding = isExcluding(popover);
    switch (popover) {
    case FilterPopover::date:
    case FilterPopover::excludeDate: {
        FilterPickerView* picker = makeDatePicker();
        connect(picker, &FilterPickerView::chosen, this, [this, popover](const QString& raw) { chooseDate(popover, raw); });
        return picker;
    }
    case FilterPopover::customDate:
    case FilterPopover::excludeCustomDate: {
        HistoryFilter& f = m.filters();
        CustomDateRangePicker::Bound start{[&f, excluding] { return excluding ? f.excludedCustomDateStart() : f.customDateStart(); },
                                           [&f, excluding](const QDateTime& d) {
                                               excluding ? f.setExcludedCustomDateStart(d) : f.setCustomDateStart(d);
                                           }};
        CustomDateRangePicker::Bound end{[&f, excluding] { return excluding ? f.excludedCustomDateEnd() : f.customDateEnd(); },
                                         [&f, excluding](const QDateTime& d) {
                                             excluding ? f.setExcludedCustomDateEnd(d) : f.setCustomDateEnd(d);
                                         }};
        auto* picker = new CustomDateRangePicker(start, end, CalendarSettings::current(), m.clock().now());
        connect(picker, &CustomDateRangePicker::applied, this, [this, excluding] {
            excluding ? m_manager.filters().setExcludedDateOption(DateFilterOption::custom)
                      : m_manager.filters().setDateFilterOption(DateFilterOption::custom);
            finishChoice();
        });
        connect(picker, &CustomDateRangePicker::cancelled, this, &SearchBar::finishChoice);
        return picker;
    }
    case FilterPopover::type:
    case FilterPopover::excludeType: {
        FilterPickerView* picker = makeTypePicker();
        connect(picker, &FilterPickerView::chosen, this, [this, excluding](const QString& raw) {
            if (const std::optional<TypeFilterOption> type = typeFilterOptionFromRawValue(raw)) {
                if (excluding)
                    m_manager.filters().setExcludedTypes(QSet<TypeFilterOption>(m_manager.filters().excludedTypes()) << *type);
                else
                    m_manager.filters().setTypeFilterOption(type);
            }
            finishChoice();
        });
        return picker;
    }
    case FilterPopover::app:
    case FilterPopover::excludeApp: {
        FilterPickerView* picker = makeAppPicker(m.filters().sourceApps(), [this](const QString& id) { return appIcon(id); });
        connect(picker, &FilterPickerView::chosen, this, [this, excluding](const QString& bundleId) {
            if (excluding)
                m_manager.filters().setExcludedAppBundleIds(QSet<QString>(m_manager.filters().excludedAppBundleIds()) << bundleId);
            else
                m_manager.filters().setAppFilterBundleId(bundleId);
            finishChoice();
        });
        return picker;
    }
    case FilterPopover::category: {
        FilterPickerView* picker = makeCategoryPicker(m.categories());
        connect(picker, &FilterPickerView::chosen, this, [this](const QString& id) {
            m_manager.filters().setSelectedCategoryId(QUuid::fromString(id));
            finishChoice();
        });
        return picker;
    }
    }
    return new QWidget;
}

void SearchBar::chooseDate(FilterPopover popover, const QString& raw)
{
    const std::optional<DateFilterOption> option = dateFilterOptionFromRawValue(raw);
    if (!option)
        return;
    const bool excluding = popover == FilterPopover::excludeDate;
    if (*option != DateFilterOption::custom) {
        excluding ? m_manager.filters().setExcludedDateOption(option) : m_manager.filters().setDateFilterOption(option);
        finishChoice();
        return;
    }
    closePopover();
    // The stored period filters at once; the range popover then lets the user move it.
    excluding ? m_manager.filters().setExcludedDateOption(option) : m_manager.filters().setDateFilterOption(option);
    QTimer::singleShot(customRangeDelayMs, this, [this, excluding] {
        requestPopover(excluding ? FilterPopover::excludeCustomDate : FilterPopover::customDate);
    });
    focusSearch();
}

void SearchBar::finishChoice()
{
    closePopover();
    focusSearch();
}

// ---------------------------------------------------------------------------- painting

void SearchBar::applySymbols()
{
    paintSymbols({{m_mode, "magnifyingglass"}, {m_clear, "xmark.circle.fill"}, {m_help, "questionmark.bubble"}}, palette());
}

void SearchBar::showSearchError(const QString& error)
{
    m_errorLine->setText(error);
    m_errorLine->setVisible(!error.isEmpty());
    QPalette palette = m_errorLine->palette();
    palette.setColor(QPalette::WindowText, destructiveRed(this->palette()));
    m_errorLine->setPalette(palette);
}

void SearchBar::changeEvent(QEvent* event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::PaletteChange) {
        applySymbols();
        showSearchError(m_manager.filters().searchError());
    }
}

QColor searchBarFill(const QPalette& palette)
{
    // Opaque: a translucent fill laid twice over one spot by a partial repaint shows as a patch.
    const QColor base = palette.color(QPalette::Window);
    const QColor ink = palette.color(QPalette::WindowText);
    constexpr qreal share = 0.08;
    return QColor::fromRgbF(float(base.redF() + (ink.redF() - base.redF()) * share),
                            float(base.greenF() + (ink.greenF() - base.greenF()) * share),
                            float(base.blueF() + (ink.blueF() - base.blueF()) * share));
}

void SearchBar::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QColor fill = searchBarFill(palette());
    QPainterPath path;
    path.addRoundedRect(QRectF(m_row->geometry()), 8, 8);
    painter.fillPath(path, fill);
}

} // namespace lumra
