#include "protocol/line_output.hpp"

#include <csignal>
#include <cstdio>
#include <string>
#include <unistd.h>

namespace pp {

void writeLine(std::string_view text)
{
    std::string line;
    line.reserve(text.size() + 1);
    line.append(text);
    line += '\n';
    std::fwrite(line.data(), 1, line.size(), stdout);
}

void prepareOutput()
{
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    std::signal(SIGPIPE, SIG_IGN);
}

void endProcess(int status)
{
    std::fflush(stdout);
    _exit(status);
}

}  // namespace pp
