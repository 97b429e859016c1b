#include "engine/filter/SearchText.h"

#include <QTextBoundaryFinder>

namespace lumra {

QString foldForSearch(QStringView text)
{
    QString folded = text.toString().toCaseFolded();
    for (QChar c : folded) {
        if (c.unicode() >= 0x300) return folded.normalized(QString::NormalizationForm_C);
    }
    return folded;
}

bool hasOnlySingleUnitCharacters(QStringView folded)
{
    // Below U+0300 nothing combines with its neighbour, except a carriage return before a line feed.
    for (qsizetype i = 0; i < folded.size(); ++i) {
        const char16_t c = folded[i].unicode();
        if (c >= 0x300) return false;
        if (c == u'\r' && i + 1 < folded.size() && folded[i + 1] == u'\n') return false;
    }
    return true;
}

namespace {
QStringList characters(const QString& text)
{
    QStringList result;
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    qsizetype start = 0;
    for (qsizetype end = finder.toNextBoundary(); end != -1; end = finder.toNextBoundary()) {
        if (end > start) result.append(text.mid(start, end - start));
        start = end;
    }
    return result;
}
} // namespace

FuzzyQuery::FuzzyQuery(QStringView query) : m_folded(foldForSearch(query)), m_characters(characters(m_folded))
{
    for (const QString& character : m_characters) {
        if (character.size() != 1) m_singleUnit = false;
    }
}

bool FuzzyQuery::matches(QStringView folded, bool singleUnit) const
{
    if (folded.isEmpty()) return isEmpty();
    if (isEmpty()) return true;
    if (singleUnit) {
        if (!m_singleUnit) return false; // a multi-unit character cannot occur in the text
        qsizetype from = 0;
        for (const QString& character : m_characters) {
            from = folded.indexOf(character.front(), from);
            if (from < 0) return false;
            ++from;
        }
        return true;
    }
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, folded);
    qsizetype cursor = 0;
    qsizetype start = 0;
    for (qsizetype end = finder.toNextBoundary(); end != -1 && cursor < m_characters.size();
         end = finder.toNextBoundary()) {
        if (folded.mid(start, end - start) == m_characters[cursor]) ++cursor;
        start = end;
    }
    return cursor == m_characters.size();
}

bool fuzzyMatch(const QString& text, const QString& query)
{
    const QString folded = foldForSearch(text);
    return FuzzyQuery(query).matches(folded, hasOnlySingleUnitCharacters(folded));
}

bool SearchRegex::isRunawayPattern(const QString& pattern)
{
    // A group holding one atom repeated without bound, itself repeated without bound.
    static const QRegularExpression nestedRepeat(QStringLiteral(
        R"(\((?:\?:)?(?:\\.|\.|\[\^?\]?(?:\\.|[^\]\\])*\]|[^()\\|])(?:[+*]|\{\d+,\})[?+]?\)(?:[+*]|\{\d+,\}))"));
    return pattern.contains(QLatin1String("(*LIMIT")) || nestedRepeat.match(pattern).hasMatch();
}

SearchRegex::SearchRegex(const QString& pattern)
{
    if (isRunawayPattern(pattern)) return;
    m_regex.setPattern(QStringLiteral("(*LIMIT_MATCH=%1)(*LIMIT_DEPTH=%1)").arg(backtrackLimit) + pattern);
    m_regex.setPatternOptions(QRegularExpression::CaseInsensitiveOption | QRegularExpression::UseUnicodePropertiesOption);
    m_usable = m_regex.isValid();
    if (m_usable) m_regex.optimize();
}

bool SearchRegex::matches(QStringView haystack) const
{
    // A run that hits the step limit reports no match, which is what a failed match means here.
    return m_usable && m_regex.match(haystack).hasMatch();
}

} // namespace lumra
