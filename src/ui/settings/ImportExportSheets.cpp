#include "ui/settings/ImportExportSheets.h"

#include "ui/shell/Prompt.h"
#include "platform/symbols/Symbols.h"
#include "ui/settings/SettingsWidgets.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QDir>
#include <QEvent>
#include <QFileInfo>
#include <QFileDialog>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLocale>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

namespace lumra {

using namespace std::chrono_literals;

namespace {

constexpr auto dismissDelay = 1500ms;
const QString jsonFilter = QStringLiteral("JSON files (*.json)");

// A symbol in a colour; drawn again when the palette changes, so dark windows keep it visible.
class SymbolLabel : public QLabel {
public:
    // An invalid `fixed` colour means the secondary text colour.
    SymbolLabel(QString symbol, QColor fixed, int size) : m_symbol(std::move(symbol)), m_fixed(fixed), m_size(size) { paint(); }

protected:
    void changeEvent(QEvent* event) override
    {
        if (event->type() == QEvent::PaletteChange)
            paint();
        QLabel::changeEvent(event);
    }

private:
    void paint()
    {
        const QColor c = m_fixed.isValid() ? m_fixed : palette().color(QPalette::PlaceholderText);
        setPixmap(SettingsStyle::tinted(Symbols::icon(m_symbol), c, c, m_size).pixmap(m_size, m_size));
    }
    QString m_symbol;
    QColor m_fixed;
    int m_size;
};

QLabel* symbolLabel(const QString& symbol, const QColor& colour = {}, int size = 14)
{
    return new SymbolLabel(symbol, colour, size);
}

void colour(QLabel* label, const QColor& colour)
{
    QPalette p = label->palette();
    p.setColor(QPalette::WindowText, colour);
    label->setPalette(p);
}

QLabel* resultLine()
{
    auto* label = SettingsStyle::label({}, 11);
    label->setWordWrap(true);
    label->hide();
    return label;
}

void showLine(QLabel* label, const QString& text, const QColor& tint)
{
    label->setText(text);
    colour(label, tint);
    label->setVisible(!text.isEmpty());
}

QProgressBar* progressBar()
{
    auto* bar = new QProgressBar;
    bar->setTextVisible(false);
    bar->setMaximumHeight(6);
    bar->hide();
    return bar;
}

} // namespace

QColor successColor(const QPalette& palette)
{
    return palette.color(QPalette::Window).lightness() < 128 ? QColor(0x4C, 0xD9, 0x64) : QColor(0x1E, 0x8E, 0x3E);
}

BackupFileDialogs BackupFileDialogs::system()
{
    return {
        [](QWidget* parent, const QString& defaultName) {
            return QFileDialog::getSaveFileName(parent, QString(), QDir::home().filePath(defaultName), jsonFilter);
        },
        [](QWidget* parent, const QString& message) {
            return QFileDialog::getOpenFileName(parent, message, QDir::homePath(), jsonFilter);
        },
    };
}

// ---------------------------------------------------------------------------------------------------- texts

namespace ImportExportTexts {

QString exportCount(qsizetype count) { return QString::number(count) + QStringLiteral(" items will be exported"); }
QString exported(int count) { return QStringLiteral("Exported %1 items successfully.").arg(count); }
QString importButton(int newItems) { return QStringLiteral("Import %1 Items").arg(newItems); }

QString imported(const backup::ImportOutcome& outcome)
{
    QString text = QStringLiteral("Imported %1 items successfully.").arg(outcome.inserted);
    if (outcome.removed > 0)
        text += QStringLiteral(" %1 older items were removed to stay within the item limit.").arg(outcome.removed);
    if (outcome.notKept > 0)
        text += QStringLiteral(" %1 items were left out: they are older than what the item limit keeps.").arg(outcome.notKept);
    return text;
}

QString dateSpan(const QDateTime& earliest, const QDateTime& latest)
{
    const QLocale locale;
    return locale.toString(earliest.toLocalTime().date(), QLocale::ShortFormat) + QStringLiteral(" \u2014 ")
        + locale.toString(latest.toLocalTime().date(), QLocale::ShortFormat);
}

QString cleaned(const backup::CleaningReport& report)
{
    QStringList parts;
    const auto add = [&parts](int count, const char* one, const char* many) {
        if (count > 0)
            parts << QStringLiteral("%1 %2").arg(count).arg(QLatin1String(count == 1 ? one : many));
    };
    add(report.imageNamesReplaced, "image name renamed", "image names renamed");
    add(report.imageItemsTooLarge, "image too large left out", "images too large left out");
    add(report.imageItemsNotPictures, "image that is not a picture left out", "images that are not pictures left out");
    add(report.imageItemsUnfilled, "image with no picture in the file left out", "images with no picture in the file left out");
    add(report.fileEntriesDropped, "file entry that is not a local file left out",
        "file entries that are not local files left out");
    add(report.fileItemsDropped, "file item without a usable file left out", "file items without a usable file left out");
    return parts.isEmpty() ? QString() : QStringLiteral("Checked: ") + parts.join(QStringLiteral(", ")) + QLatin1Char('.');
}

QString limitWarning(const backup::ImportOutcome& outcome, qint64 maxItems)
{
    QStringList parts;
    if (outcome.removed > 0)
        parts << QStringLiteral("the %1 oldest items of your history that are neither starred nor pinned will be removed")
                     .arg(outcome.removed);
    if (outcome.notKept > 0)
        parts << QStringLiteral("%1 of the imported items are older than what the limit keeps and will not be imported")
                     .arg(outcome.notKept);
    if (parts.isEmpty())
        return {};
    return QStringLiteral("The history keeps at most %1 items. If you import, %2.").arg(maxItems).arg(parts.join(QStringLiteral(", and ")));
}

QString limitTitle(int planned, const backup::ImportOutcome& outcome)
{
    // The items the limit would drop at once are not counted as imported.
    return QStringLiteral("Import %1 items?").arg(planned - outcome.notKept);
}

QString settingsImportQuestion(const QString& fileName, int settings, int invalid)
{
    QString text = QStringLiteral("Your current settings will be replaced by the %1 settings in \"%2\". They take effect at once.")
                       .arg(settings)
                       .arg(fileName);
    if (invalid > 0)
        text += QStringLiteral(" %1 values in the file are not valid and will be skipped.").arg(invalid);
    return text;
}

} // namespace ImportExportTexts

// ---------------------------------------------------------------------------------------------------- sheets

int FittedSheet::contentHeight() const
{
    QLayout* content = layout();
    if (!content)
        return height();
    return content->hasHeightForWidth() ? content->totalHeightForWidth(width()) : content->totalSizeHint().height();
}

bool FittedSheet::event(QEvent* event)
{
    const bool handled = QDialog::event(event);
    // The layout has taken the change by now: the sheet shrinks as well as grows with it.
    if (event->type() == QEvent::LayoutRequest) {
        if (const int wanted = contentHeight(); wanted > 0 && wanted != height())
            resize(width(), wanted);
    }
    return handled;
}

// ---------------------------------------------------------------------------------------------------- filters

BackupFilterBox::BackupFilterBox(bool alwaysShowCategories, QWidget* parent)
    : QWidget(parent), m_alwaysShowCategories(alwaysShowCategories)
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(8, 8, 8, 8);
    layout->setSpacing(12);

