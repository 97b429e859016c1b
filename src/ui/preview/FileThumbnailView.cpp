#include "ui/preview/FileThumbnailView.h"

#include "platform/files/FileLookups.h"
#include "platform/files/IconFiles.h"
#include "ui/preview/FileThumbnailCache.h"

#include <QMimeDatabase>
#include <QPainter>

namespace lumra {

QIcon fileIcon(const QString& path, bool isDirectory)
{
    if (isDirectory)
        return QIcon::fromTheme(QStringLiteral("folder"));
    // The type's icon names come from the MIME database, which other programs add to: the theme is
    // asked for them once its files were checked (IconFiles::loaded follows); the generic icon until then.
    const QMimeType type = QMimeDatabase().mimeTypeForFile(path, QMimeDatabase::MatchExtension);
    const QIcon icon = IconFiles::instance().firstThemeIcon({type.iconName(), type.genericIconName()}).value_or(QIcon());
    return icon.isNull() ? QIcon::fromTheme(QStringLiteral("text-x-generic")) : icon;
}

FileThumbnailView::FileThumbnailView(QWidget* parent)
    : QWidget(parent)
{
    connect(&FileThumbnailCache::shared(), &FileThumbnailCache::thumbnailReady, this, [this](const QString& path) {
        if (path != m_path)
            return;
        m_thumbnail = QImage(); // a changed file may have no picture any more
        lookUp();
        update();
    });
    // A file replaced under its name is seen there first. Every view hears every answer: one whose
    // picture is unchanged repaints nothing.
    connect(&FileLookups::instance(), &FileLookups::answered, this, [this] {
        if (!m_isDirectory && !m_path.isEmpty())
            lookUp();
    });
    connect(&IconFiles::instance(), &IconFiles::loaded, this, qOverload<>(&QWidget::update));
}

void FileThumbnailView::setFile(const QString& path, bool isDirectory, int side)
{
    m_path = path;
    m_isDirectory = isDirectory;
    m_side = side;
    m_thumbnail = QImage();
    setFixedSize(side, side);
    if (!isDirectory)
        lookUp();
    update();
}

void FileThumbnailView::lookUp()
{
    const int pixels = qRound(m_side * devicePixelRatioF());
    const std::optional<QImage> image = FileThumbnailCache::shared().thumbnail(m_path, pixels);
    if (!image || image->cacheKey() == m_thumbnail.cacheKey())
        return;
    m_thumbnail = *image;
    update();
}

void FileThumbnailView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    if (m_thumbnail.isNull()) {
        fileIcon(m_path, m_isDirectory).paint(&painter, rect());
        return;
    }
    QSize size = m_thumbnail.size().scaled(this->size(), Qt::KeepAspectRatio);
    QRect target(QPoint(0, 0), size);
    target.moveCenter(rect().center());
    painter.drawImage(target, m_thumbnail);
}

} // namespace lumra
