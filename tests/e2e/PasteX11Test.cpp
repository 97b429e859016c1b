#include "EngineFixture.h"
#include "Xclip.h"
#include "platform/image/ImageDecoding.h"
#include "platform/keys/X11KeyInjector.h"
#include "platform/pasteboard/X11Pasteboard.h"

#include "platform/keys/EventWait.h"
#include "ThisProgram.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QImage>
#include <QLineEdit>
#include <QProcess>
#include <QSignalSpy>
#include <QTest>

#include <iostream>

#include "platform/x11/X11Includes.h"

using namespace lumra;

namespace {

const char* const targetVariable = "LUMRA_PASTE_TARGET";

class PasteX11Test : public test::EngineTest {
protected:
    void SetUp() override
    {
        x11Pasteboard = X11Pasteboard::create();
        ASSERT_NE(x11Pasteboard, nullptr);
        ASSERT_TRUE(keys.canPost());
        manager = start([this](ClipboardManagerServices& services) {
            services.pasteboard = x11Pasteboard.get();
            services.keyInjector = &keys;
        });
    }

    void TearDown() override
    {
        manager.reset();
        clock.advance(std::chrono::hours(1));
        if (target.state() != QProcess::NotRunning) {
            target.kill();
            target.waitForFinished();
        }
    }

    ClipboardItem addItem(const ClipboardItem& item, const QByteArray& imageData = {})
    {
        return test::insertItem(*manager, item, test::withImageData(imageData));
    }

    // The paste target runs as its own process (this program, in target mode): an application
    // reading the clipboard in the process that owns it would wait on itself.
    bool startTarget()
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(targetVariable, "1");
        target.setProcessEnvironment(environment);
        lumra::test::startThisProgram(target, {"--gtest_filter=PasteTargetWindow.ReportsWhatIsPasted"});
        return test::processEventsUntil([&] { return targetOutput().contains("READY"); }, 10000);
    }

    QString targetOutput()
    {
        m_output += QString::fromUtf8(target.readAllStandardOutput());
        return m_output;
    }

    std::unique_ptr<X11Pasteboard> x11Pasteboard;
    X11KeyInjector keys;
    std::unique_ptr<ClipboardManager> manager;
    QProcess target;

private:
    QString m_output;
};

} // namespace

// Target mode only: a focused text field that reports each text it holds.
TEST(PasteTargetWindow, ReportsWhatIsPasted)
{
    if (!qEnvironmentVariableIsSet(targetVariable))
        GTEST_SKIP() << "runs as the paste target of PasteX11Test";
    QLineEdit field;
    QObject::connect(&field, &QLineEdit::textChanged,
                     [](const QString& text) { std::cout << "PASTED:" << text.toStdString() << std::endl; });
    field.show();
    field.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&field));
    field.setFocus();
    std::cout << "READY" << std::endl;
    test::processEventsUntil([&] { return !field.text().isEmpty(); }, 20000);
    QCoreApplication::processEvents(); // a second, unwanted paste already queued shows up too
}

TEST_F(PasteX11Test, ATextItemLandsInTheFocusedWindow)
{
    ASSERT_TRUE(startTarget());
    ClipboardItem item;
    item.textContent = QStringLiteral("Grüße from the history");
    item = addItem(item);

    ASSERT_TRUE(test::copyToPasteboard(*manager, item, true));
    ASSERT_TRUE(manager->paste().simulatePaste().ok());

    EXPECT_TRUE(test::processEventsUntil([&] { return targetOutput().contains("PASTED:"); }, 10000));
    test::processEventsUntil([&] { return target.state() == QProcess::NotRunning; }, 10000);
    EXPECT_EQ(targetOutput().count("PASTED:"), 1) << qPrintable(targetOutput());
    EXPECT_TRUE(targetOutput().contains("PASTED:Grüße from the history\n")) << qPrintable(targetOutput());
    EXPECT_EQ(manager->lastChangeCount(), x11Pasteboard->changeCount());
}

