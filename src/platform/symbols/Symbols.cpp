#include "platform/symbols/Symbols.h"

#include "platform/files/IconFiles.h"
#include "platform/symbols/DrawnSymbols.h"

#include <QGuiApplication>
#include <QHash>
#include <QPalette>
#include <QPainter>
#include <QPixmap>
#include <QStandardPaths>

namespace lumra::Symbols {

namespace {

// Symbol name -> freedesktop icon names. Each is tried as "<name>-symbolic" (monochrome, closest to
// the stored symbols' look) and then as "<name>" for themes without symbolic icons.
const QHash<QString, QStringList>& table()
{
    static const QHash<QString, QStringList> names = {
        // Tray icon choices.
        {"doc.on.clipboard.fill", {"edit-paste"}},
        {"doc.on.clipboard", {"edit-paste"}},
        {"clipboard.fill", {"edit-paste"}},
        {"clipboard", {"edit-paste"}},
        {"list.clipboard.fill", {"view-list-bullet", "edit-paste"}},
        {"list.clipboard", {"view-list-bullet", "edit-paste"}},
        {"scissors", {"edit-cut"}},
        {"doc.on.doc.fill", {"edit-copy"}},
        {"doc.on.doc", {"edit-copy"}},
        {"square.on.square", {"view-dual", "edit-copy"}},
        {"tray.fill", {"mail-inbox", "mail-unread"}},
        {"archivebox.fill", {"package-x-generic"}},
        // Category icons.
        {"folder.fill", {"folder"}},
        {"folder", {"folder"}},
        {"doc.viewfinder", {"folder-saved-search", "system-file-manager", "folder-open"}},
        {"doc.fill", {"text-x-generic", "x-office-document"}},
        {"doc", {"text-x-generic", "x-office-document"}},
        {"doc.text.fill", {"x-office-document", "text-x-generic"}},
        {"doc.text", {"x-office-document", "text-x-generic"}},
        {"bookmark.fill", {"user-bookmarks", "bookmark-new"}},
        {"tag.fill", {"tag", "bookmark-new"}},
        {"tag", {"tag", "bookmark-new"}},
        {"link", {"insert-link"}},
        {"paperclip", {"mail-attachment"}},
        {"globe", {"web-browser"}},
        {"lock.fill", {"changes-prevent", "system-lock-screen"}},
        {"pin.fill", {"view-pin"}},
        {"pin", {"view-pin"}},
        {"pin.slash", {"window-unpin", "view-unpin"}},
        {"flag.fill", {"emoji-flags"}},
        {"bell.fill", {"preferences-system-notifications", "alarm"}},
        {"envelope.fill", {"mail-unread", "mail-message-new"}},
        {"envelope", {"mail-unread", "mail-message-new"}},
        {"message.fill", {"chat-message-new"}},
        {"star.fill", {"starred"}},
        {"star", {"non-starred"}},
        {"star.slash", {"non-starred"}},
        {"star.slash.fill", {"non-starred"}},
        {"heart.fill", {"emote-love", "emblem-favorite"}},
        {"bolt.fill", {"thunderbolt", "emblem-important"}},
        {"flame.fill", {"emoji-activities"}},
        {"leaf.fill", {"emoji-nature"}},
        {"camera.fill", {"camera-photo"}},
        {"paintbrush.fill", {"applications-graphics"}},
        {"paintbrush", {"applications-graphics"}},
        {"wrench.fill", {"applications-engineering", "preferences-other"}},
        {"gear", {"emblem-system", "preferences-system"}},
        {"gearshape.fill", {"emblem-system", "preferences-system"}},
        {"cart.fill", {"emoji-objects"}},
        {"gift.fill", {"emoji-objects"}},
        {"lightbulb.fill", {"dialog-information"}},
        {"lightbulb", {"dialog-information"}},
        {"book.fill", {"accessories-dictionary"}},
        {"graduationcap.fill", {"applications-science"}},
        {"desktopcomputer", {"computer"}},
        {"house.fill", {"user-home", "go-home"}},
        {"car.fill", {"emoji-travel"}},
        {"airplane", {"airplane-mode", "emoji-travel"}},
        {"clock.fill", {"preferences-system-time", "alarm"}},
        {"person.fill", {"avatar-default", "system-users"}},
        {"music.note", {"emblem-music", "audio-x-generic"}},
        // Filters, menus and settings pages.
        {"photo", {"image-x-generic"}},
        {"photo.fill", {"image-x-generic"}},
        {"paintpalette", {"color-select"}},
        {"paintpalette.fill", {"color-select"}},
        {"apple.terminal", {"utilities-terminal"}},
        {"apple.terminal.fill", {"utilities-terminal"}},
        {"questionmark.bubble", {"help-browser", "help-contents"}},
        {"info.circle", {"help-about", "dialog-information"}},
        {"arrow.down.circle", {"software-update-available", "system-software-install"}},
        {"arrow.forward.circle", {"go-next"}},
        {"arrow.right.circle", {"go-next"}},
        {"stethoscope", {"utilities-system-monitor", "dialog-question"}},
        {"hand.raised", {"preferences-system-privacy", "security-high"}},
        {"keyboard", {"input-keyboard"}},
        {"slash.circle", {"utilities-terminal"}},
        {"icloud", {"emblem-synchronizing"}},
        {"checkmark.icloud", {"emblem-synchronizing"}},
        {"exclamationmark.icloud", {"dialog-warning"}},
        {"trash", {"user-trash"}},
        {"trash.slash", {"user-trash"}},
        {"externaldrive", {"drive-harddisk"}},
        {"eye", {"view-reveal"}},
        {"eye.slash", {"view-conceal"}},
        {"line.3.horizontal", {"open-menu", "format-justify-fill"}},
        {"xmark", {"window-close"}},
        {"xmark.circle.fill", {"edit-clear", "window-close"}},
        {"checkmark.circle.fill", {"emblem-ok", "emblem-default"}},
        {"plus", {"list-add"}},
        {"plus.circle", {"list-add"}},
        {"minus", {"list-remove"}},
        {"pencil", {"document-edit"}},
        {"pencil.line", {"document-edit"}},
        {"chevron.left", {"go-previous"}},
        {"chevron.right", {"go-next"}},
        {"arrow.uturn.backward", {"edit-undo"}},
        {"arrow.up.right", {"send-to"}},
        {"arrow.up.forward.app", {"window-new"}},
        {"arrow.up.arrow.down", {"view-sort-descending"}},
        {"text.bubble", {"insert-text"}},
        {"text.bubble.fill", {"insert-text"}},
        {"list.dash", {"view-list"}},
        {"list.bullet.rectangle", {"view-list-bullet"}},
        {"doc.zipper", {"package-x-generic"}},
        {"doc.badge.plus", {"document-new"}},
        {"arrow.2.squarepath", {"view-refresh"}},
        {"app.dashed", {"application-x-executable"}},
        {"app", {"application-x-executable"}},
        {"magnifyingglass", {"edit-find", "system-search"}},
        {"clock", {"preferences-system-time", "alarm"}},
        {"calendar", {"x-office-calendar", "view-calendar"}},
        {"7.square", {"view-calendar-week", "x-office-calendar"}},
        {"30.square", {"view-calendar-month", "x-office-calendar"}},
        {"hw.model", {"computer"}},
        {"menubar.arrow.up.rectangle", {"view-more-horizontal"}},
        {"sidebar.squares.right", {"sidebar-show-right"}},
        {"play.circle", {"media-playback-start"}},
        {"play.fill", {"media-playback-start"}},
        {"pause.fill", {"media-playback-pause"}},
        {"calendar.badge.clock", {"x-office-calendar"}},
        {"calendar.badge.plus", {"appointment-new", "x-office-calendar"}},
        {"sun.max", {"weather-clear", "display-brightness"}},
    };
    return names;
}

} // namespace

void prepareTheme()
{
    static const bool once = [] {
        if (QIcon::fallbackThemeName().isEmpty() || QIcon::fallbackThemeName() == QLatin1String("hicolor"))
            QIcon::setFallbackThemeName(QStringLiteral("Adwaita"));
        // Some platform plugins (offscreen, minimal) search no system icon folders at all.
        QStringList paths = QIcon::themeSearchPaths();
        const QStringList dataDirs =
            QStandardPaths::locateAll(QStandardPaths::GenericDataLocation, QStringLiteral("icons"),
                                      QStandardPaths::LocateDirectory);
        for (const QString& dir : dataDirs) {
            if (!paths.contains(dir))
                paths.append(dir);
        }
        QIcon::setThemeSearchPaths(paths);
        // Without a desktop theme Qt looks in no theme at all, not even the fallback.
        if (QIcon::themeName().isEmpty())
            QIcon::setThemeName(QIcon::fallbackThemeName());
        // Qt opens the theme's files with a blocking open() on the thread that asks for an icon;
        // the theme is checked before anyone does. A check that takes longer (a stalled mount)
        // goes on behind, and Lumra's drawn icons stand in until it is done.
        IconFiles::instance().checkTheme(IconThemeSearch::current(), std::chrono::seconds(2));
        return true;
    }();
    Q_UNUSED(once);
}

namespace {

QIcon drawnIcon()
{
    // A plain document outline; used only when no theme is installed at all.
    QPixmap pixmap(32, 32);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(QColor(0x5e, 0x5c, 0x64), 2.5));
    painter.drawRoundedRect(QRectF(7, 4, 18, 24), 3, 3);
    painter.drawLine(QPointF(11, 12), QPointF(21, 12));
    painter.drawLine(QPointF(11, 17), QPointF(21, 17));
    painter.drawLine(QPointF(11, 22), QPointF(18, 22));
    return QIcon(pixmap);
}

QIcon fromTheme(const QStringList& names)
{
    prepareTheme();
    for (const QString& name : names) {
        for (const QString& candidate : {name + QStringLiteral("-symbolic"), name}) {
            if (QIcon::hasThemeIcon(candidate))
                return QIcon::fromTheme(candidate);
        }
    }
    return {};
}

QIcon struckThrough(const QIcon& base)
{
    QIcon result;
    const QColor ink = QGuiApplication::palette().color(QPalette::WindowText);
    for (const int size : {16, 22, 24, 32, 48, 64}) {
        QPixmap pixmap = base.pixmap(size, size);
        pixmap.setDevicePixelRatio(1.0);
        QPainter painter(&pixmap);
        painter.setRenderHint(QPainter::Antialiasing);
        const QLineF stroke(size * 0.15, size * 0.15, size * 0.85, size * 0.85);
        // A clear gap on each side of the stroke keeps it readable over the symbol.
        painter.setCompositionMode(QPainter::CompositionMode_Clear);
        painter.setPen(QPen(Qt::transparent, std::max(2.0, size / 6.0), Qt::SolidLine, Qt::RoundCap));
        painter.drawLine(stroke);
        painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
        painter.setPen(QPen(ink, std::max(1.0, size / 14.0), Qt::SolidLine, Qt::RoundCap));
        painter.drawLine(stroke);
        painter.end();
        result.addPixmap(pixmap);
    }
    return result;
}

} // namespace

QStringList themeNames(const QString& symbolName) { return table().value(symbolName); }

bool isKnown(const QString& symbolName) { return table().contains(symbolName); }

QIcon genericIcon()
{
    const QIcon themed = fromTheme({QStringLiteral("image-missing"), QStringLiteral("text-x-generic")});
    return themed.isNull() ? drawnIcon() : themed;
}

QIcon icon(const QString& symbolName)
{
    if (const QIcon drawn = drawnSymbol(symbolName); !drawn.isNull())
        return drawn;
    // The "off" forms of these symbols look like their plain forms in the themes: strike those through.
    for (const char* plain : {"star", "trash"}) {
        if (symbolName == QLatin1String(plain) + QLatin1String(".slash"))
            return struckThrough(icon(QLatin1String(plain)));
    }
    const QIcon themed = fromTheme(themeNames(symbolName));
    if (!themed.isNull())
        return themed;
    // Themes without an "off" form of a symbol get its plain form struck through.
    if (symbolName == QLatin1String("pin.slash"))
        return struckThrough(icon(QStringLiteral("pin")));
    return genericIcon();
}

} // namespace lumra::Symbols
