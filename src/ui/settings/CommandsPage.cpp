#include "ui/settings/CommandsPage.h"

#include "ui/settings/SettingsWidgets.h"

#include <QFontDatabase>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QVBoxLayout>

namespace lumra {

namespace {

using CommandInfo = CommandsPage::CommandInfo;

// A box of rows on a faint rounded background.
class Box : public QWidget {
protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        SettingsStyle::fillRounded(painter, rect(), palette().color(QPalette::WindowText), 0.04, 8);
    }
};

// A command in monospace on an accent tint.
class Chip : public QLabel {
public:
    Chip(const QString& command, QWidget* parent) : QLabel(command, parent)
    {
        setTextFormat(Qt::PlainText);
        QFont mono = QFontDatabase::systemFont(QFontDatabase::FixedFont);
        mono.setPixelSize(12);
        setFont(mono);
        setContentsMargins(6, 3, 6, 3);
        setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    }

protected:
    void paintEvent(QPaintEvent* event) override
    {
        QPainter painter(this);
        SettingsStyle::fillRounded(painter, rect(), palette().color(QPalette::Highlight), 0.15, 5);
        painter.end();
        QLabel::paintEvent(event);
    }
};

// Rows with a line between them; in a group box every chip takes an 88 px column.
QWidget* box(const QList<CommandInfo>& rows, bool chipColumn)
{
    auto* frame = new Box;
    auto* layout = new QVBoxLayout(frame);
    layout->setContentsMargins(12, 0, 12, 0);
    layout->setSpacing(0);
    for (int i = 0; i < rows.size(); ++i) {
        if (i > 0) {
            auto* line = new QFrame(frame);
            line->setFrameShape(QFrame::HLine);
            line->setFrameShadow(QFrame::Plain);
            line->setForegroundRole(QPalette::Mid);
            layout->addWidget(line);
        }
        auto* row = new QHBoxLayout;
        row->setContentsMargins(0, 8, 0, 8);
        row->setSpacing(12);
        auto* command = new Chip(rows[i].command, frame);
        if (chipColumn) {
            auto* column = new QWidget(frame);
            column->setFixedWidth(88);
            auto* columnLayout = new QHBoxLayout(column);
            columnLayout->setContentsMargins(0, 0, 0, 0);
            columnLayout->addWidget(command, 0, Qt::AlignLeft | Qt::AlignTop);
            columnLayout->addStretch(1);
            row->addWidget(column, 0, Qt::AlignTop);
        } else {
            row->addWidget(command, 0, Qt::AlignTop);
        }
        auto* description = SettingsStyle::label(rows[i].description, 12, false, true, frame);
        description->setWordWrap(true);
        row->addWidget(description, 1, Qt::AlignTop);
        layout->addLayout(row);
    }
    return frame;
}

QWidget* section(const QString& title, const std::optional<QString>& subtitle, QWidget* content)
{
    auto* holder = new QWidget;
    auto* layout = new QVBoxLayout(holder);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(8);
    layout->addWidget(SettingsStyle::label(title, 15, true));
    if (subtitle) {
        auto* text = SettingsStyle::label(*subtitle, 12, false, true);
        text->setWordWrap(true);
        layout->addWidget(text);
    }
    layout->addWidget(content);
    return holder;
}

} // namespace

QList<CommandsPage::CommandGroup> CommandsPage::groups()
{
    return {
        {QStringLiteral("Filter by content type"),
         QStringLiteral("Show only items of one kind. These are mutually exclusive \u2014 choosing another content type "
                        "replaces the current one. You can still combine a content type with attribute filters and a "
                        "text search."),
         {{"/text", "Show only plain text items."},
          {"/link", "Show only links and web addresses (URLs)."},
          {"/image", "Show only images."},
          {"/file", "Show only copied files."},
          {"/folder", "Show only copied folders."},
          {"/color", "Show only color values (such as hex or RGB codes)."},
          {"/email", "Show only email addresses."},
          {"/terminal", "Show only terminal / shell commands."}}},
        {QStringLiteral("Filter by attribute"),
         QStringLiteral("Open a picker or toggle a filter based on how or when an item was copied. These stack with each "
                        "other, with a content-type filter, and with a text search."),
         {{"/date", "Filter items by the date they were copied. Opens a date picker."},
          {"/type", "Filter by content type. Opens a type picker."},
          {"/app", "Filter by the app an item was copied from. Opens an app picker."},
          {"/cat", "Filter by category. Opens a category picker."},
          {"/tag", QStringLiteral("Search within tags only \u2014 after the command, the text you type is matched against "
                                  "item tags instead of item content.")},
          {"/star", "Show only starred items."},
          {"/pasted", "Show only items you have pasted before."},
          {"/trash", "Show the recycle bin (deleted items). Requires the recycle bin to be enabled."}}},
        {QStringLiteral("Exclude"),
         QStringLiteral("Add \"ex\" after the slash to hide matching items instead of showing only them \u2014 for example "
                        "/ex link hides all links. Excludes stack, and combine with the filters above. Works with: date, "
                        "type, app, star, text, link, image, file, folder, color, email, terminal."),
         {{QStringLiteral("/ex \u2026"), "Hide items that match the given filter rather than showing only them."}}},
        {QStringLiteral("Actions"),
         std::nullopt,
         {{"/pin", QStringLiteral("Pin the currently applied filters so they stay active \u2014 pinned filters are "
                                  "remembered and reapplied automatically each time you reopen Lumra.")},
          {"/unpin", "Remove all pinned filters."},
          {"/help", "Open the Lumra help website in your browser."}}},
    };
}

QList<CommandsPage::CommandInfo> CommandsPage::examples()
{
    return {
        {"/link", "Show only the links you've copied."},
        {"/star invoice", QStringLiteral("Show starred items that contain the word \u201Cinvoice\u201D.")},
        {"/app", "Pick Firefox in the list that opens to show only items you copied from Firefox."},
        {"/image /date", "Show images, then pick a day to narrow it down."},
        {"/ex link", "Hide all links, keeping everything else."},
    };
}

CommandsPage::CommandsPage(const QList<CommandGroup>& groups, const QList<CommandInfo>& examples, QWidget* parent)
    : QScrollArea(parent)
{
    SettingsStyle::setUpPage(this);
    auto* content = new QWidget;
    auto* layout = new QVBoxLayout(content);
    layout->setContentsMargins(16, 16, 16, 16);
    layout->setSpacing(20);

    auto* header = new QWidget;
    auto* headerLayout = new QVBoxLayout(header);
    headerLayout->setContentsMargins(0, 0, 0, 0);
    headerLayout->setSpacing(4);
    headerLayout->addWidget(SettingsStyle::label(QStringLiteral("Slash Commands"), 16, true));
    auto* intro = SettingsStyle::label(
        QStringLiteral("Slash commands filter your clipboard history right from the search field. Type a command and it "
                       "becomes a badge \u2014 then keep typing to search within the filtered results. Commands stack, so "
                       "you can combine several plus a text search: e.g. /link /star invoice finds starred links "
                       "containing \"invoice\". Press \u2715 to clear."),
        12, false, true);
    intro->setWordWrap(true);
    headerLayout->addWidget(intro);
    layout->addWidget(header);

    layout->addWidget(section(QStringLiteral("Examples"), std::nullopt, box(examples, false)));
    for (const CommandGroup& group : groups)
        layout->addWidget(section(group.title, group.subtitle, box(group.commands, true)));
    layout->addStretch(1);
    setWidget(content);
}

} // namespace lumra
