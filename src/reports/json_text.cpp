#include "reports/json_text.hpp"

#include <cmath>
#include <optional>

namespace pp {

namespace {

// Appends `value`; false when it cannot be written.
bool append(std::string& out, const JsonObject& value, JsonNull nulls)
{
    switch (value.type()) {
    case JsonObject::value_t::object: {
        out += '{';
        bool first = true;
        for (const auto& [key, member] : value.items()) {
            if (!first) out += ',';
            first = false;
            if (!append(out, JsonObject(key), nulls)) return false;
            out += ':';
            if (!append(out, member, nulls)) return false;
        }
        out += '}';
        return true;
    }
    case JsonObject::value_t::array: {
        out += '[';
        bool first = true;
        for (const auto& element : value) {
            if (!first) out += ',';
            first = false;
            if (!append(out, element, nulls)) return false;
        }
        out += ']';
        return true;
    }
    case JsonObject::value_t::string: {
        // Invalid UTF-8 is replaced rather than failing the whole report.
        const std::string text = value.dump(-1, ' ', false, JsonObject::error_handler_t::replace);
        for (char c : text) {
            if (c == '/') out += '\\';
            out += c;
        }
        return true;
    }
    case JsonObject::value_t::number_float: {
        const double v = value.get<double>();
        if (!std::isfinite(v)) return false;
        if (v == std::trunc(v) && std::fabs(v) < 1e15) {
            out += std::to_string(static_cast<long long>(v));
        } else {
            out += value.dump();
        }
        return true;
    }
    case JsonObject::value_t::number_integer:
    case JsonObject::value_t::number_unsigned:
    case JsonObject::value_t::boolean:
        out += value.dump();
        return true;
    case JsonObject::value_t::null:
        if (nulls == JsonNull::refused) return false;
        out += "null";
        return true;
    default:
        return false;  // binary, discarded
    }
}

}  // namespace

std::string jsonText(const JsonObject& value, JsonNull nulls)
{
    std::string out;
    if (!append(out, value, nulls)) return {};
    return out;
}

}  // namespace pp
