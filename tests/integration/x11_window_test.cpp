// The window and its frames on real servers, read back by a second client right after each present.
#include <array>
#include <gtest/gtest.h>

#include <xcb/xcb.h>

#include <chrono>
#include <cstdlib>
#include <thread>

#include "platform/x11/x11_presentation.hpp"
#include "presenter_session.hpp"
#include "x11_window_harness.hpp"
#include "x_server.hpp"

namespace pp::test {
namespace {

using x11::PresentationPath;

// A picture that differs in every row and column and with `k`, at `bits` per sample.
Rgb patternAt(int x, int y, int k, int bits)
{
    const int max = (1 << bits) - 1;
    return {(x * 7 + k * 37) & max, (y * 5 + k * 11) & max, ((x ^ y) + k) & max};
}

void drawPattern(const FrameBuffer& frame, int k, int bits)
{
    for (int y = 0; y < frame.height; ++y) {
        for (int x = 0; x < frame.width; ++x) {
            frame.pixels[std::size_t(y) * std::size_t(frame.stride) + std::size_t(x)] =
                packed(frame.format, patternAt(x, y, k, bits));
        }
    }
}

// How many pixels of the window's area on the root differ from the pattern.
int patternMismatches(const RootImage& image, int k, int bits)
{
    int wrong = 0;
    for (int y = 0; y < image.height; ++y) {
        for (int x = 0; x < image.width; ++x) {
            if (!(image.at(image.x + x, image.y + y) == patternAt(x, y, k, bits))) ++wrong;
        }
    }
    return wrong;
}

struct PresentCase {
    int depth;
    PresentationPath path;
};

class Presenting : public ::testing::TestWithParam<PresentCase> {};

TEST_P(Presenting, EveryFrameIsOnTheScreenWhenPresentReturns)
{
    const auto [depth, path] = GetParam();
    auto server = XServer::startXvfb({.width = 1000, .height = 700, .depth = depth});
    auto w = openWindow(server->display(), 0, path);
    ASSERT_TRUE(w.window);
    EXPECT_EQ(w.window->presentationPath(), path);
    const int bits = depth == 30 ? 10 : 8;
    for (int k = 0; k < 12; ++k) {
        const FrameBuffer frame = w.window->frame();
        ASSERT_EQ(frame.width, 1000);
        ASSERT_EQ(frame.height, 700);
        ASSERT_GE(frame.stride, frame.width);
        EXPECT_EQ(frame.format, depth == 30 ? PixelFormat::xrgb2101010 : PixelFormat::xrgb8888);
        drawPattern(frame, k, bits);
        w.window->present(std::array{pp::wholeFrame(w.window->frame())});
        EXPECT_EQ(patternMismatches(readRoot(server->display(), 0, 0, 1000, 700), k, bits), 0) << "frame " << k;
    }
}

INSTANTIATE_TEST_SUITE_P(DepthsAndPaths, Presenting,
                         ::testing::Values(PresentCase{24, PresentationPath::presentPixmap},
                                           PresentCase{30, PresentationPath::presentPixmap},
                                           PresentCase{24, PresentationPath::putImage},
                                           PresentCase{30, PresentationPath::putImage}),
                         [](const auto& info) {
                             return "Depth" + std::to_string(info.param.depth) +
                                    (info.param.path == PresentationPath::putImage ? "PutImage" : "Present");
                         });

// A presentation the server refuses never completes: present() must find the refusal, not wait for a
// completion that cannot come, and write images from then on.
TEST(Presentation, ARefusedPresentReturnsAndImagesAreWrittenFromThenOn)
{
    auto server = XServer::startXvfb({.width = 200, .height = 100});
    xcb_connection_t* c = xcb_connect(server->display().c_str(), nullptr);
    ASSERT_EQ(xcb_connection_has_error(c), 0);
    const xcb_screen_t* root = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
    const xcb_window_t window = xcb_generate_id(c);
    xcb_create_window(c, XCB_COPY_FROM_PARENT, window, root->root, 0, 0, 200, 100, 0, XCB_WINDOW_CLASS_INPUT_OUTPUT,
                      root->root_visual, 0, nullptr);
    xcb_map_window(c, window);
    auto presentation = x11::makePresentation(c, window, 200, 100, root->root_depth, PixelFormat::xrgb8888,
                                              PresentationPath::presentPixmap);
    ASSERT_TRUE(presentation);
    ASSERT_EQ(presentation->path(), PresentationPath::presentPixmap);
    for (const bool destroyed : {false, true}) {
        if (destroyed) xcb_destroy_window(c, window);  // the server refuses to present a window that is gone
        drawPattern(presentation->frame(), 1, 8);
        presentation->present({});
    }
    EXPECT_EQ(presentation->path(), PresentationPath::putImage);
    EXPECT_EQ(xcb_connection_has_error(c), 0);
    presentation.reset();
    xcb_disconnect(c);
}

// A property of the window as another client reads it.
std::string textProperty(xcb_connection_t* c, xcb_window_t window, xcb_atom_t property)
{
    auto* r = xcb_get_property_reply(c, xcb_get_property(c, 0, window, property, XCB_GET_PROPERTY_TYPE_ANY, 0, 256),
                                     nullptr);
    std::string text;
    if (r) text.assign(static_cast<const char*>(xcb_get_property_value(r)), std::size_t(xcb_get_property_value_length(r)));
    std::free(r);
    return text;
}

TEST(PatchWindow, IsAnOverrideRedirectWindowOnTheRootVisualWithTheFocusAndItsNames)
{
    auto server = XServer::startXvfb({.width = 800, .height = 600, .depth = 30});
    auto w = openWindow(server->display());
    ASSERT_TRUE(w.window);
    xcb_connection_t* c = xcb_connect(server->display().c_str(), nullptr);
    const xcb_screen_t* root = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
    const xcb_window_t id = w.window->id();

    auto* attributes = xcb_get_window_attributes_reply(c, xcb_get_window_attributes(c, id), nullptr);
    ASSERT_TRUE(attributes);
    EXPECT_TRUE(attributes->override_redirect);
    EXPECT_EQ(attributes->map_state, XCB_MAP_STATE_VIEWABLE);
    EXPECT_EQ(attributes->visual, root->root_visual);
    std::free(attributes);

    auto* geometry = xcb_get_geometry_reply(c, xcb_get_geometry(c, id), nullptr);
    ASSERT_TRUE(geometry);
    EXPECT_EQ(geometry->depth, 30);
    EXPECT_EQ(geometry->border_width, 0);
    std::free(geometry);

    auto* focus = xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr);
    ASSERT_TRUE(focus);
    EXPECT_EQ(focus->focus, id);
    std::free(focus);

