// The presenter on a colour-managed compositor (weston 16 headless, GL renderer): its surface carries
// the output's own image description, so what reaches the output is exactly what was asked for, after
// the output's calibration curve where it has one, on SDR outputs described by an ICC profile and on
// HDR10 outputs; the display list and the status report say what the output does. Checked with the
// compositor's own screenshots, which hold the output's encoded values at 8 bits.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <random>
#include <sstream>

#include "colour_test_profiles.hpp"
#include "compositor.hpp"
#include "presenter_session.hpp"
#include "suite_listener.hpp"
#include "wayland_presenter_session.hpp"

namespace pp::test {
namespace {

constexpr int W = 640;
constexpr int H = 480;
// A calibration curve out = in ^ 1.25, on the output profile of the calibrated case.
constexpr double CALIBRATION_EXPONENT = 1.25;
const char* const CALIBRATED_NAME = "Calibrated test panel";

// One output configuration of the compositor, and what the presenter must say and show on it.
struct OutputCase {
    const char* name;
    bool manageColour;
    std::vector<std::string> outputLines;  // "@" stands for the calibrated profile's path
    nlohmann::json listed;                 // the display list's "colour"
    std::string profile;                   // the report's "profile"
    double curve = 1;                      // what the output applies after the patch: in ^ curve
};

const nlohmann::json NO_COLOUR = nullptr;

const std::vector<OutputCase> OUTPUTS = {
    {"ColourManagementOff", false, {}, NO_COLOUR, ""},
    {"Srgb", true, {}, {{"primaries", "srgb"}, {"tf", "gamma22"}, {"luminance", {0.2, 80, 80}}}, "srgb gamma22"},
    {"AdobeRgbProfile", true, {"icc_profile=" + ADOBE_SAMPLE}, {{"icc", "Compatible with Adobe RGB (1998)"}},
     "Compatible with Adobe RGB (1998)"},
    {"CalibratedProfile", true, {"icc_profile=@"}, {{"icc", CALIBRATED_NAME}}, CALIBRATED_NAME,
     CALIBRATION_EXPONENT},
    {"Hdr10", true, {"eotf-mode=st2084", "colorimetry-mode=bt2020rgb", "color-profile=auto:"},
     {{"primaries", "bt2020"}, {"tf", "st2084_pq"}, {"luminance", {0.005, 10000, 203}}}, "bt2020 st2084_pq"},
};

void PrintTo(const OutputCase& output, std::ostream* out)
{
    *out << output.name;
}

const OutputCase& outputCase(const std::string& name)
{
    for (const auto& c : OUTPUTS) {
        if (c.name == name) return c;
    }
    throw std::logic_error("no output case " + name);
}

// The 8-bit level an output shows for level `v` sent through a curve of that exponent.
int throughCurve(double v, double exponent)
{
    return int(std::lround(255 * std::pow(std::clamp(v, 0.0, 255.0) / 255, exponent)));
}

// The colour-managed weston started with one of the outputs above; its profiles in a folder of the test's.
class ColourManagedWeston : public ::testing::Test {
protected:
    void SetUp() override
    {
        SKIP_WITHOUT_COLOUR_WESTON();
        folder_ = std::filesystem::temp_directory_path() / ("pp-colour-" + std::to_string(getpid()));
        std::filesystem::create_directories(folder_);
        calibrated_ = (folder_ / "calibrated.icc").string();
        writeOwnProfile(calibrated_, CALIBRATED_NAME, CALIBRATION_EXPONENT);
    }
    void TearDown() override
    {
        std::error_code ignored;
        std::filesystem::remove_all(folder_, ignored);
    }

    std::unique_ptr<Compositor> start(const OutputCase& output) const
    {
        WestonOptions options;
        options.width = W;
        options.height = H;
        options.colourManaged = true;
        options.manageColour = output.manageColour;
        for (std::string line : output.outputLines) {
            if (line.back() == '@') line = line.substr(0, line.size() - 1) + calibrated_;
            options.outputLines.push_back(line);
        }
        return Compositor::startWeston(options);
    }

    std::filesystem::path folder_;
    std::string calibrated_;
};

class ColourManaged : public ColourManagedWeston, public ::testing::WithParamInterface<OutputCase> {};

TEST_P(ColourManaged, TheListAndTheReportSayWhatTheOutputDoes)
{
    const OutputCase& output = GetParam();
    auto weston = start(output);
    const RunResult listed = runToEnd({"--list-displays"}, weston->env());
    ASSERT_EQ(listed.status, 0) << listed.output;
    const auto list = nlohmann::json::parse(listed.output);
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0]["colour"], output.listed) << listed.output;

    WaylandPresenterSession session(*weston);
    const auto report = session.report();
    ASSERT_EQ(report.size(), 12u) << session.greeting();
    EXPECT_EQ(report["profile"], output.profile);
    // What the compositor applies after the patch: the profile's calibration curve, or nothing.
    const auto& gamma = report["gamma_table"];
    ASSERT_EQ(gamma.size(), 3u);
    for (const auto& channel : gamma) {
        if (output.curve == 1) {
            EXPECT_TRUE(channel.empty()) << channel;
            continue;
        }
        ASSERT_EQ(channel.size(), 256u);
        for (int i = 0; i < 256; ++i) {
            EXPECT_NEAR(channel[i].get<double>(), std::pow(i / 255.0, output.curve), 1e-3) << i;
        }
    }
    EXPECT_EQ(session.info()["profile"], output.profile);
}

