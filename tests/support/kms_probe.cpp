// pp-kms-probe: what the KMS tests ask of the DRM device inside the test guest, run as root.
//
//   pp-kms-probe list                      connectors and their modes, planes and their formats, CRTCs
//                                          with their mode and colour-path properties
//   pp-kms-probe pixel X Y [W H]           the pixel at X Y (each of the W x H from there, a line each,
//                                          row by row) of the buffer the first active CRTC's primary
//                                          plane scans out, in the buffer's own format and depth,
//                                          then its bytes in memory order: "XRGB8888 R G B bytes HEX"
//   pp-kms-probe fill FORMAT R G B -- CMD...
//                                          shows a dumb buffer of FORMAT (XRGB8888 or XRGB16161616)
//                                          filled with R G B on the first connected connector at its
//                                          preferred mode, runs CMD while it is shown, exits with CMD's
//                                          status
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>
#include <drm_fourcc.h>
#include <xf86drm.h>
#include <xf86drmMode.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

namespace {

// A packed RGB format: bytes per pixel and each channel's shift and width in the little-endian word.
struct PixelFormat {
    uint32_t fourcc;
    const char* name;
    int bytes;
    int redShift, greenShift, blueShift, bits;
};

const PixelFormat FORMATS[] = {
    {DRM_FORMAT_XRGB8888, "XRGB8888", 4, 16, 8, 0, 8},
    {DRM_FORMAT_ARGB8888, "ARGB8888", 4, 16, 8, 0, 8},
    {DRM_FORMAT_XBGR8888, "XBGR8888", 4, 0, 8, 16, 8},
    {DRM_FORMAT_ABGR8888, "ABGR8888", 4, 0, 8, 16, 8},
    {DRM_FORMAT_XRGB2101010, "XRGB2101010", 4, 20, 10, 0, 10},
    {DRM_FORMAT_XRGB16161616, "XRGB16161616", 8, 32, 16, 0, 16},
    {DRM_FORMAT_ARGB16161616, "ARGB16161616", 8, 32, 16, 0, 16},
    {DRM_FORMAT_XBGR16161616, "XBGR16161616", 8, 0, 16, 32, 16},
    {DRM_FORMAT_ABGR16161616, "ABGR16161616", 8, 0, 16, 32, 16},
};

const PixelFormat* formatOf(uint32_t fourcc)
{
    for (const auto& f : FORMATS)
        if (f.fourcc == fourcc) return &f;
    return nullptr;
}

const PixelFormat* formatNamed(const std::string& name)
{
    for (const auto& f : FORMATS)
        if (name == f.name) return &f;
    return nullptr;
}

std::string formatName(uint32_t fourcc)
{
    if (const auto* f = formatOf(fourcc)) return f->name;
    char text[5] = {char(fourcc & 0xff), char((fourcc >> 8) & 0xff), char((fourcc >> 16) & 0xff),
                    char((fourcc >> 24) & 0xff), 0};
    return text;
}

[[noreturn]] void fail(const std::string& what)
{
    std::fprintf(stderr, "pp-kms-probe: %s%s%s\n", what.c_str(), errno ? ": " : "", errno ? std::strerror(errno) : "");
    std::exit(1);
}

// The first /dev/dri/cardN with KMS resources, with every client capability the tests need.
int openCard()
{
    for (int n = 0; n < 8; ++n) {
        const std::string path = "/dev/dri/card" + std::to_string(n);
        const int fd = open(path.c_str(), O_RDWR | O_CLOEXEC);
        if (fd < 0) continue;
        drmModeRes* resources = drmModeGetResources(fd);
        if (resources) {
            drmModeFreeResources(resources);
            drmSetClientCap(fd, DRM_CLIENT_CAP_UNIVERSAL_PLANES, 1);
            drmSetClientCap(fd, DRM_CLIENT_CAP_ATOMIC, 1);
            drmSetClientCap(fd, DRM_CLIENT_CAP_WRITEBACK_CONNECTORS, 1);
            return fd;
        }
        close(fd);
    }
    errno = 0;
    fail("no DRM device with KMS resources");
}

// The value of the object's property `name`, or none when it has no such property.
std::optional<uint64_t> property(int fd, uint32_t object, uint32_t type, const char* name)
{
    drmModeObjectProperties* props = drmModeObjectGetProperties(fd, object, type);
    if (!props) return std::nullopt;
    std::optional<uint64_t> value;
    for (uint32_t i = 0; i < props->count_props && !value; ++i) {
        drmModePropertyRes* p = drmModeGetProperty(fd, props->props[i]);
        if (p && std::strcmp(p->name, name) == 0) value = props->prop_values[i];
        drmModeFreeProperty(p);
    }
    drmModeFreeObjectProperties(props);
    return value;
}

std::string modeText(const drmModeModeInfo& m)
{
    const double hz = m.htotal && m.vtotal ? m.clock * 1000.0 / (double(m.htotal) * m.vtotal) : 0.0;
    char text[128];
    std::snprintf(text, sizeof text, "%ux%u@%u (%.3f Hz)%s", m.hdisplay, m.vdisplay, m.vrefresh, hz,
                  (m.type & DRM_MODE_TYPE_PREFERRED) ? " preferred" : "");
    return text;
}

// Prints the connectors with their modes, the planes with their formats, the CRTCs with their colour path.
int list(int fd)
{
    drmModeRes* res = drmModeGetResources(fd);
    for (int i = 0; i < res->count_connectors; ++i) {
        drmModeConnector* c = drmModeGetConnector(fd, res->connectors[i]);
        if (!c) continue;
        const char* type = drmModeGetConnectorTypeName(c->connector_type);
        std::printf("connector %u %s-%u %s\n", c->connector_id, type ? type : "Unknown", c->connector_type_id,
                    c->connection == DRM_MODE_CONNECTED ? "connected" : "disconnected");
        for (int m = 0; m < c->count_modes; ++m) std::printf("  mode %s\n", modeText(c->modes[m]).c_str());
        drmModeFreeConnector(c);
    }
    drmModePlaneRes* planes = drmModeGetPlaneResources(fd);
    for (uint32_t i = 0; planes && i < planes->count_planes; ++i) {
        drmModePlane* p = drmModeGetPlane(fd, planes->planes[i]);
        const auto type = property(fd, p->plane_id, DRM_MODE_OBJECT_PLANE, "type");
        const char* typeName = !type ? "?" : *type == DRM_PLANE_TYPE_PRIMARY ? "primary"
                                         : *type == DRM_PLANE_TYPE_CURSOR ? "cursor" : "overlay";
        std::printf("plane %u %s crtc %u fb %u formats", p->plane_id, typeName, p->crtc_id, p->fb_id);
        for (uint32_t f = 0; f < p->count_formats; ++f) std::printf(" %s", formatName(p->formats[f]).c_str());
        std::printf("\n");
        drmModeFreePlane(p);
    }
    drmModeFreePlaneResources(planes);
    for (int i = 0; i < res->count_crtcs; ++i) {
        drmModeCrtc* c = drmModeGetCrtc(fd, res->crtcs[i]);
        std::printf("crtc %u %s\n", c->crtc_id, c->mode_valid ? modeText(c->mode).c_str() : "off");
        for (const char* name : {"GAMMA_LUT", "GAMMA_LUT_SIZE", "DEGAMMA_LUT", "DEGAMMA_LUT_SIZE", "CTM"}) {
            const auto value = property(fd, c->crtc_id, DRM_MODE_OBJECT_CRTC, name);
            if (value) std::printf("  %s %llu\n", name, static_cast<unsigned long long>(*value));
        }
        std::printf("  gamma_size %d\n", c->gamma_size);
        drmModeFreeCrtc(c);
    }
    drmModeFreeResources(res);
    return 0;
}

// Maps `size` bytes of the GEM object `handle` (a dumb buffer) for reading and writing.
uint8_t* mapDumb(int fd, uint32_t handle, size_t size)
{
    drm_mode_map_dumb map{};
    map.handle = handle;
    if (drmIoctl(fd, DRM_IOCTL_MODE_MAP_DUMB, &map) != 0) fail("DRM_IOCTL_MODE_MAP_DUMB");
    void* at = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, static_cast<off_t>(map.offset));
    if (at == MAP_FAILED) fail("mmap");
    return static_cast<uint8_t*>(at);
}

