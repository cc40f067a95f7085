#include "platform/wayland/wayland_window.hpp"

#include <limits>
#include <utility>

#include "platform/clocks.hpp"
#include "platform/update_area.hpp"
#include "platform/wayland/wayland_window_parts.hpp"

namespace pp::wayland {

namespace {

// A frame the compositor keeps discarding (or keeps not reporting) is committed again this often before
// the run gives up.
constexpr int MOST_DISCARDS = 100;
// How long after the frame callback a presentation report is awaited at least, in seconds: before any
// report came (a compositor that never reports is found out this soon), and once reports come (a late
// one is only a loaded compositor: the frame goes out again, so this is not short).
constexpr double MIN_FIRST_GRACE = 0.05;
constexpr double MIN_REPORTING_GRACE = 0.25;
// Reports awaited at once; the oldest is given up when a commit would make one more.
constexpr std::size_t MOST_PENDING_REPORTS = 16;

}  // namespace

// The frame callback and each commit's presentation feedback.
struct PresentationListeners {
    static void syncOutput(void*, struct wp_presentation_feedback*, wl_output*) {}
    static void presented(void* data, struct wp_presentation_feedback*, std::uint32_t secondsHigh,
                          std::uint32_t secondsLow, std::uint32_t nanoseconds, std::uint32_t refresh, std::uint32_t,
                          std::uint32_t, std::uint32_t)
    {
        auto* report = static_cast<WaylandWindow::FrameReport*>(data);
        const double stated = double((std::uint64_t(secondsHigh) << 32) | secondsLow) + nanoseconds / 1e9;
        report->window->reportCame(report, stated, refresh / 1e9);
    }
    static void discarded(void* data, struct wp_presentation_feedback*)
    {
        auto* report = static_cast<WaylandWindow::FrameReport*>(data);
        report->window->reportCame(report, std::nullopt, 0);
    }
    static constexpr wp_presentation_feedback_listener FEEDBACK = {syncOutput, presented, discarded};

