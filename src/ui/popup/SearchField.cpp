#include "ui/popup/SearchField.h"

#include "ui/items/PlaceholderHintView.h"

namespace lumra {

namespace {
constexpr int minimumTextWidth = 80;
}

SearchField::SearchField(QWidget* parent)
    : QLineEdit(parent)
{
    setFrame(false);
    setAttribute(Qt::WA_MacShowFocusRect, false);
    setStyleSheet(QStringLiteral("QLineEdit { background: transparent; border: none; }"));
    setAccessibleName(tr("Search clipboard"));
    setMinimumWidth(minimumTextWidth);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    m_placeholder = new PlaceholderHintView(placeholderHints(), this);
    connect(this, &QLineEdit::textChanged, this, [this](const QString& text) { m_placeholder->setVisible(text.isEmpty()); });
}

const QStringList& SearchField::placeholderHints()
{
    static const QStringList hints = {
        QStringLiteral("Search clipboard..."),
        QStringLiteral("Type /date to search by date"),
        QStringLiteral("Type /type to filter by type"),
        QStringLiteral("Type /app to filter by app"),
        QStringLiteral("Type /cat to filter by category"),
        QStringLiteral("Type /star to filter starred"),
        QStringLiteral("Type /link /image /file /folder"),
        QStringLiteral("Type /text /color /terminal /email"),
        QStringLiteral("Type /pasted to show pasted items"),
        QStringLiteral("Type /trash to view recycle bin"),
        QStringLiteral("Type /pin to keep active filters"),
    };
    return hints;
}

void SearchField::setShowHints(bool show)
{
    m_placeholder->setHints(show ? placeholderHints() : QStringList{tr("Search clipboard...")});
}

QSize SearchField::sizeHint() const { return {minimumTextWidth, QLineEdit::sizeHint().height()}; }

void SearchField::resizeEvent(QResizeEvent* event)
{
    QLineEdit::resizeEvent(event);
    placePlaceholder();
}

void SearchField::placePlaceholder()
{
    // Where QLineEdit draws its first character: the contents, the text margins, and its 2 px inset.
    const QMargins margins = textMargins();
    m_placeholder->setGeometry(contentsRect().adjusted(margins.left() + 2, margins.top(), -margins.right() - 2, -margins.bottom()));
}

} // namespace lumra
