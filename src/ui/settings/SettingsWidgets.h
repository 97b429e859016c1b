#pragma once

#include <QAbstractButton>
#include <QPointer>
#include <QWidget>

#include <functional>

class QLabel;
class QPainter;
class QScrollArea;
class QHBoxLayout;

namespace lumra {

// Fonts and shared pieces of the settings pages. Sizes are device-independent pixels.
namespace SettingsStyle {
QFont font(int pixelSize, bool semibold = false, const QFont& base = {});
// A label in the secondary text colour (or the tertiary one).
QLabel* label(const QString& text, int pixelSize, bool semibold = false, bool secondary = false, QWidget* parent = nullptr);
// A horizontal line with 8 px above and below.
QWidget* divider(QWidget* parent = nullptr);
QColor withAlpha(QColor colour, qreal alpha);
// The colour of a refused value's message, readable on light and dark windows.
QColor errorColor();
// A page scrolling vertically only, without a frame.
void setUpPage(QScrollArea* page);
// A rounded rectangle in `colour` at `alpha`, without an outline.
void fillRounded(QPainter& painter, const QRectF& rect, QColor colour, qreal alpha, qreal radius);
// The rounded box of a list on a page: the base colour, a faint outline, corners of 6.
void paintListBox(QPainter& painter, const QRectF& rect, const QPalette& palette);
// A symbol icon drawn in `normal` (and `selected` for the selected state): theme symbols are
// drawn dark, which a dark window would hide.
QIcon tinted(const QIcon& icon, const QColor& normal, const QColor& selected, int size = 16);
} // namespace SettingsStyle

// A small on/off switch. Space and a click flip it.
class ToggleSwitch : public QAbstractButton {
    Q_OBJECT
public:
    explicit ToggleSwitch(QWidget* parent = nullptr);
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
};

// One setting: a title over its explanation on the left and the control at the top right, and,
// under the explanation, a message when a value was refused.
class SettingRow : public QWidget {
    Q_OBJECT
public:
    // `page`: 15 px semibold title over a 12 px secondary description (the settings pages);
    // `compact`: default title over a caption-size tertiary detail (onboarding).
    enum class Look { page, compact };

    SettingRow(const QString& title, const QString& detail, QWidget* control, Look look = Look::page,
               QWidget* parent = nullptr);

    QString title() const;
    QWidget* control() const { return m_control; }
    QLabel* titleLabel() const { return m_title; }
    // Further controls after the main one (a preview button).
    void addTrailing(QWidget* widget);

    void showMessage(const QString& message);
    void clearMessage();
    QString message() const;

private:
    QLabel* m_title = nullptr;
    QLabel* m_message = nullptr;
    QWidget* m_control = nullptr;
    QHBoxLayout* m_controls = nullptr;
};

// The row titled `title` under `root`, if any.
SettingRow* findSettingRow(const QWidget* root, const QString& title);

// Invisible; tells its owner which window it ended up in, later on the event loop (after every
// show and reparenting). The window is null when the accessor went away or has none.
class WindowAccessor : public QWidget {
    Q_OBJECT
public:
    explicit WindowAccessor(std::function<void(QWidget* window)> onResolve, QWidget* parent = nullptr);

protected:
    bool event(QEvent* event) override;

private:
    void scheduleReport();
    std::function<void(QWidget*)> m_onResolve;
};

} // namespace lumra
