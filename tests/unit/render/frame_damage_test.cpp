// Drawing only what changed: the region arithmetic, the buffers' ages, and long random sequences of
// view changes whose every frame must be the frame a full redraw gives.
#include <gtest/gtest.h>

#include <array>
#include <random>
#include <string>
#include <vector>

#include "platform/buffer_ages.hpp"
#include "render/frame_renderer.hpp"
#include "render/pixel_region.hpp"

namespace pp {

// Found by argument-dependent lookup for failure messages.
static std::ostream& operator<<(std::ostream& os, const PixelRect& r)
{
    return os << "{" << r.x << "," << r.y << " " << r.width << "x" << r.height << "}";
}

namespace {

bool inside(const PixelRegion& region, int x, int y)
{
    for (const PixelRect& r : region.rects()) {
        if (x >= r.x && x < r.x + r.width && y >= r.y && y < r.y + r.height) return true;
    }
    return false;
}

struct RegionCase {
    const char* what;
    std::vector<PixelRect> added;
    std::vector<PixelRect> expected;
};

class PixelRegionTest : public ::testing::TestWithParam<RegionCase> {};

TEST_P(PixelRegionTest, ClipsAndJoins)
{
    PixelRegion region;
    for (const PixelRect& r : GetParam().added) region.add(r, 100, 50);
    const std::vector<PixelRect> got(region.rects().begin(), region.rects().end());
    EXPECT_EQ(got, GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PixelRegionTest,
    ::testing::Values(
        RegionCase{"empty and negative sizes add nothing", {{5, 5, 0, 10}, {5, 5, 10, -1}}, {}},
        RegionCase{"wholly outside adds nothing", {{100, 0, 5, 5}, {-10, 0, 10, 5}, {0, 50, 5, 5}}, {}},
        RegionCase{"clipped to the frame at every edge", {{-5, -5, 20, 20}, {90, 40, 30, 30}},
                   {{0, 0, 15, 15}, {90, 40, 10, 10}}},
        RegionCase{"apart stays apart", {{0, 0, 10, 10}, {20, 0, 10, 10}}, {{0, 0, 10, 10}, {20, 0, 10, 10}}},
        RegionCase{"touching edges join", {{0, 0, 10, 10}, {10, 0, 10, 10}}, {{0, 0, 20, 10}}},
        RegionCase{"overlap joins into the bounding box", {{0, 0, 10, 10}, {5, 5, 10, 10}}, {{0, 0, 15, 15}}},
        RegionCase{"a join that reaches a third takes it in", {{0, 0, 4, 12}, {10, 10, 4, 4}, {2, 0, 10, 2}},
                   {{0, 0, 14, 14}}},
        RegionCase{"far out coordinates do not overflow",
                   {{2147483000, 0, 2000, 5}, {-2147483000, 0, 2147483000, 5}, {-2147483000, 0, 2147483100, 5}},
                   {{0, 0, 100, 5}}}),
    [](const auto& info) { return "case" + std::to_string(info.index); });

TEST(PixelRegion, PastTheLimitEverythingIsOneBoxHoldingAllItHeld)
{
    PixelRegion region;
    std::vector<PixelRect> added;
    for (int i = 0; i <= int(PixelRegion::MAX_RECTS); ++i) {
        added.push_back({i * 10, (i % 2) * 30, 3, 3});
        region.add(added.back(), 100, 50);
    }
    ASSERT_EQ(region.rects().size(), 1u);
    for (const PixelRect& r : added) {
        EXPECT_TRUE(inside(region, r.x, r.y) && inside(region, r.x + 2, r.y + 2)) << r;
    }
}

TEST(BufferAges, CountPresentsSinceEachBufferWasDrawn)
{
    int a = 0, b = 0, c = 0;
    BufferAges ages;
    EXPECT_EQ(ages.age(&a), 0);
    ages.copiedNewest(&a);
    EXPECT_EQ(ages.age(&a), 0) << "nothing presented: nothing to copy";
    ages.presented(&a);
    EXPECT_EQ(ages.age(&a), 1);
    EXPECT_EQ(ages.age(&b), 0);
    ages.presented(&b);
    ages.presented(&b);
    EXPECT_EQ(ages.age(&a), 3);
    EXPECT_EQ(ages.age(&b), 1);
    ages.copiedNewest(&c);
    EXPECT_EQ(ages.age(&c), 1);
    ages.forget();
    EXPECT_EQ(ages.age(&a), 0);
    EXPECT_EQ(ages.age(&b), 0);
}

// Two buffers handed out the way a window does: the one shown last again (a copying server) or the
// other one (a flipping server, or a compositor still holding the last), now and then a buffer whose
// contents are lost; every present is recorded in the ages.
class Buffers {
public:
    Buffers(int width, int height, PixelFormat format) : width_(width), height_(height), format_(format)
    {
        for (auto& b : buffers_) b.assign(std::size_t(width) * height, 0xDEADBEEF);
    }

    FrameBuffer frame(std::mt19937& random, double scale, std::uint32_t padding)
    {
        const unsigned pick = random() % 8;
        if (pick == 0) {
            current_ = 1 - last_;
            std::fill(buffers_[current_].begin(), buffers_[current_].end(), 0x5A5A5A5A);
            ages_.forget();  // the buffers were made anew
        } else {
            current_ = pick < 5 ? last_ : 1 - last_;
        }
        FrameBuffer f{buffers_[current_].data(), width_, height_, width_, format_, scale, padding};
        f.age = ages_.age(f.pixels);
        if (ages_.age(buffers_[1 - current_].data()) == 1) f.shown = buffers_[1 - current_].data();
        return f;
    }

    void present()
    {
        ages_.presented(buffers_[current_].data());
        last_ = current_;
    }

    const std::vector<std::uint32_t>& shown() const { return buffers_[last_]; }

private:
    int width_, height_;
    PixelFormat format_;
    std::array<std::vector<std::uint32_t>, 2> buffers_;
    BufferAges ages_;
    int current_ = 0, last_ = 0;
};

// One random change to the view, of the kinds commands and the person make: colour (now and then the
// same again), a move anywhere including across the edges and corners, mark, caption, mode, surround,
// shape. Returns the drawing surface's bits.
int change(PatchView& view, std::mt19937& random, int width, int height, int bits)
{
    auto level = [&] { return double(random() % 1021) / 4; };
    static const std::array<std::string, 5> CAPTIONS{"", "patch 17 of 250", "é ü 漢字", "x",
                                                     std::string(300, 'w')};
    switch (random() % 10) {
    case 0:
    case 1:
        view.rgb = {level(), level(), level()};
        break;
    case 2:
        break;  // the same frame again
    case 3:
    case 4: {
        const double side = 10 + random() % 120;
        view.patch = {double(int(random() % (width + 80)) - 40) - side / 2,
                      double(int(random() % (height + 80)) - 40) - side / 2, side, side * (0.5 + random() % 3 / 2.0)};
        break;
    }
    case 5:
        view.mark = !view.mark;
        break;
    case 6:
        view.caption = CAPTIONS[random() % CAPTIONS.size()];
        break;
    case 7: {
        static const std::array<Mode, 3> MODES{Mode::flat, Mode::dither, Mode::deep};
        view.mode = MODES[random() % 3];
        bits = view.mode == Mode::deep ? 16 : 8;
        break;
    }
    case 8:
        view.surround = {level(), level(), level()};
        break;
    default:
        view.shape = view.shape == PatchShape::ellipse ? PatchShape::rectangle : PatchShape::ellipse;
        break;
    }
    return bits;
}

struct SequenceCase {
    PixelFormat format;
    std::uint32_t padding;
    unsigned seed;
};

class DamageSequenceTest : public ::testing::TestWithParam<SequenceCase> {};

TEST_P(DamageSequenceTest, EveryFrameIsTheFullRedrawAndChangesOnlyWhereItSays)
{
    constexpr int W = 237, H = 150;  // neither a multiple of the tile
    const auto [format, padding, seed] = GetParam();
    std::mt19937 random(seed);
    Buffers buffers(W, H, format);
    FrameRenderer renderer;
    PatchView view(1.5);
    view.patch = {80, 40, 60, 60};
    int bits = 8;
    double scale = 1;
    std::vector<std::uint32_t> before(std::size_t(W) * H, 0);
    for (int step = 0; step < 400; ++step) {
        bits = change(view, random, W, H, bits);
        if (random() % 40 == 0) scale = scale == 1 ? 1.5 : 1;
        renderer.setSurfaceBits(bits);
        const FrameBuffer target = buffers.frame(random, scale, padding);
        PixelRegion changed;
        changed.add(renderer.render(view, target), W, H);
        buffers.present();

        FrameRenderer fresh;
        fresh.setSurfaceBits(bits);
        std::vector<std::uint32_t> whole(std::size_t(W) * H, 0x12345678);
        fresh.render(view, {whole.data(), W, H, W, format, scale, padding});

        const auto& shown = buffers.shown();
        int wrong = 0, unannounced = 0;
        for (int y = 0; y < H; ++y) {
            for (int x = 0; x < W; ++x) {
                const std::size_t i = std::size_t(y) * W + x;
                wrong += shown[i] != whole[i];
                unannounced += step > 0 && whole[i] != before[i] && !inside(changed, x, y);
            }
        }
        ASSERT_EQ(wrong, 0) << "step " << step << ": pixels unlike a full redraw";
        ASSERT_EQ(unannounced, 0) << "step " << step << ": pixels changed outside the area given to present";
        before = whole;
    }
}

INSTANTIATE_TEST_SUITE_P(Formats, DamageSequenceTest,
                         ::testing::Values(SequenceCase{PixelFormat::xrgb8888, 0, 1},
                                           SequenceCase{PixelFormat::xrgb8888, 0xFF000000u, 2},
                                           SequenceCase{PixelFormat::xrgb2101010, 0, 3},
                                           SequenceCase{PixelFormat::xrgb2101010, 0xC0000000u, 4}));

TEST(FrameDamage, AColourChangeTouchesOnlyThePatchAndNothingChangedTouchesNothing)
{
    constexpr int W = 400, H = 300;
    std::vector<std::uint32_t> pixels(std::size_t(W) * H);
    BufferAges ages;
    FrameRenderer renderer;
    PatchView view(2);
    view.patch = {100, 100, 50, 40};
    auto draw = [&] {
        FrameBuffer f{pixels.data(), W, H, W, PixelFormat::xrgb8888};
        f.age = ages.age(pixels.data());
        const auto changed = renderer.render(view, f);
        ages.presented(pixels.data());
        return std::vector<PixelRect>(changed.begin(), changed.end());
    };
    EXPECT_EQ(draw(), std::vector<PixelRect>{(PixelRect{0, 0, W, H})});
    view.rgb = {10, 20, 30};
    // The ellipse's box: view y 100..140 is frame rows 160..200.
    EXPECT_EQ(draw(), std::vector<PixelRect>{(PixelRect{100, 160, 50, 40})});
    EXPECT_TRUE(draw().empty());
    view.surround = {1, 1, 1};
    EXPECT_EQ(draw(), std::vector<PixelRect>{(PixelRect{0, 0, W, H})});
}

// A blank buffer: only the shapes are drawn, what is returned covers every pixel that is not 0, and
// the buffer is the full redraw; with a surround that is not 0 the frame is drawn and returned whole.
TEST(FrameDamage, ABlankBufferGetsOnlyTheShapesWhenTheSurroundIsZero)
{
    constexpr int W = 300, H = 200;
    struct Case {
        std::array<double, 3> surround;
        std::uint32_t padding;
        bool whole;
    };
    for (const Case& c : {Case{{0, 0, 0}, 0, false}, Case{{0, 0, 1}, 0, true}, Case{{0, 0, 0}, 0xFF000000u, true}}) {
        PatchView view(2);
        view.patch = {40, 30, 50, 50};
        view.surround = c.surround;
        view.mark = true;
        view.caption = "patch 1 of 9";
        view.rgb = {200, 10.5, 3};
        std::vector<std::uint32_t> blank(std::size_t(W) * H, 0), whole(blank.size(), 0x77777777);
        FrameBuffer target{blank.data(), W, H, W, PixelFormat::xrgb8888, 1, c.padding};
        target.blank = true;
        FrameRenderer renderer, fresh;
        PixelRegion changed;
        changed.add(renderer.render(view, target), W, H);
        fresh.render(view, {whole.data(), W, H, W, PixelFormat::xrgb8888, 1, c.padding});
        EXPECT_EQ(blank, whole);
        EXPECT_EQ(changed.area() == W * H, c.whole);
        int uncovered = 0;
        for (int y = 0; y < H; ++y) {
            for (int x = 0; x < W; ++x) uncovered += blank[std::size_t(y) * W + x] != 0 && !inside(changed, x, y);
        }
        EXPECT_EQ(uncovered, 0);
        // The next frame over it still is the full redraw.
        target.blank = false;
        target.age = 1;
        view.rgb = {1, 2, 3};
        renderer.render(view, target);
        fresh.render(view, {whole.data(), W, H, W, PixelFormat::xrgb8888, 1, c.padding});
        EXPECT_EQ(blank, whole);
    }
}

}  // namespace
}  // namespace pp
