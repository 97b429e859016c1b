#include "ui/preview/PreviewLayers.h"

#include "platform/core/BackgroundWork.h"
#include "platform/files/FileChecks.h"
#include "platform/files/IconFiles.h"
#include "platform/image/ImageDecoder.h"
#include "platform/richtext/RtfCodec.h"
#include "platform/sound/MediaProbe.h"
#include "ui/preview/FileThumbnailView.h"

#include <QAudioDevice>
#include <QAudioOutput>
#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QFutureWatcher>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLocale>
#include <QMediaDevices>
#include <QMediaPlayer>
#include <QPainter>
#include <QPlainTextDocumentLayout>
#include <QTextLayout>
#include <QPointer>
#include <QPushButton>
#include <QResizeEvent>
#include <QSlider>
#include <QTimer>
#include <QToolButton>
#include <QStyle>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTreeWidget>
#include <QUrl>
#include <QVBoxLayout>
#include <QVideoWidget>

namespace lumra {

namespace {

QString clockText(qint64 ms)
{
    const qint64 seconds = ms / 1000;
    return QStringLiteral("%1:%2").arg(seconds / 60).arg(seconds % 60, 2, 10, QLatin1Char('0'));
}

} // namespace

// ------------------------------------------------------------------------------------------------ image

ImagePreviewView::ImagePreviewView(QWidget* parent)
    : QWidget(parent)
{
    setMinimumSize(64, 64);
}

void ImagePreviewView::setImage(const QImage& image)
{
    m_image = image;
    m_scaled = QPixmap();
    update();
}

void ImagePreviewView::setEdge(const QColor& color)
{
    m_edge = color;
    update();
}

void ImagePreviewView::setFailed()
{
    m_failed = true;
    update();
}

void ImagePreviewView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    if (m_image.isNull()) {
        painter.setPen(palette().color(QPalette::PlaceholderText));
        painter.drawText(rect(), Qt::AlignCenter,
                         m_failed ? QStringLiteral("The image could not be shown") : QStringLiteral("Loading…"));
        return;
    }
    const qreal ratio = devicePixelRatioF();
    const QSize area = (QSizeF(size().shrunkBy({16, 16, 16, 16})) * ratio).toSize();
    QSize target = m_image.size();
    if (target.width() > area.width() || target.height() > area.height())
        target.scale(area, Qt::KeepAspectRatio);
    if (m_scaled.size() != target) {
        m_scaled = QPixmap::fromImage(target == m_image.size()
                                          ? m_image
                                          : m_image.scaled(target, Qt::KeepAspectRatio, Qt::SmoothTransformation));
        m_scaled.setDevicePixelRatio(ratio);
    }
    const QSizeF shown = QSizeF(m_scaled.size()) / ratio;
    const QPointF at((width() - shown.width()) / 2, (height() - shown.height()) / 2);
    painter.drawPixmap(at, m_scaled);
    if (m_edge.isValid()) {
        painter.setPen(QPen(m_edge, 0));
        painter.drawRect(QRectF(at, shown).adjusted(0.5, 0.5, -0.5, -0.5));
    }
}

// ------------------------------------------------------------------------------------------------ text

RichTextHost::RichTextHost(QWidget* parent)
    : QTextEdit(parent)
{
    setReadOnly(true);
    setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    setFrameShape(QFrame::NoFrame);
    viewport()->setAutoFillBackground(false);
    document()->setDocumentMargin(16);
}

namespace {

constexpr int textMargin = 16;

// QPlainTextEdit's layout spaced out: every line of a paragraph `spacing` pixels further apart,
// as a QTextEdit shows a line distance. It still lays out a paragraph only when it is asked for.
class SpacedLineLayout final : public QPlainTextDocumentLayout {
public:
    SpacedLineLayout(QTextDocument* document, int spacing)
        : QPlainTextDocumentLayout(document)
        , m_spacing(spacing)
    {
    }

