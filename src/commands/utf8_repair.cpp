#include "commands/utf8_repair.hpp"

#include <cstdint>
#include <cstring>

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

// The length of the well-formed sequence at `i`, or 0 when an ill-formed one starts there; `j` is
// set behind its maximal subpart (the bytes one U+FFFD stands for).
std::size_t sequenceAt(std::string_view bytes, std::size_t i, std::size_t& j)
{
    const auto b = static_cast<unsigned char>(bytes[i]);
    j = i + 1;
    if (b < 0x80) return 1;
    const Lead lead = leadOf(b);
    if (lead.length == 0) return 0;
    for (int k = 1; k < lead.length && j < bytes.size(); ++k, ++j) {
        const auto c = static_cast<unsigned char>(bytes[j]);
        const unsigned char low = k == 1 ? lead.low : 0x80;
        const unsigned char high = k == 1 ? lead.high : 0xBF;
        if (c < low || c > high) break;
    }
    return j - i == static_cast<std::size_t>(lead.length) ? j - i : 0;
}

// Where the first ill-formed sequence starts, or the length when there is none.
std::size_t firstIllFormed(std::string_view bytes)
{
    std::size_t i = 0;
    while (i < bytes.size()) {
        // Runs of ASCII go eight bytes at a time.
        while (i + 8 <= bytes.size()) {
            std::uint64_t word;
            std::memcpy(&word, bytes.data() + i, sizeof word);
            if (word & 0x8080808080808080ULL) break;
            i += 8;
        }
        if (i >= bytes.size()) break;
        std::size_t j;
        if (sequenceAt(bytes, i, j) == 0) return i;
        i = j;
    }
    return bytes.size();
}

// Appends the repair of `bytes` from `i` on to `out`, well-formed runs in one piece.
void appendRepaired(std::string& out, std::string_view bytes, std::size_t i)
{
    std::size_t run = i;
    while (i < bytes.size()) {
        std::size_t j;
        if (sequenceAt(bytes, i, j) == 0) {
            out.append(bytes.substr(run, i - run));
            out += REPLACEMENT;
            run = j;
        }
        i = j;
    }
    out.append(bytes.substr(run));
}

}  // namespace

std::string repairedUtf8(std::string_view bytes)
{
    std::string out;
    out.reserve(bytes.size());
    appendRepaired(out, bytes, 0);
    return out;
}

std::string repairedLine(std::string bytes)
{
    const std::size_t bad = firstIllFormed(bytes);
    if (bad == bytes.size()) return bytes;
    std::string out;
    out.reserve(bytes.size() + 16);
    out.append(bytes, 0, bad);
    appendRepaired(out, bytes, bad);
    return out;
}

}  // namespace pp
