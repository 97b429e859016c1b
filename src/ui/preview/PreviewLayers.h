#pragma once

#include "ui/preview/PreviewContent.h"

#include <QColor>
#include <QHash>
#include <QIcon>
#include <QImage>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QTextEdit>
#include <QWidget>

#include <atomic>
#include <functional>
#include <memory>

class QAbstractButton;
class QAudioOutput;
class QLabel;
class QMediaPlayer;
class QPushButton;
class QSlider;
class QTimer;
class QToolButton;
class QTreeWidget;

namespace lumra {

class FileThumbnailView;
class RegularFile;

namespace image {
class ImageDecoder;
}

// Our preview layer: one widget per kind of content. Anything read from disk or decoded arrives
// later from a worker; until then a layer shows that it is loading.

// A picture fitted into the area, never scaled up; "Loading…" until the decoded image arrives.
class ImagePreviewView : public QWidget {
    Q_OBJECT
public:
    explicit ImagePreviewView(QWidget* parent = nullptr);
    void setImage(const QImage& image);
    void setFailed();
    bool hasImage() const { return !m_image.isNull(); }
    const QImage& image() const { return m_image; }
    // A line of `color` around the image where it is shown (none while invalid): drawn as it is
    // painted, so the image itself is never copied for it.
    void setEdge(const QColor& color);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QImage m_image;
    QPixmap m_scaled; // the image at the size last painted
    QColor m_edge;
    bool m_failed = false;
};

// A text document built off the window's thread, handed to it when done.
struct BuiltDocument {
    std::unique_ptr<QTextDocument> document; // none when it could not be made, or was no longer wanted
    bool laidOutByLine = false;              // for a PlainTextView (see RichTextHost::read)
};

// Formatted text from RTF, read-only but selectable.
// Stored RTF comes from the clipboard, other computers and backups, megabytes of it: it is read on
// a worker thread (read()) and shown when done (setContent()).
class RichTextHost : public QTextEdit {
    Q_OBJECT
public:
    explicit RichTextHost(QWidget* parent = nullptr);

    using Read = BuiltDocument;
    // On a worker thread. A document longer than `lineByLineBeyond` characters (when >= 0) comes
    // ready for a PlainTextView in `font`: one laid out whole would hold the window's thread for
    // seconds. Its paragraphs keep their character formats, not their alignment or indents.
    static std::shared_ptr<Read> read(const QByteArray& rtfData, qsizetype lineByLineBeyond = -1, const QFont& font = {});
    // `fallback` is shown when the RTF could not be read (it nests too deep, say).
    void setContent(const std::shared_ptr<Read>& read, const QString& fallback);
};

// Plain text, selectable, laid out a line at a time as it comes into view, so a text of any length
// costs the window's thread what it shows. A long text's document is built by a worker (build())
// and handed over (setBuilt()).
class PlainTextView : public QPlainTextEdit {
    Q_OBJECT
public:
    // Texts up to this length are built where they are shown: sooner than a round trip to a worker.
    static constexpr qsizetype builtInPlace = 64 * 1024;

    // In the system font at `fontSize` pixels (0: the system's size); `lineSpacing` > 0 adds that
    // many pixels between lines.
    PlainTextView(double fontSize, int lineSpacing, QWidget* parent = nullptr);
    // A long document is freed by a worker: its paragraphs, one by one, would hold the window's thread.
    ~PlainTextView() override;

    // On any thread: the document for `text` as a view with this font and spacing shows it; none
    // when `cancelled` is set before it is done.
    static std::shared_ptr<BuiltDocument> build(const QString& text, const QFont& font, int lineSpacing,
                                                const std::atomic_bool* cancelled = nullptr);
    // Shows `text` built here; only for short texts.
    void setText(const QString& text);
    // Shows a document build() or RichTextHost::read() made; nothing when there is none.
    void setBuilt(const std::shared_ptr<BuiltDocument>& built);
    int lineSpacing() const { return m_lineSpacing; }

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    int m_lineSpacing = 0;
    QTimer* m_rewrap = nullptr;
};

// A PDF one page at a time, as the decoder program draws it from the open file: Lumra never reads
// or parses a PDF. Page Down, Page Up, the arrow keys, Home and End or the buttons turn the pages;
// the page shown stays until the next one is drawn.
class PdfPreviewView : public QWidget {
    Q_OBJECT
public:
    // What a worker brings: the file, kept open for the next pages, and a page or why there is none.
    struct Drawn {
        std::shared_ptr<const RegularFile> file;
        int page = 0;
        int pageCount = 0;
        QImage image;
        QString message;
    };
    // On a worker thread. `file` null: `path` is opened, only as a regular file (a FIFO named like
    // a PDF would hold the worker in open()). `decoder` null: the shared display programs.
    static Drawn draw(const QString& path, std::shared_ptr<const RegularFile> file, int page, int pixelBound,
                      image::ImageDecoder* decoder = nullptr);

