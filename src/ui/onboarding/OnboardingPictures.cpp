#include "ui/onboarding/OnboardingPictures.h"

#include "ui/onboarding/OnboardingStyle.h"
#include "ui/settings/SettingsWidgets.h"

#include <QEvent>
#include <QFile>
#include <QPainter>
#include <QPainterPath>

// The pictures live in a static library: its resources are registered by hand.
static void registerOnboardingResources() { Q_INIT_RESOURCE(onboarding); }

namespace lumra {

namespace OnboardingPictures {

QString overviewName(int tipIndex) { return QStringLiteral("LumraOverview%1").arg(tipIndex + 1); }

QString stylePreviewName(AppearanceStyle style)
{
    return style == AppearanceStyle::minimal ? QStringLiteral("StylePreviewMinimal") : QStringLiteral("StylePreviewDefault");
}

TipText tipText(int index, const QString& openShortcut)
{
    switch (index) {
    case 0:
        return {QStringLiteral("Open it from anywhere"),
                openShortcut.isEmpty()
                    ? QStringLiteral("Open Lumra from its tray icon, then type to search everything you copied.")
                    : QStringLiteral("Press %1 in any application, then type to search everything you copied.").arg(openShortcut)};
    case 1:
        return {QStringLiteral("Slash commands"),
                QStringLiteral("Type /star, /link, /date, /app and more in the search field to filter as you type.")};
    case 2:
        return {QStringLiteral("Filters and badges"),
                QStringLiteral("Filters you choose show as badges under the search field; click one to change or clear it.")};
    case 3:
        return {QStringLiteral("Stars and pins"), QStringLiteral("Star what you want to keep for good, and pin items to the top of the list.")};
    case 4:
        return {QStringLiteral("Categories"), QStringLiteral("Sort items into categories and switch between them from the popup's footer.")};
    case 5:
        return {QStringLiteral("Tags and comments"), QStringLiteral("Give any item tags and a comment; search finds them too.")};
    case 6:
        return {QStringLiteral("Preview with Space"),
                QStringLiteral("Select an item and press Space to see all of it: text, images, files and PDFs.")};
    case 7:
        return {QStringLiteral("Quick paste and item shortcuts"),
                QStringLiteral("Paste the first nine items with Ctrl and a digit, or give an item its own global shortcut.")};
    case 8:
        return {QStringLiteral("Drag items out"),
                QStringLiteral("Drag one item or a whole selection straight into another application or the file manager.")};
    case 9:
        return {QStringLiteral("Sync and privacy"),
                QStringLiteral("Sync your history through a folder between your computers, and keep password managers out of it.")};
    default: return {};
    }
}

void paintTipText(QPainter& painter, const QRectF& target, const TipText& text, const QPalette& palette)
{
    // Laid out on the picture's own canvas and scaled with it, so the words sit where the picture
    // leaves room for them at any size.
    painter.save();
    painter.translate(target.topLeft());
    painter.scale(target.width() / tipCanvas.width(), target.height() / tipCanvas.height());
    const bool dark = isDark(palette);
    QFont title = painter.font();
    title.setPixelSize(30);
    title.setWeight(QFont::Bold);
    painter.setFont(title);
    painter.setPen(palette.color(QPalette::WindowText));
    painter.drawText(QRectF(40, 30, tipCanvas.width() - 80, 40), Qt::AlignCenter, text.title);
    QFont caption = painter.font();
    caption.setPixelSize(17);
    caption.setWeight(QFont::Normal);
    painter.setFont(caption);
    painter.setPen(palette.color(QPalette::PlaceholderText).lighter(dark ? 125 : 80));
    painter.drawText(QRectF(80, 76, tipCanvas.width() - 160, 50), Qt::AlignHCenter | Qt::AlignTop | Qt::TextWordWrap, text.caption);
    painter.restore();
}

bool isDark(const QPalette& palette) { return palette.color(QPalette::Window).lightness() < 128; }

QString path(const QString& name, bool dark, int scale)
{
    static const bool registered = (registerOnboardingResources(), true);
    Q_UNUSED(registered);
    return QStringLiteral(":/onboarding/%1%2%3.png")
        .arg(dark ? QStringLiteral("dark/") : QString(), name, scale > 1 ? QStringLiteral("@%1x").arg(scale) : QString());
}

int scaleFor(qreal devicePixelRatio) { return devicePixelRatio > 1.0 ? 2 : 1; }

QImage load(const QString& name, const QPalette& palette, qreal devicePixelRatio)
{
    // Read each time, as the page is built: a picture never outlives a theme change.
    const int scale = scaleFor(devicePixelRatio);
    for (const bool dark : {isDark(palette), false}) {
        for (const int s : {scale, 1}) {
            QImage image(path(name, dark, s));
            if (!image.isNull()) {
                image.setDevicePixelRatio(s);
                return image;
            }
            if (s == 1)
                break;
        }
    }
    return {};
}

} // namespace OnboardingPictures

PictureView::PictureView(QWidget* parent)
    : QWidget(parent)
{
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    setMinimumSize(80, 50);
}

void PictureView::setPicture(const QString& name)
{
    m_name = name;
    reload();
}

void PictureView::setTipText(std::optional<OnboardingPictures::TipText> text)
{
    m_text = std::move(text);
    setAccessibleDescription(m_text ? m_text->title + QStringLiteral(": ") + m_text->caption : QString());
    update();
}

void PictureView::reload()
{
    m_scale = OnboardingPictures::scaleFor(devicePixelRatioF());
    m_image = m_name.isEmpty() ? QImage() : OnboardingPictures::load(m_name, palette(), devicePixelRatioF());
    update();
}

void PictureView::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::PaletteChange)
        reload();
    QWidget::changeEvent(event);
}

