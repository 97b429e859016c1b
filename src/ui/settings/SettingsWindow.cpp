#include "ui/settings/SettingsWindow.h"

#include "ui/shell/Prompt.h"
#include "engine/ResetEverything.h"
#include "platform/login/LoginItem.h"
#include "platform/symbols/Symbols.h"
#include "ui/settings/AppearancePage.h"
#include "ui/settings/CategoriesPage.h"
#include "ui/settings/CleanupPage.h"
#include "ui/settings/CommandsPage.h"
#include "ui/settings/GeneralPage.h"
#include "ui/settings/ImportExportPage.h"
#include "ui/settings/PrivacyPage.h"
#include "ui/settings/ShortcutsPage.h"
#include "ui/settings/SyncPage.h"
#include "ui/settings/SettingsWidgets.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QCursor>
#include <QEvent>
#include <QFileDialog>
#include <QGuiApplication>
#include <QScreen>
#include <QStackedWidget>

namespace lumra {

namespace {

struct TabInfo {
    SettingsTab tab;
    const char* raw;
    const char* title;
    const char* symbol;
};

constexpr TabInfo tabs[] = {
    {SettingsTab::general, "general", "General", "gear"},
    {SettingsTab::appearance, "appearance", "Appearance", "paintbrush"},
    {SettingsTab::categories, "categories", "Categories", "folder"},
    {SettingsTab::privacy, "privacy", "Privacy", "hand.raised"},
    {SettingsTab::shortcuts, "shortcuts", "Shortcuts", "keyboard"},
    {SettingsTab::commands, "commands", "Commands", "slash.circle"},
    {SettingsTab::iCloud, "iCloud", "Sync", "icloud"},
    {SettingsTab::delete_, "delete", "Cleanup", "trash"},
    {SettingsTab::data, "data", "Import/Export", "externaldrive"},
};

const TabInfo& info(SettingsTab tab) { return tabs[static_cast<int>(tab)]; }

// A page that is not there yet shows its title and nothing else.
QWidget* placeholder(SettingsTab tab)
{
    auto* page = SettingsStyle::label(settingsTabTitle(tab), 16, true);
    page->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    page->setContentsMargins(16, 16, 16, 16);
    page->setObjectName(QStringLiteral("placeholder"));
    return page;
}

QString chooseSoundFileWithDialog(QWidget* parent)
{
    return QFileDialog::getOpenFileName(parent, QStringLiteral("Select a sound file"), QString(),
                                        QStringLiteral("Audio files (*.wav *.ogg *.oga *.opus *.mp3 *.flac *.m4a *.aac "
                                                       "*.aif *.aiff)"));
}

} // namespace

QList<SettingsTab> allSettingsTabs()
{
    QList<SettingsTab> all;
    for (const TabInfo& t : tabs)
        all.append(t.tab);
    return all;
}

QString rawValue(SettingsTab tab) { return QString::fromLatin1(info(tab).raw); }
QString settingsTabTitle(SettingsTab tab) { return QString::fromLatin1(info(tab).title); }
QString settingsTabSymbol(SettingsTab tab) { return QString::fromLatin1(info(tab).symbol); }

std::optional<SettingsTab> settingsTabFromRawValue(const QString& raw)
{
    for (const TabInfo& t : tabs) {
        if (raw == QLatin1String(t.raw))
            return t.tab;
    }
    return std::nullopt;
}

SettingsWindow::SettingsWindow(ClipboardManager& manager, HotKeyManager& hotKeys, SettingsServices services,
                               QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::WindowTitleHint | Qt::WindowCloseButtonHint | Qt::CustomizeWindowHint)
{
    setWindowTitle(QStringLiteral("Lumra Settings"));
    setFixedSize(windowSize);

    if (!services.loginItem) {
        m_ownLoginItem = std::make_unique<AutostartLoginItem>();
        services.loginItem = m_ownLoginItem.get();
    }
    if (!services.chooseSoundFile)
        services.chooseSoundFile = [this] { return chooseSoundFileWithDialog(this); };
    if (!services.resetEverything) {
        services.resetEverything = [&manager, loginItem = services.loginItem] {
            resetEverything(manager, *loginItem);
            // Windows may not refuse this quit: nothing of Lumra's is left to save.
            QCoreApplication::exit(0);
        };
    }
    const SettingsContext context {manager, hotKeys, *services.loginItem,
                                   services.prompts ? *services.prompts : PromptService::shared(),
                                   services.chooseSoundFile, services.resetEverything};

    m_sidebar = new QListWidget(this);
    m_sidebar->setFixedWidth(150);
    m_sidebar->setFrameShape(QFrame::NoFrame);
    m_sidebar->setIconSize(QSize(16, 16));
    m_pages = new QStackedWidget(this);
    for (SettingsTab tab : allSettingsTabs()) {
        m_sidebar->addItem(new QListWidgetItem(settingsTabTitle(tab)));
        m_pages->addWidget(placeholder(tab));
    }
    styleSidebar();
    m_general = new GeneralPage(context);
    setPage(SettingsTab::general, m_general);
    setPage(SettingsTab::appearance, new AppearancePage(manager));
    setPage(SettingsTab::categories, new CategoriesPage(manager));
    setPage(SettingsTab::privacy, new PrivacyPage(context));
    m_shortcuts = new ShortcutsPage(context);
    setPage(SettingsTab::shortcuts, m_shortcuts);
    setPage(SettingsTab::delete_, new CleanupPage(context));
    setPage(SettingsTab::commands, new CommandsPage(CommandsPage::groups(), CommandsPage::examples()));
    if (!services.chooseSyncFolder)
        services.chooseSyncFolder = [this](const QString& current) {
            return QFileDialog::getExistingDirectory(this, QStringLiteral("Choose a sync folder"), current);
        };
    setPage(SettingsTab::iCloud, new SyncPage(context, {services.chooseSyncFolder, services.restartApp, {}}));
    setPage(SettingsTab::data, new ImportExportPage(context));
    connect(m_sidebar, &QListWidget::currentRowChanged, this, [this](int row) {
        if (row < 0)
            return;
        m_pages->setCurrentIndex(row);
        emit currentTabChanged(static_cast<SettingsTab>(row));
    });
    m_sidebar->setCurrentRow(0);

    auto* separator = new QFrame(this);
    separator->setFrameShape(QFrame::VLine);
    separator->setFrameShadow(QFrame::Plain);
    separator->setForegroundRole(QPalette::Mid);

    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(m_sidebar);
    layout->addWidget(separator);
    layout->addWidget(m_pages, 1);
}

SettingsWindow::~SettingsWindow() = default;

void SettingsWindow::styleSidebar()
{
    const QPalette p = palette();
    QColor selected = p.color(QPalette::Highlight);
    selected.setAlphaF(0.2);
    QColor hover = p.color(QPalette::Highlight);
    hover.setAlphaF(0.08);
    const auto rgba = [](const QColor& c) {
        return QStringLiteral("rgba(%1,%2,%3,%4)").arg(c.red()).arg(c.green()).arg(c.blue()).arg(c.alphaF());
    };
    m_sidebar->setStyleSheet(
        QStringLiteral("QListWidget { background: transparent; border: none; outline: 0; padding: 8px; }"
                       "QListWidget::item { padding: 6px 8px; margin-bottom: 2px; border-radius: 6px; color: %1; }"
                       "QListWidget::item:selected { background: %2; color: %3; }"
                       "QListWidget::item:hover:!selected { background: %4; }")
            .arg(p.color(QPalette::PlaceholderText).name(), rgba(selected), p.color(QPalette::WindowText).name(),
                 rgba(hover)));
    for (int row = 0; row < m_sidebar->count(); ++row) {
        const SettingsTab tab = allSettingsTabs()[row];
        m_sidebar->item(row)->setIcon(SettingsStyle::tinted(Symbols::icon(settingsTabSymbol(tab)),
                                                            p.color(QPalette::PlaceholderText), p.color(QPalette::WindowText)));
    }
}

void SettingsWindow::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::PaletteChange && m_sidebar)
        styleSidebar();
    QWidget::changeEvent(event);
}

