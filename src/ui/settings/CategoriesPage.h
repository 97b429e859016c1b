#pragma once

#include "model/ClipboardItem.h"

#include <QAbstractListModel>
#include <QStyledItemDelegate>
#include <QWidget>

class QLabel;
class QListView;
class QStackedWidget;

namespace lumra {

class ClipboardManager;

// Where the parts of a category row lie in its rectangle.
struct CategoryRowGeometry {
    QRect icon;
    QRect name;
    QRect hiddenCaption;
    QRect eye;
    QRect handle;
};
CategoryRowGeometry categoryRowGeometry(const QRect& row, int hiddenCaptionWidth);

// The eye button's help for a category hidden from the footer or shown in it.
QString categoryEyeHelp(bool hidden);

// The user's categories in footer order. Dragging rows carries their ids; a drop reorders all
// categories through the manager in one save.
class CategoryListModel : public QAbstractListModel {
    Q_OBJECT
public:
    enum Role { idRole = Qt::UserRole + 1, hiddenRole, iconNameRole };
    static constexpr char mimeType[] = "application/x-lumra-category-ids";

    explicit CategoryListModel(ClipboardManager& manager, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    Qt::DropActions supportedDropActions() const override { return Qt::MoveAction; }
    QStringList mimeTypes() const override;
    QMimeData* mimeData(const QModelIndexList& indexes) const override;
    bool dropMimeData(const QMimeData* data, Qt::DropAction action, int row, int column, const QModelIndex& parent) override;

    // Moves the rows of `ids` before the row at `destination` (the count: to the end).
    bool moveCategories(const QList<QUuid>& ids, int destination);

private:
    ClipboardManager& m_manager;
    QList<ClipboardCategory> m_categories;
};

// Paints a category row and turns a click on its eye into toggleHidden.
class CategoryRowDelegate : public QStyledItemDelegate {
    Q_OBJECT
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    bool editorEvent(QEvent* event, QAbstractItemModel* model, const QStyleOptionViewItem& option,
                     const QModelIndex& index) override;
    bool helpEvent(QHelpEvent* event, QAbstractItemView* view, const QStyleOptionViewItem& option,
                   const QModelIndex& index) override;

signals:
    void toggleHidden(const QUuid& categoryId, bool hidden);
};

// The Categories page: the footer's categories, reordered by dragging and hidden or shown with
// their eye. Categories are made and renamed in the popup's footer, not here.
class CategoriesPage : public QWidget {
    Q_OBJECT
public:
    explicit CategoriesPage(ClipboardManager& manager, QWidget* parent = nullptr);

    QListView* list() const { return m_list; }
    CategoryListModel* model() const { return m_model; }
    bool isShowingEmptyState() const;
    bool isShowingSyncNote() const;
    // The eye's action for the row at `row`.
    void toggleHidden(int row);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    QWidget* emptyState();
    void refresh();
    void updateSymbols();

    ClipboardManager& m_manager;
    CategoryListModel* m_model;
    QListView* m_list;
    QStackedWidget* m_stack;
    QWidget* m_syncNote;
    QLabel* m_emptySymbol = nullptr;
    QLabel* m_syncSymbol = nullptr;
};

} // namespace lumra
