#pragma once

#include "model/ClipboardItem.h"

#include <QList>
#include <QPointer>
#include <QWidget>

#include <optional>

class QHBoxLayout;

namespace lumra {

class CategoryPill;
class ClipboardManager;
class HorizontalWheelScrollArea;

// The footer's strip of category chips, scrolled sideways by the wheel. New content keeps the
// scroll position.
class CategoryBar : public QWidget {
    Q_OBJECT
public:
    explicit CategoryBar(ClipboardManager& manager, QWidget* parent = nullptr);

    // Shows one chip per category, the one of `selectedId` lit.
    void setCategories(const QList<ClipboardCategory>& categories, const std::optional<QUuid>& selectedId, double fontSize);
    QList<CategoryPill*> pills() const { return m_pills; }
    HorizontalWheelScrollArea* scrollArea() const { return m_scroll; }

private:
    QPointer<ClipboardManager> m_manager;
    HorizontalWheelScrollArea* m_scroll = nullptr;
    QWidget* m_content = nullptr;
    QHBoxLayout* m_row = nullptr;
    QList<CategoryPill*> m_pills;
    QList<ClipboardCategory> m_shown;
    double m_fontSize = 0;
};

} // namespace lumra
