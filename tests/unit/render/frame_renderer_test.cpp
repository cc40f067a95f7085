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
std::ostream& operator<<(std::ostream& os, const Rgb& c) { return os << c.r << "," << c.g << "," << c.b; }

constexpr int W = 400;
constexpr int H = 250;  // not a multiple of 16: the tile grid's anchoring shows

// A frame in memory, read back pixel by pixel; `row` counts from the top, view y from the bottom.
struct Frame {
    int width, height, stride;
    PixelFormat format;
    std::vector<std::uint32_t> pixels;
    double scale = 1;
    std::uint32_t padding = 0;

    Frame(int w = W, int h = H, PixelFormat f = PixelFormat::xrgb8888, int s = 0)
        : width(w), height(h), stride(s ? s : w), format(f), pixels(std::size_t(stride) * h, 0xDEADBEEF) {}
    FrameBuffer buffer() { return {pixels.data(), width, height, stride, format, scale, padding}; }
    std::uint32_t raw(int x, int row) const { return pixels[std::size_t(row) * stride + x]; }
    Rgb at(int x, int row) const  // 0-255, or 0-1023 on a 10-bit frame
    {
        const std::uint32_t p = raw(x, row);
        if (format == PixelFormat::xrgb2101010) return {int(p >> 20 & 1023), int(p >> 10 & 1023), int(p & 1023)};
        return {int(p >> 16 & 255), int(p >> 8 & 255), int(p & 255)};
    }
    Rgb atView(double x, double y) const { return at(int(std::floor(x)), height - 1 - int(std::floor(y))); }
};

Frame render(const PatchView& view, int bits = 8, Frame frame = Frame())
{
    FrameRenderer renderer;
    renderer.setSurfaceBits(bits);
    renderer.render(view, frame.buffer());
    return frame;
}

PatchView viewOf(Rect patch, std::array<double, 3> rgb = {0, 0, 0}, const char* mode = "dither")
{
    PatchView view(2.0);
    view.patch = patch;
    view.rgb = rgb;
    view.mode = *modeWord(mode);
    return view;
}

bool isGrey(Rgb c) { return c.r > 0 && c.r == c.g && c.g == c.b; }
bool isRed(Rgb c) { return c.r > 60 && c.g < c.r / 3 && c.b < c.r / 3; }

// The frame rows in [row0, row1) holding a pixel in columns [x0, x1) for which `pick` holds.
template <typename Pick>
std::vector<int> rowsWith(const Frame& f, int x0, int x1, int row0, int row1, Pick pick)
{
    std::vector<int> rows;
    for (int row = row0; row < row1; ++row)
        for (int x = x0; x < x1; ++x)
            if (pick(f.at(x, row))) {
                rows.push_back(row);
                break;
            }
    return rows;
}

// Whether the frame's rows [row0, row1) and columns [x0, x1) show `tile` anchored at the frame's
// bottom-left pixel, y up, its top row stored first: the pixel row k counted from the bottom shows tile
// row 15 - k mod 16.
::testing::AssertionResult showsTile(const Frame& f, const DitherTile& tile, int x0, int x1, int row0, int row1)
{
    for (int row = row0; row < row1; ++row)
        for (int x = x0; x < x1; ++x) {
            const std::uint8_t* p = tile.data() + (15 - (f.height - 1 - row) % 16) * 64 + (x % 16) * 4;
            const Rgb want{p[0], p[1], p[2]};
            if (!(f.at(x, row) == want))
                return ::testing::AssertionFailure() << f.at(x, row) << " at " << x << "," << row << ", the tile has " << want;
        }
    return ::testing::AssertionSuccess();
}

const Rect CENTRED{150, 75, 100, 100};
const std::array<double, 3> FRACTIONS{127.3, 10.99, 254.5};

