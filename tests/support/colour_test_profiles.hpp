// ICC profiles for the colour-management tests: the samples that come with colord-data, and
// profiles of the test's own that no colord knows yet.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace pp::test {

inline const std::string SAMPLE_FOLDER = "/usr/share/color/icc/colord/";
inline const std::string ADOBE_SAMPLE = SAMPLE_FOLDER + "AdobeRGB1998.icc";
inline const std::string SRGB_SAMPLE = SAMPLE_FOLDER + "sRGB.icc";
inline const std::string BLUISH_SAMPLE = SAMPLE_FOLDER + "Bluish.icc";

// An sRGB profile with the given description and its profile id in the header (a new description
// gives a new id). With a calibration exponent above 0 it carries a calibration curve (vcgt) of
// out = in ^ exponent on every channel.
std::vector<std::uint8_t> ownProfileBytes(const std::string& description, double calibrationExponent = 0);

// The same profile written to `path`.
void writeOwnProfile(const std::string& path, const std::string& description, double calibrationExponent = 0);

std::vector<std::uint8_t> fileBytes(const std::string& path);
void writeBytes(const std::string& path, const std::vector<std::uint8_t>& bytes);

}  // namespace pp::test
