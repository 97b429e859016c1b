#include "ui/items/ShowInFileManager.h"

#include "ui/shell/PopupPanel.h"
#include "ui/shell/Prompt.h"
#include "platform/workspace/FileManager.h"

#include <QDir>
#include <QFileInfo>
#include <QPointer>

namespace lumra {

QString noFileManagerText(const QString& folder)
{
    return QStringLiteral("No file manager is installed to show it. The file is in the folder \u201C%1\u201D.")
        .arg(QDir::toNativeSeparators(folder));
}

void showInFileManager(const QList<QUrl>& files)
{
    if (files.isEmpty())
        return;
    const QString folder = QFileInfo(files.first().toLocalFile()).absolutePath();
    FileManager::shared().showItems(files, [folder] {
        QPointer<PopupPanel> popup = PopupPanel::findOpen();
        PopupPanel::Hold hold = popup ? popup->hold() : PopupPanel::Hold();
        PromptService::shared().alert(QStringLiteral("Can't show in file manager"), noFileManagerText(folder),
                                      {QStringLiteral("OK")}, PromptService::Style::warning);
    });
}

} // namespace lumra
