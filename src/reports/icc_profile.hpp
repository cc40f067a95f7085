// Reading ICC profiles (lcms2): whether bytes are a profile, and its description.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/screen.hpp"

namespace pp {

// Whether `bytes` are a whole ICC profile: lcms2 can open it and the size its header declares is
// present (a cut-off file is not a profile).
bool isUsableProfile(const std::vector<std::uint8_t>& bytes);

// The profile's description (its description tag, English where it has several) as UTF-8, or none
// when the bytes are no usable profile or the profile has no description.
std::optional<std::string> profileDescription(const std::vector<std::uint8_t>& bytes);

// The profile's calibration curve (its vcgt tag: what is loaded into the display's gamma table) sampled
// at `capacity` evenly spaced inputs from 0 to 1 (at least 2), values 0 to 1; three empty channels
// when the bytes are no usable profile or it has no such tag.
TransferTable profileCalibrationCurve(const std::vector<std::uint8_t>& bytes, std::size_t capacity);

// The bytes of the regular file at `path`, or none when it cannot be read or is larger than any
// profile we accept (64 MiB).
std::optional<std::vector<std::uint8_t>> profileFileBytes(const std::string& path);

}  // namespace pp