    QRectF blockBoundingRect(const QTextBlock& block) const override
    {
        QRectF rect = QPlainTextDocumentLayout::blockBoundingRect(block); // lays the paragraph out if need be
        QTextLayout* layout = block.layout();
        if (m_spacing <= 0 || !block.isVisible() || !layout)
            return rect;
        const int lines = layout->lineCount();
        // Freshly laid out lines touch; once spread they stay until laid out again.
        if (lines > 1 && layout->lineAt(1).y() < layout->lineAt(0).rect().bottom() + m_spacing / 2.0) {
            for (int i = 1; i < lines; ++i) {
                QTextLine line = layout->lineAt(i);
                line.setPosition(line.position() + QPointF(0, i * m_spacing));
            }
            rect = QPlainTextDocumentLayout::blockBoundingRect(block);
        }
        return rect.adjusted(0, 0, 0, m_spacing);
    }

private:
    int m_spacing = 0;
};

// Gives `document` a layout for a PlainTextView, on the thread that made it.
void layOutByLine(QTextDocument& document, const QFont& font, int lineSpacing)
{
    document.setDocumentMargin(textMargin);
    document.setDefaultFont(font);
    // Wrapped as the view wraps, or the view sets it as it takes the document: a pass over every paragraph.
    QTextOption option = document.defaultTextOption();
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    document.setDefaultTextOption(option);
    document.setDocumentLayout(new SpacedLineLayout(&document, lineSpacing));
}

// The paragraphs' layout objects are made here, by the worker, rather than all at once by the
// view that takes the document.
void handToMainThread(QTextDocument& document)
{
    if (qobject_cast<QPlainTextDocumentLayout*>(document.documentLayout())) {
        for (QTextBlock block = document.begin(); block.isValid(); block = block.next())
            (void)block.layout();
    }
    document.moveToThread(QCoreApplication::instance()->thread());
}

} // namespace

std::shared_ptr<RichTextHost::Read> RichTextHost::read(const QByteArray& rtfData, qsizetype lineByLineBeyond, const QFont& font)
{
    auto read = std::make_shared<Read>();
    read->document = std::make_unique<QTextDocument>();
    if (!RichText::readRtf(rtfData, read->document.get())) {
        read->document.reset();
        return read;
    }
    if (lineByLineBeyond >= 0 && read->document->characterCount() > lineByLineBeyond) {
        layOutByLine(*read->document, font, 0);
        read->laidOutByLine = true;
    }
    handToMainThread(*read->document);
    return read;
}

void RichTextHost::setContent(const std::shared_ptr<Read>& read, const QString& fallback)
{
    if (!read || !read->document) {
        setPlainText(fallback);
        return;
    }
    QTextDocument* shown = read->document.release();
    shown->setParent(this);
    shown->setDocumentMargin(textMargin);
    shown->setDefaultFont(font());
    setDocument(shown); // the empty one it had goes with it
}

PlainTextView::PlainTextView(double fontSize, int lineSpacing, QWidget* parent)
    : QPlainTextEdit(parent)
    , m_lineSpacing(lineSpacing)
{
    setReadOnly(true);
    setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    setFrameShape(QFrame::NoFrame);
    // The width a long text is wrapped to follows the view once it has stopped changing size.
    m_rewrap = new QTimer(this);
    m_rewrap->setSingleShot(true);
    m_rewrap->setInterval(150);
    connect(m_rewrap, &QTimer::timeout, this, [this] {
        QResizeEvent rewrap(viewport()->size(), QSize());
        QPlainTextEdit::resizeEvent(&rewrap);
    });
    // Sizes are device-independent pixels, as in the rows.
    if (fontSize > 0) {
        QFont sized = font();
        sized.setPixelSize(std::max(1, int(std::lround(fontSize))));
        setFont(sized);
    }
    setText(QString());
    // Wrapped to the width, there is nothing to scroll sideways to; nor does a bar come and go
    // while a long text keeps its width.
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
}

