#pragma once

#include <QHash>
#include <QIcon>
#include <QObject>
#include <QSet>
#include <QString>

#include <optional>

namespace lumra {

// Icons other programs name by path (a desktop entry's Icon=), read and decoded off the main
// thread and kept for the session. Only a regular file is read, so a FIFO or a device named as
// an icon holds up neither a painted row nor the reader. Main thread only.
class IconFiles final : public QObject {
    Q_OBJECT
public:
    static IconFiles& instance();

    // The icon at `path`: nothing while it is being read (the first ask starts the read, and
    // `loaded` follows), a null icon when it is not a readable picture in a regular file.
    std::optional<QIcon> icon(const QString& path);

    // Icons are small; a bigger file is taken for something else.
    static constexpr qint64 maxBytes = 4 * 1024 * 1024;
    static constexpr int maxPixelSize = 256;

signals:
    void loaded(const QString& path);

private:
    IconFiles() = default;
    void finish(const QString& path, const QImage& image);

    QHash<QString, QIcon> m_icons;
    QSet<QString> m_reading;
};

} // namespace lumra
