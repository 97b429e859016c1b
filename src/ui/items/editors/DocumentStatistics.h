#pragma once

#include "ui/items/editors/EditorRules.h"

#include <QObject>
#include <QPointer>

#include <memory>

class QTextBlock;
class QTextDocument;

namespace lumra {

// The content editor's counts kept paragraph by paragraph: an edit recounts the paragraphs it
// touched, never the whole document, so a key costs the same in a line and in megabytes. Each
// paragraph carries its counts with it (as block user data) and takes them off the totals when
// it goes.
class DocumentStatistics : public QObject {
    Q_OBJECT
public:
    explicit DocumentStatistics(QObject* parent = nullptr);

    // Counts every paragraph of a document no one else uses yet, on any thread: a long one read
    // by a worker comes counted.
    static void countAll(QTextDocument& document);

    // Follows `document` from now on, counting what has not been counted yet.
    void follow(QTextDocument* document);
    // What EditorRules::textStatistics() gives for the text the editor saves.
    EditorRules::TextStatistics statistics() const;

    struct Totals;

private:
    void contentsChange(int position, int removed, int added);
    void count(const QTextBlock& block);

    QPointer<QTextDocument> m_document;
    std::shared_ptr<Totals> m_totals;
};

} // namespace lumra
