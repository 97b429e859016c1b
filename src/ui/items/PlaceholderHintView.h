#pragma once

#include <QStringList>
#include <QTimer>
#include <QVariantAnimation>
#include <QWidget>

namespace lumra {

// The search field's placeholder: one hint at a time in the placeholder colour, the next pushing in
// from the bottom every 3 s. The rotation skips its steps while a menu is open. Takes no clicks.
class PlaceholderHintView : public QWidget {
    Q_OBJECT
public:
    static constexpr int rotationIntervalMs = 3000;

    // `hints` must not be empty; with one hint nothing rotates.
    explicit PlaceholderHintView(const QStringList& hints, QWidget* parent = nullptr);

    void setHints(const QStringList& hints);
    int index() const { return m_index; }
    QString currentHint() const { return m_hints.value(m_index); }
    // Back to the first hint and a fresh 3 s wait (the field was emptied again).
    void restart();
    // One step of the rotation, as the timer takes it.
    void advance();

protected:
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    QStringList m_hints;
    int m_index = 0;
    int m_previous = -1;
    QTimer m_timer;
    QVariantAnimation m_push;
};

} // namespace lumra
