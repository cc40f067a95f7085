#include "wayland_bench.hpp"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "box_rounds.hpp"
#include "child_process.hpp"
#include "compositor.hpp"
#include "bench_figures.hpp"

#ifndef PP_WAYLAND_REFERENCE_PATH
#define PP_WAYLAND_REFERENCE_PATH "wayland-reference"
#endif

namespace {

using pp::bench::Percentiles;
using pp::bench::WARM_UP;
using pp::test::ChildProcess;
using pp::test::Compositor;
using pp::test::TestCompositor;

// Presenters started for the start-up figure: the first on the fresh compositor, the median of the rest.
constexpr int STARTUP_RUNS = 6;

const char* const MODES[] = {"flat", "dither", "deep"};
constexpr std::pair<int, int> SIZES[] = {{1920, 1080}, {3840, 2160}};
// The colour-managed weston's output: described by this profile, so an untagged sRGB surface is
// converted on the way to it and a surface tagged with the output's own description is not.
const char* const COLOUR_OUTPUT_PROFILE = "/usr/share/color/icc/colord/AdobeRGB1998.icc";
// How much tagging may cost per frame: the tagged bare client within this fraction of the untagged one.
constexpr double TAGGING_TOLERANCE = 0.05;

nlohmann::ordered_json figures(const Percentiles& p)
{
    return {{"median_ms", p.median}, {"p90_ms", p.p90}};
}

// The test compositor with one output of that mode; the colour-managed weston's output is described by
// the profile.
std::unique_ptr<Compositor> startCompositor(TestCompositor which, int width, int height)
{
    if (which != TestCompositor::colourWeston) return pp::test::startTestCompositor(which, width, height);
    pp::test::WestonOptions o;
    o.width = width;
    o.height = height;
    o.colourManaged = true;
    o.manageColour = true;
    o.outputLines = {std::string("icc_profile=") + COLOUR_OUTPUT_PROFILE};
    return Compositor::startWeston(o);
}

// The bare client's frame times in milliseconds (warm-up left out) and its feedback counts, or an
// "error" member with what it said.
nlohmann::ordered_json referenceCase(const Compositor& compositor, const std::vector<std::string>& args)
{
    std::vector<std::string> argv = {PP_WAYLAND_REFERENCE_PATH};
    argv.insert(argv.end(), args.begin(), args.end());
    ChildProcess reference(argv, compositor.env());
    const std::string timesLine = reference.readLine(std::chrono::seconds(300)).value_or("");
    const std::string feedbackLine = reference.readLine().value_or("");
    reference.wait();
    if (feedbackLine.rfind("feedback ", 0) != 0) return {{"error", timesLine.empty() ? "no answer" : timesLine}};
    std::vector<double> times;
    std::istringstream words(timesLine);
    for (double t; words >> t;) times.push_back(t / 1000.0);
    if (times.size() > WARM_UP) times.erase(times.begin(), times.begin() + WARM_UP);
    std::istringstream feedback(feedbackLine);
    std::string word;
    int presented = 0, discarded = 0, refresh = 0;
    feedback >> word >> word >> presented >> word >> discarded >> word >> refresh;
    auto result = figures(pp::bench::percentiles(times));
    result["presented"] = presented;
    result["discarded"] = discarded;
    result["refresh_mhz"] = refresh;
    return result;
}

// Starts the compositor for one row (named in `result`, which gets an "error" member when it does not
// start).
std::unique_ptr<Compositor> rowCompositor(TestCompositor which, int width, int height, nlohmann::ordered_json& result)
{
    result = {{"compositor", pp::test::testCompositorName(which)},
              {"size", std::to_string(width) + "x" + std::to_string(height)}};
    try {
        return startCompositor(which, width, height);
    } catch (const std::exception& e) {
        result["error"] = std::string("compositor did not start: ") + e.what();
        return nullptr;
    }
}

std::vector<std::string> presenterArgv()
{
    return {pp::test::presenterPath(), "--platform", "wayland"};
}

// Per mode, the presenter's "rgb" round trips (with `moves` also its "move" ones) into `result`; false,
// with an "error" member, when it does not answer.
bool presenterFigures(const Compositor& compositor, int commands, bool moves, nlohmann::ordered_json& result)
{
    ChildProcess presenter(presenterArgv(), compositor.env());
    const auto greeting = presenter.readLine(std::chrono::seconds(20));
    if (!greeting || greeting->rfind("ready ", 0) != 0) {
        result["error"] = "no greeting: " + greeting.value_or("");
        return false;
    }
    for (const char* mode : MODES) {
        presenter.write(std::string("mode ") + mode + "\n");
        const std::string modeReply = presenter.readLine().value_or("");
        // The colour changes but the patch stays: only the patch needs drawing again.
        const auto rgb = pp::bench::roundTrips(presenter, commands, "painted ", [](int i) {
            return "rgb " + std::to_string(100 + i % 50) + ".25 64 10\n";
        });
        if (!rgb) {
            result["error"] = std::string("bad reply in mode ") + mode;
            return false;
        }
        result[mode] = {{"reply", modeReply}, {"rgb", figures(pp::bench::percentiles(*rgb))}};
        if (!moves) continue;
        // The patch goes back and forth between two places, uncovering the surround each time.
        const auto move = pp::bench::roundTrips(presenter, commands, "moved", [](int i) {
            return i % 2 ? std::string("move 0.3 0.4\n") : std::string("move 0.7 0.6\n");
        });
        if (!move) {
            result["error"] = std::string("bad reply in mode ") + mode;
            return false;
        }
        result[mode]["move"] = figures(pp::bench::percentiles(*move));
    }
    presenter.write("quit\n");
    presenter.wait();
    return true;
}

// The bare client's arguments for `commands` frames after the warm-up: the whole frame, or (`patch`
// > 0) a `patch`-pixel square in the middle of the screen, then `flag` where there is one.
std::vector<std::string> referenceArgs(int commands, int patch, const char* flag = nullptr)
{
    const std::string frames = std::to_string(commands + WARM_UP);
    std::vector<std::string> args = {"full", frames};
    if (patch > 0) args = {"patch", frames, std::to_string(patch), std::to_string(patch)};
    if (flag) args.push_back(flag);
    return args;
}

// One compositor at one size: the presenter's figures, then the bare client's on the same compositor.
nlohmann::ordered_json waylandCase(TestCompositor which, int width, int height, int commands)
{
    nlohmann::ordered_json result;
    const auto compositor = rowCompositor(which, width, height, result);
    if (!compositor) return result;
    const auto startup = pp::bench::startupTimes(presenterArgv(), compositor->env(), STARTUP_RUNS);
    result["startup_ms"] = startup.warmMs;
    result["startup_cold_ms"] = startup.coldMs;
    if (!presenterFigures(*compositor, commands, true, result)) return result;

    // Without a physical size the patch is half the screen's height square: the patch-sized update.
    const int patch = height / 2;
    result["reference_full"] = referenceCase(*compositor, referenceArgs(commands, 0));
    result["reference_patch"] = referenceCase(*compositor, referenceArgs(commands, patch));
    result["reference_full_ten_bit"] = referenceCase(*compositor, referenceArgs(commands, 0, "--ten-bit"));
    result["reference_full_composed"] = referenceCase(*compositor, referenceArgs(commands, 0, "--until-frame"));
    result["reference_patch_composed"] = referenceCase(*compositor, referenceArgs(commands, patch, "--until-frame"));
    result["patch_pixels"] = {patch, patch};

    // The yardstick is the bare client's presented frame; where the compositor reports no presentation,
    // its composed frame (the frame callback) is the nearest thing it tells.
    const bool presents = !result["reference_full"].contains("error");
    result["yardstick"] = presents ? "presented" : "composed";
    const double yardstick = result[presents ? "reference_full" : "reference_full_composed"].value("median_ms", 0.0);
    const double tenBit = result["reference_full_ten_bit"].value("median_ms", 0.0);
    for (const char* mode : MODES) {
        for (const char* command : {"rgb", "move"}) {
            const double median = result[mode][command]["median_ms"];
            result[mode][command]["ratio_to_full"] = yardstick > 0 ? median / yardstick : 0;
            if (std::string(mode) == "deep") result[mode][command]["ratio_to_full_ten_bit"] = tenBit > 0 ? median / tenBit : 0;
        }
    }
    return result;
}

// The bare client alone on a fresh compositor, or an "error" member when that does not start.
nlohmann::ordered_json referenceAlone(TestCompositor which, int width, int height, const std::vector<std::string>& args)
{
    try {
        return referenceCase(*startCompositor(which, width, height), args);
    } catch (const std::exception& e) {
        return {{"error", std::string("compositor did not start: ") + e.what()}};
    }
}

// The colour-managed weston at one size, its output described by the profile: the presenter's "rgb" round
// trips (its surface tagged with the output's description) beside the bare client's patch-sized updates
// untagged (converted from sRGB) and tagged (passed through), each waited for until presented. Each
// client gets a compositor of its own, and there is no start-up figure: this weston's kiosk shell may
// crash when one fullscreen client has gone and the next comes.
nlohmann::ordered_json colourCase(int width, int height, int commands)
{
    nlohmann::ordered_json result;
    const auto compositor = rowCompositor(TestCompositor::colourWeston, width, height, result);
    result["output_profile"] = COLOUR_OUTPUT_PROFILE;
    if (!compositor || !presenterFigures(*compositor, commands, false, result)) return result;

    const int patch = height / 2;
    const auto which = TestCompositor::colourWeston;
    result["reference_patch"] = referenceAlone(which, width, height, referenceArgs(commands, patch));
    result["reference_patch_tagged"] =
        referenceAlone(which, width, height, referenceArgs(commands, patch, "--tagged"));
    result["patch_pixels"] = {patch, patch};

    const double untagged = result["reference_patch"].value("median_ms", 0.0);
    const double tagged = result["reference_patch_tagged"].value("median_ms", 0.0);
    for (const char* mode : MODES) {
        const double median = result[mode]["rgb"]["median_ms"];
        result[mode]["rgb"]["ratio_to_tagged"] = tagged > 0 ? median / tagged : 0;
    }
    const double cost = untagged > 0 && tagged > 0 ? tagged / untagged : 0;
    result["tagged_to_untagged"] = cost;
    result["tagging_within_tolerance"] = cost > 0 && cost <= 1 + TAGGING_TOLERANCE;
    return result;
}

// "median (p90)" of a bare client's run, or what went wrong.
std::string referenceText(const nlohmann::ordered_json& r)
{
    if (r.contains("error")) return std::string(r["error"]);
    char text[96];
    std::snprintf(text, sizeof text, "%.2f (%.2f) ms", r.value("median_ms", 0.0), r.value("p90_ms", 0.0));
    std::string line = text;
    if (r.value("discarded", 0) > 0) line += ", " + std::to_string(r.value("discarded", 0)) + " discarded";
    return line;
}

void printCase(const nlohmann::ordered_json& c)
{
    const std::string compositor = c["compositor"];
    const std::string size = c["size"];
    if (c.contains("error")) {
        std::printf("%-7s %-10s %s\n", compositor.c_str(), size.c_str(), std::string(c["error"]).c_str());
        return;
    }
    const bool presents = c["yardstick"] == "presented";
    const double fullMs = c[presents ? "reference_full" : "reference_full_composed"].value("median_ms", 0.0);
    const double patchMs = c[presents ? "reference_patch" : "reference_patch_composed"].value("median_ms", 0.0);
    for (const char* mode : MODES) {
        const auto& m = c[mode];
        std::printf("%-7s %-10s %-7s %8.2fms %8.2fms %8.2fms %8.2fms %8.2fms %8.2fms %9.2f %9.2f\n", compositor.c_str(),
                    size.c_str(), mode, double(m["rgb"]["median_ms"]), double(m["rgb"]["p90_ms"]),
                    double(m["move"]["median_ms"]), double(m["move"]["p90_ms"]), fullMs, patchMs,
                    double(m["rgb"]["ratio_to_full"]), double(m["move"]["ratio_to_full"]));
    }
    std::printf("%-7s %-10s start-up %.1f ms (the first on the fresh compositor %.1f ms); yardstick: the bare "
                "client's %s frame; deep against its 10-bit full frame: rgb %.2f, move %.2f\n",
                compositor.c_str(), size.c_str(), double(c["startup_ms"]), double(c["startup_cold_ms"]),
                presents ? "presented" : "composed (frame callback; no presentation feedback)",
                c["deep"]["rgb"].value("ratio_to_full_ten_bit", 0.0), c["deep"]["move"].value("ratio_to_full_ten_bit", 0.0));
    std::printf("%-7s %-10s bare client presented: full %s, %dx%d patch %s, 10-bit full %s\n", compositor.c_str(),
                size.c_str(), referenceText(c["reference_full"]).c_str(), int(c["patch_pixels"][0]),
                int(c["patch_pixels"][1]), referenceText(c["reference_patch"]).c_str(),
                referenceText(c["reference_full_ten_bit"]).c_str());
    std::printf("%-7s %-10s bare client composed:  full %s, patch %s\n", compositor.c_str(), size.c_str(),
                referenceText(c["reference_full_composed"]).c_str(), referenceText(c["reference_patch_composed"]).c_str());
}

void printColourCase(const nlohmann::ordered_json& c)
{
    const std::string compositor = c["compositor"];
    const std::string size = c["size"];
    if (c.contains("error")) {
        std::printf("%-12s %-10s %s\n", compositor.c_str(), size.c_str(), std::string(c["error"]).c_str());
        return;
    }
    const double untagged = c["reference_patch"].value("median_ms", 0.0);
    const double tagged = c["reference_patch_tagged"].value("median_ms", 0.0);
    for (const char* mode : MODES) {
        const auto& rgb = c[mode]["rgb"];
        std::printf("%-12s %-10s %-7s %8.2fms %8.2fms %8.2fms %8.2fms %10.2f %15.3f\n", compositor.c_str(),
                    size.c_str(), mode, double(rgb["median_ms"]), double(rgb["p90_ms"]), untagged, tagged,
                    double(rgb["ratio_to_tagged"]), double(c["tagged_to_untagged"]));
    }
    std::printf("%-12s %-10s output profile %s; tagging should cost nothing per frame, within %.0f %%: %s\n",
                compositor.c_str(), size.c_str(), std::string(c["output_profile"]).c_str(), TAGGING_TOLERANCE * 100,
                c["tagging_within_tolerance"] ? "yes" : "no");
    std::printf("%-12s %-10s bare client presented, %dx%d patch: untagged %s, tagged %s\n", compositor.c_str(),
                size.c_str(), int(c["patch_pixels"][0]), int(c["patch_pixels"][1]),
                referenceText(c["reference_patch"]).c_str(), referenceText(c["reference_patch_tagged"]).c_str());
}

// A bare box client on a compositor of its own, started with these flags.
struct BareBox {
    std::vector<std::string> flags;
    std::unique_ptr<Compositor> compositor;
    std::unique_ptr<pp::bench::BareBoxClient> client;
    std::string error;
};

// One compositor at one size: the presenter's start-up, then per mode its "rgb" round trips interleaved
// with the bare box client's frames.
nlohmann::ordered_json waylandBoxCase(TestCompositor which, int width, int height, int commands)
{
    nlohmann::ordered_json result;
    const auto compositor = rowCompositor(which, width, height, result);
    const pp::PixelRect box = pp::bench::defaultPatchBox(width, height);
    result["box"] = {box.x, box.y, box.width, box.height};
    if (!compositor) return result;
    result["startup"] = pp::bench::startupFigures(presenterArgv(), compositor->env(), STARTUP_RUNS);
    if (width == 3840) {
        // Waited for as the presenter's first frame is (the frame callback on sway, which reports no
        // presentation), and tagged as it is tagged.
        std::vector<std::string> argv = {PP_WAYLAND_REFERENCE_PATH, "first"};
        if (which == TestCompositor::sway) argv.push_back("--until-frame");
        if (which == TestCompositor::colourWeston) argv.push_back("--tagged");
        result["bare_startup"] = pp::bench::bareStartupFigures(argv, compositor->env(), STARTUP_RUNS);
        result["startup_comparison"] = pp::bench::startupComparison(result["startup"], result["bare_startup"]);
    }
    ChildProcess presenter(presenterArgv(), compositor->env());
    const auto greeting = presenter.readLine(std::chrono::seconds(20));
    if (!greeting || greeting->rfind("ready ", 0) != 0) {
        result["error"] = "no greeting: " + greeting.value_or("");
        return result;
    }

    std::vector<std::unique_ptr<BareBox>> bares;
    auto bareFor = [&](const std::vector<std::string>& flags) -> BareBox& {
        for (auto& b : bares) {
            if (b->flags == flags) return *b;
        }
        auto b = std::make_unique<BareBox>();
        b->flags = flags;
        try {
            b->compositor = startCompositor(which, width, height);
            std::vector<std::string> argv = {PP_WAYLAND_REFERENCE_PATH, "box", "0", std::to_string(box.width),
                                             std::to_string(box.height), std::to_string(box.x), std::to_string(box.y)};
            argv.insert(argv.end(), flags.begin(), flags.end());
            argv.push_back("--serve");
            b->client = std::make_unique<pp::bench::BareBoxClient>(argv, b->compositor->env(), true);
            b->error = b->client->error();
        } catch (const std::exception& e) {
            b->error = std::string("compositor did not start: ") + e.what();
        }
        bares.push_back(std::move(b));
        return *bares.back();
    };

    const std::string name = pp::test::testCompositorName(which);
    for (const char* mode : MODES) {
        presenter.write(std::string("mode ") + mode + "\n");
        const std::string reply = presenter.readLine().value_or("");
        // Waited for as the presenter waits, tagged as it is tagged, 10-bit where its deep frames are.
        std::vector<std::string> flags;
        if (which == TestCompositor::sway) flags.push_back("--until-frame");
        if (which == TestCompositor::colourWeston) flags.push_back("--tagged");
        if (std::string(mode) == "deep" && reply.find("screen_bits 10") != std::string::npos) flags.push_back("--ten-bit");
        BareBox& bare = bareFor(flags);
        if (!bare.error.empty()) {
            result[mode] = {{"error", "bare client: " + bare.error}};
        } else {
            result[mode] = pp::bench::interleavedBoxRow(presenter, *bare.client, pp::bench::BOX_ROUNDS,
                                                        pp::bench::boxFramesPerRound(commands));
        }
        result[mode]["mode_reply"] = reply;
        result[mode]["bare_flags"] = flags;
        pp::bench::printBoxRow(name, result["size"], mode, result[mode]);
    }
    presenter.write("quit\n");
    presenter.wait();
    pp::bench::printStartupRow(name, result["size"], result["startup"]);
    if (result.contains("bare_startup")) {
        pp::bench::printBareStartupRow(name, result["size"], result["bare_startup"], result["startup_comparison"]);
    }
    return result;
}

}  // namespace

