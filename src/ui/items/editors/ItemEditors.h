#pragma once

#include "model/ClipboardItem.h"
#include "ui/items/editors/EditorWindow.h"

#include <QTextCharFormat>

class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QTextEdit;

namespace lumra {

class DocumentStatistics;

// "Edit Tags" for one item, or one tag list for several items at once.
class TagEditorWindow final : public EditorWindow {
    Q_OBJECT
public:
    TagEditorWindow(const EditorHost& host, const ClipboardItem& item);
    TagEditorWindow(const EditorHost& host, const QList<ClipboardItem>& items);

    QLineEdit* field() const { return m_field; }

protected:
    Status save() override;

private:
    void build(const QString& captionText, const QString& initialText);

    QList<ClipboardItem> m_items;
    bool m_several = false;
    QLineEdit* m_field = nullptr;
};

// "Add Comment" / "Edit Comment".
class CommentEditorWindow final : public EditorWindow {
    Q_OBJECT
public:
    CommentEditorWindow(const EditorHost& host, const ClipboardItem& item);

    QPlainTextEdit* editor() const { return m_editor; }
    QPushButton* removeButton() const { return m_remove; }

    // Removes the comment and closes; a failure stays shown.
    void removeComment();

protected:
    Status save() override;

private:
    ClipboardItem m_item;
    QPlainTextEdit* m_editor = nullptr;
    QPushButton* m_remove = nullptr;
    bool m_removing = false;
};

// "Edit Content": the item's text with its formatting, bold, italic, underline and strike on the
// toolbar, counts below; Save stores the text and its RTF together.
class ContentEditorWindow final : public EditorWindow {
    Q_OBJECT
public:
    ContentEditorWindow(const EditorHost& host, const ClipboardItem& item);

    QTextEdit* editor() const { return m_editor; }
    // False while the item's rich text is still being read, and for good when it could not be:
    // until then the editor is read-only and cannot save.
    bool isLoaded() const { return m_loaded; }
    QString statisticsText() const;
    void toggleBold();
    void toggleItalic();
    void toggleUnderline();
    void toggleStrikethrough();

signals:
    void loaded();

protected:
    Status save() override;

private:
    void toggle(int style);
    void refreshStatistics();
    void setLoaded();

    ClipboardItem m_item;
    QTextEdit* m_editor = nullptr;
    QLabel* m_statistics = nullptr;
    DocumentStatistics* m_counts = nullptr;
    QPushButton* m_save = nullptr;
    bool m_loaded = false;
};

} // namespace lumra
