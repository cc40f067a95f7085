#include "app/startup.hpp"

#include <algorithm>
#include <utility>

namespace pp {

ScreenChoice chooseScreen(Displays& displays, std::optional<std::uint32_t> wanted)
{
    if (!wanted) {
        if (auto main = displays.mainScreen()) return {std::move(main), {}};
        return {std::nullopt, NO_MAIN_SCREEN_LINE};
    }
    for (auto& screen : displays.screens()) {
        if (screen.number == *wanted) return {std::move(screen), {}};
    }
    return {std::nullopt, noScreenLine(*wanted)};
}

RoadChoice chooseRoad(const Words& allWords)
{
    const std::pair<const char*, Road> anywhere[] = {{"--help", Road::help},
                                                      {"--version", Road::version},
                                                      {"--list-displays", Road::listDisplays},
                                                      {"--profile-state", Road::profileState}};
    for (const auto& [word, road] : anywhere) {
        if (std::find(allWords.begin(), allWords.end(), word) != allWords.end()) return {road, {}, {}};
    }
    const Words options(allWords.empty() ? allWords.begin() : allWords.begin() + 1, allWords.end());
    if (auto value = option(options, "--assign", 1)) return {Road::assign, value->front(), {}};
    if (auto value = option(options, "--connect", 1)) return {Road::connect, {}, value->front()};
    return {Road::presenter, {}, {}};
}

}  // namespace pp
