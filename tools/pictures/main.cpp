// Draws the walkthrough's pictures from Lumra's own windows: a fixed sample history, each tip's
// window in the state it explains, with a short caption, once in a light and once in a dark
// palette. `make pictures` runs it; the results are committed and compiled in.
#include "ui/shell/HotKeyManager.h"
#include "ui/shell/PopupPanel.h"
#include "ui/shell/PopupRoads.h"
#include "engine/ClipboardManager.h"
#include "platform/cloud/CloudKeyValueStore.h"
#include "platform/core/Clock.h"
#include "platform/defaults/UserDefaults.h"
#include "platform/keys/FakeGlobalHotKeys.h"
#include "platform/keys/RecordingKeyInjector.h"
#include "platform/login/LoginItem.h"
#include "platform/pasteboard/FakePasteboard.h"
#include "ui/Palettes.h"
#include "ui/onboarding/OnboardingPictures.h"
#include "ui/popup/ContentView.h"
#include "ui/popup/HistoryListView.h"
#include "ui/preview/PreviewContent.h"
#include "ui/preview/UnifiedPreviewWindow.h"
#include "ui/settings/SettingsWindow.h"

#include <QApplication>
#include <QDir>
#include <QLineEdit>
#include <QPainter>
#include <QPainterPath>
#include <QStyle>
#include <QTemporaryDir>

#include <cstdio>
#include <cstdlib>
#include <functional>

using namespace lumra;

namespace {

constexpr QSize tipSize(960, 600);

QPalette paletteFor(bool dark)
{
    QPalette p = dark ? Palettes::dark() : QApplication::style()->standardPalette();
    if (!dark)
        p.setColor(QPalette::Highlight, QColor(0x2f, 0x7d, 0xf6));
    return p;
}

void settle()
{
    for (int i = 0; i < 5; ++i) {
        QCoreApplication::sendPostedEvents();
        QCoreApplication::processEvents();
    }
}

// A window's picture with rounded corners, as a desktop shows it.
QImage windowShot(QWidget& window)
{
    settle();
    const QPixmap grabbed = window.grab();
    QImage rounded(grabbed.size(), QImage::Format_ARGB32_Premultiplied);
    rounded.setDevicePixelRatio(grabbed.devicePixelRatio());
    rounded.fill(Qt::transparent);
    QPainter painter(&rounded);
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath shape;
    shape.addRoundedRect(QRectF(QPointF(0, 0), grabbed.deviceIndependentSize()), 10, 10);
    painter.setClipPath(shape);
    painter.drawPixmap(0, 0, grabbed);
    return rounded;
}

void drawWindow(QPainter& painter, const QImage& shot, const QRectF& target, const QPalette& palette)
{
    for (int i = 1; i <= 10; ++i) {
        QPainterPath ring;
        ring.addRoundedRect(target.translated(0, 6).adjusted(-i, -i, i, i), 10 + i, 10 + i);
        painter.fillPath(ring, QColor(0, 0, 0, 40 / (i + 1)));
    }
    painter.drawImage(target, shot);
    painter.setPen(QPen(palette.color(QPalette::Mid), 1));
    painter.setBrush(Qt::NoBrush);
    painter.drawRoundedRect(target.adjusted(0.5, 0.5, -0.5, -0.5), 10, 10);
}

// The windows scaled into the space under the caption, side by side.
QImage tipPicture(const QString& title, const QString& caption, const QList<QImage>& shots, const QPalette& palette)
{
    // At the windows' own density: twice the pixels for the pictures of dense screens.
    const qreal scale = shots.isEmpty() ? 1.0 : shots.first().devicePixelRatio();
    QImage canvas(tipSize * scale, QImage::Format_ARGB32_Premultiplied);
    canvas.setDevicePixelRatio(scale);
    QPainter painter(&canvas);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    const QColor window = palette.color(QPalette::Window);
    const QColor accent = palette.color(QPalette::Highlight);
    const bool dark = window.lightness() < 128;
    QLinearGradient backdrop(0, 0, tipSize.width(), tipSize.height());
    backdrop.setColorAt(0, dark ? window.darker(130) : window.lighter(104));
    QColor tint = accent;
    tint.setAlphaF(1.0);
    backdrop.setColorAt(1, dark ? QColor::fromHsl(tint.hslHue(), 60, 40) : QColor::fromHsl(tint.hslHue(), 140, 225));
    painter.fillRect(canvas.rect(), backdrop);

    QFont titleFont = QApplication::font();
    titleFont.setPixelSize(30);
    titleFont.setWeight(QFont::Bold);
    painter.setFont(titleFont);
    painter.setPen(palette.color(QPalette::WindowText));
    painter.drawText(QRect(40, 30, tipSize.width() - 80, 40), Qt::AlignCenter, title);
    QFont captionFont = QApplication::font();
    captionFont.setPixelSize(17);
    painter.setFont(captionFont);
    painter.setPen(palette.color(QPalette::PlaceholderText).lighter(dark ? 125 : 80));
    painter.drawText(QRect(80, 76, tipSize.width() - 160, 50), Qt::AlignHCenter | Qt::AlignTop | Qt::TextWordWrap, caption);

    const QRectF area(40, 140, tipSize.width() - 80, tipSize.height() - 140 - 30);
    const qreal gap = 28;
    qreal totalWidth = -gap;
    qreal maxHeight = 0;
    for (const QImage& shot : shots) {
        totalWidth += shot.deviceIndependentSize().width() + gap;
        maxHeight = std::max(maxHeight, shot.deviceIndependentSize().height());
    }
    const qreal fit = std::min({1.0, area.width() / totalWidth, area.height() / maxHeight});
    qreal x = area.center().x() - totalWidth * fit / 2;
    for (const QImage& shot : shots) {
        const QSizeF size = shot.deviceIndependentSize() * fit;
        drawWindow(painter, shot, QRectF(QPointF(x, area.top()), size), palette);
        x += size.width() + gap * fit;
    }
    return canvas;
}

struct Sample {
    explicit Sample(const QString& folder)
    {
        clock = std::make_unique<ManualClock>(QDateTime(QDate(2026, 3, 12), QTime(10, 30), Qt::UTC));
        Clock::setShared(clock.get());
        defaults = std::make_unique<UserDefaults>(folder + QStringLiteral("/settings.json"), clock.get());
        ClipboardManager::registerDefaultSettings(*defaults);
        ClipboardManagerServices services;
        services.defaults = defaults.get();
        services.cloudKeyValueStore = &kv;
        services.clock = clock.get();
        services.storeFolder = folder + QStringLiteral("/store");
        services.pasteboard = &pasteboard;
        services.keyInjector = &injector;
        manager = std::make_unique<ClipboardManager>(services);
        hotKeys = std::make_unique<HotKeyManager>(keys, *defaults, *clock);
        std::ignore = hotKeys->setupHotKeyManager(manager.get());
        work = ClipboardCategory {QUuid::fromString(QStringLiteral("{6a7c0d1e-0000-4000-8000-000000000001})")),
                                  QStringLiteral("Work"), QStringLiteral("briefcase"), false, 0};
        std::ignore = manager->addCategory(work);
        std::ignore = manager->addCategory({QUuid::fromString(QStringLiteral("{6a7c0d1e-0000-4000-8000-000000000002}")),
                                            QStringLiteral("Snippets"), QStringLiteral("curlybraces"), false, 1});
        fill();
    }
    ~Sample() { Clock::setShared(nullptr); }

