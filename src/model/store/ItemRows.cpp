#include "model/store/ItemRows.h"

#include <QCollator>
#include <QJsonArray>
#include <QJsonDocument>

#include <algorithm>

namespace lumra {

using namespace store;

namespace {

std::optional<QJsonArray> jsonArray(const sql::Value& v)
{
    const auto* text = std::get_if<QString>(&v);
    if (!text)
        return std::nullopt;
    const QJsonDocument doc = QJsonDocument::fromJson(text->toUtf8());
    if (!doc.isArray())
        return std::nullopt;
    return doc.array();
}

std::optional<QStringList> stringList(const sql::Value& v)
{
    std::optional<QJsonArray> array = jsonArray(v);
    if (!array)
        return std::nullopt;
    QStringList list;
    list.reserve(array->size());
    for (const QJsonValue& element : *array) {
        if (!element.isString())
            return std::nullopt;
        list << element.toString();
    }
    return list;
}

std::optional<QList<bool>> boolList(const sql::Value& v)
{
    std::optional<QJsonArray> array = jsonArray(v);
    if (!array)
        return std::nullopt;
    QList<bool> list;
    for (const QJsonValue& element : *array) {
        if (!element.isBool())
            return std::nullopt;
        list << element.toBool();
    }
    return list;
}

sql::Value jsonText(const QJsonArray& array)
{
    return QString::fromUtf8(QJsonDocument(array).toJson(QJsonDocument::Compact));
}

} // namespace

std::optional<ClipboardItem> detail::makeClipboardItem(const RowSource& row, bool* dateWasMissing, bool leaveOutRichText)
{
    using namespace ItemAttr;
    const auto value = [&row](int attribute) { return row.value(attribute); };
    std::optional<QUuid> id = row.uuid(ItemAttr::id);
    if (!id)
        return std::nullopt;
    ClipboardItem item;
    item.id = *id;
    item.contentType = contentTypeFromRawValue(stringFrom(value(contentType)).value_or(QString()))
                           .value_or(ClipboardContentType::text);
    if (!sql::isNull(value(tagsJSON)))
        item.tags = stringList(value(tagsJSON)).value_or(QStringList());
    if (!sql::isNull(value(fileURLStringsJSON)))
        item.fileURLStrings = stringList(value(fileURLStringsJSON));
    if (!sql::isNull(value(fileURLIsDirectoryJSON)))
        item.fileURLIsDirectory = boolList(value(fileURLIsDirectoryJSON));

    // Key codes beyond 16 bits and negative modifier masks were never written by Lumra: no shortcut.
    const qint64 keyCode = integerFrom(value(shortcutKeyCode)).value_or(-1);
    if (keyCode >= 0 && keyCode <= 0xFFFF) {
        const qint64 modifiers = integerFrom(value(shortcutModifiers)).value_or(0);
        if (modifiers >= 0)
            item.shortcut = ItemShortcut {quint16(keyCode), quint64(modifiers)};
    }

    item.textContent = stringFrom(value(textContent));
    if (leaveOutRichText)
        item.richTextInStore = row.holdsBytes(rtfData);
    else
        item.rtfData = bytesFrom(value(rtfData));
    item.imageFileName = stringFrom(value(imageFileName));
    item.isPinned = boolFrom(value(isPinned)).value_or(false);
    item.isPinnedToTop = boolFrom(value(isPinnedToTop)).value_or(false);
    item.comment = stringFrom(value(comment));
    item.categoryId = row.uuid(categoryId);
    item.isSensitive = boolFrom(value(isSensitive)).value_or(false);
    item.sourceAppBundleId = stringFrom(value(sourceAppBundleId));
    item.sourceAppName = stringFrom(value(sourceAppName));
    item.ocrText = stringFrom(value(ocrText));
    item.lastPastedDate = dateFrom(value(lastPastedDate));
    item.firstCopiedDate = dateFrom(value(firstCopiedDate));
    item.isTrashed = boolFrom(value(isTrashed)).value_or(false);
    item.trashedDate = dateFrom(value(trashedDate));

    // A row without a date goes by its other dates; with none at all the caller gives it the time it was read.
    std::optional<QDateTime> added = dateFrom(value(dateAdded));
    if (dateWasMissing)
        *dateWasMissing = !added;
    item.dateAdded = added ? *added : item.firstCopiedDate.value_or(item.lastPastedDate.value_or(QDateTime()));
    return item;
}

namespace {

std::optional<ClipboardItem> itemOfRow(const ManagedObject& row, bool leaveOutRichText)
{
    if (row.entity().kind != EntityKind::item)
        return std::nullopt;
    struct ObjectRow final : detail::RowSource {
        const ManagedObject& object;
        explicit ObjectRow(const ManagedObject& o) : object(o) { }
        sql::Value value(int attribute) const override { return object.value(attribute); }
        bool holdsBytes(int attribute) const override { return object.holdsBytes(attribute); }
    };
    std::optional<ClipboardItem> item = detail::makeClipboardItem(ObjectRow(row), nullptr, leaveOutRichText);
    if (item && !item->dateAdded.isValid())
        item->dateAdded = QDateTime::currentDateTimeUtc();
    return item;
}

} // namespace

std::optional<ClipboardItem> makeClipboardItem(const ManagedObject& row) { return itemOfRow(row, false); }

std::optional<ClipboardItem> makeListItem(const ManagedObject& row) { return itemOfRow(row, true); }

std::optional<ClipboardCategory> makeClipboardCategory(const ManagedObject& row)
{
    if (row.entity().kind != EntityKind::category)
        return std::nullopt;
    std::optional<QUuid> id = row.uuid(CategoryAttr::id);
    if (!id)
        return std::nullopt;
    ClipboardCategory category;
    category.id = *id;
    category.name = row.string(CategoryAttr::name).value_or(QString());
    category.iconName = row.string(CategoryAttr::iconName).value_or(QStringLiteral("folder.fill"));
    category.isHiddenFromFooter = row.boolean(CategoryAttr::isHiddenFromFooter).value_or(false);
    category.sortOrder = row.integer(CategoryAttr::sortOrder).value_or(0);
    return category;
}

void populateManagedItem(ManagedObject& row, const ClipboardItem& item)
{
    using namespace ItemAttr;
    row.set(id, item.id);
    row.set(contentType, toRawValue(item.contentType));
    row.set(textContent, item.textContent);
    row.set(rtfData, item.rtfData);
    row.set(imageFileName, item.imageFileName);
    row.set(dateAdded, item.dateAdded);
    row.set(isPinned, item.isPinned);
    row.set(isPinnedToTop, item.isPinnedToTop);
    row.set(comment, item.comment);
    row.set(categoryId, item.categoryId);
    row.set(isSensitive, item.isSensitive);
    row.setValue(tagsJSON, item.tags.isEmpty() ? sql::Value {} : jsonText(QJsonArray::fromStringList(item.tags)));
    row.setValue(fileURLStringsJSON,
                 item.fileURLStrings ? jsonText(QJsonArray::fromStringList(*item.fileURLStrings)) : sql::Value {});
    if (item.fileURLIsDirectory) {
        QJsonArray flags;
        for (bool isDirectory : *item.fileURLIsDirectory)
            flags.append(isDirectory);
        row.setValue(fileURLIsDirectoryJSON, jsonText(flags));
    } else {
        row.setValue(fileURLIsDirectoryJSON, {});
    }
    row.setValue(shortcutKeyCode, item.shortcut ? qint64(item.shortcut->keyCode) : qint64(-1));
    row.setValue(shortcutModifiers, item.shortcut ? qint64(item.shortcut->modifiers) : qint64(0));
    row.set(sourceAppBundleId, item.sourceAppBundleId);
    row.set(sourceAppName, item.sourceAppName);
    row.set(lastPastedDate, item.lastPastedDate);
    row.set(firstCopiedDate, item.firstCopiedDate);
    row.set(isTrashed, item.isTrashed);
    row.set(trashedDate, item.trashedDate);
}

void sortCategories(QList<ClipboardCategory>& categories)
{
    QCollator collator;
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    std::stable_sort(categories.begin(), categories.end(), [&](const ClipboardCategory& a, const ClipboardCategory& b) {
        if (a.sortOrder != b.sortOrder)
            return a.sortOrder < b.sortOrder;
        return collator.compare(a.name, b.name) < 0;
    });
}

} // namespace lumra
