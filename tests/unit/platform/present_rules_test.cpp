#include <gtest/gtest.h>

#include <array>
#include <span>
#include <vector>

#include "platform/buffer_ages.hpp"
#include "platform/update_area.hpp"

namespace pp {
namespace {

TEST(BufferChoice, DrawsIntoTheFreeBufferWithTheNewestFrameAndCopiesFromTheOneShown)
{
    struct Case {
        const char* name;
        std::vector<int> presented;  // oldest first
        int copiedNewest;            // the buffer the newest frame was then copied into, or -1
        std::vector<bool> free;
        int draw;   // what drawInto picks, or -1
        int shown;  // what shownBeside gives beside it, or -1
    };
    const Case cases[] = {
        {"nothing presented", {}, -1, {false, true}, 1, -1},
        {"the later of two", {0, 1}, -1, {true, true}, 1, -1},
        {"the other while the shown one is held", {0, 1}, -1, {true, false}, 0, 1},
        {"a copy of the newest", {0}, 1, {false, true}, 1, 0},
        {"an older frame beats none", {1, 2}, -1, {true, true, false}, 1, 2},
        {"the newest free, not the first", {0, 1, 2}, -1, {true, true, false}, 1, 2},
        {"none free", {0, 1}, -1, {false, false}, -1, -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::array<int, 3> memory{};
        BufferAges ages;
        for (const int b : c.presented) ages.presented(&memory[std::size_t(b)]);
        if (c.copiedNewest >= 0) ages.copiedNewest(&memory[std::size_t(c.copiedNewest)]);
        std::vector<BufferAges::Buffer> buffers;
        for (std::size_t i = 0; i < c.free.size(); ++i) buffers.push_back({&memory[i], c.free[i]});
        EXPECT_EQ(ages.drawInto(buffers), c.draw);
        if (c.draw >= 0) {
            EXPECT_EQ(ages.shownBeside(buffers, c.draw), c.shown);
        }
    }
}

TEST(UpdateArea, IsTheChangeOrOnePixelOrTheWholeWindow)
{
    const std::vector<PixelRect> change{{3, 4, 5, 6}, {20, 0, 2, 2}};
    const auto area = [](std::span<const PixelRect> changed, bool whole) {
        const auto a = updateArea(changed, whole);
        return std::vector<PixelRect>(a.begin(), a.end());
    };
    EXPECT_EQ(area(change, false), change);
    EXPECT_EQ(area({}, false), (std::vector<PixelRect>{{0, 0, 1, 1}}));
    EXPECT_TRUE(area(change, true).empty()) << "empty stands for the whole window";
    EXPECT_TRUE(area({}, true).empty());
}

}  // namespace
}  // namespace pp
