// A program that takes the CLIPBOARD and answers readers the way a broken or hostile owner can:
//   trickle  text sent with INCR, one byte every 400 ms, never finished
//   trickle-rich  a text answered at once, with HTML sent with INCR, one byte every 100 ms, never finished
//   targets  100,000 distinct targets, then a short text
//   html     a short text with HTML of 20,000 nested elements
//   html-unmatched  the same with 20,000 "<div></x>": end tags that close nothing
//   html-costly  the same with 90,000 of them: within every bound checked before the converter
//            runs, and costly enough to spend the converter's whole budget
//   huge     200 MB of text sent with INCR under a small announced size
//   slow     a short text within the bounds, but slowly: every answer and every INCR piece comes
//            250 ms after what asked for it, 1.5 s in all, however many readers ask at once; it
//            prints SENDING when asked for the text (a second argument is added to the text, so
//            that several such owners copy different texts)
//   retake-at-targets  a public text with HTML; once it has answered the first TARGETS request it
//            takes the clipboard again on the same window, now with a text marked for a password
//            manager (the way one program window copies twice in a row)
//   retake-at-text  the same, taken again once it has answered the first request for the text
//   retake-soon     the same, taken again 0 to 3 ms after the first copy (a third argument: to
//            that many ms), whatever was asked
//   remark-soon     a text, taken again 0 to 3 ms later (a third argument: to that many ms; "=N":
//            exactly N ms) with the same text now marked for a password manager; it prints
//            MARKED <ms since its last answer before the marking> once the marked copy is taken
//   retake-in-answer  a public text with HTML; asked for the HTML, it answers with the marked
//            copy's HTML and takes the clipboard again right after the answer
//   retake-in-incr  a public text sent with INCR; after its first 1 KB piece it takes the clipboard
//            again, marked, and sends the marked copy's tail as the rest
//   twice    a text, then, once it has answered the first TARGETS request, a second text on a
//            second window whose answers come 100 ms late (two quick copies)
//   rich     a public text with ordinary HTML, answered at once (a page copied from a browser)
//   once     answers the first request, then exits
//   late     every answer comes 700 ms late, past a reader's patience
//   silent   answers nothing, printing ASKED <n> <requestor window> for the n-th request, until a
//            line comes on its input: it then refuses every request held and those that follow
//   retake-on-input  a public text; at a line on its input it takes the clipboard again on the same
//            window, later by the server's clock, with a text marked for a password manager
//   remark-elsewhere  a text, taken again 0 to 3 ms later (a third argument: to that many ms) from a
//            second X connection of the same process, with the same text now marked for a password
//            manager
//   remark-forked  the same as remark-elsewhere, the marked copy taken by a helper process it forked
//            at the start
//   remark-elsewhere-at-text  the same, taken again once it has answered the first request for the text
//   remark-elsewhere-after-slow-text  the same, the text answered 80 ms late and taken again a few ms
//            after (a third argument: that many ms)
//   late-hint  a text marked for a password manager, the marker listed after 5,000 other types
//   long-list  a text whose TARGETS answer lists one type 1,100,000 times
//   burst    copies one after the other from separate processes (a second argument: how many,
//            20 by default), each a text "burst copy <n>" from a process of its own that exits once
//            the next takes the clipboard, as xclip does; the next is made as soon as the one before
//            has handed its text over
//   flood    takes the clipboard again and again on one window (a second argument: how many times,
//            200,000 by default) as fast as the server lets it, prints FLOODED once the server
//            has made every taking, and then answers nothing
//   crowd    a text, from a window whose _NET_WM_PID names no process, on a desktop of 600 managed
//            windows of another connection (it sets _NET_CLIENT_LIST); prints OWNER <window> first
//   forged-pid  a text from a window whose _NET_WM_PID names another process (a third argument: its
//            pid); it exits once another program takes the clipboard
// It prints READY once it owns the clipboard, ASKED at the first request and ANSWERED after each
// answer has reached the server, and serves until it is killed. X errors end it, as they end most
// real programs (Xlib's default handler): an answer to a window the reader already destroyed
// kills it.
#include <X11/Xatom.h>
#include <X11/Xlib.h>

