// The program's entry point: standard output first, then the window system, the screen and the road.
#include <xcb/xcb.h>

#include <memory>

#include "app/geometry.hpp"
#include "app/options.hpp"
#include "app/startup.hpp"
#include "display/profile_assignment.hpp"
#include "display/profile_state.hpp"
#include "platform/colord/colord_colour_management.hpp"
#include "platform/headless/headless_displays.hpp"
#include "platform/x11/x11_displays.hpp"
#include "protocol/line_output.hpp"

namespace {

pp::Words commandLine(int argc, char** argv)
{
    return pp::Words(argv, argv + argc);
}

}  // namespace

int main(int argc, char** argv)
{
    pp::prepareOutput();
    const pp::Words allWords = commandLine(argc, argv);
    const pp::Words words(allWords.empty() ? allWords.begin() : allWords.begin() + 1, allWords.end());

    // Without an X server there are no screens at all.
    xcb_connection_t* connection = pp::x11::connectToServer();
    std::unique_ptr<pp::Displays> displays;
    if (connection) {
        displays = std::make_unique<pp::x11::X11Displays>(connection);
    } else {
        displays = std::make_unique<pp::headless::HeadlessDisplays>();
    }

    std::optional<std::uint32_t> wantedID;
    if (auto word = pp::option(words, "--display", 1)) wantedID = pp::displayNumber(word->front());
    const pp::ScreenChoice choice = pp::chooseScreen(*displays, wantedID);
    if (!choice.screen) {
        pp::writeLine(choice.error);
        pp::endProcess(1);
    }
    const pp::Screen& screen = *choice.screen;

    const pp::RoadChoice road = pp::chooseRoad(allWords);
    switch (road.road) {
    case pp::Road::profileState: {
        const auto colour = pp::colord::connectColourManagement();
        const pp::RoadOutcome outcome = pp::profileStateRoad(*colour, screen);
        pp::writeLine(outcome.line);
        pp::endProcess(outcome.status);
    }
    case pp::Road::assign: {
        const auto colour = pp::colord::connectColourManagement();
        const pp::RoadOutcome outcome = pp::assignmentRoad(*colour, screen, road.assignValue);
        pp::writeLine(outcome.line);
        pp::endProcess(outcome.status);
    }
    case pp::Road::presenter:
        break;
    }

    const pp::Geometry geometry = pp::patchGeometry(words, screen);
    (void)geometry;
    pp::endProcess(0);
}
