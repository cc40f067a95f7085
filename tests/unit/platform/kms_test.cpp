#include <drm_mode.h>
#include <gtest/gtest.h>

#include <cstring>

#include "platform/kms/hdr_metadata.hpp"
#include "platform/kms/kms_modes.hpp"

namespace pp::kms {
namespace {

// 1080p at 24 Hz, 23.976 Hz and 60 Hz, and 4K at 59.94 Hz and 60 Hz, as a TV lists them.
std::vector<KmsMode> tvModes()
{
    return {{1920, 1080, refreshOf(74250, 2750, 1125, false, false), false, false},
            {1920, 1080, refreshOf(74176, 2750, 1125, false, false), false, false},
            {1920, 1080, refreshOf(148500, 2200, 1125, false, false), true, false},
            {1920, 1080, refreshOf(74250, 2200, 1125, true, false), false, true},
            {3840, 2160, refreshOf(593407, 4400, 2250, false, false), false, false},
            {3840, 2160, refreshOf(594000, 4400, 2250, false, false), false, false}};
}

TEST(KmsModes, TheWishedSizeAtTheNearestRefreshWithinAHundredthOfAHertz)
{
    struct Case {
        std::optional<ModeWish> wish;
        std::optional<std::size_t> chosen;
    };
    const std::vector<Case> cases = {
        {std::nullopt, 2},                          // the preferred mode
        {ModeWish{1920, 1080, 24}, 0},
        {ModeWish{1920, 1080, 23.976}, 1},
        {ModeWish{1920, 1080, 60}, 2},              // not the interlaced one
        {ModeWish{3840, 2160, 59.94}, 4},
        {ModeWish{3840, 2160, 60}, 5},
        {ModeWish{1920, 1080, 25}, std::nullopt},   // not listed
        {ModeWish{1920, 1080, 23.99}, std::nullopt},
        {ModeWish{1280, 720, 60}, std::nullopt},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(chooseMode(tvModes(), c.wish), c.chosen) << (c.wish ? modeWishText(*c.wish) : "none");
    }
    EXPECT_EQ(chooseMode({}, std::nullopt), std::nullopt);
    EXPECT_EQ(chooseMode({{1024, 768, 60, false, false}}, std::nullopt), 0u);  // none preferred: the first
}

TEST(KmsModes, TextGivesTheRefreshToThreeDecimals)
{
    const auto modes = tvModes();
    const std::vector<std::string> texts = {"1920x1080@24", "1920x1080@23.976", "1920x1080@60", "1920x1080@60i",
                                            "3840x2160@59.94", "3840x2160@60"};
    for (std::size_t i = 0; i < modes.size(); ++i) EXPECT_EQ(modeText(modes[i]), texts[i]);
    EXPECT_EQ(modeWishText({3840, 2160, 23.976}), "3840x2160@23.976");
}

// The blob is the kernel's struct, byte for byte: type 1 static metadata for PQ with BT.2020 and D65 in
// units of 0.00002, the mastering luminance in cd/m² (maximum) and 0.0001 cd/m² (minimum).
TEST(HdrMetadata, FollowsTheKernelsLayout)
{
    const auto bytes = hdr10Metadata(0.005, 1000);
    ASSERT_EQ(bytes.size(), sizeof(hdr_output_metadata));
    auto u16 = [&](std::size_t at) { return std::uint16_t(bytes[at] | bytes[at + 1] << 8); };
    const std::uint32_t type = bytes[0] | bytes[1] << 8 | bytes[2] << 16 | std::uint32_t(bytes[3]) << 24;
    EXPECT_EQ(type, 0u);
    EXPECT_EQ(bytes[4], 2);  // SMPTE ST 2084
    EXPECT_EQ(bytes[5], 0);  // static metadata type 1
    const std::uint16_t primaries[] = {35400, 14600, 8500, 39850, 6550, 2300, 15635, 16450};
    for (std::size_t i = 0; i < 8; ++i) EXPECT_EQ(u16(6 + 2 * i), primaries[i]) << i;
    EXPECT_EQ(u16(22), 1000);  // maximum mastering luminance
    EXPECT_EQ(u16(24), 50);    // minimum, 0.005 cd/m²
    EXPECT_EQ(u16(26), 1000);  // MaxCLL
    EXPECT_EQ(u16(28), 1000);  // MaxFALL
    // Values past what 16 bits hold are held at the largest.
    const auto bright = hdr10Metadata(10, 100000);
    EXPECT_EQ(bright[22] | bright[23] << 8, 65535);
    EXPECT_EQ(bright[24] | bright[25] << 8, 65535);
}

}  // namespace
}  // namespace pp::kms
