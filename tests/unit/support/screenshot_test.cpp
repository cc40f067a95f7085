// Screenshot files read back exactly: grim's PPM and weston-screenshooter's PNG.
#include <gtest/gtest.h>

#include <png.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <vector>

#include "screenshot.hpp"

namespace pp::test {
namespace {

std::string ppm(const std::string& header, const std::vector<unsigned char>& samples)
{
    return header + std::string(samples.begin(), samples.end());
}

TEST(ScreenshotFromPpm, ReadsSamplesTopRowFirst)
{
    const auto shot = screenshotFromPpm(ppm("P6\n2 2\n255\n", {1, 2, 3, 4, 5, 6, 250, 251, 252, 0, 128, 255}));
    ASSERT_TRUE(shot);
    EXPECT_EQ(shot->width, 2);
    EXPECT_EQ(shot->height, 2);
    EXPECT_EQ(shot->at(1, 0), (Rgb{4, 5, 6}));
    EXPECT_EQ(shot->at(0, 1), (Rgb{250, 251, 252}));
    EXPECT_EQ(shot->at(1, 1), (Rgb{0, 128, 255}));
    EXPECT_TRUE(shot->uniform(1, 1, 1, 1, Rgb{0, 128, 255}));
    EXPECT_FALSE(shot->uniform(0, 0, 2, 1, Rgb{1, 2, 3}));
}

TEST(ScreenshotFromPpm, SkipsHeaderComments)
{
    const auto shot = screenshotFromPpm(ppm("P6 # made by a test\n1 1 # size\n255\n", {9, 8, 7}));
    ASSERT_TRUE(shot);
    EXPECT_EQ(shot->at(0, 0), (Rgb{9, 8, 7}));
}

TEST(ScreenshotFromPpm, RefusesWhatIsNotAnExact8BitImage)
{
    const std::vector<std::string> bad = {
        "",
        ppm("P3\n1 1\n255\n", {1, 2, 3}),        // text samples
        ppm("P6\n1 1\n65535\n", {1, 2, 3, 4, 5, 6}),  // 16 bits per sample
        ppm("P6\n2 1\n255\n", {1, 2, 3}),        // cut short
        ppm("P6\n1 1\n255\n", {1, 2, 3, 4}),     // too long
        ppm("P6\n0 1\n255\n", {}),
        "P6\n1\n",
    };
    for (const auto& bytes : bad) EXPECT_FALSE(screenshotFromPpm(bytes)) << bytes.substr(0, 12);
}

class ScreenshotFromPng : public ::testing::Test {
protected:
    void TearDown() override { std::filesystem::remove(path_); }

    // Writes a 2 x 1 PNG in `format` from `samples`.
    bool write(png_uint_32 format, const std::vector<unsigned char>& samples)
    {
        png_image image{};
        image.version = PNG_IMAGE_VERSION;
        image.width = 2;
        image.height = 1;
        image.format = format;
        return png_image_write_to_file(&image, path_.c_str(), 0, samples.data(), 0, nullptr) != 0;
    }

    std::string path_ = (std::filesystem::temp_directory_path() / ("pp-shot-test-" + std::to_string(getpid()) + ".png")).string();
};

TEST_F(ScreenshotFromPng, ReadsRgbAndOpaqueRgbaExactly)
{
    ASSERT_TRUE(write(PNG_FORMAT_RGB, {16, 32, 48, 1, 254, 128}));
    auto shot = screenshotFromPng(path_);
    ASSERT_TRUE(shot);
    EXPECT_EQ(shot->width, 2);
    EXPECT_EQ(shot->height, 1);
    EXPECT_EQ(shot->at(0, 0), (Rgb{16, 32, 48}));
    EXPECT_EQ(shot->at(1, 0), (Rgb{1, 254, 128}));

    ASSERT_TRUE(write(PNG_FORMAT_RGBA, {16, 32, 48, 255, 1, 254, 128, 255}));
    shot = screenshotFromPng(path_);
    ASSERT_TRUE(shot);
    EXPECT_EQ(shot->at(1, 0), (Rgb{1, 254, 128}));
}

TEST_F(ScreenshotFromPng, RefusesGreyAndMissingFiles)
{
    ASSERT_TRUE(write(PNG_FORMAT_GRAY, {10, 20}));
    EXPECT_FALSE(screenshotFromPng(path_));
    EXPECT_FALSE(screenshotFromPng(path_ + ".missing"));
}

}  // namespace
}  // namespace pp::test
