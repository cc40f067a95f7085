#include "reports/profile_name.hpp"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "platform/headless/headless_colour.hpp"
#include "platform/headless/headless_displays.hpp"
#include "reports/icc_profile.hpp"

namespace pp {
namespace {

std::vector<std::uint8_t> sampleBytes(const std::string& name)
{
    std::ifstream in("/usr/share/color/icc/colord/" + name, std::ios::binary);
    return std::vector<std::uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

struct SampleCase {
    const char* file;
    const char* description;
};

class SampleDescription : public ::testing::TestWithParam<SampleCase> {};

TEST_P(SampleDescription, IsTheProfilesOwnDescription)
{
    const auto bytes = sampleBytes(GetParam().file);
    ASSERT_FALSE(bytes.empty()) << "colord-data is not installed";
    EXPECT_TRUE(isUsableProfile(bytes));
    EXPECT_EQ(profileDescription(bytes), GetParam().description);
}

// AdobeRGB1998.icc carries its description in many languages; English is the one reported.
INSTANTIATE_TEST_SUITE_P(ColordData, SampleDescription,
                         ::testing::Values(SampleCase{"AdobeRGB1998.icc", "Compatible with Adobe RGB (1998)"},
                                           SampleCase{"sRGB.icc", "sRGB"}, SampleCase{"Bluish.icc", "Blue"}));

TEST(IccProfile, BytesThatAreNoWholeProfileHaveNoDescription)
{
    auto bytes = sampleBytes("sRGB.icc");
    ASSERT_FALSE(bytes.empty());
    const std::vector<std::vector<std::uint8_t>> broken = {
        {}, std::vector<std::uint8_t>(bytes.begin(), bytes.begin() + 127),
        std::vector<std::uint8_t>(bytes.begin(), bytes.end() - 1), std::vector<std::uint8_t>(4096, 0x41)};
    for (const auto& b : broken) {
        EXPECT_FALSE(isUsableProfile(b)) << b.size();
        EXPECT_EQ(profileDescription(b), std::nullopt) << b.size();
    }
    // Trailing bytes past the declared size do not spoil a profile.
    bytes.resize(bytes.size() + 10, 0);
    EXPECT_EQ(profileDescription(bytes), "sRGB");
}

class ProfileName : public ::testing::Test {
protected:
    void SetUp() override
    {
        screen_.number = 60;
        screen_.outputName = "screen";
        displays_.screenList = {screen_};
        colour_.devices["screen"] = "xrandr-screen";
        colour_.titles["xrandr-screen"] = "Default from colord";
    }
    Screen screen_;
    headless::HeadlessDisplays displays_;
    headless::HeadlessColourManagement colour_;
};

TEST_F(ProfileName, TheAdvertisedProfileComesFirst)
{
    displays_.profiles[60] = sampleBytes("AdobeRGB1998.icc");
    EXPECT_EQ(profileName(displays_, &colour_, screen_), "Compatible with Adobe RGB (1998)");
    EXPECT_EQ(profileName(displays_, nullptr, screen_), "Compatible with Adobe RGB (1998)");
}

TEST_F(ProfileName, WithoutAnAdvertisedProfileTheDevicesDefaultTitleFollows)
{
    EXPECT_EQ(profileName(displays_, &colour_, screen_), "Default from colord");
    displays_.profiles[60] = std::vector<std::uint8_t>(600, 7);  // unreadable: as if none
    EXPECT_EQ(profileName(displays_, &colour_, screen_), "Default from colord");
}

TEST_F(ProfileName, WithNeitherTheNameIsEmpty)
{
    EXPECT_EQ(profileName(displays_, nullptr, screen_), "");
    colour_.titles.clear();
    EXPECT_EQ(profileName(displays_, &colour_, screen_), "");
    colour_.devices.clear();
    colour_.titles["xrandr-screen"] = "Default from colord";
    EXPECT_EQ(profileName(displays_, &colour_, screen_), "");
}

}  // namespace
}  // namespace pp
