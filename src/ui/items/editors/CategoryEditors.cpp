#include "ui/items/editors/CategoryEditors.h"

#include "ui/shell/Prompt.h"
#include "engine/ClipboardManager.h"
#include "ui/items/SymbolIcon.h"
#include "ui/items/editors/EditorRules.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QToolButton>
#include <QVBoxLayout>

namespace lumra {

// MARK: Symbol grid

CategoryIconGrid::CategoryIconGrid(QWidget* parent)
    : QWidget(parent)
    , m_cells(new QButtonGroup(this))
{
    auto* grid = new QGridLayout(this);
    grid->setContentsMargins(0, 0, 0, 0);
    grid->setHorizontalSpacing(8);
    grid->setVerticalSpacing(8);
    const QStringList& symbols = EditorRules::categoryIconChoices();
    for (int i = 0; i < symbols.size(); ++i) {
        auto* cell = new QToolButton;
        cell->setObjectName(symbols[i]);
        cell->setCheckable(true);
        cell->setAutoRaise(true);
        cell->setFixedSize(32, 32);
        cell->setIconSize(QSize(20, 20));
        cell->setToolTip(symbols[i]);
        cell->setCursor(Qt::PointingHandCursor);
        m_cells->addButton(cell);
        grid->addWidget(cell, i / 6, i % 6, Qt::AlignCenter);
    }
    m_cells->setExclusive(true);
    connect(m_cells, &QButtonGroup::buttonClicked, this, [this](QAbstractButton* cell) { setSelectedIcon(cell->objectName()); });
    setSelectedIcon(symbols.front());
}

QAbstractButton* CategoryIconGrid::cell(const QString& symbol) const
{
    for (QAbstractButton* cell : m_cells->buttons()) {
        if (cell->objectName() == symbol)
            return cell;
    }
    return nullptr;
}

void CategoryIconGrid::setSelectedIcon(const QString& symbol)
{
    m_selected = symbol;
    refresh();
}

void CategoryIconGrid::changeEvent(QEvent* event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::PaletteChange)
        refresh();
}

void CategoryIconGrid::refresh()
{
    const QPalette& colours = palette();
    QColor tint = colours.color(QPalette::Highlight);
    tint.setAlphaF(0.2);
    const QString checked = QStringLiteral("QToolButton:checked { background: rgba(%1, %2, %3, %4); border: none; border-radius: 6px; }")
                                .arg(tint.red())
                                .arg(tint.green())
                                .arg(tint.blue())
                                .arg(tint.alphaF());
    // A stored symbol outside the choices (from an import) leaves every cell clear.
    if (QAbstractButton* none = m_cells->checkedButton(); none && none->objectName() != m_selected) {
        m_cells->setExclusive(false);
        none->setChecked(false);
        m_cells->setExclusive(true);
    }
    for (QAbstractButton* cell : m_cells->buttons()) {
        const bool selected = cell->objectName() == m_selected;
        cell->setChecked(selected);
        cell->setIcon(tintedSymbol(cell->objectName(),
                                   selected ? colours.color(QPalette::WindowText) : secondaryColor(colours)));
        cell->setStyleSheet(checked);
    }
}

// MARK: Shared form

CategoryFormWindow::CategoryFormWindow(const EditorHost& host, const QString& title, const QString& saveTitle,
                                       const ClipboardCategory& initial, QPushButton* leading)
    : EditorWindow(host, title, QSize(300, 400), Sizing::fixed)
{
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(16, 16, 16, 16);
    column->setSpacing(12);
    column->addWidget(headline(title));
    m_name = new QLineEdit(initial.name);
    m_name->setPlaceholderText(tr("Category name"));
    column->addWidget(m_name);
    QLabel* iconTitle = caption(tr("Icon"), 1);
    column->addWidget(iconTitle);

    m_icons = new CategoryIconGrid;
    m_icons->setSelectedIcon(initial.iconName);
    auto* scroll = new QScrollArea;
    scroll->setWidget(m_icons);
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    scroll->setMinimumHeight(120);
    column->addWidget(scroll, 1);

    m_hidden = new QCheckBox(tr("Hide from footer"));
    m_hidden->setChecked(initial.isHiddenFromFooter);
    column->addWidget(m_hidden);
    column->addWidget(errorLabel());

    QBoxLayout* buttons = buttonRow(saveTitle, &m_save);
    m_leading = leading;
    if (leading)
        buttons->insertWidget(0, leading);
    column->addLayout(buttons);
    const auto refreshSave = [this] { m_save->setEnabled(EditorRules::categoryName(m_name->text()).has_value()); };
    connect(m_name, &QLineEdit::textChanged, this, refreshSave);
    refreshSave();
    finishLayout();
    m_name->setFocus();
}