#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace {

struct Transfer {
    Atom property = 0;
    Atom type = 0;
    long long sent = 0;
};

struct Owner {
    Display* display = nullptr;
    Window window = 0;
    std::string mode;
    std::string label;
    unsigned retakeWithinMs = 3;
    unsigned long forgedPid = 0;
    bool retakeExactly = false; // at retakeWithinMs, not within it
    std::chrono::steady_clock::time_point lastAnswer; // none yet: its epoch
    int markPipe = -1, markedPipe = -1; // remark-forked: to the helper and back
    Atom targets = 0, incr = 0, utf8 = 0, textPlain = 0, html = 0, hint = 0, clipboard = 0;
    std::vector<Atom> offered;
    Window second = 0; // twice: the window of the second copy
    bool retaken = false;
    bool asked = false;
    bool released = false; // silent: a line came on the input
    Time takenAt = 0; // a server time no earlier than the first taking
    int handedOver = -1; // one of a burst: told a byte once its text was answered
    std::vector<XSelectionRequestEvent> held;
    std::string text;
    std::string htmlBody;
    std::map<Window, Transfer> transfers;
    // remark-elsewhere*: the second connection, opened at the start as a program's would be, so
    // that marking is one request whatever the load.
    std::unique_ptr<Owner> elsewhere;

    static constexpr long long hugeBytes = 200LL * 1024 * 1024;
    static constexpr int hugeChunk = 256 * 1024;

    void offerTargets()
    {
        offered = {targets, utf8, textPlain};
        if (mode.rfind("html", 0) == 0 || mode == "rich" || mode == "trickle-rich"
            || (mode.rfind("retake", 0) == 0 && mode != "retake-in-incr"))
            offered.push_back(html);
        if (mode == "marked-elsewhere")
            offered.push_back(hint);
        if (mode == "late-hint") {
            for (int i = 0; i < 5000; ++i)
                offered.push_back(XInternAtom(display, ("application/x-lumra-listed-" + std::to_string(i)).c_str(), False));
            offered.push_back(hint);
        }
        if (mode == "long-list")
            offered.insert(offered.end(), 1100000, html);
        if (mode == "targets") {
            constexpr int count = 100000;
            std::vector<std::string> names(count);
            std::vector<char*> pointers(count);
            for (int i = 0; i < count; ++i) {
                names[i] = "application/x-lumra-hostile-" + std::to_string(i);
                pointers[i] = names[i].data();
            }
            // In batches: Xlib matches each reply against every request still waiting, so one
            // call for all of them spends half a minute of CPU before the owner is ready.
            constexpr int batch = 1000;
            std::vector<Atom> atoms(count);
            for (int first = 0; first < count; first += batch)
                XInternAtoms(display, pointers.data() + first, batch, False, atoms.data() + first);
            offered.insert(offered.end(), atoms.begin(), atoms.end());
        }
    }

    void reply(const XSelectionRequestEvent& request, Atom property)
    {
        XEvent answer {};
        answer.xselection.type = SelectionNotify;
        answer.xselection.requestor = request.requestor;
        answer.xselection.selection = request.selection;
        answer.xselection.target = request.target;
        answer.xselection.property = property;
        answer.xselection.time = request.time;
        XSendEvent(display, request.requestor, False, 0, &answer);
        XFlush(display);
    }

    void startIncr(const XSelectionRequestEvent& request, Atom property, long announced)
    {
        XSelectInput(display, request.requestor, PropertyChangeMask);
        XChangeProperty(display, request.requestor, property, incr, 32, PropModeReplace,
                        reinterpret_cast<unsigned char*>(&announced), 1);
        transfers[request.requestor] = Transfer {property, request.target, 0};
        reply(request, property);
    }