std::shared_ptr<BuiltDocument> PlainTextView::build(const QString& text, const QFont& font, int lineSpacing,
                                                    const std::atomic_bool* cancelled)
{
    auto built = std::make_shared<BuiltDocument>();
    auto document = std::make_unique<QTextDocument>();
    document->setUndoRedoEnabled(false);
    layOutByLine(*document, font, lineSpacing);
    QTextCursor cursor(document.get());
    // In pieces of whole lines, so that a preview closed meanwhile stops the work soon.
    constexpr qsizetype piece = 256 * 1024;
    for (qsizetype from = 0; from < text.size();) {
        if (cancelled && cancelled->load())
            return built;
        qsizetype to = std::min(text.size(), from + piece);
        if (to < text.size()) {
            const qsizetype lineEnd = text.lastIndexOf(QLatin1Char('\n'), to - 1);
            if (lineEnd >= from)
                to = lineEnd + 1;
            else if (text[to - 1].isHighSurrogate() || text[to - 1] == QLatin1Char('\r'))
                ++to;
        }
        cursor.insertText(text.mid(from, to - from));
        from = to;
    }
    if (cancelled && cancelled->load())
        return built;
    handToMainThread(*document);
    built->document = std::move(document);
    built->laidOutByLine = true;
    return built;
}

PlainTextView::~PlainTextView()
{
    QTextDocument* shown = document();
    if (shown->parent() != this || shown->characterCount() <= builtInPlace)
        return;
    setDocument(nullptr); // the view lets go of it and takes an empty one
    shown->setParent(nullptr);
    shown->moveToThread(nullptr); // no thread's: whichever worker takes it may delete it
    std::shared_ptr<QTextDocument> freed(shown);
    // Dropped at the quit, or with no lanes, it is freed here.
    if (BackgroundWork* work = BackgroundWork::currentIfAny())
        (void)work->start(BackgroundWork::Lane::previews, [freed = std::move(freed)]() mutable { freed.reset(); });
}

// Each width Qt wraps a text at is a pass over all its paragraphs; the window's opening and closing
// animate its size, a dozen steps in a fifth of a second. A long text keeps its width meanwhile.
void PlainTextView::resizeEvent(QResizeEvent* event)
{
    if (event->size().width() == event->oldSize().width() || document()->characterCount() <= builtInPlace) {
        QPlainTextEdit::resizeEvent(event);
        return;
    }
    QResizeEvent sameWidth(event->size(), QSize(event->size().width(), event->oldSize().height()));
    QPlainTextEdit::resizeEvent(&sameWidth); // the scroll bar follows the height at once
    m_rewrap->start();
}

void PlainTextView::setText(const QString& text) { setBuilt(build(text, font(), m_lineSpacing)); }

void PlainTextView::setBuilt(const std::shared_ptr<BuiltDocument>& built)
{
    if (!built || !built->document || !built->laidOutByLine)
        return;
    const QPointer<QTextDocument> had = document(); // the view's own goes with setDocument()
    QTextDocument* shown = built->document.release();
    shown->setParent(this);
    setDocument(shown);
    if (had && had->parent() == this)
        delete had;
}

// ------------------------------------------------------------------------------------------------ PDF

PdfPreviewView::Drawn PdfPreviewView::draw(const QString& path, std::shared_ptr<const RegularFile> file, int page,
                                            int pixelBound, image::ImageDecoder* decoder)
{
    Drawn drawn;
    drawn.page = page;
    if (!file) {
        if (auto opened = RegularFile::open(path)) {
            file = std::make_shared<const RegularFile>(std::move(*opened));
        } else {
            const QFileInfo info(path);
            drawn.message = QStringLiteral("This file can't be opened: %1")
                                .arg(!info.exists()    ? QStringLiteral("No such file or directory")
                                         : !info.isFile() ? QStringLiteral("not a regular file")
                                                          : QStringLiteral("Permission denied"));
            return drawn;
        }
    }
    drawn.file = file;
    // No deadline for a turn: the preview waits for its page, and the program's budget bounds a hostile PDF.
    image::DecodeTurn turn;
    turn.decoder = decoder;
    Result<image::PdfPage> rendered = image::renderPdfPage(*file, page, pixelBound, turn);
    if (!rendered) {
        drawn.message = rendered.error();
        return drawn;
    }
    drawn.pageCount = rendered->pageCount;
    drawn.page = std::clamp(page, 0, std::max(0, drawn.pageCount - 1));
    drawn.image = std::move(rendered->image);
    return drawn;
}

