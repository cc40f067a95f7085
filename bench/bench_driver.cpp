// Drives the real presenter under Xvfb and measures what the performance goals name: the "rgb" round
// trip (a colour change, the patch in place) and the "move" round trip per mode beside a bare client
// presenting whole frames, start-up to "ready", peak resident memory; then the "rgb" round trip beside a
// bare client that writes and presents only the patch's box, interleaved with it in rounds (on X11 and on
// each Wayland compositor), and the start-up at both sizes. Prints a table and writes the figures as JSON.
//   bench-driver [COMMANDS] [JSON_PATH] [--box-only]
// --box-only runs only the box rows and their start-up rows.
#include <unistd.h>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "box_rounds.hpp"
#include "child_process.hpp"
#include "info_bench.hpp"
#include "processor_time.hpp"
#include "render/frame_renderer.hpp"
#include "bench_figures.hpp"
#include "wayland_bench.hpp"
#include "x_server.hpp"

#ifndef PP_REFERENCE_PATH
#define PP_REFERENCE_PATH "present-reference"
#endif

namespace {

using Clock = std::chrono::steady_clock;
using pp::bench::percentiles;
using pp::test::ChildProcess;
using pp::test::XServer;

// Presenters started for the start-up figure: the first on the fresh server, the median of the rest.
constexpr int STARTUP_RUNS = 6;

double peakResidentMiB(pid_t pid)
{
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmHWM:", 0) == 0) return std::stod(line.substr(6)) / 1024.0;
    }
    return 0;
}

std::vector<double> referenceTimes(const XServer& server, const char* how, int frames, const std::string& region = "")
{
    std::istringstream words(
        server.output(std::string(PP_REFERENCE_PATH) + " " + how + " " + std::to_string(frames) + " " + region));
    std::vector<double> times;
    for (double t; words >> t;) times.push_back(t / 1000.0);
    // The first frames set up the server's side; leave them out as the presenter's warm-up is.
    if (times.size() > 10) times.erase(times.begin(), times.begin() + 10);
    return times;
}

// Median time to render a deep frame with the mark and a caption, in memory, at the given size.
double deepFrameMs(int width, int height, pp::PixelFormat format)
{
    pp::PatchView view(height * 0.5 / 65);
    const double side = height / 2.0;
    view.patch = {width / 2.0 - side / 2, height / 2.0 - side / 2, side, side};
    view.mode = pp::Mode::deep;
    view.mark = true;
    view.caption = "patch 17 of 250";
    view.rgb = {127.25, 64.5, 10.75};
    pp::FrameRenderer renderer;
    renderer.setSurfaceBits(16);
    std::vector<std::uint32_t> pixels(static_cast<std::size_t>(width) * height);
    const pp::FrameBuffer target{pixels.data(), width, height, width, format};
    std::vector<double> times;
    for (int i = 0; i < 40; ++i) {
        const auto start = Clock::now();
        renderer.render(view, target);
        times.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    }
    return percentiles(times).median;
}

// Median "rgb" round trip, or a negative value on a bad reply.
double rgbMedianMs(ChildProcess& presenter, int count)
{
    const auto times = pp::bench::roundTrips(presenter, count, "painted ", [](int i) {
        return "rgb " + std::to_string(100 + i % 50) + ".25 64 10\n";
    });
    return times ? percentiles(*times).median : -1;
}

// A 50 MB caption: the time to its answer, the peak memory after it, and the "rgb" round trip with it
// shown beside the one with a short caption, in dither mode.
nlohmann::ordered_json hugeCaptionCase(ChildProcess& presenter, int commands)
{
    presenter.write("mode dither\ntext patch 17 of 250\n");
    presenter.readLine();
    presenter.readLine();
    const double shortMs = rgbMedianMs(presenter, commands);
    std::string line = "text ";
    while (line.size() < 50'000'000) line += "caption \xC3\xA9t\xC3\xA9 word ";
    line += "\n";
    const auto sent = Clock::now();
    presenter.write(line);
    const auto reply = presenter.readLine(std::chrono::seconds(120));
    const double answerMs = std::chrono::duration<double, std::milli>(Clock::now() - sent).count();
    const double longMs = rgbMedianMs(presenter, commands);
    return {{"answered", reply.value_or("") == "text"},
            {"answer_ms", answerMs},
            {"peak_rss_mib", peakResidentMiB(presenter.pid())},
            {"rgb_median_short_caption_ms", shortMs},
            {"rgb_median_huge_caption_ms", longMs},
            {"ratio", shortMs > 0 ? longMs / shortMs : 0}};
}

