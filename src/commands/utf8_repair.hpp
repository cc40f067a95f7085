// Input text made valid UTF-8 before anything looks at it.
#pragma once

#include <string>
#include <string_view>

namespace pp {

// `bytes` with every ill-formed sequence replaced by U+FFFD, one per maximal subpart (the longest
// start of a well-formed sequence, or a single byte that starts none), as Unicode recommends: so
// "\xE2\x82" followed by "A" gives one U+FFFD then "A", and "\xC0\xAF" gives two. Overlong forms,
// surrogates and values above U+10FFFF are ill-formed. Well-formed text comes back unchanged.
std::string repairedUtf8(std::string_view bytes);

// The same for a line the caller gives up: well-formed text is returned as it came, without a copy,
// and repair copies only from the first ill-formed byte on.
std::string repairedLine(std::string bytes);

}  // namespace pp
