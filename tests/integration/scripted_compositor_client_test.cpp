// The scripted compositor's own promises, checked with a bare client in the test: content follows only
// the damage, replaced buffers are released, superseded reports are discarded, withheld ones wait for
// the rule to change, and the window is sent into and out of outputs.
#include <gtest/gtest.h>

#include <poll.h>
#include <sys/mman.h>
#include <unistd.h>

#include <wayland-client.h>

#include <algorithm>
#include <cstring>
#include <stdexcept>
#include <functional>
#include <string>
#include <vector>

#include "presentation-time-client-protocol.h"
#include "scripted_compositor.hpp"
#include "xdg-shell-client-protocol.h"

namespace pp::test {
namespace {

using namespace std::chrono_literals;

constexpr int SIZE = 64;

// One toplevel with two 64 x 64 XRGB8888 buffers; what the compositor sends is written to `events`.
class BareClient {
public:
    explicit BareClient(const ScriptedCompositor& compositor)
    {
        const std::string path = compositor.runtimeDir() + "/" + compositor.socketName();
        display_ = wl_display_connect(path.c_str());
        if (!display_) throw std::runtime_error("no connection to " + path);
        wl_registry* registry = wl_display_get_registry(display_);
        static const wl_registry_listener REGISTRY = {
            [](void* data, wl_registry* r, std::uint32_t name, const char* interface, std::uint32_t) {
                auto* c = static_cast<BareClient*>(data);
                const std::string kind = interface;
                if (kind == "wl_compositor") c->compositor_ = static_cast<wl_compositor*>(wl_registry_bind(r, name, &wl_compositor_interface, 4));
                if (kind == "wl_shm") c->shm_ = static_cast<wl_shm*>(wl_registry_bind(r, name, &wl_shm_interface, 1));
                if (kind == "xdg_wm_base") c->wmBase_ = static_cast<xdg_wm_base*>(wl_registry_bind(r, name, &xdg_wm_base_interface, 1));
                if (kind == "wp_presentation") c->presentation_ = static_cast<wp_presentation*>(wl_registry_bind(r, name, &wp_presentation_interface, 1));
                if (kind == "wl_output") c->outputs_.push_back(static_cast<wl_output*>(wl_registry_bind(r, name, &wl_output_interface, 1)));
            },
            [](void*, wl_registry*, std::uint32_t) {}};
        wl_registry_add_listener(registry, &REGISTRY, this);
        wl_display_roundtrip(display_);
        wl_registry_destroy(registry);

        const int fd = memfd_create("bare-client", MFD_CLOEXEC);
        const std::size_t bytes = SIZE * SIZE * 4;
        if (fd < 0 || ftruncate(fd, off_t(2 * bytes)) != 0) throw std::runtime_error("memfd");
        memory_ = mmap(nullptr, 2 * bytes, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
        wl_shm_pool* pool = wl_shm_create_pool(shm_, fd, int(2 * bytes));
        static const wl_buffer_listener BUFFER = {[](void* data, wl_buffer* b) {
            auto* c = static_cast<BareClient*>(data);
            c->events.push_back(b == c->buffers_[0] ? "release 0" : "release 1");
        }};
        for (int i = 0; i < 2; ++i) {
            buffers_[i] = wl_shm_pool_create_buffer(pool, int(i * bytes), SIZE, SIZE, SIZE * 4, WL_SHM_FORMAT_XRGB8888);
            wl_buffer_add_listener(buffers_[i], &BUFFER, this);
        }
        wl_shm_pool_destroy(pool);
        close(fd);

        surface_ = wl_compositor_create_surface(compositor_);
        static const wl_surface_listener SURFACE = {
            [](void* data, wl_surface*, wl_output* o) { static_cast<BareClient*>(data)->outputEvent("enter", o); },
            [](void* data, wl_surface*, wl_output* o) { static_cast<BareClient*>(data)->outputEvent("leave", o); }};
        wl_surface_add_listener(surface_, &SURFACE, this);
        xdgSurface_ = xdg_wm_base_get_xdg_surface(wmBase_, surface_);
        static const xdg_surface_listener XDG_SURFACE = {[](void* data, xdg_surface* s, std::uint32_t serial) {
            xdg_surface_ack_configure(s, serial);
            static_cast<BareClient*>(data)->events.push_back("configure");
        }};
        xdg_surface_add_listener(xdgSurface_, &XDG_SURFACE, this);
        toplevel_ = xdg_surface_get_toplevel(xdgSurface_);
        xdg_toplevel_set_fullscreen(toplevel_, nullptr);
        wl_surface_commit(surface_);
        if (!dispatchUntil([this] { return has("configure"); })) throw std::runtime_error("no configure");
    }

    ~BareClient()
    {
        for (wl_buffer* b : buffers_) wl_buffer_destroy(b);
        xdg_toplevel_destroy(toplevel_);
        xdg_surface_destroy(xdgSurface_);
        wl_surface_destroy(surface_);
        munmap(memory_, 2 * SIZE * SIZE * 4);
        for (wl_output* o : outputs_) wl_output_destroy(o);
        wp_presentation_destroy(presentation_);
        xdg_wm_base_destroy(wmBase_);
        wl_shm_destroy(shm_);
        wl_compositor_destroy(compositor_);
        wl_display_disconnect(display_);
    }

    // Fills buffer `i` with 0xRRGGBB, attaches it with that buffer damage and commits, asking for
    // presentation feedback.
    void commit(int i, std::uint32_t rgb, int x, int y, int w, int h)
    {
        auto* pixels = static_cast<std::uint32_t*>(memory_) + i * SIZE * SIZE;
        std::fill(pixels, pixels + SIZE * SIZE, 0xFF000000u | rgb);
        wl_surface_attach(surface_, buffers_[i], 0, 0);
        wl_surface_damage_buffer(surface_, x, y, w, h);
        static const wp_presentation_feedback_listener FEEDBACK = {
            [](void*, struct wp_presentation_feedback*, wl_output*) {},
            [](void* data, struct wp_presentation_feedback* f, std::uint32_t, std::uint32_t, std::uint32_t, std::uint32_t,
               std::uint32_t, std::uint32_t, std::uint32_t) {
                static_cast<BareClient*>(data)->events.push_back("presented");
                wp_presentation_feedback_destroy(f);
            },
            [](void* data, struct wp_presentation_feedback* f) {
                static_cast<BareClient*>(data)->events.push_back("discarded");
                wp_presentation_feedback_destroy(f);
            }};
        wp_presentation_feedback_add_listener(wp_presentation_feedback(presentation_, surface_), &FEEDBACK, this);
        wl_surface_commit(surface_);
        wl_display_roundtrip(display_);
    }

    // Dispatches what comes until `done` holds (at most `turns` times 10 ms); whether it did.
    bool dispatchUntil(const std::function<bool()>& done, int turns = 200)
    {
        for (int turn = 0; turn < turns && !done(); ++turn) {
            wl_display_flush(display_);
            pollfd p{wl_display_get_fd(display_), POLLIN, 0};
            if (poll(&p, 1, 10) > 0 && wl_display_dispatch(display_) < 0) return false;
            wl_display_dispatch_pending(display_);
        }
        return done();
    }

    bool has(const std::string& event) const { return std::find(events.begin(), events.end(), event) != events.end(); }

    std::vector<std::string> events;

private:
    void outputEvent(const char* what, wl_output* o)
    {
        const auto at = std::find(outputs_.begin(), outputs_.end(), o) - outputs_.begin();
        events.push_back(std::string(what) + " " + std::to_string(at));
    }

    wl_display* display_ = nullptr;
    wl_compositor* compositor_ = nullptr;
    wl_shm* shm_ = nullptr;
    xdg_wm_base* wmBase_ = nullptr;
    wp_presentation* presentation_ = nullptr;
    std::vector<wl_output*> outputs_;
    void* memory_ = nullptr;
    wl_buffer* buffers_[2] = {};
    wl_surface* surface_ = nullptr;
    xdg_surface* xdgSurface_ = nullptr;
    xdg_toplevel* toplevel_ = nullptr;
};

using Colour = std::array<int, 3>;

TEST(ScriptedCompositorItself, ContentFollowsTheDamageAndTheReplacedBufferIsReleased)
{
    ScriptedCompositor compositor;
    BareClient client(compositor);
    client.commit(0, 0xC00000, 0, 0, SIZE, SIZE);
    ASSERT_TRUE(client.dispatchUntil([&] { return client.has("enter 0") && client.has("presented"); }));
    EXPECT_FALSE(client.has("release 0"));
    EXPECT_EQ(compositor.pixel(20, 20), (Colour{192, 0, 0}));
    client.commit(1, 0x0000C0, 0, 0, 10, 10);
    ASSERT_TRUE(client.dispatchUntil([&] { return client.has("release 0"); }));
    EXPECT_EQ(compositor.pixel(5, 5), (Colour{0, 0, 192}));
    EXPECT_EQ(compositor.pixel(20, 20), (Colour{192, 0, 0})) << "an undamaged pixel took the new buffer's colour";
    const auto commits = compositor.commits();
    ASSERT_EQ(commits.size(), 3u);
    EXPECT_TRUE(commits[1].wholeDamage && commits[1].afterConfigure);
    EXPECT_FALSE(commits[2].wholeDamage || commits[2].afterConfigure);
    EXPECT_EQ(commits[2].damage, (std::vector<std::array<int, 4>>{{0, 0, 10, 10}}));
}

TEST(ScriptedCompositorItself, SupersededReportsAreDiscardedAndWithheldOnesWaitForTheRule)
{
    ScriptedCompositor compositor;
    BareClient client(compositor);
    compositor.setFeedback(FeedbackRule::present, 300ms);
    client.commit(0, 0x101010, 0, 0, SIZE, SIZE);
    client.commit(1, 0x202020, 0, 0, SIZE, SIZE);
    ASSERT_TRUE(client.dispatchUntil([&] { return client.has("presented"); }));
    EXPECT_EQ(client.events, (std::vector<std::string>{"configure", "enter 0", "release 0", "discarded", "presented"}));

    client.events.clear();
    compositor.setFeedback(FeedbackRule::withhold);
    client.commit(0, 0x303030, 0, 0, SIZE, SIZE);
    client.commit(1, 0x404040, 0, 0, SIZE, SIZE);
    EXPECT_FALSE(client.dispatchUntil([&] { return client.has("presented") || client.has("discarded"); }, 30));
    compositor.setFeedback(FeedbackRule::discard);
    ASSERT_TRUE(client.dispatchUntil([&] { return client.has("discarded"); }));
    const auto reports = compositor.reports();
    ASSERT_EQ(reports.size(), 4u);
    EXPECT_EQ(reports[2].commit, 4);  // the withheld reports of commits 4 and 5, answered by the new rule
    EXPECT_EQ(reports[3].commit, 5);
    EXPECT_FALSE(reports[3].presented);
}

TEST(ScriptedCompositorItself, TheWindowIsSentIntoAndOutOfOutputs)
{
    ScriptedOptions options;
    options.outputs.push_back({"SCRIPTED-2", 640, 0});
    ScriptedCompositor compositor(options);
    BareClient client(compositor);
    client.commit(0, 0x101010, 0, 0, SIZE, SIZE);
    ASSERT_TRUE(client.dispatchUntil([&] { return client.has("enter 0"); }));
    compositor.leaveOutput(0);
    compositor.enterOutput(1);
    ASSERT_TRUE(client.dispatchUntil([&] { return client.has("enter 1"); }));
    EXPECT_EQ(client.events, (std::vector<std::string>{"configure", "enter 0", "presented", "leave 0", "enter 1"}));
    EXPECT_EQ(compositor.fullscreenRequests(), std::vector<int>{-1});
    EXPECT_THROW(compositor.enterOutput(2), std::out_of_range);
}

}  // namespace
}  // namespace pp::test
