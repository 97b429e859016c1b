#include "ui/shell/PopupPanel.h"
#include "engine/ItemMedia.h"
#include "ui/shell/Prompt.h"
#include "model/store/StoreSchema.h"
#include "platform/core/Folders.h"
#include "platform/richtext/RtfCodec.h"
#include "platform/sound/MediaProbe.h"
#include "platform/workspace/FileManager.h"
#include "ui/preview/PreviewCoordinator.h"
#include "ui/preview/PreviewLayers.h"
#include "ui/preview/UnifiedPreviewWindow.h"
#include "platform/files/IconFiles.h"
#include "ui/items/ShowInFileManager.h"

#include "BytesRead.h"
#include "EngineFixture.h"
#include "FifoWatchdog.h"
#include "HeldLane.h"
#include "TestIconTheme.h"
#include "FocusTakingPrompts.h"
#include "TestImages.h"
#include "Screenshots.h"
#include "TestMedia.h"

#include <gtest/gtest.h>

#include <atomic>

#include <QApplication>
#include <QBuffer>
#include <QCheckBox>
#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLabel>
#include <QMediaPlayer>
#include <QPainter>
#include <QPdfWriter>
#include <QPushButton>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTest>
#include <QPlainTextEdit>
#include <QTextBlock>
#include <QTextEdit>
#include <QTextLayout>
#include <QThread>
#include <QTreeWidget>

using namespace lumra;

namespace {

// The document a text preview shows, in whichever view shows it.
QTextDocument* shownDocument(QWidget* content)
{
    if (auto* rich = qobject_cast<QTextEdit*>(content))
        return rich->document();
    if (auto* plain = qobject_cast<QPlainTextEdit*>(content))
        return plain->document();
    return nullptr;
}

QString shownText(QWidget* content)
{
    const QTextDocument* document = shownDocument(content);
    return document ? document->toPlainText() : QStringLiteral("(no text view)");
}

void writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

QByteArray photo(QSize size)
{
    QImage image(size, QImage::Format_RGB32);
    QPainter painter(&image);
    QLinearGradient gradient(0, 0, size.width(), size.height());
    gradient.setColorAt(0, QColor(40, 90, 200));
    gradient.setColorAt(1, QColor(240, 180, 60));
    painter.fillRect(image.rect(), gradient);
    painter.setBrush(Qt::white);
    painter.drawEllipse(image.rect().center(), size.width() / 6, size.height() / 6);
    painter.end();
    return lumra::test::pngBytes(image);
}

void writePdf(const QString& path)
{
    QPdfWriter writer(path);
    writer.setPageSize(QPageSize(QPageSize::A5));
    QPainter painter(&writer);
    QFont font = painter.font();
    font.setPointSize(28);
    painter.setFont(font);
    painter.drawText(QRect(0, 0, writer.width(), writer.height() / 3), Qt::AlignCenter, QStringLiteral("Quarterly report"));
    painter.drawRect(writer.width() / 8, writer.height() / 2, writer.width() * 3 / 4, writer.height() / 4);
}

class UnifiedPreviewWindowTest : public test::EngineTest {
protected:
    void SetUp() override
    {
        manager = start();
        PromptService::setShared(&prompts);
        FileManager::setShared(&fileManager);
        folder = dataDir.root() + QStringLiteral("/files");
        QDir().mkpath(folder);
    }
    void TearDown() override
    {
        coordinator.reset();
        PromptService::setShared(nullptr);
        FileManager::setShared(nullptr);
    }

    ClipboardItem fileItem(const QStringList& paths)
    {
        ClipboardItem item;
        item.contentType = ClipboardContentType::file;
        QStringList urls;
        QList<bool> dirs;
        QJsonArray bookmarks;
        for (const QString& path : paths) {
            const QUrl url = QUrl::fromLocalFile(path);
            urls << url.toString();
            dirs << QFileInfo(path).isDir();
            bookmarks << ItemMedia::fileBookmarkString(url);
        }
        item.fileURLStrings = urls;
        item.fileURLIsDirectory = dirs;
        const QString json = QString::fromUtf8(QJsonDocument(bookmarks).toJson(QJsonDocument::Compact));
        return test::insertItem(*manager, item, [json](store::ManagedObject& row) {
            row.set(store::ItemAttr::fileBookmarksJSON, json);
        });
    }

