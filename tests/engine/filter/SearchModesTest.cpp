#include "engine/filter/SearchText.h"

#include "engine/filter/FilterIndex.h"

#include "FilterTestItems.h"

#include <gtest/gtest.h>

#include <random>

using namespace lumra;
using namespace lumra::test;

namespace {

QList<ClipboardItem> library()
{
    ClipboardItem tagged = textItem("tagged", "QUARTERLY figures");
    tagged.tags = {"report", "finance team"};
    ClipboardItem ocr = imageItem("ocr");
    ocr.ocrText = QStringLiteral("Invoice number 42");
    ClipboardItem file = fileItem("file", {"file:///home/u/My%20Summer%20Trip.png", "file:///home/u/notes/"});
    ClipboardItem untagged = textItem("café", "Café au lait");
    ClipboardItem spaces = textItem("spaces", "a   b");
    ClipboardItem together = textItem("together", "reportquarterly");
    ClipboardItem reversed = textItem("reversed", "cba");
    ClipboardItem multiline = textItem("multiline", "first line\nsecond\tline");
    return {tagged, ocr, file, untagged, spaces, together, reversed, multiline};
}

struct SearchCase {
    const char* label;
    const char* mode;
    const char* query;
    bool tagsOnly;
    QStringList expected;
};

void PrintTo(const SearchCase& c, std::ostream* out) { *out << c.label; }

class SearchModes : public testing::TestWithParam<SearchCase> { };

TEST_P(SearchModes, FindExactlyTheseItems)
{
    const SearchCase& c = GetParam();
    FilterState state;
    state.searchMode = QString::fromUtf8(c.mode);
    state.searchText = QString::fromUtf8(c.query);
    state.searchTagsOnly = c.tagsOnly;
    EXPECT_EQ(filteredNames(library(), state), c.expected);
}

const QStringList everyone{"tagged", "ocr", "file", "café", "spaces", "together", "reversed", "multiline"};

INSTANTIATE_TEST_SUITE_P(Table, SearchModes, testing::Values(
    SearchCase{"terms in different fields", "contains", "quarterly REPORT", false, {"tagged", "together"}},
    SearchCase{"every term must be found", "contains", "quarterly missing", false, {}},
    SearchCase{"case ignored", "contains", "invoice", false, {"ocr"}},
    SearchCase{"accent kept", "contains", "cafe", false, {}},
    SearchCase{"accent found in capitals", "contains", "CAFÉ", false, {"café"}},
    SearchCase{"decomposed accent equals composed", "contains", "cafe\u0301", false, {"café"}},
    SearchCase{"file name decoded", "contains", "summer trip", false, {"file"}},
    SearchCase{"folder name", "contains", "notes", false, {"file"}},
    SearchCase{"spaces only keep all", "contains", "   ", false, everyone},
    SearchCase{"tab stays in term", "contains", "second\tline", false, {"multiline"}},
    SearchCase{"unknown mode is contains", "Contains", "quarterly report", false, {"tagged", "together"}},
    SearchCase{"empty mode is contains", "", "quarterly report", false, {"tagged", "together"}},
    SearchCase{"tags only contains", "contains", "team", true, {"tagged"}},
    SearchCase{"tags only ignores text", "contains", "quarterly", true, {}},
    SearchCase{"tags only spaces keep untagged", "contains", " ", true, everyone},
    SearchCase{"exact within one field", "exact", "finance team", false, {"tagged"}},
    SearchCase{"exact does not span fields", "exact", "figures report", false, {}},
    SearchCase{"exact three spaces", "exact", "   ", false, {"spaces"}},
    SearchCase{"exact does not span tags", "exact", "report finance", true, {}},
    SearchCase{"exact in a tag", "exact", "ance te", true, {"tagged"}},
    SearchCase{"fuzzy in order", "fuzzy", "abc", false, {}},
    SearchCase{"fuzzy gaps", "fuzzy", "qfig", false, {"tagged"}},
    SearchCase{"fuzzy not reversed", "fuzzy", "cba", false, {"reversed"}},
    SearchCase{"fuzzy space uses joining space", "fuzzy", "s r", false, {"tagged", "file"}},
    SearchCase{"fuzzy tags only", "fuzzy", "rft", true, {"tagged"}},
    SearchCase{"fuzzy accented character", "fuzzy", "cé", false, {"café"}},
    SearchCase{"fuzzy ends in the joining spaces", "fuzzy", "cba  ", false, {"reversed"}},
    SearchCase{"fuzzy past the joining spaces", "fuzzy", "cba    ", false, {}},
    SearchCase{"regex case ignored", "regex", "^quarterly\\s", false, {"tagged"}},
    SearchCase{"regex invalid matches nothing", "regex", "(", false, {}},
    SearchCase{"regex empty-capable matches all", "regex", "x*", false, everyone},
    SearchCase{"regex anchored empty with tags only", "regex", "^$", true,
               {"ocr", "file", "café", "spaces", "together", "reversed", "multiline"}},
    SearchCase{"regex anchored empty never matches full haystack", "regex", "^$", false, {}},
    SearchCase{"regex over file names and ocr", "regex", "trip\\.png|number \\d+", false, {"ocr", "file"}},
    SearchCase{"regex raising the limit is refused", "regex", "(*LIMIT_MATCH=99999999)quarterly", false, {}},
    SearchCase{"regex nested repeat refused", "regex", "(a+)+$", false, {}}));

TEST(FuzzyMatch, EmptyTextMatchesOnlyEmptyQuery)
{
    EXPECT_TRUE(fuzzyMatch("", ""));
    EXPECT_FALSE(fuzzyMatch("", "a"));
    EXPECT_TRUE(fuzzyMatch("abc", ""));
}

TEST(FuzzyMatch, ComparesWholeCharactersNotCodeUnits)
{
    // A flag is two code points; its halves must not match a different flag's halves.
    EXPECT_TRUE(fuzzyMatch(QString::fromUtf8("go 🇩🇪 now"), QString::fromUtf8("g🇩🇪n")));
    EXPECT_FALSE(fuzzyMatch(QString::fromUtf8("🇩🇪"), QString::fromUtf8("🇩")));
    EXPECT_FALSE(fuzzyMatch(QString::fromUtf8("e\u0301"), "e"));
    EXPECT_FALSE(fuzzyMatch("a\r\nb", "\r"));
    EXPECT_TRUE(fuzzyMatch("a\r\nb", "ab"));
}

TEST(SearchRegexGuard, RunawayBacktrackingEndsAsNoMatch)
{
    // Exponential on a mismatch; it must be cut off by the step limit rather than run for ages.
    const SearchRegex regex("(a|aa)+$");
    ASSERT_TRUE(regex.isUsable());
    EXPECT_FALSE(regex.matches(QString(60, u'a') + u'!'));
    EXPECT_TRUE(regex.matches(QStringLiteral("aaaa")));
}

TEST(SearchRegexGuard, RefusesOnlyNestedUnboundedRepeats)
{
    for (const char* runaway : {"(a+)+", "(a*)*", "(?:\\w+)*x", "(.*)+", "([a-z]+){2,}"})
        EXPECT_TRUE(SearchRegex::isRunawayPattern(runaway)) << runaway;
    for (const char* fine : {"(ab+)+", "(a+)", "a+b+", "(a|b)+", "(a{2})+", "(\\w+\\s)+"})
        EXPECT_FALSE(SearchRegex::isRunawayPattern(fine)) << fine;
}

TEST(SearchBudget, RegexSearchPastItsDeadlineGoesOnWhereItStoppedToTheWholeResult)
{
    const auto index = FilterIndex::build(library(), 1);
    FilterState state;
    state.searchMode = "regex";
    state.searchText = "[ae]";
    const FilterResult unbounded = updateFilteredItems(*index, state, berlinTime(2024, 5, 15, 18, 0), berlinCalendar());
    ASSERT_TRUE(unbounded.complete);

    FilterResult result = updateFilteredItems(*index, state, berlinTime(2024, 5, 15, 18, 0), berlinCalendar(),
                                              QDeadlineTimer(0));
    int slices = 1;
    while (!result.complete) {
        ASSERT_LE(slices, index->size()) << "every slice tests one item at least";
        continueSearch(*index, state, result, QDeadlineTimer(0));
        ++slices;
    }
    EXPECT_GT(slices, 1);
    EXPECT_EQ(result.indices, unbounded.indices);
}

} // namespace