    m_starred = new QCheckBox(QStringLiteral("Starred items only"));
    layout->addWidget(m_starred);

    m_categoryRow = new QWidget;
    auto* categoryLayout = new QHBoxLayout(m_categoryRow);
    categoryLayout->setContentsMargins(0, 0, 0, 0);
    categoryLayout->addWidget(SettingsStyle::label(QStringLiteral("Category"), 13));
    categoryLayout->addStretch(1);
    m_category = new QComboBox;
    m_category->setFixedWidth(150);
    m_category->addItem(QStringLiteral("All"));
    categoryLayout->addWidget(m_category);
    layout->addWidget(m_categoryRow);

    m_dateRange = new QCheckBox(QStringLiteral("Date range"));
    layout->addWidget(m_dateRange);
    m_dateRow = new QWidget;
    auto* dates = new QHBoxLayout(m_dateRow);
    dates->setContentsMargins(20, 0, 0, 0);
    dates->setSpacing(12);
    const auto column = [&](const QString& caption, QDateEdit*& edit) {
        auto* box = new QVBoxLayout;
        box->setSpacing(2);
        box->addWidget(SettingsStyle::label(caption, 11, false, true));
        edit = new QDateEdit;
        edit->setCalendarPopup(true);
        edit->setDisplayFormat(QLocale().dateFormat(QLocale::ShortFormat));
        box->addWidget(edit);
        dates->addLayout(box);
    };
    column(QStringLiteral("From"), m_from);
    column(QStringLiteral("To"), m_to);
    dates->addStretch(1);
    m_dateRow->hide();
    layout->addWidget(m_dateRow);

