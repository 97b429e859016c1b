// Draws the walkthrough's pictures from Lumra's own windows: a fixed sample history, each tip's
// window in the state it explains, with a short caption, once in a light and once in a dark
// palette. `make pictures` runs it; the results are committed and compiled in.
#include "ui/shell/HotKeyManager.h"
#include "ui/shell/PopupPanel.h"
#include "ui/shell/PopupRoads.h"
#include "engine/ClipboardManager.h"
#include "engine/HistoryFilter.h"
#include "platform/cloud/CloudKeyValueStore.h"
#include "platform/core/BackgroundWork.h"
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
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPainterPath>
#include <QScrollArea>
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

// A picture with rounded corners, as a desktop shows a window.
QImage rounded(const QPixmap& grabbed)
{
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

QImage windowShot(QWidget& window)
{
    settle();
    return rounded(window.grab());
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

// The windows scaled into the space under the tip's words (the walkthrough draws those itself, so
// they can name the user's own shortcut), side by side or one above the other, whichever shows
// them larger.
QImage tipPicture(const QList<QImage>& shots, const QPalette& palette)
{
    // At the windows' own density: twice the pixels for the pictures of dense screens.
    const qreal density = shots.isEmpty() ? 1.0 : shots.first().devicePixelRatio();
    QImage canvas(tipSize * density, QImage::Format_ARGB32_Premultiplied);
    canvas.setDevicePixelRatio(density);
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

    const QRectF area(40, 140, tipSize.width() - 80, tipSize.height() - 140 - 30);
    const qreal gap = 28;
    QSizeF row(-gap, 0), column(0, -gap);
    for (const QImage& shot : shots) {
        const QSizeF size = shot.deviceIndependentSize();
        row = QSizeF(row.width() + size.width() + gap, std::max(row.height(), size.height()));
        column = QSizeF(std::max(column.width(), size.width()), column.height() + size.height() + gap);
    }
    const auto fit = [&](QSizeF total) { return std::min({1.0, area.width() / total.width(), area.height() / total.height()}); };
    const bool stacked = shots.size() > 1 && fit(column) > fit(row);
    const QSizeF total = stacked ? column : row;
    const qreal scale = fit(total);
    QPointF at(area.center().x() - total.width() * scale / 2, area.center().y() - total.height() * scale / 2);
    for (const QImage& shot : shots) {
        const QSizeF size = shot.deviceIndependentSize() * scale;
        const QPointF origin = stacked ? QPointF(area.center().x() - size.width() / 2, at.y()) : at;
        drawWindow(painter, shot, QRectF(origin, size), palette);
        if (stacked)
            at.ry() += size.height() + gap * scale;
        else
            at.rx() += size.width() + gap * scale;
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
    sample.manager->filters().setSearchText(QString());
    sample.manager->filters().setTypeFilterOption(std::nullopt);
    sample.manager->filters().setDateFilterOption(std::nullopt);
    sample.manager->filters().setSelectedCategoryId(std::nullopt);
    sample.manager->filters().setShowStarredOnly(false);
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

// The part of the settings page at `tab` that a tip is about, at its real size: from the line
// titled `from` to the end of the row titled `to` (or `height` points when `to` is empty), as wide
// as the page, without the sidebar.
QList<QImage> settingsPart(Sample& sample, SettingsTab tab, const QString& from, const QString& to, int height = 0)
{
    InMemoryLoginItem login;
    SettingsServices services;
    services.loginItem = &login;
    SettingsWindow window(*sample.manager, *sample.hotKeys, services);
    window.present(tab);
    settle();
    QWidget* page = window.page(tab);
    if (page->objectName() == QLatin1String("placeholder"))
        return {};
    const auto labelled = [&](const QString& text) -> QWidget* {
        for (QLabel* label : page->findChildren<QLabel*>())
            if (label->text() == text && label->isVisibleTo(&window))
                return label;
        return nullptr;
    };
    QWidget* first = labelled(from);
    QWidget* last = to.isEmpty() ? first : labelled(to);
    if (!first || !last) {
        std::fprintf(stderr, "no line titled %s on the page\n", qPrintable(first ? to : from));
        return {};
    }
    // The row of `last`: the settings row around it, else its widest ancestor on the page that
    // does not hold `first` as well.
    QWidget* row = last;
    while (row && row != page && !row->inherits("lumra::SettingRow"))
        row = row->parentWidget();
    if (row && row != page)
        last = row;
    else
        while (last->parentWidget() && last->parentWidget() != page && !last->parentWidget()->isAncestorOf(first))
            last = last->parentWidget();
    const int top = first->mapTo(&window, QPoint(0, 0)).y() - 12;
    const int bottom = to.isEmpty() ? top + height : last->mapTo(&window, QPoint(0, last->height())).y() + 12;
    // Without the page's scroll bar.
    QWidget* shown = page;
    if (auto* scroll = qobject_cast<QScrollArea*>(page))
        shown = scroll->viewport();
    const QRect pageArea(shown->mapTo(&window, QPoint(0, 0)), shown->size());
    return {rounded(window.grab(QRect(pageArea.left(), top, pageArea.width(), bottom - top)))};
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
    lumra::BackgroundWork work;
    lumra::BackgroundWork::setCurrent(&work);
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

        const QList<std::function<QList<QImage>()>> tips {
            [&] { return QList<QImage> {popupShot(sample, [](ContentView& v) { type(v, QStringLiteral("invoice")); })}; },
            [&] { return QList<QImage> {popupShot(sample, [](ContentView& v) { type(v, QStringLiteral("/star")); })}; },
            [&] {
                return QList<QImage> {popupShot(sample, [&](ContentView&) {
                    sample.manager->filters().setTypeFilterOption(TypeFilterOption::links);
                    sample.manager->filters().setDateFilterOption(DateFilterOption::last7Days);
                })};
            },
            [&] { return QList<QImage> {popupShot(sample)}; },
            [&] { return QList<QImage> {popupShot(sample, [&](ContentView&) { sample.manager->filters().setSelectedCategoryId(sample.work.id); })}; },
            [&] { return QList<QImage> {popupShot(sample, [](ContentView& v) { type(v, QStringLiteral("finance")); })}; },
            [&] { return QList<QImage> {popupShot(sample, [](ContentView& v) { type(v, QStringLiteral("loop")); }), previewShot(sample)}; },
            // The quick-paste choice and the list of item shortcuts, large enough to read.
            [&] {
                return settingsPart(sample, SettingsTab::general, QStringLiteral("Quick Paste"), QStringLiteral("Quick Paste"))
                    + settingsPart(sample, SettingsTab::shortcuts, QStringLiteral("hello@lumra.example.org"), QString(), 64);
            },
            [&] {
                return QList<QImage> {popupShot(sample, [](ContentView& v) {
                    v.moveSelection(MoveDirection::down);
                    v.moveSelection(MoveDirection::down);
                })};
            },
            // The sync folder with its switch, and the list of ignored applications.
            [&] {
                return settingsPart(sample, SettingsTab::iCloud, QStringLiteral("Sync folder"), QStringLiteral("Sync"))
                    + settingsPart(sample, SettingsTab::privacy, QStringLiteral("Ignore Applications"), QString(), 150);
            },
        };
        for (int i = 0; i < tips.size(); ++i)
            ok &= save(tipPicture(tips[i](), palette), tipPath(i));
    }
    return ok ? 0 : 1;
}
