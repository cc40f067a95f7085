#include "display/profile_name.hpp"

#include "display/icc_profile.hpp"

namespace pp {

std::string profileName(Displays& displays, ColourManagement* colour, const Screen& screen)
{
    if (auto description = profileDescription(displays.advertisedProfile(screen.number))) return *description;
    if (!colour) return "";
    const auto deviceId = colour->displayUUID(screen);
    if (!deviceId) return "";
    return colour->defaultProfileTitle(*deviceId);
}

}  // namespace pp
