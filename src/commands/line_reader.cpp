#include "commands/line_reader.hpp"

#include <cerrno>
#include <poll.h>
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
            return take(end, lineFeed + 1);
        }
        scanned_ = buffer_.size();
        if (ended_) {
            if (start_ == buffer_.size()) return std::nullopt;
            return take(buffer_.size(), buffer_.size());
        }
        if (!fill()) return std::nullopt;
    }
}

// The bytes from start_ to `end` as a line; the next line begins at `next`. A long line takes the
// buffer itself, and the few bytes behind it move to a fresh buffer, so that it is never copied whole.
std::string LineReader::take(std::size_t end, std::size_t next)
{
    if (end - start_ < CHUNK) {
        std::string line = buffer_.substr(start_, end - start_);
        start_ = scanned_ = next;
        return line;
    }
    std::string rest = buffer_.substr(next);
    std::string line = std::move(buffer_);
    line.resize(end);
    line.erase(0, start_);
    buffer_ = std::move(rest);
    start_ = scanned_ = 0;
    return line;
}

// Waits until the descriptor can be read, for one that does not block; false when waiting fails.
bool LineReader::waitReadable()
{
    pollfd fd{fd_, POLLIN, 0};
    for (;;) {
        const int ready = poll(&fd, 1, -1);
        if (ready > 0) return true;
        if (ready < 0 && errno != EINTR) return false;
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
    for (;;) {
        got = ::read(fd_, buffer_.data() + held, CHUNK);
        if (got >= 0) break;
        if (errno == EINTR) continue;
        // A descriptor opened without blocking has no bytes yet: that is not the end of input.
        if ((errno == EAGAIN || errno == EWOULDBLOCK) && waitReadable()) continue;
        break;
    }
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
