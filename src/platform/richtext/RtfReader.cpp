#include "platform/richtext/RtfCodec.h"

#include "platform/core/BackgroundWork.h"
#include "platform/core/LinkSchemes.h"

#include <QColor>
#include <QLoggingCategory>
#include <QStringDecoder>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextList>

#include <algorithm>
#include <map>
#include <optional>
#include <memory>
#include <string_view>
#include <unordered_map>
#include <vector>

Q_LOGGING_CATEGORY(lcRichText, "lumra.richtext")

namespace lumra::RichText {
namespace {

enum class Destination {
    Text,
    Skip,
    FontTable,
    ColorTable,
    ListTable,
    ListOverrideTable,
    LevelText,
    OldList, // \pn: paragraph numbering of older writers
    FieldInstruction,
};

enum class Word {
    Unknown,
    // destinations
    FontTable, ColorTable, ListTable, ListOverrideTable, LevelText, Pn, Field, FldInst, FldRslt, SkipGroup,
    // document
    Ansi, Mac, Pc, Pca, AnsiCpg, Deff, F, FCharset, Red, Green, Blue, Bin,
    // lists
    List, ListLevel, ListId, ListOverride, LevelNfc, Ls, Ilvl,
    PnLvlBlt, PnLvlBody, PnLvl, PnDec, PnUcRm, PnLcRm, PnUcLtr, PnLcLtr,
    // characters
    Plain, Fs, B, I, Ul, UlNone, Strike, Cf, Cb, V, Uc, U,
    // paragraphs
    Pard, Par, Line, Tab, Ql, Qc, Qr, Qj, Cell, Row,
    Character, // one of characterTable()
};

// The tables are never destroyed: a read on a lane left running at the quit may still look words up
// while the process exits.
const std::unordered_map<std::string_view, char16_t>& characterTable()
{
    static const auto& table = *new std::unordered_map<std::string_view, char16_t> {
        {"bullet", 0x2022}, {"emdash", 0x2014}, {"endash", 0x2013}, {"lquote", 0x2018}, {"rquote", 0x2019},
        {"ldblquote", 0x201C}, {"rdblquote", 0x201D}, {"emspace", 0x2003}, {"enspace", 0x2002}};
    return table;
}

const std::unordered_map<std::string_view, Word>& wordTable()
{
    static const auto& table = *new std::unordered_map<std::string_view, Word>([] {
        std::unordered_map<std::string_view, Word> t {
            {"fonttbl", Word::FontTable}, {"colortbl", Word::ColorTable}, {"listtable", Word::ListTable},
            {"listoverridetable", Word::ListOverrideTable}, {"leveltext", Word::LevelText}, {"pn", Word::Pn},
            {"field", Word::Field}, {"fldinst", Word::FldInst}, {"fldrslt", Word::FldRslt},
            {"ansi", Word::Ansi}, {"mac", Word::Mac}, {"pc", Word::Pc}, {"pca", Word::Pca},
            {"ansicpg", Word::AnsiCpg}, {"deff", Word::Deff}, {"f", Word::F}, {"fcharset", Word::FCharset},
            {"red", Word::Red}, {"green", Word::Green}, {"blue", Word::Blue}, {"bin", Word::Bin},
            {"list", Word::List}, {"listlevel", Word::ListLevel}, {"listid", Word::ListId},
            {"listoverride", Word::ListOverride}, {"levelnfc", Word::LevelNfc}, {"levelnfcn", Word::LevelNfc},
            {"ls", Word::Ls}, {"ilvl", Word::Ilvl}, {"pnlvlblt", Word::PnLvlBlt}, {"pnlvlbody", Word::PnLvlBody},
            {"pnlvl", Word::PnLvl}, {"pndec", Word::PnDec}, {"pnucrm", Word::PnUcRm}, {"pnlcrm", Word::PnLcRm},
            {"pnucltr", Word::PnUcLtr}, {"pnlcltr", Word::PnLcLtr},
            {"plain", Word::Plain}, {"fs", Word::Fs}, {"b", Word::B}, {"i", Word::I}, {"ul", Word::Ul},
            {"ulnone", Word::UlNone}, {"strike", Word::Strike}, {"striked", Word::Strike}, {"cf", Word::Cf},
            {"cb", Word::Cb}, {"highlight", Word::Cb}, {"chcbpat", Word::Cb}, {"v", Word::V}, {"uc", Word::Uc},
            {"u", Word::U},
            {"pard", Word::Pard}, {"par", Word::Par}, {"sect", Word::Par}, {"page", Word::Par},
            {"line", Word::Line}, {"tab", Word::Tab}, {"ql", Word::Ql}, {"qc", Word::Qc}, {"qr", Word::Qr},
            {"qj", Word::Qj}, {"cell", Word::Cell}, {"nestcell", Word::Cell}, {"row", Word::Row},
            {"nestrow", Word::Row},
        };
        for (const auto& [name, character] : characterTable())
            t.emplace(name, Word::Character);
        // Every underline style reads as underline.
        for (std::string_view w : {"uld", "uldb", "ulw", "ulwave", "uldash", "uldashd", "uldashdd", "ulhwave",
                                   "ulldash", "ulth", "ulthd", "ulthdash", "ulthdashd", "ulthdashdd", "ulthldash",
                                   "ululdbwave"})
            t.emplace(w, Word::Ul);
        // Destinations whose content is not part of the text.
        for (std::string_view w :
             {"info", "stylesheet", "pict", "object", "header", "headerl", "headerr", "headerf", "footer", "footerl",
              "footerr", "footerf", "footnote", "annotation", "atnid", "atnauthor", "bkmkstart", "bkmkend", "xe", "tc",
              "txe", "rxe", "pntext", "pntxta", "pntxtb", "listtext", "listname", "levelnumbers", "themedata",
              "colorschememapping", "latentstyles", "datastore", "xmlnstbl", "rsidtbl", "generator", "shp",
              "shppict", "nonshppict", "shpinst", "template", "revtbl", "filetbl", "author", "operator", "title",
              "subject", "keywords", "comment", "doccomm", "company", "category", "ftnsep", "ftnsepc", "ftncn",
              "aftnsep", "aftnsepc", "aftncn", "objdata", "userprops", "mmathPr", "do"})
            t.emplace(w, Word::SkipGroup);
        return t;
    }());
    return table;
}

struct CharacterState {
    Destination destination = Destination::Text;
    int font = -1; // -1: the document's default font
    int halfPoints = 0; // 0: not given
    bool bold = false;
    bool italic = false;
    bool underline = false;
    bool strike = false;
    bool hidden = false;
    int foreground = 0;
    int background = 0;
    int unicodeSkip = 1;
    QString href;
};

struct ParagraphState {
    Qt::Alignment alignment = Qt::AlignLeft;
    int listOverride = 0; // \ls
    int level = 0; // \ilvl
    // Older \pn numbering.
    bool oldList = false;
    QTextListFormat::Style oldListStyle = QTextListFormat::ListDisc;
    int oldLevel = 0;
};

struct FontEntry {
    QString name;
    int codePage = 0;
};

struct ListLevel {
    int numberFormat = 23;
    QString text;
};

struct ListDefinition {
    int id = 0;
    std::vector<ListLevel> levels;
};

struct Field {
    int depth = 0;
    QString instruction;
    // The link the instruction names, worked out at the first result: a field may give its result
    // any number of times, and an instruction runs to kilobytes.
    bool resolved = false;
    std::optional<QString> href; // none: not a hyperlink
};

// Fonts, colours and list definitions a document may declare.
constexpr size_t kMaxTableEntries = 1024;
// List items touched as paragraphs join lists: one list of 2,000 items, or many shorter ones.
constexpr qsizetype kMaxListWork = 2'000'000;

int supportedCodePage(int codePage)
{
    switch (codePage) {
    case 437: case 850: case 874: case 932: case 936: case 949: case 950: case 1250: case 1251: case 1252:
    case 1253: case 1254: case 1255: case 1256: case 1257: case 1258: case 10000: case 65001:
        return codePage;
    default:
        return 1252;
    }
}

int codePageForCharset(int charset)
{
    switch (charset) {
    case 77: return 10000;
    case 128: return 932;
    case 129: return 949;
    case 134: return 936;
    case 136: return 950;
    case 161: return 1253;
    case 162: return 1254;
    case 163: return 1258;
    case 177: return 1255;
    case 178: return 1256;
    case 186: return 1257;
    case 204: return 1251;
    case 222: return 874;
    case 238: return 1250;
    default: return 0; // the document's code page
    }
}

QByteArray encodingName(int codePage)
{
    switch (codePage) {
    case 10000: return "macintosh";
    case 437: return "IBM437";
    case 850: return "IBM850";
    case 932: return "Shift_JIS";
    case 936: return "GBK";
    case 949: return "windows-949";
    case 950: return "Big5";
    case 65001: return "UTF-8";
    default: return "windows-" + QByteArray::number(codePage);
    }
}

QTextListFormat::Style styleForLevel(const ListLevel& level)
{
    switch (level.numberFormat) {
    case 0: return QTextListFormat::ListDecimal;
    case 1: return QTextListFormat::ListUpperRoman;
    case 2: return QTextListFormat::ListLowerRoman;
    case 3: return QTextListFormat::ListUpperAlpha;
    case 4: return QTextListFormat::ListLowerAlpha;
    case 23:
    case 255: {
        // The marker follows the length byte of the level text.
        for (QChar c : level.text) {
            if (c.unicode() < 0x20)
                continue;
            switch (c.unicode()) {
            case 0x25E6: case 'o': return QTextListFormat::ListCircle;
            case 0x25AA: case 0x25A0: case 0xF0A7: case 0xF06E: return QTextListFormat::ListSquare;
            default: return QTextListFormat::ListDisc;
            }
        }
        return QTextListFormat::ListDisc;
    }
    default: return QTextListFormat::ListDecimal;
    }
}

// RTF syntax is ASCII whatever the C locale says about other bytes.
bool isLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool isDigit(char c) { return c >= '0' && c <= '9'; }
int hexValue(char c)
{
    if (isDigit(c))
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// Text units from the input, cleaned of what QTextDocument would turn into structure.
QString cleanText(const QString& text)
{
    QString out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c.isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate()) {
            out.append(c);
            out.append(text.at(++i));
        } else if (c.isSurrogate()) {
            out.append(QChar::ReplacementCharacter);
        } else if ((c.unicode() < 0x20 && c != u'\t') || c == QChar::ParagraphSeparator
                   || c == QChar::ObjectReplacementCharacter || c == QChar::Null) {
            continue;
        } else {
            out.append(c);
        }
    }
    return out;
}

// Font names and link targets: one line of text without tabs.
QString cleanName(const QString& text)
{
    QString name = cleanText(text);
    name.removeIf([](QChar c) { return c == u'\t' || c == QChar::LineSeparator; });
    return name.trimmed();
}

class RtfReader {
public:
    RtfReader(const QByteArray& input, QTextDocument* document)
        : m_input(input)
        , m_document(document)
        , m_cursor(document)
    {
    }