TEST(FrameRenderer, InitialPictureIsBlackWithTheHintInTheBottomLeftCorner)
{
    const Frame f = render(viewOf(CENTRED));
    int brightest = 0;
    for (int row = 0; row < H; ++row)
        for (int x = 0; x < W; ++x) {
            const Rgb c = f.at(x, row);
            if (c == Rgb{}) continue;
            ASSERT_TRUE(isGrey(c) && x >= 22 && x < 110 && row >= H - 18 - 20 && row < H - 18)
                << c << " at " << x << "," << row;
            brightest = std::max(brightest, c.r);
        }
    EXPECT_EQ(brightest, 89);  // text grey 0.35 where a stem covers whole pixels
    EXPECT_GE(rowsWith(f, 24, 100, H - 18 - 13, H - 18, isGrey).size(), 8u);
}

struct FillCase {
    const char* mode;
    std::array<double, 3> rgb, surround;
    Rgb patch, around;
};

class Fill : public ::testing::TestWithParam<FillCase> {};

TEST_P(Fill, ClampsEachComponentWhenDrawn)
{
    const FillCase& c = GetParam();
    PatchView view = viewOf(CENTRED, c.rgb, c.mode);
    view.surround = c.surround;
    const Frame f = render(view, c.mode == std::string("deep") ? 16 : 8);
    for (int d : {-30, 0, 30}) EXPECT_EQ(f.atView(200 + d, 125 - d), c.patch) << d;
    EXPECT_EQ(f.atView(151, 76), c.around);  // inside the box, outside the ellipse
    EXPECT_EQ(f.atView(W - 1, H - 1), c.around);
}

INSTANTIATE_TEST_SUITE_P(Modes, Fill,
                         ::testing::Values(FillCase{"flat", {300, -5, 20}, {0, 0, 0}, {255, 0, 20}, {0, 0, 0}},
                                           FillCase{"deep", {300, -5, 20}, {-1, 256, 128}, {255, 0, 20}, {0, 255, 128}},
                                           FillCase{"dither", {300, -5, 20}, {7, 8, 9}, {255, 0, 20}, {7, 8, 9}},
                                           FillCase{"Dither", {12.5, 0, 0}, {0, 0, 0}, {13, 0, 0}, {0, 0, 0}}));

TEST(FrameRenderer, DitherTileIsAnchoredAtTheBottomLeftCorner)
{
    for (int height : {250, 256, 263}) {
        const Frame f = render(viewOf({100, -40, 200, 160}, FRACTIONS), 8, Frame(W, height));
        EXPECT_TRUE(showsTile(f, ditherTile(FRACTIONS), 160, 240, height - 100, height)) << "height " << height;
    }
}

TEST(FrameRenderer, DitherPatternStaysPutWhenThePatchMoves)
{
    const Frame before = render(viewOf({100, 50, 120, 120}, FRACTIONS));
    const Frame after = render(viewOf({105, 57, 120, 120}, FRACTIONS));
    bool centreDiffers = false;
    for (int y = 90; y < 150; ++y)
        for (int x = 140; x < 200; ++x) {
            ASSERT_EQ(before.atView(x, y), after.atView(x, y)) << x << "," << y;
            centreDiffers |= y < 106 && x < 156 && !(before.atView(x + 20, y + 20) == after.atView(x + 25, y + 27));
        }
    EXPECT_TRUE(centreDiffers) << "the same part of the tile fell on the moved patch's centre";
}

TEST(FrameRenderer, RingRadiusUsesTheLargerSideOfThePatch)
{
    for (Rect patch : {Rect{100, 75, 200, 100}, Rect{150, 25, 100, 200}}) {
        PatchView view = viewOf(patch);
        view.mark = true;
        const Frame f = render(view);
        std::vector<double> red;  // distances along the diagonal, beyond the ellipse: only the ring is there
        for (double t = 70; t < 170; t += 0.25)
            if (isRed(f.atView(200 + t / std::sqrt(2.0), 125 + t / std::sqrt(2.0)))) red.push_back(t);
        ASSERT_FALSE(red.empty());
        EXPECT_NEAR(red.front(), 100 + 15 * 2.0, 2.5);
        EXPECT_NEAR(red.back(), 100 + 15 * 2.0, 2.5);
        EXPECT_TRUE(isRed(f.atView(200 + 158, 125)) && !isRed(f.atView(200 + 163, 125)));  // arm: R + 30
        EXPECT_TRUE(isRed(f.atView(207, 132)) && !isRed(f.atView(214, 139)));                // dot: radius 10
    }
}

