#include "ui/items/editors/ItemEditors.h"

#include "engine/ClipboardManager.h"
#include "engine/ItemMedia.h"
#include "ui/items/SymbolIcon.h"
#include "ui/items/editors/DocumentStatistics.h"
#include "ui/items/editors/EditorRules.h"
#include "ui/items/editors/RichTextFormatting.h"
#include "ui/preview/PreviewLayers.h"
#include "platform/core/BackgroundWork.h"

#include <QFrame>
#include <QFutureWatcher>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTextEdit>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

namespace lumra {

namespace {

QVBoxLayout* paddedColumn(QWidget* window)
{
    auto* column = new QVBoxLayout(window);
    column->setContentsMargins(16, 16, 16, 16);
    column->setSpacing(12);
    return column;
}

QFrame* divider()
{
    auto* line = new QFrame;
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Plain);
    line->setForegroundRole(QPalette::Mid);
    return line;
}

} // namespace

// MARK: Tags

TagEditorWindow::TagEditorWindow(const EditorHost& host, const ClipboardItem& item)
    : EditorWindow(host, tr("Edit Tags"), QSize(280, 160), Sizing::fixed)
    , m_items {item}
{
    build(EditorRules::itemCaption(item), EditorRules::tagsText(item.tags));
}

TagEditorWindow::TagEditorWindow(const EditorHost& host, const QList<ClipboardItem>& items)
    : EditorWindow(host, tr("Edit Tags"), QSize(280, 180), Sizing::fixed)
    , m_items(items)
    , m_several(true)
{
    build(EditorRules::multiTagCaption(items.size()), EditorRules::unionTagsText(items));
}

void TagEditorWindow::build(const QString& captionText, const QString& initialText)
{
    QVBoxLayout* column = paddedColumn(this);
    column->addWidget(headline(tr("Edit Tags")));
    column->addWidget(caption(captionText, m_several ? 0 : 2));
    m_field = new QLineEdit(initialText);
    m_field->setPlaceholderText(tr("Tags separated by spaces"));
    column->addWidget(m_field);
    column->addWidget(errorLabel());
    column->addStretch(1);
    column->addLayout(buttonRow(tr("Save")));
    finishLayout();
}

Status TagEditorWindow::save()
{
    const QStringList tags = EditorRules::parseTags(m_field->text());
    if (!m_several)
        return manager().setItemTags(m_items.front(), tags);
    QList<QUuid> ids;
    for (const ClipboardItem& item : std::as_const(m_items))
        ids << item.id;
    return manager().setTagsForItems(ids, tags);
}

// MARK: Comment

CommentEditorWindow::CommentEditorWindow(const EditorHost& host, const ClipboardItem& item)
    : EditorWindow(host, EditorRules::commentTitle(item), QSize(320, 300), Sizing::resizable)
    , m_item(item)
{
    QVBoxLayout* column = paddedColumn(this);
    column->addWidget(headline(EditorRules::commentTitle(item)));
    column->addWidget(caption(EditorRules::itemCaption(item)));
    m_editor = new QPlainTextEdit(item.comment.value_or(QString()));
    m_editor->setPlaceholderText(tr("Enter comment..."));
    m_editor->setTabChangesFocus(true);
    m_editor->setMinimumHeight(120);
    column->addWidget(m_editor, 1);
    column->addWidget(errorLabel());

    QBoxLayout* buttons = buttonRow(tr("Save"));
    if (item.comment) {
        m_remove = new QPushButton(tr("Remove"));
        m_remove->setAutoDefault(false);
        QPalette palette = m_remove->palette();
        palette.setColor(QPalette::ButtonText, destructiveRed(palette));
        m_remove->setPalette(palette);
        connect(m_remove, &QPushButton::clicked, this, &CommentEditorWindow::removeComment);
        buttons->insertWidget(0, m_remove);
    }
    column->addLayout(buttons);
    finishLayout();
    // Typing starts in the comment, once the window has been shown.
    QTimer::singleShot(100, m_editor, [editor = m_editor] { editor->setFocus(); });
    m_editor->setFocus();
}

Status CommentEditorWindow::save()
{
    return manager().setItemComment(m_item, m_removing ? std::nullopt : EditorRules::commentToStore(m_editor->toPlainText()));
}

void CommentEditorWindow::removeComment()
{
    m_removing = true;
    trySave();
    m_removing = false;
}

// MARK: Content

namespace {

QToolButton* formatButton(const QString& label, const QFont& font, const QString& toolTip)
{
    auto* button = new QToolButton;
    button->setText(label);
    button->setFont(font);
    button->setToolTip(toolTip);
    button->setAutoRaise(true);
    button->setFixedSize(24, 24);
    button->setFocusPolicy(Qt::TabFocus);
    return button;
}

} // namespace

