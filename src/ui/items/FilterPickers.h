#pragma once

#include "engine/filter/FilterOptions.h"
#include "model/ClipboardItem.h"

#include <QAbstractButton>
#include <QIcon>
#include <QWidget>

#include <functional>

class QScrollArea;

namespace lumra {

struct PickerRowSpec {
    QString key;   // what `chosen` reports: a raw value, a bundle id, a category id
    QIcon icon;
    QString label;
    QString symbol; // drawn in the text colour instead of `icon` when set
};

// One choice of a picker: icon and label on the full width, highlighted as its picker says; a click,
// Space or Return chooses it. A label cut for width reads in full from the tooltip.
class PickerRow : public QAbstractButton {
    Q_OBJECT
public:
    PickerRow(const PickerRowSpec& spec, int iconSpacing, QWidget* parent = nullptr);

    const QString& key() const { return m_spec.key; }
    bool isHighlighted() const { return m_highlighted; }
    void setHighlighted(bool highlighted);
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    PickerRowSpec m_spec;
    int m_iconSpacing;
    bool m_highlighted = false;
};

// The list a filter popover shows: a caption title over one row per choice, at least the layout's
// width and wide enough for the longest label (within a limit), and for long lists a scroll area of
// at most 250 px (or a short note when there is nothing to choose). Up and Down move between rows;
// one row at a time is highlighted, under the pointer or else at the keyboard focus.
class FilterPickerView : public QWidget {
    Q_OBJECT
public:
    struct Layout {
        QString title;
        int width = 180;
        bool scrolls = false;
        QString emptyText;
        int iconSpacing = 6;
    };
    FilterPickerView(const Layout& layout, const QList<PickerRowSpec>& rows, QWidget* parent = nullptr);

    const QList<PickerRow*>& rows() const { return m_rows; }
    PickerRow* row(const QString& key) const;
    PickerRow* highlightedRow() const;

signals:
    void chosen(const QString& key);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void setHighlightedRow(PickerRow* row);

    QList<PickerRow*> m_rows;
    QScrollArea* m_scroll = nullptr;
};

// "Filter by date": the seven periods, keyed by raw value.
FilterPickerView* makeDatePicker(QWidget* parent = nullptr);
// "Filter by type": the eight kinds, keyed by raw value.
FilterPickerView* makeTypePicker(QWidget* parent = nullptr);
// "Filter by app": the applications in the given order, keyed by bundle id, each with its icon.
FilterPickerView* makeAppPicker(const QList<SourceApp>& apps, const std::function<QIcon(const QString&)>& iconFor,
                                QWidget* parent = nullptr);
// "Filter by category": every category in the given order, keyed by the id's string.
FilterPickerView* makeCategoryPicker(const QList<ClipboardCategory>& categories, QWidget* parent = nullptr);

} // namespace lumra