TEST(FrameRenderer, CaptionSits24PointsAboveThePatchOrTheMarksArm)
{
    for (bool mark : {false, true}) {
        PatchView view = viewOf({170, 20, 60, 50}, {0, 0, 200}, "flat");
        view.caption = "CAPTION 24";
        view.mark = mark;
        const Frame f = render(view, 8, Frame(W, 400));
        const int boxBottom = 400 - int((mark ? 45 + view.markRing() + 30 : 70) + 24);
        const std::vector<int> rows = rowsWith(f, 100, 300, 0, boxBottom + 10, isGrey);
        ASSERT_FALSE(rows.empty());
        // Capitals and digits stand on the baseline, a few pixels above the text box's bottom.
        EXPECT_TRUE(rows.back() < boxBottom && rows.back() >= boxBottom - 7) << rows.back() << " mark " << mark;
        int left = W, right = 0;
        for (int x = 100; x < 300; ++x)
            if (!rowsWith(f, x, x + 1, rows.front(), rows.back() + 1, isGrey).empty()) {
                left = std::min(left, x);
                right = x;
            }
        EXPECT_NEAR((left + right + 1) / 2.0, 200, 3) << "centred over the patch";
    }
}

TEST(FrameRenderer, EmptyCaptionDrawsNothingEvenAfterACaption)
{
    PatchView view = viewOf(CENTRED, {0, 60, 200}, "flat");
    Frame without, with, again;
    FrameRenderer renderer;
    renderer.render(view, without.buffer());
    view.caption = "Caption";
    renderer.render(view, with.buffer());
    view.caption = "";
    renderer.render(view, again.buffer());
    EXPECT_NE(with.pixels, without.pixels);
    EXPECT_EQ(again.pixels, without.pixels);
    EXPECT_TRUE(rowsWith(without, 0, W, 0, H - 40, isGrey).empty());
}

TEST(FrameRenderer, CaptionThatIsNotUtf8IsDrawnWithoutAWordOnStandardError)
{
    PatchView view = viewOf(CENTRED, {0, 0, 200}, "flat");
    static constexpr char CAPTION[] = "bad \xff\xfe byte and \0 NUL";
    view.caption = std::string(CAPTION, sizeof CAPTION - 1);
    ::testing::internal::CaptureStderr();
    const Frame f = render(view);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
    EXPECT_FALSE(rowsWith(f, 0, W, 0, H - 175 - 10, isGrey).empty());
}

TEST(FrameRenderer, PatchDrawnOverTheHintCoversIt)
{
    const Frame f = render(viewOf({-100, -60, 400, 200}, {0, 0, 200}, "flat"));
    for (int row = H - 40; row < H - 10; ++row)
        for (int x = 15; x < 120; ++x) ASSERT_EQ(f.at(x, row), (Rgb{0, 0, 200})) << x << "," << row;
}

PatchView everything(const char* mode)
{
    PatchView view = viewOf({140.3, 60.7, 121.5, 90.25}, {127.25, 64.5, 10.75}, mode);
    view.surround = {20.4, 30.6, 200.5};
    view.caption = "Deep or flat";
    view.mark = true;
    return view;
}

TEST(FrameRenderer, DeepAndFlatGiveTheSamePixelsOnAnEightBitScreen)
{
    // Fractions, text and antialiased edges included: no pixel may differ.
    EXPECT_EQ(render(everything("flat"), 8).pixels, render(everything("deep"), 16).pixels);
}