    EXPECT_EQ(textProperty(c, id, XCB_ATOM_WM_NAME), "patch-presenter");
    EXPECT_EQ(textProperty(c, id, XCB_ATOM_WM_CLASS), std::string("patch-presenter\0patch-presenter", 31));
    EXPECT_TRUE(w.window->keyboardUsesXkb());
    xcb_disconnect(c);

    // Only one window at a time.
    EXPECT_FALSE(w.system->createX11Window(w.screen, PresentationPath::presentPixmap));
}

TEST(PatchWindow, IsRaisedAgainWhenAnotherWindowCoversIt)
{
    auto server = XServer::startXvfb({.width = 640, .height = 480});
    auto w = openWindow(server->display());
    ASSERT_TRUE(w.window);
    RecordingHandler handler(*w.window, {10, 200, 30});
    const std::string display = server->display();
    runWhile(display, w, handler, [&] {
        w.system->mainLoop().runOnMain([] {});  // the first paint is done
        ASSERT_EQ(readRoot(display, 320, 240, 1, 1).at(320, 240), (Rgb{10, 200, 30}));

        // Another client puts a white window over the middle.
        xcb_connection_t* c = xcb_connect(display.c_str(), nullptr);
        const xcb_screen_t* root = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
        const xcb_window_t cover = xcb_generate_id(c);
        const std::uint32_t values[] = {root->white_pixel, 1};
        xcb_create_window(c, XCB_COPY_FROM_PARENT, cover, root->root, 200, 150, 240, 180, 0,
                          XCB_WINDOW_CLASS_INPUT_OUTPUT, XCB_COPY_FROM_PARENT,
                          XCB_CW_BACK_PIXEL | XCB_CW_OVERRIDE_REDIRECT, values);
        xcb_map_window(c, cover);
        xcb_flush(c);

        // The patch window comes back on top and repaints; the covering window stays mapped below it.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        Rgb seen;
        do {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            seen = readRoot(display, 320, 240, 1, 1).at(320, 240);
        } while (!(seen == Rgb{10, 200, 30}) && std::chrono::steady_clock::now() < deadline);
        EXPECT_EQ(seen, (Rgb{10, 200, 30}));
        auto* tree = xcb_query_tree_reply(c, xcb_query_tree(c, root->root), nullptr);
        ASSERT_TRUE(tree);
        const xcb_window_t* children = xcb_query_tree_children(tree);
        const int count = xcb_query_tree_children_length(tree);
        ASSERT_GE(count, 2);
        EXPECT_EQ(children[count - 1], w.window->id());  // top of the stacking order
        std::free(tree);
        xcb_disconnect(c);

        int paints = 0;
        w.system->mainLoop().runOnMain([&] { paints = handler.paints; });
        EXPECT_GE(paints, 2);  // the exposed part was painted again
    });
}

// Two outputs side by side: DUMMY0 1280 x 800 at (0, 0) and DUMMY1 1600 x 1000 at (1280, 0). The
// root is 2880 x 1000, so the area below DUMMY0 belongs to no output.
const std::vector<DummyOutput> NO_SIZE_SIDE_BY_SIDE = {{1280, 800, 0, 0}, {1600, 1000, 0, 0}};
class TwoOutputs : public DummyXorgSuite<NO_SIZE_SIDE_BY_SIDE, ::testing::TestWithParam<std::size_t>> {};

TEST_P(TwoOutputs, TheWindowCoversExactlyItsOutputAndNothingElse)
{
    const std::string display = server->display();
    const RootImage before = readRoot(display, 0, 0, 2880, 1000);
    const Rgb colour{201, 17, 99};
    auto w = openWindow(display, GetParam());
    ASSERT_TRUE(w.window);
    const Rect crtc = GetParam() == 0 ? Rect{0, 0, 1280, 800} : Rect{1280, 0, 1600, 1000};
    ASSERT_EQ(w.screen.frame, crtc);
    fill(w.window->frame(), packed(PixelFormat::xrgb8888, colour));
    w.window->present(std::array{pp::wholeFrame(w.window->frame())});

    const RootImage after = readRoot(display, 0, 0, 2880, 1000);
    int wrongInside = 0, changedOutside = 0, alreadyColour = 0;
    for (int y = 0; y < 1000; ++y) {
        for (int x = 0; x < 2880; ++x) {
            const bool inside = x >= crtc.x && x < crtc.x + crtc.width && y >= crtc.y && y < crtc.y + crtc.height;
            if (inside) {
                wrongInside += !(after.at(x, y) == colour);
            } else {
                changedOutside += !(after.at(x, y) == before.at(x, y));
                alreadyColour += before.at(x, y) == colour;
            }
        }
    }
    EXPECT_EQ(wrongInside, 0);
    EXPECT_EQ(changedOutside, 0);
    EXPECT_EQ(alreadyColour, 0);  // else an unchanged outside pixel would prove nothing
}

TEST_P(TwoOutputs, PointerPositionsAreViewPointsOfTheWindow)
{
    const std::string display = server->display();
    auto w = openWindow(display, GetParam());
    ASSERT_TRUE(w.window);
    const Rect crtc = w.screen.frame;
    RecordingHandler handler(*w.window);
    std::vector<PointerEvent> seen;
    runWhile(display, w, handler, [&] {
        w.system->mainLoop().runOnMain([] {});
        const auto at = [&](int x, int y) {
            return std::to_string(int(crtc.x) + x) + " " + std::to_string(int(crtc.y) + y);
        };
        ASSERT_EQ(server->run("xdotool mousemove " + at(100, 50) + " mousedown 1 mousemove " + at(300, 250) +
                              " mousemove " + at(310, 260) + " mouseup 1"),
                  0);
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (seen.size() < 4 && std::chrono::steady_clock::now() < deadline) {
            w.system->mainLoop().runOnMain([&] { seen = handler.pointers; });
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    });
    const double h = crtc.height;
    const std::vector<std::pair<PointerEvent::Kind, Point>> expected = {
        {PointerEvent::Kind::press, {100, h - 50}},
        {PointerEvent::Kind::drag, {300, h - 250}},
        {PointerEvent::Kind::drag, {310, h - 260}},
        {PointerEvent::Kind::release, {310, h - 260}},
    };
    ASSERT_EQ(seen.size(), expected.size());
    for (std::size_t i = 0; i < seen.size(); ++i) {
        EXPECT_EQ(seen[i].kind, expected[i].first) << i;
        EXPECT_EQ(seen[i].location, expected[i].second) << i;
    }
}

INSTANTIATE_TEST_SUITE_P(EachOutput, TwoOutputs, ::testing::Values(0, 1),
                         [](const auto& info) { return "DUMMY" + std::to_string(info.param); });

}  // namespace
}  // namespace pp::test
