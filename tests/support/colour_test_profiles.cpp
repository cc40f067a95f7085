#include "colour_test_profiles.hpp"

#include <lcms2.h>

#include <fstream>
#include <iterator>
#include <stdexcept>

namespace pp::test {

std::vector<std::uint8_t> ownProfileBytes(const std::string& description, double calibrationExponent)
{
    cmsHPROFILE profile = cmsCreate_sRGBProfile();
    cmsMLU* text = cmsMLUalloc(nullptr, 1);
    cmsMLUsetASCII(text, "en", "US", description.c_str());
    cmsWriteTag(profile, cmsSigProfileDescriptionTag, text);
    cmsMLUfree(text);
    if (calibrationExponent > 0) {
        cmsToneCurve* curve = cmsBuildGamma(nullptr, calibrationExponent);
        cmsToneCurve* curves[3] = {curve, curve, curve};
        cmsWriteTag(profile, cmsSigVcgtTag, curves);
        cmsFreeToneCurve(curve);
    }
    cmsMD5computeID(profile);
    cmsUInt32Number size = 0;
    std::vector<std::uint8_t> bytes;
    if (cmsSaveProfileToMem(profile, nullptr, &size)) {
        bytes.resize(size);
        if (!cmsSaveProfileToMem(profile, bytes.data(), &size)) bytes.clear();
    }
    cmsCloseProfile(profile);
    if (bytes.empty()) throw std::runtime_error("cannot write the profile " + description);
    return bytes;
}

void writeOwnProfile(const std::string& path, const std::string& description, double calibrationExponent)
{
    writeBytes(path, ownProfileBytes(description, calibrationExponent));
}

std::vector<std::uint8_t> fileBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<std::uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void writeBytes(const std::string& path, const std::vector<std::uint8_t>& bytes)
{
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                static_cast<std::streamsize>(bytes.size()));
}

}  // namespace pp::test
