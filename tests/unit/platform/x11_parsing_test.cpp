#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "platform/x11/x11_displays.hpp"

namespace pp::x11 {
namespace {

std::vector<std::uint8_t> edidWithName(const std::string& name, int slot)
{
    std::vector<std::uint8_t> edid(128, 0);
    std::uint8_t* d = edid.data() + 54 + 18 * slot;
    d[0] = 0;
    d[1] = 0;
    d[3] = 0xFC;
    for (std::size_t i = 0; i < 13; ++i) d[5 + i] = i < name.size() ? name[i] : (i == name.size() ? 0x0A : 0x20);
    return edid;
}

TEST(EdidMonitorName, FindsTheNameDescriptorInAnySlot)
{
    EXPECT_EQ(edidMonitorName(edidWithName("Panel A", 0)), "Panel A");
    EXPECT_EQ(edidMonitorName(edidWithName("LONGNAMEPANEL", 3)), "LONGNAMEPANEL");
    EXPECT_EQ(edidMonitorName(std::vector<std::uint8_t>(128, 0)), "");
    EXPECT_EQ(edidMonitorName(std::vector<std::uint8_t>(20, 0)), "");
}

TEST(SampledRamp, TakesTheEntryNearestEachEvenStepForEveryRampSize)
{
    // Each entry holds its own index, so a sample tells which entry it was taken from.
    for (std::size_t size : {2u, 255u, 256u, 257u, 300u, 1024u, 4096u, 65535u}) {
        std::vector<std::uint16_t> ramp(size);
        for (std::size_t i = 0; i < size; ++i) ramp[i] = static_cast<std::uint16_t>(i);
        const auto samples = sampledRamp(ramp.data(), size, 256);
        const std::size_t count = std::min<std::size_t>(size, 256);
        ASSERT_EQ(samples.size(), count) << size;
        for (std::size_t i = 0; i < count; ++i) {
            const auto expected = std::lround(double(i) * double(size - 1) / double(count - 1));
            EXPECT_EQ(std::lround(samples[i] * 65535.0), expected) << "ramp of " << size << ", sample " << i;
        }
    }
}

TEST(SampledRamp, KeepsAllEntriesOfAShortRampAndScalesToOne)
{
    const std::uint16_t ramp[3] = {0, 32768, 65535};
    const auto samples = sampledRamp(ramp, 3, 256);
    ASSERT_EQ(samples.size(), 3u);
    EXPECT_FLOAT_EQ(samples[1], 32768 / 65535.0f);
    EXPECT_FLOAT_EQ(samples[2], 1.0f);
    EXPECT_TRUE(sampledRamp(ramp, 0, 256).empty());
}

}  // namespace
}  // namespace pp::x11
