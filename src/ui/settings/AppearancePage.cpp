#include "ui/settings/AppearancePage.h"

#include "engine/ClipboardManager.h"
#include "platform/symbols/Symbols.h"
#include "ui/settings/AppearanceTables.h"
#include "ui/settings/BoundRows.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QVBoxLayout>

#include <cmath>

namespace lumra {

namespace {

constexpr int cardSymbolSize = 16;

// A stored size as a font can take it: finite and within reason.
int fontPixels(double size)
{
    return std::isfinite(size) ? int(std::lround(std::clamp(size, 1.0, 200.0))) : 13;
}

QVBoxLayout* sectionLayout(QWidget* section)
{
    section->setFont(SettingsStyle::font(14, false, section->font()));
    auto* layout = new QVBoxLayout(section);
    layout->setContentsMargins(16, 16, 16, 16);
    layout->setSpacing(12);
    return layout;
}

// A sample of item text drawn at the sizes stored now, in a rounded box as wide as its text.
class TextSample : public QWidget {
public:
    // `colour` when valid, else the palette's secondary text colour at `alpha`.
    TextSample(ClipboardManager& manager, QString text, Setting size, std::optional<Setting> spacing, QColor colour,
               qreal alpha = 1.0)
        : m_manager(manager), m_text(std::move(text)), m_size(size), m_spacing(spacing), m_colour(colour), m_alpha(alpha)
    {
        setObjectName(QStringLiteral("sample"));
        connect(&manager, &ClipboardManager::settingChanged, this, [this](Setting changed) {
            if (changed == m_size || changed == m_spacing)
                refresh();
        });
        refresh();
    }

    QFont sampleFont() const { return SettingsStyle::font(fontPixels(std::get<double>(m_manager.setting(m_size))), false, font()); }
    double lineSpacing() const
    {
        const double spacing = m_spacing ? std::get<double>(m_manager.setting(*m_spacing)) : 0.0;
        return std::isfinite(spacing) ? std::clamp(spacing, 0.0, 100.0) : 0.0;
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        SettingsStyle::fillRounded(painter, rect(), palette().color(QPalette::WindowText), 0.06, 4);
        painter.setFont(sampleFont());
        painter.setPen(m_colour.isValid() ? m_colour : SettingsStyle::withAlpha(palette().color(QPalette::PlaceholderText), m_alpha));
        const QFontMetricsF metrics(sampleFont());
        qreal y = 4 + metrics.ascent();
        for (const QString& line : m_text.split(u'\n')) {
            painter.drawText(QPointF(8, y), line);
            y += metrics.height() + lineSpacing();
        }
    }

private:
    void refresh()
    {
        const QFontMetricsF metrics(sampleFont());
        const QStringList lines = m_text.split(u'\n');
        qreal width = 0;
        for (const QString& line : lines)
            width = std::max(width, metrics.horizontalAdvance(line));
        const qreal height = lines.size() * metrics.height() + (lines.size() - 1) * lineSpacing();
        setFixedSize(int(std::ceil(width)) + 16, int(std::ceil(height)) + 8);
        update();
    }

    ClipboardManager& m_manager;
    QString m_text;
    Setting m_size;
    std::optional<Setting> m_spacing;
    QColor m_colour;
    qreal m_alpha;
};

// The tag chips "Link" and "Email" at the stored tag size.
class TagSample : public QWidget {
public:
    explicit TagSample(ClipboardManager& manager) : m_manager(manager)
    {
        setObjectName(QStringLiteral("sample"));
        connect(&manager, &ClipboardManager::settingChanged, this, [this](Setting changed) {
            if (changed == Setting::tagsFontSize)
                refresh();
        });
        refresh();
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setFont(chipFont());
        const QFontMetricsF metrics(chipFont());
        qreal x = 8;
        for (const QString& tag : tags()) {
            const QRectF chip(x, 0, metrics.horizontalAdvance(tag) + 8, metrics.height() + 2);
            SettingsStyle::fillRounded(painter, chip, palette().color(QPalette::Highlight), 0.15, 3);
            painter.setPen(palette().color(QPalette::WindowText));
            painter.drawText(chip, Qt::AlignCenter, tag);
            x = chip.right() + 4;
        }
    }

private:
    static QStringList tags() { return {QStringLiteral("Link"), QStringLiteral("Email")}; }
    QFont chipFont() const { return SettingsStyle::font(fontPixels(m_manager.tagsFontSize()), false, font()); }
    void refresh()
    {
        const QFontMetricsF metrics(chipFont());
        qreal width = 8;
        for (const QString& tag : tags())
            width += metrics.horizontalAdvance(tag) + 8 + 4;
        setFixedSize(int(std::ceil(width)) + 4, int(std::ceil(metrics.height())) + 2);
        update();
    }

