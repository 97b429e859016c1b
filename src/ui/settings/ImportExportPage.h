#pragma once

#include "ui/settings/ImportExportSheets.h"
#include "ui/settings/SettingsContext.h"

#include <QPointer>
#include <QScrollArea>

class QLabel;
class QPushButton;

namespace lumra {

// The Import/Export page: the history backup (through its two sheets) and the settings file
// (straight from the page, with a confirmation before an import).
class ImportExportPage : public QScrollArea {
    Q_OBJECT
public:
    explicit ImportExportPage(SettingsContext context, QWidget* parent = nullptr);
    ~ImportExportPage() override;

    void setFileDialogs(BackupFileDialogs dialogs) { m_dialogs = std::move(dialogs); }

    void showExportSheet();
    void showImportSheet();
    void exportSettingsToFile();
    void importSettingsFromFile();

    ExportSheet* exportSheet() const { return m_exportSheet; }
    ImportSheet* importSheet() const { return m_importSheet; }
    QLabel* resultLabel() const { return m_result; }
    QPushButton* button(const QString& section, const QString& title) const;

private:
    QWidget* section(const QString& title, const QString& description, std::function<void()> exportAction,
                     std::function<void()> importAction);
    void showResult(const QString& text, bool failed);

    SettingsContext m_context;
    BackupFileDialogs m_dialogs;
    QLabel* m_result = nullptr;
    QPointer<ExportSheet> m_exportSheet;
    QPointer<ImportSheet> m_importSheet;
    std::vector<std::unique_ptr<Timer>> m_clearTimers;
};

} // namespace lumra
