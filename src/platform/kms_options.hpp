// What the command line asks of a display the program drives itself (KMS): the mode, and the signal.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace pp {

// A mode as the command line names it: "1920x1080@24", "3840x2160@23.976".
struct ModeWish {
    int width = 0;
    int height = 0;
    double refresh = 0;  // Hz
};

// The wish a word names, or none when it names none ("WxH@RATE", whole positive sizes, a positive rate).
std::optional<ModeWish> modeWish(std::string_view word);
// "WxH@RATE" with the rate as given: the text of "error no mode ...".
std::string modeWishText(const ModeWish& wish);

struct KmsOptions {
    std::optional<ModeWish> mode;  // none: the connector's preferred mode
    std::string modeWord;          // the word --mode was given, for the error line
    bool hdr10 = false;            // --signal hdr10: HDR10 metadata, BT.2020 colorimetry and 10 bits in the signal
    double minLuminance = 0.005;   // --hdr-luminance MIN MAX, cd/m², for the metadata
    double maxLuminance = 1000;
};

}  // namespace pp
