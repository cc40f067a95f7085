// The main thread's event loop when the program drives the display itself: the hand-over, the signals
// that end the run, and a look each second at whether the device is still the program's.
#pragma once

#include <functional>
#include <vector>

#include "platform/main_loop_turns.hpp"

namespace pp::kms {

class KmsDevice;

// No input is read: the person's controls are not offered on a bare display. SIGINT, SIGTERM and
// SIGHUP (blocked in every thread by blockEndingSignals) end the run after the display has been put
// back, with status 128 plus the signal's number. Losing master (another program took the device, a
// VT switch) ends it with "error display connection lost".
class KmsMainLoop : public MainLoopTurns {
public:
    explicit KmsMainLoop(KmsDevice& device);
    ~KmsMainLoop() override;

    // Called when the device's descriptor is readable while the loop waits (a late event). Main thread.
    std::function<void()> onDeviceReadable;

private:
    Events deliverEvents(EventHandler& handler) override;
    bool wait(EventHandler& handler) override;

    KmsDevice& device_;
    int signals_ = -1;      // signalfd of the ending signals
    int masterCheck_ = -1;  // timerfd, once a second
};

// Blocks SIGINT, SIGTERM and SIGHUP in the calling thread and so in every thread it starts later, so
// that the loop reads them from its signalfd. Before any other thread exists.
void blockEndingSignals();

}  // namespace pp::kms
