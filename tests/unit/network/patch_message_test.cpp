#include "network/patch_message.hpp"

#include <gtest/gtest.h>

#include <clocale>
#include <string>

namespace pp {
namespace {

std::string formA(const std::string& colour, const std::string& geometry)
{
    return R"(<?xml version="1.0" encoding="UTF-8" ?><calibration><shapes><rectangle><color )" + colour +
           R"( /><geometry )" + geometry + R"( /></rectangle></shapes></calibration>)";
}

std::string formB(const std::string& colour, const std::string& background, const std::string& geometry)
{
    return R"(<?xml version="1.0" encoding="utf-8"?><calibration><color )" + colour + R"(/><background )" +
           background + R"(/><geometry )" + geometry + R"(/></calibration>)";
}

const std::string GEOMETRY = R"(x="0.25" y="0.1" cx="0.5" cy="0.3")";

TEST(SampleLevel, ScalesTheLargestValueOfEveryDepthTo255)
{
    struct Case {
        std::uint32_t value;
        int bits;
        double level;
    };
    for (const Case c : {Case{0, 8, 0}, Case{255, 8, 255}, Case{128, 8, 128}, Case{1023, 10, 255},
                         Case{512, 10, 512 * 255.0 / 1023}, Case{1, 10, 255.0 / 1023}, Case{1, 1, 255},
                         Case{65535, 16, 255}, Case{2, 2, 170}}) {
        EXPECT_DOUBLE_EQ(sampleLevel(c.value, c.bits), c.level) << c.value << " at " << c.bits << " bits";
    }
}

TEST(PictureFromMessage, ReadsFormAOnBlackAndFormBWithEachColourAtItsOwnDepth)
{
    const std::string whole = R"(x="0" y="0" cx="1" cy="1")";
    struct Case {
        const char* what;
        std::string xml;
        std::array<double, 3> rgb, surround;
        std::array<double, 4> box;  // left, top, width, height
    };
    const Case cases[] = {
        {"form A: 8 bits", formA(R"(red="200" green="100" blue="50")", GEOMETRY), {200, 100, 50}, {0, 0, 0}, {0.25, 0.1, 0.5, 0.3}},
        {"form B: 8 bits",
         formB(R"(red="255" green="128" blue="0" bits="8")", R"(red="10" green="20" blue="30" bits="8")", whole),
         {255, 128, 0}, {10, 20, 30}, {0, 0, 1, 1}},
        {"form B: 10 bits",
         formB(R"(red="1023" green="512" blue="1" bits="10")", R"(red="0" green="4" blue="1023" bits="10")", whole),
         {255, 512 * 255.0 / 1023, 255.0 / 1023}, {0, 4 * 255.0 / 1023, 255}, {0, 0, 1, 1}},
        {"form B: 10 and 8 bits",
         formB(R"(red="1023" green="0" blue="0" bits="10")", R"(red="128" green="0" blue="0" bits="8")", whole),
         {255, 0, 0}, {128, 0, 0}, {0, 0, 1, 1}},
        {"form B: 8 without bits", formB(R"(red="7" green="8" blue="9")", R"(red="1" green="2" blue="3")", whole),
         {7, 8, 9}, {1, 2, 3}, {0, 0, 1, 1}},
        {"the first of repeated elements, others ignored",
         R"(<calibration><note text="hi"/><color red="1" green="2" blue="3"/>)"
         R"(<color red="9" green="9" blue="9"/><geometry x="0.5" y="0.5" cx="0.1" cy="0.1"/></calibration>)",
         {1, 2, 3}, {0, 0, 0}, {0.5, 0.5, 0.1, 0.1}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const auto picture = pictureFromMessage(c.xml);
        ASSERT_TRUE(picture);
        EXPECT_EQ(picture->rgb, c.rgb);
        EXPECT_EQ(picture->surround, c.surround);
        EXPECT_EQ((std::array{picture->left, picture->top, picture->width, picture->height}), c.box);
    }
}

TEST(PictureFromMessage, RefusesWhatCannotBeUsed)
{
    const std::string good = R"(red="1" green="2" blue="3" bits="10")";
    const std::string background = R"(red="0" green="0" blue="0" bits="10")";
    struct Case {
        const char* why;
        std::string xml;
    };
    const Case cases[] = {
        {"bits 0", formB(R"(red="1" green="2" blue="3" bits="0")", background, GEOMETRY)},
        {"bits 40", formB(R"(red="1" green="2" blue="3" bits="40")", background, GEOMETRY)},
        {"background bits 40", formB(good, R"(red="0" green="0" blue="0" bits="40")", GEOMETRY)},
        {"bits not a number", formB(R"(red="1" green="2" blue="3" bits="ten")", background, GEOMETRY)},
        {"1024 at 10 bits", formB(R"(red="1024" green="2" blue="3" bits="10")", background, GEOMETRY)},
        {"256 at 8 bits", formA(R"(red="256" green="2" blue="3")", GEOMETRY)},
        {"background above its max", formB(good, R"(red="0" green="1024" blue="0" bits="10")", GEOMETRY)},
        {"negative colour", formA(R"(red="-1" green="2" blue="3")", GEOMETRY)},
        {"fractional colour", formA(R"(red="1.5" green="2" blue="3")", GEOMETRY)},
        {"blank in colour", formA(R"(red=" 1" green="2" blue="3")", GEOMETRY)},
        {"huge colour", formA(R"(red="99999999999999999999" green="2" blue="3")", GEOMETRY)},
        {"no blue", formA(R"(red="1" green="2")", GEOMETRY)},
        {"no color element", R"(<calibration><geometry x="0" y="0" cx="1" cy="1"/></calibration>)"},
        {"no geometry element", R"(<calibration><color red="1" green="2" blue="3"/></calibration>)"},
        {"geometry without cy", formA(R"(red="1" green="2" blue="3")", R"(x="0" y="0" cx="1")")},
        {"geometry not a number", formA(R"(red="1" green="2" blue="3")", R"(x="left" y="0" cx="1" cy="1")")},
        {"geometry above 1", formA(R"(red="1" green="2" blue="3")", R"(x="0" y="0" cx="1.5" cy="1")")},
        {"geometry below 0", formA(R"(red="1" green="2" blue="3")", R"(x="-0.1" y="0" cx="1" cy="1")")},
        {"geometry nan", formA(R"(red="1" green="2" blue="3")", R"(x="nan" y="0" cx="1" cy="1")")},
        {"other root", R"(<patch><color red="1" green="2" blue="3"/><geometry x="0" y="0" cx="1" cy="1"/></patch>)"},
        {"colour nested elsewhere", R"(<calibration><shapes><color red="1" green="2" blue="3"/></shapes>)"
                                    R"(<geometry x="0" y="0" cx="1" cy="1"/></calibration>)"},
        {"unclosed element", R"(<calibration><color red="1" green="2" blue="3"/><geometry x="0" y="0" cx="1" cy="1"/>)"},
        {"mismatched tags", R"(<calibration><color red="1" green="2" blue="3"></geometry></calibration>)"},
        {"not xml", "hello"},
        {"empty", ""},
        {"two roots", formA(R"(red="1" green="2" blue="3")", GEOMETRY) + "<calibration/>"},
        {"invalid UTF-8", "<calibration>\xff\xfe<color red=\"1\" green=\"2\" blue=\"3\"/>"
                          "<geometry x=\"0\" y=\"0\" cx=\"1\" cy=\"1\"/></calibration>"},
        {"undefined entity", R"(<calibration><color red="&x;" green="2" blue="3"/><geometry x="0" y="0" cx="1" cy="1"/></calibration>)"},
    };
    for (const auto& c : cases) EXPECT_FALSE(pictureFromMessage(c.xml)) << c.why << ": " << c.xml;
}

TEST(PictureFromMessage, ReadsGeometryInTheCLocaleWhateverTheProcessLocale)
{
    const char* before = std::setlocale(LC_NUMERIC, nullptr);
    const std::string saved = before ? before : "C";
    if (!std::setlocale(LC_NUMERIC, "de_DE.UTF-8")) GTEST_SKIP() << "no de_DE.UTF-8 locale";
    const auto picture = pictureFromMessage(formA(R"(red="1" green="2" blue="3")", GEOMETRY));
    std::setlocale(LC_NUMERIC, saved.c_str());
    ASSERT_TRUE(picture);
    EXPECT_DOUBLE_EQ(picture->left, 0.25);
}

}  // namespace
}  // namespace pp
