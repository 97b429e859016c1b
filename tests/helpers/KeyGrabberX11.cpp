// Another program holding Ctrl+Alt+V on the root window, as a Lumra killed a moment ago does until
// the X server has closed its connection. Prints GRABBED once the server accepted the grab, then
// sits until it is killed.
#include <X11/Xlib.h>
#include <X11/keysym.h>

#include <unistd.h>

#include <cstdio>

int main()
{
    Display* display = XOpenDisplay(nullptr);
    if (!display)
        return 1;
    XGrabKey(display, XKeysymToKeycode(display, XK_v), ControlMask | Mod1Mask, DefaultRootWindow(display), True,
             GrabModeAsync, GrabModeAsync);
    XSync(display, False);
    std::printf("GRABBED\n");
    std::fflush(stdout);
    for (;;)
        pause();
}
