#pragma once

#include "model/ClipboardItem.h"

#include <QFrame>
#include <QStyledItemDelegate>

#include <functional>
#include <optional>

class QListWidget;
class QToolButton;

namespace lumra {

class ClipboardManager;
class PromptService;

// Rows of application lists: every icon takes the view's whole icon size, so that an application
// whose theme has only a smaller icon lines its name up with the others.
class FullIconDelegate : public QStyledItemDelegate {
    Q_OBJECT
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    // What a row is drawn from (for tests).
    QStyleOptionViewItem rowOption(const QStyleOptionViewItem& base, const QModelIndex& index) const;

protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override;
};

// The box of ignored applications, each with its icon and name, and + / − under them. + opens
// the application chooser and adds what was picked; − removes the selected application after a
// confirmation. It follows the manager's list wherever that changes. The Privacy page and the
// onboarding show it, each with its own icon size and height.
class IgnoredAppsBox : public QFrame {
    Q_OBJECT
public:
    // Asks for an application; nothing when cancelled.
    using Chooser = std::function<std::optional<IgnoredApp>(QWidget* parent)>;

    // `listHeight` 0 lets the list take the height it is given.
    IgnoredAppsBox(ClipboardManager& manager, PromptService& prompts, int iconSize = 32, int listHeight = 0,
                   QWidget* parent = nullptr);

    // ApplicationChooser::choose unless set.
    void setChooser(Chooser chooser) { m_chooser = std::move(chooser); }

    QListWidget* list() const { return m_list; }
    QToolButton* addButton() const { return m_add; }
    QToolButton* removeButton() const { return m_remove; }
    // The id of the selected row; nothing when no row is selected.
    std::optional<QString> selectedAppId() const;

    void addApplication();
    void removeSelectedApplication();

protected:
    void paintEvent(QPaintEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void refresh();
    void updateButtons();

    ClipboardManager& m_manager;
    PromptService& m_prompts;
    int m_iconSize;
    Chooser m_chooser;
    QListWidget* m_list;
    QToolButton* m_add;
    QToolButton* m_remove;
};

} // namespace lumra
