#include "reports/icc_profile.hpp"

#include <lcms2.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <memory>

namespace pp {

namespace {

constexpr std::size_t ICC_HEADER_SIZE = 128;
constexpr std::uintmax_t MAX_PROFILE_BYTES = 64u << 20;

struct ProfileCloser {
    void operator()(void* profile) const { cmsCloseProfile(profile); }
};
using Profile = std::unique_ptr<void, ProfileCloser>;

Profile openProfile(const std::vector<std::uint8_t>& bytes)
{
    if (bytes.size() < ICC_HEADER_SIZE) return nullptr;
    // The header's first four bytes give the profile's size, big-endian.
    const std::uint32_t declared = (std::uint32_t{bytes[0]} << 24) | (std::uint32_t{bytes[1]} << 16) |
                                   (std::uint32_t{bytes[2]} << 8) | std::uint32_t{bytes[3]};
    if (declared < ICC_HEADER_SIZE || declared > bytes.size()) return nullptr;
    return Profile(cmsOpenProfileFromMem(bytes.data(), declared));
}

void appendUtf8(std::string& out, char32_t c)
{
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        if (c >= 0xD800 && c < 0xE000) c = 0xFFFD;  // a lone surrogate is no character
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x110000) {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        appendUtf8(out, 0xFFFD);
    }
}

}  // namespace

bool isUsableProfile(const std::vector<std::uint8_t>& bytes)
{
    return openProfile(bytes) != nullptr;
}

std::optional<std::string> profileDescription(const std::vector<std::uint8_t>& bytes)
{
    Profile profile = openProfile(bytes);
    if (!profile) return std::nullopt;
    const cmsUInt32Number size = cmsGetProfileInfo(profile.get(), cmsInfoDescription, "en", "US", nullptr, 0);
    if (size == 0) return std::nullopt;
    std::vector<wchar_t> wide(size / sizeof(wchar_t) + 1, L'\0');
    cmsGetProfileInfo(profile.get(), cmsInfoDescription, "en", "US", wide.data(),
                      static_cast<cmsUInt32Number>(wide.size() * sizeof(wchar_t)));
    std::string text;
    for (wchar_t c : wide) {
        if (c == L'\0') break;
        appendUtf8(text, static_cast<char32_t>(c));
    }
    while (!text.empty() && (text.back() == ' ' || text.back() == '\n')) text.pop_back();
    if (text.empty()) return std::nullopt;
    return text;
}

TransferTable profileCalibrationCurve(const std::vector<std::uint8_t>& bytes, std::size_t capacity)
{
    Profile profile = openProfile(bytes);
    if (!profile || capacity < 2 || !cmsIsTag(profile.get(), cmsSigVcgtTag)) return {};
    // lcms2 reads the tag as three tone curves, red, green and blue, whichever form the file holds.
    auto* curves = static_cast<cmsToneCurve**>(cmsReadTag(profile.get(), cmsSigVcgtTag));
    if (!curves || !curves[0] || !curves[1] || !curves[2]) return {};
    TransferTable table;
    std::vector<float>* channels[3] = {&table.red, &table.green, &table.blue};
    for (int c = 0; c < 3; ++c) {
        channels[c]->reserve(capacity);
        for (std::size_t i = 0; i < capacity; ++i) {
            const float in = static_cast<float>(double(i) / double(capacity - 1));
            channels[c]->push_back(std::clamp(cmsEvalToneCurveFloat(curves[c], in), 0.0f, 1.0f));
        }
    }
    return table;
}

std::optional<std::vector<std::uint8_t>> profileFileBytes(const std::string& path)
{
    std::error_code error;
    if (!std::filesystem::is_regular_file(path, error)) return std::nullopt;
    const auto size = std::filesystem::file_size(path, error);
    if (error || size > MAX_PROFILE_BYTES) return std::nullopt;
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(size));
    in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!in || in.gcount() != static_cast<std::streamsize>(bytes.size())) return std::nullopt;
    return bytes;
}

}  // namespace pp
