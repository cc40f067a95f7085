#include "platform/kms/kms_window.hpp"

#include <drm_fourcc.h>
#include <poll.h>
#include <sys/mman.h>
#include <xf86drm.h>
#include <xf86drmMode.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/clocks.hpp"
#include "platform/kms/hdr_metadata.hpp"

namespace pp::kms {

namespace {

constexpr const char* NO_FRAME_MEMORY = "error no memory for the window's frames";

}  // namespace

// A dumb buffer, its framebuffer and its mapping.
struct KmsWindow::Buffer {
    int fd = -1;
    std::uint32_t handle = 0;
    std::uint32_t framebuffer = 0;
    std::uint32_t pitch = 0;
    std::uint64_t size = 0;
    void* pixels = MAP_FAILED;

    ~Buffer()
    {
        if (pixels != MAP_FAILED) munmap(pixels, size);
        if (framebuffer) drmModeRmFB(fd, framebuffer);
        if (handle) drmModeDestroyDumbBuffer(fd, handle);
    }
    Buffer() = default;
    Buffer(Buffer&& other) noexcept { *this = std::move(other); }
    Buffer& operator=(Buffer&& other) noexcept
    {
        std::swap(fd, other.fd);
        std::swap(handle, other.handle);
        std::swap(framebuffer, other.framebuffer);
        std::swap(pitch, other.pitch);
        std::swap(size, other.size);
        std::swap(pixels, other.pixels);
        return *this;
    }
};

KmsWindow::KmsWindow(KmsDevice& device, KmsMainLoop& loop) : device_(device), loop_(loop) {}

std::unique_ptr<KmsWindow> KmsWindow::create(KmsDevice& device, KmsMainLoop& loop, const Screen& screen,
                                             const KmsOptions& options, std::string& refusal)
{
    std::optional<KmsConnector> connector;
    for (auto& c : device.connectors()) {
        if (c.id == screen.number) connector = std::move(c);
    }
    if (!connector) return nullptr;
    const auto chosen = chooseMode(connector->modes, options.mode);
    if (!chosen) {
        refusal = "error no mode " + options.modeWord;
        return nullptr;
    }
    if (options.hdr10 && !(connector->hdrMetadata && connector->colorspace && connector->mostBpc >= 10)) {
        refusal = "error display cannot send hdr10";
        return nullptr;
    }

    std::unique_ptr<KmsWindow> w(new KmsWindow(device, loop));
    w->connector_ = connector->id;
    w->options_ = options;
    const drmModeModeInfo& info = connector->modeInfos[*chosen];
    w->mode_.assign(reinterpret_cast<const std::uint8_t*>(&info),
                    reinterpret_cast<const std::uint8_t*>(&info) + sizeof info);
    w->width_ = info.hdisplay;
    w->height_ = info.vdisplay;
    if (!w->chooseCrtc(*connector)) return nullptr;
    w->format_ = DRM_FORMAT_XRGB8888;

    // What the display holds now, put back at the end.
    w->remember(w->crtc_, DRM_MODE_OBJECT_CRTC, {"MODE_ID", "ACTIVE", "GAMMA_LUT", "DEGAMMA_LUT", "CTM"});
    w->remember(w->connector_, DRM_MODE_OBJECT_CONNECTOR, {"CRTC_ID", "HDR_OUTPUT_METADATA", "Colorspace", "max bpc"});
    for (std::uint32_t plane : w->otherPlanes_) {
        w->remember(plane, DRM_MODE_OBJECT_PLANE, {"FB_ID", "CRTC_ID", "SRC_X", "SRC_Y", "SRC_W", "SRC_H", "CRTC_X",
                                                   "CRTC_Y", "CRTC_W", "CRTC_H"});
    }
    w->remember(w->plane_, DRM_MODE_OBJECT_PLANE, {"FB_ID", "CRTC_ID", "SRC_X", "SRC_Y", "SRC_W", "SRC_H", "CRTC_X",
                                                   "CRTC_Y", "CRTC_W", "CRTC_H"});
    if (drmModeCrtc* crtc = drmModeGetCrtc(device.fd(), w->crtc_)) {
        const int size = crtc->gamma_size;
        drmModeFreeCrtc(crtc);
        for (auto& channel : w->gamma_) channel.resize(std::size_t(std::max(0, size)));
        if (size <= 0 || drmModeCrtcGetGamma(device.fd(), w->crtc_, std::uint32_t(size), w->gamma_[0].data(),
                                             w->gamma_[1].data(), w->gamma_[2].data()) != 0) {
            for (auto& channel : w->gamma_) channel.clear();
        }
    }
    if (drmModeCreatePropertyBlob(device.fd(), w->mode_.data(), w->mode_.size(), &w->modeBlob_) != 0) return nullptr;
    if (options.hdr10) {
        const auto metadata = hdr10Metadata(options.minLuminance, options.maxLuminance);
        if (drmModeCreatePropertyBlob(device.fd(), metadata.data(), metadata.size(), &w->metadataBlob_) != 0) {
            return nullptr;
        }
    }
    if (!w->buffers(w->format_)) {
        refusal = NO_FRAME_MEMORY;
        return nullptr;
    }
    KmsWindow* window = w.get();
    loop.onDeviceReadable = [window] {
        drmEventContext context{};
        context.version = 3;
        context.page_flip_handler2 = [](int, unsigned, unsigned seconds, unsigned microseconds, unsigned, void* data) {
            auto* self = static_cast<KmsWindow*>(data);
            self->flipDone_ = true;
            self->flipTime_ = double(seconds) + microseconds / 1e6;
        };
        drmHandleEvent(window->device_.fd(), &context);
    };
    loop.requestPaint();
    return w;
}

KmsWindow::~KmsWindow()
{
    loop_.onDeviceReadable = nullptr;
}

bool KmsWindow::chooseCrtc(const KmsConnector& connector)
{
    const int fd = device_.fd();
    drmModeRes* resources = drmModeGetResources(fd);
    if (!resources) return false;
    // The CRTC the connector is on now, else the first its encoders can drive.
    int index = -1;
    if (drmModeEncoder* current = connector.currentEncoder ? drmModeGetEncoder(fd, connector.currentEncoder) : nullptr) {
        for (int i = 0; i < resources->count_crtcs; ++i) {
            if (resources->crtcs[i] == current->crtc_id) index = i;
        }
        drmModeFreeEncoder(current);
    }
    for (std::size_t e = 0; e < connector.encoders.size() && index < 0; ++e) {
        drmModeEncoder* encoder = drmModeGetEncoder(fd, connector.encoders[e]);
        if (!encoder) continue;
        for (int i = 0; i < resources->count_crtcs && index < 0; ++i) {
            if (encoder->possible_crtcs & (1u << i)) index = i;
        }
        drmModeFreeEncoder(encoder);
    }
    if (index >= 0) crtc_ = resources->crtcs[index];
    drmModeFreeResources(resources);
    if (index < 0) return false;

    // Its primary plane; the other planes shown on it are taken off.
    drmModePlaneRes* planes = drmModeGetPlaneResources(fd);
    if (!planes) return false;
    for (std::uint32_t p = 0; p < planes->count_planes; ++p) {
        drmModePlane* plane = drmModeGetPlane(fd, planes->planes[p]);
        if (!plane) continue;
        const bool onCrtc = (plane->possible_crtcs & (1u << index)) != 0;
        const auto type = device_.propertyValue(plane->plane_id, DRM_MODE_OBJECT_PLANE, "type");
        if (onCrtc && type == DRM_PLANE_TYPE_PRIMARY && !plane_) {
            plane_ = plane->plane_id;
            planeFormats_.assign(plane->formats, plane->formats + plane->count_formats);
        } else if (plane->crtc_id == crtc_) {
            otherPlanes_.push_back(plane->plane_id);
        }
        drmModeFreePlane(plane);
    }
    drmModeFreePlaneResources(planes);
    return plane_ != 0;
}

void KmsWindow::remember(std::uint32_t object, std::uint32_t type, std::initializer_list<const char*> names)
{
    for (const char* name : names) {
        const std::uint32_t property = device_.propertyId(object, type, name);
        const auto value = device_.propertyValue(object, type, name);
        if (property && value) found_.push_back({object, property, *value});
    }
}

std::vector<KmsWindow::Buffer>* KmsWindow::buffers(std::uint32_t format)
{
    for (auto& [f, pool] : pools_) {
        if (f == format) return pool.get();
    }
    const int bpp = format == DRM_FORMAT_XRGB16161616 ? 64 : 32;
    auto pool = std::make_unique<std::vector<Buffer>>(2);
    for (Buffer& b : *pool) {
        b.fd = device_.fd();
        std::uint32_t pitch = 0;
        std::uint64_t size = 0;
        if (drmModeCreateDumbBuffer(device_.fd(), std::uint32_t(width_), std::uint32_t(height_), std::uint32_t(bpp), 0,
                                    &b.handle, &pitch, &size) != 0) {
            return nullptr;
        }
        b.pitch = pitch;
        b.size = size;
        const std::uint32_t handles[4] = {b.handle};
        const std::uint32_t pitches[4] = {pitch};
        const std::uint32_t offsets[4] = {0};
        std::uint64_t offset = 0;
        if (pitch % 4 != 0 ||
            drmModeAddFB2(device_.fd(), std::uint32_t(width_), std::uint32_t(height_), format, handles, pitches, offsets,
                          &b.framebuffer, 0) != 0 ||
            drmModeMapDumbBuffer(device_.fd(), b.handle, &offset) != 0) {
            return nullptr;
        }
        b.pixels = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, device_.fd(), off_t(offset));
        if (b.pixels == MAP_FAILED) return nullptr;
        std::memset(b.pixels, 0, size);
    }
    pools_.emplace_back(format, std::move(pool));
    return pools_.back().second.get();
}

