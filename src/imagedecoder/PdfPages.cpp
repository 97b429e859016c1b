#include "PdfPages.h"

#include "platform/image/ImageDecoding.h"

#include <QBuffer>
#include <QImage>
#include <QPainter>
#include <QPdfDocument>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <sys/stat.h>
#include <unistd.h>

namespace lumra::pdf {

namespace {

// The open file as the library reads it: in parts, wherever it points, never as a whole.
class DescriptorDevice : public QIODevice {
public:
    DescriptorDevice(int descriptor, qint64 size)
        : m_descriptor(descriptor)
        , m_size(size)
    {
    }
    bool isSequential() const override { return false; }
    qint64 size() const override { return m_size; }

protected:
    qint64 readData(char* data, qint64 maxSize) override
    {
        for (;;) {
            const ssize_t n = ::pread(m_descriptor, data, size_t(maxSize), off_t(pos()));
            if (n >= 0 || errno != EINTR)
                return n;
        }
    }
    qint64 writeData(const char*, qint64) override { return -1; }

private:
    int m_descriptor;
    qint64 m_size;
};

QString errorText(QPdfDocument::Error error)
{
    switch (error) {
    case QPdfDocument::Error::IncorrectPassword: return QStringLiteral("This PDF is protected by a password");
    case QPdfDocument::Error::UnsupportedSecurityScheme: return QStringLiteral("This PDF is encrypted in a way that can't be read");
    case QPdfDocument::Error::InvalidFileFormat:
    case QPdfDocument::Error::DataNotYetAvailable: return QStringLiteral("This file isn't a PDF that can be shown");
    default: return QStringLiteral("This PDF can't be shown");
    }
}

Result<RenderedPage> render(QIODevice& device, int page, int maxPixelSize, qint64 maxPixels)
{
    QPdfDocument document;
    // The library reads the parts it needs from the file, never the whole of it.
    document.load(&device);
    if (document.status() != QPdfDocument::Status::Ready)
        return Result<RenderedPage>::failure(errorText(document.error()));
    const int pageCount = document.pageCount();
    if (pageCount < 1)
        return Result<RenderedPage>::failure(errorText(QPdfDocument::Error::InvalidFileFormat));
    page = std::clamp(page, 0, pageCount - 1);
    QSizeF size = document.pagePointSize(page);
    if (!(size.width() > 0 && size.height() > 0))
        return Result<RenderedPage>::failure(errorText(QPdfDocument::Error::Unknown));
    size.scale(std::clamp(maxPixelSize, 1, 8192), std::clamp(maxPixelSize, 1, 8192), Qt::KeepAspectRatio);
    const double area = size.width() * size.height();
    if (maxPixels > 0 && area > double(maxPixels))
        size *= std::sqrt(double(maxPixels) / area);
    const QSize pixels(std::max(1, int(size.width())), std::max(1, int(size.height())));
    // Pages render transparent where nothing is printed: they are laid on paper.
    const QImage rendered = document.render(page, pixels);
    QImage paper(pixels, QImage::Format_RGB32);
    paper.fill(Qt::white);
    QPainter(&paper).drawImage(0, 0, rendered);
    Result<QByteArray> png = image::encodePng(paper);
    if (!png)
        return Result<RenderedPage>::failure(png.error());
    return RenderedPage {pageCount, std::move(png).value()};
}

} // namespace

Result<RenderedPage> renderPage(int descriptor, int page, int maxPixelSize, qint64 maxPixels)
{
    struct stat st {};
    if (::fstat(descriptor, &st) != 0 || !S_ISREG(st.st_mode))
        return Result<RenderedPage>::failure(QStringLiteral("This file can't be read"));
    DescriptorDevice device(descriptor, st.st_size);
    device.open(QIODevice::ReadOnly | QIODevice::Unbuffered);
    return render(device, page, maxPixelSize, maxPixels);
}

void warmUp()
{
    // A font no PDF library carries sends it to the system's fonts, which it lists once.
    const QByteArray content = "BT /F1 12 Tf 2 5 Td (Ag) Tj ET";
    const QByteArray pdf = "%PDF-1.4\n1 0 obj<</Type/Catalog/Pages 2 0 R>>endobj\n"
                           "2 0 obj<</Type/Pages/Kids[3 0 R]/Count 1>>endobj\n"
                           "3 0 obj<</Type/Page/Parent 2 0 R/MediaBox[0 0 20 20]/Contents 4 0 R"
                           "/Resources<</Font<</F1 5 0 R>>>>>>endobj\n"
                           "4 0 obj<</Length " + QByteArray::number(content.size()) + ">>stream\n" + content
                         + "\nendstream endobj\n"
                           "5 0 obj<</Type/Font/Subtype/TrueType/BaseFont/LumraWarmUpSans>>endobj\n"
                           "trailer<</Root 1 0 R>>\n%%EOF\n";
    QBuffer buffer;
    buffer.setData(pdf);
    buffer.open(QIODevice::ReadOnly);
    (void)render(buffer, 0, 16, 256);
}

} // namespace lumra::pdf
