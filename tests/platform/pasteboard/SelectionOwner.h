#pragma once

#include "platform/pasteboard/Pasteboard.h"

#include <QByteArray>
#include <QList>

#include <future>
#include <thread>

#include <poll.h>
#include <unistd.h>

#include "platform/x11/X11Includes.h"

namespace lumra::test {

// Another X client that owns CLIPBOARD with the given representations, serving requests on
// its own thread. A silent owner takes the clipboard and never answers, until wakeUp(): it
// then takes the clipboard again and, when the next request comes, first sends a late refusal
// for every request it held back, then answers the new one.
class SelectionOwner {
public:
    enum class Mode { answer, silent };

    explicit SelectionOwner(QList<PasteboardRepresentation> offers, Mode mode = Mode::answer)
        : m_offers(std::move(offers))
        , m_mode(mode)
    {
        if (::pipe(m_pipe) != 0)
            return;
        std::promise<void> ready;
        auto readyFuture = ready.get_future();
        m_thread = std::thread([this, &ready] { run(ready); });
        readyFuture.wait();
    }

    ~SelectionOwner()
    {
        command('q');
        if (m_thread.joinable())
            m_thread.join();
        ::close(m_pipe[0]);
        ::close(m_pipe[1]);
    }

    unsigned long window() const { return m_window; }
    void wakeUp() { command('w'); }

private:
    void command(char c)
    {
        if (!m_thread.joinable())
            return;
        m_done = std::promise<void>();
        auto done = m_done.get_future();
        if (::write(m_pipe[1], &c, 1) == 1)
            done.wait();
    }

    void run(std::promise<void>& ready)
    {
        m_display = XOpenDisplay(nullptr);
        m_clipboard = XInternAtom(m_display, "CLIPBOARD", x11::XFalse);
        m_window = XCreateSimpleWindow(m_display, DefaultRootWindow(m_display), 0, 0, 1, 1, 0, 0, 0);
        XSetSelectionOwner(m_display, m_clipboard, m_window, x11::XCurrentTime);
        XSync(m_display, x11::XFalse);
        ready.set_value();
        QList<XSelectionRequestEvent> heldBack;
        for (;;) {
            while (XPending(m_display)) {
                XEvent event;
                XNextEvent(m_display, &event);
                if (event.type != SelectionRequest)
                    continue;
                if (m_mode == Mode::silent) {
                    heldBack.append(event.xselectionrequest);
                    continue;
                }
                for (const XSelectionRequestEvent& request : heldBack)
                    notify(request, x11::XNone, {}, 0, false);
                heldBack.clear();
                answer(event.xselectionrequest);
            }
            pollfd fds[2] {{ConnectionNumber(m_display), POLLIN, 0}, {m_pipe[0], POLLIN, 0}};
            ::poll(fds, 2, -1);
            if (!(fds[1].revents & POLLIN))
                continue;
            char c = 0;
            if (::read(m_pipe[0], &c, 1) != 1 || c == 'q')
                break;
            m_mode = Mode::answer;
            XSetSelectionOwner(m_display, m_clipboard, m_window, x11::XCurrentTime);
            XSync(m_display, x11::XFalse);
            m_done.set_value();
        }
        // Give the clipboard up before closing, so the server is done with this owner by the
        // time the next test starts watching.
        XSetSelectionOwner(m_display, m_clipboard, x11::XNone, x11::XCurrentTime);
        XDestroyWindow(m_display, m_window);
        XSync(m_display, x11::XFalse);
        XCloseDisplay(m_display);
        m_done.set_value();
    }

    void answer(const XSelectionRequestEvent& request)
    {
        const Atom targets = XInternAtom(m_display, "TARGETS", x11::XFalse);
        if (request.target == targets) {
            std::vector<long> atoms {long(targets)};
            for (const auto& offer : m_offers)
                atoms.push_back(long(XInternAtom(m_display, offer.mimeType.toUtf8().constData(), x11::XFalse)));
            XChangeProperty(m_display, request.requestor, request.property, XA_ATOM, 32, PropModeReplace,
                            reinterpret_cast<const unsigned char*>(atoms.data()), int(atoms.size()));
            return notify(request, request.property, {}, 0, false);
        }
        char* name = XGetAtomName(m_display, request.target);
        const QString type = QString::fromUtf8(name);
        XFree(name);
        for (const auto& offer : m_offers) {
            if (offer.mimeType == type)
                return notify(request, request.property, offer.data, request.target);
        }
        notify(request, x11::XNone, {}, 0, false);
    }

    void notify(const XSelectionRequestEvent& request, Atom property, const QByteArray& data, Atom type,
                bool setProperty = true)
    {
        if (setProperty && property != x11::XNone)
            XChangeProperty(m_display, request.requestor, property, type, 8, PropModeReplace,
                            reinterpret_cast<const unsigned char*>(data.constData()), int(data.size()));
        XEvent reply {};
        reply.xselection.type = SelectionNotify;
        reply.xselection.requestor = request.requestor;
        reply.xselection.selection = request.selection;
        reply.xselection.target = request.target;
        reply.xselection.property = property;
        reply.xselection.time = request.time;
        XSendEvent(m_display, request.requestor, x11::XFalse, 0, &reply);
        XFlush(m_display);
    }

    QList<PasteboardRepresentation> m_offers;
    Mode m_mode;
    int m_pipe[2] {-1, -1};
    std::thread m_thread;
    std::promise<void> m_done;
    Display* m_display = nullptr;
    Atom m_clipboard = 0;
    unsigned long m_window = 0;
};

} // namespace lumra::test
