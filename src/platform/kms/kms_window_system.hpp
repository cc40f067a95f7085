// The window system of a display the program drives itself, through the kernel's mode setting.
#pragma once

#include <memory>
#include <string>

#include "platform/kms/kms_device.hpp"
#include "platform/kms/kms_main_loop.hpp"
#include "platform/kms/kms_window.hpp"
#include "platform/kms_options.hpp"
#include "platform/window_system.hpp"

namespace pp::kms {

// Screens are the connected connectors (numbers: connector ids; the main screen the first); points are
// pixels. The one window takes its connector with the mode and signal the options ask for, and what it
// changes is put back when the run ends. Main thread only.
class KmsWindowSystem : public WindowSystem {
public:
    KmsWindowSystem(std::unique_ptr<KmsDevice> device, KmsOptions options);
    ~KmsWindowSystem() override;

    std::vector<Screen> screens() override;
    std::optional<Screen> mainScreen() override;
    // The chosen display's gamma table as it was found (the program runs with none); none for the others.
    TransferTable transferTable(std::uint32_t number, std::size_t capacity) override;
    std::vector<std::uint8_t> advertisedProfile(std::uint32_t) override { return {}; }
    std::unique_ptr<Window> createWindow(const Screen& screen) override;
    MainLoop& mainLoop() override { return loop_; }
    std::string windowRefusal() const override { return refusal_; }

private:
    std::unique_ptr<KmsDevice> device_;
    KmsOptions options_;
    KmsMainLoop loop_;
    KmsWindow* window_ = nullptr;  // the window made, which lives until the process ends
    std::uint32_t windowScreen_ = 0;
    std::string refusal_;
};

// The first DRM device with a connected connector that can be made master; none when there is none.
// Blocks the signals that end the run first, before any other thread exists.
std::unique_ptr<KmsWindowSystem> connectWindowSystem(const KmsOptions& options);

}  // namespace pp::kms