// The "rgb" round trip per mode beside the bare client writing and presenting only the patch's box, at
// depth 24 and both sizes, and the processor time per "rgb" beside the bare client's per frame, each
// with its X server's. The two run on two Xvfbs of the same kind, so that neither window covers the
// other; the presenter's server is fresh for its start-up figure, which at 3840 x 2160 is put beside a
// bare client's start-up to its first shown frame on the same server.
nlohmann::ordered_json x11BoxRows(int commands)
{
    nlohmann::ordered_json rows = nlohmann::ordered_json::array();
    pp::bench::printBoxHeading("x11 box");
    for (auto [w, h] : {std::pair{1920, 1080}, std::pair{3840, 2160}}) {
        const std::string size = std::to_string(w) + "x" + std::to_string(h);
        const pp::test::XvfbOptions options{.width = w, .height = h, .depth = 24, .fakeScreenFps = 600};
        auto presenterServer = XServer::startXvfb(options);
        auto bareServer = XServer::startXvfb(options);
        const pp::PixelRect box = pp::bench::defaultPatchBox(w, h);
        nlohmann::ordered_json row = {{"platform", "x11"}, {"size", size}, {"depth", 24},
                                      {"box", {box.x, box.y, box.width, box.height}}};

        const std::map<std::string, std::string> env = {{"DISPLAY", presenterServer->display()}};
        row["startup"] = pp::bench::startupFigures({pp::test::presenterPath()}, env, STARTUP_RUNS);
        if (w == 3840) {
            row["bare_startup"] = pp::bench::bareStartupFigures({PP_REFERENCE_PATH, "first"}, env, STARTUP_RUNS);
            row["startup_comparison"] = pp::bench::startupComparison(row["startup"], row["bare_startup"]);
        }
        ChildProcess presenter({pp::test::presenterPath()}, env);
        const auto greeting = presenter.readLine(std::chrono::seconds(20));
        pp::bench::BareBoxClient bare({PP_REFERENCE_PATH, "box", "0", std::to_string(box.width),
                                       std::to_string(box.height), std::to_string(box.x), std::to_string(box.y),
                                       "--serve"},
                                      {{"DISPLAY", bareServer->display()}}, false);
        if (!greeting || greeting->rfind("ready ", 0) != 0 || !bare.error().empty()) {
            row["error"] = !bare.error().empty() ? "bare client: " + bare.error() : "no greeting";
            std::printf("%-12s %-10s %s\n", "x11", size.c_str(), std::string(row["error"]).c_str());
            rows.push_back(row);
            continue;
        }
        for (const char* mode : {"flat", "dither", "deep"}) {
            presenter.write(std::string("mode ") + mode + "\n");
            presenter.readLine();
            row[mode] = pp::bench::interleavedBoxRow(presenter, bare, pp::bench::BOX_ROUNDS,
                                                     pp::bench::boxFramesPerRound(commands));
            pp::bench::printBoxRow("x11", size, mode, row[mode]);
            const int shortBatch = pp::bench::boxFramesPerRound(commands);
            row[mode]["processor_time"] =
                pp::bench::processorTimeRow(presenter, presenterServer->pid(), bare, bareServer->pid(), shortBatch,
                                            shortBatch + commands, pp::bench::PROCESSOR_ROUNDS);
            pp::bench::printProcessorTimeRow("x11", size, mode, row[mode]["processor_time"]);
        }
        presenter.write("quit\n");
        presenter.wait();
        pp::bench::printStartupRow("x11", size, row["startup"]);
        if (row.contains("bare_startup")) {
            pp::bench::printBareStartupRow("x11", size, row["bare_startup"], row["startup_comparison"]);
        }
        rows.push_back(row);
    }
    return rows;
}

}  // namespace

