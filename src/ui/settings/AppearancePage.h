#pragma once

#include "engine/SettingOptions.h"

#include <QAbstractButton>
#include <QScrollArea>

class QLabel;

namespace lumra {

class ClipboardManager;
class SettingRow;

// A preset card of the Style block; active while every value of its preset is stored.
class StyleCard : public QAbstractButton {
    Q_OBJECT
public:
    StyleCard(const QString& title, const QString& symbol, const QString& description, QWidget* parent = nullptr);
    void setActive(bool active);
    bool isActive() const { return m_active; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void updateLook();
    QString m_symbol;
    QLabel* m_icon;
    QLabel* m_check;
    bool m_active = false;
};

// The Appearance page: the two style presets, the display switches and pickers, and the font
// sizes with live samples. Every control writes its setting at once, and the popup follows.
class AppearancePage : public QScrollArea {
    Q_OBJECT
public:
    explicit AppearancePage(ClipboardManager& manager, QWidget* parent = nullptr);

    StyleCard* card(AppearanceStyle style) const;
    SettingRow* row(const QString& title) const;
    // Sets the font styles to their restored values (the "Restore Defaults" button).
    void restoreDefaults();

private:
    QWidget* styleBlock();
    QWidget* displaySection();
    QWidget* fontStylesSection();
    void updateCards();

    ClipboardManager& m_manager;
    QList<QPair<AppearanceStyle, StyleCard*>> m_cards;
    SettingRow* m_fileThumbnailSize = nullptr;
};

} // namespace lumra
