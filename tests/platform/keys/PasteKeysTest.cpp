#include "platform/keys/PasteKeys.h"

#include <gtest/gtest.h>

using namespace lumra;

TEST(PasteKeys, TerminalsGetTheirOwnPasteKeyByClassOrAppId)
{
    struct Case {
        QStringList names;
        PasteChord chord;
    };
    const Case cases[] = {
        // X11: WM_CLASS instance and class.
        {{"foot", "foot"}, PasteChord::controlShiftV},
        {{"Alacritty", "Alacritty"}, PasteChord::controlShiftV},
        {{"kitty", "kitty"}, PasteChord::controlShiftV},
        {{"gnome-terminal-server", "Gnome-terminal"}, PasteChord::controlShiftV},
        {{"konsole", "konsole"}, PasteChord::controlShiftV},
        {{"xfce4-terminal", "Xfce4-terminal"}, PasteChord::controlShiftV},
        {{"st-256color", "St"}, PasteChord::controlShiftV},
        {{"xterm", "XTerm"}, PasteChord::none},
        {{"xterm", "UXTerm"}, PasteChord::none},
        {{"firefox", "firefox"}, PasteChord::controlV},
        {{"gedit", "Gedit"}, PasteChord::controlV},
        // Wayland: app ids, plain or reverse-DNS, as desktop files name them too.
        {{"org.kde.konsole"}, PasteChord::controlShiftV},
        {{"org.gnome.Terminal"}, PasteChord::controlShiftV},
        {{"org.gnome.Console"}, PasteChord::controlShiftV},
        {{"com.mitchellh.ghostty"}, PasteChord::controlShiftV},
        {{"org.wezfurlong.wezterm.desktop"}, PasteChord::controlShiftV},
        {{"org.codeberg.dnkl.foot"}, PasteChord::controlShiftV},
        {{"org.gnome.TextEditor"}, PasteChord::controlV},
        {{"io.elementary.code"}, PasteChord::controlV},
        // "Terminal" alone names no one terminal; neither does nothing at all.
        {{"org.example.Terminal"}, PasteChord::controlV},
        {{}, PasteChord::controlV},
        {{"", ""}, PasteChord::controlV},
    };
    for (const Case& c : cases)
        EXPECT_EQ(pasteChordFor(c.names), c.chord) << c.names.join(u',').toStdString();
}