    connect(m_starred, &QCheckBox::toggled, this, &BackupFilterBox::filterChanged);
    connect(m_category, &QComboBox::currentIndexChanged, this, &BackupFilterBox::filterChanged);
    connect(m_dateRange, &QCheckBox::toggled, this, [this](bool on) {
        m_dateRow->setVisible(on);
        emit filterChanged();
    });
    connect(m_from, &QDateEdit::dateChanged, this, &BackupFilterBox::filterChanged);
    connect(m_to, &QDateEdit::dateChanged, this, &BackupFilterBox::filterChanged);
}

backup::ExportFilter BackupFilterBox::filter() const
{
    backup::ExportFilter filter;
    filter.starredOnly = m_starred->isChecked();
    if (const QVariant id = m_category->currentData(); id.isValid())
        filter.categoryId = id.toUuid();
    if (m_dateRange->isChecked()) {
        filter.dateFrom = m_from->date();
        filter.dateTo = m_to->date();
    }
    return filter;
}

void BackupFilterBox::setCategories(const QList<ClipboardCategory>& categories)
{
    const QVariant chosen = m_category->currentData();
    const QSignalBlocker blocker(m_category);
    m_category->clear();
    m_category->addItem(QStringLiteral("All"));
    const QColor text = palette().color(QPalette::WindowText);
    for (const ClipboardCategory& category : categories)
        m_category->addItem(SettingsStyle::tinted(Symbols::icon(category.iconName), text, text), category.name, category.id);
    const int index = chosen.isValid() ? m_category->findData(chosen) : 0;
    m_category->setCurrentIndex(std::max(index, 0));
    m_categoryRow->setVisible(m_alwaysShowCategories || !categories.isEmpty());
    if (index < 0)
        emit filterChanged();
}

void BackupFilterBox::setDates(const QDate& from, const QDate& to)
{
    const QSignalBlocker fromBlocker(m_from);
    const QSignalBlocker toBlocker(m_to);
    m_from->setDate(from);
    m_to->setDate(to);
    emit filterChanged();
}

// ---------------------------------------------------------------------------------------------------- export

