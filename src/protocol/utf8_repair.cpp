#include "protocol/utf8_repair.hpp"

namespace pp {

namespace {

constexpr std::string_view REPLACEMENT = "\xEF\xBF\xBD";

struct Lead {
    int length;          // bytes in the sequence, 0 when the byte starts none
    unsigned char low;   // the range allowed for the second byte
    unsigned char high;
};

// What a leading byte allows (the well-formed byte sequences of UTF-8).
Lead leadOf(unsigned char b)
{
    if (b >= 0xC2 && b <= 0xDF) return {2, 0x80, 0xBF};
    if (b == 0xE0) return {3, 0xA0, 0xBF};
    if (b == 0xED) return {3, 0x80, 0x9F};
    if (b >= 0xE1 && b <= 0xEF) return {3, 0x80, 0xBF};
    if (b == 0xF0) return {4, 0x90, 0xBF};
    if (b >= 0xF1 && b <= 0xF3) return {4, 0x80, 0xBF};
    if (b == 0xF4) return {4, 0x80, 0x8F};
    return {0, 0, 0};
}

}  // namespace

std::string repairedUtf8(std::string_view bytes)
{
    std::string out;
    out.reserve(bytes.size());
    std::size_t i = 0;
    while (i < bytes.size()) {
        const auto b = static_cast<unsigned char>(bytes[i]);
        if (b < 0x80) {
            out += static_cast<char>(b);
            ++i;
            continue;
        }
        const Lead lead = leadOf(b);
        std::size_t j = i + 1;
        if (lead.length > 0) {
            for (int k = 1; k < lead.length && j < bytes.size(); ++k, ++j) {
                const auto c = static_cast<unsigned char>(bytes[j]);
                const unsigned char low = k == 1 ? lead.low : 0x80;
                const unsigned char high = k == 1 ? lead.high : 0xBF;
                if (c < low || c > high) break;
            }
        }
        if (lead.length > 0 && j - i == static_cast<std::size_t>(lead.length)) {
            out.append(bytes.substr(i, j - i));
        } else {
            out += REPLACEMENT;
        }
        i = j;
    }
    return out;
}

}  // namespace pp
