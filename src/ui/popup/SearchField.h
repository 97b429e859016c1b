#pragma once

#include <QLineEdit>

namespace lumra {

class PlaceholderHintView;

// The search bar's text field: frameless, one line, with the rotating hints (or the fixed
// "Search clipboard...") under the text while it is empty.
class SearchField : public QLineEdit {
    Q_OBJECT
public:
    explicit SearchField(QWidget* parent = nullptr);

    // The eleven hints, the first being the fixed placeholder.
    static const QStringList& placeholderHints();

    void setShowHints(bool show);
    PlaceholderHintView* placeholder() const { return m_placeholder; }
    // Small: the field takes what the badges leave, and badges are cut only below this.
    QSize sizeHint() const override;

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void placePlaceholder();

    PlaceholderHintView* m_placeholder = nullptr;
};

} // namespace lumra
