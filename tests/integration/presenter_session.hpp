// A running presenter under a test X server, driven as a controller drives it.
#pragma once

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <memory>
#include <string>
#include <vector>

#include "child_process.hpp"
#include "pixels.hpp"
#include "x_server.hpp"

namespace pp::test {

class PresenterSession {
public:
    PresenterSession(const XServer& server, const std::vector<std::string>& args = {},
                     std::map<std::string, std::string> env = {})
        : server_(server)
    {
        std::vector<std::string> argv = {presenterPath()};
        argv.insert(argv.end(), args.begin(), args.end());
        env["DISPLAY"] = server.display();
        child_ = std::make_unique<ChildProcess>(argv, env);
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

    Rgb pixel(int x, int y) const { return readRoot(server_.display(), x, y, 1, 1).at(x, y); }
    RootImage area(int x, int y, int w, int h) const { return readRoot(server_.display(), x, y, w, h); }

private:
    const XServer& server_;
    std::unique_ptr<ChildProcess> child_;
    std::string greeting_;
};

// The dither tile's value at a screen pixel: the tile is anchored at the display's bottom-left corner.
inline int tileRow(int y, int screenHeight)
{
    return ((y - screenHeight) % 16 + 16) % 16;
}

inline constexpr int BAYER_MATRIX[8][8] = {
    {0, 32, 8, 40, 2, 34, 10, 42},  {48, 16, 56, 24, 50, 18, 58, 26}, {12, 44, 4, 36, 14, 46, 6, 38},
    {60, 28, 52, 20, 62, 30, 54, 22}, {3, 35, 11, 43, 1, 33, 9, 41},  {51, 19, 59, 27, 49, 17, 57, 25},
    {15, 47, 7, 39, 13, 45, 5, 37},  {63, 31, 55, 23, 61, 29, 53, 21}};

}  // namespace pp::test
