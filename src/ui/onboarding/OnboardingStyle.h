#pragma once

#include <QPushButton>

class QHBoxLayout;
class QLabel;
class QVBoxLayout;

namespace lumra {

// The pieces every page of the walkthrough shares. Colours come from the palette, so the pages
// read in light and dark themes alike.
namespace OnboardingStyle {

QColor secondary(const QPalette& palette);
// Lumra's own icon at `size` pixels.
QPixmap appIcon(int size);
// A label in `pixelSize` that wraps and is centred; `secondary` in the secondary text colour.
QLabel* text(const QString& text, int pixelSize, QFont::Weight weight = QFont::Normal, bool secondary = false);
// A page's title over its explanation, with the page's own space above and below.
QWidget* header(const QString& title, const QString& subtitle, int spaceAbove, int spaceBelow, int spacing = 6);
// The plain "Back" button in the secondary colour.
QPushButton* backButton();
// "Back", space, then `forward` (a primary button), with the walkthrough's margins.
QWidget* footer(QPushButton* back, QWidget* forward, int spaceAbove = 12);
// Pads `content` with margins.
QWidget* padded(QWidget* content, int left, int top, int right, int bottom);
// A symbol drawn in `colour`.
QPixmap symbol(const QString& name, int size, const QColor& colour);

} // namespace OnboardingStyle

// The prominent button of a page: the accent colour behind white semibold text. It answers Return
// through the walkthrough, whichever control has the focus.
class PrimaryButton : public QPushButton {
    Q_OBJECT
public:
    // `prominent` false: the same shape in a quiet grey, for the second choice beside a primary one.
    PrimaryButton(const QString& title, int minimumWidth, bool prominent = true, QWidget* parent = nullptr);
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    int m_minimumWidth;
    bool m_prominent;
};

} // namespace lumra
