#include "ui/items/editors/EditorRules.h"

#include <QTextBoundaryFinder>

#include <algorithm>

namespace lumra::EditorRules {

namespace {

bool isNewline(QChar c)
{
    const char16_t u = c.unicode();
    return (u >= 0x0A && u <= 0x0D) || u == 0x85 || u == 0x2028 || u == 0x2029;
}

bool isBlank(QChar c) { return c.isSpace() || isNewline(c); }

} // namespace

QString itemCaption(const ClipboardItem& item)
{
    return item.isSensitive ? item.maskedDisplayText() : item.displayText();
}

QStringList parseTags(const QString& text)
{
    return text.split(QLatin1Char(' '), Qt::SkipEmptyParts);
}

QString tagsText(const QStringList& tags) { return tags.join(QLatin1Char(' ')); }

QString unionTagsText(const QList<ClipboardItem>& items)
{
    QStringList kept;
    for (const ClipboardItem& item : items) {
        for (const QString& tag : item.tags) {
            // Canonically equivalent spellings are one tag.
            const QString normal = tag.normalized(QString::NormalizationForm_C);
            if (!std::any_of(kept.cbegin(), kept.cend(), [&](const QString& k) {
                    return k.normalized(QString::NormalizationForm_C) == normal;
                }))
                kept << tag;
        }
    }
    return tagsText(kept);
}

QString multiTagCaption(qsizetype itemCount) { return QStringLiteral("Applies to %1 items").arg(itemCount); }

std::optional<QString> commentToStore(const QString& text)
{
    qsizetype begin = 0, end = text.size();
    while (begin < end && isBlank(text[begin]))
        ++begin;
    while (end > begin && isBlank(text[end - 1]))
        --end;
    if (begin == end)
        return std::nullopt;
    return text.mid(begin, end - begin);
}

QString commentTitle(const ClipboardItem& item)
{
    return item.comment ? QStringLiteral("Edit Comment") : QStringLiteral("Add Comment");
}

namespace {
thread_local qint64 countedOnThisThread = 0;
} // namespace

qint64 charactersCountedOnThisThread() { return countedOnThisThread; }

TextStatistics textStatistics(const QString& text)
{
    countedOnThisThread += text.size();
    TextStatistics result;
    QTextBoundaryFinder graphemes(QTextBoundaryFinder::Grapheme, text);
    while (graphemes.toNextBoundary() > 0)
        ++result.characters;
    bool inWord = false;
    for (QChar c : text) {
        const bool blank = isBlank(c);
        if (!blank && !inWord)
            ++result.words;
        inWord = !blank;
    }
    if (!text.isEmpty()) {
        result.lines = 1;
        for (QChar c : text)
            result.lines += isNewline(c) ? 1 : 0;
    }
    return result;
}

QString statisticsText(const TextStatistics& s)
{
    return QStringLiteral("%1 characters \u00B7 %2 words \u00B7 %3 %4")
        .arg(s.characters)
        .arg(s.words)
        .arg(s.lines)
        .arg(s.lines == 1 ? QStringLiteral("line") : QStringLiteral("lines"));
}

std::optional<QString> categoryName(const QString& text)
{
    return commentToStore(text);
}

QString deleteCategoryTitle(const QString& name) { return QStringLiteral("Delete \"%1\"?").arg(name); }

const QStringList& categoryIconChoices()
{
    static const QStringList choices = {
        "folder.fill",    "tray.fill",      "doc.fill",       "doc.text.fill",   "bookmark.fill",     "tag.fill",
        "link",           "paperclip",      "globe",          "lock.fill",       "pin.fill",          "flag.fill",
        "bell.fill",      "envelope.fill",  "message.fill",   "star.fill",       "heart.fill",        "bolt.fill",
        "flame.fill",     "leaf.fill",      "camera.fill",    "paintbrush.fill", "wrench.fill",       "gear",
        "cart.fill",      "gift.fill",      "lightbulb.fill", "book.fill",       "graduationcap.fill", "desktopcomputer",
        "house.fill",     "car.fill",       "airplane",       "clock.fill",      "person.fill",       "music.note",
    };
    return choices;
}

bool canSaveShortcut(const std::optional<ItemShortcut>& recorded, bool itemHadShortcut)
{
    return recorded.has_value() || !itemHadShortcut;
}

QPoint placedOnScreen(const QRect& frame, const QRect& area)
{
    if (area.isEmpty())
        return frame.topLeft();
    const auto along = [](int start, int length, int areaStart, int areaLength) {
        return std::max(areaStart, std::min(start, areaStart + areaLength - length));
    };
    return {along(frame.x(), frame.width(), area.x(), area.width()),
            along(frame.y(), frame.height(), area.y(), area.height())};
}

} // namespace lumra::EditorRules