    ClipboardManager& m_manager;
};

} // namespace

// ---------------------------------------------------------------------------------------

StyleCard::StyleCard(const QString& title, const QString& symbol, const QString& description, QWidget* parent)
    : QAbstractButton(parent)
    , m_symbol(symbol)
    , m_icon(new QLabel)
    , m_check(new QLabel)
{
    setText(title);
    setAccessibleName(title);
    setAccessibleDescription(description);
    setFocusPolicy(Qt::StrongFocus);
    setCursor(Qt::PointingHandCursor);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    auto* header = new QHBoxLayout;
    header->addWidget(m_icon);
    header->addStretch(1);
    header->addWidget(m_check);
    auto* titleLabel = SettingsStyle::label(title, 14, true);
    auto* descriptionLabel = SettingsStyle::label(description, 11, false, true);
    descriptionLabel->setWordWrap(true);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(12, 12, 12, 12);
    layout->setSpacing(6);
    layout->addLayout(header);
    layout->addWidget(titleLabel);
    layout->addWidget(descriptionLabel);
    for (QWidget* child : findChildren<QWidget*>())
        child->setAttribute(Qt::WA_TransparentForMouseEvents);
    updateLook();
}

void StyleCard::setActive(bool active)
{
    if (active == m_active)
        return;
    m_active = active;
    updateLook();
}

void StyleCard::updateLook()
{
    const QColor accent = palette().color(QPalette::Highlight);
    const QColor secondary = palette().color(QPalette::PlaceholderText);
    const QColor tint = m_active ? accent : secondary;
    m_icon->setPixmap(SettingsStyle::tinted(Symbols::icon(m_symbol), tint, tint, cardSymbolSize).pixmap(cardSymbolSize, cardSymbolSize));
    m_check->setPixmap(SettingsStyle::tinted(Symbols::icon(QStringLiteral("checkmark.circle.fill")), accent, accent, 14)
                           .pixmap(14, 14));
    m_check->setVisible(m_active);
    update();
}

void StyleCard::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::PaletteChange)
        updateLook();
    QAbstractButton::changeEvent(event);
}

void StyleCard::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QColor accent = palette().color(QPalette::Highlight);
    const QColor secondary = palette().color(QPalette::PlaceholderText);
    const qreal line = m_active ? 2 : 1;
    const QRectF shape = QRectF(rect()).adjusted(line / 2, line / 2, -line / 2, -line / 2);
    painter.setBrush(m_active ? SettingsStyle::withAlpha(accent, 0.08) : SettingsStyle::withAlpha(secondary, 0.06));
    painter.setPen(QPen(m_active ? accent : SettingsStyle::withAlpha(secondary, hasFocus() ? 0.6 : 0.25), line));
    painter.drawRoundedRect(shape, 10, 10);
}

// ---------------------------------------------------------------------------------------

AppearancePage::AppearancePage(ClipboardManager& manager, QWidget* parent)
    : QScrollArea(parent)
    , m_manager(manager)
{
    SettingsStyle::setUpPage(this);
    auto* content = new QWidget;
    auto* layout = new QVBoxLayout(content);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(displaySection());
    layout->addWidget(fontStylesSection());
    layout->addStretch(1);
    setWidget(content);

    connect(&manager, &ClipboardManager::settingChanged, this, [this](Setting setting) {
        updateCards();
        if (setting == Setting::showFileThumbnails)
            m_fileThumbnailSize->setVisible(m_manager.showFileThumbnails());
    });
    updateCards();
    m_fileThumbnailSize->setVisible(manager.showFileThumbnails());
}

StyleCard* AppearancePage::card(AppearanceStyle style) const
{
    for (const auto& [s, card] : m_cards) {
        if (s == style)
            return card;
    }
    return nullptr;
}

SettingRow* AppearancePage::row(const QString& title) const { return findSettingRow(widget(), title); }

