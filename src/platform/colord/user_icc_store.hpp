// The user's own ICC profile store, where a desktop session looks for the user's profiles at each
// start and makes them known to colord again.
#pragma once

#include <filesystem>
#include <optional>

namespace pp::colord {

// $XDG_DATA_HOME/icc when XDG_DATA_HOME is an absolute path, else $HOME/.local/share/icc (the home
// folder from the user database when HOME is unset); none when no home folder is known.
std::optional<std::filesystem::path> userIccStore();

// A copy of a profile file in the store: its path, and whether this call made it (rather than
// finding it there).
struct KeptCopy {
    std::filesystem::path path;
    bool made = false;
    bool operator==(const KeptCopy&) const = default;
};

// Keeps a copy of the file at `source` in the folder `store` (made when missing) and returns the
// copy. A file already in the store with the same bytes under the source's name (or one of
// its numbered variants "name-2.icc", "name-3.icc", ...) is reused; a file there with other bytes is
// never overwritten, the next free numbered name is taken instead. None when the source cannot be
// read or the copy cannot be written.
std::optional<KeptCopy> keepInStore(const std::filesystem::path& source,
                                                 const std::filesystem::path& store);

}  // namespace pp::colord
