#include "platform/wayland/wayland_window_system.hpp"

#include "platform/wayland/wayland_window.hpp"

namespace pp::wayland {

WaylandWindowSystem::WaylandWindowSystem(std::unique_ptr<WaylandConnection> connection)
    : connection_(std::move(connection)), loop_(connection_->display())
{
}

WaylandWindowSystem::~WaylandWindowSystem() = default;

std::vector<Screen> WaylandWindowSystem::screens()
{
    PP_ONE_AT_A_TIME(oneAtATime_);
    std::vector<Screen> screens;
    for (const Output* output : connection_->outputs()) {
        screens.push_back(screenOf(output->state));
        screens.back().colour = output->colour;
    }
    return screens;
}

std::optional<Screen> WaylandWindowSystem::mainScreen()
{
    PP_ONE_AT_A_TIME(oneAtATime_);
    const auto all = screens();
    if (all.empty()) return std::nullopt;
    return all.front();
}

TransferTable WaylandWindowSystem::transferTable(std::uint32_t, std::size_t)
{
    return {};
}

std::vector<std::uint8_t> WaylandWindowSystem::advertisedProfile(std::uint32_t)
{
    return {};
}

std::unique_ptr<Window> WaylandWindowSystem::createWindow(const Screen& screen)
{
    return WaylandWindow::create(*connection_, loop_, screen);
}

std::unique_ptr<WaylandWindowSystem> connectWindowSystem()
{
    auto connection = WaylandConnection::connect();
    if (!connection) return nullptr;
    return std::make_unique<WaylandWindowSystem>(std::move(connection));
}

}  // namespace pp::wayland
