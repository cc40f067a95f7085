#include "reports/profile_assignment.hpp"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "platform/headless/headless_colour.hpp"

namespace pp {
namespace {

namespace fs = std::filesystem;
using headless::HeadlessColourManagement;

const char* SAMPLE_PROFILE = "/usr/share/color/icc/colord/sRGB.icc";

// A fresh folder that is the current directory while the test runs.
class InTemporaryFolder : public ::testing::Test {
protected:
    void SetUp() override
    {
        previous_ = fs::current_path();
        std::string pattern = (fs::temp_directory_path() / "pp-assign-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        fs::current_path(pattern);
        folder_ = fs::current_path();  // as the process sees it, links resolved
        ASSERT_TRUE(fs::exists(SAMPLE_PROFILE)) << "colord-data is not installed";
        colour_.devices["screen"] = "xrandr-screen";
    }
    void TearDown() override
    {
        fs::current_path(previous_);
        fs::remove_all(folder_);
    }

    void copySample(const fs::path& to)
    {
        fs::create_directories(folder_ / to.parent_path());
        fs::copy_file(SAMPLE_PROFILE, folder_ / to);
    }

    void writeFile(const fs::path& to, const std::string& bytes) { std::ofstream(folder_ / to, std::ios::binary) << bytes; }

    static Screen screen()
    {
        Screen s;
        s.number = 60;
        s.outputName = "screen";
        return s;
    }

    fs::path previous_;
    fs::path folder_;
    HeadlessColourManagement colour_;
};

using Call = HeadlessColourManagement::Assignment;

TEST_F(InTemporaryFolder, OnlyTheExactWordNoneClears)
{
    EXPECT_EQ(assignedProfilePath("none"), std::nullopt);
    for (const std::string value : {"None", "NONE", " none", "none ", "none\n", "nonee"}) {
        EXPECT_EQ(assignedProfilePath(value), (folder_ / value).string()) << '"' << value << '"';
    }
    EXPECT_EQ(assignedProfilePath(""), folder_.string());
    EXPECT_EQ(assignedProfilePath("/abs/p.icc"), "/abs/p.icc");
}

TEST_F(InTemporaryFolder, NoneClearsTheCustomProfileAndOtherSpellingsOfItAreProfilePaths)
{
    for (const std::string value : {"None", " none"}) copySample(value);
    for (const char* value : {"none", "None", " none"}) EXPECT_TRUE(assign(colour_, screen(), value)) << '"' << value << '"';
    EXPECT_EQ(colour_.assignments, (std::vector<Call>{{"xrandr-screen", std::nullopt},
                                                      {"xrandr-screen", (folder_ / "None").string()},
                                                      {"xrandr-screen", (folder_ / " none").string()}}));
}

TEST_F(InTemporaryFolder, ARelativePathIsSentUnderTheCurrentDirectory)
{
    copySample("profiles/test.icc");
    EXPECT_TRUE(assign(colour_, screen(), "profiles/test.icc"));
    ASSERT_EQ(colour_.assignments.size(), 1u);
    EXPECT_EQ(colour_.assignments[0].path, (folder_ / "profiles/test.icc").string());
    EXPECT_TRUE(fs::path(*colour_.assignments[0].path).is_absolute());
}

TEST_F(InTemporaryFolder, AnAcceptedAssignmentShowsInTheProfileState)
{
    copySample("m.icc");
    ASSERT_EQ(assignmentRoad(colour_, screen(), "m.icc"), (RoadOutcome{"assigned", 0}));
    const std::string path = (folder_ / "m.icc").string();
    std::string escaped;
    for (char c : path) escaped += c == '/' ? std::string("\\/") : std::string(1, c);
    EXPECT_EQ(jsonText(profileState(colour_, screen())), R"({"display_id":60,"custom":{"custom":")" + escaped + "\"}}");
    ASSERT_EQ(assignmentRoad(colour_, screen(), "none"), (RoadOutcome{"assigned", 0}));
    EXPECT_EQ(jsonText(profileState(colour_, screen())), R"({"display_id":60,"custom":{}})");
}

TEST_F(InTemporaryFolder, NoDeviceIsRefusedWithoutAskingColourManagement)
{
    copySample("m.icc");
    colour_.devices.clear();
    EXPECT_EQ(assignmentRoad(colour_, screen(), "m.icc"), (RoadOutcome{ASSIGN_REFUSED, 1}));
    EXPECT_EQ(assignmentRoad(colour_, screen(), "none"), (RoadOutcome{ASSIGN_REFUSED, 1}));
    EXPECT_TRUE(colour_.assignments.empty());
}

TEST_F(InTemporaryFolder, ARefusalIsPassedOn)
{
    copySample("m.icc");
    colour_.acceptAssignments = false;
    EXPECT_EQ(assignmentRoad(colour_, screen(), "m.icc"), (RoadOutcome{ASSIGN_REFUSED, 1}));
    EXPECT_EQ(assignmentRoad(colour_, screen(), "none"), (RoadOutcome{ASSIGN_REFUSED, 1}));
    EXPECT_EQ(colour_.assignments.size(), 2u);
}

TEST_F(InTemporaryFolder, AFileThatIsNoWholeProfileIsRefusedBeforeColourManagementSeesIt)
{
    std::ifstream in(SAMPLE_PROFILE, std::ios::binary);
    const std::string sample((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    writeFile("garbage.icc", "this is no ICC profile at all, just text that is long enough to pass for a header"
                             " if nobody looked at it closely enough to see that it has no signature");
    writeFile("cut.icc", sample.substr(0, sample.size() / 2));
    writeFile("header-only.icc", sample.substr(0, 128));
    writeFile("empty.icc", "");
    fs::create_directory(folder_ / "folder.icc");
    for (const char* value : {"missing.icc", "garbage.icc", "cut.icc", "header-only.icc", "empty.icc", "folder.icc", ""}) {
        EXPECT_EQ(assignmentRoad(colour_, screen(), value), (RoadOutcome{ASSIGN_REFUSED, 1})) << value;
    }
    EXPECT_TRUE(colour_.assignments.empty());
}

}  // namespace
}  // namespace pp
