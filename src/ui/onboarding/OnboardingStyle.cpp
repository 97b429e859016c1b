#include "ui/onboarding/OnboardingStyle.h"

#include "platform/symbols/Symbols.h"
#include "ui/AppIcon.h"
#include "ui/settings/SettingsWidgets.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QVBoxLayout>

namespace lumra {

namespace OnboardingStyle {

QColor secondary(const QPalette& palette) { return palette.color(QPalette::PlaceholderText); }

QPixmap appIcon(int size)
{
    // For the sharpest screen: a label's pixmap is not drawn again when its window moves.
    return AppIcon::pixmap(size, qApp->devicePixelRatio());
}

QLabel* text(const QString& content, int pixelSize, QFont::Weight weight, bool secondaryColour)
{
    auto* label = new QLabel(content);
    QFont font = label->font();
    font.setPixelSize(pixelSize);
    font.setWeight(weight);
    label->setFont(font);
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(true);
    label->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    if (secondaryColour)
        label->setForegroundRole(QPalette::PlaceholderText);
    return label;
}

QWidget* header(const QString& title, const QString& subtitle, int spaceAbove, int spaceBelow, int spacing)
{
    auto* block = new QWidget;
    block->setObjectName(QStringLiteral("header"));
    auto* layout = new QVBoxLayout(block);
    layout->setContentsMargins(0, spaceAbove, 0, spaceBelow);
    layout->setSpacing(spacing);
    QLabel* heading = text(title, 24, QFont::Bold);
    heading->setObjectName(QStringLiteral("title"));
    layout->addWidget(heading);
    QLabel* explanation = text(subtitle, 13, QFont::Normal, true);
    explanation->setContentsMargins(40, 0, 40, 0);
    layout->addWidget(explanation);
    return block;
}

QPushButton* backButton()
{
    auto* back = new QPushButton(QStringLiteral("Back"));
    back->setFlat(true);
    back->setCursor(Qt::PointingHandCursor);
    back->setForegroundRole(QPalette::PlaceholderText);
    QPalette palette = back->palette();
    palette.setColor(QPalette::ButtonText, palette.color(QPalette::PlaceholderText));
    back->setPalette(palette);
    return back;
}

QWidget* footer(QPushButton* back, QWidget* forward, int spaceAbove)
{
    auto* bar = new QWidget;
    bar->setObjectName(QStringLiteral("footer"));
    auto* layout = new QHBoxLayout(bar);
    layout->setContentsMargins(28, spaceAbove, 28, 0);
    layout->addWidget(back);
    layout->addStretch(1);
    layout->addWidget(forward);
    return bar;
}

QWidget* padded(QWidget* content, int left, int top, int right, int bottom)
{
    auto* holder = new QWidget;
    auto* layout = new QVBoxLayout(holder);
    layout->setContentsMargins(left, top, right, bottom);
    layout->addWidget(content);
    return holder;
}

QPixmap symbol(const QString& name, int size, const QColor& colour)
{
    return SettingsStyle::tinted(Symbols::icon(name), colour, colour, size).pixmap(size, size);
}

} // namespace OnboardingStyle

PrimaryButton::PrimaryButton(const QString& title, int minimumWidth, bool prominent, QWidget* parent)
    : QPushButton(title, parent)
    , m_minimumWidth(minimumWidth)
    , m_prominent(prominent)
{
    QFont f = font();
    f.setPixelSize(15);
    f.setWeight(prominent ? QFont::DemiBold : QFont::Medium);
    setFont(f);
    setCursor(Qt::PointingHandCursor);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

QSize PrimaryButton::sizeHint() const
{
    const QFontMetrics metrics(font());
    return {std::max(m_minimumWidth, metrics.horizontalAdvance(text())) + 32, metrics.height() + 16};
}

void PrimaryButton::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QColor fill = m_prominent ? palette().color(QPalette::Highlight)
                              : SettingsStyle::withAlpha(OnboardingStyle::secondary(palette()), 0.22);
    if (isDown())
        fill = fill.darker(115);
    if (!isEnabled())
        fill = SettingsStyle::withAlpha(fill, fill.alphaF() * 0.45);
    const QRectF shape = QRectF(rect()).adjusted(1, 1, -1, -1);
    const QColor ring = palette().color(QPalette::Highlight).lighter(140);
    painter.setPen(hasFocus() ? QPen(ring, 2) : Qt::NoPen);
    painter.setBrush(fill);
    painter.drawRoundedRect(shape, 8, 8);
    painter.setPen(m_prominent ? QColor(Qt::white) : palette().color(QPalette::WindowText));
    painter.drawText(rect(), Qt::AlignCenter, text());
}

} // namespace lumra
