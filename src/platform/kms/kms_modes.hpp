// A connector's modes as the program chooses among them, without the DRM types.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/kms_options.hpp"

namespace pp::kms {

struct KmsMode {
    int width = 0;
    int height = 0;
    double refresh = 0;  // Hz, from the pixel clock and the totals (59.94, not 60)
    bool preferred = false;
    bool interlaced = false;
};

// The refresh of a mode from its pixel clock (kHz) and totals, in Hz.
double refreshOf(std::uint32_t clockKhz, int horizontalTotal, int verticalTotal, bool interlaced, bool doubleScan);

// The index of the mode to set: the listed mode of the wished size whose refresh is nearest the wished
// one, within 0.01 Hz; without a wish the preferred mode, else the first. None when no mode answers.
std::optional<std::size_t> chooseMode(const std::vector<KmsMode>& modes, const std::optional<ModeWish>& wish);

// "1920x1080@60", "3840x2160@23.976": the refresh to three decimals, without trailing zeros (an
// interlaced mode ends in "i").
std::string modeText(const KmsMode& mode);

}  // namespace pp::kms