    ClipboardItem item(const QString& text, int minutesAgo, const QString& app, const QString& appName)
    {
        ClipboardItem item;
        item.id = QUuid::fromString(QStringLiteral("{00000000-0000-4000-8000-%1}").arg(++counter, 12, 10, QLatin1Char('0')));
        item.textContent = text;
        item.dateAdded = clock->now().addSecs(-60 * minutesAgo);
        item.firstCopiedDate = item.dateAdded;
        item.sourceAppBundleId = app;
        item.sourceAppName = appName;
        return item;
    }

    void fill()
    {
        const QString firefox = QStringLiteral("org.mozilla.firefox"), terminal = QStringLiteral("org.gnome.Terminal"),
                      editor = QStringLiteral("org.gnome.TextEditor"), mail = QStringLiteral("org.gnome.Evolution");
        QList<ClipboardItem> items;
        ClipboardItem pinned = item(QStringLiteral("Meeting notes: launch review on Thursday at 14:00"), 300, editor, "Text Editor");
        pinned.isPinnedToTop = true;
        items << pinned;
        items << item(QStringLiteral("https://lumra.example.org/docs/getting-started"), 2, firefox, "Firefox");
        ClipboardItem invoice = item(QStringLiteral("Invoice #2026-031 — 1,240.00 EUR due 31 March"), 6, mail, "Evolution");
        invoice.isPinned = true;
        invoice.tags = {QStringLiteral("finance"), QStringLiteral("march")};
        invoice.comment = QStringLiteral("Forward to accounting");
        invoice.categoryId = work.id;
        items << invoice;
        items << item(QStringLiteral("git log --oneline --graph --decorate"), 11, terminal, "Terminal");
        ClipboardItem email = item(QStringLiteral("hello@lumra.example.org"), 18, mail, "Evolution");
        email.shortcut = ItemShortcut {18, ItemShortcut::commandFlag | ItemShortcut::optionFlag};
        items << email;
        items << item(QStringLiteral("#3D8BFD"), 25, editor, "Text Editor");
        ClipboardItem address = item(QStringLiteral("Lindenstraße 12, 10969 Berlin"), 42, firefox, "Firefox");
        address.isPinned = true;
        address.tags = {QStringLiteral("home")};
        items << address;
        ClipboardItem snippet = item(QStringLiteral("for (const auto& item : items)\n    std::cout << item << '\\n';"), 65,
                                     editor, "Text Editor");
        snippet.categoryId = work.id;
        snippet.comment = QStringLiteral("Loop from the review");
        items << snippet;
        items << item(QStringLiteral("Thanks for the quick reply! I'll send the slides tonight."), 90, mail, "Evolution");
        items << item(QStringLiteral("sudo apt install lumra"), 130, terminal, "Terminal");
        ClipboardItem invoiceOld = item(QStringLiteral("Invoice #2026-017 — 860.00 EUR paid"), 60 * 26, mail, "Evolution");
        invoiceOld.categoryId = work.id;
        items << invoiceOld;
        items << item(QStringLiteral("rgb(255, 149, 0)"), 60 * 30, editor, "Text Editor");
        items << item(QStringLiteral("https://example.org/weekly-report.pdf"), 60 * 50, firefox, "Firefox");
        manager->setClipboardItems(items);
    }

