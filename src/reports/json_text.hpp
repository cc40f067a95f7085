// JSON text for the reports: compact, one line, keys in insertion order, the solidus escaped.
#pragma once

#include <nlohmann/json.hpp>

#include <string>

namespace pp {

using JsonObject = nlohmann::ordered_json;

// Whether null may stand in the text. The reports never hold it; the display list says "nothing" with it.
enum class JsonNull { refused, written };

// The value as one line of JSON: no blanks between tokens, members in insertion order, "/" written
// as "\/", integers (and doubles with a whole value) as integers, other numbers in their shortest
// round-trip form. Empty text when the value holds a non-finite number, which JSON readers would
// reject or misread, or a null that is refused.
std::string jsonText(const JsonObject& value, JsonNull nulls = JsonNull::refused);

}  // namespace pp