// The focused window is another program presenting itself as a terminal by its WM_CLASS: it gets
// the key that pastes there. xterm pastes only its selection by key: nothing is sent to it.
TEST_F(PasteX11Test, ATerminalGetsItsOwnPasteKey)
{
    ClipboardItem item;
    item.textContent = QStringLiteral("ls -l");
    item = addItem(item);
    struct Case {
        QString instance, windowClass;
        QByteArray keys; // what it received
    };
    for (const Case& c : {Case {"foot", "foot", "KEY v+ctrl+shift"}, Case {"gedit", "Gedit", "KEY v+ctrl"},
                          Case {"xterm", "XTerm", ""}}) {
        SCOPED_TRACE(c.windowClass.toStdString());
        QProcess terminal;
        terminal.start(QStringLiteral(LUMRA_FAKE_TERMINAL_X11), {c.instance, c.windowClass});
        QByteArray output;
        const auto printed = [&](const QByteArray& text) {
            return test::processEventsUntil([&] { return (output += terminal.readAllStandardOutput()).contains(text); }, 10000);
        };
        ASSERT_TRUE(printed("READY"));
        ASSERT_TRUE(test::copyToPasteboard(*manager, item, true));
        const Status pasted = manager->paste().simulatePaste();
        if (c.keys.isEmpty()) {
            EXPECT_FALSE(pasted.ok());
            EXPECT_TRUE(pasted.error().contains("XTerm")) << pasted.error().toStdString();
            // A key sent all the same would be in by the time a key sent now is.
            ASSERT_EQ(QProcess::execute("xdotool", {"key", "space"}), 0);
            EXPECT_TRUE(printed("KEY space"));
            EXPECT_FALSE(output.contains("KEY v")) << output.constData();
        } else {
            EXPECT_TRUE(pasted.ok()) << pasted.error().toStdString();
            EXPECT_TRUE(printed("KEY ")) << output.constData();
            EXPECT_TRUE(output.contains(c.keys + "\n")) << output.constData();
        }
        terminal.kill();
        terminal.waitForFinished();
    }
}

TEST_F(PasteX11Test, AnImageItemIsOfferedAsPng)
{
    QImage picture(64, 48, QImage::Format_RGB32);
    picture.fill(Qt::darkCyan);
    const QByteArray png = image::encodePng(picture).value();
    ClipboardItem item;
    item.contentType = ClipboardContentType::image;
    item.imageFileName = image::imageFileName(png);
    item = addItem(item, png);

    ASSERT_TRUE(test::copyToPasteboard(*manager, item, true));
    const QList<QByteArray> targets = test::xclipPaste("TARGETS").split('\n');
    EXPECT_TRUE(targets.contains("image/png")) << test::xclipPaste("TARGETS").constData();
    EXPECT_TRUE(targets.contains("text/uri-list"));
    EXPECT_EQ(test::xclipPaste("image/png"), png);
}

// The history list keeps no rich text in its values: a rich item taken from the list still goes out
// with its RTF and HTML, read here by another program.
TEST_F(PasteX11Test, ARichItemOfTheListIsOfferedWithItsRichText)
{
    ClipboardItem item;
    item.textContent = QStringLiteral("Hello bold world");
    item.rtfData = QByteArray(R"({\rtf1\ansi\deff0{\fonttbl{\f0 Helvetica;}}\f0 Hello {\b bold} world})");
    item = addItem(item);
    manager->loadItems();
    ASSERT_EQ(manager->clipboardItems().size(), 1);
    const ClipboardItem listed = manager->clipboardItems().first();
    ASSERT_FALSE(listed.rtfData);

    ASSERT_TRUE(test::copyToPasteboard(*manager, listed, false));
    const QList<QByteArray> targets = test::xclipPaste("TARGETS").split('\n');
    EXPECT_TRUE(targets.contains("text/rtf")) << test::xclipPaste("TARGETS").constData();
    EXPECT_EQ(test::xclipPaste("text/rtf"), *item.rtfData);
    const QByteArray html = test::xclipPaste("text/html");
    EXPECT_TRUE(html.contains("bold")) << html.constData();
    EXPECT_TRUE(html.contains("font-weight")) << html.constData();
    EXPECT_EQ(test::xclipPaste("UTF8_STRING"), "Hello bold world");
}

// With no window manager, no window may hold the focus, or the root window does: a key sent then
// goes nowhere. None is sent, the user is told, and the item is not marked pasted.
TEST_F(PasteX11Test, WithNoWindowHoldingTheFocusNoKeyIsSentAndTheUserIsTold)
{
    _XDisplay* display = qtX11Display();
    ClipboardItem item;
    item.textContent = QStringLiteral("for no one");
    item = addItem(item);
    QSignalSpy failed(&manager->paste(), &PasteService::pasteFailed);
    for (const Window focus : {Window(x11::XNone), DefaultRootWindow(display)}) {
        SCOPED_TRACE(focus);
        XSetInputFocus(display, focus, RevertToParent, x11::XCurrentTime);
        XSync(display, x11::XFalse);
        failed.clear();
        ASSERT_TRUE(manager->paste().pasteItem(item, true, false, std::chrono::milliseconds(0)));
        clock.advance(std::chrono::milliseconds(0));
        ASSERT_TRUE(test::processEventsUntil([&] { return !failed.isEmpty(); }, 10000));
        EXPECT_EQ(failed.first().first().toString(), KeyInjectorMessages::noWindowInFront());
        manager->loadItems();
        ASSERT_EQ(manager->clipboardItems().size(), 1);
        EXPECT_FALSE(manager->clipboardItems().first().lastPastedDate);
    }
    EXPECT_EQ(defaults->integer("totalSuccessfulPastes"), 0);
}