PdfPreviewView::PdfPreviewView(const QString& path, int pixelBound, QWidget* parent, image::ImageDecoder* decoder)
    : QWidget(parent)
    , m_path(path)
    , m_pixelBound(pixelBound)
    , m_decoder(decoder)
{
    setFocusPolicy(Qt::StrongFocus);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    m_view = new ImagePreviewView(this);
    layout->addWidget(m_view, 1);
    auto* pager = new QHBoxLayout;
    pager->setContentsMargins(8, 0, 8, 4);
    m_previous = new QToolButton(this);
    m_previous->setArrowType(Qt::LeftArrow);
    m_previous->setToolTip(QStringLiteral("Previous page"));
    m_next = new QToolButton(this);
    m_next->setArrowType(Qt::RightArrow);
    m_next->setToolTip(QStringLiteral("Next page"));
    m_pageLabel = new QLabel(this);
    m_pageLabel->setForegroundRole(QPalette::PlaceholderText);
    pager->addStretch(1);
    pager->addWidget(m_previous);
    pager->addWidget(m_pageLabel);
    pager->addWidget(m_next);
    pager->addStretch(1);
    layout->addLayout(pager);
    for (QToolButton* button : {m_previous, m_next}) {
        button->setAutoRaise(true);
        button->setFocusPolicy(Qt::NoFocus);
        button->hide();
    }
    connect(m_previous, &QToolButton::clicked, this, [this] { showPage((m_wanted >= 0 ? m_wanted : m_page) - 1); });
    connect(m_next, &QToolButton::clicked, this, [this] { showPage((m_wanted >= 0 ? m_wanted : m_page) + 1); });
    m_message = new QLabel(this);
    m_message->setAlignment(Qt::AlignCenter);
    m_message->setWordWrap(true);
    m_message->setForegroundRole(QPalette::PlaceholderText);
    m_message->hide();
    layout->addWidget(m_message, 1);
}

void PdfPreviewView::setDrawn(const Drawn& drawn)
{
    m_drawing = false;
    if (!drawn.message.isEmpty()) {
        m_wanted = -1;
        if (m_page < 0) { // a page already shown stays; the next one failing says nothing of it
            m_view->hide();
            showMessage(drawn.message);
        }
        return;
    }
    m_file = drawn.file;
    m_pageCount = drawn.pageCount;
    m_page = drawn.page;
    m_image = drawn.image;
    // An edge, so white paper shows where it ends on a light window; drawn as it is painted, as a
    // framed copy would hold the page twice.
    m_view->setEdge(QColor(0, 0, 0, 60));
    m_view->setImage(m_image);
    m_pageLabel->setText(QStringLiteral("Page %1 of %2").arg(m_page + 1).arg(m_pageCount));
    m_previous->setVisible(m_pageCount > 1);
    m_next->setVisible(m_pageCount > 1);
    m_previous->setEnabled(m_page > 0);
    m_next->setEnabled(m_page + 1 < m_pageCount);
    if (m_wanted == m_page)
        m_wanted = -1;
    emit pageShown(m_page);
    drawNext();
}

void PdfPreviewView::showPage(int page)
{
    if (!m_file || m_pageCount < 1)
        return;
    page = std::clamp(page, 0, m_pageCount - 1);
    m_wanted = page == m_page ? -1 : page;
    drawNext();
}

void PdfPreviewView::drawNext()
{
    if (m_drawing || m_wanted < 0 || !m_file)
        return;
    m_drawing = true;
    m_pageLabel->setText(QStringLiteral("Page %1 of %2").arg(m_wanted + 1).arg(m_pageCount));
    auto* watcher = new QFutureWatcher<Drawn>(this);
    QPointer<PdfPreviewView> self(this);
    connect(watcher, &QFutureWatcher<Drawn>::finished, this, [self, watcher] {
        if (self && watcher->future().resultCount() > 0) // none when dropped at quit
            self->setDrawn(watcher->result());
        watcher->deleteLater();
    });
    watcher->setFuture(BackgroundWork::current().run(
        BackgroundWork::Lane::previews, [path = m_path, file = m_file, page = m_wanted, bound = m_pixelBound,
                                         decoder = m_decoder] { return draw(path, file, page, bound, decoder); }));
}