int main(int argc, char** argv)
{
    const auto [commands, jsonPath, boxOnly] = pp::bench::benchArguments(argc, argv, "bench.json");
    nlohmann::ordered_json report = nlohmann::ordered_json::array();
    if (boxOnly) {
        report.push_back({{"x11_box", x11BoxRows(commands)}});
        report.push_back({{"wayland_box", waylandBoxBench(commands)}});
        std::ofstream(jsonPath) << report.dump(2) << "\n";
        std::printf("figures written to %s\n", jsonPath.c_str());
        return 0;
    }

    std::printf("%-10s %-5s %-7s %-5s %9s %9s %9s %10s %8s\n", "size", "depth", "mode", "what", "median", "p90",
                "p99", "present", "/present");
    for (auto [w, h] : {std::pair{1920, 1080}, std::pair{3840, 2160}}) {
        for (int depth : {24, 30}) {
            auto server = XServer::startXvfb({.width = w, .height = h, .depth = depth, .fakeScreenFps = 600});
            const std::string size = std::to_string(w) + "x" + std::to_string(h);

            const std::map<std::string, std::string> env = {{"DISPLAY", server->display()}};
            const auto startup = pp::bench::startupTimes({pp::test::presenterPath()}, env, STARTUP_RUNS);
            ChildProcess presenter({pp::test::presenterPath()}, env);
            const auto greeting = presenter.readLine(std::chrono::seconds(20));
            if (startup.warmMs < 0 || !greeting || greeting->rfind("ready ", 0) != 0) {
                std::printf("%s depth %d: no greeting\n", size.c_str(), depth);
                return 1;
            }

            nlohmann::ordered_json caseReport = {{"size", size}, {"depth", depth}, {"startup_ms", startup.warmMs},
                                                 {"startup_cold_ms", startup.coldMs}};
            for (const char* mode : {"flat", "dither", "deep"}) {
                presenter.write(std::string("mode ") + mode + "\n");
                presenter.readLine();
                // "rgb": a new colour where the patch is; "move": the patch to and fro, colour unchanged.
                const auto rgbTimes = pp::bench::roundTrips(presenter, commands, "painted ", [](int i) {
                    return "rgb " + std::to_string(100 + i % 50) + ".25 64 10\n";
                });
                const auto moveTimes = pp::bench::roundTrips(presenter, commands, "moved", [](int i) {
                    return i % 2 ? std::string("move 0.3 0.4\n") : std::string("move 0.6 0.55\n");
                });
                if (!rgbTimes || !moveTimes) {
                    std::printf("%s depth %d %s: bad reply\n", size.c_str(), depth, mode);
                    return 1;
                }
                const auto rgb = percentiles(*rgbTimes), move = percentiles(*moveTimes);
                caseReport[mode] = {{"median_ms", rgb.median}, {"p90_ms", rgb.p90}, {"p99_ms", rgb.p99},
                                    {"move", {{"median_ms", move.median}, {"p90_ms", move.p90}, {"p99_ms", move.p99}}}};
            }
            caseReport["deep_frame_render_ms"] =
                deepFrameMs(w, h, depth == 30 ? pp::PixelFormat::xrgb2101010 : pp::PixelFormat::xrgb8888);
            caseReport["peak_rss_mib"] = peakResidentMiB(presenter.pid());
            caseReport["frame_buffer_mib"] = w * h * 4 / 1048576.0;
            if (w == 1920 && depth == 24) {
                const auto huge = hugeCaptionCase(presenter, commands);
                std::printf("%-10s %-5d 50 MB caption: answered in %.0f ms, peak resident %.1f MiB; rgb median %.2f ms "
                            "with it, %.2f ms with a short one (ratio %.2f)\n",
                            size.c_str(), depth, double(huge["answer_ms"]), double(huge["peak_rss_mib"]),
                            double(huge["rgb_median_huge_caption_ms"]), double(huge["rgb_median_short_caption_ms"]),
                            double(huge["ratio"]));
                caseReport["huge_caption"] = huge;
            }
            presenter.write("quit\n");
            presenter.wait();

            const auto present = percentiles(referenceTimes(*server, "present", commands + 10));
            const auto region = percentiles(referenceTimes(*server, "present", commands + 10, "256 256"));
            const auto upload = percentiles(referenceTimes(*server, "upload", commands + 10));
            caseReport["reference_present"] = {{"median_ms", present.median}, {"p90_ms", present.p90}};
            caseReport["reference_present_256"] = {{"median_ms", region.median}, {"p90_ms", region.p90}};
            caseReport["reference_upload"] = {{"median_ms", upload.median}, {"p90_ms", upload.p90}};
            auto ratio = [&](double ms) { return present.median > 0 ? ms / present.median : 0; };
            for (const char* mode : {"flat", "dither", "deep"}) {
                auto& row = caseReport[mode];
                row["ratio_to_present"] = ratio(row["median_ms"]);
                row["move"]["ratio_to_present"] = ratio(row["move"]["median_ms"]);
                for (const auto& [what, r] : {std::pair{"rgb", row}, std::pair{"move", row["move"]}}) {
                    std::printf("%-10s %-5d %-7s %-5s %8.2fms %8.2fms %8.2fms %8.2fms %8.2f\n", size.c_str(), depth,
                                mode, what, double(r["median_ms"]), double(r["p90_ms"]), double(r["p99_ms"]),
                                present.median, double(r["ratio_to_present"]));
                }
            }
            std::printf("%-10s %-5d bare client: full-frame Present %.2f ms, 256 x 256 region %.2f ms, "
                        "MIT-SHM upload %.2f ms (drawing not timed)\n",
                        size.c_str(), depth, present.median, region.median, upload.median);
            std::printf("%-10s %-5d start-up %.1f ms (the first on the fresh server %.1f ms), peak resident %.1f MiB "
                        "(one frame buffer %.1f MiB), deep frame render %.2f ms\n",
                        size.c_str(), depth, startup.warmMs, startup.coldMs, double(caseReport["peak_rss_mib"]),
                        double(caseReport["frame_buffer_mib"]), double(caseReport["deep_frame_render_ms"]));
            report.push_back(caseReport);
        }
    }
    report.push_back({{"x11_box", x11BoxRows(commands)}});
    report.push_back({{"info", infoBench(commands)}});
    report.push_back({{"wayland", waylandBench(commands)}});
    report.push_back({{"wayland_box", waylandBoxBench(commands)}});
    std::ofstream(jsonPath) << report.dump(2) << "\n";
    std::printf("figures written to %s\n", jsonPath.c_str());
    return 0;
}
