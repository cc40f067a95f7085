// Processor time spent by other processes (the presenter, a bare client, their display servers), and
// the time per command it comes to: the difference of a long batch and a short one, so that what a
// batch costs whatever its length (start, warm-up, the first frame) cancels out.
#pragma once

#include <sys/types.h>

#include <nlohmann/json.hpp>

#include <optional>
#include <string>
#include <vector>

#include "box_rounds.hpp"
#include "child_process.hpp"

namespace pp::bench {

// Pairs of batches per row: each pair is a short and a long batch of each side.
inline constexpr int PROCESSOR_ROUNDS = 5;

// User plus system time in clock ticks from the text of /proc/PID/stat; none when it does not parse.
std::optional<long long> statProcessorTicks(const std::string& stat);

// The processor time in seconds the process has used so far, all its threads counted (its CPU clock,
// nanosecond resolution; /proc/PID/stat's ticks where that clock cannot be read); negative when the
// process is gone.
double processorSeconds(pid_t pid);

// The processor time in seconds each of `pids` uses while `batch` runs; none when a process is gone or
// the batch fails.
template <typename Batch>
std::optional<std::vector<double>> processorSecondsOver(const std::vector<pid_t>& pids, Batch batch)
{
    std::vector<double> before;
    for (pid_t pid : pids) before.push_back(processorSeconds(pid));
    if (!batch()) return std::nullopt;
    std::vector<double> spent;
    for (std::size_t i = 0; i < pids.size(); ++i) {
        const double after = processorSeconds(pids[i]);
        if (before[i] < 0 || after < 0) return std::nullopt;
        spent.push_back(after - before[i]);
    }
    return spent;
}

// Processor time per "rgb" of the presenter and its X server beside the bare box client's per frame
// and its X server's, each the difference of a long batch and a short one over `rounds` rounds, in
// microseconds (the means over the rounds), with the median over the rounds of each round's ratio
// (presenter + server) / (bare client + server), so that a round disturbed by the machine's load does
// not move it; an "error" member when a side fails.
nlohmann::ordered_json processorTimeRow(test::ChildProcess& presenter, pid_t presenterServer, BareBoxClient& bare,
                                        pid_t bareServer, int shortBatch, int longBatch, int rounds);

// The table's line for that row.
void printProcessorTimeRow(const std::string& where, const std::string& size, const std::string& mode,
                           const nlohmann::ordered_json& row);

}  // namespace pp::bench
