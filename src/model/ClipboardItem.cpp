#include "model/ClipboardItem.h"

#include <QJsonArray>
#include <QJsonValue>
#include <QTextBoundaryFinder>

#include <array>
#include <atomic>
#include <cmath>
#include <limits>

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

// ---------------------------------------------------------------------------------------
// Shortcut labels

QString ItemShortcut::keyName(quint16 keyCode)
{
    switch (keyCode) {
    case 0: return QStringLiteral("A");
    case 1: return QStringLiteral("S");
    case 2: return QStringLiteral("D");
    case 3: return QStringLiteral("F");
    case 4: return QStringLiteral("H");
    case 5: return QStringLiteral("G");
    case 6: return QStringLiteral("Z");
    case 7: return QStringLiteral("X");
    case 8: return QStringLiteral("C");
    case 9: return QStringLiteral("V");
    case 11: return QStringLiteral("B");
    case 12: return QStringLiteral("Q");
    case 13: return QStringLiteral("W");
    case 14: return QStringLiteral("E");
    case 15: return QStringLiteral("R");
    case 16: return QStringLiteral("Y");
    case 17: return QStringLiteral("T");
    case 18: return QStringLiteral("1");
    case 19: return QStringLiteral("2");
    case 20: return QStringLiteral("3");
    case 21: return QStringLiteral("4");
    case 22: return QStringLiteral("6");
    case 23: return QStringLiteral("5");
    case 24: return QStringLiteral("=");
    case 25: return QStringLiteral("9");
    case 26: return QStringLiteral("7");
    case 27: return QStringLiteral("-");
    case 28: return QStringLiteral("8");
    case 29: return QStringLiteral("0");
    case 30: return QStringLiteral("]");
    case 31: return QStringLiteral("O");
    case 32: return QStringLiteral("U");
    case 33: return QStringLiteral("[");
    case 34: return QStringLiteral("I");
    case 35: return QStringLiteral("P");
    case 36: return QStringLiteral("Return");
    case 37: return QStringLiteral("L");
    case 38: return QStringLiteral("J");
    case 39: return QStringLiteral("'");
    case 40: return QStringLiteral("K");
    case 41: return QStringLiteral(";");
    case 42: return QStringLiteral("\\");
    case 43: return QStringLiteral(",");
    case 44: return QStringLiteral("/");
    case 45: return QStringLiteral("N");
    case 46: return QStringLiteral("M");
    case 47: return QStringLiteral(".");
    case 48: return QStringLiteral("Tab");
    case 49: return QStringLiteral("Space");
    case 50: return QStringLiteral("`");
    case 51: return QStringLiteral("Backspace");
    case 53: return QStringLiteral("Esc");
    case 123: return QStringLiteral("Left");
    case 124: return QStringLiteral("Right");
    case 125: return QStringLiteral("Down");
    case 126: return QStringLiteral("Up");
    default: return QStringLiteral("?");
    }
}

QString ItemShortcut::displayString(quint16 keyCode, quint64 modifiers)
{
    // Stored flags name the other platform's keys; these are the keys they stand for here.
    static constexpr struct {
        quint64 flag;
        const char* label;
    } labels[] = {
        {commandFlag, "Ctrl"},
        {optionFlag, "Alt"},
        {shiftFlag, "Shift"},
        {controlFlag, "Super"},
    };
    QStringList parts;
    for (const auto& modifier : labels) {
        if (modifiers & modifier.flag)
            parts.append(QLatin1String(modifier.label));
    }
    parts.append(keyName(keyCode));
    return parts.join(QLatin1Char('+'));
}

// ---------------------------------------------------------------------------------------
// Display texts

namespace {

const QChar bullet(0x2022);
const QString ellipsis(QChar(0x2026));

bool isRegionalIndicatorAt(const QString& text, qsizetype i)
{
    // U+1F1E6 to U+1F1FF, as a surrogate pair.
    return i >= 0 && i + 1 < text.size() && text[i].unicode() == 0xD83C && text[i + 1].unicode() >= 0xDDE6
        && text[i + 1].unicode() <= 0xDDFF;
}

// User-perceived characters, one boundary at a time. Qt's finder breaks between the two
// regional indicators of a flag; here a flag stays one character.
class Graphemes {
public:
    explicit Graphemes(const QString& text) : m_text(text), m_finder(QTextBoundaryFinder::Grapheme, text) { }