void KmsWindow::setSurfaceBits(int bits)
{
    auto offered = [&](std::uint32_t format) {
        return std::find(planeFormats_.begin(), planeFormats_.end(), format) != planeFormats_.end();
    };
    std::uint32_t wanted = DRM_FORMAT_XRGB8888;
    if (bits == 16 && offered(DRM_FORMAT_XRGB2101010)) {
        wanted = DRM_FORMAT_XRGB2101010;
    } else if (bits == 16 && offered(DRM_FORMAT_XRGB16161616)) {
        wanted = DRM_FORMAT_XRGB16161616;
    }
    if (wanted != format_ && buffers(wanted)) {
        format_ = wanted;
        front_ = -1;
        ages_.forget();
        shadowDrawn_ = false;
    }
}

void KmsWindow::setNeedsDisplay()
{
    loop_.requestPaint();
}

FrameBuffer KmsWindow::frame()
{
    PP_MAIN_THREAD_ONLY(loop_);
    std::vector<Buffer>* pool = buffers(format_);
    drawing_ = nullptr;
    if (!pool || loop_.ended()) {
        // Nothing will be shown: the frame is drawn where it harms nothing.
        scratch_.resize(std::size_t(width_) * std::size_t(height_));
        return {scratch_.data(), width_, height_, width_, PixelFormat::xrgb8888, 1};
    }
    // The buffer not scanned out is free: each flip has completed before the next frame.
    const int back = front_ == 0 ? 1 : 0;
    drawing_ = &(*pool)[std::size_t(back)];
    if (format_ == DRM_FORMAT_XRGB16161616) {
        // Drawn at 10 bits into one buffer that keeps the last frame, then widened into the 16-bit one.
        shadow_.resize(std::size_t(width_) * std::size_t(height_));
        FrameBuffer frame{shadow_.data(), width_, height_, width_, PixelFormat::xrgb2101010, 1};
        frame.age = shadowDrawn_ ? 1 : 0;
        return frame;
    }
    const PixelFormat format = format_ == DRM_FORMAT_XRGB2101010 ? PixelFormat::xrgb2101010 : PixelFormat::xrgb8888;
    FrameBuffer frame{static_cast<std::uint32_t*>(drawing_->pixels), width_, height_, int(drawing_->pitch / 4), format, 1};
    frame.age = ages_.age(drawing_->pixels);
    if (front_ >= 0) frame.shown = static_cast<const std::uint32_t*>((*pool)[std::size_t(front_)].pixels);
    return frame;
}

