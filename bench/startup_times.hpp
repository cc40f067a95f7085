// Start-up to "ready", measured over several presenters started one after another on one display.
#pragma once

#include <algorithm>
#include <chrono>
#include <map>
#include <string>
#include <vector>

#include "child_process.hpp"

namespace pp::bench {

struct StartupTimes {
    double coldMs = -1;  // the first presenter on the fresh display server; negative: no greeting
    double warmMs = -1;  // the median of the ones after it
};

// Starts `runs` presenters with `argv` and `env` in turn, each quit as soon as it has greeted. The first
// is timed apart: a fresh virtual display server fills its screen memory only when a client first draws
// on it, a cost a display in use has paid long before.
inline StartupTimes startupTimes(const std::vector<std::string>& argv, const std::map<std::string, std::string>& env,
                                 int runs)
{
    StartupTimes times;
    std::vector<double> warm;
    for (int i = 0; i < runs; ++i) {
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
