#include "platform/headless/headless_colour.hpp"

#include <filesystem>

namespace pp::headless {

std::optional<std::string> HeadlessColourManagement::displayUUID(const Screen& screen)
{
    auto found = devices.find(screen.outputName);
    if (found == devices.end()) return std::nullopt;
    return found->second;
}

std::optional<RecordValue> HeadlessColourManagement::deviceRecord(const std::string& deviceId)
{
    auto found = records.find(deviceId);
    if (found == records.end()) return std::nullopt;
    return found->second;
}

bool HeadlessColourManagement::setCustomProfile(const std::string& deviceId, const std::optional<std::string>& path)
{
    assignments.push_back({deviceId, path});
    bool known = false;
    for (const auto& [output, id] : devices) known = known || id == deviceId;
    if (!known || !acceptAssignments) return false;

    RecordValue& record = records[deviceId];
    if (!std::holds_alternative<RecordMap>(record.value)) record.value = RecordMap{};
    auto& map = std::get<RecordMap>(record.value);
    RecordMap* custom = nullptr;
    for (auto& [key, value] : map) {
        if (key == RecordKey{std::string(CUSTOM_PROFILES_KEY)}) {
            if (!std::holds_alternative<RecordMap>(value.value)) value.value = RecordMap{};
            custom = &std::get<RecordMap>(value.value);
        }
    }
    if (!custom) {
        map.emplace_back(std::string(CUSTOM_PROFILES_KEY), RecordValue{RecordMap{}});
        custom = &std::get<RecordMap>(map.back().second.value);
    }
    custom->clear();
    if (path) {
        custom->emplace_back(std::string("custom"), RecordValue{FileUrl{*path}});
        titles[deviceId] = std::filesystem::path(*path).filename().string();
    } else {
        titles.erase(deviceId);
    }
    return true;
}

std::string HeadlessColourManagement::defaultProfileTitle(const std::string& deviceId)
{
    auto found = titles.find(deviceId);
    return found == titles.end() ? "" : found->second;
}

RecordValue profileRecord(RecordMap custom, RecordMap factory)
{
    RecordMap record;
    record.emplace_back(std::string(CUSTOM_PROFILES_KEY), RecordValue{std::move(custom)});
    record.emplace_back(std::string(FACTORY_PROFILES_KEY), RecordValue{std::move(factory)});
    return RecordValue{std::move(record)};
}

}  // namespace pp::headless
