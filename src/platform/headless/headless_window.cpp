#include "platform/headless/headless_window.hpp"

#include <algorithm>
#include <cmath>
#include <utility>

namespace pp::headless {

namespace {

int pixelsOf(double points)
{
    return std::isfinite(points) && points > 0 ? static_cast<int>(std::lround(points)) : 0;
}

}  // namespace

HeadlessWindow::HeadlessWindow(const Screen& screen)
    : width_(pixelsOf(screen.frame.width)),
      height_(pixelsOf(screen.frame.height)),
      format_(screen.depth == 30 ? PixelFormat::xrgb2101010 : PixelFormat::xrgb8888),
      drawing_(static_cast<std::size_t>(width_) * static_cast<std::size_t>(height_)),
      shown_(drawing_.size())
{
}

FrameBuffer HeadlessWindow::frame()
{
    FrameBuffer frame{drawing_.data(), width_, height_, width_, format_};
    frame.age = ages_.age(drawing_.data());
    return frame;
}

void HeadlessWindow::present(std::span<const PixelRect>)
{
    ages_.presented(drawing_.data());
    {
        std::lock_guard lock(shownMutex_);
        shown_ = drawing_;
    }
    ++presents_;
}

void HeadlessWindow::setNeedsDisplay()
{
    needsDisplay_ = true;
}

void HeadlessWindow::setPointerVisible(bool visible)
{
    pointerVisible_ = visible;
    ++pointerChanges_;
}

bool HeadlessWindow::takeNeedsDisplay()
{
    return std::exchange(needsDisplay_, false);
}

std::uint32_t HeadlessWindow::shownPixel(int x, int y) const
{
    if (x < 0 || y < 0 || x >= width_ || y >= height_) return 0;
    std::lock_guard lock(shownMutex_);
    return shown_[static_cast<std::size_t>(y) * static_cast<std::size_t>(width_) + static_cast<std::size_t>(x)];
}

std::vector<std::uint32_t> HeadlessWindow::shownFrame() const
{
    std::lock_guard lock(shownMutex_);
    return shown_;
}

}  // namespace pp::headless
