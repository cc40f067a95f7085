// The program's entry point: the standard streams first, then the window system, the screen and the road.
#include <unistd.h>

#include <cstdio>
#include <functional>
#include <memory>
#include <vector>

#include "app/options.hpp"
#include "app/standard_streams.hpp"
#include "app/startup.hpp"
#include "app/usage.hpp"
#include "commands/command_reader.hpp"
#include "core/geometry.hpp"
#include "core/words.hpp"
#include "network/network_road.hpp"
#include "network/suite_address.hpp"
#include "platform/platform_factory.hpp"
#include "presenter/line_output.hpp"
#include "presenter/presenter.hpp"
#include "presenter/process_hooks.hpp"
#include "reports/display_list.hpp"
#include "reports/profile_assignment.hpp"
#include "reports/profile_name.hpp"
#include "reports/profile_state.hpp"

namespace {

// Starts the thread that feeds the presenter (the command reader or the network road); false when it
// cannot be started, with the error line to end on.
struct Feeder {
    std::function<bool(pp::Presenter&, pp::MainLoop&)> start;
    const char* failure;
};

// Covers the screen, starts the feeding thread and serves the event loop; never returns.
[[noreturn]] void runPresenter(pp::WindowSystem& system, const pp::Screen& screen, const pp::Geometry& geometry,
                               const Feeder& feeder)
{
    // The status report names the display's profile afresh each time it is built.
    pp::ColourManagement* colour = pp::connectColourManagement().release();
    auto profile = [colour, screen](const pp::DisplayReading& reading) {
        return pp::profileName(reading.advertisedProfile, colour, reading.screen ? *reading.screen : screen);
    };

    std::unique_ptr<pp::Window> window = system.createWindow(screen);
    if (!window) {
        const std::string refusal = system.windowRefusal();
        pp::writeLine(!refusal.empty() ? refusal : "error no window on screen " + std::to_string(screen.number));
        pp::endProcess(1);
    }
    // Lives until the process ends: the reader thread and the loop refer to it.
    auto* presenter = new pp::Presenter(*window, system, screen, geometry, pp::ProcessHooks::real(), profile);
    if (!feeder.start(*presenter, system.mainLoop())) {
        pp::writeLine(feeder.failure);
        pp::endProcess(1);
    }
    system.mainLoop().run(*presenter);
    // The reader may have noticed first; either way this is the one last line.
    pp::endWithLine(system.mainLoop().endReason(), 1);
}

}  // namespace

int main(int argc, char** argv)
{
    pp::holdStandardStreams();
    pp::prepareOutput();
    const pp::Words allWords(argv, argv + argc);
    const pp::Words words(allWords.empty() ? allWords.begin() : allWords.begin() + 1, allWords.end());

    // Help and version answer before any window system is reached: they open nothing.
    const pp::RoadChoice road = pp::chooseRoad(allWords);
    if (road.road == pp::Road::help) {
        std::fputs(pp::usageText().c_str(), stdout);
        pp::endProcess(0);
    }
    if (road.road == pp::Road::version) {
        pp::writeLine(pp::versionLine());
        pp::endProcess(0);
    }

    // Without a window system there are no screens at all.
    std::optional<pp::PlatformKind> forced;
    if (auto word = pp::option(words, "--platform", 1)) forced = pp::platformWord(word->front());
    std::unique_ptr<pp::WindowSystem> windowSystem = pp::connectWindowSystem(forced, pp::kmsOptions(words));
    const std::unique_ptr<pp::Displays> noScreens = windowSystem ? nullptr : pp::noDisplays();
    pp::Displays& displays = windowSystem ? static_cast<pp::Displays&>(*windowSystem) : *noScreens;

    // The list covers every screen, so an asked display number plays no part in it.
    if (road.road == pp::Road::listDisplays) {
        const pp::RoadOutcome outcome = pp::listDisplaysRoad(displays);
        pp::writeLine(outcome.line);
        pp::endProcess(outcome.status);
    }

    std::optional<std::uint32_t> wantedID;
    if (auto word = pp::option(words, "--display", 1)) wantedID = pp::displayNumber(word->front());
    const pp::ScreenChoice choice = pp::chooseScreen(displays, wantedID);
    if (!choice.screen) {
        pp::writeLine(choice.error);
        pp::endProcess(1);
    }
    const pp::Screen& screen = *choice.screen;

    switch (road.road) {
    case pp::Road::help:
    case pp::Road::version:
    case pp::Road::listDisplays:
        break;  // answered above
    case pp::Road::profileState: {
        const auto colour = pp::connectColourManagement();
        const pp::RoadOutcome outcome = pp::profileStateRoad(*colour, screen);
        pp::writeLine(outcome.line);
        pp::endProcess(outcome.status);
    }
    case pp::Road::assign: {
        const auto colour = pp::connectColourManagement();
        const pp::RoadOutcome outcome = pp::assignmentRoad(*colour, screen, road.assignValue);
        pp::writeLine(outcome.line);
        pp::endProcess(outcome.status);
    }
    case pp::Road::connect:
    case pp::Road::presenter:
        break;
    }

    const pp::Geometry geometry = pp::patchGeometry(words, screen);
    if (road.road == pp::Road::connect) {
        const auto address = pp::suiteAddress(road.connectValue);
        if (!address) {
            pp::writeLine("error connect needs HOST[:PORT]");
            pp::endProcess(1);
        }
        runPresenter(*windowSystem, screen, geometry,
                     {[&address](pp::Presenter& presenter, pp::MainLoop& loop) {
                          return pp::startNetworkRoad(*address, presenter, loop, pp::ProcessHooks::real());
                      },
                      "error no network thread"});
    }
    runPresenter(*windowSystem, screen, geometry,
                 {[](pp::Presenter& presenter, pp::MainLoop& loop) {
                      return pp::startCommandReader(STDIN_FILENO, presenter, loop, pp::ProcessHooks::real());
                  },
                  "error no command reader"});
}