    static void sleep(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

    // The server's current time, from a zero-length append to a property of the window.
    Time serverTime()
    {
        const Atom stamp = XInternAtom(display, "LUMRA_TEST_STAMP", False);
        XChangeProperty(display, window, stamp, XA_INTEGER, 32, PropModeAppend, nullptr, 0);
        XEvent event;
        XIfEvent(
            display, &event,
            [](Display*, XEvent* e, XPointer atom) {
                return Bool(e->type == PropertyNotify && e->xproperty.atom == *reinterpret_cast<Atom*>(atom));
            },
            reinterpret_cast<XPointer>(const_cast<Atom*>(&stamp)));
        return event.xproperty.time;
    }

    void say(const char* word)
    {
        std::printf("%s\n", word);
        std::fflush(stdout);
    }

    // The second copy, on `owner`: the clipboard is taken with the server's current time.
    void takeAgain(Window owner, const std::string& newText, const std::string& newHtml, bool secret)
    {
        text = newText;
        htmlBody = newHtml;
        if (secret)
            offered.push_back(hint);
        XSetSelectionOwner(display, clipboard, owner, CurrentTime);
        XSync(display, False);
        retaken = true;
        say("RETAKEN");
    }

    // The marked copy from a second connection of this process, served on a thread of its own.
    void markElsewhere()
    {
        if (!elsewhere->take())
            std::exit(1);
        std::thread([marked = elsewhere.get()] { marked->serveForever(); }).detach();
        retaken = true;
    }

    // remark-forked: the helper takes the clipboard, marked, and says when it has.
    void markForked()
    {
        char byte = 1;
        if (write(markPipe, &byte, 1) != 1 || read(markedPipe, &byte, 1) != 1)
            std::exit(1);
        retaken = true;
    }
    // The helper of remark-forked, forked before this process connects: it connects on its own,
    // and marks once told.
    void forkMarkingHelper()
    {
        int go[2], done[2];
        if (pipe(go) != 0 || pipe(done) != 0)
            std::exit(1);
        std::fflush(stdout);
        if (fork() == 0) {
            prctl(PR_SET_PDEATHSIG, SIGKILL);
            Owner helper;
            helper.mode = "marked-elsewhere";
            helper.label = label;
            char byte = 0;
            if (!helper.open() || read(go[0], &byte, 1) != 1 || !helper.take() || write(done[1], &byte, 1) != 1)
                std::exit(1);
            std::exit(helper.serveForever());
        }
        close(go[0]);
        close(done[1]);
        markPipe = go[1];
        markedPipe = done[0];
    }

    bool retakesSoon() const
    {
        return mode == "retake-soon" || mode == "remark-soon" || mode == "remark-elsewhere" || mode == "remark-forked";
    }
    void retakeSoon()
    {
        if (mode == "remark-elsewhere")
            markElsewhere();
        else if (mode == "remark-forked")
            markForked();
        else if (mode == "remark-soon")
            takeAgain(window, text, htmlBody, true);
        else
            takeAgain(window, "copy two, secret" + label, "<i>copy two</i>", true);
        if (mode.rfind("remark", 0) == 0) {
            const auto since = lastAnswer == std::chrono::steady_clock::time_point()
                ? std::chrono::milliseconds(0)
                : std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - lastAnswer);
            std::printf("MARKED %lld\n", (long long)since.count());
            std::fflush(stdout);
        }
    }

    // The answer is the marked copy's, and the clipboard is taken again only after it: one flush,
    // so the reader finds these bytes however fast it asks.
    void answerThenRetake(const XSelectionRequestEvent& request, Atom property)
    {
        const std::string secret = "<i>copy two, secret</i>";
        XChangeProperty(display, request.requestor, property, request.target, 8, PropModeReplace,
                        reinterpret_cast<const unsigned char*>(secret.data()), int(secret.size()));
        reply(request, property);
        takeAgain(window, "copy two, secret" + label, secret, true);
    }

