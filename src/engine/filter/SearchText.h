#pragma once

#include <QByteArrayView>
#include <QRegularExpression>
#include <QString>
#include <QStringList>
#include <QStringView>

namespace lumra {

// The first position at or after `from` where `needle` occurs, comparing code units exactly; -1 if none.
// Equal to QStringView::indexOf, several times faster on long texts (two-character vector filter).
qsizetype findSubstring(QStringView haystack, QStringView needle, qsizetype from = 0);

// The same over bytes (UTF-8 texts: a needle of whole characters is only found at a character's start).
qsizetype findSubstring(QByteArrayView haystack, QByteArrayView needle, qsizetype from = 0);

// The same over `text` read with its ASCII capitals in lower case, for a `needle` folded already:
// finds what findSubstring finds in the folded text whenever folding the text does no more than that.
qsizetype findSubstringFoldingAscii(QStringView text, QStringView needle, qsizetype from = 0);
// Whether `folded` (foldForSearch(text)) is `text` with its ASCII capitals in lower case, unit for unit.
bool foldsAsAscii(QStringView text, QStringView folded);

// Search compares texts case-folded and in composed form (NFC): case is ignored, accents are not.
QString foldForSearch(QStringView text);
// Every code unit of `folded` is a whole character (grapheme cluster) by itself.
bool hasOnlySingleUnitCharacters(QStringView folded);
// Whether foldsAsAscii(text, foldForSearch(text)) and hasOnlySingleUnitCharacters of the fold are
// both true, read from a table of common characters without folding; false too where the table
// cannot tell, and then folding decides.
bool foldsInPlace(QStringView text);

// A fuzzy query prepared once per search: folded and split into characters (grapheme clusters).
class FuzzyQuery {
public:
    explicit FuzzyQuery(QStringView query);
    bool isEmpty() const { return m_characters.isEmpty(); }
    // Whether the query's characters occur in `folded` in order, not necessarily adjacent.
    // `singleUnit` is hasOnlySingleUnitCharacters(folded), known in advance for indexed texts.
    bool matches(QStringView folded, bool singleUnit) const;
    // The same over a folded text in UTF-8.
    bool matches(QByteArrayView foldedUtf8, bool singleUnit) const;
    // The same over a text whose folding only lower-cases ASCII capitals (foldsAsAscii) and whose
    // characters are single units, followed by `trailingSpaces` spaces.
    bool matchesFoldingAscii(QStringView text, int trailingSpaces = 0) const;

private:
    QString m_folded;
    QStringList m_characters;
    QList<QByteArray> m_utf8Characters;
    bool m_singleUnit = true;
};

// The query's characters occur in the text in order, ignoring case.
bool fuzzyMatch(const QString& text, const QString& query);

// A search pattern compiled once per search, case ignored. A pattern that does not compile, that
// would raise the engine's backtracking limit, or that nests unbounded repeats of one atom
// ("(a+)+", the classic runaway form) matches nothing. Every match is bounded in backtracking
// steps, so no single text can hold the search for long.
class SearchRegex {
public:
    explicit SearchRegex(const QString& pattern);
    bool isUsable() const { return m_usable; }
    bool matches(QStringView haystack) const;

    static bool isRunawayPattern(const QString& pattern);
    static constexpr int backtrackLimit = 1'000'000;

private:
    QRegularExpression m_regex;
    bool m_usable = false;
};

} // namespace lumra