namespace {

TEST(FuzzyMatch, WholeCharactersInScriptsWithoutMarksAndWithThem)
{
    EXPECT_TRUE(fuzzyMatch(QString::fromUtf8("東京タワー"), QString::fromUtf8("東タ")));
    EXPECT_FALSE(fuzzyMatch(QString::fromUtf8("東京タワー"), QString::fromUtf8("タ東")));
    EXPECT_FALSE(fuzzyMatch(QString::fromUtf8("ทำ"), QString::fromUtf8("ท")));        // SARA AM joins its consonant
    EXPECT_FALSE(fuzzyMatch(QString::fromUtf8("👨‍👩‍👧"), QString::fromUtf8("👨"))); // one family, not a man
    EXPECT_TRUE(fuzzyMatch(QString::fromUtf8("a 👨‍👩‍👧 b"), QString::fromUtf8("a👨‍👩‍👧b")));
}

TEST(FindSubstring, AgreesWithQtAtEveryPositionAndLength)
{
    // Lengths and offsets around the eight-unit vector step, matches at the very end, near misses.
    const QString text = QString::fromUtf8("abcabcabdabcabcabcXabcabcabcabcabdé東abcabcabcabcabcabd");
    for (qsizetype start = 0; start < text.size(); ++start) {
        for (qsizetype length = 0; start + length <= text.size() && length < 20; ++length) {
            const QString needle = text.mid(start, length);
            for (qsizetype from : {qsizetype(0), start / 2, start, start + 1, text.size()}) {
                ASSERT_EQ(findSubstring(text, needle, from), QStringView(text).indexOf(needle, from))
                    << needle.toStdString() << " from " << from;
            }
        }
    }
    EXPECT_EQ(findSubstring(u"ab", u"abc", 0), -1);
    EXPECT_EQ(findSubstring(u"", u"", 0), 0);

    // The same over UTF-8 bytes, past the sixteen-byte vector step.
    const QByteArray bytes = (text + text).toUtf8();
    for (qsizetype start = 0; start < bytes.size(); ++start) {
        for (qsizetype length = 0; start + length <= bytes.size() && length < 24; ++length) {
            const QByteArray needle = bytes.mid(start, length);
            for (qsizetype from : {qsizetype(0), start / 2, start, start + 1, bytes.size()}) {
                ASSERT_EQ(findSubstring(QByteArrayView(bytes), QByteArrayView(needle), from),
                          QByteArrayView(bytes).indexOf(needle, from))
                    << needle.toStdString() << " from " << from;
            }
        }
    }
}

TEST(FindSubstring, FoldingAsciiAgreesWithSearchingTheLowerCasedText)
{
    // Capitals at the vector step's edges, the units beside 'A' and 'Z', units above 0x7fff.
    const QString text = QString::fromUtf8("AbCabc@[ABdabcABC\u00c9XaBcAbc`{ABCabDé東\uff21aBcabcABCabcAbcABD");
    QString lowered = text;
    for (QChar& c : lowered)
        if (c >= u'A' && c <= u'Z') c = QChar(c.unicode() + 0x20);
    for (qsizetype start = 0; start < lowered.size(); ++start) {
        for (qsizetype length = 0; start + length <= lowered.size() && length < 20; ++length) {
            const QString needle = lowered.mid(start, length);
            for (qsizetype from : {qsizetype(0), start / 2, start, start + 1, text.size()}) {
                ASSERT_EQ(findSubstringFoldingAscii(text, needle, from), findSubstring(lowered, needle, from))
                    << needle.toStdString() << " from " << from;
            }
        }
    }
}

// Texts whose folding does more than lower-case ASCII keep a folded copy; the others are searched in
// place. Either way the same items are found.
TEST(FilterIndex, KeepsAFoldedCopyOnlyWhereFoldingDoesMoreThanAsciiCapitals)
{
    ClipboardItem tagged = textItem("tagged", "Plain Words");
    tagged.tags = {"Team"};
    const QList<ClipboardItem> items {textItem("plain", "Plain Words\nSecond Line"), textItem("umlaut", "ÜBER alles"),
                                      textItem("sharp", "Straße"), textItem("kelvin", "20 \u212a"),
                                      textItem("decomposed", "cafe\u0301"), tagged, imageItem("image")};
    const std::shared_ptr<FilterIndex> index = FilterIndex::build(items, 0);
    std::vector<bool> inPlace;
    for (qsizetype i = 0; i < index->size(); ++i)
        inPlace.push_back(index->entry(i).foldsInPlace());
    EXPECT_EQ(inPlace, std::vector<bool>({true, false, true, false, false, false, true}));

    auto found = [&](const char* mode, const char* query) {
        FilterState state;
        state.searchMode = QString::fromUtf8(mode);
        state.searchText = QString::fromUtf8(query);
        QStringList result = filteredNames(items, state);
        result.sort();
        return result;
    };
    EXPECT_EQ(found("contains", "WORDS"), QStringList({"plain", "tagged"}));
    EXPECT_EQ(found("contains", "über ALLES"), QStringList({"umlaut"}));
    EXPECT_EQ(found("contains", "STRAßE"), QStringList({"sharp"}));
    EXPECT_EQ(found("contains", "20 k"), QStringList({"kelvin"}));
    EXPECT_EQ(found("contains", "CAFÉ"), QStringList({"decomposed"}));
    EXPECT_EQ(found("exact", "words\nsecond"), QStringList({"plain"}));
    EXPECT_EQ(found("exact", "words team"), QStringList());
    EXPECT_EQ(found("fuzzy", "PWSL"), QStringList({"plain"}));
    EXPECT_EQ(found("fuzzy", "pw t"), QStringList({"tagged"}));
}

// The index decides most entries from a table instead of folding: where it says in place, folding
// must say so too, for every character alone and for random strings of the characters around it.
TEST(FilterIndex, TheQuickInPlaceTestNeverDisagreesWithFolding)
{
    auto foldingSays = [](const QString& text) {
        const QString folded = foldForSearch(text);
        return foldsAsAscii(text, folded) && hasOnlySingleUnitCharacters(folded);
    };
    QList<char16_t> quick;
    for (char32_t u = 1; u < 0x10000; ++u) {
        if (QChar::isSurrogate(u))
            continue;
        const QString one(1, QChar(char16_t(u)));
        if (!foldsInPlace(one))
            continue;
        quick << char16_t(u);
        ASSERT_TRUE(foldingSays(one)) << std::hex << unsigned(u);
    }
    EXPECT_GT(quick.size(), 400) << "the table covers the common characters";
    EXPECT_TRUE(foldsInPlace(u"Plain Words\nZürich naïve €42.00 — “quoted”"));
    EXPECT_FALSE(foldsInPlace(u"line\r\nbreak"));
    EXPECT_FALSE(foldsInPlace(u"\u00dcBER"));

    std::mt19937 random(5);
    const char16_t around[] = {u'\u0301', u'\u0308', u'\u2126', u'\u212a', u'\u0345', u'\u03a3', u'\r', u'\n', u' ', u'\u00df'};
    for (int n = 0; n < 20'000; ++n) {
        QString text;
        for (int k = 0, length = 1 + int(random() % 6); k < length; ++k)
            text += random() % 5 == 0 ? QChar(around[random() % std::size(around)]) : QChar(quick[qsizetype(random() % quick.size())]);
        if (foldsInPlace(text))
            ASSERT_TRUE(foldingSays(text)) << text.toStdString();
    }
}

} // namespace

