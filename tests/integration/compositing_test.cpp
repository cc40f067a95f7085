// Under an X compositing manager a reply still means the colour is on the screen itself.
#include <gtest/gtest.h>

#include <xcb/xcb.h>

#include <cstdlib>
#include <optional>
#include <thread>

#include "other_client.hpp"
#include "presenter_session.hpp"

namespace pp::test {
namespace {

// The owner of the compositing-manager selection of the first screen, or XCB_NONE.
xcb_window_t compositorOwner(const std::string& display)
{
    OtherClient client(display);
    xcb_connection_t* c = client.connection();
    const xcb_atom_t atom = internAtom(c, "_NET_WM_CM_S0");
    if (atom == XCB_ATOM_NONE) return XCB_NONE;
    auto* owner = xcb_get_selection_owner_reply(c, xcb_get_selection_owner(c, atom), nullptr);
    const xcb_window_t found = owner ? owner->owner : xcb_window_t(XCB_NONE);
    std::free(owner);
    return found;
}

// A 32-bit CARDINAL or ATOM property of the window, or none.
std::optional<std::uint32_t> property(OtherClient& client, xcb_window_t window, const char* name)
{
    xcb_connection_t* c = client.connection();
    const xcb_atom_t atom = internAtom(c, name);
    if (atom == XCB_ATOM_NONE) return std::nullopt;
    auto* value =
        xcb_get_property_reply(c, xcb_get_property(c, 0, window, atom, XCB_GET_PROPERTY_TYPE_ANY, 0, 1), nullptr);
    std::optional<std::uint32_t> found;
    if (value && value->format == 32 && xcb_get_property_value_length(value) == 4) {
        found = *static_cast<const std::uint32_t*>(xcb_get_property_value(value));
    }
    std::free(value);
    return found;
}

TEST(Compositing, TheWindowAsksCompositorsToLeaveItAlone)
{
    auto server = XServer::startXvfb({.width = 640, .height = 480});
    PresenterSession session(*server);
    ASSERT_TRUE(startsWith(session.greeting(), "ready "));
    OtherClient other(server->display());
    const xcb_window_t window = other.presenterWindow();
    ASSERT_NE(window, xcb_window_t(XCB_NONE));
    EXPECT_EQ(property(other, window, "_NET_WM_BYPASS_COMPOSITOR"), 1u);
    EXPECT_EQ(property(other, window, "_NET_WM_STATE"), internAtom(other.connection(), "_NET_WM_STATE_FULLSCREEN"));
}

// The compositing manager keeps the window redirected (no unredirection of full-screen windows), so
// every frame reaches the screen only once the manager has copied it there.
TEST(Compositing, UnderAManagerEveryPaintedColourIsAlreadyOnTheRootWindow)
{
    SKIP_WITHOUT_PROGRAM("picom");
    auto server = XServer::startXvfb({.width = 800, .height = 600});
    ChildProcess manager({"/bin/sh", "-c", "exec picom --backend xrender --config /dev/null"},
                         {{"DISPLAY", server->display()}});
    for (int i = 0; i < 200 && compositorOwner(server->display()) == XCB_NONE; ++i) {
        std::this_thread::sleep_for(10ms);
    }
    ASSERT_NE(compositorOwner(server->display()), xcb_window_t(XCB_NONE)) << "the manager did not start: " << manager.errorOutput();

    PresenterSession session(*server);
    ASSERT_TRUE(startsWith(session.greeting(), "ready "));
    ASSERT_TRUE(startsWith(session.ask("mode flat"), "mode flat"));
    int shown = 0;
    for (int i = 0; i < 40; ++i) {
        const Rgb colour{(i * 53) % 256, 255 - (i * 29) % 256, (i * 97 + 11) % 256};
        const std::string reply = session.ask("rgb " + std::to_string(colour.r) + " " + std::to_string(colour.g) +
                                              " " + std::to_string(colour.b));
        ASSERT_TRUE(painted(reply));
        const Rgb seen = session.pixel(400, 300);
        if (seen == colour) {
            ++shown;
        } else {
            ADD_FAILURE() << "command " << i << " shows " << seen.r << " " << seen.g << " " << seen.b;
        }
    }
    EXPECT_EQ(shown, 40);
    EXPECT_EQ(session.child().errorOutput(), "");
}

}  // namespace
}  // namespace pp::test
