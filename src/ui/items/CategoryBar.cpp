#include "ui/items/CategoryBar.h"

#include "engine/ClipboardManager.h"
#include "ui/items/CategoryPill.h"
#include "ui/items/HorizontalWheelScrollArea.h"

#include <QHBoxLayout>

namespace lumra {

CategoryBar::CategoryBar(ClipboardManager& manager, QWidget* parent)
    : QWidget(parent)
    , m_manager(&manager)
{
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    m_scroll = new HorizontalWheelScrollArea(this);
    m_content = new QWidget;
    m_content->setAutoFillBackground(false);
    m_row = new QHBoxLayout(m_content);
    m_row->setContentsMargins(0, 0, 0, 0);
    m_row->setSpacing(1);
    m_row->setSizeConstraint(QLayout::SetFixedSize);
    m_scroll->setWidget(m_content);
    layout->addWidget(m_scroll);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

void CategoryBar::setCategories(const QList<ClipboardCategory>& categories, const std::optional<QUuid>& selectedId,
                                double fontSize)
{
    if (!m_manager)
        return;
    if (categories != m_shown || fontSize != m_fontSize) {
        // A chip may be the sender of the change that brings us here: old chips go later.
        for (CategoryPill* pill : m_pills) {
            m_row->removeWidget(pill);
            pill->hide();
            pill->deleteLater();
        }
        m_pills.clear();
        for (const ClipboardCategory& category : categories) {
            auto* pill = new CategoryPill(*m_manager, category, false, m_content);
            pill->setFontSize(fontSize);
            m_row->addWidget(pill);
            // Shown now, not by the layout later: the strip's height is measured from them below.
            pill->show();
            m_pills << pill;
        }
        m_shown = categories;
        m_fontSize = fontSize;
        m_content->adjustSize();
        m_scroll->setFixedHeight(m_content->sizeHint().height());
        updateGeometry();
    }
    for (CategoryPill* pill : m_pills)
        pill->setSelectedCategory(selectedId == pill->category().id);
}

} // namespace lumra