namespace {

// Pieces whose folding is easy to get wrong: ASCII capitals, letters beyond ASCII, a final sigma,
// a capital outside the basic plane (a surrogate pair), a decomposed accent, a ligature, the Kelvin sign.
const char* const pieces[] = {"Server", "ERROR", "deploy", "Ab", "zZ", "@[`{", "Straße", "ΟΔΟΣ", "ÜBER",
                              "\xf0\x90\x90\x80x", "cafe\u0301", "ﬁle", "\u212a", "東京", "😀", "a\tb", "q"};

// A history of texts made of those pieces, long enough that the search runs on several threads.
QList<ClipboardItem> trickyHistory(int count)
{
    QList<ClipboardItem> items;
    quint32 seed = 7;
    auto next = [&seed](quint32 n) { seed = seed * 1103515245u + 12345u; return (seed >> 8) % n; };
    for (int i = 0; i < count; ++i) {
        QString text;
        const quint32 length = next(40);
        for (quint32 k = 0; k < length; ++k) {
            if (k > 0 && next(3) > 0) text += next(5) == 0 ? u'\n' : u' ';
            // Most texts stay ASCII, as most copies are, so both the in-place and the folded search run.
            const quint32 piece = next(4) == 0 ? next(std::size(pieces)) : next(6);
            text += QString::fromUtf8(pieces[piece]);
        }
        ClipboardItem item = textItem(QString::number(i), text);
        if (next(20) == 0) item.tags = {QString::fromUtf8(pieces[next(std::size(pieces))])};
        items.append(item);
    }
    return items;
}

FilterState searchFor(const char* mode, const QString& text)
{
    FilterState state;
    state.searchMode = QString::fromUtf8(mode);
    state.searchText = text;
    return state;
}

} // namespace

