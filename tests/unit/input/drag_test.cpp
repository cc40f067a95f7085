#include "input/drag.hpp"

#include <gtest/gtest.h>

#include "input/key_actions.hpp"
#include "input/pointer_visibility.hpp"
#include "platform/headless/headless_displays.hpp"
#include "platform/headless/headless_window.hpp"

namespace pp {
namespace {

using Kind = PointerEvent::Kind;

// A 1000 x 800 point screen of 250 x 200 mm: 4 points per mm, the 260-point patch centred at
// (500, 400), ring radius 130 + 60 = 190.
struct InputFixture : ::testing::Test {
    Screen screen = headless::headlessScreen(1, {0, 0, 1000, 800}, {250, 200});
    Geometry geometry = patchGeometry({}, screen);
    PatchView view{geometry.ppmm};
    void SetUp() override { view.patch = geometry.patchRect; }

    std::vector<std::string> lines;
    int repaints = 0;
    void apply(Kind kind, double x, double y)
    {
        const auto outcome = pointerAction(view, PointerEvent{kind, {x, y}}, geometry);
        if (outcome.line) lines.push_back(*outcome.line);
        repaints += outcome.repaint;
    }
    // Press at `from`, move through `path` (offsets from the press point), release.
    void gesture(Point from, std::vector<Point> path)
    {
        apply(Kind::press, from.x, from.y);
        for (auto d : path) apply(Kind::drag, from.x + d.x, from.y + d.y);
        apply(Kind::release, 0, 0);
    }
};

TEST_F(InputFixture, GrabsInsideTheRingBoundaryIncluded)
{
    view.mark = true;
    EXPECT_DOUBLE_EQ(view.markRing(), 190);
    EXPECT_TRUE(insideMark(view, {690, 400}));
    EXPECT_TRUE(insideMark(view, {500 - 114, 400 + 152}));  // 3-4-5: exactly 190 away
    EXPECT_FALSE(insideMark(view, {690.0001, 400}));
}

struct DragCase {
    const char* what;
    bool mark;
    Point from;
    std::vector<Point> path;
    Point patchMoved;  // how far the patch ends from where it started
    std::string line;
};

TEST_F(InputFixture, FollowsTheDragStateTable)
{
    const std::vector<DragCase> cases{
        {"mark off: a click", false, {500, 400}, {{50, 0}}, {0, 0}, "key space"},
        {"press on the ring", true, {690, 400}, {{10, 0}}, {10, 0}, "position 0.51000 0.50000"},
        {"press just outside", true, {690.001, 400}, {{10, 0}}, {0, 0}, "key space"},
        {"3 right, 1 up: below the threshold", true, {500, 400}, {{2, 0}, {3, 1}}, {3, 1}, "key space"},
        {"past it and back", true, {500, 400}, {{3, 2}, {0, 0}}, {0, 0}, "position 0.50000 0.50000"},
        {"100 right on 1000", true, {500, 400}, {{40, 0}, {100, 0}}, {100, 0}, "position 0.60000 0.50000"},
        {"y grows upward", true, {500, 400}, {{0, 80}}, {0, 80}, "position 0.50000 0.40000"},
        {"off the left edge", true, {500, 400}, {{-600, 0}}, {-600, 0}, "position -0.10000 0.50000"},
    };
    for (const auto& c : cases) {
        view.patch = geometry.patchRect;
        view.mark = c.mark;
        lines.clear();
        gesture(c.from, c.path);
        EXPECT_EQ(view.patch, (Rect{370 + c.patchMoved.x, 270 + c.patchMoved.y, 260, 260})) << c.what;
        EXPECT_EQ(lines, std::vector<std::string>{c.line}) << c.what;
        EXPECT_FALSE(view.dragFrom) << c.what;
        EXPECT_FALSE(view.dragged) << c.what;
    }
}

TEST_F(InputFixture, IgnoresMovesWithoutAPressAndAnswersEveryRelease)
{
    view.mark = true;
    apply(Kind::drag, 600, 400);
    apply(Kind::release, 600, 400);
    EXPECT_EQ(view.patch, geometry.patchRect);
    EXPECT_EQ(repaints, 0);
    EXPECT_EQ(lines, std::vector<std::string>{"key space"});
    apply(Kind::press, 500, 400);
    apply(Kind::drag, 501, 400);
    EXPECT_EQ(repaints, 1);  // the patch follows even below the threshold
}

struct KeyCase {
    const char* keysym;
    bool shift;
    Point moved;
    std::optional<std::string> line;
};

TEST_F(InputFixture, ActsOnTheKeyTable)
{
    geometry.ppmm = view.ppmm = 3.5;
    const std::vector<KeyCase> cases{
        {"Left", false, {-17.5, 0}, "position 0.48250 0.50000"},
        {"Right", true, {3.5, 0}, "position 0.50350 0.50000"},
        {"Up", false, {0, 17.5}, "position 0.50000 0.47813"},
        {"Up", true, {0, 3.5}, "position 0.50000 0.49562"},
        {"Down", false, {0, -17.5}, "position 0.50000 0.52187"},
        {"Return", false, {0, 0}, "key space"},
        {"space", true, {0, 0}, "key space"},
        {"KP_Enter", false, {0, 0}, "key space"},
        {"a", false, {0, 0}, std::nullopt},
        {"1", false, {0, 0}, std::nullopt},
        {"Tab", false, {0, 0}, std::nullopt},
        {"Delete", false, {0, 0}, std::nullopt},
        {"F1", false, {0, 0}, std::nullopt},
        {"left", false, {0, 0}, std::nullopt},
        {"KP_Left", false, {0, 0}, std::nullopt},
    };
    for (bool mark : {true, false}) {
        for (const auto& c : cases) {
            view.mark = mark;
            view.patch = geometry.patchRect;
            const auto outcome = keyAction(view, KeyEvent{c.keysym, c.shift}, geometry);
            const bool arrow = c.line && c.line->starts_with("position");
            const Point moved = mark ? c.moved : Point{};
            EXPECT_EQ(view.patch, (Rect{370 + moved.x, 270 + moved.y, 260, 260})) << c.keysym << mark;
            EXPECT_EQ(outcome.line, arrow && !mark ? std::nullopt : c.line) << c.keysym << mark;
            EXPECT_EQ(outcome.repaint, arrow && mark) << c.keysym;
            EXPECT_FALSE(outcome.end) << c.keysym;
        }
    }
    const auto esc = keyAction(view, KeyEvent{"Escape", false}, geometry);
    EXPECT_EQ(esc.line, "closed");
    EXPECT_TRUE(esc.end);
}

TEST_F(InputFixture, KeepsPointerHidingBalanced)
{
    headless::HeadlessWindow window(screen);
    PointerVisibility pointer(window);
    EXPECT_TRUE(pointer.cursorHidden());
    pointer.showCursor(true);
    pointer.showCursor(true);
    EXPECT_EQ(window.pointerChanges(), 1);
    EXPECT_TRUE(window.pointerVisible());
    pointer.showCursor(false);
    EXPECT_FALSE(window.pointerVisible());
    EXPECT_TRUE(pointer.cursorHidden());
    pointer.showCursor(false);
    EXPECT_EQ(window.pointerChanges(), 2);
}

}  // namespace
}  // namespace pp