QWidget* AppearancePage::styleBlock()
{
    auto* block = new QWidget;
    auto* layout = new QVBoxLayout(block);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(8);
    layout->addWidget(SettingsStyle::label(QStringLiteral("Style"), 16, true));
    auto* explanation =
        SettingsStyle::label(QStringLiteral("Apply a preset look. This changes only the appearance settings on this page."),
                             12, false, true);
    explanation->setWordWrap(true);
    layout->addWidget(explanation);
    auto* cards = new QHBoxLayout;
    cards->setSpacing(12);
    for (const AppearanceTables::StyleCard& spec : AppearanceTables::styleCards()) {
        auto* card = new StyleCard(spec.title, spec.symbol, spec.description);
        connect(card, &StyleCard::clicked, this, [this, style = spec.style] {
            m_manager.applyAppearanceStyle(style);
            updateCards();
        });
        m_cards.append({spec.style, card});
        cards->addWidget(card, 1, Qt::AlignTop);
    }
    layout->addLayout(cards);
    return block;
}

void AppearancePage::updateCards()
{
    for (const auto& [style, card] : std::as_const(m_cards))
        card->setActive(m_manager.isAppearanceStyleActive(style));
}

QWidget* AppearancePage::displaySection()
{
    auto* section = new QWidget;
    QVBoxLayout* layout = sectionLayout(section);
    layout->addWidget(styleBlock());
    layout->addWidget(SettingsStyle::divider());
    layout->addWidget(SettingsStyle::label(QStringLiteral("Display"), 16, true));
    for (const AppearanceTables::DisplayRow& row : AppearanceTables::displayRows()) {
        if (row.dividerBefore)
            layout->addWidget(SettingsStyle::divider());
        if (row.toggle) {
            layout->addWidget(new SettingSwitchRow(m_manager, *row.toggle));
            continue;
        }
        auto* picker = new SettingPickerRow(m_manager, *row.picker);
        if (row.picker->setting == Setting::imageFileThumbnailSize)
            m_fileThumbnailSize = picker;
        layout->addWidget(picker);
    }
    return section;
}

QWidget* AppearancePage::fontStylesSection()
{
    auto* section = new QWidget;
    QVBoxLayout* layout = sectionLayout(section);
    layout->addWidget(SettingsStyle::label(QStringLiteral("Font Styles"), 16, true));
    for (const SliderSpec& spec : AppearanceTables::fontSliders()) {
        if (spec.setting != Setting::itemLineSpacing && spec.setting != Setting::itemFontSize)
            layout->addWidget(SettingsStyle::divider());
        layout->addWidget(new SettingSliderRow(m_manager, spec));
        switch (spec.setting) {
        case Setting::itemLineSpacing:
            layout->addWidget(new TextSample(m_manager, QStringLiteral("The quick brown fox\njumps over the lazy dog"),
                                             Setting::itemFontSize, Setting::itemLineSpacing, {}));
            break;
        case Setting::metadataFontSize:
            // The tertiary style: the secondary colour a little fainter.
            layout->addWidget(new TextSample(m_manager,
                                             QStringLiteral("22 hours ago \u00B7 Copied: 14:32:18 6/5/26 \u00B7 1920x1080"),
                                             Setting::metadataFontSize, std::nullopt, {}, 0.7));
            break;
        case Setting::tagsFontSize: layout->addWidget(new TagSample(m_manager)); break;
        case Setting::commentFontSize:
            layout->addWidget(new TextSample(m_manager, QStringLiteral("This is a sample comment"), Setting::commentFontSize,
                                             std::nullopt, QColor(169, 169, 169)));
            break;
        default: break;
        }
    }
    layout->addWidget(SettingsStyle::divider());
    auto* bar = new QHBoxLayout;
    bar->addStretch(1);
    auto* restore = new QPushButton(QStringLiteral("Restore Defaults"));
    restore->setFlat(true);
    restore->setCursor(Qt::PointingHandCursor);
    QPalette blue = restore->palette();
    blue.setColor(QPalette::ButtonText, QColor(0x1E, 0x7C, 0xF2));
    restore->setPalette(blue);
    connect(restore, &QPushButton::clicked, this, &AppearancePage::restoreDefaults);
    bar->addWidget(restore);
    layout->addLayout(bar);
    return section;
}

void AppearancePage::restoreDefaults()
{
    // Every one is set each time, changed or not.
    for (const auto& [setting, value] : AppearanceTables::restoredFontStyles())
        std::ignore = m_manager.setSetting(setting, SettingValue(value));
}

} // namespace lumra
