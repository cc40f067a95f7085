// The connection to a Wayland compositor: its globals, its outputs and the seat.
#pragma once

#include <time.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <vector>

#include "platform/wayland/wayland_screens.hpp"

struct wl_display;
struct wl_registry;
struct wl_compositor;
struct wl_shm;
struct wl_seat;
struct wl_output;
struct xdg_wm_base;
struct wp_presentation;
struct wp_viewporter;
struct zxdg_output_manager_v1;
struct zxdg_output_v1;
struct zwp_idle_inhibit_manager_v1;
struct wp_color_manager_v1;
struct wp_color_management_output_v1;
struct wp_image_description_v1;
struct wp_image_description_info_v1;

namespace pp::wayland {

class WaylandConnection;

// One wl_output global with the state its events announced.
struct Output {
    WaylandConnection* owner = nullptr;
    wl_output* proxy = nullptr;
    zxdg_output_v1* xdg = nullptr;
    OutputState state;
    std::optional<Screen> announced;  // the screen as of the last completed description

    // Colour management: the output's encoding as the compositor describes it.
    wp_color_management_output_v1* colourOutput = nullptr;
    wp_image_description_v1* description = nullptr;  // the output's current image description
    bool descriptionReady = false;                   // it may be set on a surface
    wp_image_description_info_v1* information = nullptr;  // its information, while it arrives
    OutputColour arriving;                           // what the information has said so far
    std::shared_ptr<const OutputColour> colour;      // the encoding, once described; none before or without
};

// Owns the display connection and every global it binds. The events of the globals are dispatched by
// whoever dispatches the display (the start-up round trips, then the main loop). Main thread only.
class WaylandConnection {
public:
    // Connects to the compositor named by WAYLAND_DISPLAY (or the default socket) and learns its
    // globals and outputs; none when no compositor answers.
    static std::unique_ptr<WaylandConnection> connect();
    ~WaylandConnection();
    WaylandConnection(const WaylandConnection&) = delete;
    WaylandConnection& operator=(const WaylandConnection&) = delete;

    wl_display* display() const { return display_; }
    wl_compositor* compositor() const { return compositor_; }
    wl_shm* shm() const { return shm_; }
    xdg_wm_base* wmBase() const { return wmBase_; }
    wp_presentation* presentation() const { return presentation_; }
    clockid_t presentationClock() const { return presentationClock_; }
    wp_viewporter* viewporter() const { return viewporter_; }
    zwp_idle_inhibit_manager_v1* idleInhibitManager() const { return idleInhibitManager_; }
    wl_seat* seat() const { return seat_; }
    wp_color_manager_v1* colourManager() const { return colourManager_; }
    // The output's own image description, ready to tag a surface with the perceptual intent; null
    // where the compositor manages no colour, the description failed or that intent is not offered.
    wp_image_description_v1* taggingDescription(std::uint32_t registryName) const;
    std::uint32_t seatCapabilities() const { return seatCapabilities_; }

    // Whether wl_shm offers the pixel format (a wl_shm format code).
    bool offersFormat(std::uint32_t format) const { return shmFormats_.count(format) != 0; }
    // Whether 16-bit drawing may go out in XRGB2101010 buffers: where the compositor describes the
    // output's encoding (so that a surface tagged with it passes through unchanged) and offers them. A
    // compositor that manages no colour is not known to show a 10-bit buffer as it is (some show it black
    // or white). Whether the panel shows 10 bits is never told: the output's bits are 8 all the same.
    bool takesDeepFrames(std::uint32_t registryName) const;

    // The outputs whose first description is complete, in the order the registry announced them.
    std::vector<const Output*> outputs() const;
    // The output with this registry name, or null.
    const Output* output(std::uint32_t registryName) const;

    // Called when an output that had been described changes (new mode, position or scale, or another
    // encoding where the compositor manages colour) or goes away, with its registry name.
    std::function<void(std::uint32_t)> onOutputChanged;
    // Called when the seat's capabilities change (a keyboard or pointer appears or goes).
    std::function<void()> onSeatChanged;

private:
    friend struct Listeners;
    WaylandConnection() = default;
    void addGlobal(std::uint32_t name, const char* interface, std::uint32_t version);
    void removeGlobal(std::uint32_t name);
    void watchOutput(Output& output);
    void outputDone(Output& output);
    // Asks for the output's current image description and, once it is ready, for its information.
    void describeOutput(Output& output);
    void forgetDescription(Output& output);
    // Forgets the description and the output's colour-management object: the output is going away.
    void stopDescribing(Output& output);
    bool descriptionsPending() const;

    wl_display* display_ = nullptr;
    wl_registry* registry_ = nullptr;
    wl_compositor* compositor_ = nullptr;
    wl_shm* shm_ = nullptr;
    xdg_wm_base* wmBase_ = nullptr;
    wp_presentation* presentation_ = nullptr;
    clockid_t presentationClock_ = CLOCK_MONOTONIC;
    wp_viewporter* viewporter_ = nullptr;
    zxdg_output_manager_v1* xdgOutputManager_ = nullptr;
    zwp_idle_inhibit_manager_v1* idleInhibitManager_ = nullptr;
    wp_color_manager_v1* colourManager_ = nullptr;
    bool perceptual_ = false;  // the compositor offers the perceptual rendering intent
    wl_seat* seat_ = nullptr;
    std::uint32_t seatName_ = 0;
    std::uint32_t seatCapabilities_ = 0;
    std::set<std::uint32_t> shmFormats_;
    std::vector<std::unique_ptr<Output>> outputs_;
};

}  // namespace pp::wayland