QRectF PictureView::pictureRect() const
{
    // Room for the shadow below.
    const QRectF area = QRectF(rect()).adjusted(2, 2, -2, -8);
    qreal ratio = m_ratio;
    if (ratio <= 0)
        ratio = m_image.isNull() ? 1.6 : qreal(m_image.width()) / m_image.height(); // the same at any scale
    qreal height = std::min(area.height(), area.width() / ratio);
    if (m_maxHeight > 0)
        height = std::min<qreal>(height, m_maxHeight);
    const QSizeF size(height * ratio, height);
    return QRectF(area.center() - QPointF(size.width() / 2, size.height() / 2), size);
}

void PictureView::paintEvent(QPaintEvent*)
{
    // Moved to a screen of another density: the picture drawn for it.
    if (OnboardingPictures::scaleFor(devicePixelRatioF()) != m_scale)
        reload();
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    const QRectF target = pictureRect();
    const qreal radius = 12;
    QPainterPath shape;
    shape.addRoundedRect(target, radius, radius);
    const QColor secondary = OnboardingStyle::secondary(palette());
    if (m_framed) {
        // A soft shadow: a few widening rounded outlines below the picture.
        for (int i = 1; i <= 6; ++i) {
            QPainterPath ring;
            ring.addRoundedRect(target.translated(0, 4).adjusted(-i, -i, i, i), radius + i, radius + i);
            painter.fillPath(ring, QColor(0, 0, 0, int(30 / (i + 1))));
        }
        painter.fillPath(shape, palette().color(QPalette::Window));
    }
    painter.save();
    painter.setClipPath(shape);
    if (m_image.isNull())
        painter.fillPath(shape, SettingsStyle::withAlpha(secondary, 0.10));
    else
        painter.drawImage(target, m_image);
    if (m_text && !m_image.isNull()) {
        painter.setFont(font());
        OnboardingPictures::paintTipText(painter, target, *m_text, palette());
    }
    painter.restore();
    if (m_framed) {
        painter.setPen(QPen(SettingsStyle::withAlpha(secondary, 0.2), 1));
        painter.setBrush(Qt::NoBrush);
        painter.drawPath(shape);
    }
}

} // namespace lumra