    bool read();
    const RtfReadWork& work() const { return m_work; }
    QString error() const { return m_error; }

private:
    void fail(const QString& message)
    {
        if (m_error.isEmpty())
            m_error = message;
    }
    bool failed() const { return !m_error.isEmpty(); }

    CharacterState& state() { return m_states.back(); }
    void openGroup();
    void closeGroup();
    void readControl();
    void controlWord(std::string_view word, bool hasParameter, int parameter);
    void controlSymbol(char symbol);
    void destinationWord(Word word, std::string_view name);

    bool consumeSkipped();
    void addByte(char byte);
    void addText(const QString& text);
    void flushBytes();
    void flushText();
    void routeText(const QString& text);
    void endParagraph(bool newBlock);
    int currentCodePage() const;
    QStringDecoder& decoder(int codePage);
    QTextCharFormat charFormat(const CharacterState& s) const;
    QTextList* listFor(const ParagraphState& p);
    static QString hyperlinkTarget(const QString& instruction);

    const QByteArray& m_input;
    qsizetype m_pos = 0;
    QTextDocument* m_document;
    QTextCursor m_cursor;
    QString m_error;

    std::vector<CharacterState> m_states;
    ParagraphState m_paragraph;
    bool m_paragraphDeclared = false;
    bool m_starPending = false;
    int m_skipPending = 0;

