#include "DesktopTools.h"

#include <QDir>
#include <QFile>

#include <X11/Xatom.h>
#include <X11/Xlib.h>

namespace lumra::test {

namespace {

// The items of a window's CARDINAL property, empty when it has none.
QList<unsigned long> cardinals(Display* display, Window window, Atom property)
{
    QList<unsigned long> values;
    Atom actualType = 0;
    int format = 0;
    unsigned long count = 0;
    unsigned long remaining = 0;
    unsigned char* data = nullptr;
    if (XGetWindowProperty(display, window, property, 0, 32, False, XA_CARDINAL, &actualType, &format, &count, &remaining, &data) == Success
        && data && actualType == XA_CARDINAL && format == 32) {
        const auto* items = reinterpret_cast<const unsigned long*>(data);
        values = QList<unsigned long>(items, items + count);
    }
    if (data)
        XFree(data);
    return values;
}

// A window may go away while it is looked at; Xlib's own handler would end the test.
int ignoreError(Display*, XErrorEvent*) { return 0; }

} // namespace

bool popupShownBy(qint64 pid)
{
    Display* display = XOpenDisplay(nullptr);
    if (!display)
        return false;
    const auto previousHandler = XSetErrorHandler(ignoreError);
    const Atom wmPid = XInternAtom(display, "_NET_WM_PID", False);
    // Menus are override-redirect windows: children of the root that the window manager leaves alone.
    Window root = 0;
    Window parent = 0;
    Window* children = nullptr;
    unsigned int count = 0;
    bool shown = false;
    if (XQueryTree(display, DefaultRootWindow(display), &root, &parent, &children, &count)) {
        for (unsigned int i = 0; i < count && !shown; ++i) {
            XWindowAttributes attributes;
            if (!XGetWindowAttributes(display, children[i], &attributes) || attributes.map_state != IsViewable
                || !attributes.override_redirect)
                continue;
            shown = cardinals(display, children[i], wmPid).contains(static_cast<unsigned long>(pid));
        }
    }
    if (children)
        XFree(children);
    XCloseDisplay(display);
    XSetErrorHandler(previousHandler);
    return shown;
}

namespace {

struct ProcessStat {
    QByteArray name;
    QByteArray state;
    qint64 parent = 0;
};

// What /proc/<pid>/stat tells, which any process may read (Lumra's exe link is not for others to follow).
ProcessStat processStat(const QString& pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return {};
    const QByteArray line = stat.readAll(); // pid (name) state ppid ...
    const qsizetype open = line.indexOf('('), close = line.lastIndexOf(')');
    const QList<QByteArray> fields = line.mid(close + 2).split(' ');
    if (open <= 0 || close <= open || fields.size() < 2)
        return {};
    return {line.mid(open + 1, close - open - 1), fields[0], fields[1].toLongLong()};
}

} // namespace

QList<qint64> childProcesses(qint64 parent, const QByteArray& name)
{
    QList<qint64> children;
    for (const QString& entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        const ProcessStat stat = processStat(entry);
        if (stat.parent == parent && stat.state != "Z" && stat.name.startsWith(name))
            children.append(entry.toLongLong());
    }
    return children;
}

qint64 lumraProcess(qint64 started)
{
    // The child of the same name; others (converters) are programs of their own.
    const QByteArray name = processStat(QString::number(started)).name;
    for (qint64 child : childProcesses(started, name)) {
        if (!name.isEmpty() && processStat(QString::number(child)).name == name)
            return child;
    }
    return started;
}

} // namespace lumra::test
