#pragma once

#include "platform/workspace/Workspace.h"

#include <QHash>
#include <QIcon>
#include <QObject>
#include <QString>
#include <QStringList>

#include <chrono>
#include <memory>
#include <optional>

class QFileSystemWatcher;

namespace lumra {

struct DesktopEntry {
    QString id; // file id without ".desktop": "org.gnome.Nautilus", "kde4-kate"
    QString name;
    QString startupWmClass;
    QString icon;
    QString program; // the first word of Exec, unquoted: "firefox", "/opt/app/bin/app"
    bool hidden = false;
    bool noDisplay = false; // installed but not meant for menus and choosers

    friend bool operator==(const DesktopEntry&, const DesktopEntry&) = default;
};

// What X tells about a window.
struct WindowProperties {
    QString wmInstance;
    QString wmClass;
    QString gtkApplicationId;
    QString kdeDesktopFile;
    qint64 pid = 0;
    quint64 window = 0;

    bool isEmpty() const
    {
        return wmInstance.isEmpty() && wmClass.isEmpty() && gtkApplicationId.isEmpty() && kdeDesktopFile.isEmpty()
            && pid == 0;
    }
};

// The [Desktop Entry] group of a .desktop file; nullopt when it is not an application. Name is
// taken for `locale` ("de_CH" tries Name[de_CH], Name[de], Name).
std::optional<DesktopEntry> parseDesktopEntry(const QByteArray& contents, const QString& id,
                                              const QString& locale = QString());

// What one load of the entries reads at most. Real entries are a few kilobytes and a system holds
// some hundreds; an entry over the size is skipped, and reading stops at the count or total.
struct DesktopEntryLimits {
    qint64 entryBytes = 256 * 1024;
    qsizetype files = 4096;
    qint64 totalBytes = 32 * 1024 * 1024;
};

// The installed application entries, indexed by file id.
class DesktopEntryIndex {
public:
    // $XDG_DATA_HOME/applications, then each of $XDG_DATA_DIRS/applications: earlier folders
    // hide entries of the same id in later ones.
    static QStringList applicationFolders();

    using Limits = DesktopEntryLimits;
    void load(const QStringList& folders, const QString& locale = QString(), const Limits& limits = {});
    const DesktopEntry* entry(const QString& id) const;
    qsizetype size() const { return m_entries.size(); }
    // Every entry, in folder precedence order.
    QList<DesktopEntry> entries() const;
    // The id an entry file gets under `folder`: its relative path, "/" read as "-", without ".desktop".
    static QString idForFile(const QString& folder, const QString& path);

    // The order of resolution: Lumra's own process; _GTK_APPLICATION_ID and
    // _KDE_NET_WM_DESKTOP_FILE naming an installed entry; WM_CLASS against StartupWMClass,
    // then against entry ids (whole, then the last dotted part); else the WM_CLASS class.
    std::optional<AppIdentity> identify(const WindowProperties& window, qint64 ownPid) const;

private:
    const DesktopEntry* matchWmClass(const QString& wmClass) const;

    QHash<QString, DesktopEntry> m_entries;
    QStringList m_order; // ids in folder precedence order, so ties resolve the same way every time

public:
    bool operator==(const DesktopEntryIndex& other) const { return m_order == other.m_order && m_entries == other.m_entries; }
};

// A DesktopEntryIndex kept current: loaded on a worker at once and again after any change in the
// application folders. Another program can put anything in those folders, so reading them never
// holds the main thread: only the first answer waits, and no longer than `firstLoadWait`.
class DesktopEntries final : public QObject {
    Q_OBJECT
public:
    explicit DesktopEntries(QObject* parent = nullptr);
    ~DesktopEntries() override;
    // The entries as last loaded.
    const DesktopEntryIndex& index();
    // The icon of the application's entry; null when there is none.
    QIcon icon(const QString& bundleId);

    static constexpr std::chrono::milliseconds firstLoadWait {100};

signals:
    // A load found other entries than the one before.
    void changed();

private:
    struct Load;
    void reload();
    void take();
    void watch(const QStringList& paths);

    QFileSystemWatcher* m_watcher;
    DesktopEntryIndex m_index;
    std::shared_ptr<Load> m_load; // the load under way
    bool m_loadedOnce = false;
    bool m_again = false; // the folders changed while a load ran
};

} // namespace lumra
