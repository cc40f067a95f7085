#include "other_client.hpp"

#include <cstdlib>
#include <cstring>
#include <stdexcept>

namespace pp::test {

OtherClient::OtherClient(const std::string& display) : connection_(xcb_connect(display.c_str(), nullptr))
{
    if (xcb_connection_has_error(connection_)) {
        xcb_disconnect(connection_);
        throw std::runtime_error("cannot reach " + display);
    }
    root_ = xcb_setup_roots_iterator(xcb_get_setup(connection_)).data->root;
}

OtherClient::~OtherClient()
{
    xcb_disconnect(connection_);
}

xcb_window_t OtherClient::presenterWindow()
{
    xcb_query_tree_reply_t* tree = xcb_query_tree_reply(connection_, xcb_query_tree(connection_, root_), nullptr);
    xcb_window_t found = XCB_NONE;
    if (!tree) return found;
    const xcb_window_t* children = xcb_query_tree_children(tree);
    for (int i = 0; i < xcb_query_tree_children_length(tree) && found == XCB_NONE; ++i) {
        xcb_get_property_reply_t* name = xcb_get_property_reply(
            connection_, xcb_get_property(connection_, 0, children[i], XCB_ATOM_WM_NAME, XCB_ATOM_STRING, 0, 64),
            nullptr);
        if (name && xcb_get_property_value_length(name) == 15 &&
            std::memcmp(xcb_get_property_value(name), "patch-presenter", 15) == 0) {
            found = children[i];
        }
        std::free(name);
    }
    std::free(tree);
    return found;
}

void OtherClient::unmap(xcb_window_t window)
{
    xcb_unmap_window(connection_, window);
    sync();
}

void OtherClient::moveTo(xcb_window_t window, int x, int y)
{
    const std::uint32_t values[] = {std::uint32_t(x), std::uint32_t(y)};
    xcb_configure_window(connection_, window, XCB_CONFIG_WINDOW_X | XCB_CONFIG_WINDOW_Y, values);
    sync();
}

void OtherClient::resize(xcb_window_t window, int width, int height)
{
    const std::uint32_t values[] = {std::uint32_t(width), std::uint32_t(height)};
    xcb_configure_window(connection_, window, XCB_CONFIG_WINDOW_WIDTH | XCB_CONFIG_WINDOW_HEIGHT, values);
    sync();
}

void OtherClient::destroy(xcb_window_t window)
{
    xcb_destroy_window(connection_, window);
    sync();
}

void OtherClient::reparentIntoNew(xcb_window_t window, int x, int y, int width, int height)
{
    const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(connection_)).data;
    const xcb_window_t parent = xcb_generate_id(connection_);
    const std::uint32_t values[] = {screen->white_pixel, 1};
    xcb_create_window(connection_, XCB_COPY_FROM_PARENT, parent, root_, std::int16_t(x), std::int16_t(y),
                      std::uint16_t(width), std::uint16_t(height), 0, XCB_WINDOW_CLASS_INPUT_OUTPUT,
                      XCB_COPY_FROM_PARENT, XCB_CW_BACK_PIXEL | XCB_CW_OVERRIDE_REDIRECT, values);
    xcb_map_window(connection_, parent);
    xcb_reparent_window(connection_, window, parent, 0, 0);
    sync();
}

void OtherClient::cover(int x, int y, int width, int height, std::uint32_t pixel)
{
    const xcb_window_t cover = xcb_generate_id(connection_);
    const std::uint32_t values[] = {pixel, 1};
    xcb_create_window(connection_, XCB_COPY_FROM_PARENT, cover, root_, std::int16_t(x), std::int16_t(y),
                      std::uint16_t(width), std::uint16_t(height), 0, XCB_WINDOW_CLASS_INPUT_OUTPUT,
                      XCB_COPY_FROM_PARENT, XCB_CW_BACK_PIXEL | XCB_CW_OVERRIDE_REDIRECT, values);
    xcb_map_window(connection_, cover);
    sync();
}

void OtherClient::sync()
{
    std::free(xcb_get_input_focus_reply(connection_, xcb_get_input_focus(connection_), nullptr));
}

}  // namespace pp::test
