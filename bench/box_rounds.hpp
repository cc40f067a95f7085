// The floor for the "rgb" round trip: a bare client that writes only the patch's box and presents only
// that box, run in rounds interleaved with the presenter on the same kind of display server, so that a
// change in the machine's load between the two cancels out of their ratio.
#pragma once

#include <nlohmann/json.hpp>

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "child_process.hpp"
#include "core/values.hpp"

namespace pp::bench {

// A bench program's command line: [COMMANDS] [JSON_PATH] [--box-only].
struct BenchArguments {
    int commands = 300;    // commands per figure
    std::string jsonPath;  // where the figures are written
    bool boxOnly = false;  // only the box rows and their start-up rows
};
BenchArguments benchArguments(int argc, char** argv, const std::string& defaultJsonPath);

// Rounds per row: each is a batch of the presenter's "rgb" round trips, then a batch of bare box frames.
inline constexpr int BOX_ROUNDS = 5;

// Timed commands (and timed bare frames) per round for a bench of `commands` commands per figure: a
// tenth, at least 10, so that a row costs about as much as one of the other rows.
int boxFramesPerRound(int commands);

// The presenter's start-up patch on a screen of `width` x `height` pixels that reports no physical size,
// in frame pixels (y down): the pixels its edges touch.
PixelRect defaultPatchBox(int width, int height);

// A bare client started with --serve: "ready" once set up, then for each line N a batch of N frames
// answered by one line of per-frame times in microseconds (and, from the Wayland client, a feedback
// line).
class BareBoxClient {
public:
    BareBoxClient(const std::vector<std::string>& argv, const std::map<std::string, std::string>& env,
                  bool feedbackLines);
    ~BareBoxClient();
    BareBoxClient(const BareBoxClient&) = delete;
    BareBoxClient& operator=(const BareBoxClient&) = delete;

    // Empty once ready; else what went wrong.
    const std::string& error() const { return error_; }
    // The frame times of a batch in milliseconds; none (and error() says why) when it failed.
    std::optional<std::vector<double>> batch(int frames);
    // Frames the compositor discarded instead of presenting, over all batches.
    int discarded() const { return discarded_; }
    pid_t pid() const { return process_.pid(); }

private:
    test::ChildProcess process_;
    bool feedbackLines_;
    std::string error_;
    int discarded_ = 0;
};

// One row: `rounds` rounds of `frames` "rgb" round trips of the presenter (in its current mode), each
// followed by `frames` bare box frames (both after a warm-up). The medians over all rounds, and the
// ratio: the median over rounds of (presenter median / bare median of that round). An "error" member
// when either side fails.
nlohmann::ordered_json interleavedBoxRow(test::ChildProcess& presenter, BareBoxClient& bare, int rounds, int frames);

// Start-up to "ready" of `runs` presenters in turn on a fresh display server: the median of those after
// the first, and the first; an "error" member when one does not greet.
nlohmann::ordered_json startupFigures(const std::vector<std::string>& argv, const std::map<std::string, std::string>& env,
                                      int runs);

// Start-up to the first shown frame of `runs` bare clients in turn (`argv` shows one frame, says "shown"
// and exits), each timed from its start until it has exited, as startupFigures times the presenter:
// the median of those after the first, and the first; an "error" member when one fails.
nlohmann::ordered_json bareStartupFigures(const std::vector<std::string>& argv,
                                          const std::map<std::string, std::string>& env, int runs);

// The presenter's start-up beside the bare client's, with their ratio (presenter / bare, the medians).
nlohmann::ordered_json startupComparison(const nlohmann::ordered_json& presenter, const nlohmann::ordered_json& bare);

// The table's heading, a row ("where" the platform or compositor), and a start-up row.
void printBoxHeading(const char* where);
void printBoxRow(const std::string& where, const std::string& size, const std::string& mode,
                 const nlohmann::ordered_json& row);
void printStartupRow(const std::string& where, const std::string& size, const nlohmann::ordered_json& startup);
void printBareStartupRow(const std::string& where, const std::string& size, const nlohmann::ordered_json& bare,
                         const nlohmann::ordered_json& comparison);

}  // namespace pp::bench
