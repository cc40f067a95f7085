// Captions of any length and antialiased shapes, at the level of the coverage masks.
#include "render/caption_cache.hpp"

#include <gtest/gtest.h>

#include <string>
#include <tuple>

#include "render/coverage_painter.hpp"
#include "render/frame_renderer.hpp"

namespace pp {
namespace {

// The mask's coverage at frame pixel (x, y); 0 outside it.
int coverage(const CoverageMask& mask, int x, int y)
{
    if (mask.empty() || x < mask.x || y < mask.y || x >= mask.x + mask.width || y >= mask.y + mask.height) return 0;
    return mask.row(y)[x - mask.x];
}

// Whether two masks cover every frame pixel alike.
::testing::AssertionResult sameCoverage(const CoverageMask& a, const CoverageMask& b, int width, int height)
{
    int differing = 0;
    std::string first;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            if (coverage(a, x, y) == coverage(b, x, y)) continue;
            if (differing++ == 0) {
                first = "(" + std::to_string(x) + "," + std::to_string(y) + "): " + std::to_string(coverage(a, x, y)) +
                        " vs " + std::to_string(coverage(b, x, y));
            }
        }
    }
    if (differing == 0) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << differing << " pixels differ, first at " << first;
}

int litPixels(const CoverageMask& mask)
{
    int lit = 0;
    for (auto a : mask.alpha) lit += a != 0;
    return lit;
}

struct WindowCase {
    const char* name;
    std::string caption;
    std::size_t reach;
    std::size_t begin, middle, end;
    bool whole;
};

TEST(CaptionWindow, ReachesAsManyVisibleCharactersEachSideOfTheMiddle)
{
    const std::string e = "\xC3\xA9";        // é, two bytes
    const std::string acute = "\xCC\x81";    // a combining accent: no width of its own
    const std::string zwsp = "\xE2\x80\x8B"; // zero-width space
    const std::vector<WindowCase> cases{
        {"short caption whole", "abcdef", 10, 0, 3, 6, true},
        {"exactly the reach each side", "abcdef", 3, 0, 3, 6, true},
        {"cut around the middle", "abcdefghij", 2, 3, 5, 7, false},
        {"middle moved to a character boundary", e + e + e, 1, 0, 2, 4, false},
        {"zero-width marks ride along free", "abcd" + acute + acute + "efgh", 2, 2, 6, 10, false},
        {"zero-width spaces ride along free", "ab" + zwsp + "cd" + zwsp + "ef", 2, 1, 6, 11, false},
        {"empty", "", 5, 0, 0, 0, true},
    };
    for (const auto& c : cases) {
        const CaptionWindow w = captionWindow(c.caption, c.reach);
        EXPECT_EQ(std::tuple(w.begin, w.middle, w.end, w.whole), std::tuple(c.begin, c.middle, c.end, c.whole)) << c.name;
    }
}