void KmsWindow::widen(Buffer& target, std::span<const PixelRect> areas)
{
    for (const PixelRect& r : areas) {
        for (int y = r.y; y < r.y + r.height; ++y) {
            const std::uint32_t* from = shadow_.data() + std::size_t(y) * std::size_t(width_);
            auto* to = reinterpret_cast<std::uint64_t*>(static_cast<char*>(target.pixels) + std::size_t(y) * target.pitch);
            for (int x = r.x; x < r.x + r.width; ++x) {
                // Each 10-bit level becomes the 16-bit one that reads back as it: its bits repeated.
                auto widened = [](std::uint32_t v) { return std::uint64_t((v << 6) | (v >> 4)); };
                const std::uint32_t p = from[x];
                to[x] = 0xFFFF000000000000ull | widened((p >> 20) & 0x3FF) << 32 | widened((p >> 10) & 0x3FF) << 16 |
                        widened(p & 0x3FF);
            }
        }
    }
}

void KmsWindow::present(std::span<const PixelRect> changed)
{
    PP_MAIN_THREAD_ONLY(loop_);
    Buffer* buffer = std::exchange(drawing_, nullptr);
    if (!buffer || loop_.ended()) return;
    if (format_ == DRM_FORMAT_XRGB16161616) {
        // The 16-bit buffer holds the frame before the last: what either frame changed is widened.
        const PixelRect whole{0, 0, width_, height_};
        std::vector<PixelRect> areas;
        if (!shadowDrawn_ || front_ < 0) {
            areas.push_back(whole);
        } else {
            areas.assign(changed.begin(), changed.end());
            areas.insert(areas.end(), lastChanged_.begin(), lastChanged_.end());
        }
        widen(*buffer, areas);
        shadowDrawn_ = true;
        lastChanged_.assign(changed.begin(), changed.end());
    }
    if (!flip(*buffer)) return;
    std::vector<Buffer>& pool = *buffers(format_);
    front_ = int(buffer - pool.data());
    ages_.presented(buffer->pixels);
}

