// Random changes of the kinds commands make, for the tests that compare every frame with a full redraw.
#pragma once

#include <random>
#include <span>
#include <string>

#include "presenter/presenter.hpp"

namespace pp::test {

// One change to `presenter`'s picture: a colour, a move (fractions past 0 and 1 clamp, so the patch
// reaches across edges and into corners), the mark on or off, a caption or none, one of `modes`; now and
// then a new surround as well. Main thread, as the presenter's work is.
inline void randomChange(Presenter& presenter, std::mt19937& random, int step, std::span<const Mode> modes)
{
    auto level = [&] { return double(random() % 1021) / 4; };
    switch (random() % 7) {
    case 0:
    case 1:
        presenter.setRgb({level(), level(), level()});
        break;
    case 2:
    case 3:
        presenter.moveTo(double(int(random() % 140) - 20) / 100, double(int(random() % 140) - 20) / 100);
        break;
    case 4:
        presenter.setMark(!presenter.view().mark);
        break;
    case 5:
        presenter.setCaption(random() % 2 ? "" : "patch " + std::to_string(step) + " of 150");
        break;
    default:
        presenter.setMode(modes[random() % modes.size()]);
        break;
    }
    if (random() % 9 == 0) presenter.setSurround({level(), level(), level()});
}

}  // namespace pp::test