    // Opens the preview, waits for its animation and its workers, and saves its picture.
    UnifiedPreviewWindow* show(const ClipboardItem& item, const QString& artifact)
    {
        coordinator->showUnifiedPreview(item, *manager);
        UnifiedPreviewWindow* panel = coordinator->panel();
        if (!panel)
            return nullptr;
        // The bound is reached only when the preview never loads, however busy the machine.
        EXPECT_TRUE(QTest::qWaitFor([&] { return panel->isLoaded() && panel->windowOpacity() == 1.0; }, 60000));
        QTest::qWait(50);
        const QString dir = qEnvironmentVariable("LUMRA_BUILD_DIR", QDir::currentPath()) + QStringLiteral("/artifacts");
        QDir().mkpath(dir);
        panel->grab().save(dir + QStringLiteral("/preview-") + artifact + QStringLiteral(".png"));
        return panel;
    }

    void closeAndWait()
    {
        coordinator->closePreviewAnimated();
        ASSERT_TRUE(QTest::qWaitFor([&] { return !coordinator->panel(); }, 60000));
    }

    std::unique_ptr<ClipboardManager> manager;
    std::unique_ptr<UnifiedPreviewCoordinator> coordinator = std::make_unique<UnifiedPreviewCoordinator>(&clock);
    ScriptedPromptService prompts;
    RecordingFileManager fileManager;
    QString folder;
};

// Rich text the reader refuses (nested deeper than it reads) shows the item's plain text, with
// and without its formatting.
TEST_F(UnifiedPreviewWindowTest, RichTextThatCannotBeReadShowsThePlainText)
{
    ClipboardItem deep = test::textItem(QStringLiteral("words under deep nesting"), clock.now());
    deep.rtfData = "{\\rtf1\\ansi " + QByteArray(RichText::kMaxGroupDepth + 10, '{') + "words under deep nesting"
        + QByteArray(RichText::kMaxGroupDepth + 10, '}') + "}";
    deep = test::insertItem(*manager, deep);
    deep.leaveOutRichText();
    for (const bool original : {true, false}) {
        SCOPED_TRACE(original);
        manager->userDefaults().set(UnifiedPreviewWindow::showOriginalStyleKey, original);
        UnifiedPreviewWindow* panel = show(deep, QStringLiteral("rich-text-refused"));
        ASSERT_TRUE(panel);
        EXPECT_EQ(shownText(panel->contentWidget()), QStringLiteral("words under deep nesting"));
        closeAndWait();
    }
}

// Stored RTF (from other computers and backups too, megabytes of it) is taken from the store and
// read by a worker: the window shows before the text is in it.
TEST_F(UnifiedPreviewWindowTest, StoredRichTextIsReadOffTheWindowsThread)
{
    ClipboardItem rich = test::textItem(QStringLiteral("Bold and plain"), clock.now());
    rich.rtfData = QByteArray("{\\rtf1\\ansi\\b Bold\\b0  and plain}");
    rich = test::insertItem(*manager, rich);
    rich.leaveOutRichText();
    for (const bool original : {true, false}) {
        SCOPED_TRACE(original);
        manager->userDefaults().set(UnifiedPreviewWindow::showOriginalStyleKey, original);
        test::HeldLane held(manager->work(), BackgroundWork::Lane::previews);
        coordinator->showUnifiedPreview(rich, *manager);
        UnifiedPreviewWindow* panel = coordinator->panel();
        ASSERT_TRUE(panel);
        QPointer<QWidget> view = panel->contentWidget();
        ASSERT_TRUE(shownDocument(view));
        EXPECT_TRUE(shownText(view).isEmpty()) << "read on the window's thread";
        ASSERT_TRUE(panel->bridge().textContent && panel->bridge().textContent->richText);
        EXPECT_FALSE(panel->bridge().textContent->richText->wasRead()) << "taken from the store on the window's thread";
        held.release();
        EXPECT_TRUE(QTest::qWaitFor([&] { return panel->isLoaded(); }, 10000));
        ASSERT_TRUE(view);
        EXPECT_EQ(shownText(view), QStringLiteral("Bold and plain"));
        closeAndWait();
    }
}

// A long text (a log of megabytes, a long report) is put into its document by a worker and laid
// out a line at a time as it comes into view: the window's thread never takes the whole of it,
// nor frees it. Closed before the worker starts, the preview leaves it nothing to bring.
TEST_F(UnifiedPreviewWindowTest, ALongTextIsBuiltOffTheWindowsThreadAndLaidOutAsShown)
{
    QString log;
    QByteArray rtf = "{\\rtf1\\ansi ";
    for (int i = 0; log.size() <= 3 * PlainTextView::builtInPlace; ++i) {
        log += QStringLiteral("13:%1 request %2 served\n").arg(i % 60).arg(i);
        rtf += "13:" + QByteArray::number(i % 60) + " request {\\b " + QByteArray::number(i) + "} served\\par ";
    }
    rtf += '}';
    ClipboardItem plain = test::insertItem(*manager, test::textItem(log, clock.now()));
    ClipboardItem rich = test::textItem(log, clock.now());
    rich.rtfData = rtf;
    rich = test::insertItem(*manager, rich);
    rich.leaveOutRichText();
    for (const ClipboardItem& item : {plain, rich}) {
        for (const bool original : {true, false}) {
            SCOPED_TRACE(testing::Message() << item.hasRichText() << original);
            manager->userDefaults().set(UnifiedPreviewWindow::showOriginalStyleKey, original);
            test::HeldLane held(manager->work(), BackgroundWork::Lane::previews);
            coordinator->showUnifiedPreview(item, *manager);
            UnifiedPreviewWindow* panel = coordinator->panel();
            ASSERT_TRUE(panel);
            ASSERT_TRUE(shownDocument(panel->contentWidget()));
            EXPECT_TRUE(shownText(panel->contentWidget()).isEmpty()) << "built on the window's thread";
            held.release();
            ASSERT_TRUE(QTest::qWaitFor([&] { return panel->isLoaded(); }, 60000));
            QCoreApplication::processEvents(); // the content swapped in
            QTextDocument* document = shownDocument(panel->contentWidget());
            ASSERT_TRUE(document);
            EXPECT_EQ(document->toPlainText().trimmed(), log.trimmed());
            panel->grab();
            // The first page and the last (for the scroll bar's end), not the thousands between.
            int laidOut = 0;
            for (QTextBlock block = document->begin(); block.isValid(); block = block.next())
                laidOut += block.layout() && block.layout()->lineCount() > 0 ? 1 : 0;
            EXPECT_GT(document->blockCount(), 5000);
            EXPECT_LT(laidOut, 200) << "laid out beyond what is shown";
            EXPECT_TRUE(document->firstBlock().layout() && document->firstBlock().layout()->lineCount() > 0);
            // Resized step by step (the window's opening and closing animate its size), it is wrapped
            // anew once the size settles, not at each step: every one is a pass over all paragraphs.
            auto* view = qobject_cast<QPlainTextEdit*>(panel->contentWidget());
            ASSERT_TRUE(view);
            const QTextLayout* first = document->firstBlock().layout();
            for (int step = 1; step <= 4; ++step) {
                view->resize(view->width() - 10, view->height());
                EXPECT_GT(first->lineCount(), 0) << "wrapped anew at step " << step;
            }
            const auto wrappedToView = [&] {
                return first->lineCount() > 0
                    && first->lineAt(0).width() == view->viewport()->width() - 2 * document->documentMargin();
            };
            EXPECT_TRUE(QTest::qWaitFor(wrappedToView, 20000)) << "never wrapped to the view's width";
            // Closed, its paragraphs are freed by a worker too.
            auto freed = std::make_shared<std::atomic_int>(0); // 1: on the window's thread, 2: off it
            QObject::connect(document, &QObject::destroyed, [freed, window = QThread::currentThread()] {
                freed->store(QThread::currentThread() == window ? 1 : 2);
            });
            closeAndWait();
            ASSERT_TRUE(QTest::qWaitFor([&] { return freed->load() != 0; }, 60000));
            EXPECT_EQ(freed->load(), 2) << "freed on the window's thread";
        }
    }

    // Closed while its worker waits: the work is dropped, and nothing comes to the closed window.
    {
        test::HeldLane held(manager->work(), BackgroundWork::Lane::previews);
        coordinator->showUnifiedPreview(plain, *manager);
        closeAndWait();
    }
    ASSERT_TRUE(QTest::qWaitFor([&] { return manager->work().busyLanes().isEmpty(); }, 60000));
    QCoreApplication::processEvents();
    EXPECT_FALSE(coordinator->panel());
}

// A FIFO copied as a file under a document's name: the preview neither waits for a writer on
// the window's thread nor leaves a worker waiting for one.
TEST_F(UnifiedPreviewWindowTest, FilesThatAreFifosShowAsUnreadableWithoutWaiting)
{
    for (const char* name : {"report.pdf", "diagram.png", "notes.txt"}) {
        SCOPED_TRACE(name);
        const QString path = folder + QLatin1Char('/') + QLatin1String(name);
        test::FifoWatchdog fifo(path);
        ASSERT_TRUE(fifo.made());
        UnifiedPreviewWindow* panel = show(fileItem({path}), QStringLiteral("fifo-") + QFileInfo(path).suffix());
        ASSERT_TRUE(panel);
        EXPECT_TRUE(panel->isLoaded());
        EXPECT_FALSE(fifo.tripped()) << "the preview opened the FIFO";
        if (auto* pdf = qobject_cast<PdfPreviewView*>(panel->contentWidget()))
            EXPECT_EQ(pdf->message(), QStringLiteral("This file can't be opened: not a regular file"));
        closeAndWait();
    }
}

// A folder's entries show their types' icons from the theme; a FIFO planted where the theme keeps
// one of them is never opened, before or after the theme's files were checked.
TEST_F(UnifiedPreviewWindowTest, AFolderListsItsEntriesWhileATypeIconInTheThemeIsAFifo)
{
    test::TestIconTheme theme;
    const test::FifoWatchdog& planted = theme.fifo(QStringLiteral("text-plain"));
    const QString project = folder + QStringLiteral("/listed");
    QDir().mkpath(project);
    writeFile(project + QStringLiteral("/notes.txt"), QByteArray("minutes"));
    UnifiedPreviewWindow* panel = show(fileItem({project}), QStringLiteral("folder-theme-fifo"));
    ASSERT_TRUE(panel);
    auto* tree = qobject_cast<EntryListView*>(panel->contentWidget())->tree();
    ASSERT_EQ(tree->topLevelItemCount(), 1);
    tree->grab();
    ASSERT_TRUE(QTest::qWaitFor([] { return IconFiles::instance().themeIcon(QStringLiteral("text-plain")).has_value(); }, 5000));
    QCoreApplication::processEvents();
    tree->grab();
    EXPECT_FALSE(planted.tripped()) << "the listing opened the FIFO";
    closeAndWait();
}

} // namespace

