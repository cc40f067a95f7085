#include "protocol/line_reader.hpp"

#include <cerrno>
#include <unistd.h>

namespace pp {

namespace {

constexpr std::size_t CHUNK = 64 * 1024;

}  // namespace

LineReader::LineReader(int fd) : fd_(fd) {}

std::optional<std::string> LineReader::next()
{
    for (;;) {
        const std::size_t lineFeed = buffer_.find('\n', scanned_);
        if (lineFeed != std::string::npos) {
            std::size_t end = lineFeed;
            if (end > start_ && buffer_[end - 1] == '\r') --end;
            std::string line = buffer_.substr(start_, end - start_);
            start_ = scanned_ = lineFeed + 1;
            return line;
        }
        scanned_ = buffer_.size();
        if (ended_) {
            if (start_ == buffer_.size()) return std::nullopt;
            std::string line = buffer_.substr(start_);
            start_ = scanned_ = buffer_.size();
            return line;
        }
        if (!fill()) return std::nullopt;
    }
}

// Reads one chunk behind what is buffered; false when reading failed (nothing more is returned then).
bool LineReader::fill()
{
    // Only an unfinished line is left before start_ moves; dropping what was taken keeps the buffer
    // as long as one line.
    buffer_.erase(0, start_);
    scanned_ -= start_;
    start_ = 0;
    const std::size_t held = buffer_.size();
    buffer_.resize(held + CHUNK);
    ssize_t got;
    do {
        got = ::read(fd_, buffer_.data() + held, CHUNK);
    } while (got < 0 && errno == EINTR);
    buffer_.resize(held + (got > 0 ? static_cast<std::size_t>(got) : 0));
    if (got == 0) ended_ = true;
    if (got < 0) {
        ended_ = true;
        buffer_.clear();
        start_ = scanned_ = 0;
        return false;
    }
    return true;
}

}  // namespace pp
