#include "screenshot.hpp"

#include <png.h>

#include <cstdio>
#include <memory>

namespace pp::test {

bool Screenshot::uniform(int x, int y, int w, int h, const Rgb& colour) const
{
    for (int row = y; row < y + h; ++row) {
        for (int column = x; column < x + w; ++column) {
            if (!(at(column, row) == colour)) return false;
        }
    }
    return true;
}

namespace {

// The next header field of a PPM at `at`: whitespace and comments skipped; -1 when there is none.
long ppmField(const std::string& bytes, std::size_t& at)
{
    while (at < bytes.size()) {
        if (bytes[at] == '#') {
            while (at < bytes.size() && bytes[at] != '\n') ++at;
        } else if (bytes[at] == ' ' || bytes[at] == '\t' || bytes[at] == '\n' || bytes[at] == '\r') {
            ++at;
        } else {
            break;
        }
    }
    if (at >= bytes.size() || bytes[at] < '0' || bytes[at] > '9') return -1;
    long value = 0;
    while (at < bytes.size() && bytes[at] >= '0' && bytes[at] <= '9' && value < 1000000) {
        value = value * 10 + (bytes[at] - '0');
        ++at;
    }
    return value;
}

}  // namespace

std::optional<Screenshot> screenshotFromPpm(const std::string& bytes)
{
    if (bytes.compare(0, 2, "P6") != 0) return std::nullopt;
    std::size_t at = 2;
    const long width = ppmField(bytes, at);
    const long height = ppmField(bytes, at);
    const long maxval = ppmField(bytes, at);
    if (width <= 0 || height <= 0 || maxval != 255 || at >= bytes.size()) return std::nullopt;
    ++at;  // the single whitespace byte before the samples
    const std::size_t count = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
    if (bytes.size() - at != count * 3) return std::nullopt;
    Screenshot shot{static_cast<int>(width), static_cast<int>(height), {}};
    shot.pixels.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
        const auto* p = reinterpret_cast<const unsigned char*>(bytes.data() + at + i * 3);
        shot.pixels.push_back({p[0], p[1], p[2]});
    }
    return shot;
}

std::optional<Screenshot> screenshotFromPng(const std::string& path)
{
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&image, path.c_str())) return std::nullopt;
    // Linear or 16-bit files would be converted by libpng; only the exact 8-bit case is an answer.
    if ((image.format & PNG_FORMAT_FLAG_LINEAR) != 0 || (image.format & PNG_FORMAT_FLAG_COLOR) == 0) {
        png_image_free(&image);
        return std::nullopt;
    }
    image.format = PNG_FORMAT_RGB;
    std::vector<unsigned char> samples(PNG_IMAGE_SIZE(image));
    if (!png_image_finish_read(&image, nullptr, samples.data(), 0, nullptr)) {
        png_image_free(&image);
        return std::nullopt;
    }
    Screenshot shot{static_cast<int>(image.width), static_cast<int>(image.height), {}};
    shot.pixels.reserve(samples.size() / 3);
    for (std::size_t i = 0; i + 2 < samples.size(); i += 3) {
        shot.pixels.push_back({samples[i], samples[i + 1], samples[i + 2]});
    }
    return shot;
}

}  // namespace pp::test