TEST_F(UnifiedPreviewWindowTest, EachKindOfItemShowsInItsOwnLayer)
{
    // Plain text, with the formatting switch; comments show under the content.
    ClipboardItem text = test::textItem(QStringLiteral("Meeting notes\n\n- ship the preview\n- review drag-out"), clock.now());
    text.comment = QStringLiteral("From the Monday call");
    text = test::insertItem(*manager, text);
    UnifiedPreviewWindow* panel = show(text, QStringLiteral("text"));
    ASSERT_TRUE(panel);
    EXPECT_EQ(panel->bridge().kind, QStringLiteral("Text"));
    EXPECT_TRUE(panel->bridge().url.toLocalFile().startsWith(Folders::privateTempFolder().value() + QLatin1Char('/')))
        << panel->bridge().url.toString().toStdString();
    ASSERT_TRUE(panel->originalStyleToggle());
    EXPECT_TRUE(panel->originalStyleToggle()->isChecked());
    EXPECT_FALSE(panel->revealButton());
    EXPECT_EQ(shownText(panel->contentWidget()), *text.textContent);
    panel->originalStyleToggle()->setChecked(false); // stored for every later preview
    EXPECT_EQ(manager->userDefaults().losslessBool(UnifiedPreviewWindow::showOriginalStyleKey), false);
    EXPECT_EQ(shownText(panel->contentWidget()), *text.textContent);
    EXPECT_TRUE(QTest::qWaitFor([&] { return panel->findChildren<PlainTextView*>().size() == 1; }, 10000));
    // Four lines, spaced out, fit without a scroll bar.
    EXPECT_TRUE(QTest::qWaitFor([&] { return !panel->findChild<PlainTextView*>()->verticalScrollBar()->isVisible(); }, 10000));
    panel->grab().save(qEnvironmentVariable("LUMRA_BUILD_DIR", QDir::currentPath())
                       + QStringLiteral("/artifacts/preview-text-unformatted.png"));
    closeAndWait();
    manager->userDefaults().set(UnifiedPreviewWindow::showOriginalStyleKey, true);

    ClipboardItem rich = test::textItem(QStringLiteral("Bold and blue"), clock.now());
    rich.rtfData = QByteArray("{\\rtf1\\ansi{\\colortbl;\\red0\\green0\\blue255;}\\b Bold\\b0  and \\cf1 blue\\cf0}");
    rich = test::insertItem(*manager, rich);
    rich.leaveOutRichText(); // the list's value: the preview reads the rich text from the store
    panel = show(rich, QStringLiteral("rich-text"));
    ASSERT_TRUE(panel);
    EXPECT_TRUE(qobject_cast<RichTextHost*>(panel->contentWidget()));
    EXPECT_EQ(panel->bridge().displayPath, QStringLiteral("Rich Text · 13 characters"));
    closeAndWait();

    // An image: its frame suits its size, its bytes land in the preview folder under a checked name.
    ClipboardItem image;
    image.contentType = ClipboardContentType::image;
    image.imageFileName = QStringLiteral("0123456789abcdef0123456789abcdef.png");
    image = test::insertItem(*manager, image, test::withImageData(photo(QSize(800, 500))));
    panel = show(image, QStringLiteral("image"));
    ASSERT_TRUE(panel);
    EXPECT_TRUE(qobject_cast<ImagePreviewView*>(panel->contentWidget())->hasImage());
    EXPECT_TRUE(panel->bridge().preferredFrame);
    EXPECT_TRUE(QFile::exists(panel->bridge().url.toLocalFile()));
    EXPECT_FALSE(panel->sizeLabel()->isHidden());
    // The footer names the picture, not Lumra's temporary file.
    EXPECT_EQ(panel->bridge().displayPath, QStringLiteral("Image · 800 × 500 pixels"));
    closeAndWait();

    const QString pdf = folder + QStringLiteral("/report.pdf");
    writePdf(pdf);
    panel = show(fileItem({pdf}), QStringLiteral("pdf"));
    ASSERT_TRUE(panel);
    EXPECT_EQ(panel->bridge().kind, QStringLiteral("File"));
    EXPECT_TRUE(qobject_cast<PdfPreviewView*>(panel->contentWidget()));
    ASSERT_TRUE(panel->revealButton());
    panel->revealButton()->click();
    EXPECT_EQ(fileManager.shown, QList<QList<QUrl>>{{QUrl::fromLocalFile(pdf)}});
    EXPECT_EQ(panel->sizeLabel()->text(), byteCountText(QFileInfo(pdf).size()));
    EXPECT_EQ(coordinator->heldFileAccessCount(), 1);
    closeAndWait();
    EXPECT_EQ(coordinator->heldFileAccessCount(), 0);

    const QString audio = folder + QStringLiteral("/voice memo.wav");
    writeFile(audio, test::wavOfSilence(2));
    panel = show(fileItem({audio}), QStringLiteral("audio"));
    ASSERT_TRUE(panel);
    auto* media = qobject_cast<MediaPreviewView*>(panel->contentWidget());
    ASSERT_TRUE(media);
    // The decoders are there: the file loads and knows its length.
    EXPECT_TRUE(QTest::qWaitFor([&] { return media->player()->duration() > 0 || !media->errorText().isEmpty(); }, 10000));
    EXPECT_NEAR(media->player()->duration(), 2000, 100) << media->errorText().toStdString();
    EXPECT_TRUE(media->errorText().isEmpty()) << media->errorText().toStdString();
    closeAndWait();

    // A file the player cannot read says so instead of offering a play button that does nothing.
    const QString broken = folder + QStringLiteral("/broken.mp3");
    writeFile(broken, QByteArray(4096, 'x'));
    panel = show(fileItem({broken}), QStringLiteral("audio-broken"));
    ASSERT_TRUE(panel);
    media = qobject_cast<MediaPreviewView*>(panel->contentWidget());
    ASSERT_TRUE(media);
    EXPECT_TRUE(QTest::qWaitFor([&] { return !media->errorText().isEmpty(); }, 10000));
    EXPECT_TRUE(media->errorText().startsWith(QStringLiteral("This file can't be played"))) << media->errorText().toStdString();
    panel->grab().save(qEnvironmentVariable("LUMRA_BUILD_DIR", QDir::currentPath()) + QStringLiteral("/artifacts/preview-audio-broken.png"));
    closeAndWait();

    // A folder lists its entries, folders first; several files list themselves.
    const QString project = folder + QStringLiteral("/project");
    QDir().mkpath(project + QStringLiteral("/src"));
    for (const char* name : {"README.md", "notes 2.txt", "notes 10.txt", "logo.svg"})
        writeFile(project + QLatin1Char('/') + QLatin1String(name), QByteArray(1500, 'x'));
    panel = show(fileItem({project}), QStringLiteral("folder"));
    ASSERT_TRUE(panel);
    EXPECT_EQ(panel->bridge().kind, QStringLiteral("Folder"));
    auto* tree = qobject_cast<EntryListView*>(panel->contentWidget())->tree();
    ASSERT_EQ(tree->topLevelItemCount(), 5);
    EXPECT_EQ(tree->topLevelItem(0)->text(0), QStringLiteral("src"));
    EXPECT_EQ(tree->topLevelItem(2)->text(0), QStringLiteral("notes 2.txt"));
    EXPECT_EQ(tree->topLevelItem(2)->text(1), QStringLiteral("2 KB"));
    closeAndWait();

    const QString other = folder + QStringLiteral("/archive.bin");
    writeFile(other, QByteArray(4096, 'z'));
    panel = show(fileItem({pdf, project, other}), QStringLiteral("files"));
    ASSERT_TRUE(panel);
    EXPECT_EQ(panel->bridge().kind, QStringLiteral("Files & Folders"));
    EXPECT_EQ(panel->bridge().displayPath, folder);
    closeAndWait();

    panel = show(fileItem({other}), QStringLiteral("other-file"));
    ASSERT_TRUE(panel);
    EXPECT_TRUE(qobject_cast<FallbackPreviewView*>(panel->contentWidget()));
    closeAndWait();
}

