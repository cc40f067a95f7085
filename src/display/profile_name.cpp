#include "display/profile_name.hpp"

#include "display/icc_profile.hpp"

namespace pp {

std::string profileName(Displays& displays, ColourManagement* colour, const Screen& screen)
{
    return profileName(displays.advertisedProfile(screen.number), colour, screen);
}

std::string profileName(const std::vector<std::uint8_t>& advertised, ColourManagement* colour, const Screen& screen)
{
    if (auto description = profileDescription(advertised)) return *description;
    if (!colour) return "";
    const auto deviceId = colour->displayUUID(screen);
    if (!deviceId) return "";
    return colour->defaultProfileTitle(*deviceId);
}

}  // namespace pp