void PdfPreviewView::keyPressEvent(QKeyEvent* event)
{
    const int from = m_wanted >= 0 ? m_wanted : m_page;
    switch (event->key()) {
    case Qt::Key_PageDown:
    case Qt::Key_Right:
    case Qt::Key_Down:
        showPage(from + 1);
        break;
    case Qt::Key_PageUp:
    case Qt::Key_Left:
    case Qt::Key_Up:
        showPage(from - 1);
        break;
    case Qt::Key_Home:
        showPage(0);
        break;
    case Qt::Key_End:
        showPage(m_pageCount - 1);
        break;
    default:
        QWidget::keyPressEvent(event);
        return;
    }
    event->accept();
}

QString PdfPreviewView::message() const { return m_message->isVisibleTo(this) ? m_message->text() : QString(); }

void PdfPreviewView::showMessage(const QString& text)
{
    m_pageLabel->clear();
    m_message->setText(text);
    m_message->show();
}

// ------------------------------------------------------------------------------------------------ media

MediaPreviewView::MediaPreviewView(const QString& path, bool isVideo, QWidget* parent, std::function<bool()> hasSoundOutput)
    : QWidget(parent)
    , m_player(new QMediaPlayer(this))
    , m_audio(new QAudioOutput(this))
    , m_hasSoundOutput(std::move(hasSoundOutput))
    , m_isVideo(isVideo)
{
    if (!m_hasSoundOutput)
        m_hasSoundOutput = [] { return !QMediaDevices::audioOutputs().isEmpty(); };
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(12, 12, 12, 12);
    if (isVideo) {
        auto* video = new QVideoWidget(this);
        m_player->setVideoOutput(video);
        layout->addWidget(video, 1);
    } else {
        auto* icon = new FileThumbnailView(this);
        icon->setFile(path, false, 128);
        layout->addStretch(1);
        layout->addWidget(icon, 0, Qt::AlignCenter);
        auto* name = new QLabel(QFileInfo(path).fileName(), this);
        name->setAlignment(Qt::AlignCenter);
        layout->addWidget(name);
        layout->addStretch(1);
    }
    m_error = new QLabel(this);
    m_error->setObjectName(QStringLiteral("mediaError"));
    m_error->setAlignment(Qt::AlignCenter);
    m_error->setWordWrap(true);
    m_error->setTextFormat(Qt::PlainText);
    m_error->hide();
    layout->addWidget(m_error);
    m_noSound = new QLabel(this);
    m_noSound->setObjectName(QStringLiteral("mediaNoSound"));
    m_noSound->setAlignment(Qt::AlignCenter);
    m_noSound->setWordWrap(true);
    m_noSound->setForegroundRole(QPalette::PlaceholderText);
    m_noSound->hide();
    layout->addWidget(m_noSound);
    auto* controls = new QHBoxLayout;
    m_play = new QPushButton(style()->standardIcon(QStyle::SP_MediaPlay), QString(), this);
    m_play->setToolTip(QStringLiteral("Play"));
    m_position = new QSlider(Qt::Horizontal, this);
    m_position->setAccessibleName(QStringLiteral("Position"));
    m_time = new QLabel(clockText(0) + QStringLiteral(" / ") + clockText(0), this);
    controls->addWidget(m_play);
    controls->addWidget(m_position, 1);
    controls->addWidget(m_time);
    layout->addLayout(controls);

    m_player->setAudioOutput(m_audio);
    // The player's backend opens its source on this thread: a FIFO named like a film would hold it.
    openMediaFile(
        path, this, [this](const QUrl& source) { m_player->setSource(source); },
        [this](const QString& reason) { showError(reason + QLatin1Char('.')); });
    connect(m_play, &QPushButton::clicked, this, [this] {
        if (m_player->playbackState() == QMediaPlayer::PlayingState)
            m_player->pause();
        else
            m_player->play();
    });
    connect(m_player, &QMediaPlayer::playbackStateChanged, this, [this](QMediaPlayer::PlaybackState state) {
        const bool playing = state == QMediaPlayer::PlayingState;
        m_play->setIcon(style()->standardIcon(playing ? QStyle::SP_MediaPause : QStyle::SP_MediaPlay));
        m_play->setToolTip(playing ? QStringLiteral("Pause") : QStringLiteral("Play"));
    });
    connect(m_player, &QMediaPlayer::durationChanged, this, [this](qint64 duration) {
        m_position->setRange(0, int(duration));
        updateTime();
    });
    connect(m_player, &QMediaPlayer::positionChanged, this, [this](qint64 position) {
        if (!m_position->isSliderDown())
            m_position->setValue(int(position));
        updateTime();
    });
    connect(m_position, &QSlider::sliderMoved, m_player, &QMediaPlayer::setPosition);
    // A play button that does nothing would be worse than none: say why the file cannot play.
    connect(m_player, &QMediaPlayer::errorOccurred, this, [this](QMediaPlayer::Error, const QString& message) {
        showError(message);
    });
    connect(m_player, &QMediaPlayer::mediaStatusChanged, this, [this](QMediaPlayer::MediaStatus status) {
        if (status == QMediaPlayer::InvalidMedia)
            showError(m_player->errorString());
    });
    auto* devices = new QMediaDevices(this);
    connect(devices, &QMediaDevices::audioOutputsChanged, this, &MediaPreviewView::soundOutputsChanged);
    soundOutputsChanged();
}

