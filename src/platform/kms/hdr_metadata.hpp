// The HDR10 static metadata a connector sends in its signal, as the kernel takes it.
#pragma once

#include <cstdint>
#include <vector>

namespace pp::kms {

// The bytes of the kernel's struct hdr_output_metadata for HDR10: static metadata type 1, the SMPTE
// ST 2084 (PQ) transfer, BT.2020 primaries (red, green, blue) and the D65 white point, the mastering
// display's luminance from `minLuminance` to `maxLuminance` cd/m², and MaxCLL and MaxFALL both at
// `maxLuminance` (a patch may fill the screen at the peak).
std::vector<std::uint8_t> hdr10Metadata(double minLuminance, double maxLuminance);

}  // namespace pp::kms
