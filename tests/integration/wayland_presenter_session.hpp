// A running presenter on a test compositor, driven as a controller drives it, its pixels read back
// from the compositor.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "compositor.hpp"
#include "presenter_session.hpp"

namespace pp::test {

// sway with two outputs of 640 x 480 side by side, on a solid background of 32 48 64.
inline std::unique_ptr<Compositor> startSwayWithTwoOutputs()
{
    SwayOptions options;
    options.outputs = 2;
    options.width = 640;
    options.height = 480;
    options.background = "#203040";
    return Compositor::startSway(options);
}

class WaylandPresenterSession : public ControllerSession {
public:
    // Starts the presenter with `args` as a client of the compositor and reads its first line. `env`
    // is added to the compositor's client environment (give DISPLAY there to offer X11 as well).
    WaylandPresenterSession(const Compositor& compositor, const std::vector<std::string>& args = {},
                            const std::map<std::string, std::string>& env = {})
        : ControllerSession(args, clientEnvironment(compositor, env)), compositor_(compositor)
    {
    }

    // The output's device pixels as they are now.
    Screenshot screen(const std::string& outputName) const { return compositor_.screenshot(outputName); }

private:
    static std::map<std::string, std::string> clientEnvironment(const Compositor& compositor,
                                                                const std::map<std::string, std::string>& env)
    {
        auto variables = compositor.env();
        for (const auto& [name, value] : env) variables[name] = value;
        return variables;
    }

    const Compositor& compositor_;
};

}  // namespace pp::test
