// The Wayland rows of the benchmark alone, without the X11 ones: wayland-bench [COMMANDS] [JSON_PATH]
// [--box-only]; --box-only runs only the rows beside the bare client that presents the patch's box.
#include <cstdio>
#include <fstream>
#include <string>

#include "box_rounds.hpp"
#include "wayland_bench.hpp"

int main(int argc, char** argv)
{
    const auto [commands, jsonPath, boxOnly] = pp::bench::benchArguments(argc, argv, "wayland-bench.json");
    nlohmann::ordered_json report = nlohmann::ordered_json::array();
    if (!boxOnly) report.push_back({{"wayland", waylandBench(commands)}});
    report.push_back({{"wayland_box", waylandBoxBench(commands)}});
    std::ofstream(jsonPath) << report.dump(2) << "\n";
    std::printf("figures written to %s\n", jsonPath.c_str());
    return 0;
}
