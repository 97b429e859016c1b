// A program that asks the CLIPBOARD's owner for its text in ways that cost the owner. It prints
// READY first. Modes (first argument):
//   <count> [now]  asks `count` times (default 50,000) from 50 windows on 1,000 properties each and
//                  never reads an answer; it waits until the clipboard changes hands after it started
//                  unless given `now`. Prints FLOODING once the server has all the requests, then sits
//                  until it is killed.
//   leave-midway   takes the start of an incremental answer and one piece, asks for the next and
//                  destroys its window at once, as a program that quits mid-paste; prints LEFT.
//   slow           reads the whole text, printing PIECE after each piece and waiting for a line on
//                  its input before asking for the next; prints DONE <bytes> <hash> at the end.
//   owner-window   asks with the owner's own window as requestor; prints ASKED, then sits.
//   owner-client   sends the owner a made-up request naming another id of the owner's X client
//                  (the server checks no window of a sent event); prints ASKED, then sits.
#include <X11/Xatom.h>
#include <X11/Xlib.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

namespace {

int ignoreErrors(Display*, XErrorEvent*) { return 0; }

[[noreturn]] void sitUntilKilled()
{
    for (;;)
        std::this_thread::sleep_for(std::chrono::seconds(60));
}

void say(const std::string& line)
{
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
}

void waitForEvent(Display* display, Window window, int type, XEvent* out, int state = -1)
{
    for (;;) {
        XNextEvent(display, out);
        if (out->type == type && out->xany.window == window && (state < 0 || out->xproperty.state == state))
            return;
    }
}

// Takes (and so deletes) `property` of `window`; the type it had goes to `type`.
std::string takeProperty(Display* display, Window window, Atom property, Atom* type)
{
    int format = 0;
    unsigned long items = 0, after = 0;
    unsigned char* bytes = nullptr;
    XGetWindowProperty(display, window, property, 0, 64L * 1024 * 1024, True, AnyPropertyType, type, &format,
                       &items, &after, &bytes);
    std::string data;
    if (bytes) {
        data.assign(reinterpret_cast<const char*>(bytes), items * (format == 32 ? sizeof(long) : format / 8));
        XFree(bytes);
    }
    return data;
}

int flood(Display* display, Atom clipboard, Atom utf8, int count, bool now)
{
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
    say("READY");
    while (!now) {
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
    XSync(display, False);
    say("FLOODING");
    sitUntilKilled();
}

int read(Display* display, Atom clipboard, Atom utf8, bool leaveMidway)
{
    const Atom incr = XInternAtom(display, "INCR", False);
    const Atom property = XInternAtom(display, "LUMRA_PASTED", False);
    const Window window = XCreateSimpleWindow(display, DefaultRootWindow(display), -10, -10, 1, 1, 0, 0, 0);
    XSelectInput(display, window, PropertyChangeMask);
    say("READY");
    XConvertSelection(display, clipboard, utf8, property, window, CurrentTime);
    XEvent event;
    waitForEvent(display, window, SelectionNotify, &event);
    if (event.xselection.property == None)
        return 3;
    Atom type = None;
    std::string data = takeProperty(display, window, property, &type);
    if (type == incr) {
        data.clear();
        for (int piece = 0;; ++piece) {
            waitForEvent(display, window, PropertyNotify, &event, PropertyNewValue);
            if (leaveMidway) {
                // Taking the piece asks for the next, which the owner then writes to a window
                // that is gone: with the server held, the owner cannot write it before.
                XGrabServer(display);
                takeProperty(display, window, property, &type);
                XDestroyWindow(display, window);
                XUngrabServer(display);
                XSync(display, False);
                say("LEFT");
                return 0;
            }
            say("PIECE " + std::to_string(piece));
            std::string line;
            std::getline(std::cin, line);
            const std::string chunk = takeProperty(display, window, property, &type);
            if (chunk.empty())
                break;
            data += chunk;
        }
    }
    std::uint64_t hash = 14695981039346656037ull; // FNV-1a
    for (unsigned char c : data)
        hash = (hash ^ c) * 1099511628211ull;
    say("DONE " + std::to_string(data.size()) + " " + std::to_string(hash));
    return 0;
}

int askWithOwnersWindow(Display* display, Atom clipboard, Atom utf8)
{
    say("READY");
    const Window owner = XGetSelectionOwner(display, clipboard);
    XConvertSelection(display, clipboard, utf8, XInternAtom(display, "LUMRA_FORGED", False), owner, CurrentTime);
    XSync(display, False);
    say("ASKED");
    sitUntilKilled();
}

int askWithOwnersClient(Display* display, Atom clipboard, Atom utf8)
{
    say("READY");
    const Window owner = XGetSelectionOwner(display, clipboard);
    XEvent event {};
    event.xselectionrequest.type = SelectionRequest;
    event.xselectionrequest.owner = owner;
    event.xselectionrequest.requestor = owner + 1;
    event.xselectionrequest.selection = clipboard;
    event.xselectionrequest.target = utf8;
    event.xselectionrequest.property = XInternAtom(display, "LUMRA_FORGED", False);
    event.xselectionrequest.time = CurrentTime;
    XSendEvent(display, owner, False, NoEventMask, &event);
    XSync(display, False);
    say("ASKED");
    sitUntilKilled();
}

} // namespace

int main(int argc, char** argv)
{
    const std::string mode = argc > 1 ? argv[1] : "50000";
    Display* display = XOpenDisplay(nullptr);
    if (!display)
        return 2;
    XSetErrorHandler(ignoreErrors);
    const Atom clipboard = XInternAtom(display, "CLIPBOARD", False);
    const Atom utf8 = XInternAtom(display, "UTF8_STRING", False);
    if (mode == "leave-midway" || mode == "slow")
        return read(display, clipboard, utf8, mode == "leave-midway");
    if (mode == "owner-window")
        return askWithOwnersWindow(display, clipboard, utf8);
    if (mode == "owner-client")
        return askWithOwnersClient(display, clipboard, utf8);
    return flood(display, clipboard, utf8, std::atoi(mode.c_str()), argc > 2 && std::strcmp(argv[2], "now") == 0);
}
