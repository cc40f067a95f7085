#include "platform/colord/user_icc_store.hpp"

#include <fcntl.h>
#include <pwd.h>
#include <unistd.h>

#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>
#include <vector>

namespace pp::colord {

namespace {

std::optional<std::vector<char>> fileBytes(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad()) return std::nullopt;
    return bytes;
}

// Writes `bytes` to a new hidden file in `folder` and returns its path; none when it cannot be
// written (a partly written file is removed again).
std::optional<std::filesystem::path> writeHiddenFile(const std::filesystem::path& folder, const std::vector<char>& bytes)
{
    std::string name = (folder / ".incoming-XXXXXX").string();
    const int fd = mkostemp(name.data(), O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    fchmod(fd, 0644);
    std::size_t done = 0;
    bool ok = true;
    while (done < bytes.size()) {
        const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
        if (n <= 0) {
            ok = false;
            break;
        }
        done += static_cast<std::size_t>(n);
    }
    if (close(fd) != 0) ok = false;
    if (!ok) {
        unlink(name.c_str());
        return std::nullopt;
    }
    return std::filesystem::path(name);
}

// The source's name with "-N" before its extension: "panel.icc" -> "panel-2.icc".
std::filesystem::path numberedName(const std::filesystem::path& name, int number)
{
    if (number == 1) return name;
    return name.stem().string() + "-" + std::to_string(number) + name.extension().string();
}

}  // namespace

std::optional<std::filesystem::path> userIccStore()
{
    const char* dataHome = std::getenv("XDG_DATA_HOME");
    if (dataHome && dataHome[0] == '/') return std::filesystem::path(dataHome) / "icc";
    std::string home;
    if (const char* h = std::getenv("HOME"); h && h[0] == '/') {
        home = h;
    } else if (const passwd* user = getpwuid(getuid()); user && user->pw_dir && user->pw_dir[0] == '/') {
        home = user->pw_dir;
    } else {
        return std::nullopt;
    }
    return std::filesystem::path(home) / ".local" / "share" / "icc";
}

std::optional<KeptCopy> keepInStore(const std::filesystem::path& source,
                                                 const std::filesystem::path& store)
{
    const auto bytes = fileBytes(source);
    if (!bytes || !source.has_filename()) return std::nullopt;
    std::error_code error;
    std::filesystem::create_directories(store, error);
    if (error) return std::nullopt;

    // A copy appears under its name only whole (written aside, then linked), so that assignments
    // running at the same time never see one half written and never copy the same file twice.
    std::optional<std::filesystem::path> incoming;
    const auto discard = [&] {
        if (incoming) unlink(incoming->c_str());
    };
    constexpr int MAX_NAMES = 1000;
    constexpr int MAX_RACES = 8;
    int raced = 0;
    for (int number = 1; number <= MAX_NAMES; ++number) {
        const std::filesystem::path candidate = store / numberedName(source.filename(), number);
        if (std::filesystem::is_regular_file(candidate, error)) {
            if (fileBytes(candidate) != bytes) continue;
            discard();
            return KeptCopy{candidate, false};
        }
        if (std::filesystem::exists(candidate, error)) continue;  // a folder or the like in the way
        if (!incoming) incoming = writeHiddenFile(store, *bytes);
        if (!incoming) return std::nullopt;
        if (link(incoming->c_str(), candidate.c_str()) == 0) {
            discard();
            return KeptCopy{candidate, true};
        }
        if (errno != EEXIST) break;
        if (++raced <= MAX_RACES) --number;  // made by someone else meanwhile: look at it again
    }
    discard();
    return std::nullopt;
}

}  // namespace pp::colord