TEST(CaptionWindow, StopsWalkingARunOfZeroWidthCharacters)
{
    std::string marks;
    for (int i = 0; i < 10'000; ++i) marks += "\xCC\x81";
    const CaptionWindow w = captionWindow("a" + marks + "b", 4);
    EXPECT_FALSE(w.whole);
    EXPECT_LE(w.end - w.begin, 2u * 64 * 4 * 2);  // 64 times the reach on each side, two bytes each
}

constexpr int FW = 640;
constexpr int FH = 120;

// A caption is centred whole; a long one is laid out only around its middle and shows on the frame what
// the whole layout shows there: periodic text whose middle falls between two periods has its pixel
// centre at that boundary.
TEST(CaptionCache, ShowsWhatTheWholeCentredLayoutShows)
{
    std::string longCaption;
    for (int i = 0; i < 4000; ++i) longCaption += "Patch ab ";  // 36,000 characters, far beyond 2 x 1,296
    for (const auto& [caption, lit] : {std::pair{std::string("Patch 12 of 40"), 500}, {longCaption, 1000}}) {
        for (double centreX : {300.0, 320.0, 100.5, 600.0}) {
            CoveragePainter painter;
            CoverageMask whole;
            painter.text(whole, caption, 18, centreX - painter.textWidth(caption, 18) / 2, 80, FW, FH);
            ASSERT_GT(litPixels(whole), lit);

            CaptionCache cache;
            CoveragePainter own;
            const CoverageMask& windowed = cache.mask(own, caption, 18, centreX, 80, FW, FH);
            EXPECT_TRUE(sameCoverage(windowed, whole, FW, FH)) << caption.size() << " bytes, centre " << centreX;
        }
    }
}

TEST(CaptionCache, DrawsAgainWhenTheTextOrItsPlaceChanges)
{
    CoveragePainter painter;
    CaptionCache cache;
    const auto snapshot = [&](const std::string& text, double centreX, double bottom) {
        const CoverageMask& m = cache.mask(painter, text, 18, centreX, bottom, FW, FH);
        CoverageMask copy = m;
        return copy;
    };
    const CoverageMask first = snapshot("AAAA", 200, 80);
    // Same length, other letters; then the same text moved; then back: every answer is fresh.
    const CoverageMask other = snapshot("VVVV", 200, 80);
    EXPECT_FALSE(sameCoverage(first, other, FW, FH));
    const CoverageMask moved = snapshot("AAAA", 260, 60);
    EXPECT_EQ(moved.x - first.x, 60);
    EXPECT_EQ(moved.y - first.y, -20);
    EXPECT_TRUE(sameCoverage(snapshot("AAAA", 200, 80), first, FW, FH));
    EXPECT_TRUE(snapshot("", 200, 80).empty());
    EXPECT_TRUE(sameCoverage(snapshot("AAAA", 200, 80), first, FW, FH));
}

TEST(CaptionCache, NulBytesKeepTheMiddleWhereItWas)
{
    // NUL bytes become U+FFFD (three bytes) for the layout: the middle must follow.
    std::string caption;
    for (int i = 0; i < 3000; ++i) caption += std::string("ab\0 ", 4);
    std::string replaced;
    for (int i = 0; i < 3000; ++i) replaced += "ab\xEF\xBF\xBD ";
    CoveragePainter painter;
    CaptionCache withNul, withReplacement;
    EXPECT_TRUE(sameCoverage(withNul.mask(painter, caption, 18, 320, 80, FW, FH),
                             withReplacement.mask(painter, replaced, 18, 320, 80, FW, FH), FW, FH));
}

// The patch's edge is antialiased: pixels the ellipse covers in part take in-between coverage, and
// those values fall from the inside out along a radius.
TEST(CoveragePainter, EllipseEdgesArePartlyCovered)
{
    CoveragePainter painter;
    CoverageMask mask;
    painter.ellipse(mask, 10.3, 20.6, 101.4, 61.2, 200, 120);
    ASSERT_FALSE(mask.empty());
    int partial = 0, full = 0;
    for (auto a : mask.alpha) {
        partial += a > 0 && a < 255;
        full += a == 255;
    }
    EXPECT_GT(full, 3000);
    // Every edge pixel of a smooth outline is partly covered: about the perimeter's length of them.
    EXPECT_GT(partial, 200);
    // Along the horizontal radius through the centre row: full, then in-between, then none.
    const int row = 51;
    EXPECT_EQ(coverage(mask, 60, row), 255);
    EXPECT_EQ(coverage(mask, 112, row), 0);
    const int edge = coverage(mask, 111, row);  // the outline crosses this pixel at x = 111.7
    EXPECT_GT(edge, 0);
    EXPECT_LT(edge, 255);
    const int left = coverage(mask, 10, row);  // crossed at x = 10.3
    EXPECT_GT(left, 0);
    EXPECT_LT(left, 255);
    for (int x = 100; x < 112; ++x) EXPECT_GE(coverage(mask, x, row), coverage(mask, x + 1, row)) << x;
}

TEST(FrameRenderer, PatchEdgePixelsTakeLevelsBetweenPatchAndSurround)
{
    PatchView view(2.0);
    view.patch = {50.25, 40.5, 120.5, 90.25};
    view.rgb = {255, 255, 255};
    view.mode = Mode::flat;
    std::vector<std::uint32_t> pixels(300 * 200, 0);
    FrameRenderer renderer;
    renderer.render(view, FrameBuffer{pixels.data(), 300, 200, 300, PixelFormat::xrgb8888});
    int between = 0;
    for (int y = 0; y < 200; ++y) {
        for (int x = 0; x < 300; ++x) {
            // The patch's surroundings, away from the hint text in the lower-left corner.
            if (x < 40 || x > 180 || y < 60 || y > 170) continue;
            const int level = int(pixels[std::size_t(y) * 300 + x] & 0xFF);
            between += level > 0 && level < 255;
        }
    }
    EXPECT_GT(between, 200);
}

}  // namespace
}  // namespace pp
