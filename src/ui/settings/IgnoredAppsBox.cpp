#include "ui/settings/IgnoredAppsBox.h"

#include "ui/shell/Prompt.h"
#include "engine/ClipboardManager.h"
#include "platform/files/IconFiles.h"
#include "platform/symbols/Symbols.h"
#include "ui/items/AppIcons.h"
#include "ui/settings/ApplicationChooser.h"
#include "ui/settings/SettingsWidgets.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QListWidget>
#include <QPainter>
#include <QToolButton>
#include <QVBoxLayout>

namespace lumra {

namespace {

constexpr int idRole = Qt::UserRole + 1;

QFrame* line(QFrame::Shape shape, QWidget* parent)
{
    auto* frame = new QFrame(parent);
    frame->setFrameShape(shape);
    frame->setFrameShadow(QFrame::Plain);
    frame->setForegroundRole(QPalette::Mid);
    if (shape == QFrame::VLine)
        frame->setFixedHeight(16);
    return frame;
}

QToolButton* barButton(const QString& accessibleName, QWidget* parent)
{
    auto* button = new QToolButton(parent);
    button->setAutoRaise(true);
    button->setFixedSize(40, 28);
    button->setIconSize(QSize(14, 14));
    button->setAccessibleName(accessibleName);
    button->setToolTip(accessibleName);
    return button;
}

} // namespace

QStyleOptionViewItem FullIconDelegate::rowOption(const QStyleOptionViewItem& base, const QModelIndex& index) const
{
    QStyleOptionViewItem option = base;
    initStyleOption(&option, index);
    return option;
}

void FullIconDelegate::initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const
{
    QStyledItemDelegate::initStyleOption(option, index);
    const auto* view = qobject_cast<const QAbstractItemView*>(option->widget);
    if (!view || !(option->features & QStyleOptionViewItem::HasDecoration))
        return;
    // The base class shrinks the decoration to the icon's largest size; a small icon is drawn
    // scaled up instead, in the full size.
    const QSize full = view->iconSize();
    const QSize actual = option->icon.actualSize(full);
    if (!actual.isEmpty() && actual.width() < full.width() && actual.height() < full.height()) {
        const qreal ratio = view->devicePixelRatioF();
        QPixmap scaled = option->icon.pixmap(actual, ratio).scaled(full * ratio, Qt::KeepAspectRatio, Qt::SmoothTransformation);
        scaled.setDevicePixelRatio(ratio);
        option->icon = QIcon(scaled);
    }
    option->decorationSize = full;
}

IgnoredAppsBox::IgnoredAppsBox(ClipboardManager& manager, PromptService& prompts, int iconSize, int listHeight,
                               QWidget* parent)
    : QFrame(parent)
    , m_manager(manager)
    , m_prompts(prompts)
    , m_iconSize(iconSize)
    , m_chooser(&ApplicationChooser::choose)
    , m_list(new QListWidget(this))
    , m_add(barButton(QStringLiteral("Add application"), this))
    , m_remove(barButton(QStringLiteral("Remove application"), this))
{
    m_list->setFrameShape(QFrame::NoFrame);
    m_list->setIconSize(QSize(iconSize, iconSize));
    m_list->setItemDelegate(new FullIconDelegate(m_list));
    m_list->setSelectionMode(QAbstractItemView::SingleSelection);
    m_list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_list->setSpacing(2);
    m_list->viewport()->setAutoFillBackground(false);
    m_list->setAutoFillBackground(false);
    m_list->setAccessibleName(QStringLiteral("Ignored applications"));
    if (listHeight > 0)
        m_list->setFixedHeight(listHeight);

    auto* bar = new QHBoxLayout;
    bar->setContentsMargins(2, 2, 2, 2);
    bar->setSpacing(0);
    bar->addWidget(m_add);
    bar->addWidget(line(QFrame::VLine, this));
    bar->addWidget(m_remove);
    bar->addStretch(1);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(1, 1, 1, 1);
    layout->setSpacing(0);
    layout->addWidget(m_list, 1);
    layout->addWidget(line(QFrame::HLine, this));
    layout->addLayout(bar);

    connect(m_add, &QToolButton::clicked, this, &IgnoredAppsBox::addApplication);
    connect(m_remove, &QToolButton::clicked, this, &IgnoredAppsBox::removeSelectedApplication);
    connect(m_list, &QListWidget::itemSelectionChanged, this, &IgnoredAppsBox::updateButtons);
    connect(&manager, &ClipboardManager::settingChanged, this, [this](Setting setting) {
        if (setting == Setting::ignoredApplications)
            refresh();
    });
    connect(&IconFiles::instance(), &IconFiles::loaded, this, &IgnoredAppsBox::refresh);
    changeEvent(nullptr);
    refresh();
}

std::optional<QString> IgnoredAppsBox::selectedAppId() const
{
    const QList<QListWidgetItem*> selected = m_list->selectedItems();
    if (selected.isEmpty())
        return std::nullopt;
    return selected.first()->data(idRole).toString();
}

void IgnoredAppsBox::refresh()
{
    const std::optional<QString> selected = selectedAppId();
    Workspace* workspace = m_manager.services().workspace;
    const QIcon generic = desktopEntryIcon(QString());
    m_list->clear();
    for (const IgnoredApp& app : m_manager.ignoredApplications()) {
        const QIcon icon = AppIcons::appIcon(workspace, app.bundleIdentifier);
        auto* row = new QListWidgetItem(icon.isNull() ? generic : icon, app.name, m_list);
        row->setData(idRole, app.bundleIdentifier);
        row->setToolTip(app.bundleIdentifier);
        row->setSizeHint(QSize(0, m_iconSize + 6));
        if (selected == app.bundleIdentifier)
            row->setSelected(true);
    }
    updateButtons();
}

void IgnoredAppsBox::updateButtons() { m_remove->setEnabled(selectedAppId().has_value()); }

void IgnoredAppsBox::addApplication()
{
    const std::optional<IgnoredApp> app = m_chooser ? m_chooser(window()) : std::nullopt;
    if (!app || app->bundleIdentifier.isEmpty())
        return;
    // An application already listed keeps its entry and name.
    m_manager.appendIgnoredApp(app->bundleIdentifier, app->name.isEmpty() ? app->bundleIdentifier : app->name);
}

void IgnoredAppsBox::removeSelectedApplication()
{
    const std::optional<QString> id = selectedAppId();
    if (!id)
        return;
    const QList<IgnoredApp> apps = m_manager.ignoredApplications();
    const auto entry = std::find_if(apps.begin(), apps.end(), [&](const IgnoredApp& a) { return a.bundleIdentifier == *id; });
    if (entry == apps.end())
        return;
    const int answer = m_prompts.alert(
        QStringLiteral("Remove %1 from ignored apps?").arg(entry->name),
        QStringLiteral("Content copied from this application will be saved to your clipboard history."),
        {QStringLiteral("Remove"), QStringLiteral("Cancel")}, PromptService::Style::warning);
    if (answer != 0)
        return;
    m_list->clearSelection();
    m_manager.removeIgnoredAppEntry(entry->bundleIdentifier);
}

void IgnoredAppsBox::changeEvent(QEvent* event)
{
    if (!event || event->type() == QEvent::PaletteChange) {
        const QColor text = palette().color(QPalette::WindowText);
        const QColor disabled = palette().color(QPalette::Disabled, QPalette::WindowText);
        for (auto [button, symbol] : {std::pair {m_add, "plus"}, std::pair {m_remove, "minus"}}) {
            QIcon icon = SettingsStyle::tinted(Symbols::icon(QString::fromLatin1(symbol)), text, text, 14);
            const QIcon faded = SettingsStyle::tinted(Symbols::icon(QString::fromLatin1(symbol)), disabled, disabled, 14);
            for (const QSize& size : faded.availableSizes())
                icon.addPixmap(faded.pixmap(size), QIcon::Disabled);
            button->setIcon(icon);
        }
    }
    if (event)
        QFrame::changeEvent(event);
}

void IgnoredAppsBox::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    SettingsStyle::paintListBox(painter, rect(), palette());
}

} // namespace lumra
