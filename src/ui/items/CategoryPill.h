#pragma once

#include "model/ClipboardItem.h"

#include <QAbstractButton>
#include <QPointer>

#include <functional>

namespace lumra {

class ClipboardManager;
class PopupPanel;

// One category chip of the footer: its symbol and name, a toggle of the category filter, and a
// context menu to delete the category (optionally with its items) or reorder categories.
class CategoryPill : public QAbstractButton {
    Q_OBJECT
public:
    CategoryPill(ClipboardManager& manager, const ClipboardCategory& category, bool selected, QWidget* parent = nullptr);

    const ClipboardCategory& category() const { return m_category; }
    bool isSelectedCategory() const { return m_selected; }
    void setSelectedCategory(bool selected);
    void setFontSize(double points);

    // "Edit Category..." is offered while a handler is set.
    static void setEditHandler(std::function<void(const ClipboardCategory&)> handler);

    // The delete confirmation, with the popup held open.
    void confirmDelete(PopupPanel* popup);

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    void toggleFilter();

    QPointer<ClipboardManager> m_manager;
    ClipboardCategory m_category;
    bool m_selected = false;
    double m_fontSize = 11;
};

} // namespace lumra