ClipboardCategory CategoryFormWindow::formCategory(const QUuid& id) const
{
    ClipboardCategory category;
    category.id = id;
    category.name = EditorRules::categoryName(m_name->text()).value_or(QString());
    category.iconName = m_icons->selectedIcon();
    category.isHiddenFromFooter = m_hidden->isChecked();
    return category;
}

// MARK: New category

CategoryCreatorWindow::CategoryCreatorWindow(const EditorHost& host, const QList<QUuid>& assignToItemIds)
    : CategoryFormWindow(host, tr("New Category"), tr("Create"),
                         ClipboardCategory {QUuid(), QString(), QStringLiteral("folder.fill"), false, 0})
    , m_itemIds(assignToItemIds)
{
}

Status CategoryCreatorWindow::save()
{
    // Return reaches here even while "Create" is off; a blank name creates nothing.
    if (!EditorRules::categoryName(nameField()->text()))
        return Status::failure(tr("a category needs a name."));
    if (!m_created) {
        const ClipboardCategory category = formCategory(QUuid::createUuid());
        if (Status added = manager().addCategory(category); !added)
            return added;
        m_created = category.id;
    }
    for (const QUuid& id : std::as_const(m_itemIds)) {
        const QList<ClipboardItem>& items = manager().clipboardItems();
        const auto it = std::find_if(items.begin(), items.end(), [&](const ClipboardItem& item) { return item.id == id; });
        if (it == items.end())
            continue;
        if (Status assigned = manager().setItemCategory(ClipboardItem(*it), m_created); !assigned)
            return Status::failure(tr("the category was created, but not every item could be put into it (%1)").arg(assigned.error()));
    }
    return {};
}

// MARK: Edit category

namespace {

QPushButton* deleteCategoryButton()
{
    auto* button = new QPushButton(QObject::tr("Delete Category"));
    button->setAutoDefault(false);
    QPalette palette = button->palette();
    palette.setColor(QPalette::ButtonText, destructiveRed(palette));
    button->setPalette(palette);
    return button;
}

} // namespace

CategoryEditorWindow::CategoryEditorWindow(const EditorHost& host, const ClipboardCategory& category)
    : CategoryFormWindow(host, tr("Edit Category"), tr("Save"), category, deleteCategoryButton())
    , m_category(category)
    , m_delete(leadingButton())
{
    connect(m_delete, &QPushButton::clicked, this, &CategoryEditorWindow::confirmDelete);
}

Status CategoryEditorWindow::save()
{
    if (!EditorRules::categoryName(nameField()->text()))
        return Status::failure(tr("a category needs a name."));
    return manager().updateCategory(formCategory(m_category.id));
}

void CategoryEditorWindow::confirmDelete()
{
    bool alsoItems = false;
    const int answer = PromptService::shared().alertWithCheckBox(
        EditorRules::deleteCategoryTitle(m_category.name),
        tr("By default, items in this category are kept and simply unassigned from it. Enable the option below to "
           "delete those items too."),
        {tr("Delete"), tr("Cancel")}, PromptService::Style::warning, tr("Also delete items in this category"), alsoItems);
    if (answer != 0)
        return;
    if (const Status deleted = manager().deleteCategory(m_category.id, alsoItems); !deleted) {
        showError(tr("The category could not be deleted: %1").arg(deleted.error()));
        return;
    }
    accept();
}

} // namespace lumra