TEST_F(UnifiedPreviewWindowTest, ASecondRequestClosesAndThePopupIsHeldMeanwhile)
{
    PopupPanel popup(QSize(300, 300));
    popup.present(QPoint(0, 0));
    const ClipboardItem text = test::insertItem(*manager, test::textItem(QStringLiteral("hello"), clock.now()));

    coordinator->showUnifiedPreview(text, *manager);
    ASSERT_TRUE(coordinator->isPreviewVisible());
    EXPECT_GT(popup.holdCount(), 0);
    EXPECT_FALSE(popup.closesOnResignKey());

    coordinator->showUnifiedPreview(text, *manager); // toggles: closes
    EXPECT_TRUE(coordinator->isAnimatingClose());
    coordinator->showUnifiedPreview(text, *manager); // ignored while closing
    ASSERT_TRUE(QTest::qWaitFor([&] { return !coordinator->panel(); }, 3000));
    EXPECT_EQ(popup.holdCount(), 0);
    EXPECT_TRUE(popup.closesOnResignKey());
    EXPECT_TRUE(coordinator->isPreviewVisibleOrJustClosed());
    clock.advance(std::chrono::milliseconds(600));
    EXPECT_FALSE(coordinator->isPreviewVisibleOrJustClosed());
    const QDateTime now = clock.now();
    clock.setNow(now.addSecs(-3600));
    EXPECT_FALSE(coordinator->isPreviewVisibleOrJustClosed()) << "the clock was set back an hour";
    clock.setNow(now);

    // None of the files is left: the alert, the popup held while it is up, no window.
    const QString gone = folder + QStringLiteral("/gone.txt");
    writeFile(gone, "x");
    const ClipboardItem missing = fileItem({gone});
    QFile::remove(gone);
    coordinator->showUnifiedPreview(missing, *manager);
    ASSERT_EQ(prompts.shown.size(), 1);
    EXPECT_EQ(prompts.shown[0].title, QStringLiteral("Preview unavailable"));
    EXPECT_FALSE(coordinator->panel());
    EXPECT_EQ(popup.holdCount(), 0);
}

