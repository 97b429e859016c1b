#include "model/backup/BackupFile.h"

#include <QBuffer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>

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
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(bytes, &parseError);
    if (parseError.error != QJsonParseError::NoError)
        return R::failure(QStringLiteral("The file is not JSON (%1 at byte %2).").arg(parseError.errorString()).arg(parseError.offset));
    if (!document.isObject())
        return R::failure(QStringLiteral("The file is not a backup: its top level is not an object."));
    const QJsonObject root = document.object();

    const QJsonValue items = root.value(QStringLiteral("items"));
    if (!items.isArray())
        return R::failure(QStringLiteral("The file is not a backup: \"items\" is missing or not a list."));
    const QJsonValue images = root.value(QStringLiteral("images"));
    if (!images.isObject())
        return R::failure(QStringLiteral("The file is not a backup: \"images\" is missing or not an object."));
    const QJsonValue categories = root.value(QStringLiteral("categories"));
    if (!isAbsentOrNull(categories) && !categories.isArray())
        return R::failure(QStringLiteral("The file is not a backup: \"categories\" is not a list."));

    ExportData data;
    const QJsonArray itemArray = items.toArray();
    data.items.reserve(itemArray.size());
    for (qsizetype i = 0; i < itemArray.size(); ++i) {
        QString error;
        std::optional<ClipboardItem> item = Json::decodeItem(itemArray.at(i), &error);
        if (item) {
            if (Status dates = checkDates(*item); !dates)
                error = dates.error();
            else {
                data.items.append(std::move(*item));
                continue;
            }
        }
        return R::failure(QStringLiteral("Item %1 of the file: %2.").arg(i + 1).arg(error));
    }

    const QJsonObject imageObject = images.toObject();
    data.images.reserve(imageObject.size());
    for (auto it = imageObject.begin(); it != imageObject.end(); ++it) {
        const QJsonValue value = it.value();
        auto decoded = value.isString()
            ? QByteArray::fromBase64Encoding(value.toString().toLatin1(), QByteArray::AbortOnBase64DecodingErrors)
            : QByteArray::FromBase64Result {{}, QByteArray::Base64DecodingStatus::IllegalCharacter};
        if (!decoded)
            return R::failure(QStringLiteral("Image \"%1\" of the file is not Base64 text.").arg(it.key().left(80)));
        data.images.insert(it.key(), std::move(decoded.decoded));
    }

    if (categories.isArray()) {
        const QJsonArray categoryArray = categories.toArray();
        QList<ClipboardCategory> list;
        for (qsizetype i = 0; i < categoryArray.size(); ++i) {
            QString error;
            std::optional<ClipboardCategory> category = Json::decodeCategory(categoryArray.at(i), &error);
            if (!category)
                return R::failure(QStringLiteral("Category %1 of the file: %2.").arg(i + 1).arg(error));
            list.append(std::move(*category));
        }
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
    QByteArray piece = m_first ? QByteArray() : QByteArrayLiteral(",");
    m_first = false;
    piece += compact(Json::encode(item));
    return write(piece);
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
    for (const ClipboardCategory& category : categories)
        array.append(Json::encode(category));
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
