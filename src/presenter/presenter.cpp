#include "presenter/presenter.hpp"

#include <cmath>
#include <utility>

#include "input/drag.hpp"
#include "input/input_outcome.hpp"
#include "input/key_actions.hpp"
#include "reports/status_report.hpp"

namespace pp {

namespace {

double placedFraction(double f)
{
    if (std::isnan(f)) return 0.5;
    if (f <= 0) return 0;
    if (f > 1) return 1;
    return f;
}

const char* layerName(int bits)
{
    return bits == 16 ? "RGBA16Uint" : "RGBA8Uint";
}

}  // namespace

Rect movedPatch(double fx, double fy, const Geometry& geometry)
{
    fx = placedFraction(fx);
    fy = placedFraction(fy);
    return Rect{geometry.sw * fx - geometry.pw / 2, geometry.sh * (1 - fy) - geometry.ph / 2, geometry.pw,
                geometry.ph};
}

Presenter::Presenter(Window& window, Displays& displays, Screen screen, Geometry geometry, ProcessHooks hooks,
                     ProfileName profileName)
    : window_(window),
      displays_(displays),
      screen_(std::move(screen)),
      geometry_(std::move(geometry)),
      hooks_(std::move(hooks)),
      profileName_(std::move(profileName)),
      view_(geometry_.ppmm),
      pointer_(window, true)
{
    view_.patch = geometry_.patchRect;
    window_.setNeedsDisplay();
}

void Presenter::carryOut(const InputOutcome& outcome)
{
    if (outcome.repaint) window_.setNeedsDisplay();
    if (outcome.end) {
        // Esc ends the run at once, greeted or not: whatever is held goes out before "closed".
        openEventLines();
    }
    if (outcome.line) {
        if (eventLinesOpen_) {
            hooks_.write(*outcome.line);
        } else {
            heldLines_.push_back(*outcome.line);
        }
    }
    if (outcome.end) hooks_.end(0);
}

void Presenter::openEventLines()
{
    PP_OWN_THREAD_ONLY(thread_);
    eventLinesOpen_ = true;
    for (const auto& line : heldLines_) hooks_.write(line);
    heldLines_.clear();
}

void Presenter::pointer(const PointerEvent& event)
{
    PP_OWN_THREAD_ONLY(thread_);
    carryOut(pointerAction(view_, event, geometry_));
}

void Presenter::key(const KeyEvent& event)
{
    PP_OWN_THREAD_ONLY(thread_);
    carryOut(keyAction(view_, event, geometry_));
}

void Presenter::paint()
{
    PP_OWN_THREAD_ONLY(thread_);
    redraw();
}

void Presenter::redraw()
{
    PP_OWN_THREAD_ONLY(thread_);
    const FrameBuffer target = window_.frame();
    window_.present(renderer_.render(view_, target));
}

void Presenter::setRgb(const std::array<double, 3>& rgb)
{
    view_.rgb = rgb;
    redraw();
}

void Presenter::setSurround(const std::array<double, 3>& surround)
{
    view_.surround = surround;
    redraw();
}

void Presenter::moveTo(double fx, double fy)
{
    view_.patch = movedPatch(fx, fy, geometry_);
    redraw();
}

void Presenter::setMark(bool on)
{
    view_.mark = on;
    pointer_.showCursor(on);
    redraw();
}

void Presenter::setCaption(std::string caption)
{
    view_.caption = std::move(caption);
    redraw();
}

std::string Presenter::setMode(Mode mode)
{
    useMode(mode);
    redraw();
    const int bits = renderer_.surfaceBits();
    return std::string(modeName(mode)) + " window_bits " + std::to_string(bits) + " screen_bits " + std::to_string(screen_.bitsPerSample) +
           " layer " + layerName(bits);
}

void Presenter::showPicture(const Picture& picture)
{
    view_.rgb = picture.rgb;
    view_.surround = picture.surround;
    view_.shape = PatchShape::rectangle;
    view_.patch = Rect{geometry_.sw * picture.left, geometry_.sh * (1 - picture.top - picture.height),
                       geometry_.sw * picture.width, geometry_.sh * picture.height};
    const Mode mode = screen_.bitsPerSample >= 10 ? Mode::deep : Mode::dither;
    if (view_.mode != mode) useMode(mode);
    redraw();
}

void Presenter::useMode(Mode mode)
{
    view_.mode = mode;
    renderer_.setSurfaceBits(mode == Mode::deep ? 16 : 8);
    window_.setSurfaceBits(renderer_.surfaceBits());
}

std::string Presenter::report()
{
    PP_OWN_THREAD_ONLY(thread_);
    const DisplayReading reading = displays_.displayReading(screen_.number, GAMMA_TABLE_CAPACITY);
    return info(screen_, geometry_, view_, reading,
                profileName_ ? profileName_(reading) : std::string());
}

}  // namespace pp