TEST_F(UnifiedPreviewWindowTest, ThePopupHasTheKeysAgainAfterThePreviewOrItsAlertIsGone)
{
    PopupPanel popup(QSize(300, 300));
    popup.present(QPoint(0, 0));
    QApplication::setActiveWindow(&popup);
    ASSERT_EQ(QApplication::activeWindow(), &popup);
    const ClipboardItem text = test::insertItem(*manager, test::textItem(QStringLiteral("hello"), clock.now()));

    coordinator->showUnifiedPreview(text, *manager);
    ASSERT_TRUE(coordinator->panel());
    ASSERT_TRUE(QTest::qWaitFor([&] { return QApplication::activeWindow() == coordinator->panel(); }, 3000));
    closeAndWait();
    EXPECT_TRUE(QTest::qWaitFor([&] { return QApplication::activeWindow() == &popup; }, 3000));

    test::FocusTakingPrompts prompts;
    PromptService::setShared(&prompts);
    const QString gone = folder + QStringLiteral("/gone.txt");
    writeFile(gone, "x");
    const ClipboardItem missing = fileItem({gone});
    QFile::remove(gone);
    coordinator->showUnifiedPreview(missing, *manager);
    EXPECT_EQ(prompts.titles, QStringList{QStringLiteral("Preview unavailable")});
    EXPECT_TRUE(QTest::qWaitFor([&] { return QApplication::activeWindow() == &popup; }, 3000));
}

