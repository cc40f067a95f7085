// The Wayland rows of the benchmark alone, without the X11 ones: wayland-bench [COMMANDS] [JSON_PATH].
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "wayland_bench.hpp"

int main(int argc, char** argv)
{
    const int commands = argc > 1 ? std::atoi(argv[1]) : 300;
    const std::string jsonPath = argc > 2 ? argv[2] : "wayland-bench.json";
    const auto report = waylandBench(commands);
    std::ofstream(jsonPath) << report.dump(2) << "\n";
    std::printf("figures written to %s\n", jsonPath.c_str());
    return 0;
}
