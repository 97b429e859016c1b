#include "app/SettingsWindow.h"

#include "platform/symbols/Symbols.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
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

QWidget* placeholder(SettingsTab tab)
{
    auto* page = new QLabel(settingsTabTitle(tab));
    page->setAlignment(Qt::AlignCenter);
    page->setObjectName(QStringLiteral("placeholder"));
    return page;
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

SettingsWindow::SettingsWindow(QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::WindowTitleHint | Qt::WindowCloseButtonHint | Qt::CustomizeWindowHint)
{
    setWindowTitle(QStringLiteral("Lumra Settings"));
    setFixedSize(windowSize);

    m_sidebar = new QListWidget(this);
    m_sidebar->setFixedWidth(150);
    m_sidebar->setFrameShape(QFrame::NoFrame);
    m_pages = new QStackedWidget(this);
    for (SettingsTab tab : allSettingsTabs()) {
        m_sidebar->addItem(new QListWidgetItem(Symbols::icon(settingsTabSymbol(tab)), settingsTabTitle(tab)));
        m_pages->addWidget(placeholder(tab));
    }
    connect(m_sidebar, &QListWidget::currentRowChanged, this, [this](int row) {
        if (row < 0)
            return;
        m_pages->setCurrentIndex(row);
        emit currentTabChanged(static_cast<SettingsTab>(row));
    });
    m_sidebar->setCurrentRow(0);

    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(m_sidebar);
    layout->addWidget(m_pages, 1);
}

void SettingsWindow::present(std::optional<SettingsTab> tab)
{
    if (tab)
        showTab(*tab);
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