// A PDF's pages come one at a time from the decoder program: the keys turn them, and a turn past
// either end stays where it is.
TEST_F(UnifiedPreviewWindowTest, PdfPagesTurnWithTheKeys)
{
    const QString path = folder + QStringLiteral("/slides.pdf");
    const QList<QColor> colours {QColor(200, 30, 30), QColor(30, 160, 60), QColor(40, 60, 200)};
    {
        QPdfWriter writer(path);
        QPainter painter(&writer);
        for (int i = 0; i < colours.size(); ++i) {
            if (i > 0)
                writer.newPage();
            painter.fillRect(QRect(0, 0, writer.width(), writer.height()), colours[i]);
        }
    }
    UnifiedPreviewWindow* panel = show(fileItem({path}), QStringLiteral("pdf-pages"));
    ASSERT_TRUE(panel);
    auto* view = qobject_cast<PdfPreviewView*>(panel->contentWidget());
    ASSERT_TRUE(view);
    const auto showsPage = [&](int page) {
        if (!QTest::qWaitFor([&] { return view->page() == page; }, 60000))
            return false;
        const QImage image = view->pageImage();
        const QColor middle = image.pixelColor(image.width() / 2, image.height() / 2);
        return std::abs(middle.red() - colours[page].red()) < 8 && std::abs(middle.blue() - colours[page].blue()) < 8;
    };
    EXPECT_TRUE(showsPage(0));
    EXPECT_EQ(view->pageCount(), 3);
    QTest::keyClick(view, Qt::Key_PageDown);
    EXPECT_TRUE(showsPage(1));
    QTest::keyClick(view, Qt::Key_End);
    EXPECT_TRUE(showsPage(2));
    int shown = 0;
    QObject::connect(view, &PdfPreviewView::pageShown, view, [&shown] { ++shown; });
    QTest::keyClick(view, Qt::Key_PageDown);
    QTest::keyClick(view, Qt::Key_Home);
    EXPECT_TRUE(showsPage(0));
    EXPECT_EQ(shown, 1);
    closeAndWait();
}