    // The next boundary, or -1 at the end of the text.
    qsizetype next()
    {
        for (;;) {
            const qsizetype boundary = m_finder.toNextBoundary();
            if (boundary < 0 || !isRegionalIndicatorAt(m_text, boundary) || !isRegionalIndicatorAt(m_text, boundary - 2))
                return boundary;
            // Indicators pair up from the start of their run.
            const qsizetype run = m_runEnd == boundary - 2 ? m_runLength + 1 : runEndingAt(boundary);
            m_runEnd = boundary;
            m_runLength = run;
            if (run % 2 == 0)
                return boundary;
        }
    }

private:
    qsizetype runEndingAt(qsizetype end) const
    {
        qsizetype length = 0;
        while (isRegionalIndicatorAt(m_text, end - 2 * (length + 1)))
            ++length;
        return length;
    }

    const QString& m_text;
    QTextBoundaryFinder m_finder;
    qsizetype m_runEnd = -1;
    qsizetype m_runLength = 0;
};

// Where the first `clusters` user-perceived characters of `text` end.
qsizetype endOfFirstGraphemes(const QString& text, qsizetype clusters)
{
    Graphemes graphemes(text);
    qsizetype position = 0;
    for (qsizetype i = 0; i < clusters; ++i) {
        const qsizetype next = graphemes.next();
        if (next < 0)
            break;
        position = next;
    }
    return position;
}

QString countedNoun(qsizetype count, const char* singular, const char* plural)
{
    return QString::number(count) + QLatin1Char(' ') + QLatin1String(count == 1 ? singular : plural);
}

// The name a listing shows for one copied file or folder: the last piece of its path.
QString displayName(const QUrl& url, const QString& stored)
{
    const QString path = url.path();
    const QStringList pieces = path.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    if (!pieces.isEmpty())
        return pieces.last();
    if (!path.isEmpty())
        return QStringLiteral("/");
    const QStringList storedPieces = stored.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    return storedPieces.isEmpty() ? QStringLiteral("Unknown") : storedPieces.last();
}

QString fileDisplayText(const QStringList& strings, const std::optional<QList<bool>>& isDirectory)
{
    QList<QUrl> urls;
    QStringList storedOfUrls;
    for (const QString& string : strings) {
        const QUrl url(string);
        if (!url.isValid())
            continue;
        urls.append(url);
        storedOfUrls.append(string);
    }

    qsizetype folders = 0;
    if (isDirectory && isDirectory->size() == strings.size()) {
        folders = isDirectory->count(true);
    } else {
        for (const QUrl& url : urls)
            folders += url.path().endsWith(QLatin1Char('/')) ? 1 : 0;
    }
    const qsizetype files = strings.size() - folders;

    QString head;
    if (folders == 0)
        head = countedNoun(files, "File", "Files");
    else if (files == 0)
        head = countedNoun(folders, "Folder", "Folders");
    else
        head = countedNoun(files, "File", "Files") + QStringLiteral(" & ") + countedNoun(folders, "Folder", "Folders");

    QStringList names;
    for (qsizetype i = 0; i < urls.size(); ++i)
        names.append(displayName(urls[i], storedOfUrls[i]));
    return head + QStringLiteral(":\n") + names.join(QLatin1Char('\n'));
}

} // namespace

QString ClipboardItem::displayText() const
{
    switch (contentType) {
    case ClipboardContentType::text:
        return textContent.value_or(QString());
    case ClipboardContentType::image:
        return QStringLiteral("[Image]");
    case ClipboardContentType::file:
        if (!fileURLStrings || fileURLStrings->isEmpty())
            return QStringLiteral("[File]");
        return fileDisplayText(*fileURLStrings, fileURLIsDirectory);
    }
    return {};
}

