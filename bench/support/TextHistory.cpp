#include "TextHistory.h"

namespace lumra::bench {

namespace {

const char* const words[] = {"the", "copy", "paste", "meeting", "invoice", "deploy", "function", "Return", "value",
                             "schedule", "Zürich", "naïve", "error:", "TODO", "git", "commit", "Branch", "cargo",
                             "build", "server", "config", "docker", "price", "€42.00", "address", "street", "phone",
                             "lorem", "ipsum", "dolor", "SELECT", "query", "from", "where", "and", "with"};
const char* const apps[][2] = {{"org.mozilla.firefox", "Firefox"}, {"org.gnome.TextEditor", "Text Editor"},
                               {"org.kde.konsole", "Konsole"}, {"code", "Visual Studio Code"},
                               {"org.telegram.desktop", "Telegram"}};

QString text(QRandomGenerator& random, int length)
{
    QString out;
    while (out.size() < length) {
        if (!out.isEmpty())
            out += random.bounded(12) == 0 ? QLatin1Char('\n') : QLatin1Char(' ');
        out += QString::fromUtf8(words[random.bounded(int(std::size(words)))]);
    }
    return out;
}

} // namespace

QList<ClipboardItem> textHistory(int count, const std::function<int(QRandomGenerator&)>& length, qint64* utf8Bytes)
{
    QRandomGenerator random(1313);
    QList<ClipboardItem> items;
    QDateTime when(QDate(2026, 3, 1), QTime(9, 0), Qt::UTC);
    *utf8Bytes = 0;
    for (int i = 0; i < count; ++i) {
        ClipboardItem item;
        item.id = QUuid::createUuidV5(QUuid(), QByteArray::number(random.generate64()));
        when = when.addSecs(-qint64(30 + random.bounded(600)));
        item.dateAdded = when;
        item.firstCopiedDate = when;
        const auto& app = apps[random.bounded(int(std::size(apps)))];
        item.sourceAppBundleId = QString::fromLatin1(app[0]);
        item.sourceAppName = QString::fromLatin1(app[1]);
        item.textContent = text(random, length(random));
        *utf8Bytes += item.textContent->toUtf8().size();
        items.append(std::move(item));
    }
    return items;
}

int shortTextLength(QRandomGenerator& random) { return 60 + int(random.bounded(80)); }

int longTextLength(QRandomGenerator& random)
{
    return random.bounded(50) == 0 ? 20'000 + int(random.bounded(30'000)) : 500 + int(random.bounded(4'000));
}

} // namespace lumra::bench
