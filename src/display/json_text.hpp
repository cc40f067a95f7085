// JSON text for the reports: compact, one line, keys in insertion order, the solidus escaped.
#pragma once

#include <nlohmann/json.hpp>

#include <string>

namespace pp {

using JsonObject = nlohmann::ordered_json;

// The value as one line of JSON: no blanks between tokens, members in insertion order, "/" written
// as "\/", integers (and doubles with a whole value) as integers, other numbers in their shortest
// round-trip form. Empty text when the value holds a non-finite number or null, which JSON readers
// would reject or misread.
std::string jsonText(const JsonObject& value);

}  // namespace pp
