// The outputs of a Wayland compositor as a client connecting to its socket sees them (wl_output and
// xdg-output), for the fixtures' readiness checks.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace pp::test {

using namespace std::chrono_literals;

// One output as the compositor announces it.
struct CompositorOutput {
    std::string name;       // the connector name (wl_output.name, xdg_output.name)
    int x = 0;              // logical position and size, in points
    int y = 0;
    int logicalWidth = 0;
    int logicalHeight = 0;
    int pixelWidth = 0;     // current mode, in device pixels
    int pixelHeight = 0;
    double scale = 1;
    std::string make;
    std::string model;
    std::string serial;     // empty where the compositor reports none
};

// The outputs as a client connecting to the socket sees them; none when it cannot connect or the
// compositor does not answer in time.
std::optional<std::vector<CompositorOutput>> protocolOutputs(const std::string& socketPath,
                                                            std::chrono::milliseconds timeout = 3s);

// Whether the outputs are the ones asked for: the same count and, for each output asked for with a
// mode (pixel width above 0), the output of that name (or, for an unnamed one, the output at the same
// place in the list) with that mode and scale.
bool matches(const std::vector<CompositorOutput>& outputs, const std::vector<CompositorOutput>& expected);

}  // namespace pp::test
