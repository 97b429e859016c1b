#include "ui/items/editors/DocumentStatistics.h"

#include <QAbstractTextDocumentLayout>
#include <QTextBlock>
#include <QTextDocument>

namespace lumra {

// The sums over the paragraphs that carry counts; the separators between paragraphs are added
// when asked, from the document's paragraph count.
struct DocumentStatistics::Totals {
    qint64 characters = 0;
    qint64 words = 0;
    qint64 newlines = 0; // inside paragraphs (line separators)
};

namespace {

struct Counts {
    qint64 characters = 0;
    qint64 words = 0;
    qint64 newlines = 0;
};

// One paragraph's counts, on the totals while the paragraph lives.
class BlockCounts final : public QTextBlockUserData {
public:
    BlockCounts(std::shared_ptr<DocumentStatistics::Totals> totals, const Counts& counts)
        : m_totals(std::move(totals))
        , m_counts(counts)
    {
        add(1);
    }
    ~BlockCounts() override { add(-1); }
    const DocumentStatistics::Totals* totals() const { return m_totals.get(); }
    std::shared_ptr<DocumentStatistics::Totals> sharedTotals() const { return m_totals; }

private:
    void add(int sign)
    {
        m_totals->characters += sign * m_counts.characters;
        m_totals->words += sign * m_counts.words;
        m_totals->newlines += sign * m_counts.newlines;
    }

    std::shared_ptr<DocumentStatistics::Totals> m_totals;
    Counts m_counts;
};

// As the saved text has it: images left out, the paragraph's end not part of it.
void countBlock(const QTextBlock& block, const std::shared_ptr<DocumentStatistics::Totals>& totals)
{
    QString text = block.text();
    text.remove(QChar::ObjectReplacementCharacter);
    const EditorRules::TextStatistics statistics = EditorRules::textStatistics(text);
    // Setting the new counts deletes the old ones, which take themselves off the totals.
    QTextBlock counted = block;
    counted.setUserData(new BlockCounts(totals, {statistics.characters, statistics.words, std::max(0, statistics.lines - 1)}));
}

} // namespace

DocumentStatistics::DocumentStatistics(QObject* parent)
    : QObject(parent)
{
}

void DocumentStatistics::countAll(QTextDocument& document)
{
    auto totals = std::make_shared<Totals>();
    for (QTextBlock block = document.begin(); block.isValid(); block = block.next())
        countBlock(block, totals);
}

void DocumentStatistics::follow(QTextDocument* document)
{
    if (m_document)
        disconnect(m_document, nullptr, this, nullptr);
    m_document = document;
    m_totals.reset();
    if (!document)
        return;
    // A document counted by a worker keeps its totals; any other is counted now.
    const auto* first = dynamic_cast<const BlockCounts*>(document->firstBlock().userData());
    const auto* last = dynamic_cast<const BlockCounts*>(document->lastBlock().userData());
    if (first && last && first->totals() == last->totals()) {
        m_totals = first->sharedTotals();
    } else {
        m_totals = std::make_shared<Totals>();
        for (QTextBlock block = document->begin(); block.isValid(); block = block.next())
            count(block);
    }
    (void)document->documentLayout(); // a document tells its changes only once it has a layout
    connect(document, &QTextDocument::contentsChange, this, &DocumentStatistics::contentsChange);
}

void DocumentStatistics::count(const QTextBlock& block) { countBlock(block, m_totals); }

void DocumentStatistics::contentsChange(int position, int removed, int added)
{
    // Paragraphs removed took their counts with them; those changed or added are counted again.
    // An undo can report a negative removal and that much too short an addition: the range is
    // widened by it, and by the paragraph just after, which may be the second half of one split.
    QTextBlock block = m_document->findBlock(position);
    if (!block.isValid())
        block = m_document->lastBlock();
    const int end = position + std::max(0, added) + std::abs(removed) + 1;
    for (; block.isValid() && block.position() <= end; block = block.next())
        count(block);
}

EditorRules::TextStatistics DocumentStatistics::statistics() const
{
    if (!m_document || !m_totals)
        return {};
    const qint64 separators = m_document->blockCount() - 1;
    EditorRules::TextStatistics statistics;
    statistics.characters = int(m_totals->characters + separators);
    statistics.words = int(m_totals->words);
    statistics.lines = separators == 0 && m_totals->characters == 0 ? 0 : int(1 + m_totals->newlines + separators);
    return statistics;
}

} // namespace lumra