void SettingsWindow::hideEvent(QHideEvent* event)
{
    // Leaving the window always ends a recording, which gives the hot keys back.
    m_general->stopShortcutRecording();
    m_shortcuts->stopShortcutRecording();
    QWidget::hideEvent(event);
}

void SettingsWindow::present(std::optional<SettingsTab> tab)
{
    if (tab)
        showTab(*tab);
    if (!m_placed) {
        m_placed = true;
        const QScreen* screen = QGuiApplication::screenAt(QCursor::pos());
        if (!screen)
            screen = QGuiApplication::primaryScreen();
        if (screen)
            move(screen->availableGeometry().center() - QPoint(width() / 2, height() / 2));
    }
    show();
    raise();
    activateWindow();
}

SettingsTab SettingsWindow::currentTab() const { return static_cast<SettingsTab>(m_sidebar->currentRow()); }

void SettingsWindow::showTab(SettingsTab tab) { m_sidebar->setCurrentRow(static_cast<int>(tab)); }

void SettingsWindow::setPage(SettingsTab tab, QWidget* page)
{
    const int index = static_cast<int>(tab);
    QWidget* old = m_pages->widget(index);
    const bool wasCurrent = m_pages->currentIndex() == index;
    m_pages->insertWidget(index, page);
    m_pages->removeWidget(old);
    delete old;
    if (wasCurrent)
        m_pages->setCurrentIndex(index);
}

QWidget* SettingsWindow::page(SettingsTab tab) const { return m_pages->widget(static_cast<int>(tab)); }

} // namespace lumra
