// A display as the window system describes it: its place, size and depth, the encoding a colour-managed
// window system expects, and its transfer table.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "core/values.hpp"

namespace pp {

// How a colour-managed window system says an output expects its pixels to be encoded: by an ICC
// profile, or parametrically by primaries, a transfer function and luminances. The compositor passes a
// surface tagged with this description through to the output unchanged, and then applies only the
// output's own calibration (an ICC profile's vcgt, a gamma table).
struct OutputColour {
    std::vector<std::uint8_t> icc;   // the output's ICC profile; empty when it is described parametrically
    std::string primaries;           // the primaries' name in the protocol ("bt2020", "srgb"); empty when
                                     // they are given only as numbers, or not at all
    std::vector<double> primaryValues;  // CIE 1931 x, y of red, green, blue and white (8 numbers), or empty
    std::string transfer;            // the transfer function's name ("st2084_pq", "gamma22"), or a power
                                     // curve as "power 2.4"; empty when none was given
    std::vector<double> luminance;   // minimum, maximum and reference white in cd/m², or empty
};

// One attached display, as the window system describes it at the moment of the query.
struct Screen {
    std::uint32_t number = 0;      // display number: the RandR output's XID on X11
    std::string outputName;        // the window system's name of the output ("DP-1", "screen")
    std::string name;              // human name: the EDID monitor name, else the output name
    Rect frame;                    // desktop rectangle in points (root-window pixels on X11)
    Size mm;                       // physical size in millimetres; 0 x 0 when the display reports none
    int pixelsWide = 0;            // the current mode's size in pixels
    int pixelsHigh = 0;
    int depth = 24;                // screen depth (24 or 30)
    int bitsPerSample = 8;         // bits per colour sample of the screen (8 or 10)
    double scale = 1;              // backing scale factor: device pixels per point
    // The output's encoding where the window system manages colour and describes it; none where it does
    // no colour management (X11, a compositor without the colour-management protocol) or could not say.
    std::shared_ptr<const OutputColour> colour;
    // Where the program sets the display's mode itself (KMS): the modes it can be set to
    // ("1920x1080@60"), and which of the signal's properties the connector has ("hdr_output_metadata",
    // "colorspace", "max_bpc"); empty elsewhere.
    std::vector<std::string> modes;
    std::vector<std::pair<std::string, bool>> signal;
};

// The display's transfer (gamma) table: three channels of equal length, values 0 to 1.
struct TransferTable {
    std::vector<float> red;
    std::vector<float> green;
    std::vector<float> blue;
};

// One display as the status report reads it, every value from the same reading of the window system.
struct DisplayReading {
    std::optional<Screen> screen;                 // the display as screens() lists it; none when not listed
    TransferTable transfer;                       // as transferTable() gives it
    std::vector<std::uint8_t> advertisedProfile;  // as advertisedProfile() gives it
};

}  // namespace pp