    FakeGlobalHotKeys keys;
    FakePasteboard pasteboard;
    RecordingKeyInjector injector;
    InMemoryCloudKeyValueStore kv;
    std::unique_ptr<ManualClock> clock;
    std::unique_ptr<UserDefaults> defaults;
    std::unique_ptr<ClipboardManager> manager;
    std::unique_ptr<HotKeyManager> hotKeys;
    ClipboardCategory work;
    int counter = 0;
};

// The popup as it opens, then set up by `arrange`.
QImage popupShot(Sample& sample, const std::function<void(ContentView&)>& arrange = {})
{
    PopupPanel* panel = PopupRoads::makePanel(*sample.manager, sample.hotKeys.get(), std::nullopt, {});
    panel->present(QPoint(0, 0));
    settle();
    sample.clock->advance(ContentView::focusDelay);
    auto* view = panel->findChild<ContentView*>();
    if (view && arrange)
        arrange(*view);
    // Past the search debounce.
    settle();
    sample.clock->advance(std::chrono::milliseconds(500));
    settle();
    const QImage shot = windowShot(*panel);
    panel->setPreventClose(false);
    panel->close();
    delete panel;
    sample.manager->setSearchText(QString());
    sample.manager->setTypeFilterOption(std::nullopt);
    sample.manager->setDateFilterOption(std::nullopt);
    sample.manager->setSelectedCategoryId(std::nullopt);
    sample.manager->setShowStarredOnly(false);
    settle();
    return shot;
}

void type(ContentView& view, const QString& text)
{
    if (auto* field = view.searchAreaHost()->findChild<QLineEdit*>()) {
        field->setFocus();
        field->setText(text);
        emit field->textEdited(text);
    }
}

QImage previewShot(Sample& sample)
{
    const ClipboardItem* snippet = nullptr;
    for (const ClipboardItem& item : sample.manager->clipboardItems()) {
        if (item.textContent && item.textContent->startsWith(QStringLiteral("for (")))
            snippet = &item;
    }
    PreviewBuild build = makePreviewBridge(*snippet, *sample.manager);
    UnifiedPreviewWindow window(*build.bridge, snippet->comment, *sample.defaults);
    window.resize(420, 300);
    window.show();
    settle();
    return windowShot(window);
}

// The settings window at `tab`; nothing while that page is not built yet.
QList<QImage> settingsShot(Sample& sample, SettingsTab tab)
{
    InMemoryLoginItem login;
    SettingsServices services;
    services.loginItem = &login;
    SettingsWindow window(*sample.manager, *sample.hotKeys, services);
    window.present(tab);
    settle();
    if (window.page(tab)->objectName() == QLatin1String("placeholder"))
        return {};
    return {windowShot(window)};
}

bool save(const QImage& image, const QString& path)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    const bool saved = image.convertToFormat(QImage::Format_RGB32).save(path, "PNG", 9);
    std::fprintf(saved ? stdout : stderr, "%s %s\n", saved ? "wrote" : "could not write", qPrintable(path));
    return saved;
}

} // namespace

