// Fuzzes the command channel's text handling: line framing, UTF-8 repair, the command split, number
// lists, the caption window and the JSON text of a report member holding the text. Each input is one
// stretch of standard input; every property checked here holds for any bytes at all.
#include <fcntl.h>
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "commands/command_split.hpp"
#include "commands/line_reader.hpp"
#include "commands/number_list.hpp"
#include "commands/utf8_repair.hpp"
#include "render/caption_cache.hpp"
#include "reports/json_text.hpp"

namespace {

void check(bool holds)
{
    if (!holds) std::abort();
}

bool characterStart(std::string_view text, std::size_t at)
{
    return at == 0 || at >= text.size() || (static_cast<unsigned char>(text[at]) & 0xC0) != 0x80;
}

void oneLine(std::string bytes)
{
    // No terminator survives framing.
    check(bytes.find('\n') == std::string::npos);

    // Repair: both forms agree, the result is well formed (repairing it again changes nothing), and
    // ASCII bytes keep their places relative to each other.
    const std::string repaired = pp::repairedUtf8(bytes);
    check(pp::repairedLine(bytes) == repaired);
    check(pp::repairedUtf8(repaired) == repaired);
    std::string asciiIn, asciiOut;
    for (char c : bytes) if (static_cast<unsigned char>(c) < 0x80) asciiIn += c;
    for (char c : repaired) if (static_cast<unsigned char>(c) < 0x80) asciiOut += c;
    check(asciiIn == asciiOut);

    // The split: the word has no blank, the view and the copy agree, and word and argument come back
    // out of the line in place.
    const auto text = pp::splitCommand(repaired);
    const auto view = pp::splitCommandView(repaired);
    check(text.has_value() == view.has_value());
    if (text) {
        check(text->word == view->word && text->argument == view->argument);
        check(!text->word.empty() && text->word.find(' ') == std::string::npos);
        const std::size_t at = repaired.find(text->word);
        check(repaired.compare(at, text->word.size(), text->word) == 0);
        check(repaired.ends_with(text->argument));
        for (double n : pp::numberList(text->argument)) (void)std::isnan(n);
        for (auto word : pp::blankSeparatedWords(text->argument)) check(!word.empty() && word.find(' ') == word.npos);
    } else {
        check(repaired.find_first_not_of(' ') == std::string::npos);
    }

    // The caption window stays inside the caption and on character boundaries.
    for (std::size_t reach : {0u, 1u, 3u, 50u}) {
        const pp::CaptionWindow w = pp::captionWindow(repaired, reach);
        check(w.begin <= w.middle && w.middle <= w.end && w.end <= repaired.size());
        check(characterStart(repaired, w.begin) && characterStart(repaired, w.middle) && characterStart(repaired, w.end));
        check(w.whole == (w.begin == 0 && w.end == repaired.size()));
    }

    // A report member holding the text: one line of JSON that reads back as the same text.
    pp::JsonObject report;
    report["profile"] = repaired;
    const std::string json = pp::jsonText(report);
    check(!json.empty() && json.find('\n') == std::string::npos);
    check(pp::JsonObject::parse(json)["profile"] == repaired);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    // The bytes go through a pipe, as standard input does; inputs stay below the pipe's buffer.
    if (size > 60'000) return 0;
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return 0;
    std::size_t written = 0;
    while (written < size) {
        const ssize_t n = write(fds[1], data + written, size - written);
        if (n <= 0) break;
        written += static_cast<std::size_t>(n);
    }
    close(fds[1]);
    pp::LineReader lines(fds[0]);
    std::size_t taken = 0, count = 0;
    while (auto line = lines.next()) {
        taken += line->size();
        ++count;
        oneLine(std::move(*line));
    }
    check(!lines.next());
    close(fds[0]);
    // Framing drops only terminators: a line feed each, and at most one carriage return before it.
    std::size_t feeds = 0;
    for (std::size_t i = 0; i < size; ++i) feeds += data[i] == '\n';
    check(taken <= size - feeds && taken + 2 * feeds >= size);
    check(count == feeds + (size > 0 && data[size - 1] != '\n' ? 1 : 0));
    return 0;
}
