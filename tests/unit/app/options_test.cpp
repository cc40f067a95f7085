#include "app/options.hpp"
#include "core/words.hpp"

#include <gtest/gtest.h>

#include <clocale>
#include <cmath>

namespace pp {
namespace {

TEST(Option, TakesExactlyCountWordsAsTheyStandAfterTheFirstOccurrence)
{
    const Words twice = {"--mm", "50", "60", "--mm", "70", "80"}, names = {"--mm", "--pos", "0.5", "0.5"};
    struct Case {
        Words words;
        const char* name;
        std::size_t count;
        std::optional<Words> taken;
    };
    const Case cases[] = {
        {twice, "--mm", 2, Words{"50", "60"}},
        {twice, "--mm", 1, Words{"50"}},
        {twice, "--mm", 0, Words{}},
        {names, "--mm", 2, Words{"--pos", "0.5"}},  // option names too
        {names, "--pos", 2, Words{"0.5", "0.5"}},
        {{"--display"}, "--display", 1, std::nullopt},  // too few words follow
        {{"--mm", "50"}, "--mm", 2, std::nullopt},
        {{"--mm=50", "60"}, "--mm", 1, std::nullopt},  // the name is absent
        {{"--m", "1"}, "--mm", 1, std::nullopt},
        {{}, "--mm", 0, std::nullopt},
    };
    for (const Case& c : cases) EXPECT_EQ(option(c.words, c.name, c.count), c.taken) << c.name << " " << c.count;
}

struct WordCase {
    const char* word;
    bool accepted;
    double value;
};

class NumberWord : public ::testing::TestWithParam<WordCase> {};

TEST_P(NumberWord, ReadsLikeStrtodInTheCLocale)
{
    const auto& c = GetParam();
    const auto value = numberWord(c.word);
    ASSERT_EQ(value.has_value(), c.accepted) << c.word;
    if (c.accepted) {
        if (std::isnan(c.value)) {
            EXPECT_TRUE(std::isnan(*value));
        } else {
            EXPECT_EQ(*value, c.value) << c.word;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Words, NumberWord,
                         ::testing::Values(WordCase{"50", true, 50}, WordCase{"-5", true, -5},
                                           WordCase{"+2.5", true, 2.5}, WordCase{"1e2", true, 100},
                                           WordCase{"2.5E1", true, 25}, WordCase{"0x10", true, 16},
                                           WordCase{"0X1p4", true, 16}, WordCase{".5", true, 0.5},
                                           WordCase{"5.", true, 5}, WordCase{"INF", true, INFINITY},
                                           WordCase{"-Infinity", true, -INFINITY}, WordCase{"nan", true, NAN},
                                           WordCase{"NaN(123)", true, NAN}, WordCase{"1e-310", true, 1e-310},
                                           WordCase{"", false, 0}, WordCase{" 5", false, 0},
                                           WordCase{"\t5", false, 0}, WordCase{"5 ", false, 0},
                                           WordCase{"6,5", false, 0}, WordCase{"5mm", false, 0},
                                           WordCase{"x", false, 0}, WordCase{"1e999", false, 0},
                                           WordCase{"-1e999", false, 0}, WordCase{"1e-999", false, 0},
                                           WordCase{"0x", false, 0}, WordCase{"--pos", false, 0}));

TEST(NumberWordLocale, KeepsThePointUnderADecimalCommaLocale)
{
    const char* chosen = std::setlocale(LC_ALL, "de_DE.UTF-8");
    if (!chosen) GTEST_SKIP() << "de_DE.UTF-8 is not generated on this machine";
    EXPECT_EQ(numberWord("6.5"), 6.5);
    EXPECT_FALSE(numberWord("6,5"));
    std::setlocale(LC_ALL, "C");
}

struct PairCase {
    Words words;
    std::vector<double> expected;
};

class Numbers : public ::testing::TestWithParam<PairCase> {};

TEST_P(Numbers, ReplaceTheDefaultOnlyWithTwoNumbers)
{
    const auto& c = GetParam();
    EXPECT_EQ(numbers(c.words, "--mm", {65, 65}), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Pairs, Numbers,
    ::testing::Values(PairCase{{"--mm", "50", "60", "70"}, {50, 60}}, PairCase{{"--mm", "50"}, {65, 65}},
                      PairCase{{"--mm", "50", "x"}, {65, 65}}, PairCase{{"--mm", "x", "50"}, {65, 65}},
                      PairCase{{"--mm", "--pos", "0.5", "0.5"}, {65, 65}},
                      PairCase{{"--mm", "50", "60", "--mm", "70", "80"}, {50, 60}},
                      PairCase{{"--mm", "1e2", "2.5E1"}, {100, 25}}, PairCase{{"--mm", "0x10", "8"}, {16, 8}},
                      PairCase{{"--mm", "-5", "0"}, {-5, 0}}, PairCase{{"--mm", "1e999", "50"}, {65, 65}},
                      PairCase{{}, {65, 65}}));

TEST(Numbers, PassNanThrough)
{
    const auto pair = numbers({"--pos", "nan", "0.5"}, "--pos", {-1, -1});
    ASSERT_EQ(pair.size(), 2u);
    EXPECT_TRUE(std::isnan(pair[0]));
    EXPECT_EQ(pair[1], 0.5);
}

struct DisplayCase {
    const char* word;
    std::optional<std::uint32_t> expected;
};

class DisplayNumber : public ::testing::TestWithParam<DisplayCase> {};

TEST_P(DisplayNumber, AcceptsSignAndDigitsUpToTheUnsignedRange)
{
    EXPECT_EQ(displayNumber(GetParam().word), GetParam().expected) << GetParam().word;
}

INSTANTIATE_TEST_SUITE_P(
    Words, DisplayNumber,
    ::testing::Values(DisplayCase{"7", 7u}, DisplayCase{"07", 7u}, DisplayCase{"+7", 7u}, DisplayCase{"-0", 0u},
                      DisplayCase{"-000", 0u}, DisplayCase{"4294967295", 4294967295u},
                      DisplayCase{"004294967295", 4294967295u}, DisplayCase{"4294967296", std::nullopt},
                      DisplayCase{"99999999999999999999999", std::nullopt}, DisplayCase{"-1", std::nullopt},
                      DisplayCase{"7x", std::nullopt}, DisplayCase{" 7", std::nullopt},
                      DisplayCase{"7 ", std::nullopt}, DisplayCase{"", std::nullopt}, DisplayCase{"+", std::nullopt},
                      DisplayCase{"+-7", std::nullopt}, DisplayCase{"abc", std::nullopt},
                      DisplayCase{"7.0", std::nullopt}));

TEST(PlatformWord, NamesExactlyTheThreeWindowSystems)
{
    EXPECT_EQ(platformWord("wayland"), PlatformKind::wayland);
    EXPECT_EQ(platformWord("x11"), PlatformKind::x11);
    EXPECT_EQ(platformWord("kms"), PlatformKind::kms);
    for (const char* word : {"", "X11", "Wayland", "x11 ", " x11", "xorg", "wayland\n", "KMS", "drm"}) {
        EXPECT_EQ(platformWord(word), std::nullopt) << word;
    }
}

// The words of a display the program drives itself; what cannot be read counts as absent.
TEST(KmsOptions, ModeSignalAndLuminanceOrTheirDefaults)
{
    struct Case {
        std::vector<std::string> words;
        std::optional<ModeWish> mode;
        bool hdr10;
        double minimum, maximum;
    };
    const std::vector<Case> cases = {
        {{}, std::nullopt, false, 0.005, 1000},
        {{"--mode", "3840x2160@23.976", "--signal", "hdr10"}, ModeWish{3840, 2160, 23.976}, true, 0.005, 1000},
        {{"--mode", "1920x1080@24", "--signal", "sdr", "--hdr-luminance", "0.01", "600"}, ModeWish{1920, 1080, 24},
         false, 0.01, 600},
        {{"--mode", "1920x1080", "--signal", "HDR10", "--hdr-luminance", "600", "0.01"}, std::nullopt, false, 0.005, 1000},
        {{"--mode", "1920x1080@0", "--hdr-luminance", "-1", "600"}, std::nullopt, false, 0.005, 1000},
        {{"--mode", "0x1080@60", "--hdr-luminance", "0", "nan"}, std::nullopt, false, 0.005, 1000},
        {{"--mode", "1920x1080@60Hz"}, std::nullopt, false, 0.005, 1000},
        {{"--mode", "x1080@60"}, std::nullopt, false, 0.005, 1000},
    };
    for (const Case& c : cases) {
        const KmsOptions o = kmsOptions(Words(c.words.begin(), c.words.end()));
        const std::string what = c.words.empty() ? "none" : c.words[1];
        ASSERT_EQ(o.mode.has_value(), c.mode.has_value()) << what;
        if (c.mode) {
            EXPECT_EQ(o.mode->width, c.mode->width) << what;
            EXPECT_EQ(o.mode->height, c.mode->height) << what;
            EXPECT_DOUBLE_EQ(o.mode->refresh, c.mode->refresh) << what;
        }
        EXPECT_EQ(o.hdr10, c.hdr10) << what;
        EXPECT_DOUBLE_EQ(o.minLuminance, c.minimum) << what;
        EXPECT_DOUBLE_EQ(o.maxLuminance, c.maximum) << what;
    }
}

}  // namespace
}  // namespace pp
