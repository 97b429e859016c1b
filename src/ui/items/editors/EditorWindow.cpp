#include "ui/items/editors/EditorWindow.h"

#include "engine/ClipboardManager.h"
#include "ui/items/SymbolIcon.h"
#include "ui/items/editors/EditorRules.h"
#include "ui/shell/WindowActivation.h"

#include <QEvent>
#include <QWindow>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScreen>

namespace lumra {

Qt::WindowFlags editorWindowFlags(EditorWindow::Sizing)
{
    // Only the buttons named here: the window manager is asked for no minimise or maximise button.
    // A minimised editor would take the popup it belongs to off screen with it.
    return Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint
        | Qt::WindowStaysOnTopHint;
}

EditorWindow::EditorWindow(const EditorHost& host, const QString& title, QSize contentSize, Sizing sizing)
    : QDialog(nullptr, editorWindowFlags(sizing))
    , m_manager(host.manager)
    , m_hotKeys(host.hotKeys)
    , m_panel(host.panel)
    , m_hold(host.panel ? host.panel->hold() : PopupPanel::Hold())
    , m_contentSize(contentSize)
    , m_sizing(sizing)
{
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(title);
    setModal(false);
    m_error = caption(QString(), 0);
    m_error->setObjectName(QStringLiteral("editorError"));
    QPalette palette = m_error->palette();
    palette.setColor(QPalette::WindowText, destructiveRed(palette));
    m_error->setPalette(palette);
    m_error->hide();
    if (host.panel) {
        // Transient for the popup: the window manager keeps it above the popup, with no taskbar or
        // window-switcher entry of its own. Not a child widget: a closed popup deletes itself.
        winId();
        host.panel->winId();
        windowHandle()->setTransientParent(host.panel->windowHandle());
        // Escape, the shortcut, the tray or `lumra` asking a popup this editor holds open to close
        // bring the popup and the editor forward, from wherever the window manager put them.
        connect(host.panel, &PopupPanel::closeRefused, this, [this] {
            if (!m_handedBack)
                bringForward();
        });
    }
}

EditorWindow::~EditorWindow() { handBack(false); }

void EditorWindow::bringForward()
{
    if (m_panel)
        m_panel->bringBack(0, PopupPanel::Focus::leave);
    if (windowState() & Qt::WindowMinimized)
        setWindowState(windowState() & ~Qt::WindowMinimized);
    if (!isVisible())
        show();
    // Wherever it was dragged, the editor comes back beside its popup, all of it on screen.
    if (const QScreen* screen = m_panel && m_panel->screen() ? m_panel->screen() : this->screen()) {
        const QPoint place = EditorRules::placedOnScreen(frameGeometry(), screen->availableGeometry());
        if (place != frameGeometry().topLeft())
            move(place);
    }
    activateWithUserTime(this, 0);
}

QLabel* EditorWindow::headline(const QString& text)
{
    auto* label = new QLabel(text);
    QFont font = label->font();
    font.setBold(true);
    font.setPointSizeF(font.pointSizeF() + 1);
    label->setFont(font);
    return label;
}

QLabel* EditorWindow::caption(const QString& text, int maxLines)
{
    auto* label = new QLabel;
    QFont font = label->font();
    font.setPointSizeF(std::max(7.0, font.pointSizeF() - 1.5));
    label->setFont(font);
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, secondaryColor(palette));
    label->setPalette(palette);
    label->setWordWrap(true);
    label->setTextFormat(Qt::PlainText);
    if (maxLines > 0) {
        // Long texts stop after `maxLines` lines, ending in an ellipsis.
        const QFontMetrics metrics(font);
        QStringList lines = text.split(QLatin1Char('\n'));
        QString shown = lines.mid(0, maxLines).join(QLatin1Char('\n'));
        if (lines.size() > maxLines || shown.size() > 200)
            shown = shown.left(200) + QChar(0x2026);
        label->setText(shown);
        label->setMaximumHeight(metrics.lineSpacing() * maxLines + 2);
    } else {
        label->setText(text);
    }
    return label;
}

QBoxLayout* EditorWindow::buttonRow(const QString& saveTitle, QPushButton** saveButton)
{
    auto* row = new QHBoxLayout;
    row->addStretch(1);
    auto* cancel = new QPushButton(tr("Cancel"));
    cancel->setAutoDefault(false);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    auto* save = new QPushButton(saveTitle);
    save->setDefault(true);
    connect(save, &QPushButton::clicked, this, [this] { trySave(); });
    row->addWidget(cancel);
    row->addWidget(save);
    if (saveButton)
        *saveButton = save;
    return row;
}

void EditorWindow::finishLayout()
{
    m_laidOut = true;
    fitContent();
}

void EditorWindow::fitContent()
{
    // A fixed window grows (never shrinks below its size) when a message line appears.
    const int width = std::max(m_contentSize.width(), minimumSizeHint().width());
    const int needed = layout() && layout()->hasHeightForWidth() ? layout()->totalHeightForWidth(width) : sizeHint().height();
    const int height = std::max(m_contentSize.height(), needed);
    const QSize size(width, std::max(height, minimumSizeHint().height()));
    if (m_sizing == Sizing::fixed) {
        setFixedSize(size);
    } else {
        setMinimumSize(m_contentSize.boundedTo(size).expandedTo(minimumSizeHint()));
        resize(size);
    }
}

bool EditorWindow::event(QEvent* event)
{
    const bool handled = QDialog::event(event);
    if (event->type() == QEvent::LayoutRequest && m_laidOut && m_sizing == Sizing::fixed)
        fitContent();
    return handled;
}

void EditorWindow::showError(const QString& message)
{
    m_error->setText(message);
    m_error->setVisible(!message.isEmpty());
}

QString EditorWindow::errorText() const { return m_error->isVisible() ? m_error->text() : QString(); }

bool EditorWindow::trySave()
{
    if (!m_manager) {
        showError(tr("The change could not be saved: Lumra's history is not available."));
        return false;
    }
    const Status saved = save();
    if (!saved) {
        showError(tr("The change could not be saved: %1").arg(saved.error()));
        return false;
    }
    accept();
    return true;
}

void EditorWindow::done(int result)
{
    QDialog::done(result);
    handBack(true);
}

void EditorWindow::handBack(bool showPopup)
{
    if (m_handedBack)
        return;
    m_handedBack = true;
    m_hold.release();
    PopupPanel* panel = m_panel;
    if (!showPopup || !panel || panel->isClosed())
        return;
    // While another editor holds the popup, raising the popup would only cover that editor. A popup
    // minimised or hidden with this editor comes back with its end, so the next shortcut closes
    // a popup the user sees rather than one nobody can.
    if (panel->holdCount() == 0)
        panel->bringBack();
}

} // namespace lumra
