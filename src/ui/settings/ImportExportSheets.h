#pragma once

#include "engine/BackupService.h"
#include "engine/ClipboardManager.h"

#include <QDialog>
#include <QFutureWatcher>

#include <functional>
#include <memory>

class QCheckBox;
class QComboBox;
class QDateEdit;
class QLabel;
class QProgressBar;
class QPushButton;

namespace lumra {

class PromptService;

// The file choosers of the Import/Export page and its sheets (Qt's dialogs, JSON only); tests set
// their own answers. An empty path means cancelled.
struct BackupFileDialogs {
    std::function<QString(QWidget* parent, const QString& defaultName)> save;
    std::function<QString(QWidget* parent, const QString& message)> open;
    static BackupFileDialogs system();
};

// What the sheets show, worked out without a window.
namespace ImportExportTexts {
QString exportCount(qsizetype count);                 // "12 items will be exported"
QString exported(int count);                          // "Exported 12 items successfully."
QString importButton(int newItems);                   // "Import 3 Items"
QString imported(const backup::ImportOutcome& outcome); // "Imported 12 items successfully." and what the limit took
QString dateSpan(const QDateTime& earliest, const QDateTime& latest);
QString cleaned(const backup::CleaningReport& report);  // empty when nothing was cleaned
// Empty when the item limit takes nothing.
QString limitWarning(const backup::ImportOutcome& outcome, qint64 maxItems);
// The title over that warning: the number of items the import keeps.
QString limitTitle(int planned, const backup::ImportOutcome& outcome);
// The question before a settings file is applied; every setting it carries takes effect at once.
QString settingsImportQuestion(const QString& fileName, int settings, int invalid);
} // namespace ImportExportTexts

// The colours of the result lines, readable on light and dark windows.
QColor successColor(const QPalette& palette);

// The filter controls both sheets share: starred only, a category, a date range.
class BackupFilterBox : public QWidget {
    Q_OBJECT
public:
    // The import sheet hides the category picker when it has nothing to offer; the export sheet never does.
    explicit BackupFilterBox(bool alwaysShowCategories, QWidget* parent = nullptr);

    backup::ExportFilter filter() const;
    // The picker's categories after "All"; a chosen category that is no longer offered is cleared.
    void setCategories(const QList<ClipboardCategory>& categories);
    void setDates(const QDate& from, const QDate& to);

    QCheckBox* starredOnly() const { return m_starred; }
    QComboBox* category() const { return m_category; }
    QCheckBox* dateRange() const { return m_dateRange; }
    QDateEdit* dateFrom() const { return m_from; }
    QDateEdit* dateTo() const { return m_to; }

signals:
    void filterChanged();

private:
    bool m_alwaysShowCategories;
    QCheckBox* m_starred = nullptr;
    QWidget* m_categoryRow = nullptr;
    QComboBox* m_category = nullptr;
    QCheckBox* m_dateRange = nullptr;
    QWidget* m_dateRow = nullptr;
    QDateEdit* m_from = nullptr;
    QDateEdit* m_to = nullptr;
};

// A sheet of fixed width whose height follows its content as rows show and hide.
class FittedSheet : public QDialog {
    Q_OBJECT
public:
    using QDialog::QDialog;
    // The height the content asks for at the sheet's width.
    int contentHeight() const;

protected:
    bool event(QEvent* event) override;
};

// "Export Clipboard History": filters, the live count, and the export to a file on a worker, with
// progress and Cancel. Closes itself 1.5 s after a successful export.
class ExportSheet : public FittedSheet {
    Q_OBJECT
public:
    ExportSheet(ClipboardManager& manager, BackupFileDialogs dialogs, QWidget* parent = nullptr);
    ~ExportSheet() override;

    BackupFilterBox* filters() const { return m_filters; }
    QLabel* countLabel() const { return m_count; }
    QLabel* resultLabel() const { return m_result; }
    QPushButton* exportButton() const { return m_export; }
    QPushButton* cancelButton() const { return m_cancel; }
    bool isExporting() const { return m_watcher.isRunning(); }

    void exportAction();

protected:
    void reject() override;

private:
    void updateCount();
    void finishExport();
    void showResult(const QString& text, bool failed);

    ClipboardManager& m_manager;
    BackupFileDialogs m_dialogs;
    BackupFilterBox* m_filters = nullptr;
    QLabel* m_count = nullptr;
    QLabel* m_result = nullptr;
    QProgressBar* m_progress = nullptr;
    QPushButton* m_cancel = nullptr;
    QPushButton* m_export = nullptr;
    qsizetype m_liveCount = 0;
    QFutureWatcher<BackupService::ExportResult> m_watcher;
    std::unique_ptr<Timer> m_dismissTimer;
};

// "Import Clipboard History": choose a file (read and checked on a worker), see what it holds and
// how much of the selection is new, and import it in one save.
class ImportSheet : public FittedSheet {
    Q_OBJECT
public:
    ImportSheet(ClipboardManager& manager, BackupFileDialogs dialogs, PromptService& prompts, QWidget* parent = nullptr);
    ~ImportSheet() override;

    void chooseBackupFile();
    void importAction();

    bool isFileLoaded() const { return m_preview != nullptr; }
    // Until the result is shown, not merely computed: the watcher's "finished" comes a turn later.
    bool isBusy() const { return m_openingPending || m_importingPending; }
    const backup::BackupPreview* preview() const { return m_preview.get(); }
    backup::SelectionCounts counts() const { return m_counts; }
    BackupFilterBox* filters() const { return m_filters; }
    QLabel* summaryLabel() const { return m_summary; }
    QLabel* errorLabel() const { return m_error; }
    QLabel* resultLabel() const { return m_result; }
    QLabel* newCountLabel() const { return m_newCount; }
    QLabel* duplicateCountLabel() const { return m_duplicateCount; }
    QPushButton* importButton() const { return m_import; }

protected:
    void reject() override;

private:
    void finishOpening(const QString& path);
    void runImport(bool dryRun);
    void finishImport(bool dryRun);
    void updateCounts();
    void updateState();

    ClipboardManager& m_manager;
    BackupFileDialogs m_dialogs;
    PromptService& m_prompts;
    std::shared_ptr<const backup::BackupPreview> m_preview;
    backup::SelectionCounts m_counts;
    QList<ClipboardItem> m_importItems;

    QWidget* m_empty = nullptr;
    QWidget* m_loaded = nullptr;
    QLabel* m_error = nullptr;
    QLabel* m_summary = nullptr;
    QLabel* m_textCount = nullptr;
    QLabel* m_imageCount = nullptr;
    QLabel* m_fileCount = nullptr;
    QLabel* m_dates = nullptr;
    QLabel* m_cleaned = nullptr;
    BackupFilterBox* m_filters = nullptr;
    QLabel* m_newCount = nullptr;
    QLabel* m_duplicateCount = nullptr;
    QLabel* m_result = nullptr;
    QProgressBar* m_progress = nullptr;
    QPushButton* m_chooseAgain = nullptr;
    QPushButton* m_cancel = nullptr;
    QPushButton* m_import = nullptr;
    QFutureWatcher<BackupService::OpenedBackup> m_opening;
    QFutureWatcher<BackupService::ImportResult> m_importing;
    bool m_openingPending = false;
    bool m_importingPending = false;
    std::unique_ptr<Timer> m_dismissTimer;
};

} // namespace lumra