QString ClipboardItem::previewText() const
{
    constexpr qsizetype maxLines = 6;
    constexpr qsizetype maxClusters = 500;

    QString text = displayText();

    // A line ends at a line feed; a carriage return and line feed together are one
    // character and do not end a line.
    qsizetype lines = 1;
    qsizetype endOfShownLines = -1;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] != QLatin1Char('\n') || (i > 0 && text[i - 1] == QLatin1Char('\r')))
            continue;
        if (lines == maxLines)
            endOfShownLines = i;
        ++lines;
    }
    if (lines > maxLines) {
        text.truncate(endOfShownLines);
        text += QStringLiteral("\n") + ellipsis + QStringLiteral(" and ") + QString::number(lines - maxLines)
            + QStringLiteral(" more");
    }

    const qsizetype cut = endOfFirstGraphemes(text, maxClusters);
    if (cut < text.size())
        text = text.left(cut) + ellipsis;
    return text;
}

QString ClipboardItem::maskedDisplayText() const
{
    constexpr qsizetype maxKept = 5;
    const QString text = displayText();

    // One pass: the first boundaries and, in a ring, the last ones.
    std::array<qsizetype, maxKept + 1> head {};
    std::array<qsizetype, maxKept + 1> tail {};
    qsizetype n = 0;
    Graphemes graphemes(text);
    for (qsizetype boundary; (boundary = graphemes.next()) >= 0;) {
        ++n;
        if (n <= maxKept)
            head[n] = boundary;
        tail[n % tail.size()] = boundary;
    }

    if (n < 3)
        return QString(n, bullet);
    const qsizetype kept = n < 5 ? 1 : std::min(n / 5, maxKept);
    return text.left(head[kept]) + QString(n - 2 * kept, bullet) + text.mid(tail[(n - kept) % tail.size()]);
}

// ---------------------------------------------------------------------------------------
// JSON