TEST(FrameRenderer, TenBitScreenGetsReplicatedLevelsFromEightBitsAndRoundedOnesFromSixteen)
{
    const Frame eight = render(everything("dither"), 8);
    const Frame eightOnTen = render(everything("dither"), 8, Frame(W, H, PixelFormat::xrgb2101010));
    const Frame deep = render(everything("deep"), 16);
    const Frame deepOnTen = render(everything("deep"), 16, Frame(W, H, PixelFormat::xrgb2101010));
    auto replicated = [](Rgb c) { return Rgb{c.r << 2 | c.r >> 6, c.g << 2 | c.g >> 6, c.b << 2 | c.b >> 6}; };
    int brightestGrey = 0;
    for (int row = 0; row < H; ++row)
        for (int x = 0; x < W; ++x) {
            ASSERT_EQ(eightOnTen.at(x, row), replicated(eight.at(x, row))) << x << "," << row;
            const Rgb e = deep.at(x, row), t = deepOnTen.at(x, row);
            for (auto [v8, v10] : {std::pair{e.r, t.r}, {e.g, t.g}, {e.b, t.b}})
                ASSERT_NEAR(v10 / 1023.0, v8 / 255.0, 0.5 / 255 + 0.5 / 1023) << x << "," << row;
            if (x < 200 && row > H - 40 && isGrey(t)) brightestGrey = std::max(brightestGrey, t.r);
        }
    EXPECT_EQ(brightestGrey, 358);  // the hint's grey, round(0.35 x 1023), not 89 replicated (357)
}

TEST(FrameRenderer, DeepFillsAreExactTo16Bits)
{
    auto ten = [](double c) { return int(std::lround(std::lround(c * 257) / 65535.0 * 1023)); };
    FrameRenderer renderer;
    renderer.setSurfaceBits(16);
    Frame f(80, 60, PixelFormat::xrgb2101010);
    for (int k = 0; k <= 255 * 4; ++k) {
        const double c = k / 4.0;  // whole levels and quarters; a whole level c reads round(c / 255 x 1023)
        PatchView view = viewOf({20, 10, 40, 40}, {c, 255 - c, c}, "deep");
        view.surround = {255 - c, c, 0};
        renderer.render(view, f.buffer());
        ASSERT_EQ(f.atView(40, 30), (Rgb{ten(c), ten(255 - c), ten(c)})) << c;
        ASSERT_EQ(f.atView(75, 55), (Rgb{ten(255 - c), ten(c), 0})) << c;
    }
    EXPECT_EQ(ten(127.25), 510);  // the 8-bit surface shows 127 replicated: 509
    const Frame flat =
        render(viewOf({20, 10, 40, 40}, {127.25, 0, 0}, "flat"), 8, Frame(80, 60, PixelFormat::xrgb2101010));
    EXPECT_EQ(flat.atView(40, 30).r, 509);
}

TEST(FrameRenderer, KeepsToTheRowsOfAPaddedTarget)
{
    PatchView view = everything("flat");
    view.patch = {-20, -20, 120, 120};
    for (int bits : {8, 16}) {
        const Frame f = render(view, bits, Frame(W, H, PixelFormat::xrgb8888, W + 7));
        for (int row = 0; row < H; ++row)
            for (int x = W; x < W + 7; ++x) ASSERT_EQ(f.raw(x, row), 0xDEADBEEFu) << x << "," << row;
    }
}

// At a backing scale of 2 the view keeps its points: the patch covers twice as many device pixels each
// way, while the dither tile stays one tile pixel per device pixel, anchored at the bottom-left pixel.
TEST(FrameRenderer, BackingScaleEnlargesShapesButNotTheDitherTile)
{
    for (double scale : {1.0, 2.0, 3.0}) {
        Frame frame(int(W * scale), int(H * scale) + 5);
        frame.scale = scale;
        const Rect patch{100, 40, 100, 60};  // points; the ellipse's box
        const Frame f = render(viewOf(patch, FRACTIONS), 8, frame);
        const auto inPatch = [&](Rgb c) { return !(c == Rgb{0, 0, 0}); };
        // The ellipse's horizontal diameter through its centre row, in device pixels.
        const int centreRow = f.height - int((patch.y + patch.height / 2) * scale);
        int first = -1, last = -1;
        for (int x = 0; x < f.width; ++x)
            if (inPatch(f.at(x, centreRow))) {
                if (first < 0) first = x;
                last = x;
            }
        EXPECT_NEAR(last - first + 1, patch.width * scale, 1.5) << scale;
        EXPECT_NEAR(first, patch.x * scale, 1) << scale;
        EXPECT_TRUE(showsTile(f, ditherTile(FRACTIONS), int(130 * scale), int(170 * scale), centreRow - 8, centreRow + 8))
            << "scale " << scale;
    }
}