    void serve(const XSelectionRequestEvent& request)
    {
        if (mode == "silent") {
            held.push_back(request);
            std::printf("ASKED %zu %lu\n", held.size(), (unsigned long)request.requestor);
            std::fflush(stdout);
            if (released)
                refuseHeld();
            return;
        }
        if (!asked) {
            asked = true;
            say("ASKED");
        }
        serveOne(request);
        XSync(display, False); // an error of the answer ends the program here
        lastAnswer = std::chrono::steady_clock::now();
        say("ANSWERED");
        const bool isText = request.target == utf8 || request.target == textPlain;
        if (isText && handedOver >= 0) {
            const char byte = 1;
            (void)!write(handedOver, &byte, 1);
            close(std::exchange(handedOver, -1));
        }
        if (retaken)
            return;
        if ((mode == "retake-at-targets" && request.target == targets) || (mode == "retake-at-text" && isText))
            takeAgain(window, "copy two, secret" + label, "<i>copy two</i>", true);
        if (mode == "remark-elsewhere-at-text" && isText)
            markElsewhere();
        if (mode == "remark-elsewhere-after-slow-text" && isText) {
            sleep(int(retakeWithinMs));
            markElsewhere();
        }
        if (mode == "twice" && request.target == targets) {
            second = XCreateSimpleWindow(display, DefaultRootWindow(display), 0, 0, 1, 1, 0, 0, 0);
            takeAgain(second, "second of two quick copies", "", false);
        }
        if (mode == "once") {
            XCloseDisplay(display);
            std::exit(0);
        }
    }

    void serveOne(const XSelectionRequestEvent& request)
    {
        const Atom property = request.property == None ? request.target : request.property;
        if (mode == "late")
            sleep(700);
        if (mode == "twice" && request.owner == second)
            sleep(100);
        if (mode == "remark-elsewhere-after-slow-text" && !retaken
            && (request.target == utf8 || request.target == textPlain))
            sleep(80);
        if (request.target == targets) {
            XChangeProperty(display, request.requestor, property, XA_ATOM, 32, PropModeReplace,
                            reinterpret_cast<const unsigned char*>(offered.data()), int(offered.size()));
            return reply(request, property);
        }
        const bool isText = request.target == utf8 || request.target == textPlain;
        if (mode == "retake-in-answer" && request.target == html && !retaken)
            return answerThenRetake(request, property);
        if (isText && mode == "retake-in-incr" && !retaken)
            return startIncr(request, property, long(text.size()));
        if ((isText && mode == "trickle") || (request.target == html && mode == "trickle-rich"))
            return startIncr(request, property, 1000);
        if (isText && mode == "huge")
            return startIncr(request, property, 1024);
        if (isText && mode == "slow") {
            std::printf("SENDING\n");
            std::fflush(stdout);
            return startIncr(request, property, long(text.size()));
        }
        const std::string* body = isText ? &text : request.target == html && !htmlBody.empty() ? &htmlBody : nullptr;
        if (!body)
            return reply(request, None);
        XChangeProperty(display, request.requestor, property, request.target, 8, PropModeReplace,
                        reinterpret_cast<const unsigned char*>(body->data()), int(body->size()));
        reply(request, property);
    }

