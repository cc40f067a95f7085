// The picture on a display the program drives itself: the connector's mode set on a CRTC, its primary
// plane showing one of two dumb buffers, flipped with atomic commits.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/buffer_ages.hpp"
#include "platform/kms/kms_device.hpp"
#include "platform/kms/kms_main_loop.hpp"
#include "platform/kms_options.hpp"
#include "platform/window_system.hpp"

namespace pp::kms {

// Takes the connector with the mode the options name (else its preferred one) and shows the frames on
// the CRTC's primary plane, nothing else on it: other planes are taken off, and gamma, degamma and the
// colour matrix set to bypass, so the levels reach the connector as drawn. present() commits a flip and
// returns once its completion event has come; presentedAt() is the event's vblank timestamp on the wall
// clock. "deep" draws XRGB2101010 where the plane offers it, else XRGB16161616 (its levels carried with
// 10 bits), else 8 bits. With `hdr10` the connector sends the HDR10 metadata, BT.2020 colorimetry and at
// least 10 bits per channel; without it, no metadata. Everything it changes is put back by restore(),
// which the run's end calls. Main thread only, but for restore().
class KmsWindow : public Window {
public:
    // None, with `refusal` set to the line to end on where there is one ("error no mode ...", "error
    // display cannot send hdr10"), when the window cannot be made.
    static std::unique_ptr<KmsWindow> create(KmsDevice& device, KmsMainLoop& loop, const Screen& screen,
                                             const KmsOptions& options, std::string& refusal);
    ~KmsWindow() override;
    KmsWindow(const KmsWindow&) = delete;
    KmsWindow& operator=(const KmsWindow&) = delete;

    FrameBuffer frame() override;
    void present(std::span<const PixelRect> changed) override;
    void setNeedsDisplay() override;
    void setPointerVisible(bool) override {}
    void setSurfaceBits(int bits) override;
    std::optional<double> presentedAt() const override { return presentedAt_; }

    // Puts back the mode, the planes and the properties found at start; after it no frame goes out.
    // Once; any thread.
    void restore();

    // The CRTC's gamma table when the program took the display (it runs with none), sampled to at most
    // `capacity` entries.
    TransferTable foundGamma(std::size_t capacity) const;

private:
    struct Buffer;
    struct Setting {
        std::uint32_t object;
        std::uint32_t property;
        std::uint64_t value;
    };

    KmsWindow(KmsDevice& device, KmsMainLoop& loop);
    bool chooseCrtc(const KmsConnector& connector);
    // Reads and keeps what the display's objects hold now, for restore().
    void remember(std::uint32_t object, std::uint32_t type, std::initializer_list<const char*> names);
    // The buffers of `format` (a DRM fourcc), made on first use; empty when they cannot be.
    std::vector<Buffer>* buffers(std::uint32_t format);
    // Commits the frame in `buffer` with a flip event, the mode and properties too the first time, and
    // waits for the event; false when the run has ended.
    bool flip(Buffer& buffer);
    // Adds a property by name to the request; false when the object has no such property.
    bool set(void* request, std::uint32_t object, std::uint32_t type, const char* name, std::uint64_t value);
    // Copies `areas` of the 10-bit drawing into the 16-bit buffer.
    void widen(Buffer& target, std::span<const PixelRect> areas);

    KmsDevice& device_;
    KmsMainLoop& loop_;
    std::uint32_t connector_ = 0;
    std::uint32_t crtc_ = 0;
    std::uint32_t plane_ = 0;
    std::vector<std::uint32_t> otherPlanes_;  // other planes on the CRTC at start, taken off
    std::vector<std::uint32_t> planeFormats_;
    std::vector<std::uint8_t> mode_;          // the drmModeModeInfo to set
    int width_ = 0;
    int height_ = 0;
    KmsOptions options_;
    std::uint32_t modeBlob_ = 0;
    std::uint32_t metadataBlob_ = 0;
    bool modeSet_ = false;

    std::uint32_t format_ = 0;  // the format frames are drawn in now
    std::vector<std::pair<std::uint32_t, std::unique_ptr<std::vector<Buffer>>>> pools_;
    int front_ = -1;            // the buffer scanned out now, in the current pool
    Buffer* drawing_ = nullptr;
    BufferAges ages_;
    std::vector<std::uint32_t> shadow_;  // the 10-bit drawing of a 16-bit frame
    bool shadowDrawn_ = false;
    std::vector<PixelRect> lastChanged_;  // what the frame before changed (a 16-bit buffer is two frames old)
    std::vector<std::uint32_t> scratch_;  // drawn into once the run has ended
    std::optional<double> presentedAt_;
    bool flipDone_ = false;
    double flipTime_ = 0;

    std::vector<Setting> found_;  // what restore() puts back
    std::vector<std::uint16_t> gamma_[3];
    std::mutex commitMutex_;      // held by each commit and by restore()
    bool restored_ = false;       // guarded by commitMutex_
};

}  // namespace pp::kms