// The unused bits a window asks for are set in every pixel, whatever drew it, and change no sample.
TEST(FrameRenderer, PaddingBitsAreSetInEveryPixelAndLeaveTheSamplesAlone)
{
    for (auto [format, padding] : {std::pair{PixelFormat::xrgb8888, 0xFF000000u},
                                   std::pair{PixelFormat::xrgb2101010, 0xC0000000u}}) {
        for (const char* mode : {"flat", "dither", "deep"}) {
            PatchView view = everything(mode);
            Frame plain(W, H, format);
            Frame padded(W, H, format);
            padded.padding = padding;
            const int bits = mode == std::string("deep") ? 16 : 8;
            plain = render(view, bits, plain);
            padded = render(view, bits, padded);
            for (std::size_t i = 0; i < plain.pixels.size(); ++i) {
                ASSERT_EQ(padded.pixels[i], plain.pixels[i] | padding) << mode << " pixel " << i;
            }
        }
    }
}

// A rectangular patch covers exactly the device pixels between its edges rounded to whole pixels: full
// colour inside, the surround one pixel beyond, never a blended edge.
TEST(FrameRenderer, ARectangularPatchHasPixelExactEdges)
{
    struct Case {
        Rect patch;     // view points, y up
        double scale;
        int left, right, top, bottom;  // the covered device pixels: columns [left, right), rows [top, bottom)
    };
    const Case cases[] = {
        {{100, 50, 120, 80}, 1, 100, 220, H - 130, H - 50},
        {{100.4, 50.6, 119.9, 80.2}, 1, 100, 220, H - 131, H - 51},  // edges rounded, not the size
        {{150, 20, 60, 40}, 2, 300, 420, 2 * H - 120, 2 * H - 40},
        {{-30, -20, 80, 60}, 1, 0, 50, H - 40, H},                   // clipped at the bottom-left corner
        {{0, 0, W, H}, 1, 0, W, 0, H},                                // the whole screen
    };
    for (const auto& c : cases) {
        PatchView view = viewOf(c.patch, {200, 100, 50}, "flat");
        view.shape = PatchShape::rectangle;
        view.surround = {10, 20, 30};
        Frame frame(int(W * c.scale), int(H * c.scale));
        frame.scale = c.scale;
        const Frame f = render(view, 8, frame);
        const Rgb patch{200, 100, 50}, surround{10, 20, 30};
        const int midX = (c.left + c.right) / 2, midRow = (c.top + c.bottom) / 2;
        for (int row : {c.top, c.bottom - 1})
            for (int x : {c.left, midX, c.right - 1}) EXPECT_EQ(f.at(x, row), patch) << x << "," << row;
        if (c.left > 0) {
            EXPECT_EQ(f.at(c.left - 1, midRow), surround);
        }
        if (c.right < f.width) {
            EXPECT_EQ(f.at(c.right, midRow), surround);
        }
        if (c.top > 0 && c.right < f.width) {
            EXPECT_EQ(f.at(midX, c.top - 1), surround);
        }
        if (c.bottom < f.height) {
            EXPECT_EQ(f.at(midX, c.bottom), surround);
        }
        int covered = 0;
        for (int row = 0; row < f.height; ++row)
            for (int x = 0; x < f.width; ++x) covered += f.at(x, row) == patch;
        EXPECT_EQ(covered, (c.right - c.left) * (c.bottom - c.top));
    }
}

// A rectangle in dither mode shows the tile anchored at the display's bottom-left corner, like the ellipse.
TEST(FrameRenderer, ARectangularPatchInDitherModeShowsTheAnchoredTile)
{
    PatchView view = viewOf({0, 0, W, H}, {127.25, 64, 10});
    view.shape = PatchShape::rectangle;
    EXPECT_TRUE(showsTile(render(view), ditherTile(view.rgb), 0, 32, 0, 32));
}

}  // namespace
}  // namespace pp
