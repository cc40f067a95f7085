#include "render/frame_renderer.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "render/dither_tile.hpp"

namespace pp {
namespace {

struct Rgb {
    int r = 0, g = 0, b = 0;
    bool operator==(const Rgb&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Rgb& c)
{
    return os << "(" << c.r << ", " << c.g << ", " << c.b << ")";
}

// A frame in memory, read back pixel by pixel. Rows run top first; `row` counts from the top.
struct Frame {
    int width, height, stride;
    PixelFormat format;
    std::vector<std::uint32_t> pixels;

    Frame(int w, int h, PixelFormat f = PixelFormat::xrgb8888, int s = 0)
        : width(w), height(h), stride(s ? s : w), format(f), pixels(static_cast<std::size_t>(stride) * h, 0xDEADBEEF)
    {
    }
    FrameBuffer buffer() { return {pixels.data(), width, height, stride, format}; }
    std::uint32_t raw(int x, int row) const { return pixels[static_cast<std::size_t>(row) * stride + x]; }
    // The channels at column x, frame row `row`: 0-255, or 0-1023 on a 10-bit frame.
    Rgb at(int x, int row) const
    {
        const std::uint32_t p = raw(x, row);
        if (format == PixelFormat::xrgb2101010) return {int(p >> 20 & 1023), int(p >> 10 & 1023), int(p & 1023)};
        return {int(p >> 16 & 255), int(p >> 8 & 255), int(p & 255)};
    }
    // The pixel holding view point (x, y): y counts up from the bottom edge.
    Rgb atView(double x, double y) const { return at(int(std::floor(x)), height - 1 - int(std::floor(y))); }
};

constexpr int W = 400;
constexpr int H = 250;  // not a multiple of 16: the tile grid's anchoring shows

Frame render(const PatchView& view, int bits = 8, PixelFormat format = PixelFormat::xrgb8888, int w = W, int h = H)
{
    Frame frame(w, h, format);
    FrameRenderer renderer(w, h);
    renderer.setSurfaceBits(bits);
    renderer.render(view, frame.buffer());
    return frame;
}

PatchView viewWithPatch(Rect patch, std::array<double, 3> rgb = {0, 0, 0}, const char* mode = "dither")
{
    PatchView view(2.0);
    view.patch = patch;
    view.rgb = rgb;
    view.mode = mode;
    return view;
}

bool isGrey(Rgb c) { return c.r > 0 && c.r == c.g && c.g == c.b; }
bool isRed(Rgb c) { return c.r > 60 && c.g < c.r / 3 && c.b < c.r / 3; }

// Frame rows holding any pixel for which `pick` holds, within columns [x0, x1) and rows [row0, row1).
template <typename Pick>
std::vector<int> rowsWith(const Frame& f, int x0, int x1, int row0, int row1, Pick pick)
{
    std::vector<int> rows;
    for (int row = std::max(0, row0); row < std::min(f.height, row1); ++row)
        for (int x = std::max(0, x0); x < std::min(f.width, x1); ++x)
            if (pick(f.at(x, row))) {
                rows.push_back(row);
                break;
            }
    return rows;
}

const Rect CENTRED{150, 75, 100, 100};

TEST(FrameRenderer, InitialPictureIsBlackWithTheHintInTheBottomLeftCorner)
{
    PatchView view(2.0);
    view.patch = CENTRED;
    const Frame f = render(view);
    int hintPixels = 0, brightest = 0;
    for (int row = 0; row < H; ++row) {
        for (int x = 0; x < W; ++x) {
            const Rgb c = f.at(x, row);
            if (c == Rgb{}) continue;
            ASSERT_TRUE(isGrey(c)) << c << " at " << x << "," << row;
            ASSERT_TRUE(x >= 22 && x < 110 && row >= H - 18 - 20 && row < H - 18) << "ink at " << x << "," << row;
            ++hintPixels;
            brightest = std::max(brightest, c.r);
        }
    }
    EXPECT_GT(hintPixels, 60);
    EXPECT_EQ(brightest, 89);  // text grey 0.35 where a stem covers a whole pixel
    EXPECT_FALSE(rowsWith(f, 24, 100, H - 18 - 13, H - 18, isGrey).empty());
}

struct FillCase {
    const char* mode;
    std::array<double, 3> rgb;
    std::array<double, 3> surround;
    Rgb patch;
    Rgb around;
};

class FlatFill : public ::testing::TestWithParam<FillCase> {};

TEST_P(FlatFill, ClampsEachComponentWhenDrawn)
{
    const FillCase& c = GetParam();
    PatchView view = viewWithPatch(CENTRED, c.rgb, c.mode);
    view.surround = c.surround;
    const Frame f = render(view);
    for (double dx : {-40.0, 0.0, 40.0})
        for (double dy : {-40.0, 0.0, 40.0})
            if (dx * dx + dy * dy < 45 * 45) {
                EXPECT_EQ(f.atView(200 + dx, 125 + dy), c.patch) << dx << "," << dy;
            }
    EXPECT_EQ(f.atView(150, 75), c.around);  // the box's corner lies outside the ellipse
    EXPECT_EQ(f.atView(W - 1, H - 1), c.around);
    EXPECT_EQ(view.rgb, c.rgb);
}

INSTANTIATE_TEST_SUITE_P(
    Modes, FlatFill,
    ::testing::Values(FillCase{"flat", {300, -5, 20}, {0, 0, 0}, {255, 0, 20}, {0, 0, 0}},
                      FillCase{"deep", {300, -5, 20}, {-1, 256, 128}, {255, 0, 20}, {0, 255, 128}},
                      FillCase{"dither", {300, -5, 20}, {7, 8, 9}, {255, 0, 20}, {7, 8, 9}},
                      FillCase{"Dither", {12.5, 0, 0}, {0, 0, 0}, {13, 0, 0}, {0, 0, 0}}));

// The tile row shown on frame row `row` when the tile's rectangle sits at the view origin (y up): the
// view's pixel row k from the bottom shows tile row 15 - k mod 16 (tile rows are stored top first).
int tileRowFor(int row, int height)
{
    const int k = height - 1 - row;
    return 15 - k % 16;
}

Rgb tilePixel(const DitherTile& tile, int tileRow, int column)
{
    const std::uint8_t* p = tile.data() + tileRow * 64 + column * 4;
    return {p[0], p[1], p[2]};
}

TEST(FrameRenderer, DitherTileFillsTheEllipseOnAGridAnchoredAtTheBottomLeftCorner)
{
    const std::array<double, 3> rgb{127.3, 10.99, 254.5};
    const DitherTile tile = ditherTile(rgb);
    for (int height : {250, 256, 263}) {
        const Frame f = render(viewWithPatch({100, -40, 200, 160}, rgb), 8, PixelFormat::xrgb8888, W, height);
        // The patch reaches past the bottom edge: the bottom row shows the tile's bottom row.
        for (int x = 160; x < 240; ++x) ASSERT_EQ(f.at(x, height - 1), tilePixel(tile, 15, x % 16)) << x;
        for (int row = height - 100; row < height; ++row)
            for (int x = 160; x < 240; ++x)
                ASSERT_EQ(f.at(x, row), tilePixel(tile, tileRowFor(row, height), x % 16))
                    << "height " << height << " pixel " << x << "," << row;
    }
}

TEST(FrameRenderer, DitherPatternStaysPutWhenThePatchMoves)
{
    const std::array<double, 3> rgb{127.3, 10.99, 254.5};
    const Frame before = render(viewWithPatch({100, 50, 120, 120}, rgb));
    const Frame after = render(viewWithPatch({105, 57, 120, 120}, rgb));
    int compared = 0;
    for (int y = 90; y < 150; ++y)
        for (int x = 140; x < 200; ++x) {
            ASSERT_EQ(before.atView(x, y), after.atView(x, y)) << x << "," << y;
            ++compared;
        }
    EXPECT_EQ(compared, 3600);
    bool centreBlockDiffers = false;
    for (int dy = 0; dy < 16; ++dy)
        for (int dx = 0; dx < 16; ++dx)
            centreBlockDiffers |= !(before.atView(160 + dx, 110 + dy) == after.atView(165 + dx, 117 + dy));
    EXPECT_TRUE(centreBlockDiffers) << "the same part of the tile fell on the moved patch";
}

TEST(FrameRenderer, RingRadiusUsesTheLargerSideOfThePatch)
{
    for (bool wide : {true, false}) {
        PatchView view = viewWithPatch(wide ? Rect{100, 75, 200, 100} : Rect{150, 25, 100, 200});
        view.mark = true;
        const Frame f = render(view);
        // Along the diagonal from the centre (200, 125), beyond the ellipse: only the ring is red there.
        std::vector<double> hits;
        for (double t = 70; t < 200; t += 0.25) {
            const double d = t / std::sqrt(2.0);
            if (200 + d < W && 125 + d < H && isRed(f.atView(200 + d, 125 + d))) hits.push_back(t);
        }
        ASSERT_FALSE(hits.empty());
        const double ring = 100 + 15 * 2.0;
        EXPECT_NEAR(hits.front(), ring, 2.5);
        EXPECT_NEAR(hits.back(), ring, 2.5);
        // The arms reach R + 15 mm = 160 points from the centre.
        EXPECT_TRUE(isRed(f.atView(200 + 158, 125)));
        EXPECT_FALSE(isRed(f.atView(200 + 163, 125)));
        EXPECT_TRUE(isRed(f.atView(200, 125 - 110)));  // the vertical arm crosses the patch's lower half
        // The dot: radius 5 mm = 10 points.
        EXPECT_TRUE(isRed(f.atView(200 + 10 / std::sqrt(2.0), 125 + 10 / std::sqrt(2.0))));
        EXPECT_FALSE(isRed(f.atView(200 + 20 / std::sqrt(2.0), 125 + 20 / std::sqrt(2.0))));
    }
}

TEST(FrameRenderer, CaptionSits24PointsAboveThePatchOrTheMarksArm)
{
    for (bool mark : {false, true}) {
        PatchView view = viewWithPatch({170, 20, 60, 50}, {0, 0, 200}, "flat");
        view.caption = "CAPTION 24";
        view.mark = mark;
        const Frame f = render(view, 8, PixelFormat::xrgb8888, W, 400);
        const double base = mark ? 45 + view.markRing() + 15 * 2.0 : 70;
        const int boxBottom = 400 - int(base + 24);  // frame row just below the text box
        const std::vector<int> rows = rowsWith(f, 100, 300, 0, boxBottom + 10, isGrey);
        ASSERT_FALSE(rows.empty());
        // Capitals and digits sit on the baseline, a few pixels above the bottom of the text box.
        EXPECT_LT(rows.back(), boxBottom) << "mark " << mark;
        EXPECT_GE(rows.back(), boxBottom - 7) << "mark " << mark;
        int left = W, right = 0;
        for (int row : rows)
            for (int x = 100; x < 300; ++x)
                if (isGrey(f.at(x, row))) left = std::min(left, x), right = std::max(right, x);
        EXPECT_NEAR((left + right + 1) / 2.0, 200, 3) << "centred over the patch";
    }
}

TEST(FrameRenderer, EmptyCaptionDrawsNothingEvenAfterACaption)
{
    PatchView view = viewWithPatch(CENTRED, {0, 60, 200}, "flat");
    Frame without(W, H), with(W, H), again(W, H);
    FrameRenderer renderer(W, H);
    renderer.render(view, without.buffer());
    view.caption = "Caption";
    renderer.render(view, with.buffer());
    view.caption = "";
    renderer.render(view, again.buffer());
    EXPECT_NE(with.pixels, without.pixels);
    EXPECT_EQ(again.pixels, without.pixels);
    EXPECT_TRUE(rowsWith(without, 0, W, 0, H - 40, isGrey).empty());  // only the hint is grey
}

TEST(FrameRenderer, CaptionThatIsNotUtf8IsDrawnWithoutAWordOnStandardError)
{
    PatchView view = viewWithPatch(CENTRED, {0, 0, 200}, "flat");
    view.caption = std::string("bad \xff\xfe byte and \0 NUL", 24);
    ::testing::internal::CaptureStderr();
    const Frame f = render(view);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
    EXPECT_FALSE(rowsWith(f, 0, W, 0, H - 175 - 10, isGrey).empty());
}

TEST(FrameRenderer, PatchDrawnOverTheHintCoversIt)
{
    const Frame f = render(viewWithPatch({-100, -60, 400, 200}, {0, 0, 200}, "flat"));
    for (int row = H - 40; row < H - 10; ++row)
        for (int x = 15; x < 120; ++x) ASSERT_EQ(f.at(x, row), (Rgb{0, 0, 200})) << x << "," << row;
}

TEST(FrameRenderer, DeepAndFlatGiveTheSamePixelsOnAnEightBitScreen)
{
    // Everything at once, fractions included; no pixel may differ, antialiased edges and text neither.
    PatchView view = viewWithPatch({140.3, 60.7, 121.5, 90.25}, {127.25, 64.5, 10.75}, "flat");
    view.surround = {20.4, 30.6, 200.5};
    view.caption = "Deep or flat";
    view.mark = true;
    const Frame flat = render(view, 8);
    view.mode = "deep";
    const Frame deep = render(view, 16);
    EXPECT_EQ(flat.pixels, deep.pixels);
}

TEST(FrameRenderer, EightBitSurfaceReachesATenBitScreenByReplication)
{
    PatchView view = viewWithPatch({140.3, 60.7, 121.5, 90.25}, {127.3, 10.99, 254.5});
    view.surround = {20.4, 30.6, 200.5};
    view.caption = "Ten bits";
    view.mark = true;
    const Frame eight = render(view, 8, PixelFormat::xrgb8888);
    const Frame ten = render(view, 8, PixelFormat::xrgb2101010);
    auto replicate = [](int v) { return (v << 2) | (v >> 6); };
    for (int row = 0; row < H; ++row)
        for (int x = 0; x < W; ++x) {
            const Rgb e = eight.at(x, row);
            ASSERT_EQ(ten.at(x, row), (Rgb{replicate(e.r), replicate(e.g), replicate(e.b)})) << x << "," << row;
        }
}

TEST(FrameRenderer, DeepFillsAreExactTo16BitsOnATenBitScreen)
{
    auto expected10 = [](double c) { return int(std::lround(std::lround(c * 257) / 65535.0 * 1023)); };
    FrameRenderer renderer(80, 60);
    renderer.setSurfaceBits(16);
    Frame deep(80, 60, PixelFormat::xrgb2101010);
    for (int k = 0; k <= 255 * 4; ++k) {
        const double c = k / 4.0;  // whole levels and quarters
        PatchView view = viewWithPatch({20, 10, 40, 40}, {c, 255 - c, c}, "deep");
        view.surround = {255 - c, c, 0};
        renderer.render(view, deep.buffer());
        ASSERT_EQ(deep.atView(40, 30), (Rgb{expected10(c), expected10(255 - c), expected10(c)})) << c;
        ASSERT_EQ(deep.atView(75, 55), (Rgb{expected10(255 - c), expected10(c), 0})) << c;
        if (k % 4 == 0) {
            ASSERT_EQ(deep.atView(40, 30).r, int(std::lround(c / 255 * 1023))) << c;
        }
    }
    // On the 8-bit surface the quarter is lost: 127.25 shows as 127 replicated.
    const Frame flat = render(viewWithPatch({20, 10, 40, 40}, {127.25, 0, 0}, "flat"), 8, PixelFormat::xrgb2101010, 80, 60);
    EXPECT_EQ(flat.atView(40, 30).r, 509);
    EXPECT_EQ(expected10(127.25), 510);
}

TEST(FrameRenderer, DeepOverlaysOnATenBitScreenAgreeWithTheEightBitPicture)
{
    PatchView view = viewWithPatch({140.3, 60.7, 121.5, 90.25}, {127.25, 64.5, 10.75}, "deep");
    view.caption = "Deep";
    view.mark = true;
    const Frame eight = render(view, 16, PixelFormat::xrgb8888);
    const Frame ten = render(view, 16, PixelFormat::xrgb2101010);
    int brightestGrey = 0;
    for (int row = 0; row < H; ++row)
        for (int x = 0; x < W; ++x) {
            const Rgb e = eight.at(x, row), t = ten.at(x, row);
            ASSERT_NEAR(t.r / 1023.0, e.r / 255.0, 0.5 / 255 + 0.5 / 1023) << x << "," << row;
            ASSERT_NEAR(t.g / 1023.0, e.g / 255.0, 0.5 / 255 + 0.5 / 1023) << x << "," << row;
            ASSERT_NEAR(t.b / 1023.0, e.b / 255.0, 0.5 / 255 + 0.5 / 1023) << x << "," << row;
            if (isGrey(t)) brightestGrey = std::max(brightestGrey, t.r);
        }
    EXPECT_EQ(brightestGrey, 358);  // round(0.35 x 1023): the text grey at 16 bits, not 89 replicated (357)
}

TEST(FrameRenderer, KeepsToTheRowsOfAPaddedTarget)
{
    PatchView view = viewWithPatch({-20, -20, 120, 120}, {10, 20, 30}, "flat");
    view.mark = true;
    view.caption = "edge";
    for (int bits : {8, 16}) {
        Frame f(W, H, PixelFormat::xrgb8888, W + 7);
        FrameRenderer renderer(W, H);
        renderer.setSurfaceBits(bits);
        renderer.render(view, f.buffer());
        for (int row = 0; row < H; ++row)
            for (int x = W; x < W + 7; ++x) ASSERT_EQ(f.raw(x, row), 0xDEADBEEFu) << x << "," << row;
        EXPECT_EQ(f.atView(5, 5), (Rgb{10, 20, 30}));
    }
}

TEST(FrameRenderer, PatchWithoutAreaDrawsNoPatch)
{
    PatchView view = viewWithPatch({200, 100, 0, 50}, {255, 255, 255}, "flat");
    const Frame f = render(view);
    EXPECT_TRUE(rowsWith(f, 0, W, 0, H, [](Rgb c) { return c.r > 100; }).empty());
}

}  // namespace
}  // namespace pp
