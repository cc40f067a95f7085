#include "info_bench.hpp"

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "bench_figures.hpp"
#include "child_process.hpp"
#include "x_server.hpp"

namespace {

using pp::test::ChildProcess;
using pp::test::DummyOutput;
using pp::test::XServer;

// Sixteen outputs side by side must fit the dummy driver's 3840-pixel-wide virtual screen.
constexpr DummyOutput OUTPUT{240, 200, 60, 50};

// The "info" round trip on a server with `outputs` outputs driven: median and 90th percentile over
// `commands` requests after the warm-up, or an "error" member when the presenter does not answer.
nlohmann::ordered_json infoCase(int outputs, int commands)
{
    nlohmann::ordered_json result = {{"outputs", outputs}};
    const auto server = XServer::startXorgDummy(std::vector<DummyOutput>(static_cast<std::size_t>(outputs), OUTPUT));
    ChildProcess presenter({pp::test::presenterPath()}, {{"DISPLAY", server->display()}});
    const auto greeting = presenter.readLine(std::chrono::seconds(20));
    if (!greeting || greeting->rfind("ready ", 0) != 0) {
        std::printf("info %2d outputs: no greeting\n", outputs);
        result["error"] = "no greeting";
        return result;
    }
    const auto times = pp::bench::roundTrips(presenter, commands, "info {", [](int) { return std::string("info\n"); });
    if (!times) {
        std::printf("info %2d outputs: bad reply\n", outputs);
        result["error"] = "bad reply";
        return result;
    }
    presenter.write("quit\n");
    presenter.wait();
    const auto figures = pp::bench::percentiles(*times);
    const double median = figures.median, p90 = figures.p90;
    std::printf("info %2d outputs %8.3fms median %8.3fms p90 over %d requests\n", outputs, median, p90, commands);
    result["median_ms"] = median;
    result["p90_ms"] = p90;
    return result;
}

}  // namespace

nlohmann::ordered_json infoBench(int commands)
{
    nlohmann::ordered_json cases = nlohmann::ordered_json::array();
    if (!pp::test::haveProgram("Xorg")) {
        std::printf("info: Xorg is not installed, no figures\n");
        return cases;
    }
    for (int outputs : {16, 1}) cases.push_back(infoCase(outputs, commands));
    return cases;
}