void MediaPreviewView::soundOutputsChanged()
{
    const bool audible = m_hasSoundOutput();
    if (audible)
        m_audio->setDevice(QMediaDevices::defaultAudioOutput());
    // Playing on silently would look as if all were well. A video still has its picture.
    m_noSound->setText(audible ? QString()
                               : m_isVideo ? QStringLiteral("No sound output is available: the video plays without sound.")
                                           : QStringLiteral("No sound output is available, so this file can't be heard."));
    m_noSound->setVisible(!audible);
    if (!audible && !m_isVideo)
        m_player->pause();
    m_play->setEnabled(playable());
    m_position->setEnabled(playable());
}

bool MediaPreviewView::playable() const { return !m_failed && (m_isVideo || m_hasSoundOutput()); }

QAbstractButton* MediaPreviewView::playButton() const { return m_play; }

QString MediaPreviewView::noSoundText() const { return m_noSound->isVisibleTo(this) ? m_noSound->text() : QString(); }

void MediaPreviewView::showError(const QString& reason)
{
    m_error->setText(cannotPlayText(reason.isEmpty() ? QStringLiteral("the format is not supported.") : reason));
    m_error->show();
    m_failed = true;
    m_play->setEnabled(false);
    m_position->setEnabled(false);
}

QString MediaPreviewView::errorText() const { return m_error->isVisibleTo(this) ? m_error->text() : QString(); }

MediaPreviewView::~MediaPreviewView() { m_player->stop(); }

void MediaPreviewView::updateTime()
{
    m_time->setText(clockText(m_player->position()) + QStringLiteral(" / ") + clockText(m_player->duration()));
}

// ------------------------------------------------------------------------------------------------ entries

EntryListView::EntryListView(QWidget* parent)
    : QWidget(parent)
    , m_tree(new QTreeWidget(this))
    , m_status(new QLabel(QStringLiteral("Loading…"), this))
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(8, 8, 8, 0);
    m_tree->setColumnCount(2);
    m_tree->setHeaderHidden(true);
    m_tree->setRootIsDecorated(false);
    m_tree->setUniformRowHeights(true);
    m_tree->setFrameShape(QFrame::NoFrame);
    m_tree->setIconSize(QSize(20, 20));
    m_tree->header()->setStretchLastSection(false);
    m_tree->header()->setSectionResizeMode(0, QHeaderView::Stretch);
    // A fixed size column: measuring thousands of rows on every insertion would stall the window.
    m_tree->header()->setSectionResizeMode(1, QHeaderView::Fixed);
    m_tree->header()->resizeSection(1, fontMetrics().horizontalAdvance(QStringLiteral("999.9 MB")) + 16);
    m_tree->setTextElideMode(Qt::ElideMiddle);
    m_status->setAlignment(Qt::AlignCenter);
    m_status->setForegroundRole(QPalette::PlaceholderText);
    layout->addWidget(m_tree, 1);
    layout->addWidget(m_status, 1);
    m_tree->hide();
    connect(&IconFiles::instance(), &IconFiles::loaded, this, [this](const QString& name) {
        for (qsizetype i = 0; i < m_next; ++i) {
            if (m_pending.entries[i].iconName == name)
                m_tree->topLevelItem(int(i))->setIcon(0, entryIcon(m_pending.entries[i]));
        }
    });
}

