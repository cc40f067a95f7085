#include "reports/profile_assignment.hpp"

#include <filesystem>

#include "reports/icc_profile.hpp"

namespace pp {

std::optional<std::string> assignedProfilePath(const std::string& value)
{
    if (value == "none") return std::nullopt;
    // The empty text names the current directory itself, as a file URL made from it would.
    std::error_code error;
    const std::filesystem::path path =
        value.empty() ? std::filesystem::current_path(error) : std::filesystem::absolute(value, error);
    if (error) return value;
    return path.string();
}

bool assign(ColourManagement& colour, const Screen& screen, const std::string& value)
{
    const auto deviceId = colour.displayUUID(screen);
    if (!deviceId) return false;
    const auto path = assignedProfilePath(value);
    if (path) {
        // Colour management would take a missing or broken file and answer for it later, or never;
        // refusing here keeps "assigned" meaning a profile is in place.
        const auto bytes = profileFileBytes(*path);
        if (!bytes || !isUsableProfile(*bytes)) return false;
    }
    return colour.setCustomProfile(*deviceId, path);
}

RoadOutcome assignmentRoad(ColourManagement& colour, const Screen& screen, const std::string& value)
{
    if (assign(colour, screen, value)) return {"assigned", 0};
    return {ASSIGN_REFUSED, 1};
}

}  // namespace pp