    // The reader took the last piece: the next one, as slowly or as much as the mode says.
    void continueTransfer(const XPropertyEvent& event)
    {
        auto it = transfers.find(event.window);
        if (event.state != PropertyDelete || it == transfers.end() || it->second.property != event.atom)
            return;
        Transfer& transfer = it->second;
        if (mode == "slow") {
            // The text in three pieces, then the empty one that ends the transfer.
            const long long piece = (long long)(text.size() + 2) / 3;
            const long long size = std::min(piece, (long long)text.size() - transfer.sent);
            XChangeProperty(display, event.window, transfer.property, transfer.type, 8, PropModeReplace,
                            reinterpret_cast<const unsigned char*>(text.data() + transfer.sent), int(size));
            transfer.sent += size;
            if (size == 0)
                transfers.erase(it);
        } else if (mode == "retake-in-incr") {
            // The public copy's first piece, then the marked copy's tail under a new ownership.
            std::string piece;
            if (transfer.sent == 0) {
                piece = text;
            } else if (!retaken) {
                takeAgain(window, "copy two, secret" + label, "", true);
                piece = " and copy two, secret";
            }
            XChangeProperty(display, event.window, transfer.property, transfer.type, 8, PropModeReplace,
                            reinterpret_cast<const unsigned char*>(piece.data()), int(piece.size()));
            transfer.sent += (long long)piece.size();
            if (piece.empty())
                transfers.erase(it);
        } else if (mode == "trickle" || mode == "trickle-rich") {
            // Well within a reader's patience for each piece, however busy the machine.
            std::this_thread::sleep_for(std::chrono::milliseconds(mode == "trickle" ? 400 : 100));
            XChangeProperty(display, event.window, transfer.property, transfer.type, 8, PropModeReplace,
                            reinterpret_cast<const unsigned char*>("x"), 1);
        } else {
            static const std::string chunk(hugeChunk, 'a');
            const long long left = hugeBytes - transfer.sent;
            const int size = int(left < hugeChunk ? left : hugeChunk);
            XChangeProperty(display, event.window, transfer.property, transfer.type, 8, PropModeReplace,
                            reinterpret_cast<const unsigned char*>(chunk.data()), size);
            transfer.sent += size;
            if (size == 0)
                transfers.erase(it);
        }
        XFlush(display);
    }

    void refuseHeld()
    {
        for (const XSelectionRequestEvent& request : held)
            reply(request, None);
        held.clear();
    }

    // A line on the input: what the mode does at it.
    void onInput()
    {
        char line[64];
        if (!std::fgets(line, sizeof line, stdin))
            return;
        if (mode == "silent") {
            released = true;
            refuseHeld();
        } else if (mode == "retake-on-input" && !retaken) {
            while (serverTime() <= takenAt) {
            }
            takeAgain(window, "copy two, secret" + label, "", true);
        }
    }

    void makeCrowd()
    {
        static constexpr int crowdSize = 600;
        static constexpr unsigned long nobody = 2147483646; // past any pid_max
        Display* desktop = XOpenDisplay(nullptr);
        std::vector<long> windows;
        for (int i = 0; i < crowdSize; ++i)
            windows.push_back(long(XCreateSimpleWindow(desktop, DefaultRootWindow(desktop), 0, 0, 1, 1, 0, 0, 0)));
        XChangeProperty(desktop, DefaultRootWindow(desktop), XInternAtom(desktop, "_NET_CLIENT_LIST", False), XA_WINDOW,
                        32, PropModeReplace, reinterpret_cast<const unsigned char*>(windows.data()), crowdSize);
        XSync(desktop, False); // the connection stays open: its windows with it
        XChangeProperty(display, window, XInternAtom(display, "_NET_WM_PID", False), XA_CARDINAL, 32, PropModeReplace,
                        reinterpret_cast<const unsigned char*>(&nobody), 1);
        std::printf("OWNER %lu\n", window);
    }

    int run()
    {
        if (!open() || !take())
            return 1;
        return serveForever();
    }

