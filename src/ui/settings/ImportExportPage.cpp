#include "ui/settings/ImportExportPage.h"

#include "ui/shell/HotKeyManager.h"
#include "ui/shell/Prompt.h"
#include "engine/BackupService.h"
#include "engine/ClipboardManager.h"
#include "engine/SettingsFile.h"
#include "platform/files/FileChecks.h"
#include "platform/files/ReplacingFile.h"
#include "ui/settings/SettingsWidgets.h"

#include <QFile>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace lumra {

using namespace std::chrono_literals;

namespace {

Status writeFileAtomically(const QString& path, const QByteArray& bytes)
{
    ReplacingFile file(path);
    if (!file.open() || file.write(bytes) != bytes.size() || !file.commit())
        return Status::failure(file.errorString());
    return {};
}

} // namespace

ImportExportPage::ImportExportPage(SettingsContext context, QWidget* parent)
    : QScrollArea(parent), m_context(std::move(context)), m_dialogs(BackupFileDialogs::system())
{
    SettingsStyle::setUpPage(this);
    auto* content = new QWidget;
    content->setFont(SettingsStyle::font(14, false, content->font()));
    auto* layout = new QVBoxLayout(content);
    layout->setContentsMargins(16, 16, 16, 16);
    layout->setSpacing(12);
    layout->addWidget(section(QStringLiteral("Clipboard Items"),
                              QStringLiteral("Export your clipboard history to a file for backup, or import a previously "
                                             "exported file to restore it."),
                              [this] { showExportSheet(); }, [this] { showImportSheet(); }));
    layout->addWidget(SettingsStyle::divider());
    layout->addWidget(section(QStringLiteral("Application Settings"),
                              QStringLiteral("Export your app settings (preferences, appearance, shortcuts) to a file, or "
                                             "import settings from a previously exported file. This does not include "
                                             "clipboard history."),
                              [this] { exportSettingsToFile(); }, [this] { importSettingsFromFile(); }));
    m_result = SettingsStyle::label({}, 11);
    m_result->setWordWrap(true);
    m_result->hide();
    layout->addWidget(m_result);
    layout->addStretch(1);
    setWidget(content);
}

ImportExportPage::~ImportExportPage() = default;

QWidget* ImportExportPage::section(const QString& title, const QString& description, std::function<void()> exportAction,
                                   std::function<void()> importAction)
{
    auto* row = new QWidget;
    row->setObjectName(title);
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setAlignment(Qt::AlignTop);
    auto* text = new QVBoxLayout;
    text->setSpacing(2);
    text->addWidget(SettingsStyle::label(title, 15, true));
    auto* detail = SettingsStyle::label(description, 12, false, true);
    detail->setWordWrap(true);
    text->addWidget(detail);
    layout->addLayout(text, 1);
    layout->addSpacing(12);
    for (auto& [label, action] : {std::pair {QStringLiteral("Export"), exportAction}, std::pair {QStringLiteral("Import"), importAction}}) {
        auto* button = new QPushButton(label);
        button->setObjectName(label);
        connect(button, &QPushButton::clicked, this, action);
        layout->addWidget(button, 0, Qt::AlignTop);
    }
    return row;
}

QPushButton* ImportExportPage::button(const QString& section, const QString& title) const
{
    const QWidget* row = widget()->findChild<QWidget*>(section);
    return row ? row->findChild<QPushButton*>(title) : nullptr;
}

void ImportExportPage::showExportSheet()
{
    // Every opening starts from the sheet's own start values.
    delete m_exportSheet;
    m_exportSheet = new ExportSheet(m_context.manager, m_dialogs, this);
    m_exportSheet->setAttribute(Qt::WA_DeleteOnClose);
    m_exportSheet->setWindowModality(Qt::WindowModal);
    m_exportSheet->open();
}

void ImportExportPage::showImportSheet()
{
    delete m_importSheet;
    m_importSheet = new ImportSheet(m_context.manager, m_dialogs, m_context.prompts, this);
    m_importSheet->setAttribute(Qt::WA_DeleteOnClose);
    m_importSheet->setWindowModality(Qt::WindowModal);
    m_importSheet->open();
}

void ImportExportPage::showResult(const QString& text, bool failed)
{
    m_result->setText(text);
    QPalette p = m_result->palette();
    p.setColor(QPalette::WindowText, failed ? SettingsStyle::errorColor() : successColor(palette()));
    m_result->setPalette(p);
    m_result->setVisible(!text.isEmpty());
}

void ImportExportPage::exportSettingsToFile()
{
    const std::optional<QByteArray> bytes = m_context.manager.backup().exportSettings();
    if (!bytes)
        return;
    const QString path = m_dialogs.save(window(), QStringLiteral("LumraSettings.json"));
    if (path.isEmpty())
        return;
    if (Status written = writeFileAtomically(path, *bytes); !written)
        showResult(QStringLiteral("\"%1\" could not be written: %2").arg(QFileInfo(path).fileName(), written.error()), true);
}

void ImportExportPage::importSettingsFromFile()
{
    const QString path = m_dialogs.open(window(), QStringLiteral("Select a Lumra settings file"));
    if (path.isEmpty())
        return;
    const QString name = QFileInfo(path).fileName();
    // Read and checked before the question, so that only a settings file is ever offered for import.
    const std::optional<QByteArray> bytes = readRegularFile(path, settingsfile::maxFileBytes);
    if (!bytes) {
        showResult(QFileInfo(path).size() > settingsfile::maxFileBytes
                       ? QStringLiteral("\"%1\" is larger than a settings file can be (%2 KB). Nothing was changed.")
                             .arg(name).arg(settingsfile::maxFileBytes / 1024)
                       : QStringLiteral("\"%1\" could not be read as a settings file.").arg(name),
                   true);
        return;
    }
    const settingsfile::Parsed checked = settingsfile::parse(*bytes);
    if (!checked.error.isEmpty()) {
        showResult(QStringLiteral("\"%1\": %2 Nothing was changed.").arg(name, checked.error), true);
        return;
    }
    const int answer = m_context.prompts.alert(
        QStringLiteral("Import settings?"),
        ImportExportTexts::settingsImportQuestion(name, int(checked.accepted.size()), checked.refused),
        {QStringLiteral("Import"), QStringLiteral("Cancel")}, PromptService::Style::warning);
    if (answer != 0)
        return;
    const BackupService::SettingsImport result = m_context.manager.backup().importSettings(*bytes);
    if (!result.ok()) {
        showResult(QStringLiteral("\"%1\": %2 Nothing was changed.").arg(name, result.error), true);
        return;
    }
    // The open-popup shortcut follows at once.
    UserDefaults& defaults = m_context.manager.userDefaults();
    const qint64 keyCode = defaults.integer(QStringLiteral("hotKeyKeyCode"));
    const qint64 modifiers = defaults.integer(QStringLiteral("hotKeyModifiers"));
    if (keyCode >= 0 && keyCode <= 0xFFFF)
        (void)m_context.hotKeys.updateMainHotKey(quint16(keyCode), quint64(modifiers));
    (void)m_context.hotKeys.setHotKeyEnabled(defaults.boolean(QStringLiteral("hotKeyEnabled")));

    QString text = QStringLiteral("Settings imported successfully.");
    if (result.refused > 0)
        text += QStringLiteral(" %1 values were not valid and kept their current setting.").arg(result.refused);
    showResult(text, false);
    m_clearTimers.push_back(m_context.manager.clock().start(3s, false, [this] { showResult({}, false); }));
}

} // namespace lumra
