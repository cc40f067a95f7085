// The one-shot roads of the real binary (--profile-state, --assign) against a private colord.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <nlohmann/json.hpp>

#include "child_process.hpp"
#include "colour_test_profiles.hpp"
#include "platform/x11/x11_displays.hpp"
#include "private_colord.hpp"
#include "x_server.hpp"

namespace pp::test {
namespace {

namespace fs = std::filesystem;
using Json = nlohmann::json;

const std::string REFUSED = "error ColorSyncDeviceSetCustomProfiles refused\n";
// Far above what any answer takes (colord's calls give up after seconds): only a hang reaches it.
constexpr auto RUN_LIMIT = std::chrono::seconds(60);

class ColourRoads : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        server = XServer::startXvfb({.width = 640, .height = 480}).release();
        xcb_connection_t* c = x11::connectToServer(server->display().c_str());
        ASSERT_TRUE(c);
        x11::X11Displays displays(c);
        const auto screens = displays.screens();
        ASSERT_EQ(screens.size(), 1u);
        outputId = screens[0].number;
        ASSERT_EQ(screens[0].outputName, "screen");
        xcb_disconnect(c);
    }
    static void TearDownTestSuite() { delete server; }

    void SetUp() override
    {
        ASSERT_TRUE(fs::exists(ADOBE_SAMPLE)) << "colord-data is not installed";
        colord = PrivateColord::start();
        // A desktop makes the device and adds the profile it made from EDID as a soft one.
        device = colord->createDisplayDevice("screen");
        colord->addProfile(device, headerProfileId(BLUISH_SAMPLE), "soft");
    }

    std::map<std::string, std::string> env() const
    {
        auto e = colord->environment();
        e["DISPLAY"] = server->display();
        return e;
    }

    RunResult run(const std::vector<std::string>& args) const
    {
        auto result = runToEnd(args, env(), RUN_LIMIT);
        EXPECT_EQ(result.errors, "") << "standard error must stay empty";
        return result;
    }

    // The profile state, read back through the binary.
    Json state() const
    {
        const auto result = run({"--profile-state"});
        EXPECT_EQ(result.status, 0);
        EXPECT_EQ(std::count(result.output.begin(), result.output.end(), '\n'), 1) << result.output;
        return Json::parse(result.output, nullptr, false);
    }

    Json expectedState(const Json& custom) const
    {
        return Json{{"display_id", outputId},
                    {"custom", custom},
                    {"factory", {{headerProfileId(BLUISH_SAMPLE), BLUISH_SAMPLE}}}};
    }

    static XServer* server;
    static std::uint32_t outputId;
    std::unique_ptr<PrivateColord> colord;
    std::string device;
};

XServer* ColourRoads::server = nullptr;
std::uint32_t ColourRoads::outputId = 0;

TEST_F(ColourRoads, TheFactoryProfileIsListedBeforeAnyAssignment)
{
    const auto result = run({"--profile-state"});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.output, R"({"display_id":)" + std::to_string(outputId) + R"(,"custom":{},"factory":{")" +
                                 headerProfileId(BLUISH_SAMPLE) +
                                 R"(":"\/usr\/share\/color\/icc\/colord\/Bluish.icc"}})" + "\n");
}

TEST_F(ColourRoads, AnAssignedSampleIsTheCustomProfileAndColordsDefault)
{
    const auto result = run({"--assign", ADOBE_SAMPLE});
    EXPECT_EQ(result.output, "assigned\n");
    EXPECT_EQ(result.status, 0);
    const std::string id = headerProfileId(ADOBE_SAMPLE);
    // colord knew the sample from its own folder; it is registered again from the user's store,
    // where a desktop finds it again at its next start.
    const std::string kept = colord->userStore() + "/AdobeRGB1998.icc";
    EXPECT_EQ(state(), expectedState({{id, kept}}));
    EXPECT_EQ(colord->deviceProfiles(device), (std::vector<std::string>{id, headerProfileId(BLUISH_SAMPLE)}));
    EXPECT_EQ(fileBytes(kept), fileBytes(ADOBE_SAMPLE));
}

