#include "app/DisplayBackend.h"
#include "ui/shell/PopupPlacement.h"

#include <gtest/gtest.h>

namespace lumra {
namespace {

TEST(DisplayBackendTest, AWaylandSessionUsesWaylandUnlessXcbIsAskedForOrTheClipboardIsClosed)
{
    struct Case {
        SessionDisplay session;
        DisplayBackend backend;
        QString platform; // what Lumra sets, empty when it leaves the variable alone
    };
    const QList<Case> cases {
        {{"", "wayland-0", ":0"}, DisplayBackend::wayland, "wayland;xcb"},
        {{"", "wayland-0", ""}, DisplayBackend::wayland, "wayland"},
        {{"xcb", "wayland-0", ":0"}, DisplayBackend::x11, ""},
        {{"wayland", "wayland-0", ":0"}, DisplayBackend::wayland, ""},
        {{"", "", ":0"}, DisplayBackend::x11, "xcb"},
        {{"", "", ""}, DisplayBackend::x11, ""},
        {{"offscreen", "", ""}, DisplayBackend::x11, ""},
        // A compositor without clipboard data control (GNOME): X11 through XWayland where it runs.
        {{"", "wayland-0", ":0", false}, DisplayBackend::x11, "xcb"},
        {{"", "wayland-0", "", false}, DisplayBackend::wayland, "wayland"},
        {{"wayland", "wayland-0", ":0", false}, DisplayBackend::wayland, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(qPrintable(c.session.qpaPlatform + "|" + c.session.waylandDisplay + "|" + c.session.x11Display));
        EXPECT_EQ(chooseDisplayBackend(c.session), c.backend);
        EXPECT_EQ(qpaPlatformFor(c.session), c.platform);
    }
}

TEST(DisplayBackendTest, WithoutThePointerPositionThePopupOpensCentred)
{
    using PopupPlacement::honouredHotKeyPosition;
    EXPECT_EQ(honouredHotKeyPosition("mouse", false), "center");
    EXPECT_EQ(honouredHotKeyPosition("something newer", false), "center");
    EXPECT_EQ(honouredHotKeyPosition("lastPosition", false), "lastPosition");
    EXPECT_EQ(honouredHotKeyPosition("center", false), "center");
    EXPECT_EQ(honouredHotKeyPosition("mouse", true), "mouse");
}

} // namespace
} // namespace lumra