// Random colours, the surround and the dither levels reach the output as asked for, after the output's
// curve, right after each "painted".
TEST_P(ColourManaged, EveryPaintedColourReachesTheOutputExactly)
{
    const OutputCase& output = GetParam();
    auto weston = start(output);
    WaylandPresenterSession session(*weston);
    // The compositor evaluates a calibration curve from a table of its own: one step either way is its
    // rounding. Without a curve every level is exact.
    const int slack = output.curve == 1 ? 0 : 1;
    auto shows = [&](Rgb seen, Rgb asked) {
        const int r = throughCurve(asked.r, output.curve), g = throughCurve(asked.g, output.curve),
                  b = throughCurve(asked.b, output.curve);
        return std::abs(seen.r - r) <= slack && std::abs(seen.g - g) <= slack && std::abs(seen.b - b) <= slack;
    };

    ASSERT_TRUE(startsWith(session.ask("mode flat"), "mode flat"));
    ASSERT_EQ(session.ask("surround 30 60 90"), "surround");
    std::mt19937 random(11);
    std::uniform_int_distribution<int> level(0, 255);
    for (int i = 0; i < 6; ++i) {
        const Rgb asked{level(random), level(random), level(random)};
        const std::string reply = session.ask(rgbCommand(asked));
        ASSERT_TRUE(painted(reply));
        const Screenshot shot = session.screen("headless");
        EXPECT_PRED2(shows, shot.at(W / 2, H / 2), asked) << "colour " << i;
        EXPECT_PRED2(shows, shot.at(W - 10, 10), (Rgb{30, 60, 90})) << "colour " << i;
    }

    // 127.25: level 128 on 16 of the 64 matrix cells, 127 on the others.
    ASSERT_TRUE(startsWith(session.ask("mode dither"), "mode dither"));
    ASSERT_TRUE(painted(session.ask("rgb 127.25 64 10")));
    const Screenshot shot = session.screen("headless");
    for (int y = H / 2 - 8; y < H / 2 + 8; ++y)
        for (int x = W / 2 - 8; x < W / 2 + 8; ++x) {
            const int b = BAYER_MATRIX[tileRow(y, H) / 2][(x % 16) / 2];
            ASSERT_PRED2(shows, shot.at(x, y), (Rgb{b < 16 ? 128 : 127, 64, 10})) << x << "," << y;
        }
}

INSTANTIATE_TEST_SUITE_P(Weston, ColourManaged, ::testing::ValuesIn(OUTPUTS),
                         [](const auto& info) { return std::string(info.param.name); });

// PQ code values pass unchanged: 8 bits in flat and dither (above), 10 bits in deep, seen within one
// step of the 8-bit screenshot. The panel's depth is not told, so the network road's 10-bit messages are
// dithered: a tile's mean is the level, not the 8-bit level nearest to it.
TEST_F(ColourManagedWeston, OnHdr10TenBitCodeValuesPassInDeepModeAndAreDitheredOverTheNetwork)
{
    auto weston = start(outputCase("Hdr10"));
    auto near = [](Rgb seen, double r, double g, double b) {
        return std::abs(seen.r - r) <= 1 && std::abs(seen.g - g) <= 1 && std::abs(seen.b - b) <= 1;
    };
    {
        WaylandPresenterSession session(*weston);
        ASSERT_EQ(session.ask("mode deep"), "mode deep window_bits 16 screen_bits 8 layer RGBA16Uint");
        for (const auto& [r, g, b] : {std::array{200.5, 100.25, 50.0}, std::array{12.0, 240.75, 128.5}}) {
            std::ostringstream command;
            command << "rgb " << r << " " << g << " " << b;
            ASSERT_TRUE(painted(session.ask(command.str())));
            const Rgb seen = session.screen("headless").at(W / 2, H / 2);
            EXPECT_TRUE(near(seen, r, g, b)) << command.str() << ": " << seen.r << " " << seen.g << " " << seen.b;
        }
    }
    SuiteListener suite;
    WaylandPresenterSession stage(*weston, {"--connect", suite.address()});
    ASSERT_TRUE(suite.accept()) << stage.greeting();
    ASSERT_EQ(stage.nextLine(), "connected 127.0.0.1 " + std::to_string(suite.port()));
    ASSERT_TRUE(suite.send(suiteFrame(formB({803, 402, 101}, {0, 0, 0}, 10, R"(x="0" y="0" cx="1" cy="1")"))));
    ASSERT_TRUE(painted(stage.nextLine()));
    const auto mean = tileAverage(stage.screen("headless"), W / 2, H / 2);
    // Within a step of the tile's 64 levels (the nearest 8-bit level is a sixth of a level off or more).
    const double wanted[3] = {803 * 255 / 1023.0, 402 * 255 / 1023.0, 101 * 255 / 1023.0};
    for (int c = 0; c < 3; ++c) EXPECT_NEAR(mean[c], wanted[c], 1.0 / 64) << "channel " << c;
}

}  // namespace
}  // namespace pp::test
