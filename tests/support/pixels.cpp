#include "pixels.hpp"

#include <xcb/xcb.h>

#include <cstdlib>
#include <cstring>
#include <stdexcept>

namespace pp::test {

Rgb RootImage::at(int rootX, int rootY) const
{
    const std::uint32_t p = pixels.at(static_cast<std::size_t>((rootY - y) * width + (rootX - x)));
    if (depth == 30) return {int((p >> 20) & 0x3FF), int((p >> 10) & 0x3FF), int(p & 0x3FF)};
    return {int((p >> 16) & 0xFF), int((p >> 8) & 0xFF), int(p & 0xFF)};
}

RootImage readRoot(const std::string& display, int x, int y, int width, int height)
{
    xcb_connection_t* c = xcb_connect(display.c_str(), nullptr);
    if (xcb_connection_has_error(c)) {
        xcb_disconnect(c);
        throw std::runtime_error("cannot reach " + display);
    }
    xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
    RootImage image{x, y, width, height, screen->root_depth, {}};
    image.pixels.reserve(static_cast<std::size_t>(width) * height);
    // Read in bands so that a large area stays under the request size limit.
    const int band = std::max(1, 1000000 / std::max(1, width));
    for (int top = 0; top < height; top += band) {
        const int rows = std::min(band, height - top);
        xcb_get_image_reply_t* r = xcb_get_image_reply(
            c,
            xcb_get_image(c, XCB_IMAGE_FORMAT_Z_PIXMAP, screen->root, static_cast<std::int16_t>(x),
                          static_cast<std::int16_t>(y + top), static_cast<std::uint16_t>(width),
                          static_cast<std::uint16_t>(rows), 0xFFFFFFFF),
            nullptr);
        if (!r) {
            xcb_disconnect(c);
            throw std::runtime_error("GetImage failed");
        }
        const auto* data = reinterpret_cast<const std::uint32_t*>(xcb_get_image_data(r));
        image.pixels.insert(image.pixels.end(), data, data + static_cast<std::size_t>(width) * rows);
        std::free(r);
    }
    xcb_disconnect(c);
    return image;
}

}  // namespace pp::test
