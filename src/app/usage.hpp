// What the program says about itself: the short usage of --help and the line of --version.
#pragma once

#include <string>

namespace pp {

// The usage: the command lines, the options, the commands with their replies, and where the manual
// is. Lines end with a line feed; the last one too.
std::string usageText();

// "patch-presenter " and the version, without a line feed.
std::string versionLine();

}  // namespace pp
