#include "ui/preview/UnifiedPreviewWindow.h"


#include "platform/core/BackgroundWork.h"
#include "platform/defaults/UserDefaults.h"
#include "platform/files/FileChecks.h"
#include "platform/image/ImageDecoding.h"
#include "platform/richtext/RtfCodec.h"
#include "platform/symbols/Symbols.h"
#include "ui/items/ShowInFileManager.h"
#include "ui/preview/PreviewFiles.h"
#include "ui/preview/PreviewLayers.h"

#include <QCheckBox>
#include <QFile>
#include <QFileInfo>
#include <QFontMetrics>
#include <QFutureWatcher>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMimeDatabase>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QTextEdit>
#include <QSizeGrip>
#include <QStyle>
#include <QToolButton>
#include <QWindow>
#include <QVBoxLayout>

namespace lumra {

namespace {

constexpr int unformattedFontSize = 18;
constexpr int unformattedLineSpacing = 6;

QFrame* divider(QWidget* parent)
{
    auto* line = new QFrame(parent);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Plain);
    line->setForegroundRole(QPalette::Mid);
    return line;
}

// A label that elides its text in the middle to whatever width it gets.
class ElidedLabel : public QLabel {
public:
    using QLabel::QLabel;
    void setFullText(const QString& text)
    {
        m_full = text;
        setToolTip(text);
        updateGeometry();
        update();
    }
    QSize minimumSizeHint() const override { return {20, QLabel::minimumSizeHint().height()}; }
    QSize sizeHint() const override { return {fontMetrics().horizontalAdvance(m_full), QLabel::sizeHint().height()}; }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.setPen(palette().color(foregroundRole()));
        painter.drawText(rect(), Qt::AlignLeft | Qt::AlignVCenter, fontMetrics().elidedText(m_full, Qt::ElideMiddle, width()));
    }

private:
    QString m_full;
};

struct DecodedPreviewImage {
    QImage image;
    qint64 byteCount = -1;
};

int screenPixelBound()
{
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen)
        return 2048;
    const QSize size = screen->availableSize() * screen->devicePixelRatio();
    return std::max(size.width(), size.height());
}

} // namespace

UnifiedPreviewWindow::UnifiedPreviewWindow(PreviewBridge bridge, std::optional<QString> comment, UserDefaults& defaults,
                                           QWidget* parent)
    : QWidget(parent, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint)
    , m_bridge(std::move(bridge))
    , m_defaults(defaults)
{
    setAttribute(Qt::WA_DeleteOnClose, false);
    setWindowTitle(m_bridge.kind);
    setMinimumSize(PreviewFrame::minimumSize);
    setAutoFillBackground(true);
    setBackgroundRole(QPalette::Base);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(1, 1, 1, 1);
    layout->setSpacing(0);
    layout->addWidget(makeHeader());
    layout->addWidget(divider(this));
    m_contentHost = new QVBoxLayout;
    m_contentHost->setContentsMargins(0, 0, 0, 0);
    layout->addLayout(m_contentHost, 1);
    if (comment && !comment->isEmpty()) {
        layout->addWidget(divider(this));
        layout->addWidget(makeCommentRow(*comment));
    }
    layout->addWidget(divider(this));
    layout->addWidget(makeFooter());
    rebuildContent();
}

UnifiedPreviewWindow::~UnifiedPreviewWindow() { m_cancelled->store(true); }

QWidget* UnifiedPreviewWindow::makeHeader()
{
    auto* header = new QWidget(this);
    header->installEventFilter(this);
    auto* row = new QHBoxLayout(header);
    row->setContentsMargins(12, 10, 12, 10);
    row->setSpacing(8);
    auto* close = new QToolButton(header);
    close->setIcon(Symbols::icon(QStringLiteral("xmark")));
    close->setIconSize(QSize(18, 18));
    close->setAutoRaise(true);
    close->setToolTip(QStringLiteral("Close (Esc)"));
    close->setAccessibleName(QStringLiteral("Close"));
    connect(close, &QToolButton::clicked, this, &UnifiedPreviewWindow::closeRequested);
    auto* title = new QLabel(m_bridge.kind, header);
    QFont bold = title->font();
    bold.setBold(true);
    title->setFont(bold);
    row->addWidget(close);
    row->addWidget(title);
    row->addStretch(1);
    if (m_bridge.textContent) {
        m_originalStyle = new QCheckBox(QStringLiteral("Show Original Style"), header);
        m_originalStyle->setToolTip(QStringLiteral("When off, text is shown without formatting at 18pt"));
        m_originalStyle->setChecked(m_defaults.losslessBool(showOriginalStyleKey).value_or(true));
        connect(m_originalStyle, &QCheckBox::toggled, this, [this](bool on) {
            m_defaults.set(showOriginalStyleKey, on);
            rebuildContent();
        });
        row->addWidget(m_originalStyle);
    }
    return header;
}

