#include "reports/profile_state.hpp"

#include <charconv>
#include <cmath>
#include <cstdio>

namespace pp {

namespace {

std::string numberText(double number)
{
    if (std::isnan(number)) return "nan";
    if (std::isinf(number)) return number < 0 ? "-inf" : "inf";
    if (number == std::trunc(number) && std::fabs(number) < 1e15) {
        return std::to_string(static_cast<long long>(number));
    }
    char buffer[64];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, number);
    return std::string(buffer, result.ptr);
}

std::string keyText(const RecordKey& key)
{
    if (const auto* text = std::get_if<std::string>(&key)) return *text;
    return numberText(std::get<double>(key));
}

// The path as a file URL, with every byte outside the unreserved set and "/" percent-encoded.
std::string urlText(const std::string& path)
{
    static const char* HEX = "0123456789ABCDEF";
    std::string url = "file://";
    for (unsigned char c : path) {
        const bool plain = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                           c == '-' || c == '.' || c == '_' || c == '~' || c == '/';
        if (plain) {
            url += static_cast<char>(c);
        } else {
            url += '%';
            url += HEX[c >> 4];
            url += HEX[c & 0x0F];
        }
    }
    return url;
}

// The map when `value` is a map whose keys are all texts, else null.
const RecordMap* textKeyedMap(const RecordValue& value)
{
    const auto* map = std::get_if<RecordMap>(&value.value);
    if (!map) return nullptr;
    for (const auto& [key, member] : *map) {
        if (!std::holds_alternative<std::string>(key)) return nullptr;
    }
    return map;
}

// The entry `key` of the record, or null.
const RecordValue* entry(const RecordMap& map, const char* key)
{
    for (const auto& [k, value] : map) {
        if (const auto* text = std::get_if<std::string>(&k); text && *text == key) return &value;
    }
    return nullptr;
}

// A member with the map's keys and each value converted by `rule`, when the entry is a text-keyed map.
void addProfiles(JsonObject& state, const char* member, const RecordValue* profiles,
                 std::string (*rule)(const RecordValue&))
{
    if (!profiles) return;
    const RecordMap* map = textKeyedMap(*profiles);
    if (!map) return;
    JsonObject converted = JsonObject::object();
    for (const auto& [key, value] : *map) converted[std::get<std::string>(key)] = rule(value);
    state[member] = std::move(converted);
}

}  // namespace

std::string descriptionText(const RecordValue& value)
{
    struct Describe {
        std::string operator()(const NullMarker&) const { return "<null>"; }
        std::string operator()(const std::string& text) const { return text; }
        std::string operator()(double number) const { return numberText(number); }
        std::string operator()(const FileUrl& url) const { return urlText(url.path); }
        std::string operator()(const RecordMap& map) const
        {
            std::string text = "{";
            for (const auto& [key, member] : map) {
                if (text.size() > 1) text += ' ';
                text += keyText(key) + " = " + descriptionText(member) + ";";
            }
            return text + "}";
        }
    };
    return std::visit(Describe{}, value.value);
}

std::string customProfileText(const RecordValue& value)
{
    if (const auto* url = std::get_if<FileUrl>(&value.value)) return url->path;
    return descriptionText(value);
}

std::string factoryProfileText(const RecordValue& value)
{
    if (const RecordMap* record = textKeyedMap(value)) {
        const RecordValue* url = entry(*record, DEVICE_PROFILE_URL_KEY);
        if (url) {
            if (const auto* file = std::get_if<FileUrl>(&url->value)) return file->path;
        }
        return "";
    }
    return descriptionText(value);
}

JsonObject profileState(ColourManagement& colour, const Screen& screen)
{
    JsonObject state;
    state["display_id"] = screen.number;
    const auto noDevice = [&state] {
        state["error"] = NO_DEVICE_ERROR;
        return state;
    };
    const auto deviceId = colour.displayUUID(screen);
    if (!deviceId) return noDevice();
    const auto record = colour.deviceRecord(*deviceId);
    if (!record) return noDevice();
    const RecordMap* map = textKeyedMap(*record);
    if (!map) return noDevice();
    addProfiles(state, "custom", entry(*map, CUSTOM_PROFILES_KEY), customProfileText);
    addProfiles(state, "factory", entry(*map, FACTORY_PROFILES_KEY), factoryProfileText);
    return state;
}

RoadOutcome profileStateRoad(ColourManagement& colour, const Screen& screen)
{
    return {jsonText(profileState(colour, screen)), 0};
}

}  // namespace pp