// Prints one pixel of the buffer the first active CRTC's primary plane scans out: what the screen shows.
int pixel(int fd, int x, int y, int width, int height)
{
    drmModeRes* res = drmModeGetResources(fd);
    drmModePlaneRes* planes = drmModeGetPlaneResources(fd);
    uint32_t fbId = 0;
    for (int i = 0; i < res->count_crtcs && !fbId; ++i) {
        drmModeCrtc* crtc = drmModeGetCrtc(fd, res->crtcs[i]);
        for (uint32_t j = 0; crtc->mode_valid && j < planes->count_planes && !fbId; ++j) {
            drmModePlane* p = drmModeGetPlane(fd, planes->planes[j]);
            if (p->crtc_id == crtc->crtc_id && p->fb_id &&
                property(fd, p->plane_id, DRM_MODE_OBJECT_PLANE, "type") == uint64_t(DRM_PLANE_TYPE_PRIMARY))
                fbId = p->fb_id;
            drmModeFreePlane(p);
        }
        drmModeFreeCrtc(crtc);
    }
    drmModeFreePlaneResources(planes);
    drmModeFreeResources(res);
    errno = 0;
    if (!fbId) fail("no active CRTC with a framebuffer on its primary plane");
    drmModeFB2* fb = drmModeGetFB2(fd, fbId);
    if (!fb) fail("drmModeGetFB2");
    if (!fb->handles[0]) fail("the framebuffer's handle is withheld (not root?)");
    const PixelFormat* format = formatOf(fb->pixel_format);
    if (!format) fail("framebuffer format " + formatName(fb->pixel_format) + " is not read");
    if (x < 0 || y < 0 || width < 1 || height < 1 || uint32_t(x + width) > fb->width ||
        uint32_t(y + height) > fb->height) {
        fail("pixel outside the framebuffer");
    }
    const size_t size = size_t(fb->offsets[0]) + size_t(fb->pitches[0]) * fb->height;
    const uint8_t* bytes = mapDumb(fd, fb->handles[0], size);
    const uint64_t mask = (uint64_t(1) << format->bits) - 1;
    for (int row = y; row < y + height; ++row) {
        for (int column = x; column < x + width; ++column) {
            const uint8_t* at = bytes + fb->offsets[0] + size_t(row) * fb->pitches[0] + size_t(column) * format->bytes;
            uint64_t word = 0;
            std::memcpy(&word, at, format->bytes);
            const auto channel = [&](int shift) { return static_cast<unsigned long long>((word >> shift) & mask); };
            std::printf("%s %llu %llu %llu bytes ", format->name, channel(format->redShift),
                        channel(format->greenShift), channel(format->blueShift));
            for (int i = 0; i < format->bytes; ++i) std::printf("%02x", at[i]);
            std::printf("\n");
        }
    }
    munmap(const_cast<uint8_t*>(bytes), size);
    drm_gem_close close{};
    close.handle = fb->handles[0];
    drmIoctl(fd, DRM_IOCTL_GEM_CLOSE, &close);
    drmModeFreeFB2(fb);
    return 0;
}