    QByteArray m_bytes;
    QString m_text;
    CharacterState m_textState;
    qsizetype m_characters = 0;
    int m_paragraphs = 1;

    int m_codePage = 1252;
    int m_defaultFont = 0;
    std::map<int, FontEntry> m_fonts;
    int m_fontIndex = 0;
    QString m_fontName;
    std::vector<QColor> m_colors;
    int m_red = -1, m_green = -1, m_blue = -1;
    std::vector<ListDefinition> m_lists;
    std::vector<std::pair<int, int>> m_overrides; // \ls -> \listid
    std::map<std::pair<int, int>, QTextList*> m_openLists;
    std::map<std::pair<int, int>, QTextListFormat::Style> m_listStyles; // emptied when the tables change
    qsizetype m_listWork = 0;
    RtfReadWork m_work;
    std::vector<Field> m_fields;
    std::map<int, std::unique_ptr<QStringDecoder>> m_decoders;
};

bool RtfReader::read()
{
    const qsizetype size = m_input.size();
    while (m_pos < size && QChar::isSpace(uchar(m_input.at(m_pos))))
        ++m_pos;
    if (!m_input.mid(m_pos, 5).startsWith("{\\rtf")) {
        fail(QStringLiteral("not RTF"));
        return false;
    }
    m_states.reserve(kMaxGroupDepth + 1);
    m_cursor.beginEditBlock();
    for (unsigned steps = 1; m_pos < size && !failed(); ++steps) {
        // A long document takes seconds: a read whose lane stops (the quit, a cancelled paste) ends.
        if (steps % 4096 == 0 && BackgroundWork::stopAsked()) {
            fail(QStringLiteral("stopped"));
            break;
        }
        const char c = m_input.at(m_pos);
        switch (c) {
        case '{':
            ++m_pos;
            openGroup();
            break;
        case '}':
            ++m_pos;
            closeGroup();
            if (m_states.empty())
                m_pos = size; // anything after the document's closing brace is not part of it
            break;
        case '\\':
            readControl();
            break;
        case '\r':
        case '\n':
            ++m_pos;
            break;
        default:
            ++m_pos;
            if (!m_states.empty())
                addByte(c);
            break;
        }
    }
    if (!failed()) {
        flushText();
        // A document that ends with a paragraph mark leaves an empty last paragraph; it takes
        // the previous one's list or alignment only when it declares them itself.
        if (m_cursor.block().length() > 1 || m_paragraphs == 1 || m_paragraphDeclared)
            endParagraph(false);
    }
    m_cursor.endEditBlock();
    return !failed();
}

void RtfReader::openGroup()
{
    flushText();
    m_skipPending = 0;
    if (int(m_states.size()) >= kMaxGroupDepth) {
        fail(QStringLiteral("groups nested too deeply"));
        return;
    }
    m_states.push_back(m_states.empty() ? CharacterState() : m_states.back());
    m_starPending = false;
}

void RtfReader::closeGroup()
{
    flushText();
    m_skipPending = 0;
    m_starPending = false;
    if (m_states.empty())
        return;
    const Destination closing = state().destination;
    if (closing == Destination::FontTable && !m_fontName.trimmed().isEmpty()) {
        m_fonts[m_fontIndex].name = cleanName(m_fontName);
        m_fontName.clear();
    }
    m_states.pop_back();
    while (!m_fields.empty() && m_fields.back().depth > int(m_states.size()))
        m_fields.pop_back();
}

void RtfReader::readControl()
{
    const qsizetype size = m_input.size();
    ++m_pos; // the backslash
    if (m_pos >= size)
        return;
    const char c = m_input.at(m_pos);
    if (!isLetter(c)) {
        ++m_pos;
        if (c == '\'') {
            int value = 0;
            int digits = 0;
            while (digits < 2 && m_pos < size && hexValue(m_input.at(m_pos)) >= 0) {
                value = value * 16 + hexValue(m_input.at(m_pos));
                ++m_pos;
                ++digits;
            }
            if (digits > 0 && !m_states.empty())
                addByte(char(value));
            return;
        }
        controlSymbol(c);
        return;
    }
    const qsizetype start = m_pos;
    while (m_pos < size && isLetter(m_input.at(m_pos)))
        ++m_pos;
    const std::string_view word(m_input.constData() + start, size_t(std::min<qsizetype>(m_pos - start, 32)));
    bool hasParameter = false;
    bool negative = false;
    long long parameter = 0;
    if (m_pos < size && m_input.at(m_pos) == '-' && m_pos + 1 < size && isDigit(m_input.at(m_pos + 1))) {
        negative = true;
        ++m_pos;
    }
    while (m_pos < size && isDigit(m_input.at(m_pos))) {
        hasParameter = true;
        if (parameter < 1'000'000'000LL)
            parameter = parameter * 10 + (m_input.at(m_pos) - '0');
        ++m_pos;
    }
    if (m_pos < size && m_input.at(m_pos) == ' ')
        ++m_pos;
    parameter = std::clamp(negative ? -parameter : parameter, -1'000'000'000LL, 1'000'000'000LL);
    if (!m_states.empty())
        controlWord(word, hasParameter, int(parameter));
}

bool RtfReader::consumeSkipped()
{
    if (m_skipPending <= 0)
        return false;
    --m_skipPending;
    return true;
}

void RtfReader::controlSymbol(char symbol)
{
    if (m_states.empty())
        return;
    switch (symbol) {
    case '*':
        m_starPending = true;
        return;
    case '\\':
    case '{':
    case '}':
        if (!consumeSkipped())
            addByte(symbol);
        return;
    case '~':
        if (!consumeSkipped())
            addText(QString(QChar(0x00A0)));
        return;
    case '_':
        if (!consumeSkipped())
            addText(QString(QChar(0x2011)));
        return;
    case '\n':
    case '\r':
        controlWord("par", false, 0);
        return;
    default: // \- optional hyphen, \| and \: formula and index marks
        consumeSkipped();
        return;
    }
}

void RtfReader::controlWord(std::string_view name, bool hasParameter, int parameter)
{
    const auto& table = wordTable();
    const auto found = table.find(name);
    const Word word = found == table.end() ? Word::Unknown : found->second;
    if (consumeSkipped())
        return;
    CharacterState& s = state();
    if (word == Word::U) {
        const int unit = parameter < 0 ? parameter + 65536 : parameter;
        if (unit >= 0 && unit <= 0xFFFF)
            addText(QString(QChar(char16_t(unit))));
        m_skipPending = s.unicodeSkip;
        return;
    }
    flushText();

    const bool starred = std::exchange(m_starPending, false);
    if (word == Word::Bin) {
        // Raw bytes that may contain anything, braces included.
        m_pos = std::min(m_input.size(), m_pos + std::max(parameter, 0));
        return;
    }
    if (word == Word::Uc) {
        s.unicodeSkip = std::clamp(parameter, 0, 16);
        return;
    }
    if (word == Word::Unknown || word == Word::SkipGroup) {
        if (starred || word == Word::SkipGroup)
            s.destination = Destination::Skip;
        return;
    }
    if (s.destination == Destination::Skip)
        return;
    const bool on = !hasParameter || parameter != 0;

    switch (word) {
    case Word::FontTable:
        s.destination = Destination::FontTable;
        return;
    case Word::ColorTable:
        s.destination = Destination::ColorTable;
        m_red = m_green = m_blue = -1;
        return;
    case Word::ListTable:
        s.destination = Destination::ListTable;
        return;
    case Word::ListOverrideTable:
        s.destination = Destination::ListOverrideTable;
        return;
    case Word::LevelText:
        s.destination = s.destination == Destination::ListTable ? Destination::LevelText : Destination::Skip;
        return;
    case Word::Pn:
        s.destination = Destination::OldList;
        m_paragraph.oldList = true;
        return;
    case Word::Field:
        if (!m_fields.empty() && m_fields.back().depth == int(m_states.size()))
            m_fields.back() = {int(m_states.size()), {}, false, {}};
        else
            m_fields.push_back({int(m_states.size()), {}, false, {}});
        return;
    case Word::FldInst:
        s.destination = m_fields.empty() ? Destination::Skip : Destination::FieldInstruction;
        return;
    case Word::FldRslt:
        s.destination = Destination::Text;
        if (!m_fields.empty()) {
            Field& field = m_fields.back();
            if (!field.resolved) {
                ++m_work.linkInstructionsRead;
                const QString target = hyperlinkTarget(field.instruction);
                if (!target.isEmpty())
                    field.href = keptLinkTarget(cleanName(target)).value_or(QString());
                field.resolved = true;
            }
            if (field.href)
                s.href = *field.href;
        }
        return;
    default:
        break;
    }

    switch (s.destination) {
    case Destination::FontTable:
        if (word == Word::F) {
            m_fontIndex = parameter;
            m_fontName.clear();
        } else if (word == Word::FCharset && (m_fonts.size() < kMaxTableEntries || m_fonts.count(m_fontIndex))) {
            m_fonts[m_fontIndex].codePage = codePageForCharset(parameter);
        }
        return;
    case Destination::ColorTable:
        if (word == Word::Red)
            m_red = std::clamp(parameter, 0, 255);
        else if (word == Word::Green)
            m_green = std::clamp(parameter, 0, 255);
        else if (word == Word::Blue)
            m_blue = std::clamp(parameter, 0, 255);
        return;
    case Destination::ListTable:
        m_listStyles.clear();
        if (word == Word::List && m_lists.size() < kMaxTableEntries) {
            m_lists.emplace_back();
        } else if (word == Word::ListId && !m_lists.empty()) {
            m_lists.back().id = parameter;
        } else if (word == Word::ListLevel && !m_lists.empty() && m_lists.back().levels.size() < 9) {
            m_lists.back().levels.emplace_back();
        } else if (word == Word::LevelNfc && !m_lists.empty() && !m_lists.back().levels.empty()) {
            m_lists.back().levels.back().numberFormat = parameter;
        }
        return;
    case Destination::ListOverrideTable:
        m_listStyles.clear();
        if (word == Word::ListOverride && m_overrides.size() < kMaxTableEntries)
            m_overrides.emplace_back(0, 0);
        else if (word == Word::ListId && !m_overrides.empty())
            m_overrides.back().second = parameter;
        else if (word == Word::Ls && !m_overrides.empty())
            m_overrides.back().first = parameter;
        return;
    case Destination::OldList:
        switch (word) {
        case Word::PnLvlBlt:
            m_paragraph.oldListStyle = QTextListFormat::ListDisc;
            break;
        case Word::PnLvl:
            m_paragraph.oldLevel = std::clamp(parameter - 1, 0, 8);
            break;
        case Word::PnDec:
            m_paragraph.oldListStyle = QTextListFormat::ListDecimal;
            break;
        case Word::PnUcRm:
            m_paragraph.oldListStyle = QTextListFormat::ListUpperRoman;
            break;
        case Word::PnLcRm:
            m_paragraph.oldListStyle = QTextListFormat::ListLowerRoman;
            break;
        case Word::PnUcLtr:
            m_paragraph.oldListStyle = QTextListFormat::ListUpperAlpha;
            break;
        case Word::PnLcLtr:
            m_paragraph.oldListStyle = QTextListFormat::ListLowerAlpha;
            break;
        default:
            break;
        }
        return;
    case Destination::Skip:
    case Destination::LevelText:
    case Destination::FieldInstruction:
        return;
    case Destination::Text:
        break;
    }

    switch (word) {
    case Word::Ansi:
        m_codePage = 1252;
        break;
    case Word::Mac:
        m_codePage = 10000;
        break;
    case Word::Pc:
        m_codePage = 437;
        break;
    case Word::Pca:
        m_codePage = 850;
        break;
    case Word::AnsiCpg:
        m_codePage = supportedCodePage(parameter);
        break;
    case Word::Deff:
        m_defaultFont = parameter;
        break;
    case Word::F:
        s.font = parameter;
        break;
    case Word::Ls:
        m_paragraph.listOverride = parameter;
        break;
    case Word::Ilvl:
        m_paragraph.level = std::clamp(parameter, 0, 8);
        break;
    case Word::Plain: {
        const CharacterState reset;
        s.font = reset.font;
        s.halfPoints = reset.halfPoints;
        s.bold = s.italic = s.underline = s.strike = s.hidden = false;
        s.foreground = s.background = 0;
        break;
    }
    case Word::Fs:
        if (parameter > 0)
            s.halfPoints = std::min(parameter, 3276);
        break;
    case Word::B:
        s.bold = on;
        break;
    case Word::I:
        s.italic = on;
        break;
    case Word::Ul:
        s.underline = on;
        break;
    case Word::UlNone:
        s.underline = false;
        break;
    case Word::Strike:
        s.strike = on;
        break;
    case Word::V:
        s.hidden = on;
        break;
    case Word::Cf:
        s.foreground = std::max(parameter, 0);
        break;
    case Word::Cb:
        s.background = std::max(parameter, 0);
        break;
    case Word::Pard:
        m_paragraph = ParagraphState();
        m_paragraphDeclared = true;
        break;
    case Word::Par:
        endParagraph(true);
        break;
    case Word::Row:
        endParagraph(true);
        break;
    case Word::Line:
        addText(QString(QChar::LineSeparator));
        break;
    case Word::Tab:
    case Word::Cell:
        addText(QStringLiteral("\t"));
        break;
    case Word::Ql:
        m_paragraph.alignment = Qt::AlignLeft;
        break;
    case Word::Qc:
        m_paragraph.alignment = Qt::AlignHCenter;
        break;
    case Word::Qr:
        m_paragraph.alignment = Qt::AlignRight;
        break;
    case Word::Qj:
        m_paragraph.alignment = Qt::AlignJustify;
        break;
    case Word::Character:
        addText(QString(QChar(characterTable().at(name))));
        break;
    default:
        break;
    }
}

void RtfReader::addByte(char byte)
{
    if (consumeSkipped())
        return;
    m_bytes.append(byte);
}

void RtfReader::addText(const QString& text)
{
    flushBytes();
    routeText(text);
}

int RtfReader::currentCodePage() const
{
    const int font = m_states.back().font >= 0 ? m_states.back().font : m_defaultFont;
    const auto it = m_fonts.find(font);
    if (it != m_fonts.end() && it->second.codePage != 0)
        return it->second.codePage;
    return m_codePage;
}

QStringDecoder& RtfReader::decoder(int codePage)
{
    auto& slot = m_decoders[codePage];
    if (!slot) {
        slot = std::make_unique<QStringDecoder>(encodingName(codePage).constData());
        if (!slot->isValid())
            slot = std::make_unique<QStringDecoder>(QStringDecoder::Latin1);
    }
    return *slot;
}

void RtfReader::flushBytes()
{
    if (m_bytes.isEmpty() || m_states.empty())
        return;
    QStringDecoder& d = decoder(currentCodePage());
    QString text = d.decode(m_bytes);
    d.resetState();
    m_bytes.clear();
    routeText(text);
}

void RtfReader::routeText(const QString& text)
{
    CharacterState& s = state();
    switch (s.destination) {
    case Destination::Text:
        if (s.hidden)
            return;
        if (m_text.isEmpty())
            m_textState = s;
        m_text += text;
        m_characters += text.size();
        if (m_characters > kMaxDocumentCharacters)
            fail(QStringLiteral("document too long"));
        return;
    case Destination::FontTable:
        for (QChar c : text) {
            if (c == u';') {
                if (!m_fontName.trimmed().isEmpty())
                    m_fonts[m_fontIndex].name = cleanName(m_fontName);
                m_fontName.clear();
            } else if (m_fontName.size() < 256 && (m_fonts.size() < kMaxTableEntries || m_fonts.count(m_fontIndex))) {
                m_fontName.append(c);
            }
        }
        return;
    case Destination::ColorTable:
        for (QChar c : text) {
            if (c != u';' || m_colors.size() >= kMaxTableEntries)
                continue;
            if (m_red < 0 && m_green < 0 && m_blue < 0)
                m_colors.emplace_back(); // "auto"
            else
                m_colors.emplace_back(std::max(m_red, 0), std::max(m_green, 0), std::max(m_blue, 0));
            m_red = m_green = m_blue = -1;
        }
        return;
    case Destination::LevelText:
        m_listStyles.clear();
        if (!m_lists.empty() && !m_lists.back().levels.empty()) {
            QString& levelText = m_lists.back().levels.back().text;
            if (levelText.size() < 64)
                levelText += text.left(64);
        }
        return;
    case Destination::FieldInstruction:
        if (!m_fields.empty() && m_fields.back().instruction.size() < 8192) {
            m_fields.back().instruction += text.left(8192);
            m_fields.back().resolved = false;
            m_fields.back().href.reset();
        }
        return;
    case Destination::Skip:
    case Destination::ListTable:
    case Destination::ListOverrideTable:
    case Destination::OldList:
        return;
    }
}

void RtfReader::flushText()
{
    flushBytes();
    if (m_text.isEmpty())
        return;
    const QString text = cleanText(m_text);
    m_text.clear();
    if (!text.isEmpty())
        m_cursor.insertText(text, charFormat(m_textState));
}

QTextCharFormat RtfReader::charFormat(const CharacterState& s) const
{
    QTextCharFormat format;
    const auto font = m_fonts.find(s.font >= 0 ? s.font : m_defaultFont);
    if (font != m_fonts.end() && !font->second.name.isEmpty())
        format.setFontFamilies(QStringList {font->second.name});
    if (s.halfPoints > 0)
        format.setFontPointSize(s.halfPoints / 2.0);
    if (s.bold)
        format.setFontWeight(QFont::Bold);
    if (s.italic)
        format.setFontItalic(true);
    if (s.underline)
        format.setFontUnderline(true);
    if (s.strike)
        format.setFontStrikeOut(true);
    if (s.foreground > 0 && size_t(s.foreground) < m_colors.size() && m_colors[s.foreground].isValid())
        format.setForeground(m_colors[s.foreground]);
    if (s.background > 0 && size_t(s.background) < m_colors.size() && m_colors[s.background].isValid())
        format.setBackground(m_colors[s.background]);
    if (!s.href.isEmpty()) {
        format.setAnchor(true);
        format.setAnchorHref(s.href);
    }
    return format;
}

QTextList* RtfReader::listFor(const ParagraphState& p)
{
    int key = 0;
    int level = 0;
    QTextListFormat::Style style = QTextListFormat::ListDisc;
    if (p.listOverride > 0) {
        key = p.listOverride;
        level = p.level;
        // Looked up once per list and level, not for every paragraph: the tables hold a thousand entries.
        const auto known = m_listStyles.find({key, level});
        if (known != m_listStyles.end()) {
            style = known->second;
        } else {
            ++m_work.listTableSearches;
            const auto override = std::find_if(m_overrides.begin(), m_overrides.end(),
                                               [&](const auto& o) { return o.first == p.listOverride; });
            const int listId = override != m_overrides.end() ? override->second : 0;
            const auto list =
                std::find_if(m_lists.begin(), m_lists.end(), [&](const auto& l) { return l.id == listId; });
            if (list != m_lists.end() && size_t(level) < list->levels.size())
                style = styleForLevel(list->levels[size_t(level)]);
            m_listStyles.emplace(std::pair {key, level}, style);
        }
    } else if (p.oldList) {
        key = -1;
        level = p.oldLevel;
        style = p.oldListStyle;
    } else {
        return nullptr;
    }
    // QTextDocument touches every item of a list when one joins it, so a list of n paragraphs
    // costs n² / 2; past a budget (a list of 2,000 items) further paragraphs are left out
    // of lists rather than holding up the reader.
    QTextList*& list = m_openLists[{key, level}];
    m_listWork += list ? list->count() + 1 : 1;
    if (m_listWork > kMaxListWork)
        return nullptr;
    m_work.listItemsTouched += list ? list->count() + 1 : 1;
    if (!list || list->format().style() != style) {
        QTextListFormat format;
        format.setStyle(style);
        format.setIndent(level + 1);
        list = m_cursor.createList(format);
    } else {
        list->add(m_cursor.block());
    }
    return list;
}

void RtfReader::endParagraph(bool newBlock)
{
    flushText();
    QTextBlockFormat format;
    format.setAlignment(m_paragraph.alignment);
    m_cursor.setBlockFormat(format);
    if (!listFor(m_paragraph))
        m_openLists.clear();
    if (!newBlock)
        return;
    if (++m_paragraphs > kMaxParagraphs) {
        fail(QStringLiteral("too many paragraphs"));
        return;
    }
    m_cursor.insertBlock(QTextBlockFormat(), QTextCharFormat());
    m_paragraphDeclared = false;
}

// The target of a HYPERLINK field: its first argument, or "#anchor" for a \l switch.
QString RtfReader::hyperlinkTarget(const QString& instruction)
{
    QStringList arguments;
    QString current;
    bool quoted = false;
    bool inArgument = false;
    for (QChar c : instruction) {
        if (c == u'"') {
            quoted = !quoted;
            inArgument = true;
        } else if (c.isSpace() && !quoted) {
            if (inArgument)
                arguments.append(current);
            current.clear();
            inArgument = false;
        } else {
            current.append(c);
            inArgument = true;
        }
    }
    if (inArgument)
        arguments.append(current);
    if (arguments.isEmpty() || arguments.first().compare(u"HYPERLINK", Qt::CaseInsensitive) != 0)
        return {};
    QString target;
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        const QString& argument = arguments.at(i);
        if (argument.compare(u"\\l", Qt::CaseInsensitive) == 0 && i + 1 < arguments.size()) {
            target += u'#' + arguments.at(++i);
        } else if (argument == u"\\o" || argument == u"\\t") {
            ++i; // tooltip and target frame
        } else if (!argument.startsWith(u'\\') && target.isEmpty()) {
            target = argument;
        }
    }
    return target;
}

} // namespace

bool readRtf(const QByteArray& rtf, QTextDocument* document)
{
    return readRtf(rtf, document, nullptr);
}

bool readRtf(const QByteArray& rtf, QTextDocument* document, RtfReadWork* work)
{
    if (!document)
        return false;
    document->clear();
    if (rtf.size() > kMaxRtfBytes) {
        qCDebug(lcRichText) << "RTF refused: too large," << rtf.size() << "bytes";
        return false;
    }
    RtfReader reader(rtf, document);
    const bool read = reader.read();
    if (work)
        *work = reader.work();
    if (read)
        return true;
    qCDebug(lcRichText) << "RTF refused:" << reader.error();
    document->clear();
    return false;
}

} // namespace lumra::RichText
