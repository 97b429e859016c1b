// Placeholder bodies so the library links while the value types are being written.
#include "model/ClipboardItem.h"

namespace lumra {

QString toRawValue(ClipboardContentType type)
{
    switch (type) {
    case ClipboardContentType::text: return QStringLiteral("text");
    case ClipboardContentType::image: return QStringLiteral("image");
    case ClipboardContentType::file: return QStringLiteral("file");
    }
    return {};
}

std::optional<ClipboardContentType> contentTypeFromRawValue(const QString& raw)
{
    if (raw == QLatin1String("text")) return ClipboardContentType::text;
    if (raw == QLatin1String("image")) return ClipboardContentType::image;
    if (raw == QLatin1String("file")) return ClipboardContentType::file;
    return std::nullopt;
}

QString ItemShortcut::displayString(quint16, quint64) { return {}; }
QString ItemShortcut::keyName(quint16) { return QStringLiteral("?"); }
QString ClipboardItem::displayText() const { return textContent.value_or(QString()); }
QString ClipboardItem::previewText() const { return displayText(); }
QString ClipboardItem::maskedDisplayText() const { return displayText(); }

namespace Json {
QJsonObject encode(const ClipboardItem&) { return {}; }
QJsonObject encode(const ClipboardCategory&) { return {}; }
QJsonObject encode(const ItemShortcut&) { return {}; }
QJsonObject encode(const IgnoredApp&) { return {}; }
std::optional<ClipboardItem> decodeItem(const QJsonValue&, QString*) { return std::nullopt; }
std::optional<ClipboardCategory> decodeCategory(const QJsonValue&, QString*) { return std::nullopt; }
std::optional<ItemShortcut> decodeShortcut(const QJsonValue&, QString*) { return std::nullopt; }
std::optional<IgnoredApp> decodeIgnoredApp(const QJsonValue&, QString*) { return std::nullopt; }

static const QDateTime referenceDate(QDate(2001, 1, 1), QTime(0, 0), Qt::UTC);
double secondsSinceReferenceDate(const QDateTime& date) { return referenceDate.msecsTo(date) / 1000.0; }
QDateTime dateFromReferenceSeconds(double seconds) { return referenceDate.addMSecs(qint64(seconds * 1000.0)); }
QString uuidString(const QUuid& id) { return id.toString(QUuid::WithoutBraces).toUpper(); }
} // namespace Json

static int g_stops = 0;
FileBookmarkAccess::~FileBookmarkAccess() { if (m_startedAccess) ++g_stops; }
int FileBookmarkAccess::stopCount() { return g_stops; }

} // namespace lumra
