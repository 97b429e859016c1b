#include "engine/filter/SearchText.h"

#include <QTextBoundaryFinder>

#include <cstring>

#ifdef __SSE2__
#include <emmintrin.h>
#endif
#ifdef __x86_64__
#include <immintrin.h>
#endif

namespace lumra {

namespace {
inline char16_t lowerAscii(char16_t u) { return unsigned(u - u'A') < 26u ? char16_t(u + 0x20) : u; }

inline bool sameFoldingAscii(const char16_t* text, const char16_t* word, qsizetype count)
{
    for (qsizetype k = 0; k < count; ++k)
        if (lowerAscii(text[k]) != word[k]) return false;
    return true;
}

// What to OR into a unit so that comparing it with `folded`, a unit of a folded needle, also finds
// its ASCII capital: 0x20 for 'a'..'z' (whose only other form is 'A'..'Z'), nothing for the rest,
// which lower-casing ASCII capitals never makes.
inline char16_t capitalBit(char16_t folded) { return unsigned(folded - u'a') < 26u ? 0x20 : 0; }

// The first candidate of `mask` (one bit a byte, positions from `base`) whose middle agrees too, else -1.
inline qsizetype verifyBytes(const char* text, const char* word, qsizetype n, qsizetype base, unsigned mask)
{
    while (mask) {
        const int bit = __builtin_ctz(mask);
        if (std::memcmp(text + base + bit + 1, word + 1, size_t(n - 2)) == 0) return base + bit;
        mask &= mask - 1;
    }
    return -1;
}

#ifdef __x86_64__
const bool hasAvx2 = __builtin_cpu_supports("avx2");

// Positions among the sixteen from `at` where the needle's first and last units may start and end
// (two mask bits each), reading ASCII capitals as lower case.
__attribute__((target("avx2"))) inline unsigned foldingCandidates(const char16_t* text, qsizetype at, qsizetype n,
                                                                  __m256i first, __m256i firstBit, __m256i last,
                                                                  __m256i lastBit)
{
    const __m256i atFirst = _mm256_or_si256(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(text + at)), firstBit);
    const __m256i atLast = _mm256_or_si256(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(text + at + n - 1)), lastBit);
    return unsigned(_mm256_movemask_epi8(_mm256_and_si256(_mm256_cmpeq_epi16(atFirst, first), _mm256_cmpeq_epi16(atLast, last))));
}

// The first candidate of `mask` (positions from `base`) whose middle agrees too, else -1.
inline qsizetype verifyFoldingAscii(const char16_t* text, const char16_t* word, qsizetype n, qsizetype base, unsigned mask)
{
    while (mask) {
        const int byte = __builtin_ctz(mask);
        const qsizetype at = base + byte / 2;
        if (n < 3 || sameFoldingAscii(text + at + 1, word + 1, n - 2)) return at;
        mask &= ~(3u << byte);
    }
    return -1;
}

// Sixteen positions at a time of the in-place search, where the processor has them: most texts are
// searched this way. The first match from `i` on, else -1 with `i` where the wide steps stopped.
__attribute__((target("avx2"))) qsizetype findFoldingAsciiWide(const char16_t* text, const char16_t* word, qsizetype n,
                                                               qsizetype lastStart, qsizetype& i)
{
    const __m256i first = _mm256_set1_epi16(short(word[0]));
    const __m256i firstBit = _mm256_set1_epi16(short(capitalBit(word[0])));
    const __m256i last = _mm256_set1_epi16(short(word[n - 1]));
    const __m256i lastBit = _mm256_set1_epi16(short(capitalBit(word[n - 1])));
    // Two steps a turn: candidates are rare, so most turns are one branch.
    for (; i + 32 <= lastStart + 1; i += 32) {
        const unsigned low = foldingCandidates(text, i, n, first, firstBit, last, lastBit);
        const unsigned high = foldingCandidates(text, i + 16, n, first, firstBit, last, lastBit);
        if ((low | high) == 0) continue;
        if (const qsizetype at = verifyFoldingAscii(text, word, n, i, low); at >= 0) return at;
        if (const qsizetype at = verifyFoldingAscii(text, word, n, i + 16, high); at >= 0) return at;
    }
    for (; i + 16 <= lastStart + 1; i += 16) {
        const unsigned mask = foldingCandidates(text, i, n, first, firstBit, last, lastBit);
        if (const qsizetype at = verifyFoldingAscii(text, word, n, i, mask); at >= 0) return at;
    }
    return -1;
}

