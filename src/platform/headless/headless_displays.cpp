#include "platform/headless/headless_displays.hpp"

namespace pp::headless {

std::vector<Screen> HeadlessDisplays::screens()
{
    return screenList;
}

std::optional<Screen> HeadlessDisplays::mainScreen()
{
    if (screenList.empty()) return std::nullopt;
    if (primary) {
        for (const auto& screen : screenList) {
            if (screen.number == *primary) return screen;
        }
    }
    return screenList.front();
}

TransferTable HeadlessDisplays::transferTable(std::uint32_t number, std::size_t capacity)
{
    auto found = ramps.find(number);
    if (found == ramps.end()) return {};
    TransferTable table = found->second;
    if (table.red.size() > capacity) table.red.resize(capacity);
    if (table.green.size() > capacity) table.green.resize(capacity);
    if (table.blue.size() > capacity) table.blue.resize(capacity);
    return table;
}

std::vector<std::uint8_t> HeadlessDisplays::advertisedProfile(std::uint32_t number)
{
    auto found = profiles.find(number);
    return found == profiles.end() ? std::vector<std::uint8_t>{} : found->second;
}

Screen headlessScreen(std::uint32_t number, Rect frame, Size mm)
{
    Screen screen;
    screen.number = number;
    screen.outputName = "screen";
    screen.name = "screen";
    screen.frame = frame;
    screen.mm = mm;
    screen.pixelsWide = static_cast<int>(frame.width);
    screen.pixelsHigh = static_cast<int>(frame.height);
    return screen;
}

}  // namespace pp::headless
