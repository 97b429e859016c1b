#pragma once

#include "model/Diagnostics.h"

#include "EngineFixture.h"

#include <QBuffer>
#include <QDir>
#include <QFileInfo>
#include <QImage>

#include <algorithm>

namespace lumra::test {

// The engine with its sound and reminder hooks recorded.
class RecordingManager : public ClipboardManager {
public:
    using ClipboardManager::ClipboardManager;
    int sounds = 0;
    QList<bool> reminders;
    int autoCleanRuns = 0;

protected:
    void playCopySound() override { ++sounds; }
    void recordCopyForReminder(bool countsForReminder) override { reminders.append(countsForReminder); }
    void runAutoClean() override { ++autoCleanRuns; }
};

inline const AppIdentity firefox {"org.mozilla.firefox", "Firefox"};
inline const AppIdentity keepass {"org.keepassxc.KeePassXC", "KeePassXC"};
inline const AppIdentity nautilus {"org.gnome.Nautilus", "Files"};

inline QByteArray pngOf(const QImage& image)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "png");
    return bytes;
}

inline QByteArray solidPng(QColor color, int width = 32, int height = 24)
{
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(color);
    return pngOf(image);
}

inline PasteboardRepresentation rep(const char* type, const QByteArray& data) { return {QString::fromLatin1(type), data}; }
inline PasteboardRepresentation textRep(const QString& text) { return rep(PasteboardMime::textUtf8, text.toUtf8()); }

// The shared diagnostics log, switched on and emptied for one test, switched off after.
class DiagnosticsCapture {
public:
    DiagnosticsCapture()
    {
        Diagnostics& log = Diagnostics::shared();
        QDir().mkpath(QFileInfo(log.logPath()).absolutePath());
        log.setEnabled(true);
        log.writeDiagnosticsLog();
    }
    ~DiagnosticsCapture()
    {
        Diagnostics::shared().writeDiagnosticsLog();
        Diagnostics::shared().setEnabled(false);
    }
    QString text() const
    {
        Diagnostics::shared().flush();
        return Diagnostics::shared().readDiagnosticsLog().value_or(QString());
    }
};

class CaptureTest : public EngineTest {
protected:
    void SetUp() override { openDefaults(); }

    void start()
    {
        manager = EngineHarness::start<RecordingManager>([this](ClipboardManagerServices& services) {
            services.pasteboard = &pasteboard;
            services.workspace = &workspace;
            services.textRecognizer = textRecognizer;
        });
    }

    // Another application copies; the poll looks once and every capture is stored.
    void copy(const QList<PasteboardRepresentation>& representations, std::optional<AppIdentity> app = firefox)
    {
        copyInto(*manager, representations, app);
    }
    void copyInto(ClipboardManager& engine, const QList<PasteboardRepresentation>& representations,
                  std::optional<AppIdentity> app = firefox)
    {
        workspace.setFrontmost(app);
        pasteboard.setContents(representations);
        clock.advance(std::chrono::milliseconds(1));
        engine.checkClipboard();
        engine.finishPendingCaptures();
    }
    void copyText(const QString& text, std::optional<AppIdentity> app = firefox) { copy({textRep(text)}, app); }

    QList<ClipboardItem> untrashed() const
    {
        QList<ClipboardItem> items;
        for (const ClipboardItem& item : manager->clipboardItems())
            if (!item.isTrashed)
                items.append(item);
        return items;
    }
    QStringList texts() const
    {
        QStringList result;
        for (const ClipboardItem& item : untrashed())
            result.append(item.textContent.value_or("<" + toRawValue(item.contentType) + ">"));
        return result;
    }
    store::ManagedObjectPtr row(const ClipboardItem& item) const { return manager->fetchManagedItem(item.id); }

    TextRecognizer* textRecognizer = &recognizer;
    std::unique_ptr<RecordingManager> manager;
};

} // namespace lumra::test