// The byte search's thirty-two positions a step.
__attribute__((target("avx2"))) qsizetype findBytesWide(const char* text, const char* word, qsizetype n,
                                                        qsizetype lastStart, qsizetype& i)
{
    const __m256i first = _mm256_set1_epi8(word[0]);
    const __m256i last = _mm256_set1_epi8(word[n - 1]);
    for (; i + 32 <= lastStart + 1; i += 32) {
        const __m256i atFirst = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(text + i));
        const __m256i atLast = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(text + i + n - 1));
        const unsigned mask = unsigned(_mm256_movemask_epi8(_mm256_and_si256(_mm256_cmpeq_epi8(atFirst, first), _mm256_cmpeq_epi8(atLast, last))));
        if (const qsizetype at = verifyBytes(text, word, n, i, mask); at >= 0) return at;
    }
    return -1;
}
#endif

// findSubstring over UTF-16, reading the text as it is or with its ASCII capitals lower-cased.
template <bool foldAscii>
qsizetype findUnits(QStringView haystack, QStringView needle, qsizetype from)
{
    const qsizetype n = needle.size();
    const qsizetype lastStart = haystack.size() - n;
    if (from < 0 || from > lastStart) return n == 0 && from == haystack.size() ? from : -1;
    if (n == 0) return from;
    if (!foldAscii && n == 1) return haystack.indexOf(needle.front(), from);
    const char16_t* text = haystack.utf16();
    const char16_t* word = needle.utf16();
    auto unit = [text](qsizetype at) { return foldAscii ? lowerAscii(text[at]) : text[at]; };
    // The units between the first and the last.
    auto middleAgrees = [&](qsizetype at) {
        if (n < 3) return true;
        if constexpr (foldAscii) return sameFoldingAscii(text + at + 1, word + 1, n - 2);
        return std::memcmp(text + at + 1, word + 1, size_t(n - 2) * sizeof(char16_t)) == 0;
    };
    qsizetype i = from;
#ifdef __x86_64__
    if (foldAscii && hasAvx2) {
        if (const qsizetype at = findFoldingAsciiWide(text, word, n, lastStart, i); at >= 0) return at;
    }
#endif
#ifdef __SSE2__
    // Compare the first and the last character of the needle at eight positions at once; only
    // positions where both agree are compared in full.
    auto load = [text](qsizetype at) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(text + at)); };
    const __m128i first = _mm_set1_epi16(short(word[0]));
    const __m128i firstBit = _mm_set1_epi16(short(foldAscii ? capitalBit(word[0]) : 0));
    const __m128i last = _mm_set1_epi16(short(word[n - 1]));
    const __m128i lastBit = _mm_set1_epi16(short(foldAscii ? capitalBit(word[n - 1]) : 0));
    for (; i + 8 <= lastStart + 1; i += 8) {
        unsigned mask = unsigned(_mm_movemask_epi8(_mm_and_si128(_mm_cmpeq_epi16(_mm_or_si128(load(i), firstBit), first),
                                                                 _mm_cmpeq_epi16(_mm_or_si128(load(i + n - 1), lastBit), last))));
        while (mask) {
            const int byte = __builtin_ctz(mask);
            const qsizetype at = i + byte / 2;
            if (middleAgrees(at)) return at;
            mask &= ~(3u << byte);
        }
    }
#endif
    for (; i <= lastStart; ++i) {
        if (unit(i) == word[0] && unit(i + n - 1) == word[n - 1] && middleAgrees(i)) return i;
    }
    return -1;
}
} // namespace