// The page the decoder drew is the one held and shown: its edge is drawn as it is painted, so no
// framed copy holds the page a second time.
TEST(PdfPreviewViewTest, APageIsHeldOnceAndShownWithItsEdge)
{
    PdfPreviewView view(QStringLiteral("/nowhere/page.pdf"), 1000);
    PdfPreviewView::Drawn drawn;
    drawn.pageCount = 1;
    drawn.image = QImage(300, 400, QImage::Format_RGB32);
    drawn.image.fill(Qt::white);
    view.setDrawn(drawn);
    auto* shown = view.findChild<ImagePreviewView*>();
    ASSERT_TRUE(shown);
    EXPECT_EQ(view.pageImage().constBits(), drawn.image.constBits());
    EXPECT_EQ(shown->image().constBits(), drawn.image.constBits());

    view.resize(600, 800); // room for the page at its own size
    view.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&view));
    QImage painted(shown->size(), QImage::Format_RGB32);
    painted.fill(QColor(100, 100, 100));
    shown->render(&painted);
    const QPoint corner((shown->width() - 300) / 2, (shown->height() - 400) / 2);
    // The edge: the page's white darkened a little, neither the paper nor what lies around it.
    for (const QPoint edge : {corner + QPoint(0, 200), corner + QPoint(150, 0)}) {
        EXPECT_LT(qRed(painted.pixel(edge)), 235);
        EXPECT_GT(qRed(painted.pixel(edge)), 150);
    }
    EXPECT_EQ(painted.pixel(corner + QPoint(2, 200)), qRgb(255, 255, 255));
    EXPECT_EQ(painted.pixel(corner + QPoint(150, 200)), qRgb(255, 255, 255));
}