namespace Json {

namespace {

constexpr qint64 referenceDateMSecsSinceEpoch = 978307200000; // 2001-01-01T00:00:00Z
// Dates outside years 1 to 9999 cannot be written as text anywhere else in Lumra; a number
// that far out is damage, not a date.
constexpr double earliestReferenceSeconds = -63113904000.0; // 0001-01-01T00:00:00Z
constexpr double latestReferenceSeconds = 252423993600.0; // 10000-01-01T00:00:00Z, excluded

QJsonArray toArray(const QStringList& strings)
{
    QJsonArray array;
    for (const QString& string : strings)
        array.append(string);
    return array;
}

QJsonArray toArray(const QList<bool>& flags)
{
    QJsonArray array;
    for (bool flag : flags)
        array.append(flag);
    return array;
}

template <typename Optional, typename Convert>
void insertIfPresent(QJsonObject& object, const char* key, const Optional& value, Convert convert)
{
    if (value)
        object.insert(QLatin1String(key), convert(*value));
}

const auto asIs = [](const auto& value) { return QJsonValue(value); };

// Conversions from JSON, one per field type; each answers false for a wrong type or value.

bool convert(const QJsonValue& json, QString& out)
{
    if (!json.isString())
        return false;
    out = json.toString();
    return true;
}

bool convert(const QJsonValue& json, bool& out)
{
    if (!json.isBool())
        return false;
    out = json.toBool();
    return true;
}

bool convert(const QJsonValue& json, QDateTime& out)
{
    if (!json.isDouble())
        return false;
    out = dateFromReferenceSeconds(json.toDouble());
    return out.isValid();
}

bool convert(const QJsonValue& json, QUuid& out)
{
    if (!json.isString())
        return false;
    // Only the plain 8-4-4-4-12 form, in either case.
    const QString text = json.toString();
    if (text.size() != 36)
        return false;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const bool dash = i == 8 || i == 13 || i == 18 || i == 23;
        const QChar c = text[i];
        const bool hex = (c >= QLatin1Char('0') && c <= QLatin1Char('9'))
            || (c.toLower() >= QLatin1Char('a') && c.toLower() <= QLatin1Char('f'));
        if (dash ? c != QLatin1Char('-') : !hex)
            return false;
    }
    out = QUuid::fromString(text);
    return true;
}

bool convert(const QJsonValue& json, QByteArray& out)
{
    if (!json.isString())
        return false;
    auto decoded = QByteArray::fromBase64Encoding(json.toString().toLatin1(), QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded)
        return false;
    out = std::move(decoded.decoded);
    return true;
}

template <typename T>
bool convertList(const QJsonValue& json, QList<T>& out)
{
    if (!json.isArray())
        return false;
    const QJsonArray array = json.toArray();
    QList<T> list;
    list.reserve(array.size());
    for (const QJsonValue& element : array) {
        T value {};
        if (!convert(element, value))
            return false;
        list.append(std::move(value));
    }
    out = std::move(list);
    return true;
}

bool convert(const QJsonValue& json, QStringList& out) { return convertList(json, out); }
bool convert(const QJsonValue& json, QList<bool>& out) { return convertList(json, out); }

// Whole numbers only, within [min, max].
std::optional<qint64> wholeNumber(const QJsonValue& json, qint64 min, qint64 max)
{
    if (!json.isDouble())
        return std::nullopt;
    const double number = json.toDouble();
    // 2^63 rounds to double(INT64_MAX) yet does not fit.
    if (!(number >= double(min) && number <= double(max) && number < 0x1p63) || std::trunc(number) != number)
        return std::nullopt;
    // toInteger keeps integers the parser read exactly; the double may have rounded them.
    return json.toInteger(qint64(number));
}

bool convert(const QJsonValue& json, quint16& out)
{
    const auto number = wholeNumber(json, 0, 0xFFFF);
    if (number)
        out = quint16(*number);
    return number.has_value();
}

bool convert(const QJsonValue& json, quint64& out)
{
    const auto number = wholeNumber(json, 0, std::numeric_limits<qint64>::max());
    if (number)
        out = quint64(*number);
    return number.has_value();
}

bool convert(const QJsonValue& json, qint64& out)
{
    const auto number = wholeNumber(json, std::numeric_limits<qint64>::min(), std::numeric_limits<qint64>::max());
    if (number)
        out = *number;
    return number.has_value();
}

bool convert(const QJsonValue& json, ClipboardContentType& out)
{
    const auto type = json.isString() ? contentTypeFromRawValue(json.toString()) : std::nullopt;
    if (type)
        out = *type;
    return type.has_value();
}

bool convert(const QJsonValue& json, ItemShortcut& out)
{
    auto shortcut = decodeShortcut(json);
    if (shortcut)
        out = *shortcut;
    return shortcut.has_value();
}

// Reads the keys of one object. A missing key and a JSON null are the same; the first
// failure sticks and the caller discards the whole value.
class Reader {
public:
    explicit Reader(const QJsonObject& object) : m_object(object) { }

    template <typename T>
    void required(const char* key, T& out)
    {
        const QJsonValue json = m_object.value(QLatin1String(key));
        if (json.isUndefined() || json.isNull())
            fail(QStringLiteral("missing key \"%1\"").arg(QLatin1String(key)));
        else if (!convert(json, out))
            fail(QStringLiteral("key \"%1\" has a wrong type or value").arg(QLatin1String(key)));
    }

    // Leaves `out` (its default) alone when the key is missing.
    template <typename T>
    void defaulted(const char* key, T& out)
    {
        const QJsonValue json = m_object.value(QLatin1String(key));
        if (json.isUndefined() || json.isNull())
            return;
        T value {};
        if (!convert(json, value))
            fail(QStringLiteral("key \"%1\" has a wrong type or value").arg(QLatin1String(key)));
        else
            out = std::move(value);
    }

