#pragma once

#include "model/SparseOptional.h"

#include <QByteArray>
#include <QDateTime>
#include <QJsonObject>
#include <QList>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <QUuid>

#include <memory>
#include <optional>

namespace lumra {

enum class ClipboardContentType : quint8 { text, image, file };

QString toRawValue(ClipboardContentType type);
std::optional<ClipboardContentType> contentTypeFromRawValue(const QString& raw);

// The capture kinds, in their significant order (they are also referred to by index).
enum class CaptureCategory { text = 0, link, email, color, image, screenshot, imageFile, file, folder };
inline constexpr int captureCategoryCount = 9;

// A per-item global shortcut in the exchangeable encoding: US-layout virtual key codes and
// the modifier flags 0x20000 shift, 0x40000 control, 0x80000 option, 0x100000 command.
struct ItemShortcut {
    quint16 keyCode = 0;
    quint64 modifiers = 0;

    static constexpr quint64 shiftFlag = 0x20000;
    static constexpr quint64 controlFlag = 0x40000;
    static constexpr quint64 optionFlag = 0x80000;
    static constexpr quint64 commandFlag = 0x100000;

    // "Ctrl+Alt+V": modifiers in the order Ctrl, Alt, Shift, Super joined with "+", then the key name.
    static QString displayString(quint16 keyCode, quint64 modifiers);
    QString displayString() const { return displayString(keyCode, modifiers); }
    // The key's label from the fixed US-layout table, "?" for any other code.
    static QString keyName(quint16 keyCode);

    friend bool operator==(const ItemShortcut&, const ItemShortcut&) = default;
};

// Fields that most items leave empty are SparseOptional (one pointer when empty); the flags sit
// together after the content type, so the value packs tightly.
struct ClipboardItem {
    QUuid id;
    ClipboardContentType contentType = ClipboardContentType::text;
    bool isPinned = false;
    bool isPinnedToTop = false;
    bool isSensitive = false;
    bool isTrashed = false;
    // The history list leaves rich text out of its values (it never shows it, and it can be large):
    // set where the store holds rich text that `rtfData` leaves out. ClipboardManager::richText
    // loads it for whoever needs it.
    bool richTextInStore = false;
    std::optional<QString> textContent;
    SparseOptional<QByteArray> rtfData;
    SparseOptional<QString> imageFileName;
    SparseOptional<QStringList> fileURLStrings;
    SparseOptional<QList<bool>> fileURLIsDirectory;
    QDateTime dateAdded;
    QStringList tags;
    SparseOptional<QString> comment;
    SparseOptional<QUuid> categoryId;
    SparseOptional<ItemShortcut> shortcut;
    SparseOptional<QString> sourceAppBundleId; // the history shares one per application
    SparseOptional<QString> sourceAppName;
    SparseOptional<QString> ocrText;
    SparseOptional<QDateTime> lastPastedDate;
    std::optional<QDateTime> firstCopiedDate;
    SparseOptional<QDateTime> trashedDate;

    bool hasRichText() const { return richTextInStore || (rtfData && !rtfData->isEmpty()); }
    // The value as the history list holds it: `rtfData` left out, `richTextInStore` telling it is there.
    void leaveOutRichText()
    {
        richTextInStore = hasRichText();
        rtfData.reset();
    }

    QString displayText() const;
    QString previewText() const;
    QString maskedDisplayText() const;

    friend bool operator==(const ClipboardItem&, const ClipboardItem&) = default;
};

struct ClipboardCategory {
    QUuid id;
    QString name;
    QString iconName;
    bool isHiddenFromFooter = false;
    qint64 sortOrder = 0;

    friend bool operator==(const ClipboardCategory&, const ClipboardCategory&) = default;
};

struct IgnoredApp {
    QString bundleIdentifier;
    QString name;

    friend bool operator==(const IgnoredApp&, const IgnoredApp&) = default;
};

// JSON forms (dates as seconds since 1 January 2001 UTC, UUIDs upper case, bytes Base64).
// Decoding fails the whole value on a missing required key or any wrong type.
namespace Json {
QJsonObject encode(const ClipboardItem& item);
QJsonObject encode(const ClipboardCategory& category);
QJsonObject encode(const ItemShortcut& shortcut);
QJsonObject encode(const IgnoredApp& app);

// Each returns nullopt and sets `error` (when given) on failure.
std::optional<ClipboardItem> decodeItem(const QJsonValue& value, QString* error = nullptr);
std::optional<ClipboardCategory> decodeCategory(const QJsonValue& value, QString* error = nullptr);
std::optional<ItemShortcut> decodeShortcut(const QJsonValue& value, QString* error = nullptr);
std::optional<IgnoredApp> decodeIgnoredApp(const QJsonValue& value, QString* error = nullptr);

// Seconds since 1 January 2001 00:00:00 UTC, the reference date of every stored date, to the
// millisecond. An invalid date counts as the reference date itself.
double secondsSinceReferenceDate(const QDateTime& date);
// A UTC date, or an invalid one for a number that is not finite or lies outside years 1 to 9999.
QDateTime dateFromReferenceSeconds(double seconds);
QString uuidString(const QUuid& id); // canonical upper case, no braces
} // namespace Json

// A started access to a copied file. Access stops once, when the last holder lets go
// (on Linux start and stop are no-ops; the type keeps the lifetime explicit).
class FileBookmarkAccess {
public:
    FileBookmarkAccess(QUrl url, bool startedAccess) : m_url(std::move(url)), m_startedAccess(startedAccess) { }
    ~FileBookmarkAccess();
    FileBookmarkAccess(const FileBookmarkAccess&) = delete;
    FileBookmarkAccess& operator=(const FileBookmarkAccess&) = delete;

    const QUrl& url() const { return m_url; }
    bool startedAccess() const { return m_startedAccess; }

    // Counts stops, for tests.
    static int stopCount();

private:
    QUrl m_url;
    bool m_startedAccess;
};
using FileBookmarkAccessPtr = std::shared_ptr<FileBookmarkAccess>;

} // namespace lumra
