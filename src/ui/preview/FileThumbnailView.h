#pragma once

#include <QIcon>
#include <QImage>
#include <QWidget>

namespace lumra {

// The theme's icon for a file or folder, chosen by name alone (no disk access).
QIcon fileIcon(const QString& path, bool isDirectory);

// A square showing a file's icon, replaced by its thumbnail once the cache has one. Pointing it
// at another file drops the picture at once, and a late answer for the earlier file is ignored,
// so a reused view never shows the previous file's picture.
class FileThumbnailView : public QWidget {
    Q_OBJECT
public:
    explicit FileThumbnailView(QWidget* parent = nullptr);

    void setFile(const QString& path, bool isDirectory, int side);
    const QString& path() const { return m_path; }
    bool hasThumbnail() const { return !m_thumbnail.isNull(); }
    QImage thumbnailImage() const { return m_thumbnail; }

    QSize sizeHint() const override { return {m_side, m_side}; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void lookUp();

    QString m_path;
    bool m_isDirectory = false;
    int m_side = 32;
    QImage m_thumbnail;
};

} // namespace lumra
