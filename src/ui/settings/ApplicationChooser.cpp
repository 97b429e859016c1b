#include "ui/settings/ApplicationChooser.h"

#include "platform/files/IconFiles.h"
#include "platform/symbols/Symbols.h"
#include "ui/settings/IgnoredAppsBox.h"
#include "ui/settings/SettingsWidgets.h"

#include <QCollator>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QLocale>
#include <QPushButton>
#include <QScrollBar>
#include <QSortFilterProxyModel>
#include <QStandardItemModel>
#include <QVBoxLayout>

namespace lumra {

namespace {

constexpr int idRole = Qt::UserRole + 1;
constexpr int nameRole = Qt::UserRole + 2;

QString shownName(const DesktopEntry& entry) { return entry.name.isEmpty() ? entry.id : entry.name; }

QString quoted(const QString& text) { return QStringLiteral("\u201c%1\u201d").arg(text); }

// The folder of `folders` that holds `path`, at any depth; empty when none.
QString folderHolding(const QString& path, const QStringList& folders)
{
    const QString canonical = QFileInfo(path).canonicalFilePath();
    for (const QString& folder : folders) {
        const QString root = QFileInfo(folder).canonicalFilePath();
        if (!root.isEmpty() && canonical.startsWith(root + QLatin1Char('/')))
            return root;
    }
    return {};
}

Result<IgnoredApp> applicationForDesktopFile(const QString& path, const QStringList& folders)
{
    const QFileInfo info(path);
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return Result<IgnoredApp>::failure(QStringLiteral("%1 could not be read.").arg(quoted(info.fileName())));
    const QString root = folderHolding(path, folders);
    const QString id = root.isEmpty() ? info.completeBaseName()
                                      : DesktopEntryIndex::idForFile(root, info.canonicalFilePath());
    const auto entry = parseDesktopEntry(file.read(1024 * 1024), id, QLocale().name());
    if (!entry || entry->hidden)
        return Result<IgnoredApp>::failure(
            QStringLiteral("%1 is not the desktop entry of an application.").arg(quoted(info.fileName())));
    return IgnoredApp {id, shownName(*entry)};
}

Result<IgnoredApp> applicationForProgram(const QString& path, const DesktopEntryIndex& index)
{
    const QFileInfo info(path);
    const QString canonical = info.canonicalFilePath();
    const QStringList names {info.fileName(), QFileInfo(canonical).fileName()};
    const QList<DesktopEntry> entries = index.entries();
    // An entry naming this very file wins over one naming a program of the same name.
    for (const DesktopEntry& entry : entries) {
        if (QDir::isAbsolutePath(entry.program) && QFileInfo(entry.program).canonicalFilePath() == canonical)
            return IgnoredApp {entry.id, shownName(entry)};
    }
    for (const DesktopEntry& entry : entries) {
        if (!entry.program.isEmpty() && !QDir::isAbsolutePath(entry.program) && names.contains(entry.program))
            return IgnoredApp {entry.id, shownName(entry)};
    }
    return IgnoredApp {info.fileName(), info.fileName()};
}

} // namespace

QList<DesktopEntry> choosableApplications(const QList<DesktopEntry>& entries)
{
    QList<DesktopEntry> shown;
    for (const DesktopEntry& entry : entries) {
        if (!entry.noDisplay && !entry.hidden)
            shown.append(entry);
    }
    QCollator collator;
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    std::stable_sort(shown.begin(), shown.end(), [&](const DesktopEntry& a, const DesktopEntry& b) {
        return collator.compare(shownName(a), shownName(b)) < 0;
    });
    return shown;
}

Result<IgnoredApp> applicationForPath(const QString& path, const DesktopEntryIndex& index,
                                      const QStringList& applicationFolders)
{
    const QFileInfo info(path);
    if (!info.isFile())
        return Result<IgnoredApp>::failure(QStringLiteral("%1 is not a file.").arg(quoted(info.fileName())));
    if (info.fileName().endsWith(QLatin1String(".desktop")))
        return applicationForDesktopFile(path, applicationFolders);
    if (!info.isExecutable())
        return Result<IgnoredApp>::failure(
            QStringLiteral("%1 is neither a program nor the desktop entry of an application.").arg(quoted(info.fileName())));
    return applicationForProgram(path, index);
}

QIcon desktopEntryIcon(const QString& icon)
{
    QIcon found;
    // The generic icon until the file is read or the theme's files are checked.
    if (QDir::isAbsolutePath(icon))
        found = IconFiles::instance().icon(icon).value_or(QIcon());
    else if (!icon.isEmpty())
        found = IconFiles::instance().themeIcon(icon).value_or(QIcon());
    if (found.isNull())
        found = QIcon::fromTheme(QStringLiteral("application-x-executable"));
    return found.isNull() ? Symbols::icon(QStringLiteral("app")) : found;
}

ApplicationChooser::ApplicationChooser(const QList<DesktopEntry>& entries, QWidget* parent)
    : QDialog(parent)
    , m_model(new QStandardItemModel(this))
    , m_filter(new QSortFilterProxyModel(this))
    , m_search(new QLineEdit(this))
    , m_list(new QListView(this))
    , m_other(new QPushButton(QStringLiteral("Other\u2026"), this))
    , m_add(new QPushButton(QStringLiteral("Add"), this))
    , m_error(new QLabel(this))
{
    setWindowTitle(QStringLiteral("Choose Application"));
    resize(440, 520);
    for (const DesktopEntry& entry : entries) {
        auto* row = new QStandardItem(shownName(entry));
        row->setData(entry.id, idRole);
        row->setData(shownName(entry), nameRole);
        row->setData(entry.icon, Qt::UserRole + 3);
        row->setToolTip(entry.id);
        row->setEditable(false);
        m_model->appendRow(row);
    }
    m_filter->setSourceModel(m_model);
    m_filter->setFilterCaseSensitivity(Qt::CaseInsensitive);
    m_filter->setFilterRole(nameRole);

    m_search->setPlaceholderText(QStringLiteral("Search applications"));
    m_search->setClearButtonEnabled(true);
    m_search->setAccessibleName(QStringLiteral("Search applications"));
    m_list->setModel(m_filter);
    m_list->setIconSize(QSize(24, 24));
    m_list->setItemDelegate(new FullIconDelegate(m_list));
    m_list->setUniformItemSizes(true);
    m_list->setSelectionMode(QAbstractItemView::SingleSelection);
    m_list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_error->setWordWrap(true);
    QPalette errorPalette = m_error->palette();
    errorPalette.setColor(QPalette::WindowText, SettingsStyle::errorColor());
    m_error->setPalette(errorPalette);
    m_error->hide();
    m_add->setDefault(true);

    auto* prompt = new QLabel(QStringLiteral("Select an application to ignore"), this);
    auto* cancel = new QPushButton(QStringLiteral("Cancel"), this);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(m_other);
    buttons->addStretch(1);
    buttons->addWidget(cancel);
    buttons->addWidget(m_add);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(prompt);
    layout->addWidget(m_search);
    layout->addWidget(m_list, 1);
    layout->addWidget(m_error);
    layout->addLayout(buttons);

    // Icons are made when a row is first drawn: a theme look-up for every installed
    // application up front would delay the dialog.
    const auto loadIcons = [this] {
        const QModelIndex first = m_list->indexAt(QPoint(4, 4));
        const int start = first.isValid() ? first.row() : 0;
        for (int row = start; row < m_filter->rowCount() && row < start + 40; ++row) {
            QStandardItem* item = m_model->itemFromIndex(m_filter->mapToSource(m_filter->index(row, 0)));
            if (item->icon().isNull())
                item->setIcon(desktopEntryIcon(item->data(Qt::UserRole + 3).toString()));
        }
    };
    connect(m_list->verticalScrollBar(), &QScrollBar::valueChanged, this, loadIcons);
    connect(&IconFiles::instance(), &IconFiles::loaded, this, [this](const QString& path) {
        for (int row = 0; row < m_model->rowCount(); ++row) {
            QStandardItem* item = m_model->item(row);
            if (item->data(Qt::UserRole + 3).toString() == path && !item->icon().isNull())
                item->setIcon(desktopEntryIcon(path));
        }
    });
    connect(m_search, &QLineEdit::textChanged, this, [this, loadIcons](const QString& text) {
        m_filter->setFilterFixedString(text.trimmed());
        if (m_filter->rowCount() > 0)
            m_list->setCurrentIndex(m_filter->index(0, 0));
        loadIcons();
        updateAddButton();
    });
    connect(m_list->selectionModel(), &QItemSelectionModel::currentChanged, this, &ApplicationChooser::updateAddButton);
    connect(m_list, &QListView::activated, this, &ApplicationChooser::chooseSelected);
    connect(m_add, &QPushButton::clicked, this, &ApplicationChooser::chooseSelected);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(m_other, &QPushButton::clicked, this, &ApplicationChooser::chooseFile);
    m_chooseFile = [this] {
        return QFileDialog::getOpenFileName(this, QStringLiteral("Choose an application or a program"),
                                            QStringLiteral("/usr/share/applications"));
    };
    loadIcons();
    updateAddButton();
    m_search->setFocus();
}

void ApplicationChooser::setIndex(const DesktopEntryIndex* index, QStringList folders)
{
    m_index = index;
    m_folders = std::move(folders);
}

QStringList ApplicationChooser::visibleNames() const
{
    QStringList names;
    for (int row = 0; row < m_filter->rowCount(); ++row)
        names.append(m_filter->index(row, 0).data(nameRole).toString());
    return names;
}

void ApplicationChooser::updateAddButton() { m_add->setEnabled(m_list->currentIndex().isValid()); }

void ApplicationChooser::chooseSelected()
{
    const QModelIndex current = m_list->currentIndex();
    if (!current.isValid())
        return;
    m_chosen = IgnoredApp {current.data(idRole).toString(), current.data(nameRole).toString()};
    accept();
}

void ApplicationChooser::chooseFile()
{
    const QString path = m_chooseFile ? m_chooseFile() : QString();
    if (path.isEmpty())
        return;
    const DesktopEntryIndex empty;
    const Result<IgnoredApp> app = applicationForPath(path, m_index ? *m_index : empty, m_folders);
    if (!app) {
        m_error->setText(app.error());
        m_error->show();
        return;
    }
    m_chosen = *app;
    accept();
}

std::optional<IgnoredApp> ApplicationChooser::choose(QWidget* parent)
{
    DesktopEntryIndex index;
    const QStringList folders = DesktopEntryIndex::applicationFolders();
    index.load(folders, QLocale().name());
    ApplicationChooser chooser(choosableApplications(index.entries()), parent);
    chooser.setIndex(&index, folders);
    if (chooser.exec() != QDialog::Accepted)
        return std::nullopt;
    return chooser.chosen();
}

} // namespace lumra
