#include "ui/popup/PopupFooter.h"

#include "ui/shell/AppActions.h"
#include "ui/shell/PopupPanel.h"
#include "ui/shell/Prompt.h"
#include "engine/ClipboardManager.h"
#include "engine/HistoryFilter.h"
#include "ui/items/CategoryBar.h"
#include "ui/items/PauseButton.h"
#include "ui/items/PopupAlert.h"
#include "ui/items/SymbolIcon.h"

#include <QEvent>
#include <QFrame>
#include <QHBoxLayout>
#include <QToolButton>

#include <algorithm>

namespace lumra {

namespace {

struct TypeButtonRow {
    TypeFilterOption type;
    bool (ClipboardManager::*shown)() const;
    const char* inactive;
    const char* active;
    const char* help;
};

const TypeButtonRow typeRows[] = {
    {TypeFilterOption::images, &ClipboardManager::showImageFilterIcon, "photo", "photo.fill", "Show images only"},
    {TypeFilterOption::links, &ClipboardManager::showLinkFilterIcon, "globe", "globe", "Show links only"},
    {TypeFilterOption::text, &ClipboardManager::showTextFilterIcon, "doc.text", "doc.text.fill", "Show text only"},
    {TypeFilterOption::emails, &ClipboardManager::showEmailFilterIcon, "envelope", "envelope.fill", "Show emails only"},
    {TypeFilterOption::files, &ClipboardManager::showFileFilterIcon, "doc", "doc.fill", "Show files only"},
    {TypeFilterOption::folders, &ClipboardManager::showFolderFilterIcon, "folder", "folder.fill", "Show folders only"},
    {TypeFilterOption::colors, &ClipboardManager::showColorFilterIcon, "paintpalette", "paintpalette.fill", "Show colors only"},
    {TypeFilterOption::commands, &ClipboardManager::showCommandFilterIcon, "apple.terminal", "apple.terminal.fill",
     "Show terminal commands only"},
};

int pixels(double points) { return std::max(1, qRound(points)); }

} // namespace

QList<ClipboardCategory> footerCategories(const ClipboardManager& manager)
{
    QList<ClipboardCategory> shown;
    if (!manager.showCategoriesInFooter())
        return shown;
    for (const ClipboardCategory& category : manager.categories()) {
        if (!category.isHiddenFromFooter)
            shown << category;
    }
    return shown;
}

QList<FooterButton> footerButtons(const ClipboardManager& m)
{
    using Kind = FooterButton::Kind;
    QList<FooterButton> buttons;
    if (m.showSettingsIcon())
        buttons << FooterButton{Kind::settings, QStringLiteral("gear"), QStringLiteral("Settings"), false, std::nullopt};
    if (m.showStarFilterIcon())
        buttons << FooterButton{Kind::starFilter, m.filters().showStarredOnly() ? QStringLiteral("star.fill") : QStringLiteral("star"),
                                QStringLiteral("Show starred items only"), m.filters().showStarredOnly(), std::nullopt};
    for (const TypeButtonRow& row : typeRows) {
        if (!(m.*row.shown)())
            continue;
        const bool active = m.filters().typeFilterOption() == row.type;
        buttons << FooterButton{Kind::typeFilter, QString::fromLatin1(active ? row.active : row.inactive),
                                QString::fromLatin1(row.help), active, row.type};
    }
    if (!footerCategories(m).isEmpty())
        buttons << FooterButton{Kind::categories, {}, {}, false, std::nullopt};
    if (m.showPauseButton())
        buttons << FooterButton{Kind::pause, {}, {}, false, std::nullopt};
    if (m.showQuitButton())
        buttons << FooterButton{Kind::quit, {}, {}, false, std::nullopt};
    return buttons;
}

PopupFooter::PopupFooter(ClipboardManager& manager, QWidget* parent)
    : QWidget(parent)
    , m_manager(&manager)
{
    using Kind = FooterButton::Kind;
    m_row = new QHBoxLayout(this);
    // The footer place of the popup pads the row.
    m_row->setContentsMargins(0, 0, 0, 0);
    m_row->setSpacing(6);
    m_settings = makeButton({Kind::settings, {}, {}, false, std::nullopt});
    m_star = makeButton({Kind::starFilter, {}, {}, false, std::nullopt});
    for (const TypeButtonRow& row : typeRows)
        m_typeButtons.insert(int(row.type), makeButton({Kind::typeFilter, {}, {}, false, row.type}));

    m_divider = new QFrame(this);
    m_divider->setFrameShape(QFrame::VLine);
    m_divider->setFrameShadow(QFrame::Plain);
    m_divider->setFixedHeight(12);
    m_row->addWidget(m_divider, 0, Qt::AlignVCenter);
    m_categoryBar = new CategoryBar(manager, this);
    m_categoryBar->setObjectName(QStringLiteral("categoryBar"));
    m_row->addWidget(m_categoryBar, 1, Qt::AlignVCenter);
    m_row->addStretch(0);

    m_pause = new PauseButton(manager, this);
    m_pause->setObjectName(QStringLiteral("pauseButton"));
    m_row->addWidget(m_pause, 0, Qt::AlignVCenter);
    m_quit = new QToolButton(this);
    m_quit->setObjectName(QStringLiteral("quitButton"));
    m_quit->setText(QStringLiteral("Quit"));
    m_quit->setAutoRaise(true);
    m_quit->setCursor(Qt::PointingHandCursor);
    m_quit->setFocusPolicy(Qt::TabFocus);
    connect(m_quit, &QToolButton::clicked, this, &PopupFooter::confirmQuit);
    m_row->addWidget(m_quit, 0, Qt::AlignVCenter);

    connect(&manager, &ClipboardManager::settingChanged, this, &PopupFooter::refresh);
    connect(&manager.filters(), &HistoryFilter::filtersChanged, this, &PopupFooter::refresh);
    connect(&manager, &ClipboardManager::categoriesChanged, this, &PopupFooter::refresh);
    refresh();
}

QToolButton* PopupFooter::makeButton(const FooterButton& facts)
{
    auto* button = new QToolButton(this);
    button->setAutoRaise(true);
    button->setCursor(Qt::PointingHandCursor);
    button->setFocusPolicy(Qt::TabFocus);
    button->setToolButtonStyle(Qt::ToolButtonIconOnly);
    connect(button, &QToolButton::clicked, this, [this, facts] { activate(facts); });
    m_row->addWidget(button, 0, Qt::AlignVCenter);
    return button;
}

QToolButton* PopupFooter::button(FooterButton::Kind kind, std::optional<TypeFilterOption> type) const
{
    switch (kind) {
    case FooterButton::Kind::settings: return m_settings;
    case FooterButton::Kind::starFilter: return m_star;
    case FooterButton::Kind::typeFilter: return type ? m_typeButtons.value(int(*type)) : nullptr;
    case FooterButton::Kind::pause: return m_pause;
    case FooterButton::Kind::quit: return m_quit;
    case FooterButton::Kind::categories: return nullptr;
    }
    return nullptr;
}

void PopupFooter::activate(const FooterButton& facts)
{
    if (!m_manager)
        return;
    switch (facts.kind) {
    case FooterButton::Kind::settings: AppActions::openSettings(SettingsTab::general); break;
    case FooterButton::Kind::starFilter: m_manager->filters().setShowStarredOnly(!m_manager->filters().showStarredOnly()); break;
    case FooterButton::Kind::typeFilter:
        // The lit icon clears the type filter; another one switches to its type.
        m_manager->filters().setTypeFilterOption(m_manager->filters().typeFilterOption() == facts.type ? std::nullopt : facts.type);
        break;
    default: break;
    }
}

void PopupFooter::changeEvent(QEvent* event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::PaletteChange)
        refresh();
}

