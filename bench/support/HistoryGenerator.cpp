#include "HistoryGenerator.h"

#include "model/store/ItemRows.h"

namespace lumra::bench {

namespace {
const char* const vocabulary[] = {
    "the", "copy", "paste", "meeting", "invoice", "deploy", "function", "return", "value", "schedule",
    "Zürich", "naïve", "résumé", "error:", "TODO", "git", "commit", "branch", "cargo", "build", "release",
    "password", "server", "config", "yaml", "docker", "kubectl", "apply", "-f", "price", "€42.00", "日本語",
    "address", "street", "phone", "+41", "lorem", "ipsum", "dolor", "sit", "amet", "query", "SELECT", "*"};
const char* const apps[][2] = {{"org.mozilla.firefox", "Firefox"}, {"org.gnome.TextEditor", "Text Editor"},
                               {"org.kde.konsole", "Konsole"}, {"code", "Visual Studio Code"},
                               {"org.gnome.Nautilus", "Files"}, {"org.telegram.desktop", "Telegram"}};
const QUuid categoryIds[] = {QUuid("{7a1d0f6e-0001-4c1b-9a55-2f0e6d1c0001}"), QUuid("{7a1d0f6e-0002-4c1b-9a55-2f0e6d1c0002}"),
                             QUuid("{7a1d0f6e-0003-4c1b-9a55-2f0e6d1c0003}")};
} // namespace

QString HistoryGenerator::words(int minChars, int maxChars)
{
    const int target = minChars + int(m_random.bounded(quint32(maxChars - minChars + 1)));
    QString text;
    text.reserve(target + 16);
    while (text.size() < target) {
        if (!text.isEmpty())
            text += m_random.bounded(12) == 0 ? QLatin1Char('\n') : QLatin1Char(' ');
        text += QString::fromUtf8(vocabulary[m_random.bounded(int(std::size(vocabulary)))]);
    }
    return text;
}

QList<ClipboardItem> HistoryGenerator::items(int count, const QDateTime& newest)
{
    QList<ClipboardItem> result;
    result.reserve(count);
    QDateTime when = newest;
    for (int i = 0; i < count; ++i) {
        ClipboardItem item;
        item.id = QUuid::createUuidV5(QUuid(), QByteArray::number(m_random.generate64()));
        when = when.addSecs(-qint64(30 + m_random.bounded(600)));
        item.dateAdded = when;
        item.firstCopiedDate = when;
        const auto& app = apps[m_random.bounded(int(std::size(apps)))];
        item.sourceAppBundleId = QString::fromLatin1(app[0]);
        item.sourceAppName = QString::fromLatin1(app[1]);

        const int kind = int(m_random.bounded(100));
        if (kind < 50) {
            item.textContent = words(8, 80);
        } else if (kind < 72) {
            item.textContent = words(100, 1000);
        } else if (kind < 77) {
            item.textContent = words(2000, 20000);
        } else if (kind < 88) {
            item.textContent = QStringLiteral("https://example.org/%1/%2?id=%3").arg(words(4, 12).replace(' ', '-'))
                                   .arg(i).arg(m_random.generate());
        } else if (kind < 91) {
            item.textContent = QStringLiteral("person%1@example.com").arg(i);
        } else if (kind < 93) {
            item.textContent = QStringLiteral("#%1").arg(m_random.bounded(0x1000000), 6, 16, QLatin1Char('0'));
        } else if (kind < 97) {
            item.contentType = ClipboardContentType::image;
            item.imageFileName = QString::fromLatin1(item.id.toRfc4122().toHex()) + QStringLiteral(".png");
            if (m_random.bounded(3) == 0)
                item.ocrText = words(20, 300);
        } else {
            item.contentType = ClipboardContentType::file;
            const int files = 1 + int(m_random.bounded(3));
            QStringList urls;
            QList<bool> dirs;
            for (int f = 0; f < files; ++f) {
                urls << QStringLiteral("file:///home/user/Documents/%1-%2.pdf").arg(i).arg(f);
                dirs << (m_random.bounded(5) == 0);
            }
            item.fileURLStrings = urls;
            item.fileURLIsDirectory = dirs;
        }
        if (m_random.bounded(40) == 0)
            item.isPinned = true;
        if (m_random.bounded(200) == 0)
            item.isPinnedToTop = true;
        if (m_random.bounded(15) == 0)
            item.tags = {QStringLiteral("work"), QStringLiteral("tag%1").arg(m_random.bounded(20))};
        if (m_random.bounded(10) == 0)
            item.categoryId = categoryIds[m_random.bounded(int(std::size(categoryIds)))];
        if (m_random.bounded(30) == 0) {
            item.isTrashed = true;
            item.trashedDate = when.addSecs(3600);
        }
        if (m_random.bounded(25) == 0)
            item.lastPastedDate = when.addSecs(60);
        result << item;
    }
    return result;
}

QList<ClipboardCategory> HistoryGenerator::categories() const
{
    return {{categoryIds[0], QStringLiteral("Work"), QStringLiteral("briefcase"), false, 0},
            {categoryIds[1], QStringLiteral("Code"), QStringLiteral("chevron.left.slash.chevron.right"), false, 1},
            {categoryIds[2], QStringLiteral("Personal"), QStringLiteral("person"), true, 2}};
}

QByteArray HistoryGenerator::imageBytes(const ClipboardItem& item)
{
    QRandomGenerator random(qHash(item.id));
    QByteArray bytes(4096 + int(random.bounded(28 * 1024)), Qt::Uninitialized);
    random.fillRange(reinterpret_cast<quint32*>(bytes.data()), bytes.size() / 4);
    return bytes;
}

Status HistoryGenerator::fill(PersistenceController& persistence, const QList<ClipboardItem>& items,
                              const QList<ClipboardCategory>& categories, const store::PersistentStore* target)
{
    store::ManagedObjectContext& context = persistence.viewContext();
    if (!target)
        target = persistence.localStore();
    for (const ClipboardItem& item : items) {
        store::ManagedObjectPtr row = context.insert(store::EntityKind::item, target);
        populateManagedItem(*row, item);
        row->set(store::ItemAttr::ocrText, item.ocrText);
        if (item.contentType == ClipboardContentType::image)
            row->set(store::ItemAttr::imageData, imageBytes(item));
    }
    for (const ClipboardCategory& c : categories) {
        store::ManagedObjectPtr row = context.insert(store::EntityKind::category, target);
        row->set(store::CategoryAttr::id, c.id);
        row->set(store::CategoryAttr::name, c.name);
        row->set(store::CategoryAttr::iconName, c.iconName);
        row->set(store::CategoryAttr::isHiddenFromFooter, c.isHiddenFromFooter);
        row->set(store::CategoryAttr::sortOrder, qint64(c.sortOrder));
    }
    return persistence.save();
}

} // namespace lumra::bench
