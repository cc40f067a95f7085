#include "presenter/road_thread.hpp"

#include <system_error>
#include <thread>
#include <utility>

namespace pp {

bool startRoadThread(std::function<void()> road)
{
    try {
        std::thread(std::move(road)).detach();
        return true;
    } catch (const std::system_error&) {
        return false;
    }
}

}  // namespace pp