qsizetype findSubstring(QByteArrayView haystack, QByteArrayView needle, qsizetype from)
{
    const qsizetype n = needle.size();
    const qsizetype lastStart = haystack.size() - n;
    if (from < 0 || from > lastStart) return n == 0 && from == haystack.size() ? from : -1;
    if (n == 0) return from;
    const char* text = haystack.data();
    const char* word = needle.data();
    if (n == 1) {
        const void* at = std::memchr(text + from, word[0], size_t(haystack.size() - from));
        return at ? static_cast<const char*>(at) - text : -1;
    }
    const size_t middle = size_t(n - 2);
    qsizetype i = from;
#ifdef __x86_64__
    if (hasAvx2) {
        if (const qsizetype at = findBytesWide(text, word, n, lastStart, i); at >= 0) return at;
    }
#endif
#ifdef __SSE2__
    // As for UTF-16: the first and last byte at sixteen positions at once, the rest only where both agree.
    const __m128i first = _mm_set1_epi8(word[0]);
    const __m128i last = _mm_set1_epi8(word[n - 1]);
    for (; i + 16 <= lastStart + 1; i += 16) {
        const __m128i atFirst = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text + i));
        const __m128i atLast = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text + i + n - 1));
        const unsigned mask = unsigned(_mm_movemask_epi8(_mm_and_si128(_mm_cmpeq_epi8(atFirst, first), _mm_cmpeq_epi8(atLast, last))));
        if (const qsizetype at = verifyBytes(text, word, n, i, mask); at >= 0) return at;
    }
#endif
    for (; i <= lastStart; ++i) {
        if (text[i] == word[0] && text[i + n - 1] == word[n - 1] && std::memcmp(text + i + 1, word + 1, middle) == 0)
            return i;
    }
    return -1;
}

qsizetype findSubstring(QStringView haystack, QStringView needle, qsizetype from)
{
    return findUnits<false>(haystack, needle, from);
}

qsizetype findSubstringFoldingAscii(QStringView text, QStringView needle, qsizetype from)
{
    return findUnits<true>(text, needle, from);
}

bool foldsAsAscii(QStringView text, QStringView folded)
{
    if (text.size() != folded.size()) return false;
    const char16_t* t = text.utf16();
    const char16_t* f = folded.utf16();
    for (qsizetype i = 0; i < text.size(); ++i)
        if (lowerAscii(t[i]) != f[i]) return false;
    return true;
}

QString foldForSearch(QStringView text)
{
    QString folded = text.toString().toCaseFolded();
    for (QChar c : folded) {
        if (c.unicode() >= 0x300) return folded.normalized(QString::NormalizationForm_C);
    }
    return folded;
}

namespace {
// Characters that fold to themselves, are composed already and stand alone: Latin letters and
// signs below U+0250, general punctuation and currency signs. Worked out once with the folding
// itself, so the table cannot disagree with it.
class InPlaceCharacters {
public:
    InPlaceCharacters()
    {
        for (char16_t u = 0; u < size; ++u) {
            const char16_t c = at(u);
            if (!c) continue;
            const QString one(1, QChar(c));
            const QString folded = foldForSearch(one);
            m_inPlace[u] = (folded == one || (c < 0x80 && folded.size() == 1 && folded[0] == QChar(lowerAscii(c))))
                && hasOnlySingleUnitCharacters(folded);
        }
    }
    bool contains(char16_t c) const
    {
        if (c < latinEnd) return m_inPlace[c];
        if (c >= punctuationFirst && c <= punctuationLast) return m_inPlace[latinEnd + (c - punctuationFirst)];
        if (c >= currencyFirst && c <= currencyLast) return m_inPlace[latinEnd + punctuationCount + (c - currencyFirst)];
        return false;
    }

private:
    static constexpr char16_t latinEnd = 0x250;
    // Not U+2000 to U+200F (spaces that compose to others, joiners) nor U+2028 to U+202F (separators, direction marks).
    static constexpr char16_t punctuationFirst = 0x2010, punctuationLast = 0x2027;
    static constexpr char16_t currencyFirst = 0x20A0, currencyLast = 0x20C0;
    static constexpr int punctuationCount = punctuationLast - punctuationFirst + 1;
    static constexpr int size = latinEnd + punctuationCount + (currencyLast - currencyFirst + 1);
    static char16_t at(int slot)
    {
        if (slot < latinEnd) return char16_t(slot);
        if (slot < latinEnd + punctuationCount) return char16_t(punctuationFirst + slot - latinEnd);
        return char16_t(currencyFirst + slot - latinEnd - punctuationCount);
    }
    bool m_inPlace[size] = {};
};
} // namespace

