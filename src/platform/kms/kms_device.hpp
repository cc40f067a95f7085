// A DRM device the program drives as master, with atomic mode setting: its connectors, CRTCs, planes
// and their properties.
#pragma once

#include <xf86drmMode.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/screen.hpp"
#include "platform/kms/kms_modes.hpp"
#include "platform/kms_options.hpp"

namespace pp::kms {

// A connected connector as the program sees it.
struct KmsConnector {
    std::uint32_t id = 0;
    std::string name;  // "HDMI-A-1", "Virtual-1"
    int mmWidth = 0;
    int mmHeight = 0;
    std::vector<drmModeModeInfo> modeInfos;
    std::vector<KmsMode> modes;  // the same modes, as the program chooses among them
    std::vector<std::uint32_t> encoders;
    std::uint32_t currentEncoder = 0;
    bool hdrMetadata = false;  // it has HDR_OUTPUT_METADATA
    bool colorspace = false;   // Colorspace
    std::uint64_t mostBpc = 0; // the largest "max bpc" it takes; 0 without the property
};

// Main thread only (the end of the run may also use it, once the main thread no longer does).
class KmsDevice {
public:
    // The first /dev/dri/card* that has a connected connector and can be made master, with atomic mode
    // setting and universal planes; none when there is none (no device, or another master holds it: a
    // desktop is running).
    static std::unique_ptr<KmsDevice> open();
    ~KmsDevice();
    KmsDevice(const KmsDevice&) = delete;
    KmsDevice& operator=(const KmsDevice&) = delete;

    int fd() const { return fd_; }
    // The clock the page-flip events' timestamps are on.
    clockid_t eventClock() const { return eventClock_; }

    // The connected connectors, in the device's order, read afresh.
    std::vector<KmsConnector> connectors() const;

    // The id of `object`'s property `name` (object type DRM_MODE_OBJECT_*), or 0.
    std::uint32_t propertyId(std::uint32_t object, std::uint32_t type, const char* name) const;
    // Its value now, or none.
    std::optional<std::uint64_t> propertyValue(std::uint32_t object, std::uint32_t type, const char* name) const;
    // The value of an enum property's entry `entry`, or none.
    std::optional<std::uint64_t> enumValue(std::uint32_t object, std::uint32_t type, const char* name,
                                           const char* entry) const;
    // The largest value a range property takes, or none.
    std::optional<std::uint64_t> rangeMost(std::uint32_t object, std::uint32_t type, const char* name) const;

    // The screens the connectors stand for: the mode in use is the one `wish` names where the connector
    // lists it, else its preferred mode; frames side by side in the device's order, points = pixels.
    std::vector<Screen> screens(const std::optional<ModeWish>& wish) const;

private:
    explicit KmsDevice(int fd);
    int fd_ = -1;
    clockid_t eventClock_ = CLOCK_MONOTONIC;
};

// Whether the primary planes of the device offer a 10-bit-or-more format.
bool offersDeepFormat(int fd);

}  // namespace pp::kms
