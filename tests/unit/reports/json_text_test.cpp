#include "reports/json_text.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace pp {
namespace {

struct JsonCase {
    const char* what;
    JsonObject value;
    const char* text;
};

class JsonTextCase : public ::testing::TestWithParam<JsonCase> {};

TEST_P(JsonTextCase, WritesCompactTextInInsertionOrder)
{
    EXPECT_EQ(jsonText(GetParam().value), GetParam().text) << GetParam().what;
}

JsonObject ordered()
{
    JsonObject o;
    o["platform"] = "linux";
    o["display_id"] = 4294967295u;
    o["a"] = JsonObject::array({1.0, 0.5, -2});
    return o;
}

INSTANTIATE_TEST_SUITE_P(
    Values, JsonTextCase,
    ::testing::Values(
        JsonCase{"order kept", ordered(), R"({"platform":"linux","display_id":4294967295,"a":[1,0.5,-2]})"},
        JsonCase{"solidus escaped", JsonObject{{"p", "/usr/share/a.icc"}}, R"({"p":"\/usr\/share\/a.icc"})"},
        JsonCase{"escapes", JsonObject{{"t", "a\"b\\c\n\x01"}}, R"({"t":"a\"b\\c\n\u0001"})"},
        JsonCase{"shortest round trip", JsonObject::array({0.1, 1.0 / 3, 0.33333, 1e300, 65.0, -0.0}),
                 "[0.1,0.3333333333333333,0.33333,1e+300,65,0]"},
        JsonCase{"empty containers", JsonObject{{"c", JsonObject::object()}, {"g", JsonObject::array()}},
                 R"({"c":{},"g":[]})"},
        JsonCase{"unicode kept", JsonObject{{"n", "Écran \xEF\xBF\xBD"}}, "{\"n\":\"Écran \xEF\xBF\xBD\"}"}));

TEST(JsonText, RefusesWhatJsonCannotHold)
{
    EXPECT_EQ(jsonText(JsonObject::array({std::nan("")})), "");
    EXPECT_EQ(jsonText(JsonObject{{"x", std::numeric_limits<double>::infinity()}}), "");
    EXPECT_EQ(jsonText(JsonObject{{"x", nullptr}}), "");
}

}  // namespace
}  // namespace pp