ExportSheet::ExportSheet(ClipboardManager& manager, BackupFileDialogs dialogs, QWidget* parent)
    : FittedSheet(parent), m_manager(manager), m_dialogs(std::move(dialogs))
{
    setWindowTitle(QStringLiteral("Export Clipboard History"));
    setFixedWidth(380);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(20, 20, 20, 20);
    layout->setSpacing(16);
    layout->addWidget(SettingsStyle::label(QStringLiteral("Export Clipboard History"), 15, true));

    auto* group = new QGroupBox;
    auto* groupLayout = new QVBoxLayout(group);
    groupLayout->setContentsMargins(0, 0, 0, 0);
    m_filters = new BackupFilterBox(true);
    m_filters->setCategories(manager.categories());
    const QDate today = manager.clock().now().toLocalTime().date();
    m_filters->setDates(today.addMonths(-1), today);
    m_filters->dateFrom()->setMaximumDate(today);
    m_filters->dateTo()->setMaximumDate(today);
    groupLayout->addWidget(m_filters);
    layout->addWidget(group);

    auto* countRow = new QHBoxLayout;
    countRow->addStretch(1);
    countRow->addWidget(symbolLabel(QStringLiteral("doc.zipper")));
    m_count = SettingsStyle::label({}, 13, false, true);
    countRow->addWidget(m_count);
    countRow->addStretch(1);
    layout->addLayout(countRow);

    m_progress = progressBar();
    layout->addWidget(m_progress);
    m_result = resultLine();
    layout->addWidget(m_result);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    m_cancel = new QPushButton(QStringLiteral("Cancel"));
    m_cancel->setAutoDefault(false);
    m_export = new QPushButton(QStringLiteral("Export"));
    m_export->setDefault(true);
    buttons->addWidget(m_cancel);
    buttons->addWidget(m_export);
    layout->addLayout(buttons);

    connect(m_filters, &BackupFilterBox::filterChanged, this, &ExportSheet::updateCount);
    connect(&manager, &ClipboardManager::clipboardItemsChanged, this, &ExportSheet::updateCount);
    connect(m_cancel, &QPushButton::clicked, this, &ExportSheet::reject);
    connect(m_export, &QPushButton::clicked, this, &ExportSheet::exportAction);
    connect(&m_watcher, &QFutureWatcherBase::progressValueChanged, m_progress, &QProgressBar::setValue);
    connect(&m_watcher, &QFutureWatcherBase::progressRangeChanged, m_progress, &QProgressBar::setRange);
    connect(&m_watcher, &QFutureWatcherBase::finished, this, &ExportSheet::finishExport);
    updateCount();
}

ExportSheet::~ExportSheet()
{
    m_watcher.disconnect(this);
    if (m_watcher.isRunning())
        m_watcher.cancel();
}

void ExportSheet::updateCount()
{
    const backup::ExportSelection selection(m_filters->filter(), QTimeZone::systemTimeZone());
    m_liveCount = std::count_if(m_manager.clipboardItems().begin(), m_manager.clipboardItems().end(),
                                [&](const ClipboardItem& item) { return !item.isTrashed && selection.matches(item); });
    m_count->setText(ImportExportTexts::exportCount(m_liveCount));
    m_export->setEnabled(m_liveCount > 0 && !isExporting());
}

void ExportSheet::exportAction()
{
    if (isExporting() || m_liveCount == 0)
        return;
    const QString path = m_dialogs.save(this, QStringLiteral("LumraBackup.json"));
    if (path.isEmpty())
        return;
    showResult({}, false);
    m_filters->setEnabled(false);
    m_export->setEnabled(false);
    m_progress->setRange(0, 0);
    m_progress->show();
    m_watcher.setFuture(m_manager.backup().exportToFile(m_filters->filter(), path));
}

void ExportSheet::finishExport()
{
    m_progress->hide();
    m_filters->setEnabled(true);
    updateCount();
    if (m_watcher.future().isCanceled() || m_watcher.future().resultCount() == 0) {
        showResult(QStringLiteral("Export cancelled; no file was written."), true);
        return;
    }
    const BackupService::ExportResult result = m_watcher.result();
    if (!result.error.isEmpty()) {
        showResult(result.error, true);
        return;
    }
    showResult(ImportExportTexts::exported(result.exported), false);
    m_dismissTimer = m_manager.clock().start(dismissDelay, false, [this] { accept(); });
}

void ExportSheet::showResult(const QString& text, bool failed)
{
    showLine(m_result, text, failed ? SettingsStyle::errorColor() : successColor(palette()));
}