void PopupFooter::refresh()
{
    if (!m_manager)
        return;
    using Kind = FooterButton::Kind;
    const QList<FooterButton> shown = footerButtons(*m_manager);
    const double size = m_manager->footerSize();
    const QSize iconSize(pixels(size * 1.2), pixels(size * 1.2));
    const auto find = [&](Kind kind, std::optional<TypeFilterOption> type) -> const FooterButton* {
        auto it = std::find_if(shown.begin(), shown.end(), [&](const FooterButton& b) { return b.kind == kind && b.type == type; });
        return it == shown.end() ? nullptr : &*it;
    };
    const auto apply = [&](QToolButton* button, const FooterButton* facts) {
        button->setVisible(facts != nullptr);
        if (!facts)
            return;
        const QColor color = !facts->active                    ? secondaryColor(palette())
            : facts->kind == Kind::starFilter                  ? starYellow()
                                                               : filterBlue(palette());
        button->setIcon(tintedSymbol(facts->symbol, color));
        button->setIconSize(iconSize);
        button->setToolTip(facts->toolTip);
        button->setAccessibleName(facts->toolTip);
        button->setChecked(facts->active);
    };
    apply(m_settings, find(Kind::settings, std::nullopt));
    apply(m_star, find(Kind::starFilter, std::nullopt));
    for (const TypeButtonRow& row : typeRows)
        apply(m_typeButtons.value(int(row.type)), find(Kind::typeFilter, row.type));

    const bool categories = find(Kind::categories, std::nullopt) != nullptr;
    m_divider->setVisible(categories);
    QPalette dividerPalette = m_divider->palette();
    dividerPalette.setColor(QPalette::WindowText, secondaryColor(palette()));
    m_divider->setPalette(dividerPalette);
    m_categoryBar->setVisible(categories);
    m_categoryBar->setCategories(footerCategories(*m_manager), m_manager->filters().selectedCategoryId(), size);

    m_pause->setVisible(find(Kind::pause, std::nullopt) != nullptr);
    m_pause->setSymbolSize(pixels(size));
    m_quit->setVisible(find(Kind::quit, std::nullopt) != nullptr);
    QFont quitFont = m_quit->font();
    quitFont.setPixelSize(pixels(size));
    m_quit->setFont(quitFont);
    QPalette quitPalette = m_quit->palette();
    quitPalette.setColor(QPalette::ButtonText, secondaryColor(palette()));
    m_quit->setPalette(quitPalette);

    const bool hasContent = !shown.isEmpty();
    if (hasContent != m_hasContent) {
        m_hasContent = hasContent;
        setVisible(hasContent);
        emit hasContentChanged(hasContent);
    }
}

void PopupFooter::confirmQuit()
{
    const int answer = askHoldingPopup(PopupPanel::findOpen(), [] {
        return PromptService::shared().alert(QStringLiteral("Quit Lumra?"),
                                             QStringLiteral("Lumra will stop monitoring your clipboard until you reopen it."),
                                             {QStringLiteral("Quit"), QStringLiteral("Cancel")}, PromptService::Style::warning);
    });
    if (answer == 0)
        AppActions::quit();
}

} // namespace lumra
