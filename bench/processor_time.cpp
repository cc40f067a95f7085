#include "processor_time.hpp"

#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <iterator>

#include "bench_figures.hpp"

namespace pp::bench {

std::optional<long long> statProcessorTicks(const std::string& stat)
{
    // The command name, in parentheses, may hold spaces and parentheses: the fields follow the last ')'.
    const auto close = stat.rfind(')');
    if (close == std::string::npos) return std::nullopt;
    std::istringstream fields(stat.substr(close + 1));
    // After the name: state (3), ppid, pgrp, session, tty_nr, tpgid, flags, minflt, cminflt, majflt,
    // cmajflt, then utime (14) and stime (15).
    std::string field;
    for (int i = 3; i <= 13; ++i) {
        if (!(fields >> field)) return std::nullopt;
    }
    long long user = 0, system = 0;
    if (!(fields >> user >> system)) return std::nullopt;
    return user + system;
}

double processorSeconds(pid_t pid)
{
    clockid_t clock;
    timespec t{};
    if (clock_getcpuclockid(pid, &clock) == 0 && clock_gettime(clock, &t) == 0) return double(t.tv_sec) + t.tv_nsec * 1e-9;
    std::ifstream file("/proc/" + std::to_string(pid) + "/stat");
    const std::string stat{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
    const auto ticks = statProcessorTicks(stat);
    return ticks ? double(*ticks) / double(sysconf(_SC_CLK_TCK)) : -1;
}

namespace {

// One side's processor time per command in microseconds, the process and its server: the long batch's
// less the short batch's, over the commands between them.
struct PerCommand {
    double own = 0, server = 0;
    double total() const { return own + server; }
};

PerCommand perCommand(const std::vector<double>& shortSpent, const std::vector<double>& longSpent, int commands)
{
    return {(longSpent[0] - shortSpent[0]) * 1e6 / commands, (longSpent[1] - shortSpent[1]) * 1e6 / commands};
}

}  // namespace

nlohmann::ordered_json processorTimeRow(test::ChildProcess& presenter, pid_t presenterServer, BareBoxClient& bare,
                                        pid_t bareServer, int shortBatch, int longBatch, int rounds)
{
    auto presenterBatch = [&](int count) {
        return processorSecondsOver({presenter.pid(), presenterServer}, [&] {
            return roundTrips(presenter, count, "painted ", [](int i) {
                       return "rgb " + std::to_string(100 + i % 50) + ".25 64 10\n";
                   }).has_value();
        });
    };
    auto bareBatch = [&](int count) {
        return processorSecondsOver({bare.pid(), bareServer}, [&] { return bare.batch(count).has_value(); });
    };
    const int difference = longBatch - shortBatch;
    PerCommand ours, theirs;
    std::vector<double> ratios;
    for (int round = 0; round < rounds; ++round) {
        const auto ps = presenterBatch(shortBatch), pl = presenterBatch(longBatch);
        if (!ps || !pl) return {{"error", "bad reply from the presenter"}};
        const auto bs = bareBatch(shortBatch), bl = bareBatch(longBatch);
        if (!bs || !bl) return {{"error", "bare client: " + bare.error()}};
        const PerCommand p = perCommand(*ps, *pl, difference), b = perCommand(*bs, *bl, difference);
        ratios.push_back(b.total() > 0 ? p.total() / b.total() : 0);
        ours = {ours.own + p.own / rounds, ours.server + p.server / rounds};
        theirs = {theirs.own + b.own / rounds, theirs.server + b.server / rounds};
    }
    return {{"presenter_us_per_rgb", ours.own},
            {"presenter_server_us_per_rgb", ours.server},
            {"presenter_total_us_per_rgb", ours.total()},
            {"bare_box_us_per_frame", theirs.own},
            {"bare_box_server_us_per_frame", theirs.server},
            {"bare_box_total_us_per_frame", theirs.total()},
            {"ratio", percentiles(ratios).median},
            {"round_ratios", ratios},
            {"short_batch", shortBatch},
            {"long_batch", longBatch},
            {"rounds", rounds}};
}

void printProcessorTimeRow(const std::string& where, const std::string& size, const std::string& mode,
                           const nlohmann::ordered_json& row)
{
    if (row.contains("error")) {
        std::printf("%-12s %-10s %-7s processor time: %s\n", where.c_str(), size.c_str(), mode.c_str(),
                    std::string(row["error"]).c_str());
        return;
    }
    const std::vector<double> ratios = row["round_ratios"];
    const auto [least, most] = std::minmax_element(ratios.begin(), ratios.end());
    std::printf("%-12s %-10s %-7s cpu/rgb %7.0fus + server %7.0fus = %7.0fus; box %6.0fus + server %6.0fus = "
                "%6.0fus; ratio %5.2f (%.2f-%.2f)\n",
                where.c_str(), size.c_str(), mode.c_str(), double(row["presenter_us_per_rgb"]),
                double(row["presenter_server_us_per_rgb"]), double(row["presenter_total_us_per_rgb"]),
                double(row["bare_box_us_per_frame"]), double(row["bare_box_server_us_per_frame"]),
                double(row["bare_box_total_us_per_frame"]), double(row["ratio"]), *least, *most);
    std::fflush(stdout);
}

}  // namespace pp::bench
