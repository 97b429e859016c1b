#pragma once

#include "ui/items/FilterBadgeModel.h"

#include <QIcon>
#include <QWidget>

class QLabel;
class QToolButton;

namespace lumra {

// The fixed colour of a tint; the accent is the palette's highlight.
QColor badgeTintColor(BadgeTint tint, const QPalette& palette);

// A small tinted capsule for one active filter: icon, label, a pin mark when the filter is pinned,
// and the remove button, its only control.
class FilterBadge : public QWidget {
    Q_OBJECT
public:
    // `appIcon` is used by the application badges, which have no symbol.
    FilterBadge(const FilterBadgeSpec& spec, const QIcon& appIcon = {}, QWidget* parent = nullptr);

    const FilterBadgeSpec& spec() const { return m_spec; }
    QToolButton* removeButton() const { return m_remove; }

signals:
    void removeRequested();

protected:
    void paintEvent(QPaintEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void applyColours();

    FilterBadgeSpec m_spec;
    QIcon m_appIcon;
    QLabel* m_icon = nullptr;
    QWidget* m_label = nullptr;
    QLabel* m_pin = nullptr;
    QToolButton* m_remove = nullptr;
};

} // namespace lumra