QWidget* UnifiedPreviewWindow::makeCommentRow(const QString& comment)
{
    auto* box = new QWidget(this);
    box->setAutoFillBackground(true);
    box->setBackgroundRole(QPalette::AlternateBase);
    auto* row = new QHBoxLayout(box);
    row->setContentsMargins(12, 8, 12, 8);
    row->setSpacing(8);
    auto* icon = new QLabel(box);
    icon->setPixmap(Symbols::icon(QStringLiteral("text.bubble")).pixmap(14, 14));
    icon->setAlignment(Qt::AlignTop);
    icon->setContentsMargins(0, 1, 0, 0);
    row->addWidget(icon, 0, Qt::AlignTop);
    // A short comment sits on its lines; a long one scrolls within 80 pixels.
    if (comment.count(QLatin1Char('\n')) < 4 && comment.size() <= 400) {
        auto* text = new QLabel(comment, box);
        text->setWordWrap(true);
        text->setTextInteractionFlags(Qt::TextSelectableByMouse);
        row->addWidget(text, 1);
    } else {
        auto* text = new QTextEdit(box);
        text->setPlainText(comment);
        text->setReadOnly(true);
        text->setFrameShape(QFrame::NoFrame);
        text->viewport()->setAutoFillBackground(false);
        text->setFixedHeight(80);
        row->addWidget(text, 1);
    }
    return box;
}

QWidget* UnifiedPreviewWindow::makeFooter()
{
    auto* footer = new QWidget(this);
    footer->installEventFilter(this);
    auto* row = new QHBoxLayout(footer);
    row->setContentsMargins(12, 8, 12, 8);
    row->setSpacing(12);
    auto* column = new QVBoxLayout;
    column->setSpacing(2);
    auto* path = new ElidedLabel(footer);
    path->setFullText(m_bridge.displayPath);
    path->setForegroundRole(QPalette::PlaceholderText);
    QFont small = path->font();
    small.setPointSizeF(small.pointSizeF() * 0.9);
    path->setFont(small);
    m_path = path;
    m_size = new QLabel(footer);
    small.setPointSizeF(small.pointSizeF() * 0.9);
    m_size->setFont(small);
    m_size->setForegroundRole(QPalette::PlaceholderText);
    m_size->hide();
    column->addWidget(m_path);
    column->addWidget(m_size);
    row->addLayout(column, 1);
    if (m_bridge.isFile) {
        m_reveal = new QPushButton(QStringLiteral("Show in File Manager"), footer);
        m_reveal->setAutoDefault(false);
        connect(m_reveal, &QPushButton::clicked, this, [this] {
            showInFileManager(m_bridge.revealURLs.isEmpty() ? QList<QUrl>{m_bridge.url} : m_bridge.revealURLs);
        });
        row->addWidget(m_reveal);
    }
    auto* grip = new QSizeGrip(footer);
    row->addWidget(grip, 0, Qt::AlignBottom | Qt::AlignRight);

    // Single files and images show their size; it is read off the main thread.
    if (!m_bridge.bundleKind && !m_bridge.textContent && m_bridge.layer != PreviewLayer::image) {
        const QString file = m_bridge.url.toLocalFile();
        runOffThread<FileFacts>([file] { return readFileFacts(file); }, [this](const FileFacts& facts) {
            if (facts.size) {
                m_size->setText(byteCountText(*facts.size));
                m_size->show();
            }
            if (auto* fallback = qobject_cast<FallbackPreviewView*>(m_content))
                fallback->setFacts(facts);
        });
    }
    return footer;
}

