#include <gtest/gtest.h>

#include <array>
#include <ostream>
#include <string>
#include <vector>

#include "platform/buffer_ages.hpp"
#include "platform/update_area.hpp"

namespace pp {
namespace {

struct ChoiceCase {
    std::string name;
    std::vector<int> presented;  // the buffers presented, oldest first
    int copiedNewest;            // the buffer the newest frame was then copied into, or -1
    std::vector<bool> free;      // which buffers the window system has released
    int draw;                    // the buffer drawInto picks, or -1
    int shown;                   // the buffer shownBeside gives beside it, or -1
};

void PrintTo(const ChoiceCase& c, std::ostream* out)
{
    *out << c.name;
}

class BufferChoice : public ::testing::TestWithParam<ChoiceCase> {};

TEST_P(BufferChoice, DrawsIntoTheFreeBufferWithTheNewestFrameAndCopiesFromTheOneShown)
{
    const ChoiceCase& c = GetParam();
    std::array<int, 3> memory{};
    BufferAges ages;
    for (const int b : c.presented) ages.presented(&memory[std::size_t(b)]);
    if (c.copiedNewest >= 0) ages.copiedNewest(&memory[std::size_t(c.copiedNewest)]);
    std::vector<BufferAges::Buffer> buffers;
    for (std::size_t i = 0; i < c.free.size(); ++i) buffers.push_back({&memory[i], c.free[i]});

    const int draw = ages.drawInto(buffers);
    EXPECT_EQ(draw, c.draw);
    if (draw >= 0) {
        EXPECT_EQ(ages.shownBeside(buffers, draw), c.shown);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, BufferChoice,
    ::testing::Values(
        ChoiceCase{"NothingPresentedTakesTheFirst", {}, -1, {true, true}, 0, -1},
        ChoiceCase{"NothingPresentedTakesTheFirstFree", {}, -1, {false, true}, 1, -1},
        ChoiceCase{"TheOneShownAgainWhenFree", {1, 0}, -1, {true, true}, 0, -1},
        ChoiceCase{"TheLaterOfTwoWhenBothFree", {0, 1}, -1, {true, true}, 1, -1},
        ChoiceCase{"TheOtherWhileTheShownOneIsHeld", {0, 1}, -1, {true, false}, 0, 1},
        ChoiceCase{"ACopyOfTheNewestNeedsNothing", {0}, 1, {false, true}, 1, 0},
        ChoiceCase{"AnOlderFrameBeatsNone", {1, 2}, -1, {true, true, false}, 1, 2},
        ChoiceCase{"TheNewestOfTheFreeNotTheFirst", {0, 1, 2}, -1, {true, true, false}, 1, 2},
        ChoiceCase{"NoneFree", {0, 1}, -1, {false, false}, -1, -1}),
    [](const auto& info) { return info.param.name; });

struct AreaCase {
    std::string name;
    std::vector<PixelRect> changed;
    bool whole;
    std::vector<PixelRect> area;  // empty: the whole window
};

void PrintTo(const AreaCase& c, std::ostream* out)
{
    *out << c.name;
}

class UpdateArea : public ::testing::TestWithParam<AreaCase> {};

TEST_P(UpdateArea, IsTheChangeOrOnePixelOrTheWholeWindow)
{
    const AreaCase& c = GetParam();
    const auto area = updateArea(c.changed, c.whole);
    EXPECT_EQ(std::vector<PixelRect>(area.begin(), area.end()), c.area);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, UpdateArea,
    ::testing::Values(AreaCase{"TheChange", {{3, 4, 5, 6}, {20, 0, 2, 2}}, false, {{3, 4, 5, 6}, {20, 0, 2, 2}}},
                      AreaCase{"NothingChangedIsOnePixel", {}, false, {{0, 0, 1, 1}}},
                      AreaCase{"WholeOverridesTheChange", {{3, 4, 5, 6}}, true, {}},
                      AreaCase{"WholeWhenNothingChanged", {}, true, {}}),
    [](const auto& info) { return info.param.name; });

}  // namespace
}  // namespace pp