TEST_F(ColourRoads, AssigningTheFactoryProfileMakesItTheCustomOne)
{
    EXPECT_EQ(run({"--assign", BLUISH_SAMPLE}).output, "assigned\n");
    const std::string id = headerProfileId(BLUISH_SAMPLE);
    const std::string kept = colord->userStore() + "/Bluish.icc";
    EXPECT_EQ(state(), (Json{{"display_id", outputId}, {"custom", {{id, kept}}}, {"factory", Json::object()}}));
    EXPECT_EQ(colord->deviceProfiles(device), std::vector<std::string>{id});
    EXPECT_EQ(run({"--assign", BLUISH_SAMPLE}).output, "assigned\n");  // already the custom one
    EXPECT_EQ(colord->deviceProfiles(device), std::vector<std::string>{id});
}

TEST_F(ColourRoads, TheAssignmentSurvivesARestartOfColord)
{
    ASSERT_EQ(run({"--assign", ADOBE_SAMPLE}).output, "assigned\n");
    colord->restartColord();
    colord->createDisplayDevice("screen");  // the desktop makes its device again
    const std::string id = headerProfileId(ADOBE_SAMPLE);
    EXPECT_EQ(state(), (Json{{"display_id", outputId}, {"custom", {{id, ADOBE_SAMPLE}}}, {"factory", Json::object()}}));
    EXPECT_EQ(colord->deviceProfiles(device), std::vector<std::string>{id});
}

TEST_F(ColourRoads, AnOwnProfileGivenRelativeIsKeptInTheUserStoreAndComesBackFromThere)
{
    fs::create_directories(colord->folder() + "/measure");
    const std::string original = colord->folder() + "/measure/panel.icc";
    writeOwnProfile(original, "Measured panel " + std::to_string(getpid()));
    const std::string id = headerProfileId(original);
    const std::string relative = fs::relative(original, fs::current_path()).string();
    ASSERT_FALSE(fs::path(relative).is_absolute());

    const auto result = run({"--assign", relative});
    EXPECT_EQ(result.output, "assigned\n");
    EXPECT_EQ(result.status, 0);
    const std::string kept = colord->userStore() + "/panel.icc";
    EXPECT_EQ(fileBytes(kept), fileBytes(original));
    EXPECT_EQ(state(), expectedState({{id, kept}}));
    EXPECT_EQ(colord->deviceProfiles(device).front(), id);

    // After a restart the desktop makes the store's profiles known again; the original may be gone.
    fs::remove(original);
    colord->restartColord();
    colord->createDisplayDevice("screen");
    colord->createProfile(id, kept);
    EXPECT_EQ(state(), (Json{{"display_id", outputId}, {"custom", {{id, kept}}}, {"factory", Json::object()}}));
    EXPECT_EQ(colord->deviceProfiles(device), std::vector<std::string>{id});
}

TEST_F(ColourRoads, ADifferentFileInTheUserStoreIsNeverOverwritten)
{
    fs::create_directories(colord->userStore());
    const std::string theirs = colord->userStore() + "/panel.icc";
    writeOwnProfile(theirs, "Someone else's panel");
    const auto theirBytes = fileBytes(theirs);
    const std::string mine = colord->folder() + "/panel.icc";
    writeOwnProfile(mine, "My panel " + std::to_string(getpid()));

    EXPECT_EQ(run({"--assign", mine}).output, "assigned\n");
    EXPECT_EQ(fileBytes(theirs), theirBytes);
    const std::string kept = colord->userStore() + "/panel-2.icc";
    EXPECT_EQ(fileBytes(kept), fileBytes(mine));
    EXPECT_EQ(state(), expectedState({{headerProfileId(mine), kept}}));
}

TEST_F(ColourRoads, NoneRemovesTheCustomProfilesAndTheFactoryProfileIsTheDefaultAgain)
{
    const std::string own = colord->folder() + "/own.icc";
    writeOwnProfile(own, "Own " + std::to_string(getpid()));
    ASSERT_EQ(run({"--assign", ADOBE_SAMPLE}).output, "assigned\n");
    ASSERT_EQ(run({"--assign", own}).output, "assigned\n");
    EXPECT_EQ(colord->deviceProfiles(device).front(), headerProfileId(own));

    const auto result = run({"--assign", "none"});
    EXPECT_EQ(result.output, "assigned\n");
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(state(), expectedState(Json::object()));
    EXPECT_EQ(colord->deviceProfiles(device), std::vector<std::string>{headerProfileId(BLUISH_SAMPLE)});

    // Cleared for good: a restart does not bring the profiles back.
    colord->restartColord();
    colord->createDisplayDevice("screen");
    EXPECT_EQ(state(), (Json{{"display_id", outputId}, {"custom", Json::object()}, {"factory", Json::object()}}));
}

