// The one place that chooses the window system and the colour management the program runs on.
#pragma once

#include <memory>
#include <optional>

#include "platform/colour_management.hpp"
#include "platform/kms_options.hpp"
#include "platform/window_system.hpp"

namespace pp {

// The window system to run on: the forced one, or without a choice Wayland when a compositor can be
// reached (WAYLAND_DISPLAY, or its default socket), else the X server named by DISPLAY, else a DRM
// device that can be driven (`kms` says how). None when the chosen (or, without a choice, every) window
// system cannot be reached. Main thread, before any other thread exists.
std::unique_ptr<WindowSystem> connectWindowSystem(std::optional<PlatformKind> forced, const KmsOptions& kms = {});

// The displays of no window system at all: no screens, so every road answers "error no screen ...".
std::unique_ptr<Displays> noDisplays();

// The colour management of the running system (colord on the system bus). Never null: without it
// every query answers "no device".
std::unique_ptr<ColourManagement> connectColourManagement();

}  // namespace pp