    bool open()
    {
        if (mode == "remark-forked")
            forkMarkingHelper();
        display = XOpenDisplay(nullptr);
        if (!display) {
            std::fprintf(stderr, "no display\n");
            return false;
        }
        window = XCreateSimpleWindow(display, DefaultRootWindow(display), 0, 0, 1, 1, 0, 0, 0);
        targets = XInternAtom(display, "TARGETS", False);
        incr = XInternAtom(display, "INCR", False);
        utf8 = XInternAtom(display, "UTF8_STRING", False);
        textPlain = XInternAtom(display, "text/plain;charset=utf-8", False);
        html = XInternAtom(display, "text/html", False);
        hint = XInternAtom(display, "x-kde-passwordManagerHint", False);
        text = "copied by a hostile owner: " + mode + label;
        if (mode.rfind("html", 0) == 0) {
            htmlBody = "<b>deep</b>";
            const int count = mode == "html-costly" ? 90000 : 20000;
            for (int i = 0; i < count; ++i)
                htmlBody += mode == "html" ? "<div>" : "<div></x>";
            htmlBody += "deep";
        }
        if (mode == "retake-in-incr")
            text = "copy one, public" + label + std::string(1024, '.');
        if (mode == "remark-soon")
            text = "marked at once" + label;
        if (mode.rfind("remark-elsewhere", 0) == 0 || mode == "marked-elsewhere" || mode == "remark-forked")
            text = "marked elsewhere" + label;
        if (mode.rfind("retake", 0) == 0 && mode != "retake-in-incr") {
            text = "copy one, public" + label;
            htmlBody = "<b>copy one</b>";
        }
        if (mode == "twice")
            text = "first of two quick copies";
        if (mode == "one-of-burst")
            text = "burst copy" + label;
        if (mode == "crowd")
            makeCrowd();
        if (mode == "forged-pid")
            XChangeProperty(display, window, XInternAtom(display, "_NET_WM_PID", False), XA_CARDINAL, 32,
                            PropModeReplace, reinterpret_cast<const unsigned char*>(&forgedPid), 1);
        if (mode == "rich") {
            text = "a page whose formatting is kept" + label;
            htmlBody = "<p><b>a page</b> whose <i>formatting</i> is kept" + label + "</p>";
        }
        offerTargets();
        clipboard = XInternAtom(display, "CLIPBOARD", False);
        if (mode.rfind("remark-elsewhere", 0) == 0) {
            elsewhere = std::make_unique<Owner>();
            elsewhere->mode = "marked-elsewhere";
            elsewhere->label = label;
            if (!elsewhere->open())
                return false;
        }
        XSync(display, False);
        return true;
    }

    bool take()
    {
        XSetSelectionOwner(display, clipboard, window, CurrentTime);
        if (XGetSelectionOwner(display, clipboard) != window) {
            std::fprintf(stderr, "could not take the clipboard\n");
            return false;
        }
        XSelectInput(display, window, PropertyChangeMask);
        takenAt = serverTime();
        std::printf("READY\n");
        std::fflush(stdout);
        if (mode == "marked-elsewhere")
            say("RETAKEN");
        return true;
    }

    // slow: each event is handled 250 ms after it came. The delays overlap, so a reader is never
    // kept waiting by another's answers, which would put a second reader past its patience.
    [[noreturn]] void serveSlowly()
    {
        using namespace std::chrono;
        std::deque<std::pair<steady_clock::time_point, XEvent>> pending;
        for (;;) {
            if (!XPending(display)) {
                const auto left = pending.empty() ? -1 : duration_cast<milliseconds>(pending.front().first - steady_clock::now()).count();
                pollfd fd {ConnectionNumber(display), POLLIN, 0};
                poll(&fd, 1, pending.empty() ? -1 : int(std::max<long long>(0, left + 1)));
            }
            while (XPending(display)) {
                XEvent event;
                XNextEvent(display, &event);
                pending.emplace_back(steady_clock::now() + milliseconds(250), event);
            }
            while (!pending.empty() && pending.front().first <= steady_clock::now()) {
                const XEvent event = pending.front().second;
                pending.pop_front();
                if (event.type == SelectionRequest)
                    serve(event.xselectionrequest);
                else if (event.type == PropertyNotify)
                    continueTransfer(event.xproperty);
            }
        }
    }

