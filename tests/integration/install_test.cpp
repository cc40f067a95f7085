// What `make install` and `make deb` deliver, made from this build into folders of the test's own.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <regex>

#include "x_server.hpp"

namespace pp::test {
namespace {

namespace fs = std::filesystem;

// A fresh folder removed with everything in it at the end of the test.
class TempFolder {
public:
    TempFolder()
    {
        std::string pattern = (fs::temp_directory_path() / "pp-install-XXXXXX").string();
        path_ = mkdtemp(pattern.data()) ? pattern : "";
    }
    ~TempFolder()
    {
        std::error_code ignored;
        if (!path_.empty()) fs::remove_all(path_, ignored);
    }
    const fs::path& path() const { return path_; }

private:
    fs::path path_;
};

// Runs a shell command; its status and standard output. The command redirects standard error itself.
struct Shell {
    int status;
    std::string output;
};
Shell shell(const std::string& command)
{
    Shell result{};
    result.status = runShell(command, "MANWIDTH", "80", &result.output);
    return result;
}

std::string quoted(const fs::path& path)
{
    return "'" + path.string() + "'";
}

// The text with every run of white space made one blank, so that words split across lines match.
std::string oneLine(const std::string& text)
{
    return std::regex_replace(text, std::regex(R"(\s+)"), " ");
}

bool isExecutable(const fs::path& path)
{
    return access(path.c_str(), X_OK) == 0 && fs::is_regular_file(path);
}

TEST(Install, LaysOutTheProgramAndAManualPageThatRendersCleanly)
{
    TempFolder root;
    ASSERT_FALSE(root.path().empty());
    const auto install = shell("DESTDIR=" + quoted(root.path()) + " cmake --install " + quoted(PP_BUILD_DIR) +
                               " --prefix /opt/pp 2>&1");
    ASSERT_EQ(install.status, 0) << install.output;

    const fs::path program = root.path() / "opt/pp/bin/patch-presenter";
    const fs::path page = root.path() / "opt/pp/share/man/man1/patch-presenter.1.gz";
    ASSERT_TRUE(isExecutable(program));
    ASSERT_TRUE(fs::is_regular_file(page));
    EXPECT_EQ(shell(quoted(program) + " --version").output, "patch-presenter " PP_VERSION "\n");

    // Warnings of the formatter go to standard error: keep only those.
    const auto warnings = shell("man --warnings=w -l " + quoted(page) + " 2>&1 >/dev/null");
    EXPECT_EQ(warnings.status, 0);
    EXPECT_EQ(warnings.output, "");
    const auto rendered = shell("MANPAGER=cat man -l " + quoted(page) + " 2>/dev/null");
    ASSERT_EQ(rendered.status, 0);
    const std::string text = oneLine(rendered.output);
    for (const char* part :
         {"PATCH-PRESENTER(1)", "SYNOPSIS", "OPTIONS", "PROTOCOL", "REPORTS", "EXIT STATUS", "DISPLAY NUMBERS",
          "EXAMPLES", "--display N", "--mm W H", "--shift X Y", "--pos FX FY", "--platform wayland|x11",
          "--list-displays", "--profile-state", "--assign path|none", "--help", "--version", "painted T",
          "error rgb needs three numbers", "moved", "error move needs two fractions",
          "error surround needs three numbers", "mark on or mark off", "error mode is flat, dither or deep",
          "error unknown command", "error no screen main", "error ColorSyncDeviceSetCustomProfiles refused",
          "no ColorSync device", "position FX FY", "key space", "closed", "RandR output", "wl_output",
          "xdg-output"}) {
        EXPECT_NE(text.find(part), std::string::npos) << part;
    }
}

TEST(Install, TheSourcePageFormatsWithoutWarnings)
{
    const auto warnings = shell("groff -man -ww -z " + quoted(fs::path(PP_SOURCE_DIR) / "doc/patch-presenter.1") +
                                " 2>&1");
    EXPECT_EQ(warnings.status, 0);
    EXPECT_EQ(warnings.output, "");
}

TEST(DebianPackage, NamesItselfDependsOnItsLibrariesAndRuns)
{
    for (const char* tool : {"cpack", "dpkg-deb", "dpkg-shlibdeps"}) {
        SKIP_WITHOUT_PROGRAM(tool);
    }
    TempFolder folder;
    ASSERT_FALSE(folder.path().empty());
    const auto pack = shell("cd " + quoted(folder.path()) + " && cpack -G DEB --config " +
                            quoted(fs::path(PP_BUILD_DIR) / "CPackConfig.cmake") + " -B " + quoted(folder.path()) +
                            " 2>&1");
    ASSERT_EQ(pack.status, 0) << pack.output;
    fs::path deb;
    for (const auto& entry : fs::directory_iterator(folder.path())) {
        if (entry.path().extension() == ".deb") deb = entry.path();
    }
    ASSERT_FALSE(deb.empty()) << pack.output;
    EXPECT_EQ(deb.filename().string().rfind("patch-presenter_" PP_VERSION "_", 0), 0u) << deb;

    const std::string info = shell("dpkg-deb -I " + quoted(deb) + " 2>&1").output;
    EXPECT_NE(info.find("\n Package: patch-presenter\n"), std::string::npos) << info;
    EXPECT_NE(info.find("\n Version: " PP_VERSION "\n"), std::string::npos) << info;
    EXPECT_NE(info.find("\n Maintainer: patch-presenter developers <patch-presenter@localhost>\n"),
              std::string::npos)
        << info;
    EXPECT_NE(info.find("\n Description: shows exact colour patches"), std::string::npos) << info;
    std::smatch depends;
    ASSERT_TRUE(std::regex_search(info, depends, std::regex(R"(\n Depends: ([^\n]*))"))) << info;
    // Found from the shared libraries the program links, with their versions.
    for (const char* library : {"libc6 (>=", "libxcb1 (>=", "libxcb-present0", "libcairo2", "libpango-1.0-0",
                                "libcolord2", "liblcms2-2", "libstdc++6"}) {
        EXPECT_NE(depends[1].str().find(library), std::string::npos) << library << " in " << depends[1];
    }

    const std::string contents = shell("dpkg-deb -c " + quoted(deb) + " 2>&1").output;
    EXPECT_TRUE(std::regex_search(contents, std::regex(R"(-rwxr-xr-x root/root .* \./usr/bin/patch-presenter\n)")))
        << contents;
    EXPECT_TRUE(std::regex_search(
        contents, std::regex(R"(-rw-r--r-- root/root .* \./usr/share/man/man1/patch-presenter\.1\.gz\n)")))
        << contents;

    // The packed program runs from the unpacked tree.
    const fs::path unpacked = folder.path() / "unpacked";
    ASSERT_EQ(shell("dpkg-deb -x " + quoted(deb) + " " + quoted(unpacked)).status, 0);
    EXPECT_EQ(shell(quoted(unpacked / "usr/bin/patch-presenter") + " --version").output,
              "patch-presenter " PP_VERSION "\n");
}

}  // namespace
}  // namespace pp::test