template <typename Result, typename Work, typename Apply>
void UnifiedPreviewWindow::runOffThread(Work work, Apply apply)
{
    ++m_pendingLoads;
    auto* watcher = new QFutureWatcher<Result>(this);
    connect(watcher, &QFutureWatcher<Result>::finished, this, [this, watcher, apply] {
        if (watcher->future().resultCount() > 0) // none when dropped at quit
            apply(watcher->result());
        watcher->deleteLater();
        finishedLoad();
    });
    watcher->setFuture(BackgroundWork::current().run(BackgroundWork::Lane::previews, std::move(work)));
}

void UnifiedPreviewWindow::finishedLoad()
{
    if (--m_pendingLoads == 0)
        emit loaded();
}

void UnifiedPreviewWindow::rebuildContent()
{
    // Work for the content shown until now is no longer wanted.
    m_cancelled->store(true);
    m_cancelled = std::make_shared<std::atomic_bool>(false);
    if (m_content) {
        m_contentHost->removeWidget(m_content);
        m_content->deleteLater();
    }
    m_content = makeContent();
    m_contentHost->addWidget(m_content);
}

QWidget* UnifiedPreviewWindow::makeTextContent()
{
    const PreviewTextContent& text = *m_bridge.textContent;
    const bool original = !m_originalStyle || m_originalStyle->isChecked();
    if (text.kind != PreviewTextContent::Kind::rich) {
        auto* view = new PlainTextView(original ? text.fontSize : unformattedFontSize, original ? 0 : unformattedLineSpacing, this);
        if (text.text.size() <= PlainTextView::builtInPlace)
            view->setText(text.text);
        else
            buildOffThread(view, [shown = text.text] { return shown; });
        return view;
    }
    // Stored RTF is read from the store and parsed off the window's thread.
    const std::shared_ptr<StoredRichText> rtf = text.richText;
    const QString fallback = text.text;
    if (original) {
        auto* host = new RichTextHost(this);
        QPointer<RichTextHost> target(host);
        runOffThread<std::shared_ptr<RichTextHost::Read>>(
            [rtf, font = host->font()] { return RichTextHost::read(rtf->bytes(), PlainTextView::builtInPlace, font); },
            [this, target, fallback](const std::shared_ptr<RichTextHost::Read>& read) {
                if (!target)
                    return;
                if (!read || !read->laidOutByLine) {
                    target->setContent(read, fallback);
                    return;
                }
                // Too long to be laid out whole: shown as the plain view shows text, formats and all.
                auto* view = new PlainTextView(0, 0, this);
                view->setBuilt(read);
                replaceContent(view);
            });
        return host;
    }
    auto* view = new PlainTextView(unformattedFontSize, unformattedLineSpacing, this);
    buildOffThread(view, [rtf, fallback] { return RichText::plainTextFromRtf(rtf->bytes()).value_or(fallback); });
    return view;
}

void UnifiedPreviewWindow::buildOffThread(PlainTextView* view, std::function<QString()> readText)
{
    QPointer<PlainTextView> target(view);
    runOffThread<std::shared_ptr<BuiltDocument>>(
        [readText = std::move(readText), cancelled = m_cancelled, font = view->font(), spacing = view->lineSpacing()] {
            return PlainTextView::build(readText(), font, spacing, cancelled.get());
        },
        [target](const std::shared_ptr<BuiltDocument>& built) {
            if (!target)
                return;
            target->setPlaceholderText(QString());
            target->setBuilt(built);
        });
}

void UnifiedPreviewWindow::replaceContent(QWidget* content)
{
    m_contentHost->removeWidget(m_content);
    m_content->deleteLater();
    m_content = content;
    m_contentHost->addWidget(m_content);
}

