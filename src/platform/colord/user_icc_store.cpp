#include "platform/colord/user_icc_store.hpp"

#include <fcntl.h>
#include <pwd.h>
#include <unistd.h>

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

// Writes `bytes` to a new file at `path`; false when a file of that name exists or writing fails
// (a partly written file is removed again).
bool writeNewFile(const std::filesystem::path& path, const std::vector<char>& bytes)
{
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0) return false;
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
    if (!ok) unlink(path.c_str());
    return ok;
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

    constexpr int MAX_NAMES = 1000;
    for (int number = 1; number <= MAX_NAMES; ++number) {
        const std::filesystem::path candidate = store / numberedName(source.filename(), number);
        if (writeNewFile(candidate, *bytes)) return KeptCopy{candidate, true};
        if (!std::filesystem::is_regular_file(candidate, error)) {
            // Neither writable as a new file nor an existing file: a folder or an unwritable store.
            if (std::filesystem::exists(candidate, error)) continue;
            return std::nullopt;
        }
        if (fileBytes(candidate) == bytes) return KeptCopy{candidate, false};
    }
    return std::nullopt;
}

}  // namespace pp::colord
