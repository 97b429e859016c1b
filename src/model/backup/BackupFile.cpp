#include "model/backup/BackupFile.h"

#include "platform/core/JsonShape.h"

#include <QBuffer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>

#include <functional>
#include <utility>

namespace lumra::backup {

namespace {

QByteArray compact(const QJsonObject& object) { return QJsonDocument(object).toJson(QJsonDocument::Compact); }

// A JSON string literal, quotes included.
QByteArray quoted(const QString& text)
{
    const QByteArray array = QJsonDocument(QJsonArray {text}).toJson(QJsonDocument::Compact);
    return array.mid(1, array.size() - 2);
}

bool isAbsentOrNull(const QJsonValue& value) { return value.isUndefined() || value.isNull(); }

// The dated keys of an item, each of which must name an accepted date when present.
Status checkDates(const ClipboardItem& item)
{
    const std::pair<const char*, std::optional<QDateTime>> dates[] = {
        {"dateAdded", item.dateAdded},
        {"lastPastedDate", std::optional<QDateTime>(item.lastPastedDate)},
        {"firstCopiedDate", item.firstCopiedDate},
        {"trashedDate", std::optional<QDateTime>(item.trashedDate)},
    };
    for (const auto& [key, date] : dates) {
        if (date && !isAcceptedBackupDate(*date))
            return Status::failure(QStringLiteral("key \"%1\" holds a date outside the years 1970 to 9999").arg(QLatin1String(key)));
    }
    return {};
}

// One value of the document, parsed alone. A value of many small parts costs many times its size
// as a tree, so no more parts are built than Lumra writes for its size: an item has a few dozen
// keys, a string for each tag and file and a flag for each file. Strings (`"",`) can lie three bytes
// apart; the other values no closer than eight (`"",true,`). The writer reads each value back with
// this, so what it writes stays within.
constexpr qint64 valueAllowance = 512;
constexpr qint64 bytesPerString = 3;
constexpr qint64 bytesPerOtherValue = 8;

Result<QJsonValue> parseValue(QByteArrayView text)
{
    using R = Result<QJsonValue>;
    const qint64 strings = valueAllowance + text.size() / bytesPerString;
    if (Status shape = checkJsonShape(text, valueAllowance + text.size() / bytesPerOtherValue, strings, 8); !shape)
        return R::failure(QStringLiteral("it holds %1").arg(shape.error()));
    // An object or a list is parsed where it lies; anything else as the one element of a list.
    const bool container = text.startsWith('{') || text.startsWith('[');
    const QByteArray json = container ? QByteArray::fromRawData(text.data(), text.size()) : "[" + text.toByteArray() + "]";
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(json, &error);
    if (error.error != QJsonParseError::NoError)
        return R::failure(QStringLiteral("it is not JSON (%1)").arg(error.errorString()));
    if (document.isObject())
        return QJsonValue(document.object());
    return container ? QJsonValue(document.array()) : document.array().at(0);
}

QString keyText(QByteArrayView quoted)
{
    if (!quoted.contains('\\'))
        return QString::fromUtf8(quoted.sliced(1, quoted.size() - 2));
    const Result<QJsonValue> value = parseValue(quoted);
    return value ? value->toString() : QString();
}

// One item or category of the document as the reader takes it; the error says why not.
template <typename T>
Result<T> readValue(QByteArrayView text, std::optional<T> (*decode)(const QJsonValue&, QString*))
{
    Result<QJsonValue> value = parseValue(text);
    if (!value)
        return Result<T>::failure(value.error());
    QString error;
    std::optional<T> decoded = decode(value.value(), &error);
    if (!decoded)
        return Result<T>::failure(error);
    return std::move(*decoded);
}

Result<ClipboardItem> readItem(QByteArrayView text)
{
    Result<ClipboardItem> item = readValue<ClipboardItem>(text, Json::decodeItem);
    if (Status dates = item ? checkDates(item.value()) : Status(); !dates)
        return Result<ClipboardItem>::failure(dates.error());
    return item;
}

Result<ClipboardCategory> readCategory(QByteArrayView text) { return readValue<ClipboardCategory>(text, Json::decodeCategory); }

// The members of an object whose extent jsonValueEnd found: each key and the text of its value.
Status forEachMember(QByteArrayView object, const std::function<Status(const QString&, QByteArrayView)>& take)
{
    const auto broken = [](qsizetype at) { return Status::failure(QStringLiteral("The file is not JSON (at byte %1 of an object).").arg(at)); };
    qsizetype at = skipJsonSpace(object, 1);
    if (at < object.size() && object[at] == '}')
        return {};
    while (at < object.size()) {
        if (object[at] != '"')
            return broken(at);
        const qsizetype keyEnd = jsonValueEnd(object, at);
        if (keyEnd < 0)
            return broken(at);
        const QString key = keyText(object.sliced(at, keyEnd - at));
        at = skipJsonSpace(object, keyEnd);
        if (at >= object.size() || object[at] != ':')
            return broken(at);
        const qsizetype valueStart = skipJsonSpace(object, at + 1);
        const qsizetype valueEnd = jsonValueEnd(object, valueStart);
        if (valueEnd < 0)
            return broken(valueStart);
        if (Status s = take(key, object.sliced(valueStart, valueEnd - valueStart)); !s)
            return s;
        at = skipJsonSpace(object, valueEnd);
        if (at < object.size() && object[at] == '}')
            return {};
        if (at >= object.size() || object[at] != ',')
            return broken(at);
        at = skipJsonSpace(object, at + 1);
    }
    return broken(at);
}

// The elements of an array whose extent jsonValueEnd found.
Status forEachElement(QByteArrayView array, const std::function<Status(QByteArrayView)>& take)
{
    const auto broken = [](qsizetype at) { return Status::failure(QStringLiteral("The file is not JSON (at byte %1 of a list).").arg(at)); };
    qsizetype at = skipJsonSpace(array, 1);
    if (at < array.size() && array[at] == ']')
        return {};
    while (at < array.size()) {
        const qsizetype end = jsonValueEnd(array, at);
        if (end < 0)
            return broken(at);
        if (Status s = take(array.sliced(at, end - at)); !s)
            return s;
        at = skipJsonSpace(array, end);
        if (at < array.size() && array[at] == ']')
            return {};
        if (at >= array.size() || array[at] != ',')
            return broken(at);
        at = skipJsonSpace(array, at + 1);
    }
    return broken(at);
}

} // namespace

bool isAcceptedBackupDate(const QDateTime& date)
{
    return date.isValid() && date.toUTC().date().year() >= 1970 && date.toUTC().date().year() <= 9999;
}

Result<ExportData> decodeBackup(const QByteArray& bytes)
{
    using R = Result<ExportData>;
    if (bytes.size() > maxBackupFileBytes)
        return R::failure(QStringLiteral("The file is larger than a backup can be."));
    // Walked without building the document: each item, image and category is read on its own,
    // so that the file costs about what it holds, never what its values would cost as one tree.
    const QByteArrayView text(bytes);
    const qsizetype start = skipJsonSpace(text, 0);
    const qsizetype end = jsonValueEnd(text, start);
    if (end < 0 || skipJsonSpace(text, end) != text.size())
        return R::failure(QStringLiteral("The file is not JSON (it ends early or its brackets do not match, at byte %1).")
                              .arg(end < 0 ? text.size() : end));
    if (text[start] != '{')
        return R::failure(QStringLiteral("The file is not a backup: its top level is not an object."));
    std::optional<QByteArrayView> items, images, categories;
    Status walked = forEachMember(text.sliced(start, end - start), [&](const QString& key, QByteArrayView value) {
        if (key == u"items")
            items = value;
        else if (key == u"images")
            images = value;
        else if (key == u"categories")
            categories = value;
        return Status();
    });
    if (!walked)
        return R::failure(walked.error());
    if (!items || !items->startsWith('['))
        return R::failure(QStringLiteral("The file is not a backup: \"items\" is missing or not a list."));
    if (!images || !images->startsWith('{'))
        return R::failure(QStringLiteral("The file is not a backup: \"images\" is missing or not an object."));
    if (categories && *categories != QByteArrayView("null") && !categories->startsWith('['))
        return R::failure(QStringLiteral("The file is not a backup: \"categories\" is not a list."));

    ExportData data;
    qsizetype index = 0;
    walked = forEachElement(*items, [&](QByteArrayView element) {
        ++index;
        Result<ClipboardItem> item = readItem(element);
        if (!item)
            return Status::failure(QStringLiteral("Item %1 of the file: %2.").arg(index).arg(item.error()));
        data.items.append(std::move(item).value());
        return Status();
    });
    if (!walked)
        return R::failure(walked.error());

    walked = forEachMember(*images, [&](const QString& name, QByteArrayView value) {
        // Base64 holds no escapes: the bytes between the quotes are decoded as they lie.
        const bool plain = value.size() >= 2 && value.startsWith('"') && !value.contains('\\');
        QByteArray::FromBase64Result decoded {{}, QByteArray::Base64DecodingStatus::IllegalCharacter};
        if (plain) {
            decoded = QByteArray::fromBase64Encoding(QByteArray::fromRawData(value.data() + 1, value.size() - 2),
                                                     QByteArray::AbortOnBase64DecodingErrors);
        } else if (Result<QJsonValue> parsed = parseValue(value); parsed && parsed->isString()) {
            decoded = QByteArray::fromBase64Encoding(parsed->toString().toLatin1(), QByteArray::AbortOnBase64DecodingErrors);
        }
        if (!decoded)
            return Status::failure(QStringLiteral("Image \"%1\" of the file is not Base64 text.").arg(name.left(80)));
        data.images.insert(name, std::move(decoded.decoded));
        return Status();
    });
    if (!walked)
        return R::failure(walked.error());

    if (categories && categories->startsWith('[')) {
        QList<ClipboardCategory> list;
        index = 0;
        walked = forEachElement(*categories, [&](QByteArrayView element) {
            ++index;
            Result<ClipboardCategory> category = readCategory(element);
            if (!category)
                return Status::failure(QStringLiteral("Category %1 of the file: %2.").arg(index).arg(category.error()));
            list.append(std::move(category).value());
            return Status();
        });
        if (!walked)
            return R::failure(walked.error());
        data.categories = std::move(list);
    }
    return data;
}

// ---------------------------------------------------------------------------------------------------- writing

Status BackupWriter::write(const QByteArray& bytes)
{
    if (!m_status)
        return m_status;
    if (m_device.write(bytes) != bytes.size())
        m_status = Status::failure(m_device.errorString().isEmpty() ? QStringLiteral("The file could not be written.")
                                                                   : m_device.errorString());
    return m_status;
}

Status BackupWriter::enter(Stage stage)
{
    static const char* const openings[] = {"", "{\"items\":[", "],\"images\":{", "},\"categories\":"};
    while (m_status && m_stage < stage) {
        m_stage = Stage(int(m_stage) + 1);
        m_first = true;
        (void)write(openings[int(m_stage)]);
    }
    return m_status;
}

Status BackupWriter::begin() { return enter(Stage::items); }

Status BackupWriter::writeItem(const ClipboardItem& item)
{
    if (m_stage > Stage::items)
        return Status::failure(QStringLiteral("An item came after the images."));
    if (!enter(Stage::items))
        return m_status;
    const QByteArray value = compact(Json::encode(item));
    // What is written is what an import reads: an item it would refuse fails the export instead.
    if (Result<ClipboardItem> back = readItem(value); !back)
        return m_status = Status::failure(QStringLiteral("An item could not be written so that it reads back: %1.").arg(back.error()));
    return write((std::exchange(m_first, false) ? QByteArray() : QByteArrayLiteral(",")) + value);
}

Status BackupWriter::writeImage(const QString& name, const QByteArray& bytes)
{
    if (!enter(Stage::images))
        return m_status;
    QByteArray piece = m_first ? QByteArray() : QByteArrayLiteral(",");
    m_first = false;
    piece += quoted(name);
    piece += ":\"";
    piece += bytes.toBase64();
    piece += '"';
    return write(piece);
}

Status BackupWriter::finish(const QList<ClipboardCategory>& categories)
{
    if (!enter(Stage::done))
        return m_status;
    QJsonArray array;
    for (const ClipboardCategory& category : categories) {
        const QJsonObject object = Json::encode(category);
        array.append(object);
        if (Result<ClipboardCategory> back = readCategory(compact(object)); !back)
            return m_status = Status::failure(QStringLiteral("A category could not be written so that it reads back: %1.").arg(back.error()));
    }
    return write(QJsonDocument(array).toJson(QJsonDocument::Compact) + '}');
}

QByteArray encodeBackup(const ExportData& data)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    BackupWriter writer(buffer);
    (void)writer.begin();
    for (const ClipboardItem& item : data.items)
        (void)writer.writeItem(item);
    for (auto it = data.images.begin(); it != data.images.end(); ++it)
        (void)writer.writeImage(it.key(), it.value());
    (void)writer.finish(data.categories.value_or(QList<ClipboardCategory>()));
    return bytes;
}

} // namespace lumra::backup