int main(int argc, char** argv)
{
    // The scale (1 or 2) is the screen's density the windows are drawn for.
    const int scale = argc == 3 ? std::atoi(argv[2]) : 1;
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("QT_SCALE_FACTOR", QByteArray::number(scale));
    QApplication app(argc, argv);
    if ((argc != 2 && argc != 3) || (scale != 1 && scale != 2)) {
        std::fprintf(stderr, "usage: %s OUTPUT_FOLDER [1|2]\n", argv[0]);
        return 2;
    }
    const QString out = QString::fromLocal8Bit(argv[1]);
    QTemporaryDir scratch;
    for (const char* var : {"XDG_DATA_HOME", "XDG_CONFIG_HOME", "XDG_CACHE_HOME", "XDG_RUNTIME_DIR"})
        qputenv(var, QFile::encodeName(scratch.path() + QLatin1Char('/') + QLatin1String(var)));

    bool ok = true;
    for (bool dark : {false, true}) {
        const QPalette palette = paletteFor(dark);
        QApplication::setPalette(palette);
        Sample sample(scratch.path() + (dark ? QStringLiteral("/dark") : QStringLiteral("/light")));
        // The resource path without its prefix, under the output folder.
        auto outPath = [&](const QString& name) {
            return out + QLatin1Char('/') + OnboardingPictures::path(name, dark, scale).mid(QStringLiteral(":/onboarding/").size());
        };
        auto tipPath = [&](int index) { return outPath(OnboardingPictures::overviewName(index)); };
        auto stylePath = [&](AppearanceStyle style) { return outPath(OnboardingPictures::stylePreviewName(style)); };

        for (AppearanceStyle style : {AppearanceStyle::standard, AppearanceStyle::minimal}) {
            sample.manager->applyAppearanceStyle(style);
            ok &= save(popupShot(sample), stylePath(style));
        }
        sample.manager->applyAppearanceStyle(AppearanceStyle::standard);
        std::ignore = sample.manager->setQuickPasteModifier(QStringLiteral("command"));

        struct Tip {
            QString title;
            QString caption;
            std::function<QList<QImage>()> shots;
        };
        const QList<Tip> tips {
            {QStringLiteral("Open it from anywhere"),
             QStringLiteral("Press Ctrl+Alt+V in any application, then type to search everything you copied."),
             [&] { return QList<QImage> {popupShot(sample, [](ContentView& v) { type(v, QStringLiteral("invoice")); })}; }},
            {QStringLiteral("Slash commands"),
             QStringLiteral("Type /star, /link, /date, /app and more in the search field to filter as you type."),
             [&] { return QList<QImage> {popupShot(sample, [](ContentView& v) { type(v, QStringLiteral("/star")); })}; }},
            {QStringLiteral("Filters and badges"),
             QStringLiteral("Filters you choose show as badges under the search field; click one to change or clear it."),
             [&] {
                 return QList<QImage> {popupShot(sample, [&](ContentView&) {
                     sample.manager->setTypeFilterOption(TypeFilterOption::links);
                     sample.manager->setDateFilterOption(DateFilterOption::last7Days);
                 })};
             }},
            {QStringLiteral("Stars and pins"),
             QStringLiteral("Star what you want to keep for good, and pin items to the top of the list."),
             [&] { return QList<QImage> {popupShot(sample)}; }},
            {QStringLiteral("Categories"),
             QStringLiteral("Sort items into categories and switch between them from the popup's footer."),
             [&] {
                 return QList<QImage> {popupShot(sample, [&](ContentView&) { sample.manager->setSelectedCategoryId(sample.work.id); })};
             }},
            {QStringLiteral("Tags and comments"),
             QStringLiteral("Give any item tags and a comment; search finds them too."),
             [&] { return QList<QImage> {popupShot(sample, [](ContentView& v) { type(v, QStringLiteral("finance")); })}; }},
            {QStringLiteral("Preview with Space"),
             QStringLiteral("Select an item and press Space to see all of it: text, images, files and PDFs."),
             [&] {
                 return QList<QImage> {popupShot(sample, [](ContentView& v) { type(v, QStringLiteral("loop")); }), previewShot(sample)};
             }},
            {QStringLiteral("Quick paste and item shortcuts"),
             QStringLiteral("Paste the first nine items with Ctrl and a digit, or give an item its own global shortcut."),
             [&] { return QList<QImage> {popupShot(sample)} + settingsShot(sample, SettingsTab::shortcuts); }},
            {QStringLiteral("Drag items out"),
             QStringLiteral("Drag one item or a whole selection straight into another application or the file manager."),
             [&] {
                 return QList<QImage> {popupShot(sample, [](ContentView& v) {
                     v.moveSelection(MoveDirection::down);
                     v.moveSelection(MoveDirection::down);
                 })};
             }},
            {QStringLiteral("Sync and privacy"),
             QStringLiteral("Sync your history through a folder between your computers, and keep password managers out of it."),
             [&] { return settingsShot(sample, SettingsTab::iCloud) + settingsShot(sample, SettingsTab::privacy); }},
        };
        for (int i = 0; i < tips.size(); ++i)
            ok &= save(tipPicture(tips[i].title, tips[i].caption, tips[i].shots(), palette), tipPath(i));
    }
    return ok ? 0 : 1;
}
