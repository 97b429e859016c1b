#include "model/store/LegacyMigration.h"

#include "model/ClipboardItem.h"
#include "model/Diagnostics.h"
#include "model/store/ItemRows.h"
#include "platform/core/Clock.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSet>

namespace lumra {

using namespace store;

namespace {

std::optional<QJsonArray> readArray(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QJsonDocument doc = QJsonDocument::fromJson(file.readAll());
    if (!doc.isArray())
        return std::nullopt;
    return doc.array();
}

std::optional<ClipboardItem> decodeOldItem(const QJsonValue& value)
{
    const QJsonObject o = value.toObject();
    const QJsonValue id = o.value(QStringLiteral("id"));
    const QJsonValue content = o.value(QStringLiteral("content"));
    const QJsonValue date = o.value(QStringLiteral("dateAdded"));
    const QJsonValue pinned = o.value(QStringLiteral("isPinned"));
    if (!value.isObject() || !id.isString() || !content.isString() || !date.isDouble() || !pinned.isBool())
        return std::nullopt;
    const QUuid uuid = QUuid::fromString(id.toString());
    if (uuid.isNull())
        return std::nullopt;
    ClipboardItem item;
    item.id = uuid;
    item.contentType = ClipboardContentType::text;
    item.textContent = content.toString();
    item.isPinned = pinned.toBool();
    item.dateAdded = Json::dateFromReferenceSeconds(date.toDouble());
    if (!item.dateAdded.isValid())
        item.dateAdded = Clock::shared().now();
    return item;
}

QList<ClipboardItem> decodeItems(const QJsonArray& array)
{
    QList<ClipboardItem> items;
    bool current = true;
    for (const QJsonValue& v : array) {
        std::optional<ClipboardItem> item = Json::decodeItem(v);
        if (!item) {
            current = false;
            break;
        }
        items << *item;
    }
    if (current)
        return items;
    items.clear();
    for (const QJsonValue& v : array) {
        std::optional<ClipboardItem> item = decodeOldItem(v);
        if (!item)
            return {};
        items << *item;
    }
    return items;
}

std::optional<QByteArray> readImage(const QString& imagesFolder, const QString& name)
{
    const QString path = imagesFolder + QLatin1Char('/') + name;
    const QFileInfo info(path);
    if (info.isSymLink() || !info.isFile())
        return std::nullopt;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    return file.readAll();
}

// Ids are unique per store: a repeated legacy id gets a new one rather than failing the whole move.
QUuid unusedId(ManagedObjectContext& context, EntityKind kind, const QUuid& id, QSet<QUuid>& taken)
{
    QUuid result = id;
    while (result.isNull() || taken.contains(result) || context.fetchById(kind, result))
        result = QUuid::createUuid();
    taken.insert(result);
    return result;
}

} // namespace

bool isPlainFileName(const QString& name)
{
    return !name.isEmpty() && name != QLatin1String(".") && name != QLatin1String("..")
        && !name.contains(QLatin1Char('/')) && !name.contains(QChar(0));
}

Status migrateLegacyStorage(PersistenceController& persistence, const LegacyMigrationFlag& flag)
{
    if (flag.isComplete())
        return {};
    const QString folder = persistence.folder();
    const QString itemFile = folder + QStringLiteral("/clipboard_history.json");
    const QString categoryFile = folder + QStringLiteral("/categories.json");
    const QString imagesFolder = folder + QStringLiteral("/Images");
    ManagedObjectContext& context = persistence.viewContext();
    const PersistentStore* target = persistence.localStore();

    QSet<QUuid> takenItemIds;
    int refusedImages = 0;
    if (std::optional<QJsonArray> array = readArray(itemFile)) {
        for (ClipboardItem item : decodeItems(*array)) {
            item.id = unusedId(context, EntityKind::item, item.id, takenItemIds);
            if (item.imageFileName && !isPlainFileName(*item.imageFileName)) {
                item.imageFileName.reset();
                ++refusedImages;
            }
            ManagedObjectPtr row = context.insert(EntityKind::item, target);
            populateManagedItem(*row, item);
            if (item.imageFileName)
                if (std::optional<QByteArray> bytes = readImage(imagesFolder, *item.imageFileName))
                    row->set(ItemAttr::imageData, *bytes);
        }
    }

    QSet<QUuid> takenCategoryIds;
    int refusedCategories = 0;
    if (std::optional<QJsonArray> array = readArray(categoryFile)) {
        // One category that cannot be read costs only itself.
        for (qsizetype position = 0; position < array->size(); ++position) {
            const std::optional<ClipboardCategory> read = Json::decodeCategory(array->at(position));
            if (!read) {
                ++refusedCategories;
                continue;
            }
            const ClipboardCategory& category = *read;
            ManagedObjectPtr row = context.insert(EntityKind::category, target);
            row->set(CategoryAttr::id, unusedId(context, EntityKind::category, category.id, takenCategoryIds));
            row->set(CategoryAttr::name, category.name);
            row->set(CategoryAttr::iconName, category.iconName);
            row->set(CategoryAttr::isHiddenFromFooter, category.isHiddenFromFooter);
            row->set(CategoryAttr::sortOrder, qint64(category.sortOrder != 0 ? category.sortOrder : position));
        }
    }

    if (refusedCategories > 0)
        Diagnostics::shared().warn(QStringLiteral("Persistence"),
                                   QStringLiteral("Legacy migration skipped %1 unreadable categor(ies)").arg(refusedCategories));
    if (refusedImages > 0)
        Diagnostics::shared().warn(QStringLiteral("Persistence"),
                                   QStringLiteral("Legacy migration refused %1 image name(s) that were not plain file names").arg(refusedImages));
    if (Status s = persistence.save(); !s)
        return s; // nothing is marked or renamed: the next start tries again

    flag.markComplete();
    if (QFileInfo::exists(itemFile))
        QFile::rename(itemFile, itemFile + QStringLiteral(".backup"));
    if (QFileInfo::exists(categoryFile))
        QFile::rename(categoryFile, categoryFile + QStringLiteral(".backup"));
    return {};
}

} // namespace lumra
