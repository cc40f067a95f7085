#include "box_rounds.hpp"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <thread>

#include "bench_figures.hpp"
#include "core/geometry.hpp"

namespace pp::bench {

BenchArguments benchArguments(int argc, char** argv, const std::string& defaultJsonPath)
{
    BenchArguments arguments;
    arguments.jsonPath = defaultJsonPath;
    int positional = 0;
    for (int i = 1; i < argc; ++i) {
        const std::string word = argv[i];
        if (word == "--box-only") {
            arguments.boxOnly = true;
        } else if (positional++ == 0) {
            arguments.commands = std::atoi(word.c_str());
        } else {
            arguments.jsonPath = word;
        }
    }
    return arguments;
}

int boxFramesPerRound(int commands)
{
    return std::max(10, commands / 10);
}

PixelRect defaultPatchBox(int width, int height)
{
    Screen screen;
    screen.frame = {0, 0, double(width), double(height)};
    const Geometry g = patchGeometry({}, screen);
    // View coordinates have y up from the bottom edge; frame pixels have y down from the top.
    const double top = height - (g.patchRect.y + g.patchRect.height);
    const int x0 = int(std::floor(g.patchRect.x)), y0 = int(std::floor(top));
    const int x1 = int(std::ceil(g.patchRect.x + g.patchRect.width)), y1 = int(std::ceil(top + g.patchRect.height));
    return {x0, y0, x1 - x0, y1 - y0};
}

BareBoxClient::BareBoxClient(const std::vector<std::string>& argv, const std::map<std::string, std::string>& env,
                             bool feedbackLines)
    : process_(argv, env), feedbackLines_(feedbackLines)
{
    const auto ready = process_.readLine(std::chrono::seconds(30));
    if (ready != "ready") error_ = ready ? *ready : std::string("no answer");
}

BareBoxClient::~BareBoxClient()
{
    process_.closeInput();
    process_.wait(std::chrono::seconds(5));
}

std::optional<std::vector<double>> BareBoxClient::batch(int frames)
{
    if (!error_.empty()) return std::nullopt;
    process_.write(std::to_string(frames) + "\n");
    const auto timesLine = process_.readLine(std::chrono::seconds(120));
    std::vector<double> times;
    std::istringstream words(timesLine.value_or(""));
    for (double t; words >> t;) times.push_back(t / 1000.0);
    if (int(times.size()) != frames) {
        error_ = timesLine ? *timesLine : std::string("no answer");
        return std::nullopt;
    }
    if (feedbackLines_) {
        // "feedback presented P discarded D refresh_mhz R"
        std::istringstream feedback(process_.readLine().value_or(""));
        std::string word;
        int presented = 0, discarded = 0;
        feedback >> word >> word >> presented >> word >> discarded;
        discarded_ += discarded;
    }
    return times;
}

nlohmann::ordered_json interleavedBoxRow(test::ChildProcess& presenter, BareBoxClient& bare, int rounds, int frames)
{
    std::vector<double> presenterAll, bareAll, ratios;
    for (int round = 0; round < rounds; ++round) {
        const auto ours = roundTrips(presenter, frames, "painted ", [](int i) {
            return "rgb " + std::to_string(100 + i % 50) + ".25 64 10\n";
        });
        if (!ours) return {{"error", "bad reply from the presenter"}};
        auto theirs = bare.batch(frames + WARM_UP);
        if (!theirs) return {{"error", "bare client: " + bare.error()}};
        theirs->erase(theirs->begin(), theirs->begin() + WARM_UP);
        const double bareMedian = percentiles(*theirs).median;
        ratios.push_back(bareMedian > 0 ? percentiles(*ours).median / bareMedian : 0);
        presenterAll.insert(presenterAll.end(), ours->begin(), ours->end());
        bareAll.insert(bareAll.end(), theirs->begin(), theirs->end());
    }
    const auto p = percentiles(presenterAll), b = percentiles(bareAll);
    return {{"presenter_median_ms", p.median},
            {"presenter_p90_ms", p.p90},
            {"bare_box_median_ms", b.median},
            {"bare_box_p90_ms", b.p90},
            {"ratio", percentiles(ratios).median},
            {"round_ratios", ratios},
            {"rounds", rounds},
            {"frames_per_round", frames},
            {"bare_box_discarded", bare.discarded()}};
}

nlohmann::ordered_json startupFigures(const std::vector<std::string>& argv, const std::map<std::string, std::string>& env,
                                      int runs)
{
    const auto startup = startupTimes(argv, env, runs);
    if (startup.warmMs < 0) return {{"error", "no greeting"}};
    return {{"median_ms", startup.warmMs}, {"first_ms", startup.coldMs}, {"runs", runs}};
}

nlohmann::ordered_json bareStartupFigures(const std::vector<std::string>& argv,
                                          const std::map<std::string, std::string>& env, int runs)
{
    std::vector<double> warm;
    double cold = -1;
    for (int i = 0; i < runs; ++i) {
        if (i > 0) std::this_thread::sleep_for(STARTUP_SETTLE);
        const auto started = std::chrono::steady_clock::now();
        test::ChildProcess bare(argv, env);
        const auto shown = bare.readLine(std::chrono::seconds(20));
        const auto status = bare.wait(std::chrono::seconds(20));
        const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - started).count();
        if (shown != "shown" || status != 0) return {{"error", shown ? *shown : std::string("no answer")}};
        if (i == 0) {
            cold = ms;
        } else {
            warm.push_back(ms);
        }
    }
    return {{"median_ms", percentiles(warm).median}, {"first_ms", cold}, {"runs", runs}};
}

