#include "ui/DrawableText.h"

#include <QGlyphRun>
#include <QHash>
#include <QTextBoundaryFinder>
#include <QTextLayout>

#include <algorithm>

namespace lumra {

namespace {

bool plainLatin(const QString& cluster)
{
    // Every text font has these; asking the font engine would cost one layout per character.
    return std::all_of(cluster.begin(), cluster.end(), [](QChar c) { return c.unicode() < 0x250; });
}

} // namespace

bool canDraw(const QString& cluster, const QFont& font)
{
    if (cluster.isEmpty() || plainLatin(cluster))
        return true;
    // Asked from the user interface only, for a few short texts: a small cache per thread is enough.
    thread_local QHash<QString, bool> known;
    const QString key = font.key() + QChar(0) + cluster;
    if (const auto it = known.constFind(key); it != known.constEnd())
        return *it;
    QTextLayout layout(cluster, font);
    layout.beginLayout();
    layout.createLine();
    layout.endLayout();
    bool drawable = true;
    for (const QGlyphRun& run : layout.glyphRuns()) {
        // Glyph 0 is the font's "missing" box, used when neither the font nor a fallback has the character.
        const QList<quint32> glyphs = run.glyphIndexes();
        if (std::find(glyphs.begin(), glyphs.end(), 0u) != glyphs.end())
            drawable = false;
    }
    if (known.size() > 512)
        known.clear();
    known.insert(key, drawable);
    return drawable;
}

QString drawableText(const QString& text, const QFont& font)
{
    if (plainLatin(text))
        return text;
    QString shown;
    shown.reserve(text.size());
    QTextBoundaryFinder clusters(QTextBoundaryFinder::Grapheme, text);
    qsizetype start = 0;
    bool dropSpace = false; // a space after a left-out symbol at the start of the text
    for (qsizetype end = clusters.toNextBoundary(); end > 0; start = end, end = clusters.toNextBoundary()) {
        const QString cluster = text.mid(start, end - start);
        if (cluster == QLatin1String(" ") && dropSpace) {
            dropSpace = false;
            continue;
        }
        dropSpace = false;
        if (canDraw(cluster, font)) {
            shown += cluster;
            continue;
        }
        // Left out with the space before it, or after it when nothing came before.
        if (shown.endsWith(QLatin1Char(' ')))
            shown.chop(1);
        else if (shown.isEmpty())
            dropSpace = true;
    }
    return shown;
}

} // namespace lumra
