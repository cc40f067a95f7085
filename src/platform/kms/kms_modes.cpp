#include "platform/kms/kms_modes.hpp"

#include <cmath>
#include <cstdio>

namespace pp::kms {

namespace {

// How far a listed refresh may be from the wished one.
constexpr double REFRESH_TOLERANCE = 0.01;

}  // namespace

double refreshOf(std::uint32_t clockKhz, int horizontalTotal, int verticalTotal, bool interlaced, bool doubleScan)
{
    if (horizontalTotal <= 0 || verticalTotal <= 0) return 0;
    double refresh = clockKhz * 1000.0 / (double(horizontalTotal) * double(verticalTotal));
    if (interlaced) refresh *= 2;
    if (doubleScan) refresh /= 2;
    return refresh;
}

std::optional<std::size_t> chooseMode(const std::vector<KmsMode>& modes, const std::optional<ModeWish>& wish)
{
    if (modes.empty()) return std::nullopt;
    if (!wish) {
        for (std::size_t i = 0; i < modes.size(); ++i) {
            if (modes[i].preferred) return i;
        }
        return 0;
    }
    std::optional<std::size_t> best;
    for (std::size_t i = 0; i < modes.size(); ++i) {
        const KmsMode& m = modes[i];
        if (m.width != wish->width || m.height != wish->height || m.interlaced) continue;
        const double off = std::abs(m.refresh - wish->refresh);
        if (off > REFRESH_TOLERANCE) continue;
        if (!best || off < std::abs(modes[*best].refresh - wish->refresh)) best = i;
    }
    return best;
}

std::string modeText(const KmsMode& mode)
{
    char rate[32];
    std::snprintf(rate, sizeof rate, "%.3f", mode.refresh);
    std::string text = rate;
    while (!text.empty() && text.back() == '0') text.pop_back();
    if (!text.empty() && text.back() == '.') text.pop_back();
    return std::to_string(mode.width) + "x" + std::to_string(mode.height) + "@" + text + (mode.interlaced ? "i" : "");
}

}  // namespace pp::kms