void ExportSheet::reject()
{
    // Cancel stops a running export first; the sheet stays with its settings.
    if (isExporting()) {
        m_watcher.cancel();
        return;
    }
    QDialog::reject();
}

// ---------------------------------------------------------------------------------------------------- import

ImportSheet::ImportSheet(ClipboardManager& manager, BackupFileDialogs dialogs, PromptService& prompts, QWidget* parent)
    : FittedSheet(parent), m_manager(manager), m_dialogs(std::move(dialogs)), m_prompts(prompts)
{
    setWindowTitle(QStringLiteral("Import Clipboard History"));
    setFixedWidth(400);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(20, 20, 20, 20);
    layout->setSpacing(16);
    layout->addWidget(SettingsStyle::label(QStringLiteral("Import Clipboard History"), 15, true));

    // Empty: nothing loaded yet.
    m_empty = new QWidget;
    auto* empty = m_empty;
    auto* emptyLayout = new QVBoxLayout(empty);
    emptyLayout->setContentsMargins(0, 20, 0, 20);
    emptyLayout->setSpacing(12);
    auto* icon = symbolLabel(QStringLiteral("doc.badge.plus"), {}, 36);
    emptyLayout->addWidget(icon, 0, Qt::AlignHCenter);
    emptyLayout->addWidget(SettingsStyle::label(QStringLiteral("Select a Lumra backup file to preview"), 13, false, true), 0,
                           Qt::AlignHCenter);
    auto* choose = new QPushButton(QStringLiteral("Choose File..."));
    emptyLayout->addWidget(choose, 0, Qt::AlignHCenter);
    m_error = resultLine();
    m_error->setAlignment(Qt::AlignHCenter);
    emptyLayout->addWidget(m_error);
    layout->addWidget(empty);

    // Loaded: summary, filters, counts.
    m_loaded = new QWidget;
    auto* loaded = m_loaded;
    auto* loadedLayout = new QVBoxLayout(loaded);
    loadedLayout->setContentsMargins(0, 0, 0, 0);
    loadedLayout->setSpacing(16);
    auto* summary = new QGroupBox;
    auto* summaryLayout = new QVBoxLayout(summary);
    summaryLayout->setSpacing(6);
    auto* containsRow = new QHBoxLayout;
    containsRow->addWidget(SettingsStyle::label(QStringLiteral("File contains"), 13));
    containsRow->addStretch(1);
    m_summary = SettingsStyle::label({}, 13, false, true);
    containsRow->addWidget(m_summary);
    summaryLayout->addLayout(containsRow);
    auto* kinds = new QHBoxLayout;
    kinds->setSpacing(12);
    for (const auto& [symbol, label] : {std::pair {"doc.text", &m_textCount}, std::pair {"photo", &m_imageCount},
                                        std::pair {"doc", &m_fileCount}}) {
        auto* piece = new QHBoxLayout;
        piece->setSpacing(4);
        piece->addWidget(symbolLabel(QString::fromLatin1(symbol), {}, 12));
        *label = SettingsStyle::label({}, 11, false, true);
        piece->addWidget(*label);
        kinds->addLayout(piece);
    }
    kinds->addStretch(1);
    summaryLayout->addLayout(kinds);
    m_dates = SettingsStyle::label({}, 12, false, true);
    summaryLayout->addWidget(m_dates);
    m_cleaned = SettingsStyle::label({}, 11, false, true);
    m_cleaned->setWordWrap(true);
    summaryLayout->addWidget(m_cleaned);
    loadedLayout->addWidget(summary);

    auto* filterGroup = new QGroupBox(QStringLiteral("Filter what to import"));
    auto* filterLayout = new QVBoxLayout(filterGroup);
    filterLayout->setContentsMargins(0, 0, 0, 0);
    m_filters = new BackupFilterBox(false);
    m_filters->setCategories({});
    m_filters->setDates(QDate(1970, 1, 1), manager.clock().now().toLocalTime().date());
    filterLayout->addWidget(m_filters);
    loadedLayout->addWidget(filterGroup);

    auto* counts = new QHBoxLayout;
    counts->setSpacing(4);
    counts->addWidget(symbolLabel(QStringLiteral("plus.circle"), QColor(0x34, 0xC7, 0x59)));
    m_newCount = SettingsStyle::label({}, 13, false, true);
    counts->addWidget(m_newCount);
    counts->addSpacing(16);
    counts->addWidget(symbolLabel(QStringLiteral("arrow.2.squarepath"), QColor(255, 149, 0)));
    m_duplicateCount = SettingsStyle::label({}, 13, false, true);
    counts->addWidget(m_duplicateCount);
    counts->addStretch(1);
    loadedLayout->addLayout(counts);
    m_result = resultLine();
    loadedLayout->addWidget(m_result);
    layout->addWidget(loaded);

    m_progress = progressBar();
    m_progress->setRange(0, 0);
    layout->addWidget(m_progress);

    auto* buttons = new QHBoxLayout;
    m_chooseAgain = new QPushButton(QStringLiteral("Choose Different File..."));
    m_chooseAgain->setFlat(true);
    m_chooseAgain->setFont(SettingsStyle::font(11, false, m_chooseAgain->font()));
    m_chooseAgain->setStyleSheet(QStringLiteral("QPushButton { color: palette(highlight); border: none; }"));
    m_chooseAgain->setCursor(Qt::PointingHandCursor);
    buttons->addWidget(m_chooseAgain);
    buttons->addStretch(1);
    m_cancel = new QPushButton(QStringLiteral("Cancel"));
    m_cancel->setAutoDefault(false);
    m_import = new QPushButton;
    m_import->setDefault(true);
    buttons->addWidget(m_cancel);
    buttons->addWidget(m_import);
    layout->addLayout(buttons);

    connect(choose, &QPushButton::clicked, this, &ImportSheet::chooseBackupFile);
    connect(m_chooseAgain, &QPushButton::clicked, this, &ImportSheet::chooseBackupFile);
    connect(m_cancel, &QPushButton::clicked, this, &ImportSheet::reject);
    connect(m_import, &QPushButton::clicked, this, &ImportSheet::importAction);
    connect(m_filters, &BackupFilterBox::filterChanged, this, &ImportSheet::updateCounts);
    connect(&m_importing, &QFutureWatcherBase::finished, this, [this] { finishImport(m_importing.property("dryRun").toBool()); });
    updateState();
}

