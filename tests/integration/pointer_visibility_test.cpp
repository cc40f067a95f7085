// The pointer over the window, as another client sees it: hidden from the start, shown only with the mark.
#include <gtest/gtest.h>

#include <xcb/xcb.h>
#include <xcb/xfixes.h>

#include <cstdlib>
#include <thread>

#include "other_client.hpp"
#include "presenter_session.hpp"

namespace pp::test {
namespace {

// How many pixels of the cursor the server shows now are not fully transparent; -1 when it cannot
// be read.
int visibleCursorPixels(OtherClient& client)
{
    xcb_connection_t* c = client.connection();
    std::free(xcb_xfixes_query_version_reply(c, xcb_xfixes_query_version(c, 4, 0), nullptr));
    auto* image = xcb_xfixes_get_cursor_image_reply(c, xcb_xfixes_get_cursor_image(c), nullptr);
    if (!image) return -1;
    const std::uint32_t* pixels = xcb_xfixes_get_cursor_image_cursor_image(image);
    const int count = xcb_xfixes_get_cursor_image_cursor_image_length(image);
    int visible = 0;
    for (int i = 0; i < count; ++i) visible += (pixels[i] >> 24) != 0 ? 1 : 0;
    std::free(image);
    return visible;
}

void pointerTo(OtherClient& client, int x, int y)
{
    xcb_warp_pointer(client.connection(), XCB_NONE, client.root(), 0, 0, 0, 0, std::int16_t(x), std::int16_t(y));
    client.sync();
}

TEST(Pointer, IsHiddenOverTheWindowFromItsCreationAndShownOnlyWithTheMark)
{
    auto server = XServer::startXvfb({.width = 640, .height = 480});
    OtherClient other(server->display());
    pointerTo(other, 200, 150);
    ASSERT_GT(visibleCursorPixels(other), 0) << "the root's pointer is visible before the presenter starts";

    PresenterSession session(*server);
    ASSERT_TRUE(startsWith(session.greeting(), "ready "));
    EXPECT_EQ(visibleCursorPixels(other), 0) << "hidden as soon as the window is up";
    pointerTo(other, 500, 400);
    EXPECT_EQ(visibleCursorPixels(other), 0);

    ASSERT_EQ(session.ask("mark on"), "mark on");
    EXPECT_GT(visibleCursorPixels(other), 0);
    ASSERT_EQ(session.ask("mark off"), "mark off");
    EXPECT_EQ(visibleCursorPixels(other), 0);
}

}  // namespace
}  // namespace pp::test