    template <typename T>
    void optional(const char* key, std::optional<T>& out)
    {
        T value {};
        const QJsonValue json = m_object.value(QLatin1String(key));
        if (json.isUndefined() || json.isNull())
            out.reset();
        else if (!convert(json, value))
            fail(QStringLiteral("key \"%1\" has a wrong type or value").arg(QLatin1String(key)));
        else
            out = std::move(value);
    }
    template <typename T>
    void optional(const char* key, SparseOptional<T>& out)
    {
        std::optional<T> value;
        optional(key, value);
        out = value;
    }

    template <typename T>
    std::optional<T> finish(T value, QString* error) const
    {
        if (m_error.isEmpty())
            return value;
        if (error)
            *error = m_error;
        return std::nullopt;
    }

private:
    void fail(const QString& message)
    {
        if (m_error.isEmpty())
            m_error = message;
    }

    const QJsonObject& m_object;
    QString m_error;
};

template <typename T, typename Fill>
std::optional<T> decodeObject(const QJsonValue& value, const char* what, QString* error, Fill fill)
{
    if (!value.isObject()) {
        if (error)
            *error = QStringLiteral("%1 is not a JSON object").arg(QLatin1String(what));
        return std::nullopt;
    }
    const QJsonObject object = value.toObject();
    Reader reader(object);
    T result;
    fill(reader, result);
    return reader.finish(std::move(result), error);
}

} // namespace

QJsonObject encode(const ClipboardItem& item)
{
    QJsonObject object {
        {QStringLiteral("id"), uuidString(item.id)},
        {QStringLiteral("contentType"), toRawValue(item.contentType)},
        {QStringLiteral("dateAdded"), secondsSinceReferenceDate(item.dateAdded)},
        {QStringLiteral("isPinned"), item.isPinned},
        {QStringLiteral("isPinnedToTop"), item.isPinnedToTop},
        {QStringLiteral("tags"), toArray(item.tags)},
        {QStringLiteral("isSensitive"), item.isSensitive},
        {QStringLiteral("isTrashed"), item.isTrashed},
    };
    const auto date = [](const QDateTime& d) { return QJsonValue(secondsSinceReferenceDate(d)); };
    const auto list = [](const auto& l) { return QJsonValue(toArray(l)); };
    insertIfPresent(object, "textContent", item.textContent, asIs);
    // A value of the history list lacks its rich text: the writer must load it first.
    Q_ASSERT(!item.richTextInStore);
    insertIfPresent(object, "rtfData", item.rtfData, [](const QByteArray& b) { return QJsonValue(QString::fromLatin1(b.toBase64())); });
    insertIfPresent(object, "imageFileName", item.imageFileName, asIs);
    insertIfPresent(object, "fileURLStrings", item.fileURLStrings, list);
    insertIfPresent(object, "fileURLIsDirectory", item.fileURLIsDirectory, list);
    insertIfPresent(object, "comment", item.comment, asIs);
    insertIfPresent(object, "categoryId", item.categoryId, [](const QUuid& id) { return QJsonValue(uuidString(id)); });
    insertIfPresent(object, "shortcut", item.shortcut, [](const ItemShortcut& s) { return QJsonValue(encode(s)); });
    insertIfPresent(object, "sourceAppBundleId", item.sourceAppBundleId, asIs);
    insertIfPresent(object, "sourceAppName", item.sourceAppName, asIs);
    insertIfPresent(object, "ocrText", item.ocrText, asIs);
    insertIfPresent(object, "lastPastedDate", item.lastPastedDate, date);
    insertIfPresent(object, "firstCopiedDate", item.firstCopiedDate, date);
    insertIfPresent(object, "trashedDate", item.trashedDate, date);
    return object;
}

QJsonObject encode(const ClipboardCategory& category)
{
    return {
        {QStringLiteral("id"), uuidString(category.id)},
        {QStringLiteral("name"), category.name},
        {QStringLiteral("iconName"), category.iconName},
        {QStringLiteral("isHiddenFromFooter"), category.isHiddenFromFooter},
        {QStringLiteral("sortOrder"), category.sortOrder},
    };
}

QJsonObject encode(const ItemShortcut& shortcut)
{
    return {
        {QStringLiteral("keyCode"), int(shortcut.keyCode)},
        {QStringLiteral("modifiers"), qint64(shortcut.modifiers)},
    };
}

