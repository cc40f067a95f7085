#include "reports/status_report.hpp"

#include <algorithm>
#include <cmath>

#include "core/words.hpp"
#include "reports/json_text.hpp"
#include "reports/output_colour.hpp"

namespace pp {

namespace {

double finiteOr(double value, double standIn)
{
    return std::isfinite(value) ? value : standIn;
}

// The fractions of the position text read back as numbers: each the five-decimal value nearest to the
// centre's fraction. A degenerate screen (no width or height) gives a non-finite fraction; it is
// reported as 0.
JsonObject positionMember(const PatchView& view, const Geometry& geometry)
{
    const std::string text = position(view.patch, geometry.sw, geometry.sh);
    JsonObject fractions = JsonObject::array();
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find(' ', start);
        if (end == std::string::npos) end = text.size();
        if (end > start) {
            if (auto value = numberWord(std::string_view(text).substr(start, end - start))) {
                fractions.push_back(finiteOr(*value, 0));
            }
        }
        start = end + 1;
    }
    return fractions;
}

// An entry of a start-up number pair; 0 when missing or non-finite.
double entry(const std::vector<double>& values, std::size_t index)
{
    return index < values.size() ? finiteOr(values[index], 0) : 0;
}

JsonObject pair(double first, double second)
{
    return JsonObject::array({first, second});
}

// One channel cut to `count` entries, each widened exactly to double; a non-finite entry reads as 0.
JsonObject channel(const std::vector<float>& entries, std::size_t count)
{
    JsonObject values = JsonObject::array();
    for (std::size_t i = 0; i < count; ++i) values.push_back(finiteOr(static_cast<double>(entries[i]), 0));
    return values;
}

JsonObject gammaMember(const TransferTable& table)
{
    // The three channels keep one length, even if the platform gave unequal ones.
    const std::size_t count =
        std::min({table.red.size(), table.green.size(), table.blue.size(), GAMMA_TABLE_CAPACITY});
    return JsonObject::array({channel(table.red, count), channel(table.green, count), channel(table.blue, count)});
}

}  // namespace

std::string info(const Screen& screen, const Geometry& geometry, const PatchView& view, Displays& displays,
                 std::string_view profile)
{
    return info(screen, geometry, view, displays.displayReading(screen.number, GAMMA_TABLE_CAPACITY), profile);
}

std::string info(const Screen& screen, const Geometry& geometry, const PatchView& view,
                 const DisplayReading& reading, std::string_view profile)
{
    // The screen as the platform describes it now, or as it was chosen when it is no longer listed.
    const Screen& current = reading.screen ? *reading.screen : screen;
    const double ppmm = geometry.ppmm;
    // The patch size computed back from points; the requested size stands in if the scale is degenerate.
    const double patchWidth = finiteOr(geometry.pw / ppmm, entry(geometry.size, 0));
    const double patchHeight = finiteOr(geometry.ph / ppmm, entry(geometry.size, 1));

    JsonObject report;
    report["platform"] = "linux";
    report["display_id"] = screen.number;
    report["name"] = current.name;
    report["pixels"] = JsonObject::array({current.pixelsWide, current.pixelsHigh});
    report["size_mm"] = pair(finiteOr(geometry.mm.width, 0), finiteOr(geometry.mm.height, 0));
    report["patch_mm"] = pair(patchWidth, patchHeight);
    report["position"] = positionMember(view, geometry);
    report["shift_mm"] = pair(entry(geometry.shift, 0), entry(geometry.shift, 1));
    report["profile"] = std::string(profile);
    report["surround"] = "black, the whole screen";
    report["paint"] = std::string(modeName(view.mode));
    // Where the window system manages colour, what it applies after the patch is the output's
    // calibration curve; elsewhere the display's own transfer table.
    report["gamma_table"] = gammaMember(current.colour ? calibrationCurve(*current.colour, GAMMA_TABLE_CAPACITY)
                                                       : reading.transfer);
    return jsonText(report);
}

}  // namespace pp