    int serveForever()
    {
        if (mode == "slow")
            serveSlowly();
        // retake-soon: requests are served while the second copy is due, as a program does.
        const auto due = std::chrono::steady_clock::now()
            + std::chrono::microseconds(retakeExactly ? retakeWithinMs * 1000 : std::random_device()() % (retakeWithinMs * 1000));
        for (;;) {
            while (retakesSoon() && !retaken && !XPending(display)) {
                const auto left = std::chrono::duration_cast<std::chrono::microseconds>(due - std::chrono::steady_clock::now());
                pollfd fd {ConnectionNumber(display), POLLIN, 0};
                if (left.count() <= 0 || poll(&fd, 1, int((left.count() + 999) / 1000)) == 0)
                    retakeSoon();
            }
            while (!XPending(display)) {
                pollfd fds[2] {{ConnectionNumber(display), POLLIN, 0}, {STDIN_FILENO, POLLIN, 0}};
                poll(fds, 2, -1);
                if (fds[1].revents & POLLIN)
                    onInput();
                else if (fds[1].revents)
                    break; // the input closed: events only
                if (fds[0].revents)
                    break;
            }
            XEvent event;
            XNextEvent(display, &event);
            if (event.type == SelectionClear && (mode == "one-of-burst" || mode == "forged-pid"))
                std::exit(0);
            if (event.type == SelectionRequest)
                serve(event.xselectionrequest);
            else if (event.type == PropertyNotify)
                continueTransfer(event.xproperty);
        }
    }
};

} // namespace

// Each copy of a burst from a process of its own, made once the one before handed its text over.
int burst(int count)
{
    for (int i = 1; i <= count; ++i) {
        int handedOver[2];
        if (pipe(handedOver) != 0)
            return 1;
        const pid_t child = fork();
        if (child < 0)
            return 1;
        if (child == 0) {
            prctl(PR_SET_PDEATHSIG, SIGKILL);
            close(handedOver[0]);
            Owner owner;
            owner.mode = "one-of-burst";
            owner.label = " " + std::to_string(i);
            owner.handedOver = handedOver[1];
            owner.run();
            std::exit(0);
        }
        close(handedOver[1]);
        char byte = 0;
        const bool handed = read(handedOver[0], &byte, 1) == 1;
        close(handedOver[0]);
        if (!handed)
            return 1;
    }
    std::printf("BURST DONE\n");
    std::fflush(stdout);
    for (;;)
        pause();
}

int flood(int count)
{
    Display* display = XOpenDisplay(nullptr);
    if (!display)
        return 1;
    const Window window = XCreateSimpleWindow(display, DefaultRootWindow(display), 0, 0, 1, 1, 0, 0, 0);
    const Atom clipboard = XInternAtom(display, "CLIPBOARD", False);
    for (int i = 0; i < count; ++i)
        XSetSelectionOwner(display, clipboard, window, CurrentTime);
    XSync(display, False);
    std::printf("FLOODED\n");
    std::fflush(stdout);
    for (;;)
        pause();
}

int main(int argc, char** argv)
{
    if (argc > 1 && std::string(argv[1]) == "flood")
        return flood(argc > 2 ? std::atoi(argv[2]) : 200'000);
    if (argc > 1 && std::string(argv[1]) == "burst")
        return burst(argc > 2 ? std::atoi(argv[2]) : 20);
    Owner owner;
    owner.mode = argc > 1 ? argv[1] : "trickle";
    owner.label = argc > 2 ? std::string(" ") + argv[2] : std::string();
    if (argc > 3) {
        owner.retakeExactly = argv[3][0] == '=';
        owner.retakeWithinMs = std::max(1, std::atoi(argv[3] + (owner.retakeExactly ? 1 : 0)));
        owner.forgedPid = std::strtoul(argv[3], nullptr, 10);
    }
    return owner.run();
}
