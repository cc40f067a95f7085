// The Wayland rows of the benchmark alone, without the X11 ones: wayland-bench [COMMANDS] [JSON_PATH]
// [--box-only]; --box-only runs only the rows beside the bare client that presents the patch's box.
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "wayland_bench.hpp"

int main(int argc, char** argv)
{
    std::vector<std::string> args;
    bool boxOnly = false;
    for (int i = 1; i < argc; ++i) {
        if (std::string(argv[i]) == "--box-only") {
            boxOnly = true;
        } else {
            args.push_back(argv[i]);
        }
    }
    const int commands = args.size() > 0 ? std::atoi(args[0].c_str()) : 300;
    const std::string jsonPath = args.size() > 1 ? args[1] : "wayland-bench.json";
    nlohmann::ordered_json report = nlohmann::ordered_json::array();
    if (!boxOnly) report.push_back({{"wayland", waylandBench(commands)}});
    report.push_back({{"wayland_box", waylandBoxBench(commands)}});
    std::ofstream(jsonPath) << report.dump(2) << "\n";
    std::printf("figures written to %s\n", jsonPath.c_str());
    return 0;
}
