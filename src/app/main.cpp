// The program's entry point: standard output first, then the window system, the screen and the road.
#include <unistd.h>

#include <memory>

#include "app/geometry.hpp"
#include "app/options.hpp"
#include "app/startup.hpp"
#include "display/profile_assignment.hpp"
#include "display/profile_name.hpp"
#include "display/profile_state.hpp"
#include "platform/headless/headless_displays.hpp"
#include "platform/platform_factory.hpp"
#include "protocol/command_reader.hpp"
#include "protocol/line_output.hpp"
#include "protocol/presenter.hpp"

namespace {

// Covers the screen, starts the command reader and serves the event loop; never returns.
[[noreturn]] void runPresenter(pp::WindowSystem& system, const pp::Screen& screen, const pp::Geometry& geometry)
{
    // The status report names the display's profile afresh each time it is built.
    pp::ColourManagement* colour = pp::connectColourManagement().release();
    auto profile = [&system, colour, screen] { return pp::profileName(system, colour, screen); };

    std::unique_ptr<pp::Window> window = system.createWindow(screen);
    if (!window) {
        pp::writeLine("error no window on screen " + std::to_string(screen.number));
        pp::endProcess(1);
    }
    // Lives until the process ends: the reader thread and the loop refer to it.
    auto* presenter = new pp::Presenter(*window, system, screen, geometry, pp::ProcessHooks{}, profile);
    if (!pp::startCommandReader(STDIN_FILENO, *presenter, system.mainLoop())) {
        pp::writeLine("error no command reader");
        pp::endProcess(1);
    }
    system.mainLoop().run(*presenter);
    pp::writeLine(system.mainLoop().endReason());
    pp::endProcess(1);
}

}  // namespace

int main(int argc, char** argv)
{
    pp::prepareOutput();
    const pp::Words allWords(argv, argv + argc);
    const pp::Words words(allWords.empty() ? allWords.begin() : allWords.begin() + 1, allWords.end());

    // Without a window system there are no screens at all.
    std::optional<pp::PlatformKind> forced;
    if (auto word = pp::option(words, "--platform", 1)) forced = pp::platformWord(word->front());
    std::unique_ptr<pp::WindowSystem> windowSystem = pp::connectWindowSystem(forced);
    pp::headless::HeadlessDisplays noScreens;
    pp::Displays& displays = windowSystem ? static_cast<pp::Displays&>(*windowSystem) : noScreens;

    std::optional<std::uint32_t> wantedID;
    if (auto word = pp::option(words, "--display", 1)) wantedID = pp::displayNumber(word->front());
    const pp::ScreenChoice choice = pp::chooseScreen(displays, wantedID);
    if (!choice.screen) {
        pp::writeLine(choice.error);
        pp::endProcess(1);
    }
    const pp::Screen& screen = *choice.screen;

    const pp::RoadChoice road = pp::chooseRoad(allWords);
    switch (road.road) {
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
    case pp::Road::presenter:
        break;
    }

    const pp::Geometry geometry = pp::patchGeometry(words, screen);
    runPresenter(*windowSystem, screen, geometry);
}
