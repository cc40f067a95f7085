// What the benchmarks measure the same way everywhere: percentiles, command round trips, start-up.
#pragma once

#include <algorithm>
#include <chrono>
#include <map>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "child_process.hpp"

namespace pp::bench {

// Commands sent before the timed ones, answered but not counted.
inline constexpr int WARM_UP = 10;

struct Percentiles {
    double median = 0, p90 = 0, p99 = 0;
};

inline Percentiles percentiles(std::vector<double> v)
{
    if (v.empty()) return {};
    std::sort(v.begin(), v.end());
    auto at = [&](double q) { return v[std::min(v.size() - 1, static_cast<std::size_t>(q * (v.size() - 1) + 0.5))]; };
    return {at(0.5), at(0.9), at(0.99)};
}

// Round trips in milliseconds of `count` commands after the warm-up, each line made by `line(i)` and
// answered by a line starting with `answer`; none on a missing or wrong answer.
template <typename Line>
std::optional<std::vector<double>> roundTrips(test::ChildProcess& presenter, int count, const std::string& answer,
                                              Line line)
{
    std::vector<double> times;
    for (int i = 0; i < count + WARM_UP; ++i) {
        const std::string text = line(i);
        const auto sent = std::chrono::steady_clock::now();
        presenter.write(text);
        const auto reply = presenter.readLine();
        const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - sent).count();
        if (!reply || reply->rfind(answer, 0) != 0) return std::nullopt;
        if (i >= WARM_UP) times.push_back(ms);
    }
    return times;
}

struct StartupTimes {
    double coldMs = -1;  // the first presenter on the fresh display server; negative: no greeting
    double warmMs = -1;  // the median of the ones after it
};

// Starts `runs` presenters with `argv` and `env` in turn, each quit as soon as it has greeted. The first
// is timed apart: a fresh virtual display server fills its screen memory only when a client first draws
// on it, a cost a display in use has paid long before.
// The pause before each start after the first.
inline constexpr std::chrono::milliseconds STARTUP_SETTLE{500};

inline StartupTimes startupTimes(const std::vector<std::string>& argv, const std::map<std::string, std::string>& env,
                                 int runs)
{
    StartupTimes times;
    std::vector<double> warm;
    for (int i = 0; i < runs; ++i) {
        // A start follows an idle display server, as a driver's does: a compositor spends a few hundred
        // milliseconds tearing down the full-screen client that has just gone (weston 16 at 3840 x 2160).
        if (i > 0) std::this_thread::sleep_for(STARTUP_SETTLE);
        const auto started = std::chrono::steady_clock::now();
        test::ChildProcess presenter(argv, env);
        const auto greeting = presenter.readLine(std::chrono::seconds(20));
        const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - started).count();
        if (!greeting || greeting->rfind("ready ", 0) != 0) return times;
        presenter.write("quit\n");
        presenter.wait();
        if (i == 0) {
            times.coldMs = ms;
        } else {
            warm.push_back(ms);
        }
    }
    if (!warm.empty()) {
        std::sort(warm.begin(), warm.end());
        times.warmMs = warm[warm.size() / 2];
    }
    return times;
}

}  // namespace pp::bench