    // Until setDrawn() brings the first page it says it is loading.
    PdfPreviewView(const QString& path, int pixelBound, QWidget* parent = nullptr, image::ImageDecoder* decoder = nullptr);
    void setDrawn(const Drawn& drawn);
    // Asks for a page (from 0); the last one asked is the one shown.
    void showPage(int page);
    int page() const { return m_page; } // the one shown, -1 before any
    int pageCount() const { return m_pageCount; }
    QImage pageImage() const { return m_image; }
    // What the pane says instead of pages when the file can't be shown as a PDF; empty otherwise.
    QString message() const;

signals:
    void pageShown(int page);

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    void showMessage(const QString& text);
    void drawNext();

    QString m_path;
    int m_pixelBound = 0;
    image::ImageDecoder* m_decoder = nullptr;
    std::shared_ptr<const RegularFile> m_file;
    ImagePreviewView* m_view = nullptr;
    QLabel* m_pageLabel = nullptr;
    QToolButton* m_previous = nullptr;
    QToolButton* m_next = nullptr;
    QLabel* m_message = nullptr;
    QImage m_image;
    int m_page = -1;
    int m_pageCount = 0;
    int m_wanted = -1;
    bool m_drawing = false;
};

// Audio and video files: the picture (for video), a play button, a position slider and the time.
class MediaPreviewView : public QWidget {
    Q_OBJECT
public:
    // `hasSoundOutput` tells whether the computer has a device to play sound on (asked again when
    // the devices change); by default Qt Multimedia's list of audio outputs.
    MediaPreviewView(const QString& path, bool isVideo, QWidget* parent = nullptr,
                     std::function<bool()> hasSoundOutput = {});
    ~MediaPreviewView() override;
    QMediaPlayer* player() const { return m_player; }
    QAbstractButton* playButton() const;
    // "This file can't be played: …" once the player has failed; empty until then.
    QString errorText() const;
    // What the view says while no sound can be heard; empty while there is a sound output.
    QString noSoundText() const;
    // Looks for a sound output again: a device plugged in or removed.
    void soundOutputsChanged();

private:
    void updateTime();
    void showError(const QString& reason);
    bool playable() const;

    QMediaPlayer* m_player = nullptr;
    QAudioOutput* m_audio = nullptr;
    QPushButton* m_play = nullptr;
    QSlider* m_position = nullptr;
    QLabel* m_time = nullptr;
    QLabel* m_error = nullptr;
    QLabel* m_noSound = nullptr;
    std::function<bool()> m_hasSoundOutput;
    bool m_isVideo = false;
    bool m_failed = false;
};

// Folder contents or the files of an item: icon, name, size; capped, with an "and N more" row.
class EntryListView : public QWidget {
    Q_OBJECT
public:
    explicit EntryListView(QWidget* parent = nullptr);
    void setListing(const PreviewListing& listing);
    QTreeWidget* tree() const { return m_tree; }
    bool isLoaded() const { return m_loaded; }

private:
    void appendRows();
    QIcon entryIcon(const PreviewEntry& entry);

    QTreeWidget* m_tree = nullptr;
    QLabel* m_status = nullptr;
    bool m_loaded = false;
    PreviewListing m_pending;
    qsizetype m_next = 0;
    QHash<QString, QIcon> m_icons;
};

// Any other file: its thumbnail or icon, name, kind, size and modification date.
class FallbackPreviewView : public QWidget {
    Q_OBJECT
public:
    explicit FallbackPreviewView(const QString& path, QWidget* parent = nullptr);
    void setFacts(const FileFacts& facts);

private:
    FileThumbnailView* m_icon = nullptr;
    QLabel* m_name = nullptr;
    QLabel* m_facts = nullptr;
};

} // namespace lumra
