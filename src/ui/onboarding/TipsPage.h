#pragma once

#include "ui/onboarding/OnboardingFlow.h"

#include <QAbstractButton>
#include <QWidget>

class QPushButton;

namespace lumra {

class PictureView;

// The "Continue" of the tips page: a capsule that fills a tenth for each tip seen and shows the
// share in percent, enabled once every tip was seen.
class TipsProgressButton : public QAbstractButton {
    Q_OBJECT
public:
    explicit TipsProgressButton(QWidget* parent = nullptr);
    void setProgress(const TipsProgress& progress);
    QSize sizeHint() const override { return {150, 34}; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    double m_progress = 0;
    bool m_complete = false;
};

// "Lumra Overview": ten pictures of Lumra, browsed with two arrows; going on needs all ten.
class TipsPage : public QWidget {
    Q_OBJECT
public:
    TipsPage(int backPage, int nextPage, QWidget* parent = nullptr);

    const TipsProgress& progress() const { return m_progress; }
    void showPreviousTip();
    void showNextTip();
    void markCurrentTipViewed();
    // The shortcut that opens Lumra, for the first tip to name; empty while none is set.
    void setOpenShortcut(const QString& shortcut);

    QAbstractButton* backArrow() const { return m_backArrow; }
    QAbstractButton* forwardArrow() const { return m_forwardArrow; }
    TipsProgressButton* continueButton() const { return m_continue; }
    QPushButton* backButton() const { return m_back; }
    PictureView* picture() const { return m_picture; }

signals:
    void pageRequested(int index);

protected:
    void keyPressEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    bool browseWithArrows(const QKeyEvent& key);
    void update();

    TipsProgress m_progress;
    int m_nextPage;
    QString m_openShortcut;
    QAbstractButton* m_backArrow;
    QAbstractButton* m_forwardArrow;
    PictureView* m_picture;
    class TipDots* m_dots;
    TipsProgressButton* m_continue;
    QPushButton* m_back;
};

} // namespace lumra