TEST_F(ColourRoads, AStoreThatCannotBeWrittenIsARefusalAndChangesNothing)
{
    const std::string own = colord->folder() + "/own.icc";
    writeOwnProfile(own, "Own " + std::to_string(getpid()));
    // A file where the store's folder belongs: nothing can be kept there, whoever runs the test.
    fs::create_directories(fs::path(colord->userStore()).parent_path());
    writeBytes(colord->userStore(), {'x'});
    for (const std::string& value : {own, ADOBE_SAMPLE}) {
        const auto result = run({"--assign", value});
        EXPECT_EQ(result.output, REFUSED) << value;
        EXPECT_EQ(result.status, 1) << value;
    }
    EXPECT_EQ(state(), expectedState(Json::object()));
    EXPECT_EQ(colord->deviceProfiles(device), std::vector<std::string>{headerProfileId(BLUISH_SAMPLE)});
}

TEST_F(ColourRoads, AProfileColordKnowsUnderAnotherFileIsRegisteredAgainFromTheStoreCopy)
{
    const std::string own = colord->folder() + "/panel.icc";
    writeOwnProfile(own, "Panel " + std::to_string(getpid()));
    const std::string id = headerProfileId(own);
    const std::string elsewhere = colord->folder() + "/elsewhere.icc";
    fs::copy_file(own, elsewhere);
    colord->createProfile(id, elsewhere);

    const auto result = run({"--assign", own});
    EXPECT_EQ(result.output, "assigned\n");
    EXPECT_EQ(result.status, 0);
    const std::string kept = colord->userStore() + "/panel.icc";
    EXPECT_EQ(state(), expectedState({{id, kept}}));
    EXPECT_EQ(colord->deviceProfiles(device).front(), id);
    // The other file going away leaves the default profile pointing at a file that is there.
    fs::remove(elsewhere);
    EXPECT_EQ(state(), expectedState({{id, kept}}));
    EXPECT_EQ(fileBytes(kept), fileBytes(own));
}

TEST_F(ColourRoads, EightSimultaneousAssignmentsOfOneNewProfileAreAllAssigned)
{
    const std::string own = colord->folder() + "/panel.icc";
    writeOwnProfile(own, "Shared panel " + std::to_string(getpid()));
    auto e = env();
    std::vector<std::unique_ptr<ChildProcess>> runs;
    for (int i = 0; i < 8; ++i) runs.push_back(std::make_unique<ChildProcess>(std::vector<std::string>{presenterPath(), "--assign", own}, e));
    for (auto& child : runs) {
        EXPECT_EQ(child->readRest(60s), "assigned\n");
        EXPECT_EQ(child->wait(60s), 0);
        EXPECT_EQ(child->errorOutput(), "");
    }
    const std::string kept = colord->userStore() + "/panel.icc";
    EXPECT_EQ(state(), expectedState({{headerProfileId(own), kept}}));
    std::size_t files = 0;
    for ([[maybe_unused]] const auto& entry : fs::directory_iterator(colord->userStore())) ++files;
    EXPECT_EQ(files, 1u) << "one copy in the store, and nothing half made";
}

TEST_F(ColourRoads, MissingOrCorruptFilesAreRefusedAndChangeNothing)
{
    const std::string dir = colord->folder() + "/bad";
    fs::create_directories(dir);
    const auto sample = fileBytes(SRGB_SAMPLE);
    writeBytes(dir + "/garbage.icc", std::vector<std::uint8_t>(5000, 'x'));
    writeBytes(dir + "/cut.icc", std::vector<std::uint8_t>(sample.begin(), sample.begin() + sample.size() / 3));
    for (const std::string& value : {dir + "/missing.icc", dir + "/garbage.icc", dir + "/cut.icc", dir, std::string()}) {
        const auto result = run({"--assign", value});
        EXPECT_EQ(result.output, REFUSED) << value;
        EXPECT_EQ(result.status, 1) << value;
    }
    EXPECT_EQ(state(), expectedState(Json::object()));
    EXPECT_EQ(colord->deviceProfiles(device), std::vector<std::string>{headerProfileId(BLUISH_SAMPLE)});
    EXPECT_FALSE(fs::exists(colord->userStore() + "/garbage.icc"));
}

