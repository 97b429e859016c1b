#pragma once

#include "model/ClipboardItem.h"
#include "platform/core/Result.h"
#include "platform/workspace/DesktopEntries.h"

#include <QDialog>

#include <functional>
#include <optional>

class QLabel;
class QLineEdit;
class QListView;
class QPushButton;
class QSortFilterProxyModel;
class QStandardItemModel;

namespace lumra {

// The installed applications a person can pick: NoDisplay entries left out, entries without a
// name shown by their id, sorted by name without regard to case.
QList<DesktopEntry> choosableApplications(const QList<DesktopEntry>& entries);

// The application a chosen file stands for, as capture records it: a .desktop file by its id
// (relative to the application folder it lies in, else its file name); a program by the
// installed entry that runs it, else by its file name. A file that is neither is refused.
Result<IgnoredApp> applicationForPath(const QString& path, const DesktopEntryIndex& index,
                                      const QStringList& applicationFolders);

// The entry's Icon as a theme name or a file; the generic application icon otherwise.
QIcon desktopEntryIcon(const QString& icon);

// "Choose Application": the installed applications with their icons, a search field, and
// "Other…" to pick a .desktop file or a program by path.
class ApplicationChooser : public QDialog {
    Q_OBJECT
public:
    // `entries` as choosableApplications() gives them; `index` and `folders` resolve a file picked by path.
    ApplicationChooser(const QList<DesktopEntry>& entries, QWidget* parent = nullptr);

    // Runs the chooser over the installed applications; nothing when cancelled.
    static std::optional<IgnoredApp> choose(QWidget* parent);

    // A file dialog by default; tests answer it.
    void setChooseFile(std::function<QString()> chooseFile) { m_chooseFile = std::move(chooseFile); }
    void setIndex(const DesktopEntryIndex* index, QStringList folders);

    QLineEdit* searchField() const { return m_search; }
    QListView* list() const { return m_list; }
    QPushButton* otherButton() const { return m_other; }
    QPushButton* addButton() const { return m_add; }
    // What was picked; set when the dialog was accepted.
    std::optional<IgnoredApp> chosen() const { return m_chosen; }
    // The rows shown now (after the search), by name.
    QStringList visibleNames() const;

private:
    void chooseSelected();
    void chooseFile();
    void updateAddButton();

    QStandardItemModel* m_model;
    QSortFilterProxyModel* m_filter;
    QLineEdit* m_search;
    QListView* m_list;
    QPushButton* m_other;
    QPushButton* m_add;
    QLabel* m_error;
    std::function<QString()> m_chooseFile;
    const DesktopEntryIndex* m_index = nullptr;
    QStringList m_folders;
    std::optional<IgnoredApp> m_chosen;
};

} // namespace lumra
