// A program that asks the CLIPBOARD's owner for its text over and over and never reads an answer:
// it waits until the clipboard changes hands after it started, prints FLOODING once it has sent
// `count` requests (default 50,000) from 50 windows on 1,000 properties each, and then sits
// until it is killed. It prints READY first.
#include <X11/Xlib.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

namespace {

int ignoreErrors(Display*, XErrorEvent*) { return 0; }

} // namespace

int main(int argc, char** argv)
{
    const int count = argc > 1 ? std::atoi(argv[1]) : 50000;
    Display* display = XOpenDisplay(nullptr);
    if (!display)
        return 2;
    XSetErrorHandler(ignoreErrors);
    const Atom clipboard = XInternAtom(display, "CLIPBOARD", False);
    const Atom utf8 = XInternAtom(display, "UTF8_STRING", False);

    constexpr int windowCount = 50;
    constexpr int propertyCount = 1000;
    std::vector<Window> windows(windowCount);
    for (Window& window : windows)
        window = XCreateSimpleWindow(display, DefaultRootWindow(display), -10, -10, 1, 1, 0, 0, 0);
    std::vector<std::string> names(propertyCount);
    std::vector<char*> pointers(propertyCount);
    for (int i = 0; i < propertyCount; ++i) {
        names[i] = "LUMRA_UNREAD_" + std::to_string(i);
        pointers[i] = names[i].data();
    }
    std::vector<Atom> properties(propertyCount);
    XInternAtoms(display, pointers.data(), propertyCount, False, properties.data());

    const Window first = XGetSelectionOwner(display, clipboard);
    std::printf("READY\n");
    std::fflush(stdout);
    for (;;) {
        const Window owner = XGetSelectionOwner(display, clipboard);
        if (owner != None && owner != first)
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }

    for (int i = 0; i < count; ++i) {
        XConvertSelection(display, clipboard, utf8, properties[(i / windowCount) % propertyCount],
                          windows[i % windowCount], CurrentTime);
        if (i % 1000 == 999)
            XFlush(display);
    }
    XFlush(display);
    std::printf("FLOODING\n");
    std::fflush(stdout);
    for (;;)
        std::this_thread::sleep_for(std::chrono::seconds(60));
}
