#include "platform/kms/kms_device.hpp"

#include <drm_fourcc.h>
#include <fcntl.h>
#include <unistd.h>
#include <xf86drm.h>

#include <algorithm>
#include <cstring>
#include <string>

namespace pp::kms {

namespace {

constexpr int MOST_CARDS = 16;

struct PropertiesDeleter {
    void operator()(drmModeObjectProperties* p) const { drmModeFreeObjectProperties(p); }
};
struct PropertyDeleter {
    void operator()(drmModePropertyRes* p) const { drmModeFreeProperty(p); }
};
struct ResourcesDeleter {
    void operator()(drmModeRes* p) const { drmModeFreeResources(p); }
};
struct ConnectorDeleter {
    void operator()(drmModeConnector* p) const { drmModeFreeConnector(p); }
};

// Calls `found` with each property of the object until it returns true; the value it had then.
template <class Found>
std::optional<std::uint64_t> eachProperty(int fd, std::uint32_t object, std::uint32_t type, Found found)
{
    std::unique_ptr<drmModeObjectProperties, PropertiesDeleter> props(drmModeObjectGetProperties(fd, object, type));
    if (!props) return std::nullopt;
    for (std::uint32_t i = 0; i < props->count_props; ++i) {
        std::unique_ptr<drmModePropertyRes, PropertyDeleter> prop(drmModeGetProperty(fd, props->props[i]));
        if (prop && found(*prop)) return props->prop_values[i];
    }
    return std::nullopt;
}

// The connector's name as the kernel's own messages give it: its type's name and its index.
std::string connectorName(const drmModeConnector& connector)
{
    const char* type = drmModeGetConnectorTypeName(connector.connector_type);
    return std::string(type ? type : "Unknown") + "-" + std::to_string(connector.connector_type_id);
}

// Whether the card has a connected connector.
bool hasConnectedConnector(int fd)
{
    std::unique_ptr<drmModeRes, ResourcesDeleter> resources(drmModeGetResources(fd));
    if (!resources) return false;
    for (int i = 0; i < resources->count_connectors; ++i) {
        std::unique_ptr<drmModeConnector, ConnectorDeleter> c(drmModeGetConnectorCurrent(fd, resources->connectors[i]));
        if (c && c->connection == DRM_MODE_CONNECTED) return true;
    }
    return false;
}

}  // namespace

KmsDevice::KmsDevice(int fd) : fd_(fd)
{
    std::uint64_t monotonic = 0;
    if (drmGetCap(fd_, DRM_CAP_TIMESTAMP_MONOTONIC, &monotonic) != 0 || monotonic == 0) eventClock_ = CLOCK_REALTIME;
}

KmsDevice::~KmsDevice()
{
    if (fd_ >= 0) close(fd_);
}

std::unique_ptr<KmsDevice> KmsDevice::open()
{
    for (int i = 0; i < MOST_CARDS; ++i) {
        const std::string path = "/dev/dri/card" + std::to_string(i);
        const int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
        if (fd < 0) continue;
        // A card opened while another process is master is not master; one that is may be made so.
        const bool master = drmIsMaster(fd) || drmSetMaster(fd) == 0;
        if (master && drmSetClientCap(fd, DRM_CLIENT_CAP_UNIVERSAL_PLANES, 1) == 0 &&
            drmSetClientCap(fd, DRM_CLIENT_CAP_ATOMIC, 1) == 0 && hasConnectedConnector(fd)) {
            return std::unique_ptr<KmsDevice>(new KmsDevice(fd));
        }
        close(fd);
    }
    return nullptr;
}

std::vector<KmsConnector> KmsDevice::connectors() const
{
    std::vector<KmsConnector> found;
    std::unique_ptr<drmModeRes, ResourcesDeleter> resources(drmModeGetResources(fd_));
    if (!resources) return found;
    for (int i = 0; i < resources->count_connectors; ++i) {
        std::unique_ptr<drmModeConnector, ConnectorDeleter> c(drmModeGetConnector(fd_, resources->connectors[i]));
        if (!c || c->connection != DRM_MODE_CONNECTED || c->count_modes == 0) continue;
        KmsConnector k;
        k.id = c->connector_id;
        k.name = connectorName(*c);
        k.mmWidth = int(c->mmWidth);
        k.mmHeight = int(c->mmHeight);
        k.currentEncoder = c->encoder_id;
        k.encoders.assign(c->encoders, c->encoders + c->count_encoders);
        for (int m = 0; m < c->count_modes; ++m) {
            const drmModeModeInfo& info = c->modes[m];
            k.modeInfos.push_back(info);
            k.modes.push_back({info.hdisplay, info.vdisplay,
                               refreshOf(info.clock, info.htotal, info.vtotal, info.flags & DRM_MODE_FLAG_INTERLACE,
                                         info.flags & DRM_MODE_FLAG_DBLSCAN),
                               (info.type & DRM_MODE_TYPE_PREFERRED) != 0, (info.flags & DRM_MODE_FLAG_INTERLACE) != 0});
        }
        k.hdrMetadata = propertyId(k.id, DRM_MODE_OBJECT_CONNECTOR, "HDR_OUTPUT_METADATA") != 0;
        k.colorspace = propertyId(k.id, DRM_MODE_OBJECT_CONNECTOR, "Colorspace") != 0;
        k.mostBpc = rangeMost(k.id, DRM_MODE_OBJECT_CONNECTOR, "max bpc").value_or(0);
        found.push_back(std::move(k));
    }
    return found;
}

std::uint32_t KmsDevice::propertyId(std::uint32_t object, std::uint32_t type, const char* name) const
{
    std::uint32_t id = 0;
    eachProperty(fd_, object, type, [&](const drmModePropertyRes& p) {
        if (std::strcmp(p.name, name) != 0) return false;
        id = p.prop_id;
        return true;
    });
    return id;
}

std::optional<std::uint64_t> KmsDevice::propertyValue(std::uint32_t object, std::uint32_t type, const char* name) const
{
    return eachProperty(fd_, object, type, [&](const drmModePropertyRes& p) { return std::strcmp(p.name, name) == 0; });
}

std::optional<std::uint64_t> KmsDevice::enumValue(std::uint32_t object, std::uint32_t type, const char* name,
                                                  const char* entry) const
{
    std::optional<std::uint64_t> value;
    eachProperty(fd_, object, type, [&](const drmModePropertyRes& p) {
        if (std::strcmp(p.name, name) != 0) return false;
        for (int i = 0; i < p.count_enums; ++i) {
            if (std::strcmp(p.enums[i].name, entry) == 0) value = p.enums[i].value;
        }
        return true;
    });
    return value;
}

std::optional<std::uint64_t> KmsDevice::rangeMost(std::uint32_t object, std::uint32_t type, const char* name) const
{
    std::optional<std::uint64_t> most;
    eachProperty(fd_, object, type, [&](const drmModePropertyRes& p) {
        if (std::strcmp(p.name, name) != 0) return false;
        if ((p.flags & DRM_MODE_PROP_RANGE) && p.count_values >= 2) most = p.values[1];
        return true;
    });
    return most;
}

std::vector<Screen> KmsDevice::screens(const std::optional<ModeWish>& wish) const
{
    std::vector<Screen> screens;
    const bool deep = offersDeepFormat(fd_);
    double x = 0;
    for (const KmsConnector& c : connectors()) {
        auto chosen = chooseMode(c.modes, wish);
        if (!chosen) chosen = chooseMode(c.modes, std::nullopt);
        const KmsMode& mode = c.modes[*chosen];
        Screen s;
        s.number = c.id;
        s.outputName = c.name;
        s.name = c.name;
        s.pixelsWide = mode.width;
        s.pixelsHigh = mode.height;
        s.frame = {x, 0, double(mode.width), double(mode.height)};
        x += mode.width;
        s.mm = {double(std::max(0, c.mmWidth)), double(std::max(0, c.mmHeight))};
        // 10 bits go out only where a plane takes them and the connector may send them.
        s.bitsPerSample = deep && c.mostBpc >= 10 ? 10 : 8;
        s.depth = s.bitsPerSample * 3;
        s.scale = 1;
        for (const KmsMode& m : c.modes) s.modes.push_back(modeText(m));
        s.signal = {{"hdr_output_metadata", c.hdrMetadata}, {"colorspace", c.colorspace}, {"max_bpc", c.mostBpc > 0}};
        screens.push_back(std::move(s));
    }
    return screens;
}

bool offersDeepFormat(int fd)
{
    drmModePlaneRes* planes = drmModeGetPlaneResources(fd);
    if (!planes) return false;
    bool deep = false;
    for (std::uint32_t i = 0; i < planes->count_planes && !deep; ++i) {
        drmModePlane* plane = drmModeGetPlane(fd, planes->planes[i]);
        if (!plane) continue;
        for (std::uint32_t f = 0; f < plane->count_formats; ++f) {
            if (plane->formats[f] == DRM_FORMAT_XRGB2101010 || plane->formats[f] == DRM_FORMAT_XRGB16161616) deep = true;
        }
        drmModeFreePlane(plane);
    }
    drmModeFreePlaneResources(planes);
    return deep;
}

}  // namespace pp::kms