ImportSheet::~ImportSheet()
{
    m_opening.disconnect(this);
    m_importing.disconnect(this);
}

void ImportSheet::chooseBackupFile()
{
    if (isBusy())
        return;
    const QString path = m_dialogs.open(this, QStringLiteral("Select a Lumra backup file"));
    if (path.isEmpty())
        return;
    m_opening.disconnect(this);
    connect(&m_opening, &QFutureWatcherBase::finished, this, [this, path] { finishOpening(path); });
    m_openingPending = true;
    m_opening.setFuture(m_manager.backup().openBackup(path));
    updateState();
}

void ImportSheet::finishOpening(const QString& path)
{
    m_openingPending = false;
    const BackupService::OpenedBackup opened = m_opening.result();
    showLine(m_result, {}, {});
    m_preview = opened.preview;
    if (!m_preview) {
        showLine(m_error, QStringLiteral("\"%1\" was not loaded. %2").arg(QFileInfo(path).fileName(), opened.error),
                 SettingsStyle::errorColor());
        updateState();
        return;
    }
    showLine(m_error, {}, {});
    const backup::BackupPreview& preview = *m_preview;
    m_summary->setText(QStringLiteral("%1 items").arg(preview.backup.data.items.size()));
    m_textCount->setText(QStringLiteral("%1 text").arg(preview.textCount));
    m_imageCount->setText(QStringLiteral("%1 images").arg(preview.imageCount));
    m_fileCount->setText(QStringLiteral("%1 files").arg(preview.fileCount));
    m_dates->setVisible(preview.earliest.has_value());
    if (preview.earliest)
        m_dates->setText(ImportExportTexts::dateSpan(*preview.earliest, *preview.latest));
    const QString cleaned = ImportExportTexts::cleaned(preview.backup.cleaned);
    m_cleaned->setText(cleaned);
    m_cleaned->setVisible(!cleaned.isEmpty());

    // Only categories the history has and the file uses are offered; a choice the file no longer
    // offers is cleared.
    QSet<QUuid> used;
    for (const ClipboardItem& item : preview.backup.data.items) {
        if (item.categoryId)
            used.insert(*item.categoryId);
    }
    QList<ClipboardCategory> offered;
    for (const ClipboardCategory& category : m_manager.categories()) {
        if (used.contains(category.id))
            offered.append(category);
    }
    m_filters->setCategories(offered);
    if (preview.earliest)
        m_filters->setDates(preview.earliest->toLocalTime().date(), preview.latest->toLocalTime().date());
    updateCounts();
    updateState();
}

