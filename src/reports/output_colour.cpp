#include "reports/output_colour.hpp"

#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "reports/icc_profile.hpp"

namespace pp {

namespace {

// A number in its shortest form that reads back the same ("0.3127", "1000").
std::string shortNumber(double value)
{
    char text[32];
    for (int digits = 1; digits <= 17; ++digits) {
        std::snprintf(text, sizeof text, "%.*g", digits, value);
        if (std::strtod(text, nullptr) == value) break;
    }
    return text;
}

std::string primariesText(const OutputColour& colour)
{
    if (!colour.primaries.empty()) return colour.primaries;
    std::string text;
    for (double v : colour.primaryValues) text += (text.empty() ? "" : ",") + shortNumber(v);
    return text;
}

}  // namespace

std::string colourProfileName(const OutputColour& colour)
{
    if (!colour.icc.empty()) return profileDescription(colour.icc).value_or("");
    const std::string primaries = primariesText(colour);
    if (primaries.empty() || colour.transfer.empty()) return primaries + colour.transfer;
    return primaries + " " + colour.transfer;
}

TransferTable calibrationCurve(const OutputColour& colour, std::size_t capacity)
{
    if (colour.icc.empty()) return {};
    return profileCalibrationCurve(colour.icc, capacity);
}

JsonObject colourMember(const Screen& screen)
{
    if (!screen.colour) return nullptr;
    const OutputColour& colour = *screen.colour;
    JsonObject member = JsonObject::object();
    if (!colour.icc.empty()) {
        member["icc"] = profileDescription(colour.icc).value_or("");
        return member;
    }
    if (!colour.primaries.empty()) {
        member["primaries"] = colour.primaries;
    } else if (!colour.primaryValues.empty()) {
        JsonObject values = JsonObject::array();
        for (double v : colour.primaryValues) values.push_back(std::isfinite(v) ? v : 0);
        member["primaries"] = values;
    }
    if (!colour.transfer.empty()) member["tf"] = colour.transfer;
    if (colour.luminance.size() == 3) {
        JsonObject values = JsonObject::array();
        for (double v : colour.luminance) values.push_back(std::isfinite(v) ? v : 0);
        member["luminance"] = values;
    }
    return member;
}

}  // namespace pp
