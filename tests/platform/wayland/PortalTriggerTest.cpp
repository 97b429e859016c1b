#include "platform/wayland/WaylandGlobalHotKeys.h"

#include "model/ClipboardItem.h"

#include <gtest/gtest.h>

namespace lumra {
namespace {

constexpr quint64 ctrl = ItemShortcut::commandFlag; // stored command is Ctrl here
constexpr quint64 alt = ItemShortcut::optionFlag;
constexpr quint64 super = ItemShortcut::controlFlag;
constexpr quint64 shift = ItemShortcut::shiftFlag;

TEST(PortalTriggerTest, ModifiersInTheDesktopsOrderThenTheKeysymName)
{
    EXPECT_EQ(portalTrigger(9, ctrl | alt), "CTRL+ALT+v");
    EXPECT_EQ(portalTrigger(18, super | shift), "SHIFT+LOGO+1");
    EXPECT_EQ(portalTrigger(49, ctrl | alt | shift | super), "CTRL+ALT+SHIFT+LOGO+space");
    EXPECT_EQ(portalTrigger(126, alt), "ALT+Up");
    EXPECT_EQ(portalTrigger(0xFFFE, ctrl), "") << "a key with no symbol has no trigger";
}

} // namespace
} // namespace lumra