QJsonObject encode(const IgnoredApp& app)
{
    return {
        {QStringLiteral("bundleIdentifier"), app.bundleIdentifier},
        {QStringLiteral("name"), app.name},
    };
}

std::optional<ClipboardItem> decodeItem(const QJsonValue& value, QString* error)
{
    return decodeObject<ClipboardItem>(value, "item", error, [](Reader& reader, ClipboardItem& item) {
        reader.required("id", item.id);
        reader.required("contentType", item.contentType);
        reader.optional("textContent", item.textContent);
        reader.optional("rtfData", item.rtfData);
        reader.optional("imageFileName", item.imageFileName);
        reader.optional("fileURLStrings", item.fileURLStrings);
        reader.optional("fileURLIsDirectory", item.fileURLIsDirectory);
        reader.required("dateAdded", item.dateAdded);
        reader.required("isPinned", item.isPinned);
        reader.defaulted("isPinnedToTop", item.isPinnedToTop);
        reader.defaulted("tags", item.tags);
        reader.optional("comment", item.comment);
        reader.optional("categoryId", item.categoryId);
        reader.optional("shortcut", item.shortcut);
        reader.defaulted("isSensitive", item.isSensitive);
        reader.optional("sourceAppBundleId", item.sourceAppBundleId);
        reader.optional("sourceAppName", item.sourceAppName);
        reader.optional("ocrText", item.ocrText);
        reader.optional("lastPastedDate", item.lastPastedDate);
        reader.optional("firstCopiedDate", item.firstCopiedDate);
        reader.defaulted("isTrashed", item.isTrashed);
        reader.optional("trashedDate", item.trashedDate);
    });
}

std::optional<ClipboardCategory> decodeCategory(const QJsonValue& value, QString* error)
{
    return decodeObject<ClipboardCategory>(value, "category", error, [](Reader& reader, ClipboardCategory& category) {
        reader.required("id", category.id);
        reader.required("name", category.name);
        reader.required("iconName", category.iconName);
        reader.defaulted("isHiddenFromFooter", category.isHiddenFromFooter);
        reader.defaulted("sortOrder", category.sortOrder);
    });
}

std::optional<ItemShortcut> decodeShortcut(const QJsonValue& value, QString* error)
{
    return decodeObject<ItemShortcut>(value, "shortcut", error, [](Reader& reader, ItemShortcut& shortcut) {
        reader.required("keyCode", shortcut.keyCode);
        reader.required("modifiers", shortcut.modifiers);
    });
}

std::optional<IgnoredApp> decodeIgnoredApp(const QJsonValue& value, QString* error)
{
    return decodeObject<IgnoredApp>(value, "ignored application", error, [](Reader& reader, IgnoredApp& app) {
        reader.required("bundleIdentifier", app.bundleIdentifier);
        reader.required("name", app.name);
    });
}

double secondsSinceReferenceDate(const QDateTime& date)
{
    if (!date.isValid())
        return 0.0;
    return double(date.toMSecsSinceEpoch() - referenceDateMSecsSinceEpoch) / 1000.0;
}

QDateTime dateFromReferenceSeconds(double seconds)
{
    if (!(seconds >= earliestReferenceSeconds && seconds < latestReferenceSeconds))
        return {};
    return QDateTime::fromMSecsSinceEpoch(referenceDateMSecsSinceEpoch + std::llround(seconds * 1000.0), Qt::UTC);
}

QString uuidString(const QUuid& id) { return id.toString(QUuid::WithoutBraces).toUpper(); }

} // namespace Json

// ---------------------------------------------------------------------------------------
// File access

namespace {
std::atomic<int> g_stopCount {0};
}

FileBookmarkAccess::~FileBookmarkAccess()
{
    // Linux needs no scoped access to a file; the stop is counted so its once-only rule is testable.
    if (m_startedAccess)
        ++g_stopCount;
}

int FileBookmarkAccess::stopCount() { return g_stopCount.load(); }

} // namespace lumra
