#include "platform/kms/hdr_metadata.hpp"

#include <drm_mode.h>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace pp::kms {

namespace {

// CTA-861's codes: the transfer function and the metadata's descriptor.
constexpr std::uint8_t EOTF_SMPTE_ST2084 = 2;
constexpr std::uint8_t STATIC_METADATA_TYPE1 = 0;
// Chromaticities in units of 0.00002.
constexpr double CHROMATICITY_UNIT = 50000;
constexpr double BT2020[3][2] = {{0.708, 0.292}, {0.170, 0.797}, {0.131, 0.046}};
constexpr double D65[2] = {0.3127, 0.3290};

std::uint16_t coded(double value, double unitsPerOne, double least = 0)
{
    return std::uint16_t(std::clamp(std::round(value * unitsPerOne), least, 65535.0));
}

}  // namespace

std::vector<std::uint8_t> hdr10Metadata(double minLuminance, double maxLuminance)
{
    hdr_output_metadata metadata{};
    metadata.metadata_type = STATIC_METADATA_TYPE1;
    hdr_metadata_infoframe& frame = metadata.hdmi_metadata_type1;
    frame.eotf = EOTF_SMPTE_ST2084;
    frame.metadata_type = STATIC_METADATA_TYPE1;
    for (int i = 0; i < 3; ++i) {
        frame.display_primaries[i].x = coded(BT2020[i][0], CHROMATICITY_UNIT);
        frame.display_primaries[i].y = coded(BT2020[i][1], CHROMATICITY_UNIT);
    }
    frame.white_point.x = coded(D65[0], CHROMATICITY_UNIT);
    frame.white_point.y = coded(D65[1], CHROMATICITY_UNIT);
    frame.max_display_mastering_luminance = coded(maxLuminance, 1, 1);
    frame.min_display_mastering_luminance = coded(minLuminance, 10000);
    frame.max_cll = coded(maxLuminance, 1, 1);
    frame.max_fall = coded(maxLuminance, 1, 1);
    std::vector<std::uint8_t> bytes(sizeof metadata);
    std::memcpy(bytes.data(), &metadata, sizeof metadata);
    return bytes;
}

}  // namespace pp::kms
