// Standard input cut into lines: read(2) in large chunks, lines of any length.
#pragma once

#include <optional>
#include <string>

namespace pp {

// Reads lines from a file descriptor it does not own. One thread at a time.
class LineReader {
public:
    explicit LineReader(int fd);

    // The next line without its terminator (a line feed, or a carriage return and line feed); a last
    // line without a terminator is taken whole. None at end of input or when reading fails; after
    // that, always none. Blocks until a whole line has arrived, also on a descriptor set not to block
    // (it waits with poll). A line is held at most twice over while it is read, and returned without
    // a copy of its own when it is long.
    std::optional<std::string> next();

private:
    bool fill();
    std::string take(std::size_t end, std::size_t next);
    bool waitReadable();

    int fd_;
    std::string buffer_;
    std::size_t start_ = 0;    // where the next line begins in buffer_
    std::size_t scanned_ = 0;  // buffer_ holds no line feed between start_ and here
    bool ended_ = false;       // no more bytes will come
};

}  // namespace pp