void EntryListView::setListing(const PreviewListing& listing)
{
    m_loaded = true;
    if (listing.entries.isEmpty()) {
        m_status->setText(QStringLiteral("No items"));
        return;
    }
    m_pending = listing;
    m_next = 0;
    m_status->hide();
    m_tree->show();
    appendRows();
}

QIcon EntryListView::entryIcon(const PreviewEntry& entry)
{
    if (const auto it = m_icons.constFind(entry.iconName); it != m_icons.cend())
        return *it;
    // Until the theme's files for the name are checked, the icon by the entry's type stands in.
    const std::optional<QIcon> themed = IconFiles::instance().themeIcon(entry.iconName);
    const QIcon icon = themed && !themed->isNull() ? *themed : fileIcon(entry.path, entry.isDirectory);
    if (themed)
        m_icons.insert(entry.iconName, icon);
    return icon;
}

void EntryListView::appendRows()
{
    // A few hundred rows per turn of the event loop, so a long listing never holds up the window.
    constexpr qsizetype rowsPerTurn = 250;
    const qsizetype end = std::min(m_next + rowsPerTurn, m_pending.entries.size());
    QList<QTreeWidgetItem*> rows;
    rows.reserve(end - m_next + 1);
    const QBrush secondary = palette().brush(QPalette::PlaceholderText);
    for (; m_next < end; ++m_next) {
        const PreviewEntry& entry = m_pending.entries[m_next];
        auto* row = new QTreeWidgetItem({entry.name, entry.size ? byteCountText(*entry.size) : QString()});
        row->setIcon(0, entryIcon(entry));
        row->setToolTip(0, entry.path);
        row->setTextAlignment(1, Qt::AlignRight | Qt::AlignVCenter);
        row->setForeground(1, secondary);
        rows.append(row);
    }
    if (m_next == m_pending.entries.size() && m_pending.moreCount > 0) {
        auto* more = new QTreeWidgetItem({moreEntriesText(m_pending.moreCount), QString()});
        more->setForeground(0, secondary);
        more->setFlags(Qt::ItemIsEnabled);
        rows.append(more);
    }
    m_tree->addTopLevelItems(rows);
    if (m_next < m_pending.entries.size())
        QTimer::singleShot(0, this, &EntryListView::appendRows);
}

// ------------------------------------------------------------------------------------------------ fallback

FallbackPreviewView::FallbackPreviewView(const QString& path, QWidget* parent)
    : QWidget(parent)
    , m_icon(new FileThumbnailView(this))
    , m_name(new QLabel(QFileInfo(path).fileName(), this))
    , m_facts(new QLabel(this))
{
    auto* layout = new QVBoxLayout(this);
    layout->addStretch(1);
    m_icon->setFile(path, false, 128);
    layout->addWidget(m_icon, 0, Qt::AlignCenter);
    QFont bold = m_name->font();
    bold.setPointSizeF(bold.pointSizeF() * 1.3);
    bold.setBold(true);
    m_name->setFont(bold);
    m_name->setAlignment(Qt::AlignCenter);
    m_name->setWordWrap(true);
    m_facts->setAlignment(Qt::AlignCenter);
    m_facts->setForegroundRole(QPalette::PlaceholderText);
    layout->addWidget(m_name);
    layout->addWidget(m_facts);
    layout->addStretch(1);
}

void FallbackPreviewView::setFacts(const FileFacts& facts)
{
    QStringList lines;
    if (!facts.typeDescription.isEmpty())
        lines << facts.typeDescription;
    if (facts.size)
        lines << byteCountText(*facts.size);
    if (facts.modified.isValid())
        lines << QStringLiteral("Modified ") + QLocale().toString(facts.modified, QLocale::LongFormat);
    m_facts->setText(lines.join(QLatin1Char('\n')));
}

} // namespace lumra
