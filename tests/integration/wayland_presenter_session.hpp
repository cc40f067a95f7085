// A running presenter on a test compositor, driven as a controller drives it, its pixels read back
// from the compositor.
#pragma once

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <memory>
#include <string>
#include <vector>

#include "child_process.hpp"
#include "compositor.hpp"

namespace pp::test {

class WaylandPresenterSession {
public:
    // Starts the presenter with `args` as a client of the compositor and reads its first line. `env`
    // is added to the compositor's client environment (give DISPLAY there to offer X11 as well).
    WaylandPresenterSession(const Compositor& compositor, const std::vector<std::string>& args = {},
                            const std::map<std::string, std::string>& env = {})
        : compositor_(compositor)
    {
        std::vector<std::string> argv = {presenterPath()};
        argv.insert(argv.end(), args.begin(), args.end());
        auto variables = compositor.env();
        for (const auto& [name, value] : env) variables[name] = value;
        child_ = std::make_unique<ChildProcess>(argv, variables);
        greeting_ = child_->readLine(20s).value_or("");
    }

    const std::string& greeting() const { return greeting_; }

    // The report in the greeting.
    nlohmann::json report() const { return nlohmann::json::parse(greeting_.substr(6)); }

    // Sends one command and waits for its reply line.
    std::string ask(const std::string& command)
    {
        child_->write(command + "\n");
        return child_->readLine().value_or("<no reply>");
    }

    ChildProcess& child() { return *child_; }

    // The output's device pixels as they are now.
    Screenshot screen(const std::string& outputName) const { return compositor_.screenshot(outputName); }

private:
    const Compositor& compositor_;
    std::unique_ptr<ChildProcess> child_;
    std::string greeting_;
};

}  // namespace pp::test