bool foldsInPlace(QStringView text)
{
    static const InPlaceCharacters table;
    const char16_t* t = text.utf16();
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (!table.contains(t[i])) return false;
        if (t[i] == u'\r' && i + 1 < text.size() && t[i + 1] == u'\n') return false;
    }
    return true;
}

namespace {
// Whether this code unit is a character of its own, never joined to a neighbour into one grapheme
// cluster: not a surrogate, mark, format control (joiners, prepended signs), conjoining Hangul jamo
// or one of the few letters that attach to the previous one.
bool standsAlone(QChar c)
{
    const char16_t u = c.unicode();
    if (u < 0x300) return true;
    if (c.isSurrogate()) return false;
    if ((u >= 0x1100 && u <= 0x11FF) || (u >= 0xA960 && u <= 0xA97F) || (u >= 0xD7B0 && u <= 0xD7FF)) return false;
    if (u == 0x0E33 || u == 0x0EB3 || u == 0x0D4E) return false;
    switch (c.category()) {
    case QChar::Mark_NonSpacing:
    case QChar::Mark_SpacingCombining:
    case QChar::Mark_Enclosing:
    case QChar::Other_Format:
        return false;
    default:
        return true;
    }
}
} // namespace

bool hasOnlySingleUnitCharacters(QStringView folded)
{
    for (qsizetype i = 0; i < folded.size(); ++i) {
        if (!standsAlone(folded[i])) return false;
        if (folded[i] == u'\r' && i + 1 < folded.size() && folded[i + 1] == u'\n') return false;
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
        m_utf8Characters.append(character.toUtf8());
    }
}

bool FuzzyQuery::matches(QByteArrayView foldedUtf8, bool singleUnit) const
{
    if (!singleUnit) return matches(QString::fromUtf8(foldedUtf8), false);
    if (foldedUtf8.isEmpty()) return isEmpty();
    if (isEmpty()) return true;
    if (!m_singleUnit) return false; // a multi-unit character cannot occur in the text
    // Each character of the text is one code point, so finding its UTF-8 bytes finds the character.
    qsizetype from = 0;
    for (const QByteArray& character : m_utf8Characters) {
        from = findSubstring(foldedUtf8, character, from);
        if (from < 0) return false;
        from += character.size();
    }
    return true;
}

bool FuzzyQuery::matchesFoldingAscii(QStringView text, int trailingSpaces) const
{
    if (isEmpty()) return true;
    if (text.isEmpty() && trailingSpaces == 0) return false;
    if (!m_singleUnit) return false; // a multi-unit character cannot occur in the text
    qsizetype from = 0;
    qsizetype matched = 0;
    for (; matched < m_characters.size(); ++matched) {
        const QChar character = m_characters[matched].front();
        from = findSubstringFoldingAscii(text, QStringView(&character, 1), from);
        if (from < 0) break;
        ++from;
    }
    // What the text leaves unmatched may still be found among the spaces after it.
    for (qsizetype rest = matched; rest < m_characters.size(); ++rest, --trailingSpaces)
        if (m_characters[rest] != QLatin1String(" ") || trailingSpaces <= 0) return false;
    return true;
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