// What every search mode finds over a large history, searched on several threads, is what testing
// the items one by one finds, in the same order; a contains search finds what a plain substring test
// of the folded texts finds.
TEST(SearchAtScale, ManyThreadsFindWhatTheItemsFindOneByOne)
{
    const QList<ClipboardItem> items = trickyHistory(10'000);
    const auto index = FilterIndex::build(items, 1);
    QStringList foldedHaystacks;
    for (qsizetype i = 0; i < index->size(); ++i) foldedHaystacks.append(foldForSearch(index->haystack(i)));
    std::vector<qint32> everyItem(index->historyOrder());
    std::sort(everyItem.begin(), everyItem.end());

    const QStringList queries {"server", "SERVER err", "or", "ab", "zz", "@[`{", "STRASSE", "straße", "οδος",
                               "ΟΔΟΣ", "über", "\xf0\x90\x90\xa8x", "\xf0\x90\x90\x80", "café", "cafe\u0301",
                               "ﬁle", "k", "東京", "😀", "a\tb", "q", "yq", "deployq", "\u212a deploy"};
    for (const char* mode : {"contains", "exact", "fuzzy", "regex"}) {
        for (const QString& query : queries) {
            const FilterState state = searchFor(mode, query);
            const FilterResult all = updateFilteredItems(*index, state, berlinTime(2024, 5, 15, 18, 0), berlinCalendar());
            const FilterResult oneByOne = updateFilteredItems(*index, state, FilterResult(), everyItem);
            ASSERT_EQ(all.indices, oneByOne.indices) << mode << " " << query.toStdString();
            if (QByteArrayView(mode) != "contains") continue;
            std::vector<qint32> expected;
            const QStringList terms = query.split(u' ', Qt::SkipEmptyParts);
            for (qint32 i : index->historyOrder()) {
                if (std::all_of(terms.begin(), terms.end(),
                                [&](const QString& term) { return foldedHaystacks[i].contains(foldForSearch(term)); }))
                    expected.push_back(i);
            }
            EXPECT_EQ(all.indices, expected) << query.toStdString();
            // Folding maps one character to one: "ß" is not "ss". The near misses may meet by chance.
            if (query != "yq" && query != "deployq")
                EXPECT_EQ(all.indices.empty(), query == "STRASSE") << query.toStdString();
        }
    }
}

// A regex search cut into short slices on several threads ends with what one unbounded pass finds.
TEST(SearchAtScale, ARegexSearchInSlicesOnManyThreadsFindsTheWholeResult)
{
    const auto index = FilterIndex::build(trickyHistory(10'000), 1);
    const FilterState state = searchFor("regex", QStringLiteral("server\\s+e|ΟΔΟΣ$"));
    const FilterResult whole = updateFilteredItems(*index, state, berlinTime(2024, 5, 15, 18, 0), berlinCalendar());
    ASSERT_TRUE(whole.complete);
    ASSERT_FALSE(whole.indices.empty());

    FilterResult sliced = updateFilteredItems(*index, state, berlinTime(2024, 5, 15, 18, 0), berlinCalendar(),
                                              QDeadlineTimer(1));
    for (int slices = 0; !sliced.complete; ++slices) {
        ASSERT_LE(slices, index->size()) << "every slice tests one item at least";
        const size_t before = sliced.unsearched.size();
        continueSearch(*index, state, sliced, QDeadlineTimer(1));
        ASSERT_LT(sliced.unsearched.size(), before);
    }
    EXPECT_EQ(sliced.indices, whole.indices);
}

// Where the fast roads end: a needle in the last units of a text just past a vector step, a text
// shorter than the needle, a capital outside the basic plane, a needle whose folding is shorter.
TEST(SearchAtScale, FindsNeedlesAtTheEdges)
{
    const QString longAscii = QString(67, u'x') + QStringLiteral("NeedLE");
    const QList<ClipboardItem> items {textItem("end", longAscii), textItem("short", "NEE"),
                                      textItem("deseret", QString::fromUtf8("x\xf0\x90\x90\x80")),
                                      textItem("composed", QString(40, u'y') + QString::fromUtf8("CAFÉ"))};
    auto found = [&](const char* query) {
        QStringList result = filteredNames(items, searchFor("contains", QString::fromUtf8(query)));
        result.sort();
        return result;
    };
    EXPECT_EQ(found("needle"), QStringList({"end"}));
    EXPECT_EQ(found("xneedle"), QStringList({"end"}));
    EXPECT_EQ(found("nee"), QStringList({"end", "short"}));
    EXPECT_EQ(found("needlex"), QStringList());
    EXPECT_EQ(found("\xf0\x90\x90\xa8"), QStringList({"deseret"})); // its small letter
    EXPECT_EQ(found("\xf0\x90\x90\x80"), QStringList({"deseret"}));
    EXPECT_EQ(found("ycafe\u0301"), QStringList({"composed"}));
}
