// A program that presents itself as a terminal by its WM_CLASS (instance and class from the
// arguments), takes the keyboard focus and prints each key it receives as KEY <keysym> with the
// modifiers held (+ctrl, +shift, +alt). It prints READY once it has the focus and exits after
// the first key that is not a modifier, or after 30 s.
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/keysym.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

namespace {

bool isModifier(KeySym keysym) { return IsModifierKey(keysym); }

} // namespace

int main(int argc, char** argv)
{
    if (argc < 3)
        return 2;
    Display* display = XOpenDisplay(nullptr);
    if (!display)
        return 2;
    const Window window = XCreateSimpleWindow(display, DefaultRootWindow(display), 0, 0, 200, 100, 0, 0, 0);
    XClassHint hint {argv[1], argv[2]};
    XSetClassHint(display, window, &hint);
    XSelectInput(display, window, KeyPressMask | StructureNotifyMask);
    XMapWindow(display, window);
    XEvent event;
    do
        XNextEvent(display, &event);
    while (event.type != MapNotify);

    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    for (;;) {
        XSetInputFocus(display, window, RevertToParent, CurrentTime);
        Window focus = 0;
        int revert = 0;
        XGetInputFocus(display, &focus, &revert);
        if (focus == window)
            break;
        if (std::chrono::steady_clock::now() > deadline)
            return 3;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    std::printf("READY\n");
    std::fflush(stdout);

    while (std::chrono::steady_clock::now() < deadline) {
        if (!XPending(display)) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
            continue;
        }
        XNextEvent(display, &event);
        if (event.type != KeyPress)
            continue;
        const KeySym keysym = XLookupKeysym(&event.xkey, 0);
        if (isModifier(keysym))
            continue;
        std::string line = std::string("KEY ") + (XKeysymToString(keysym) ? XKeysymToString(keysym) : "?");
        if (event.xkey.state & ControlMask)
            line += "+ctrl";
        if (event.xkey.state & ShiftMask)
            line += "+shift";
        if (event.xkey.state & Mod1Mask)
            line += "+alt";
        std::printf("%s\n", line.c_str());
        std::fflush(stdout);
        return 0;
    }
    return 0;
}
