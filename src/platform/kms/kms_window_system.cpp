#include "platform/kms/kms_window_system.hpp"

#include "platform/run_end.hpp"

namespace pp::kms {

KmsWindowSystem::KmsWindowSystem(std::unique_ptr<KmsDevice> device, KmsOptions options)
    : device_(std::move(device)), options_(std::move(options)), loop_(*device_)
{
}

KmsWindowSystem::~KmsWindowSystem() = default;

std::vector<Screen> KmsWindowSystem::screens()
{
    return device_->screens(options_.mode);
}

std::optional<Screen> KmsWindowSystem::mainScreen()
{
    auto all = screens();
    if (all.empty()) return std::nullopt;
    return all.front();
}

TransferTable KmsWindowSystem::transferTable(std::uint32_t number, std::size_t capacity)
{
    if (!window_ || number != windowScreen_) return {};
    return window_->foundGamma(capacity);
}

std::unique_ptr<Window> KmsWindowSystem::createWindow(const Screen& screen)
{
    auto window = KmsWindow::create(*device_, loop_, screen, options_, refusal_);
    if (!window) return nullptr;
    window_ = window.get();
    windowScreen_ = screen.number;
    // However the run ends, the display is put back as it was found.
    KmsWindow* made = window_;
    atRunEnd([made] { made->restore(); });
    return window;
}

std::unique_ptr<KmsWindowSystem> connectWindowSystem(const KmsOptions& options)
{
    auto device = KmsDevice::open();
    if (!device) return nullptr;
    blockEndingSignals();
    return std::make_unique<KmsWindowSystem>(std::move(device), options);
}

}  // namespace pp::kms