bool KmsWindow::set(void* request, std::uint32_t object, std::uint32_t type, const char* name, std::uint64_t value)
{
    const std::uint32_t property = device_.propertyId(object, type, name);
    if (!property) return false;
    return drmModeAtomicAddProperty(static_cast<drmModeAtomicReq*>(request), object, property, value) >= 0;
}

bool KmsWindow::flip(Buffer& buffer)
{
    drmModeAtomicReq* request = drmModeAtomicAlloc();
    std::uint32_t flags = DRM_MODE_PAGE_FLIP_EVENT | DRM_MODE_ATOMIC_NONBLOCK;
    set(request, plane_, DRM_MODE_OBJECT_PLANE, "FB_ID", buffer.framebuffer);
    if (!modeSet_) {
        // The first frame sets the mode, and everything that would change the levels on their way out.
        flags |= DRM_MODE_ATOMIC_ALLOW_MODESET;
        set(request, crtc_, DRM_MODE_OBJECT_CRTC, "MODE_ID", modeBlob_);
        set(request, crtc_, DRM_MODE_OBJECT_CRTC, "ACTIVE", 1);
        set(request, crtc_, DRM_MODE_OBJECT_CRTC, "GAMMA_LUT", 0);
        set(request, crtc_, DRM_MODE_OBJECT_CRTC, "DEGAMMA_LUT", 0);
        set(request, crtc_, DRM_MODE_OBJECT_CRTC, "CTM", 0);
        set(request, connector_, DRM_MODE_OBJECT_CONNECTOR, "CRTC_ID", crtc_);
        set(request, connector_, DRM_MODE_OBJECT_CONNECTOR, "HDR_OUTPUT_METADATA", metadataBlob_);
        if (options_.hdr10) {
            if (auto bt2020 = device_.enumValue(connector_, DRM_MODE_OBJECT_CONNECTOR, "Colorspace", "BT2020_RGB")) {
                set(request, connector_, DRM_MODE_OBJECT_CONNECTOR, "Colorspace", *bt2020);
            }
            if (auto most = device_.rangeMost(connector_, DRM_MODE_OBJECT_CONNECTOR, "max bpc")) {
                set(request, connector_, DRM_MODE_OBJECT_CONNECTOR, "max bpc", *most);
            }
        }
        set(request, plane_, DRM_MODE_OBJECT_PLANE, "CRTC_ID", crtc_);
        for (const auto& [name, value] : {std::pair{"SRC_X", 0}, std::pair{"SRC_Y", 0}, std::pair{"CRTC_X", 0},
                                          std::pair{"CRTC_Y", 0}}) {
            set(request, plane_, DRM_MODE_OBJECT_PLANE, name, std::uint64_t(value));
        }
        set(request, plane_, DRM_MODE_OBJECT_PLANE, "SRC_W", std::uint64_t(width_) << 16);
        set(request, plane_, DRM_MODE_OBJECT_PLANE, "SRC_H", std::uint64_t(height_) << 16);
        set(request, plane_, DRM_MODE_OBJECT_PLANE, "CRTC_W", std::uint64_t(width_));
        set(request, plane_, DRM_MODE_OBJECT_PLANE, "CRTC_H", std::uint64_t(height_));
        for (std::uint32_t other : otherPlanes_) {
            set(request, other, DRM_MODE_OBJECT_PLANE, "FB_ID", 0);
            set(request, other, DRM_MODE_OBJECT_PLANE, "CRTC_ID", 0);
        }
    }
    int result = 0;
    {
        std::lock_guard lock(commitMutex_);
        result = restored_ ? -ECANCELED : drmModeAtomicCommit(device_.fd(), request, flags, this);
    }
    drmModeAtomicFree(request);
    if (result != 0) {
        // Not master any more (another program took the display), or the device refused the picture.
        loop_.endWith(MainLoop::DISPLAY_CONNECTION_LOST);
        return false;
    }
    modeSet_ = true;
    flipDone_ = false;
    // A flip whose completion has not come within the limit is not being shown: the run ends.
    const double until = monotonicSeconds() + MainLoop::SHOW_LIMIT;
    while (!flipDone_) {
        pollfd fd{device_.fd(), POLLIN, 0};
        const int ready = poll(&fd, 1, waitMilliseconds(until - monotonicSeconds()));
        if (ready < 0 && errno != EINTR) {
            loop_.endWith(MainLoop::DISPLAY_CONNECTION_LOST);
            return false;
        }
        if (ready > 0 && loop_.onDeviceReadable) loop_.onDeviceReadable();
        if (!flipDone_ && monotonicSeconds() >= until) {
            loop_.endWith(MainLoop::WINDOW_NOT_SHOWN);
            return false;
        }
    }
    presentedAt_ = wallClockOf(device_.eventClock(), flipTime_);
    return true;
}

void KmsWindow::restore()
{
    std::lock_guard lock(commitMutex_);
    if (restored_) return;
    restored_ = true;
    drmModeAtomicReq* request = drmModeAtomicAlloc();
    for (const Setting& s : found_) drmModeAtomicAddProperty(request, s.object, s.property, s.value);
    drmModeAtomicCommit(device_.fd(), request, DRM_MODE_ATOMIC_ALLOW_MODESET, nullptr);
    drmModeAtomicFree(request);
}

TransferTable KmsWindow::foundGamma(std::size_t capacity) const
{
    TransferTable table;
    const std::size_t size = gamma_[0].size();
    if (size == 0 || capacity == 0) return table;
    const std::size_t count = std::min(size, capacity);
    std::vector<float>* channels[3] = {&table.red, &table.green, &table.blue};
    for (int c = 0; c < 3; ++c) {
        for (std::size_t i = 0; i < count; ++i) {
            const std::size_t at = count == 1 ? 0 : i * (size - 1) / (count - 1);
            channels[c]->push_back(float(gamma_[c][at] / 65535.0));
        }
    }
    return table;
}

}  // namespace pp::kms