nlohmann::ordered_json startupComparison(const nlohmann::ordered_json& presenter, const nlohmann::ordered_json& bare)
{
    const double ours = presenter.value("median_ms", 0.0), theirs = bare.value("median_ms", 0.0);
    return {{"presenter_median_ms", ours}, {"bare_median_ms", theirs}, {"ratio", theirs > 0 ? ours / theirs : 0}};
}

void printBoxHeading(const char* where)
{
    std::printf("\n%-12s %-10s %-7s %10s %10s %10s %10s %8s %15s\n", where, "size", "mode", "rgb", "rgb p90", "box",
                "box p90", "rgb/box", "rounds min-max");
}

void printBoxRow(const std::string& where, const std::string& size, const std::string& mode,
                 const nlohmann::ordered_json& row)
{
    if (row.contains("error")) {
        std::printf("%-12s %-10s %-7s %s\n", where.c_str(), size.c_str(), mode.c_str(),
                    std::string(row["error"]).c_str());
        return;
    }
    const std::vector<double> ratios = row["round_ratios"];
    const auto [least, most] = std::minmax_element(ratios.begin(), ratios.end());
    std::printf("%-12s %-10s %-7s %8.2fms %8.2fms %8.2fms %8.2fms %8.2f %7.2f-%-7.2f\n", where.c_str(), size.c_str(),
                mode.c_str(), double(row["presenter_median_ms"]), double(row["presenter_p90_ms"]),
                double(row["bare_box_median_ms"]), double(row["bare_box_p90_ms"]), double(row["ratio"]), *least,
                *most);
    std::fflush(stdout);
}

void printStartupRow(const std::string& where, const std::string& size, const nlohmann::ordered_json& startup)
{
    if (startup.contains("error")) {
        std::printf("%-12s %-10s start-up: %s\n", where.c_str(), size.c_str(), std::string(startup["error"]).c_str());
        return;
    }
    std::printf("%-12s %-10s start-up to ready %.1f ms (median of %d after the first; the first on the fresh "
                "server %.1f ms)\n",
                where.c_str(), size.c_str(), double(startup["median_ms"]), int(startup["runs"]) - 1,
                double(startup["first_ms"]));
    std::fflush(stdout);
}

void printBareStartupRow(const std::string& where, const std::string& size, const nlohmann::ordered_json& bare,
                         const nlohmann::ordered_json& comparison)
{
    if (bare.contains("error")) {
        std::printf("%-12s %-10s bare client's start-up: %s\n", where.c_str(), size.c_str(),
                    std::string(bare["error"]).c_str());
        return;
    }
    std::printf("%-12s %-10s bare client's start-up to its first shown frame %.1f ms (the first %.1f ms); "
                "presenter / bare %.2f\n",
                where.c_str(), size.c_str(), double(bare["median_ms"]), double(bare["first_ms"]),
                double(comparison["ratio"]));
    std::fflush(stdout);
}

}  // namespace pp::bench
