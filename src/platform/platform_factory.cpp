#include "platform/platform_factory.hpp"

#include "platform/colord/colord_colour_management.hpp"
#include "platform/headless/headless_displays.hpp"
#include "platform/kms/kms_window_system.hpp"
#include "platform/wayland/wayland_window_system.hpp"
#include "platform/x11/x11_window_system.hpp"

namespace pp {

std::unique_ptr<WindowSystem> connectWindowSystem(std::optional<PlatformKind> forced, const KmsOptions& kms)
{
    if (!forced || forced == PlatformKind::wayland) {
        if (auto wayland = wayland::connectWindowSystem()) return wayland;
        if (forced) return nullptr;
    }
    if (!forced || forced == PlatformKind::x11) {
        if (auto x11 = x11::connectWindowSystem()) return x11;
        if (forced) return nullptr;
    }
    return kms::connectWindowSystem(kms);
}

std::unique_ptr<Displays> noDisplays()
{
    return std::make_unique<headless::HeadlessDisplays>();
}

std::unique_ptr<ColourManagement> connectColourManagement()
{
    return colord::connectColourManagement();
}

}  // namespace pp
