// The stage the command and network tests play on: a 1000 x 800 point screen of 250 x 200 mm on the
// headless platform (4 points per mm, so the 260-point patch sits at (370, 270)), with its window, main
// loop and presenter. A depth of 30 gives the screen 10 bits per sample.
#pragma once

#include "platform/headless/headless_displays.hpp"
#include "platform/headless/headless_main_loop.hpp"
#include "platform/headless/headless_window.hpp"
#include "presenter/presenter.hpp"

namespace pp {

inline Screen stageScreen(int depth)
{
    Screen screen = headless::headlessScreen(3, {0, 0, 1000, 800}, {250, 200});
    screen.depth = depth;
    screen.bitsPerSample = depth == 30 ? 10 : 8;
    return screen;
}

struct PresenterStage {
    Screen screen;
    headless::HeadlessDisplays displays;
    headless::HeadlessWindow window{screen};
    headless::HeadlessMainLoop loop{&window};
    ProcessHooks hooks;  // the presenter's, kept for the command reader or the road
    Presenter presenter{window, displays, screen, patchGeometry({}, screen), hooks};

    explicit PresenterStage(ProcessHooks processHooks = {}, int depth = 24)
        : screen(stageScreen(depth)), hooks(std::move(processHooks))
    {
        displays.screenList = {screen};
    }
};

}  // namespace pp
