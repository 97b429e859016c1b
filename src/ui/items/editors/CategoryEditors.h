#pragma once

#include "model/ClipboardItem.h"
#include "ui/items/editors/EditorWindow.h"

#include <QSet>
#include <QUuid>
#include <QWidget>

class QAbstractButton;
class QButtonGroup;
class QCheckBox;
class QLineEdit;
class QPushButton;

namespace lumra {

// The category symbols, six to a row; exactly one is chosen.
class CategoryIconGrid : public QWidget {
    Q_OBJECT
public:
    explicit CategoryIconGrid(QWidget* parent = nullptr);

    QString selectedIcon() const { return m_selected; }
    void setSelectedIcon(const QString& symbol);
    QAbstractButton* cell(const QString& symbol) const;

protected:
    void changeEvent(QEvent* event) override;

private:
    void refresh();

    QButtonGroup* m_cells = nullptr;
    QString m_selected;
};

// The name, symbol and footer flag shared by "New Category" and "Edit Category".
class CategoryFormWindow : public EditorWindow {
    Q_OBJECT
public:
    QLineEdit* nameField() const { return m_name; }
    CategoryIconGrid* iconGrid() const { return m_icons; }
    QCheckBox* hiddenFromFooter() const { return m_hidden; }
    QPushButton* saveButton() const { return m_save; }
    QPushButton* leadingButton() const { return m_leading; }

protected:
    CategoryFormWindow(const EditorHost& host, const QString& title, const QString& saveTitle,
                       const ClipboardCategory& initial, QPushButton* leading = nullptr);
    ClipboardCategory formCategory(const QUuid& id) const;

private:
    QLineEdit* m_name = nullptr;
    CategoryIconGrid* m_icons = nullptr;
    QCheckBox* m_hidden = nullptr;
    QPushButton* m_save = nullptr;
    QPushButton* m_leading = nullptr;
};

// "New Category": creates it and puts the chosen items into it.
class CategoryCreatorWindow final : public CategoryFormWindow {
    Q_OBJECT
public:
    CategoryCreatorWindow(const EditorHost& host, const QList<QUuid>& assignToItemIds);

protected:
    Status save() override;

private:
    QList<QUuid> m_itemIds;
    std::optional<QUuid> m_created; // kept so that a retry after a failed assignment adds no second category
};

// "Edit Category": renames, changes the symbol and footer flag, or deletes it (with or without its items).
class CategoryEditorWindow final : public CategoryFormWindow {
    Q_OBJECT
public:
    CategoryEditorWindow(const EditorHost& host, const ClipboardCategory& category);

    QPushButton* deleteButton() const { return m_delete; }
    // Asks first; a confirmed delete closes the window, a failed one stays shown.
    void confirmDelete();

protected:
    Status save() override;

private:
    ClipboardCategory m_category;
    QPushButton* m_delete = nullptr;
};

} // namespace lumra
