#pragma once

#include <QList>
#include <QString>
#include <QUrl>

namespace lumra {

// Asks the desktop's file manager to show the files; when no program can, an alert says so and
// names the folder, holding an open popup meanwhile.
void showInFileManager(const QList<QUrl>& files);

// The alert's words for a file in `folder`.
QString noFileManagerText(const QString& folder);

} // namespace lumra
