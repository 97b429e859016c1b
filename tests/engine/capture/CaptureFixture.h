#pragma once

#include "model/Diagnostics.h"

#include "EngineFixture.h"

#include <QBuffer>
#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QSemaphore>

#include <algorithm>
#include <atomic>

namespace lumra::test {

// The engine with its sound and reminder hooks recorded.
class RecordingManager : public ClipboardManager {
public:
    using ClipboardManager::ClipboardManager;
    int sounds = 0;
    QList<bool> reminders;
    int autoCleanRuns = 0;
    std::function<void()> onSound; // on the main thread, as a copy is stored

protected:
    void playCopySound() override
    {
        ++sounds;
        if (onSound)
            onSound();
    }
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

// A reader whose owner answers only when the test lets it. With `pasteboard`, an answer counts only
// while no later copy took the clipboard (as on X11); without, the offer stays its owner's (as a
// Wayland offer does) and a late answer is still this copy's.
class GatedReader final : public OfferReader {
public:
    GatedReader(std::shared_ptr<OfferReader> inner, const Pasteboard* pasteboard)
        : m_inner(std::move(inner))
        , m_pasteboard(pasteboard)
    {
    }
    qint64 changeCount() const override { return m_inner->changeCount(); }
    bool ownedByUs() const override { return m_inner->ownedByUs(); }
    quint64 ownerWindow() const override { return m_inner->ownerWindow(); }
    Result<QStringList> types(QDeadlineTimer deadline) override { return m_inner->types(deadline); }
    OfferRead data(const QString& type, qint64 maxBytes, QDeadlineTimer deadline) override
    {
        asked = waiting = true;
        gate.tryAcquire(1, 30000);
        waiting = false;
        return m_inner->data(type, maxBytes, deadline);
    }
    bool readFromItsOwner() override { return !m_pasteboard || m_pasteboard->changeCount() == changeCount(); }

    QSemaphore gate;
    std::atomic<bool> asked = false;
    std::atomic<bool> waiting = false;

private:
    std::shared_ptr<OfferReader> m_inner;
    const Pasteboard* m_pasteboard;
};

class GatedPasteboard final : public Pasteboard {
public:
    explicit GatedPasteboard(bool offersStayTheirOwners = true)
        : m_offersStayTheirOwners(offersStayTheirOwners)
    {
    }
    ~GatedPasteboard() override
    {
        for (const auto& reader : held)
            reader->gate.release(1000);
    }
    FakePasteboard inner;
    bool holdNext = false;
    QList<std::shared_ptr<GatedReader>> held;

    qint64 changeCount() const override { return inner.changeCount(); }
    bool isOwnedByUs() const override { return inner.isOwnedByUs(); }
    Result<QStringList> types() override { return inner.types(); }
    Result<QByteArray> data(const QString& mimeType) override { return inner.data(mimeType); }
    Result<qint64> write(const QList<PasteboardRepresentation>& representations) override
    {
        return inner.write(representations);
    }
    std::shared_ptr<OfferReader> offerReader() override
    {
        if (!std::exchange(holdNext, false))
            return inner.offerReader();
        held.append(std::make_shared<GatedReader>(inner.offerReader(), m_offersStayTheirOwners ? nullptr : &inner));
        return held.last();
    }

private:
    bool m_offersStayTheirOwners;
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
        engine.captureService()->checkClipboard();
        test::finishPendingCaptures(engine);
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
