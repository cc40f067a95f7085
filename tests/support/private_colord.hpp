// A colord of the test's own: a private system bus, and colord on it in a mount namespace of its own
// whose database folder is a private one, so the machine's colour-management state is never touched.
// Everything is stopped by its process id whatever the test's outcome.
#pragma once

#include <sys/types.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

namespace pp::test {

class PrivateColord {
public:
    // Starts the private bus, and colord on it when `withColord`. Throws when either cannot start.
    static std::unique_ptr<PrivateColord> start(bool withColord = true);
    ~PrivateColord();
    PrivateColord(const PrivateColord&) = delete;
    PrivateColord& operator=(const PrivateColord&) = delete;

    // The value of DBUS_SYSTEM_BUS_ADDRESS that reaches this bus.
    const std::string& busAddress() const { return address_; }
    // A client's environment: this bus, and HOME and XDG_DATA_HOME in the fixture's own folder.
    std::map<std::string, std::string> environment() const;
    // The user's ICC store under that environment.
    std::string userStore() const { return folder_ + "/data/icc"; }
    // The fixture's scratch folder, removed at the end.
    const std::string& folder() const { return folder_; }

    // Starts colord and waits until it answers on the bus. Throws when it does not.
    void startColord();
    // Stops colord by its process id (its database stays for the next start).
    void stopColord();
    void restartColord()
    {
        stopColord();
        startColord();
    }
    // Stops colord from answering (SIGSTOP) while it keeps its name on the bus, or lets it go on.
    void pauseColord();
    void resumeColord();

    // Creates the display device of the X output `outputName` as a desktop session does (scope
    // normal, kind display, metadata XRANDR_name); its colord device id.
    std::string createDisplayDevice(const std::string& outputName);
    // Makes the profile file known to colord as a desktop session does for its ICC stores.
    void createProfile(const std::string& profileId, const std::string& path);
    // Adds a profile colord knows to the device, with relation "soft" or "hard".
    void addProfile(const std::string& deviceId, const std::string& profileId, const std::string& relation);
    // The ids of the device's profiles, the default first; empty when there is no such device.
    std::vector<std::string> deviceProfiles(const std::string& deviceId);

    // Runs a shell command as a client of this bus; its standard output. `status` gets its exit status.
    std::string client(const std::string& command, int* status = nullptr) const;

private:
    PrivateColord() = default;
    std::string objectPath(const std::string& method, const std::string& id);
    std::string folder_;
    std::string address_;
    pid_t busPid_ = 0;
    pid_t colordPid_ = 0;
    bool paused_ = false;
};

// The colord profile id of an ICC file whose header carries its profile id: "icc-" and its hex.
std::string headerProfileId(const std::string& path);

}  // namespace pp::test
