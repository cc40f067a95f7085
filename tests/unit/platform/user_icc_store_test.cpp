#include "platform/colord/user_icc_store.hpp"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <fstream>
#include <iterator>
#include <thread>
#include <vector>

namespace pp::colord {
namespace {

namespace fs = std::filesystem;

// Sets an environment variable for one test and puts the old value back afterwards.
class ScopedVariable {
public:
    ScopedVariable(const char* name, const char* value) : name_(name)
    {
        if (const char* old = getenv(name)) old_ = old;
        value ? setenv(name, value, 1) : unsetenv(name);
    }
    ~ScopedVariable() { old_ ? setenv(name_, old_->c_str(), 1) : unsetenv(name_); }

private:
    const char* name_;
    std::optional<std::string> old_;
};

TEST(UserIccStore, FollowsXdgDataHomeElseTheHomeFolder)
{
    // An unset, empty or relative data home is passed over.
    for (const auto& [dataHome, store] : {std::pair<const char*, const char*>{"/data/home", "/data/home/icc"},
                                          {nullptr, "/home/u/.local/share/icc"},
                                          {"", "/home/u/.local/share/icc"},
                                          {"relative/dir", "/home/u/.local/share/icc"}}) {
        ScopedVariable data("XDG_DATA_HOME", dataHome);
        ScopedVariable home("HOME", "/home/u");
        EXPECT_EQ(userIccStore(), fs::path(store)) << (dataHome ? dataHome : "unset");
    }
}

class Store : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string pattern = (fs::temp_directory_path() / "pp-store-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        root_ = pattern;
        store_ = root_ / "data" / "icc";
        fs::create_directories(root_ / "src");
    }
    void TearDown() override { fs::remove_all(root_); }

    fs::path write(const fs::path& path, const std::string& bytes)
    {
        std::ofstream(path, std::ios::binary) << bytes;
        return path;
    }
    static std::string read(const fs::path& path)
    {
        std::ifstream in(path, std::ios::binary);
        return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    }
    std::size_t filesInStore() const
    {
        return static_cast<std::size_t>(std::distance(fs::directory_iterator(store_), fs::directory_iterator()));
    }

    fs::path root_;
    fs::path store_;
};

TEST_F(Store, CopiesTheFileIntoAStoreItMakesAndReusesACopyWithTheSameBytes)
{
    const auto source = write(root_ / "src" / "panel.icc", "profile bytes");
    EXPECT_EQ(keepInStore(source, store_), (KeptCopy{store_ / "panel.icc", true}));
    EXPECT_EQ(read(store_ / "panel.icc"), "profile bytes");
    EXPECT_EQ(read(source), "profile bytes");
    EXPECT_EQ(keepInStore(source, store_), (KeptCopy{store_ / "panel.icc", false}));
    // A file already in the store is its own copy.
    EXPECT_EQ(keepInStore(store_ / "panel.icc", store_), (KeptCopy{store_ / "panel.icc", false}));
    EXPECT_EQ(filesInStore(), 1u);
}

TEST_F(Store, NeverOverwritesAFileWithOtherBytes)
{
    fs::create_directories(store_);
    write(store_ / "panel.icc", "someone else's profile");
    fs::create_directories(root_ / "src" / "a");
    fs::create_directories(root_ / "src" / "b");
    const auto first = write(root_ / "src" / "a" / "panel.icc", "first");
    EXPECT_EQ(keepInStore(first, store_), (KeptCopy{store_ / "panel-2.icc", true}));
    const auto second = write(root_ / "src" / "b" / "panel.icc", "second");
    EXPECT_EQ(keepInStore(second, store_), (KeptCopy{store_ / "panel-3.icc", true}));
    EXPECT_EQ(keepInStore(first, store_), (KeptCopy{store_ / "panel-2.icc", false}));  // found, not copied again
    EXPECT_EQ(read(store_ / "panel.icc"), "someone else's profile");
    EXPECT_EQ(read(store_ / "panel-2.icc"), "first");
    EXPECT_EQ(read(store_ / "panel-3.icc"), "second");
    EXPECT_EQ(filesInStore(), 3u);
}

TEST_F(Store, AFolderInTheWayIsPassedOver)
{
    fs::create_directories(store_ / "panel.icc");
    const auto source = write(root_ / "src" / "panel.icc", "bytes");
    EXPECT_EQ(keepInStore(source, store_), (KeptCopy{store_ / "panel-2.icc", true}));
}

TEST_F(Store, NothingIsKeptWhenTheSourceCannotBeReadOrTheStoreNotMade)
{
    EXPECT_EQ(keepInStore(root_ / "src" / "missing.icc", store_), std::nullopt);
    const auto source = write(root_ / "src" / "panel.icc", "bytes");
    write(root_ / "file", "x");
    EXPECT_EQ(keepInStore(source, root_ / "file" / "icc"), std::nullopt);
}

TEST_F(Store, CopiesMadeAtTheSameTimeAreOneWholeFile)
{
    // Large enough that a copy being written can be seen half done.
    const std::string bytes(4 << 20, 'p');
    const auto source = write(root_ / "src" / "panel.icc", bytes);
    std::vector<std::optional<KeptCopy>> kept(8);
    std::vector<std::thread> threads;
    for (auto& k : kept) threads.emplace_back([&k, &source, this] { k = keepInStore(source, store_); });
    for (auto& t : threads) t.join();
    int made = 0;
    for (const auto& k : kept) {
        ASSERT_TRUE(k);
        EXPECT_EQ(k->path, store_ / "panel.icc");
        made += k->made ? 1 : 0;
    }
    EXPECT_EQ(made, 1);
    EXPECT_EQ(read(store_ / "panel.icc"), bytes);
    EXPECT_EQ(filesInStore(), 1u) << "nothing written aside is left behind";
}

}  // namespace
}  // namespace pp::colord
