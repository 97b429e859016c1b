#pragma once

#include <QDeadlineTimer>
#include <QHash>
#include <QIcon>
#include <QObject>
#include <QSet>
#include <QString>
#include <QStringList>

#include <chrono>
#include <optional>

namespace lumra {

// Where the icon theme looks, as QIcon was told (read on the main thread).
struct IconThemeSearch {
    QString themeName;
    QString fallbackThemeName;
    QStringList themePaths;
    QStringList fallbackPaths;

    static IconThemeSearch current();
};

// What an index.theme tells about a theme: its picture folders (each once) and the themes it
// inherits. At most `maxFolders` folders; more is no theme, and gives nothing.
struct ThemeIndex {
    QStringList folders;
    QStringList parents;

    static constexpr qsizetype maxBytes = 1024 * 1024;
    static constexpr qsizetype maxFolders = 4096;
};
std::optional<ThemeIndex> parseThemeIndex(const QByteArray& bytes);

// Whether every file the icon theme may open for `name` is a regular file or absent: each theme's
// index.theme and icon-theme.cache, and the name's pictures (also with its last dash-parts cut off)
// in every folder of the theme, the themes it inherits and the fallback folders. Qt opens them
// with a blocking open() on the painting thread, so a FIFO planted there would hold it. Nothing is
// opened but index.theme, and that only when regular; each is read once while it is unchanged.
// False for a name with a slash or longer than a file name can be. Runs on any thread.
bool themeIconFilesAreRegular(const QString& name, const IconThemeSearch& search);

// `search` without the theme folders and fallback folders that hold a file Qt could open for any
// icon name and that is not a regular file: a theme's index.theme or icon-theme.cache, or a picture
// in one of its folders. What is left is safe for every icon name, Lumra's own and Qt's, as it
// stood when checked. Runs on any thread.
IconThemeSearch withoutBlockingFolders(const IconThemeSearch& search);

// The picture the theme has for `name` (or its shorter forms), at its largest, from the first theme
// of the chain that has it; none when there is none or themeIconFilesAreRegular says no. Runs on any thread.
std::optional<QByteArray> themeIconFile(const QString& name, const IconThemeSearch& search);

// Icons other programs name by path (a desktop entry's Icon=), read and decoded off the main
// thread and kept for the session. Only a regular file is read, so a FIFO or a device named as
// an icon holds up neither a painted row nor the reader. Icons they name through the icon theme
// are checked the same way before the theme is asked for them. Main thread only.
class IconFiles final : public QObject {
    Q_OBJECT
public:
    static IconFiles& instance();

    // Hides the icon theme from Qt, checks `search` with withoutBlockingFolders on a worker and
    // hands Qt what is safe once done, waiting up to `wait` for that here. Until then every theme
    // icon is missing (callers draw their own) and themeIcon answers nothing. Main thread; run at
    // start before anything asks the theme.
    void checkTheme(const IconThemeSearch& search, std::chrono::milliseconds wait);
    bool themeHidden() const { return m_themeHidden; }

    // The icon at `path`: nothing while it is being read (the first ask starts the read, and
    // `loaded` follows), a null icon when it is not a readable picture in a regular file.
    std::optional<QIcon> icon(const QString& path);

    // The theme's icon named `name`: nothing while its files are checked (the first ask starts the
    // check, and `loaded(name)` follows), then the theme's picture for it, or a null icon when the theme
    // has none or one of its files is not a regular file. A miss is checked again when asked later.
    std::optional<QIcon> themeIcon(const QString& name);
    // The first of `names` the theme has, checked the same way: nothing while one of them before it
    // is still being checked, a null icon when the theme has none.
    std::optional<QIcon> firstThemeIcon(const QStringList& names);

    // Icons are small; a bigger file is taken for something else.
    static constexpr qint64 maxBytes = 4 * 1024 * 1024;
    static constexpr int maxPixelSize = 256;

    static constexpr std::chrono::seconds missKeptFor {30};

signals:
    // A path's or a theme name's icon is ready.
    void loaded(const QString& pathOrName);
    // The icon theme was checked and handed to Qt.
    void themeReady();

private:
    struct Themed {
        QIcon icon;
        QDeadlineTimer recheck;
    };
    IconFiles() = default;
    void finish(const QString& path, const std::optional<QImage>& image);
    void finishThemed(const QString& name, const QImage& image);
    // A picture file decoded by the decoder program, at most maxPixelSize a side; none when no
    // program came free while it could still be shown. Any thread.
    static std::optional<QImage> decodedIcon(const QString& path);
    void useTheme(quint64 run, const IconThemeSearch& checked);

    QHash<QString, QIcon> m_icons;
    QSet<QString> m_reading;
    QHash<QString, Themed> m_themed;
    QSet<QString> m_checking;
    QSet<QString> m_waitingForTheme;
    bool m_themeHidden = false;
    quint64 m_themeRun = 0;
};

} // namespace lumra
