#pragma once

#include "engine/CaptureService.h"
#include "engine/ClipboardManager.h"

#include <QSet>
#include <QUuid>

namespace lumra {

// What the capture service stores through and reads the settings of: each copy becomes a new row,
// or refreshes the untrashed row with the same content, in the manager's history.
class ClipboardManager::CaptureHistory final : public CaptureStore {
public:
    explicit CaptureHistory(ClipboardManager& manager)
        : m(manager)
    {
    }

    bool acceptsCopies() const override { return m.m_persistence && !m.m_isPaused; }
    CaptureRules captureRules() const override;
    bool isCaptureEnabled(CaptureCategory category) const override { return m.isCaptureEnabled(category); }
    qint64 lastChangeCount() const override { return m.m_lastChangeCount; }
    void setLastChangeCount(qint64 changeCount) override { m.m_lastChangeCount = changeCount; }
    QStringList journalFiles() const override;

    bool storeText(const QString& text, const std::optional<QByteArray>& rtf, CaptureCategory category,
                   const std::optional<QString>& bundleId, const std::optional<QString>& appName,
                   const QDateTime& copiedAt, bool late, QUuid* storedId, bool* skipped) override;
    bool storeImage(const QByteArray& png, const QString& fileName, CaptureCategory category,
                    const std::optional<QString>& bundleId, const std::optional<QString>& appName,
                    const QDateTime& copiedAt, bool late, bool* skipped) override;
    // One folder flag and one bookmark slot (Base64, "" for none) per URL.
    bool storeFiles(const QStringList& urls, const QList<bool>& directories, const QStringList& bookmarks,
                    CaptureCategory category, const std::optional<QString>& bundleId,
                    const std::optional<QString>& appName, const QDateTime& copiedAt, bool late,
                    bool* skipped) override;
    void addRichText(const QUuid& id, const QDateTime& copiedAt, const QByteArray& rtf) override;
    void copyStored(bool countsForReminder) override
    {
        m.playCopySound();
        m.recordCopyForReminder(countsForReminder);
    }

    // Sensitive rows are never sent; the text is written into the row it was read from only.
    void recognizeText(const QByteArray& pngData, const QUuid& id);
    void applyRecognizedText(const QUuid& id, const QString& text);
    // A read that did not run to its end leaves the text unset, so a later start reads it again.
    void recognitionFailed(const QUuid& id);
    // Once per start: pictures whose recognition never ended (Lumra quit first, or the read failed
    // fewer than recognitionTries times) are read again, a bounded number, one at a time and only
    // while no new copy's picture waits.
    void resumeRecognition();
    static constexpr int recognitionResumedPerStart = 20;
    static constexpr int recognitionTries = 3;

private:
    // Save, item limit and history update of the row just written.
    bool saveCapture(const store::ManagedObjectPtr& row);
    // A row changed after its copy was stored (its rich text, its recognised text).
    void saveChangedRow(const store::ManagedObjectPtr& row);

    void recognizeNextLeftOver();

    ClipboardManager& m;
    QSet<QUuid> m_pendingRecognition;
    QList<QUuid> m_leftOver; // newest first
    bool m_resumed = false;
};

} // namespace lumra