nlohmann::ordered_json waylandBoxBench(int commands)
{
    nlohmann::ordered_json report = nlohmann::ordered_json::array();
    pp::bench::printBoxHeading("wayland box");
    std::string why;
    const bool colour = pp::test::colourManagedWeston(&why).has_value();
    for (auto which : {TestCompositor::sway, TestCompositor::weston, TestCompositor::colourWeston}) {
        if (which == TestCompositor::colourWeston && !colour) {
            std::printf("colour-managed weston box rows skipped: %s\n", why.c_str());
            report.push_back({{"compositor", pp::test::testCompositorName(which)}, {"skipped", why}});
            continue;
        }
        for (auto [w, h] : SIZES) {
            auto result = waylandBoxCase(which, w, h, commands);
            if (result.contains("error")) {
                std::printf("%-12s %-10s %s\n", std::string(result["compositor"]).c_str(),
                            std::string(result["size"]).c_str(), std::string(result["error"]).c_str());
            }
            report.push_back(result);
        }
    }
    return report;
}

nlohmann::ordered_json waylandBench(int commands)
{
    nlohmann::ordered_json report = nlohmann::ordered_json::array();
    std::printf("\n%-7s %-10s %-7s %10s %10s %10s %10s %10s %10s %9s %9s\n", "wayland", "size", "mode", "rgb", "rgb p90",
                "move", "move p90", "full", "patch", "rgb/full", "move/full");
    for (auto which : {TestCompositor::sway, TestCompositor::weston}) {
        for (auto [w, h] : SIZES) {
            auto result = waylandCase(which, w, h, commands);
            printCase(result);
            std::fflush(stdout);
            report.push_back(result);
        }
    }

    std::string why;
    if (!pp::test::colourManagedWeston(&why)) {
        std::printf("\ncolour-managed weston rows skipped: %s\n", why.c_str());
        report.push_back(
            {{"compositor", pp::test::testCompositorName(TestCompositor::colourWeston)}, {"skipped", why}});
        return report;
    }
    std::printf("\n%-12s %-10s %-7s %10s %10s %10s %10s %10s %15s\n", "colour", "size", "mode", "rgb", "rgb p90",
                "untagged", "tagged", "rgb/tagged", "tagged/untagged");
    for (auto [w, h] : SIZES) {
        auto result = colourCase(w, h, commands);
        printColourCase(result);
        std::fflush(stdout);
        report.push_back(result);
    }
    return report;
}