TEST_F(ColourRoads, ProfileStateWinsOverAssignAndNothingIsAssigned)
{
    const std::vector<std::vector<std::string>> lines = {{"--profile-state", "--assign", "x.icc"},
                                                         {"--profile-state", "--assign", ADOBE_SAMPLE},
                                                         {"--assign", ADOBE_SAMPLE, "--profile-state"}};
    for (const auto& args : lines) {
        const auto result = run(args);
        EXPECT_EQ(result.status, 0);
        ASSERT_EQ(std::count(result.output.begin(), result.output.end(), '\n'), 1) << result.output;
        EXPECT_EQ(Json::parse(result.output, nullptr, false), expectedState(Json::object())) << result.output;
    }
    EXPECT_EQ(colord->deviceProfiles(device), std::vector<std::string>{headerProfileId(BLUISH_SAMPLE)});
    EXPECT_FALSE(fs::exists(colord->userStore()));
}

// Without a device for the output, colord, or a bus, the state is the error object and the
// assignment is refused; neither waits for long.
class ColourRoadsWithoutDevice : public ColourRoads {
protected:
    void SetUp() override {}

    void expectNoDevice(const std::map<std::string, std::string>& environment) const
    {
        auto e = environment;
        e["DISPLAY"] = server->display();
        const auto state = runToEnd({"--profile-state"}, e, RUN_LIMIT);
        EXPECT_EQ(state.output, R"({"display_id":)" + std::to_string(outputId) + R"(,"error":"no ColorSync device"})" "\n");
        EXPECT_EQ(state.status, 0);
        EXPECT_EQ(state.errors, "");
        for (const std::string& value : {ADOBE_SAMPLE, std::string("none")}) {
            const auto assigned = runToEnd({"--assign", value}, e, RUN_LIMIT);
            EXPECT_EQ(assigned.output, REFUSED);
            EXPECT_EQ(assigned.status, 1);
            EXPECT_EQ(assigned.errors, "");
        }
    }
};

TEST_F(ColourRoadsWithoutDevice, ColordKnowsNoDeviceForTheOutput)
{
    auto c = PrivateColord::start();
    c->createDisplayDevice("DP-1");  // another output's device does not count
    expectNoDevice(c->environment());
    EXPECT_FALSE(fs::exists(c->userStore()));
}

TEST_F(ColourRoadsWithoutDevice, NoColordOnTheBus)
{
    auto c = PrivateColord::start(false);
    expectNoDevice(c->environment());
}

TEST_F(ColourRoadsWithoutDevice, NoBusAtAll)
{
    auto c = PrivateColord::start(false);
    auto e = c->environment();
    e["DBUS_SYSTEM_BUS_ADDRESS"] = "unix:path=" + c->folder() + "/nobody-listens.sock";
    expectNoDevice(e);
}

TEST_F(ColourRoadsWithoutDevice, AColordThatDoesNotAnswer)
{
    auto c = PrivateColord::start();
    c->createDisplayDevice("screen");
    c->pauseColord();
    expectNoDevice(c->environment());
    c->resumeColord();
}

// A listing of a folder tree: each entry's path, size and modification time.
std::string treeListing(const fs::path& root)
{
    std::string listing;
    std::error_code error;
    if (!fs::exists(root, error)) return "absent";
    for (auto it = fs::recursive_directory_iterator(root, error); !error && it != fs::recursive_directory_iterator();
         it.increment(error)) {
        listing += it->path().string() + " " +
                   std::to_string(it->is_regular_file() ? it->file_size() : 0) + " " +
                   std::to_string(fs::last_write_time(it->path(), error).time_since_epoch().count()) + "\n";
    }
    return listing;
}

TEST_F(ColourRoads, TheMachinesOwnColourManagementStateIsNotTouched)
{
    const char* home = getenv("HOME");
    const fs::path realStore = fs::path(home ? home : "/root") / ".local/share/icc";
    const std::string database = treeListing("/var/lib/colord");
    const std::string store = treeListing(realStore);

    const std::string own = colord->folder() + "/own.icc";
    writeOwnProfile(own, "Own " + std::to_string(getpid()));
    ASSERT_EQ(run({"--assign", own}).output, "assigned\n");
    colord->restartColord();
    colord->createDisplayDevice("screen");
    ASSERT_EQ(run({"--assign", ADOBE_SAMPLE}).output, "assigned\n");
    ASSERT_EQ(run({"--assign", "none"}).output, "assigned\n");

    EXPECT_EQ(treeListing("/var/lib/colord"), database);
    EXPECT_EQ(treeListing(realStore), store);
    EXPECT_NE(treeListing(colord->folder() + "/database"), "absent");  // colord wrote its database here
}

}  // namespace
}  // namespace pp::test