// Text sized in pixels like the rows; an image file's size under its path; a ".pdf" that is no PDF
// says so instead of showing an empty pane.
TEST_F(UnifiedPreviewWindowTest, PreviewsOfFilesSayWhatTheyHold)
{
    const ClipboardItem text = test::insertItem(*manager, test::textItem(QStringLiteral("sized text"), clock.now()));
    UnifiedPreviewWindow* panel = show(text, QStringLiteral("text-size"));
    ASSERT_TRUE(panel);
    const QFont font = shownDocument(panel->contentWidget())->defaultFont();
    EXPECT_EQ(font.pixelSize(), qRound(manager->itemFontSize() * 1.2));
    closeAndWait();

    // However large the file, the decoder reads it, not Lumra.
    const QString picture = folder + QStringLiteral("/holiday.png");
    writeFile(picture, photo(QSize(300, 200)));
    ASSERT_TRUE(QFile::resize(picture, 250ll * 1024 * 1024)); // sparse: no room taken on disk
    const qint64 read = test::bytesReadDuring([&] { panel = show(fileItem({picture}), QStringLiteral("image-file")); });
    ASSERT_TRUE(panel);
    EXPECT_TRUE(qobject_cast<ImagePreviewView*>(panel->contentWidget())->hasImage());
    EXPECT_LT(read, 16 * 1024 * 1024);
    EXPECT_FALSE(panel->sizeLabel()->isHidden());
    EXPECT_EQ(panel->sizeLabel()->text(), byteCountText(QFileInfo(picture).size()));
    fileManager.available = false; // nothing shows files: the button says so
    panel->revealButton()->click();
    ASSERT_EQ(prompts.shown.size(), 1);
    EXPECT_EQ(prompts.shown[0].text, noFileManagerText(folder));
    closeAndWait();

    const QString notPdf = folder + QStringLiteral("/minutes.pdf");
    writeFile(notPdf, "these are plain notes saved under the wrong name\n");
    coordinator->showUnifiedPreview(fileItem({notPdf}), *manager);
    panel = coordinator->panel();
    ASSERT_TRUE(panel);
    auto* pdf = qobject_cast<PdfPreviewView*>(panel->contentWidget());
    ASSERT_TRUE(pdf);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !pdf->message().isEmpty(); }, 60000));
    EXPECT_EQ(pdf->message(), QStringLiteral("This file isn't a PDF that can be shown"));
    QTest::qWait(250);
    const QString dir = qEnvironmentVariable("LUMRA_BUILD_DIR", QDir::currentPath()) + QStringLiteral("/artifacts");
    panel->grab().save(dir + QStringLiteral("/preview-not-a-pdf.png"));
    closeAndWait();
}

// A FIFO named like a film or a song never reaches the player, whose backend would wait in its
// open() on this thread: the preview and the probe of a chosen sound say why instead.
TEST(MediaPreviewViewTest, AFifoNamedLikeAFilmOrASongIsNotHandedToThePlayer)
{
    QTemporaryDir folder;
    for (const char* name : {"movie.mp4", "song.mp3"}) {
        test::FifoWatchdog fifo(folder.filePath(name), std::chrono::seconds(2));
        ASSERT_TRUE(fifo.made());
        MediaPreviewView view(folder.filePath(name), QByteArray(name).endsWith(".mp4"), nullptr, [] { return true; });
        EXPECT_TRUE(QTest::qWaitFor([&] { return !view.errorText().isEmpty(); }, 10000)) << name;
        EXPECT_EQ(view.errorText(), QStringLiteral("This file can't be played: not a regular file.")) << name;
        EXPECT_TRUE(view.player()->source().isEmpty());

        QObject context;
        std::optional<Status> probed;
        probeMedia(folder.filePath(name), false, &context, [&](Status status) { probed = std::move(status); });
        EXPECT_TRUE(QTest::qWaitFor([&] { return probed.has_value(); }, 10000)) << name;
        EXPECT_FALSE(probed && *probed);
        EXPECT_FALSE(fifo.tripped()) << name << " was opened";
    }
}

TEST(MediaPreviewViewTest, WithoutASoundOutputTheAudioPreviewSaysSoInsteadOfPlayingSilently)
{
    QTemporaryDir folder;
    const QString audio = folder.filePath(QStringLiteral("voice memo.wav"));
    writeFile(audio, test::wavOfSilence(1));
    bool audible = false;
    MediaPreviewView view(audio, false, nullptr, [&] { return audible; });
    view.resize(420, 300);
    view.show();
    EXPECT_EQ(view.noSoundText(), QStringLiteral("No sound output is available, so this file can't be heard."));
    EXPECT_FALSE(view.playButton()->isEnabled()) << "a play button that plays nothing";
    QTest::qWait(100);
    test::saveArtifact(view, QStringLiteral("preview-audio-no-sound-output"));

    audible = true; // a headset is plugged in
    view.soundOutputsChanged();
    EXPECT_TRUE(view.noSoundText().isEmpty());
    EXPECT_TRUE(view.playButton()->isEnabled());

    audible = false;
    MediaPreviewView video(audio, true, nullptr, [&] { return audible; });
    EXPECT_EQ(video.noSoundText(), QStringLiteral("No sound output is available: the video plays without sound."));
    EXPECT_TRUE(video.playButton()->isEnabled()) << "the picture still plays";
}
