#include "platform/keys/PasteKeys.h"

#include <QSet>

namespace lumra {

namespace {

// Terminals whose default key for pasting the clipboard is Ctrl+Shift+V, by WM_CLASS and app id.
const QSet<QString>& controlShiftTerminals()
{
    static const QSet<QString> names {
        QStringLiteral("alacritty"),      QStringLiteral("kitty"),           QStringLiteral("foot"),
        QStringLiteral("footclient"),     QStringLiteral("gnome-terminal"),  QStringLiteral("gnome-terminal-server"),
        QStringLiteral("org.gnome.terminal"), QStringLiteral("org.gnome.console"), QStringLiteral("kgx"),
        QStringLiteral("ptyxis"),         QStringLiteral("konsole"),         QStringLiteral("yakuake"),
        QStringLiteral("xfce4-terminal"), QStringLiteral("mate-terminal"),   QStringLiteral("lxterminal"),
        QStringLiteral("qterminal"),      QStringLiteral("terminator"),      QStringLiteral("tilix"),
        QStringLiteral("terminology"),    QStringLiteral("wezterm"),         QStringLiteral("wezterm-gui"),
        QStringLiteral("st"),             QStringLiteral("st-256color"),     QStringLiteral("sakura"),
        QStringLiteral("guake"),          QStringLiteral("tilda"),           QStringLiteral("ghostty"),
        QStringLiteral("blackbox"),       QStringLiteral("contour"),         QStringLiteral("deepin-terminal"),
        QStringLiteral("cool-retro-term"), QStringLiteral("io.elementary.terminal"),
    };
    return names;
}

// xterm pastes only its selection (PRIMARY) by key unless its user bound one: Shift+Insert would
// paste whatever was last selected, perhaps a command line that then runs, and Ctrl+V types ^V.
// Sending nothing and saying so is the only safe choice.
const QSet<QString>& selectionOnlyTerminals()
{
    static const QSet<QString> names {QStringLiteral("xterm"), QStringLiteral("uxterm")};
    return names;
}

} // namespace

PasteChord pasteChordFor(const QStringList& windowNames)
{
    for (QString name : windowNames) {
        name = name.trimmed().toLower();
        if (name.endsWith(QLatin1String(".desktop")))
            name.chop(8);
        // "org.kde.konsole" is known by its last part; "org.gnome.Terminal" only as a whole.
        const QString last = name.section(QLatin1Char('.'), -1);
        for (const QString& candidate : {name, last}) {
            if (controlShiftTerminals().contains(candidate))
                return PasteChord::controlShiftV;
            if (selectionOnlyTerminals().contains(candidate))
                return PasteChord::none;
        }
    }
    return PasteChord::controlV;
}

QString pasteChordName(PasteChord chord)
{
    switch (chord) {
    case PasteChord::controlV:
        return QStringLiteral("Ctrl+V");
    case PasteChord::controlShiftV:
        return QStringLiteral("Ctrl+Shift+V");
    case PasteChord::none:
        break;
    }
    return QString();
}

QString noPasteKeyMessage(const QString& application)
{
    return QStringLiteral("Lumra did not paste into %1: it has no key that pastes the clipboard. "
                          "The item is on the clipboard.")
        .arg(application);
}

} // namespace lumra