ContentEditorWindow::ContentEditorWindow(const EditorHost& host, const ClipboardItem& item)
    : EditorWindow(host, tr("Edit Content"), QSize(420, 340), Sizing::resizable)
    , m_item(item)
{
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);

    auto* toolbar = new QHBoxLayout;
    toolbar->setContentsMargins(16, 10, 16, 10);
    auto* cancel = new QPushButton(tr("Cancel"));
    cancel->setAutoDefault(false);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    toolbar->addWidget(cancel);
    toolbar->addStretch(1);
    auto* formats = new QHBoxLayout;
    formats->setSpacing(12);
    QFont bold = font();
    bold.setBold(true);
    QFont italic = font();
    italic.setItalic(true);
    QFont underline = font();
    underline.setUnderline(true);
    QFont strike = font();
    strike.setStrikeOut(true);
    const struct {
        QString label;
        QFont font;
        QString toolTip;
        void (ContentEditorWindow::*toggle)();
    } buttons[] = {
        {QStringLiteral("B"), bold, tr("Bold"), &ContentEditorWindow::toggleBold},
        {QStringLiteral("I"), italic, tr("Italic"), &ContentEditorWindow::toggleItalic},
        {QStringLiteral("U"), underline, tr("Underline"), &ContentEditorWindow::toggleUnderline},
        {QStringLiteral("S"), strike, tr("Strikethrough"), &ContentEditorWindow::toggleStrikethrough},
    };
    for (const auto& b : buttons) {
        QToolButton* button = formatButton(b.label, b.font, b.toolTip);
        connect(button, &QToolButton::clicked, this, b.toggle);
        formats->addWidget(button);
    }
    toolbar->addLayout(formats);
    toolbar->addStretch(1);
    m_save = new QPushButton(tr("Save"));
    m_save->setDefault(true);
    m_save->setEnabled(false);
    connect(m_save, &QPushButton::clicked, this, [this] { trySave(); });
    toolbar->addWidget(m_save);
    column->addLayout(toolbar);
    column->addWidget(divider());

    m_editor = new QTextEdit;
    m_editor->setAcceptRichText(true);
    m_editor->setFrameShape(QFrame::NoFrame);
    m_editor->setTabChangesFocus(false);
    m_editor->setReadOnly(true);
    auto* editorBox = new QVBoxLayout;
    editorBox->setContentsMargins(4, 4, 4, 4);
    editorBox->addWidget(m_editor);
    column->addLayout(editorBox, 1);
    column->addWidget(divider());

    auto* status = new QHBoxLayout;
    status->setContentsMargins(16, 8, 16, 8);
    m_statistics = caption(QString(), 0);
    m_statistics->setWordWrap(false);
    status->addWidget(m_statistics);
    status->addStretch(1);
    status->addWidget(errorLabel());
    column->addLayout(status);
    m_counts = new DocumentStatistics(this);
    m_counts->follow(m_editor->document());
    connect(m_editor, &QTextEdit::textChanged, this, &ContentEditorWindow::refreshStatistics);
    refreshStatistics();
    finishLayout();
    m_editor->setFocus();

    const QString text = item.textContent.value_or(QString());
    auto readRichText = manager().media().richTextReader(item);
    if (!readRichText) {
        RichTextFormatting::load(*m_editor->document(), std::nullopt, text);
        setLoaded();
        return;
    }
    // A long document takes seconds to read: the window shows at once and fills when it is ready.
    using Read = std::shared_ptr<RichTextHost::Read>;
    auto* watcher = new QFutureWatcher<Read>(this);
    connect(watcher, &QFutureWatcherBase::finished, this, [this, watcher, text] {
        watcher->deleteLater();
        if (watcher->future().resultCount() == 0) { // dropped at quit
            showError(tr("The content could not be loaded."));
            return;
        }
        const Read read = watcher->result();
        if (read && read->document) {
            QTextDocument* document = read->document.release();
            document->setParent(m_editor);
            document->setDefaultFont(m_editor->document()->defaultFont());
            document->setDocumentMargin(m_editor->document()->documentMargin());
            document->clearUndoRedoStacks();
            m_editor->setDocument(document); // the empty one it had goes with it
            m_counts->follow(document);
        } else {
            RichTextFormatting::load(*m_editor->document(), std::nullopt, text);
        }
        setLoaded();
    });
    watcher->setFuture(manager().work().run(BackgroundWork::Lane::previews,
                                            [read = std::move(readRichText)]() -> Read {
                                                const std::optional<QByteArray> rtf = read();
                                                Read document = rtf ? RichTextHost::read(*rtf) : nullptr;
                                                if (document && document->document)
                                                    DocumentStatistics::countAll(*document->document);
                                                return document;
                                            }));
}

void ContentEditorWindow::setLoaded()
{
    m_editor->setCurrentCharFormat(QTextCharFormat());
    m_editor->setReadOnly(false);
    m_save->setEnabled(true);
    m_loaded = true;
    refreshStatistics();
    m_editor->setFocus();
    emit loaded();
}

QString ContentEditorWindow::statisticsText() const { return m_statistics->text(); }

void ContentEditorWindow::refreshStatistics()
{
    m_statistics->setText(EditorRules::statisticsText(m_counts->statistics()));
}

void ContentEditorWindow::toggle(int style)
{
    QTextCursor cursor = m_editor->textCursor();
    QTextCharFormat typing = m_editor->currentCharFormat();
    RichTextFormatting::toggle(cursor, RichTextFormatting::Style(style), typing);
    if (!cursor.hasSelection())
        m_editor->setCurrentCharFormat(typing);
    m_editor->setFocus();
}

void ContentEditorWindow::toggleBold() { toggle(int(RichTextFormatting::Style::bold)); }
void ContentEditorWindow::toggleItalic() { toggle(int(RichTextFormatting::Style::italic)); }
void ContentEditorWindow::toggleUnderline() { toggle(int(RichTextFormatting::Style::underline)); }
void ContentEditorWindow::toggleStrikethrough() { toggle(int(RichTextFormatting::Style::strikethrough)); }

Status ContentEditorWindow::save()
{
    if (!m_loaded) // an empty editor never replaces the item's text
        return Status::failure(tr("the content has not been loaded"));
    const QTextDocument& document = *m_editor->document();
    return manager().updateItemContent(m_item, RichTextFormatting::plainText(document), RichTextFormatting::rtf(document));
}

} // namespace lumra