void ImportSheet::updateCounts()
{
    m_counts = m_preview ? backup::countSelection(*m_preview, m_filters->filter(), QTimeZone::systemTimeZone())
                         : backup::SelectionCounts {};
    m_newCount->setText(QStringLiteral("%1 new").arg(m_counts.newItems()));
    m_duplicateCount->setText(QStringLiteral("%1 duplicates (skipped)").arg(m_counts.duplicates));
    updateState();
}

void ImportSheet::updateState()
{
    m_empty->setVisible(!m_preview);
    m_loaded->setVisible(m_preview != nullptr);
    m_chooseAgain->setVisible(m_preview != nullptr);
    m_import->setVisible(m_preview != nullptr);
    m_import->setText(ImportExportTexts::importButton(m_counts.newItems()));
    m_import->setEnabled(m_counts.newItems() > 0 && !isBusy() && !m_dismissTimer);
    m_chooseAgain->setEnabled(!isBusy());
    m_filters->setEnabled(!isBusy());
    m_progress->setVisible(isBusy());
    adjustSize();
}

void ImportSheet::importAction()
{
    if (!m_preview || isBusy() || m_counts.newItems() == 0)
        return;
    m_importItems = backup::selectedItems(*m_preview, m_filters->filter(), QTimeZone::systemTimeZone());
    runImport(true);
}

void ImportSheet::runImport(bool dryRun)
{
    const backup::ExportData& data = m_preview->backup.data;
    m_importing.setProperty("dryRun", dryRun);
    m_importingPending = true;
    m_importing.setFuture(m_manager.backup().startImport(m_importItems, data.images, data.categories.value_or(QList<ClipboardCategory>()), dryRun));
    updateState();
}

void ImportSheet::finishImport(bool dryRun)
{
    m_importingPending = false;
    const BackupService::ImportResult result = m_importing.result();
    updateState();
    if (!result.error.isEmpty()) {
        showLine(m_result, QStringLiteral("Nothing was imported: %1").arg(result.error), SettingsStyle::errorColor());
        return;
    }
    if (dryRun) {
        const QString warning = ImportExportTexts::limitWarning(result.outcome, m_manager.maxItems());
        if (!warning.isEmpty()
            && m_prompts.alert(ImportExportTexts::limitTitle(int(result.plan.items.size()), result.outcome), warning,
                               {QStringLiteral("Import"), QStringLiteral("Cancel")}, PromptService::Style::warning) != 0)
            return;
        runImport(false);
        return;
    }
    m_importItems.clear();
    showLine(m_result, ImportExportTexts::imported(result.outcome), successColor(palette()));
    m_dismissTimer = m_manager.clock().start(dismissDelay, false, [this] { accept(); });
    updateState();
}

void ImportSheet::reject()
{
    // An import under way finishes on its own (it is one save); the sheet waits for it.
    if (m_importingPending)
        return;
    QDialog::reject();
}

} // namespace lumra
