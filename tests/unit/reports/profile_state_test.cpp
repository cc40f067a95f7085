#include "reports/profile_state.hpp"

#include <gtest/gtest.h>

#include <limits>

#include "platform/headless/headless_colour.hpp"

namespace pp {
namespace {

using headless::HeadlessColourManagement;
using headless::profileRecord;

RecordValue url(const std::string& path) { return RecordValue{FileUrl{path}}; }
RecordValue text(const std::string& t) { return RecordValue{t}; }
RecordValue number(double n) { return RecordValue{n}; }
RecordValue null() { return RecordValue{NullMarker{}}; }
RecordValue map(RecordMap entries) { return RecordValue{std::move(entries)}; }

// A factory profile record with the given URL entry.
RecordValue factoryProfile(RecordValue urlEntry)
{
    return map({{std::string(DEVICE_PROFILE_URL_KEY), std::move(urlEntry)}});
}

Screen screenNumber(std::uint32_t number)
{
    Screen screen;
    screen.number = number;
    screen.outputName = "DP-1";
    return screen;
}

// The profile-state text for a device whose record is `record`.
std::string stateText(const RecordValue& record, std::uint32_t number = 2)
{
    HeadlessColourManagement colour;
    colour.devices["DP-1"] = "dev";
    colour.records["dev"] = record;
    return jsonText(profileState(colour, screenNumber(number)));
}

struct StateCase {
    const char* what;
    RecordValue record;
    const char* text;
};

class ProfileStateCase : public ::testing::TestWithParam<StateCase> {};

TEST_P(ProfileStateCase, ConvertsTheRecordByItsRules)
{
    EXPECT_EQ(stateText(GetParam().record), GetParam().text) << GetParam().what;
}

INSTANTIATE_TEST_SUITE_P(
    Records, ProfileStateCase,
    ::testing::Values(
        StateCase{"worked example",
                  profileRecord({{std::string("1"), url("/Users/me/Profiles/measured.icc")}},
                                {{std::string("1"), factoryProfile(url("/Library/Profiles/panel.icc"))},
                                 {std::string("2"), map({})}}),
                  R"({"display_id":2,"custom":{"1":"\/Users\/me\/Profiles\/measured.icc"},)"
                  R"("factory":{"1":"\/Library\/Profiles\/panel.icc","2":""}})"},
        StateCase{"a cleared custom profile is the null marker's text",
                  profileRecord({{std::string("1"), null()}}, {}),
                  R"({"display_id":2,"custom":{"1":"<null>"},"factory":{}})"},
        StateCase{"plain custom values are their description texts",
                  profileRecord({{std::string("t"), text("abc")},
                                 {std::string("n"), number(3)},
                                 {std::string("f"), number(2.5)},
                                 {std::string("big"), number(1e300)},
                                 {std::string("neg"), number(-7)},
                                 {std::string("e"), text("")}},
                                {}),
                  R"({"display_id":2,"custom":{"t":"abc","n":"3","f":"2.5","big":"1e+300","neg":"-7","e":""},)"
                  R"("factory":{}})"},
        StateCase{"a map in the custom map is described, not followed",
                  profileRecord({{std::string("1"), factoryProfile(url("/a b.icc"))}}, {}),
                  R"({"display_id":2,"custom":{"1":"{DeviceProfileURL = file:\/\/\/a%20b.icc;}"},"factory":{}})"},
        StateCase{"an empty custom map is an empty object",
                  profileRecord({}, {{std::string("1"), factoryProfile(url("/p.icc"))}}),
                  R"({"display_id":2,"custom":{},"factory":{"1":"\/p.icc"}})"},
        StateCase{"a custom entry that is not a map is left out",
                  map({{std::string(CUSTOM_PROFILES_KEY), url("/c.icc")},
                       {std::string(FACTORY_PROFILES_KEY), map({{std::string("1"), factoryProfile(url("/f.icc"))}})}}),
                  R"({"display_id":2,"factory":{"1":"\/f.icc"}})"},
        StateCase{"a custom map with a non-text key is left out",
                  profileRecord({{std::string("1"), url("/c.icc")}, {2.0, url("/d.icc")}},
                                {{std::string("1"), factoryProfile(url("/f.icc"))}}),
                  R"({"display_id":2,"factory":{"1":"\/f.icc"}})"},
        StateCase{"a factory map with a non-text key is left out",
                  profileRecord({{std::string("1"), url("/c.icc")}}, {{1.0, factoryProfile(url("/f.icc"))}}),
                  R"({"display_id":2,"custom":{"1":"\/c.icc"}})"},
        StateCase{"plain factory values are their description texts",
                  profileRecord({}, {{std::string("t"), text("Panel A")},
                                     {std::string("n"), number(4)},
                                     {std::string("z"), null()},
                                     {std::string("u"), url("/f.icc")}}),
                  R"({"display_id":2,"custom":{},"factory":{"t":"Panel A","n":"4","z":"<null>","u":"file:\/\/\/f.icc"}})"},
        StateCase{"a factory record without a URL entry is the empty text",
                  profileRecord({}, {{std::string("1"), map({{std::string("other"), url("/f.icc")}})}}),
                  R"({"display_id":2,"custom":{},"factory":{"1":""}})"},
        StateCase{"a factory map with a non-text key inside is a plain value",
                  profileRecord({}, {{std::string("1"), map({{5.0, url("/f.icc")}})}}),
                  R"({"display_id":2,"custom":{},"factory":{"1":"{5 = file:\/\/\/f.icc;}"}})"},
        StateCase{"a record with neither map holds the display id alone",
                  map({{std::string("Other"), text("x")}}), R"({"display_id":2})"},
        StateCase{"a record with a non-text key is no usable record",
                  map({{std::string(CUSTOM_PROFILES_KEY), map({})}, {1.0, text("x")}}),
                  R"({"display_id":2,"error":"no ColorSync device"})"},
        StateCase{"a record that is not a map is no usable record", text("record"),
                  R"({"display_id":2,"error":"no ColorSync device"})"},
        StateCase{"a null record is no usable record", null(), R"({"display_id":2,"error":"no ColorSync device"})"}));

// The factory rule and the custom rule differ on a value that is not a URL.
TEST(ProfileState, ANonUrlIsEmptyInAFactoryRecordButDescribedInTheCustomMap)
{
    for (const RecordValue& notUrl : {text("/Library/Profiles/panel.icc"), number(1), null()}) {
        const std::string described = descriptionText(notUrl);
        const auto record = profileRecord({{std::string("1"), notUrl}}, {{std::string("1"), factoryProfile(notUrl)}});
        EXPECT_EQ(stateText(record), R"({"display_id":2,"custom":{"1":)" + jsonText(JsonObject(described)) +
                                         R"(},"factory":{"1":""}})");
        EXPECT_EQ(customProfileText(notUrl), described);
        EXPECT_EQ(factoryProfileText(factoryProfile(notUrl)), "");
    }
    EXPECT_EQ(customProfileText(text("/a.icc")), "/a.icc");
}

TEST(ProfileState, DescriptionTexts)
{
    EXPECT_EQ(descriptionText(null()), "<null>");
    EXPECT_EQ(descriptionText(number(0)), "0");
    EXPECT_EQ(descriptionText(number(-0.0)), "0");
    EXPECT_EQ(descriptionText(number(0.1)), "0.1");
    EXPECT_EQ(descriptionText(number(4294967295.0)), "4294967295");
    EXPECT_EQ(descriptionText(number(std::numeric_limits<double>::quiet_NaN())), "nan");
    EXPECT_EQ(descriptionText(number(-std::numeric_limits<double>::infinity())), "-inf");
    EXPECT_EQ(descriptionText(url("/x/é%.icc")), "file:///x/%C3%A9%25.icc");
    EXPECT_EQ(descriptionText(map({})), "{}");
    EXPECT_EQ(descriptionText(map({{std::string("a"), number(1)}, {2.5, text("b")}})), "{a = 1; 2.5 = b;}");
}

// The road prints the state on one line with status 0 whatever it holds: without a device, or with a
// device without a record, the two-member error object.
TEST(ProfileState, TheRoadPrintsOneLineWithStatusZeroWhateverTheStateHolds)
{
    HeadlessColourManagement colour;  // knows no device at all
    EXPECT_EQ(profileStateRoad(colour, screenNumber(7)),
              (RoadOutcome{R"({"display_id":7,"error":"no ColorSync device"})", 0}));
    colour.devices["DP-1"] = "dev";  // a device without a record
    EXPECT_EQ(profileStateRoad(colour, screenNumber(4294967295u)),
              (RoadOutcome{R"({"display_id":4294967295,"error":"no ColorSync device"})", 0}));
    colour.records["dev"] = profileRecord({{std::string("1"), url("/m.icc")}}, {});
    EXPECT_EQ(profileStateRoad(colour, screenNumber(3)),
              (RoadOutcome{R"({"display_id":3,"custom":{"1":"\/m.icc"},"factory":{}})", 0}));
    EXPECT_TRUE(colour.assignments.empty());
}

}  // namespace
}  // namespace pp
