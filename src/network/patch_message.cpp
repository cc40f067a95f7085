#include "network/patch_message.hpp"

#include <expat.h>

#include <charconv>
#include <cmath>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "core/words.hpp"

namespace pp {
namespace {

using Attributes = std::map<std::string, std::string>;

// The elements of a message that carry values, by their path from the root.
struct Collected {
    std::vector<std::string> path;  // the open elements, root first
    bool rootSeen = false;
    bool wrongRoot = false;
    std::optional<Attributes> colour, background, geometry;
};

bool pathIs(const std::vector<std::string>& path, std::initializer_list<const char*> names)
{
    if (path.size() != names.size()) return false;
    std::size_t i = 0;
    for (const char* name : names) {
        if (path[i++] != name) return false;
    }
    return true;
}

void keep(std::optional<Attributes>& into, const XML_Char** attributes)
{
    if (into) return;  // the first of its kind counts
    Attributes read;
    for (int i = 0; attributes[i] && attributes[i + 1]; i += 2) read.emplace(attributes[i], attributes[i + 1]);
    into = std::move(read);
}

void XMLCALL startElement(void* data, const XML_Char* name, const XML_Char** attributes)
{
    auto& c = *static_cast<Collected*>(data);
    if (c.path.empty()) {
        c.rootSeen = true;
        if (std::string(name) != "calibration") c.wrongRoot = true;
    }
    c.path.emplace_back(name);
    const auto& p = c.path;
    if (pathIs(p, {"calibration", "color"}) || pathIs(p, {"calibration", "shapes", "rectangle", "color"})) {
        keep(c.colour, attributes);
    } else if (pathIs(p, {"calibration", "background"})) {
        keep(c.background, attributes);
    } else if (pathIs(p, {"calibration", "geometry"}) || pathIs(p, {"calibration", "shapes", "rectangle", "geometry"})) {
        keep(c.geometry, attributes);
    }
}

void XMLCALL endElement(void* data, const XML_Char*)
{
    static_cast<Collected*>(data)->path.pop_back();
}

// A whole number written in decimal digits alone (no sign, no blanks), or none.
std::optional<std::uint32_t> wholeNumber(const std::string& text)
{
    std::uint32_t value = 0;
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value);
    if (text.empty() || error != std::errc() || stop != end) return std::nullopt;
    return value;
}

std::optional<std::string> attribute(const Attributes& attributes, const char* name)
{
    const auto found = attributes.find(name);
    if (found == attributes.end()) return std::nullopt;
    return found->second;
}

// The element's colour on the 0 to 255 scale, its samples of `bits` bits (8 when it gives none).
std::optional<std::array<double, 3>> colourOf(const Attributes& attributes)
{
    int bits = 8;
    if (auto word = attribute(attributes, "bits")) {
        const auto value = wholeNumber(*word);
        if (!value || *value < MIN_SAMPLE_BITS || *value > MAX_SAMPLE_BITS) return std::nullopt;
        bits = static_cast<int>(*value);
    }
    const std::uint32_t largest = (1u << bits) - 1;
    std::array<double, 3> colour{};
    const char* names[] = {"red", "green", "blue"};
    for (int i = 0; i < 3; ++i) {
        const auto word = attribute(attributes, names[i]);
        const auto value = word ? wholeNumber(*word) : std::nullopt;
        if (!value || *value > largest) return std::nullopt;
        colour[i] = sampleLevel(*value, bits);
    }
    return colour;
}

// A fraction of the screen from 0 to 1, read in the "C" locale.
std::optional<double> fractionOf(const Attributes& attributes, const char* name)
{
    const auto word = attribute(attributes, name);
    const auto value = word ? numberWord(*word) : std::nullopt;
    if (!value || !(*value >= 0 && *value <= 1)) return std::nullopt;
    return value;
}

}  // namespace

double sampleLevel(std::uint32_t value, int bits)
{
    return static_cast<double>(value) * 255.0 / static_cast<double>((std::uint64_t{1} << bits) - 1);
}

std::optional<Picture> pictureFromMessage(std::string_view xml)
{
    const std::unique_ptr<std::remove_pointer_t<XML_Parser>, decltype(&XML_ParserFree)> parser(
        XML_ParserCreate(nullptr), &XML_ParserFree);
    if (!parser || xml.size() > static_cast<std::size_t>(INT32_MAX)) return std::nullopt;
    Collected collected;
    XML_SetUserData(parser.get(), &collected);
    XML_SetElementHandler(parser.get(), startElement, endElement);
    if (XML_Parse(parser.get(), xml.data(), static_cast<int>(xml.size()), XML_TRUE) != XML_STATUS_OK) {
        return std::nullopt;
    }
    if (!collected.rootSeen || collected.wrongRoot || !collected.colour || !collected.geometry) return std::nullopt;

    Picture picture;
    const auto rgb = colourOf(*collected.colour);
    if (!rgb) return std::nullopt;
    picture.rgb = *rgb;
    if (collected.background) {
        const auto surround = colourOf(*collected.background);
        if (!surround) return std::nullopt;
        picture.surround = *surround;
    }
    const auto x = fractionOf(*collected.geometry, "x");
    const auto y = fractionOf(*collected.geometry, "y");
    const auto cx = fractionOf(*collected.geometry, "cx");
    const auto cy = fractionOf(*collected.geometry, "cy");
    if (!x || !y || !cx || !cy) return std::nullopt;
    picture.left = *x;
    picture.top = *y;
    picture.width = *cx;
    picture.height = *cy;
    return picture;
}

}  // namespace pp
