#include "reports/profile_name.hpp"

#include "reports/icc_profile.hpp"
#include "reports/output_colour.hpp"

namespace pp {

std::string profileName(Displays& displays, ColourManagement* colour, const Screen& screen)
{
    return profileName(displays.advertisedProfile(screen.number), colour, screen);
}

std::string profileName(const std::vector<std::uint8_t>& advertised, ColourManagement* colour, const Screen& screen)
{
    // A compositor that manages colour says itself what the output expects.
    if (screen.colour) return colourProfileName(*screen.colour);
    if (auto description = profileDescription(advertised)) return *description;
    if (!colour) return "";
    const auto deviceId = colour->displayUUID(screen);
    if (!deviceId) return "";
    return colour->defaultProfileTitle(*deviceId);
}

}  // namespace pp
