// The name of the display's colour space for the status report's "profile" member.
#pragma once

#include <string>

#include "platform/colour_management.hpp"
#include "platform/window_system.hpp"

namespace pp {

// On a screen whose encoding a colour-managed window system describes, the name of that encoding (the
// output ICC profile's description, or its primaries and transfer function). Elsewhere the description
// of the ICC profile the window system advertises for the screen; else the title of the default profile
// of the screen's colour-management device (when `colour` is given); else "". An advertised profile that
// cannot be read, or has no description, counts as none.
std::string profileName(Displays& displays, ColourManagement* colour, const Screen& screen);

// The same from the bytes of the advertised profile already read (empty for none).
std::string profileName(const std::vector<std::uint8_t>& advertised, ColourManagement* colour, const Screen& screen);

}  // namespace pp