// Shows a buffer filled with one colour on the first connected connector, runs `command`, returns its status.
int fill(int fd, const PixelFormat& format, const uint64_t rgb[3], char** command)
{
    drmModeRes* res = drmModeGetResources(fd);
    drmModeConnector* connector = nullptr;
    for (int i = 0; i < res->count_connectors && !connector; ++i) {
        drmModeConnector* c = drmModeGetConnector(fd, res->connectors[i]);
        if (c && c->connection == DRM_MODE_CONNECTED && c->count_modes > 0 &&
            c->connector_type != DRM_MODE_CONNECTOR_WRITEBACK)
            connector = c;
        else
            drmModeFreeConnector(c);
    }
    errno = 0;
    if (!connector) fail("no connected connector");
    drmModeModeInfo mode = connector->modes[0];
    for (int m = 0; m < connector->count_modes; ++m)
        if (connector->modes[m].type & DRM_MODE_TYPE_PREFERRED) mode = connector->modes[m];
    uint32_t crtcId = 0;
    for (int e = 0; e < connector->count_encoders && !crtcId; ++e) {
        drmModeEncoder* encoder = drmModeGetEncoder(fd, connector->encoders[e]);
        for (int i = 0; encoder && i < res->count_crtcs && !crtcId; ++i)
            if (encoder->possible_crtcs & (1u << i)) crtcId = res->crtcs[i];
        drmModeFreeEncoder(encoder);
    }
    if (!crtcId) fail("no CRTC for the connector");

    drm_mode_create_dumb create{};
    create.width = mode.hdisplay;
    create.height = mode.vdisplay;
    create.bpp = uint32_t(format.bytes * 8);
    if (drmIoctl(fd, DRM_IOCTL_MODE_CREATE_DUMB, &create) != 0) fail("DRM_IOCTL_MODE_CREATE_DUMB");
    uint8_t* bytes = mapDumb(fd, create.handle, create.size);
    const uint64_t word = (rgb[0] << format.redShift) | (rgb[1] << format.greenShift) | (rgb[2] << format.blueShift);
    for (uint32_t y = 0; y < create.height; ++y)
        for (uint32_t x = 0; x < create.width; ++x)
            std::memcpy(bytes + size_t(y) * create.pitch + size_t(x) * format.bytes, &word, format.bytes);
    const uint32_t handles[4] = {create.handle};
    const uint32_t pitches[4] = {create.pitch};
    const uint32_t offsets[4] = {0};
    uint32_t fbId = 0;
    if (drmModeAddFB2(fd, create.width, create.height, format.fourcc, handles, pitches, offsets, &fbId, 0) != 0)
        fail("drmModeAddFB2");
    if (drmModeSetCrtc(fd, crtcId, fbId, 0, 0, &connector->connector_id, 1, &mode) != 0) fail("drmModeSetCrtc");

    // The buffer is shown as long as this process keeps the device open: CMD runs as a child.
    const pid_t child = fork();
    if (child == 0) {
        execvp(command[0], command);
        _exit(127);
    }
    int status = 0;
    waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128;
}

int usage()
{
    std::fprintf(stderr, "usage: pp-kms-probe list | pixel X Y [W H] | fill FORMAT R G B -- CMD...\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 2) return usage();
    const std::string verb = argv[1];
    if (verb == "list" && argc == 2) return list(openCard());
    if (verb == "pixel" && (argc == 4 || argc == 6)) {
        return pixel(openCard(), std::atoi(argv[2]), std::atoi(argv[3]), argc == 6 ? std::atoi(argv[4]) : 1,
                     argc == 6 ? std::atoi(argv[5]) : 1);
    }
    if (verb == "fill" && argc > 7 && std::strcmp(argv[6], "--") == 0) {
        const PixelFormat* format = formatNamed(argv[2]);
        if (!format) return usage();
        const uint64_t rgb[3] = {std::strtoull(argv[3], nullptr, 10), std::strtoull(argv[4], nullptr, 10),
                                 std::strtoull(argv[5], nullptr, 10)};
        for (uint64_t v : rgb)
            if (v >> format->bits) return usage();
        return fill(openCard(), *format, rgb, argv + 7);
    }
    return usage();
}