    // The compositor has composed the frame and wants the next one.
    static void frameDone(void* data, wl_callback* callback, std::uint32_t)
    {
        WaylandWindow& w = *static_cast<WaylandWindow*>(data);
        w.frameDoneAt_ = monotonicSeconds();
        if (!w.reports_.empty() && w.reports_.back()->frame == w.frameNumber_) {
            w.reports_.back()->composedAt = w.frameDoneAt_;
        }
        w.frameDoneWall_ = clockSeconds(CLOCK_REALTIME);
        wl_callback_destroy(callback);
        w.frameCallback_ = nullptr;
    }
    static constexpr wl_callback_listener FRAME = {frameDone};
};

void WaylandWindow::commitFrame(Buffer& buffer, std::span<const PixelRect> area)
{
    if (frameCallback_) wl_callback_destroy(std::exchange(frameCallback_, nullptr));
    wl_surface_attach(surface_, buffer.proxy, 0, 0);
    if (area.empty()) wl_surface_damage_buffer(surface_, 0, 0, width_, height_);
    for (const PixelRect& r : area) wl_surface_damage_buffer(surface_, r.x, r.y, r.width, r.height);
    buffer.busy = true;
    feedback_ = Feedback::waiting;
    reconfigured_ = false;
    // Committed while the overview is open, the frame goes out as a thumbnail.
    hiddenByOverview_ = overviewOpen();
    frameDoneAt_.reset();
    frameCallback_ = wl_surface_frame(surface_);
    wl_callback_add_listener(frameCallback_, &PresentationListeners::FRAME, this);
    ++frameNumber_;
    if (connection_.presentation()) {
        if (reports_.size() == MOST_PENDING_REPORTS) reports_.pop_front();
        auto report = std::make_unique<FrameReport>();
        report->window = this;
        report->frame = frameNumber_;
        report->proxy = wp_presentation_feedback(connection_.presentation(), surface_);
        wp_presentation_feedback_add_listener(report->proxy, &PresentationListeners::FEEDBACK, report.get());
        reports_.push_back(std::move(report));
    }
    wl_surface_commit(surface_);
}

void WaylandWindow::reportCame(FrameReport* report, std::optional<double> statedAt, double refresh)
{
    // A presentation reported, late or not, shows that the compositor reports them: from now on it is
    // believed. (A compositor that never reports one may still discard frames it never composed.)
    if (statedAt) {
        reporting_ = true;
        silent_ = false;
    }
    if (report->frame == frameNumber_) {
        feedback_ = statedAt ? Feedback::presented : Feedback::discarded;
        if (statedAt) {
            // The window's first presentation on gnome-shell: its map animation runs from about then.
            if (overview_ && !settlesAt_) settlesAt_ = *statedAt + SETTLE_TIME;
            statedAt_ = *statedAt;
            statedRefresh_ = refresh;
            presentedAt_ = wallClockOf(connection_.presentationClock(), *statedAt);
        }
    }
    for (auto it = reports_.begin(); it != reports_.end(); ++it) {
        if (it->get() == report) {
            reports_.erase(it);
            break;
        }
    }
}

void WaylandWindow::present(std::span<const PixelRect> changed)
{
    PP_MAIN_THREAD_ONLY(loop_);
    presentFrame(changed);
    // Once a pool's first frame is shown and answered (the loop has nothing left to do), its threads go
    // on to the second buffer: before, they would take the processor from the frame's drawing, from the
    // compositor and from the reply.
    if (!secondBuffersDue_) {
        secondBuffersDue_ = true;
        loop_.whenIdle([this] {
            secondBuffersDue_ = false;
            for (auto& p : pools_) {
                if (p->drawnInto) p->firstFrameShown();
            }
        });
    }
    // A configure the frame did not answer (it came once the frame was shown) is answered by the next.
    framing_ = false;
    if (reconfigured_) loop_.requestPaint();
}

void WaylandWindow::presentFrame(std::span<const PixelRect> changed)
{
    Buffer* buffer = std::exchange(drawing_, nullptr);
    if (!buffer || loop_.ended()) return;
    ages_.presented(buffer->pixels);
    // The first frame after a configure is content the compositor waits for, and goes out whole.
    commitFrame(*buffer, updateArea(changed, reconfigured_));
    // The frame counts as shown once presented as drawn (or taken as shown, below); the return waits
    // besides for the window to be where it belongs.
    bool shown = false;
    bool reported = false;  // shown by a presentation report, which states its moment
    const double until = monotonicSeconds() + SHOW_LIMIT;
    for (int discards = 0;;) {
        if (placementLapsed()) return;
        const double now = monotonicSeconds();
        const double due = connection_.presentation() ? nextReportDue(now) : now;
        // Presented while the overview showed it as a thumbnail, or while gnome-shell may still be easing
        // the window in: once the overview has closed and the window has settled, the frame goes out
        // again, so that a report says it is shown as drawn.
        const bool thumbnail = feedback_ == Feedback::presented && hiddenByOverview_;
        const double settling = feedback_ == Feedback::presented && settlesAt_ && statedAt_ < *settlesAt_
                                    ? *settlesAt_ - clockSeconds(connection_.presentationClock())
                                    : -1;
        const bool notAsDrawn = thumbnail || settling >= 0;
        const bool notReported = reporting_ && feedback_ == Feedback::waiting && lastReportOverdue();
        if (!shown && (feedback_ == Feedback::discarded || notReported || reconfigured_ ||
                       (notAsDrawn && !overviewOpen() && settling <= 0))) {
            // A discarded frame, or one whose report did not come, is committed again. After a new
            // configure the compositor shows the window only once new content follows it, so the frame
            // goes out again, whole, from the other buffer.
            if ((feedback_ == Feedback::discarded || notReported) && ++discards == MOST_DISCARDS) {
                loop_.endWith(MainLoop::WINDOW_NOT_SHOWN);
                return;
            }
            buffer = &freshCopy(*buffer);
            commitFrame(*buffer, {});
            continue;
        }
        int waitMs = settling > 0 ? waitMilliseconds(settling) : WAIT_SLICE_MS;
        if (feedback_ == Feedback::presented && !notAsDrawn) {
            shown = true;
            reported = true;
        } else if (!shown && frameDoneAt_ && feedback_ == Feedback::waiting) {
            // Composed. Without presentation-time that is all the compositor tells; with it, a frame's
            // report is due within a few refreshes of its frame callback, and a compositor that has never
            // reported and lets one go overdue (a headless output) gives none: its composed frames are
            // taken as shown. One that has reported is waited for.
            if (!connection_.presentation() || silent_) {
                presentedAt_ = frameDoneWall_;
                shown = true;
            } else if (std::isfinite(due)) {
                waitMs = waitMilliseconds(due - now);
            }
        }
        if (shown) {
            // A frame shown while the window is elsewhere is not on the display: the window waits to be
            // put back (its frame then goes out again) or for the run to end.
            followPlacement();
            if (!misplacedSince_) {
                // The reply comes no earlier than the moment the compositor states, which it may send a
                // little ahead of (by a refresh at most).
                if (reported) {
                    const double refresh = statedRefresh_ > 0 ? statedRefresh_ : refreshPeriod();
                    sleepUntil(connection_.presentationClock(), statedAt_, refresh);
                }
                return;
            }
            if (reconfigured_) {
                shown = reported = false;
                feedback_ = Feedback::waiting;
                continue;
            }
            waitMs = waitMilliseconds(*misplacedSince_ + PLACEMENT_LIMIT - now);
        } else if (now >= until) {
            // Left in the overview, the window is there but does not cover the display.
            loop_.endWith(notAsDrawn || overviewOpen() ? MainLoop::WINDOW_NOT_COVERING : MainLoop::WINDOW_NOT_SHOWN);
            return;
        } else {
            waitMs = std::min(waitMs, waitMilliseconds(until - now));
        }
        if (!dispatchOnce(waitMs)) return;
    }
}

double WaylandWindow::nextReportDue(double now)
{
    const double grace = presentationGrace();
    double next = std::numeric_limits<double>::infinity();
    for (const auto& report : reports_) {
        if (!report->composedAt || report->overdue) continue;
        const double due = *report->composedAt + grace;
        if (due <= now) {
            report->overdue = true;
            // Before any report came, one that does not come means the compositor gives none.
            if (!reporting_) silent_ = true;
        } else {
            next = std::min(next, due);
        }
    }
    return next;
}

bool WaylandWindow::lastReportOverdue() const
{
    return !reports_.empty() && reports_.back()->frame == frameNumber_ && reports_.back()->overdue;
}

double WaylandWindow::presentationGrace() const
{
    return std::max(reporting_ ? MIN_REPORTING_GRACE : MIN_FIRST_GRACE, 3 * refreshPeriod());
}

double WaylandWindow::refreshPeriod() const
{
    const Output* output = connection_.output(screen_.number);
    const int millihertz = output ? output->state.refreshMillihertz : 0;
    return millihertz > 0 ? 1000.0 / millihertz : 1.0 / 60;
}

}  // namespace pp::wayland