QWidget* UnifiedPreviewWindow::makeContent()
{
    const QString path = m_bridge.url.toLocalFile();
    switch (m_bridge.layer) {
    case PreviewLayer::text:
        return makeTextContent();
    case PreviewLayer::image: {
        auto* view = new ImagePreviewView(this);
        QPointer<ImagePreviewView> target(view);
        const QByteArray bytes = m_bridge.imageBytes;
        const int bound = screenPixelBound();
        runOffThread<DecodedPreviewImage>(
            [bytes, path, bound] {
                DecodedPreviewImage decoded;
                Result<QImage> picture = Result<QImage>::failure({});
                // No deadline for a turn: the preview stays open until its picture comes, and
                // the program's own budget bounds a hostile one.
                if (bytes.isEmpty()) { // an image file of a file item
                    if (const auto file = RegularFile::open(path)) {
                        decoded.byteCount = file->size();
                        picture = image::decodeImage(*file, {}, bound);
                    }
                } else {
                    if (PreviewFiles::writeFileAtomically(path, bytes))
                        decoded.byteCount = bytes.size();
                    picture = image::decodeImage(bytes, {}, bound);
                }
                if (picture)
                    decoded.image = picture.value();
                return decoded;
            },
            [this, target](const DecodedPreviewImage& decoded) {
                if (decoded.byteCount >= 0) {
                    m_size->setText(byteCountText(decoded.byteCount));
                    m_size->show();
                }
                if (!target)
                    return;
                if (decoded.image.isNull())
                    target->setFailed();
                else
                    target->setImage(decoded.image);
            });
        return view;
    }
    case PreviewLayer::pdf: {
        const int bound = screenPixelBound();
        auto* view = new PdfPreviewView(path, bound, this);
        QPointer<PdfPreviewView> target(view);
        runOffThread<PdfPreviewView::Drawn>([path, bound] { return PdfPreviewView::draw(path, nullptr, 0, bound); },
                                            [target](const PdfPreviewView::Drawn& drawn) {
                                                if (target)
                                                    target->setDrawn(drawn);
                                            });
        return view;
    }
    case PreviewLayer::media: {
        const QString type = QMimeDatabase().mimeTypeForFile(path, QMimeDatabase::MatchExtension).name();
        return new MediaPreviewView(path, type.startsWith(QLatin1String("video/")), this);
    }
    case PreviewLayer::textFile: {
        auto* view = new PlainTextView(0, 0, this);
        view->setPlaceholderText(QStringLiteral("Loading…"));
        buildOffThread(view, [path] {
            constexpr qint64 shownBytes = 512 * 1024;
            const std::unique_ptr<QFile> file = openRegularFile(path);
            return file ? QString::fromUtf8(file->read(shownBytes)) : QString();
        });
        return view;
    }
    case PreviewLayer::entries: {
        auto* view = new EntryListView(this);
        QPointer<EntryListView> target(view);
        const bool folder = m_bridge.listFolder;
        const QList<QUrl> urls = m_bridge.bundleURLs;
        runOffThread<PreviewListing>(
            [folder, path, urls] { return folder ? listFolderForPreview(path) : describeFilesForPreview(urls); },
            [target](const PreviewListing& listing) {
                if (target)
                    target->setListing(listing);
            });
        return view;
    }
    case PreviewLayer::fallback:
        return new FallbackPreviewView(path, this);
    }
    return new QWidget(this);
}

void UnifiedPreviewWindow::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Escape) {
        emit closeRequested();
        return;
    }
    QWidget::keyPressEvent(event);
}

bool UnifiedPreviewWindow::eventFilter(QObject* watched, QEvent* event)
{
    // The header and footer move the window, as a title bar would.
    switch (event->type()) {
    case QEvent::MouseButtonPress: {
        auto* mouse = static_cast<QMouseEvent*>(event);
        if (mouse->button() == Qt::LeftButton) {
            if (windowHandle() && windowHandle()->startSystemMove())
                return true;
            m_moving = true;
            m_dragOffset = mouse->globalPosition().toPoint() - frameGeometry().topLeft();
            return true;
        }
        break;
    }
    case QEvent::MouseMove:
        if (m_moving) {
            move(static_cast<QMouseEvent*>(event)->globalPosition().toPoint() - m_dragOffset);
            return true;
        }
        break;
    case QEvent::MouseButtonRelease:
        m_moving = false;
        break;
    default:
        break;
    }
    return QWidget::eventFilter(watched, event);
}

void UnifiedPreviewWindow::paintEvent(QPaintEvent* event)
{
    QWidget::paintEvent(event);
    QPainter painter(this);
    painter.setPen(palette().color(QPalette::Mid));
    painter.drawRect(rect().adjusted(0, 0, -1, -1));
}

} // namespace lumra
