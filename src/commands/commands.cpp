#include "commands/commands.hpp"

#include <algorithm>
#include <array>
#include <optional>
#include <vector>

#include "commands/command_split.hpp"
#include "commands/number_list.hpp"
#include "presenter/seconds_text.hpp"

namespace pp {

namespace {

std::array<double, 3> three(const std::vector<double>& numbers)
{
    return {numbers[0], numbers[1], numbers[2]};
}

// The reply for work the main thread did not run: no line, and the run ends.
Reply lostReply()
{
    Reply reply;
    reply.lost = true;
    return reply;
}

}  // namespace

CommandSet::CommandSet(Presenter& presenter, MainLoop& loop, std::function<double()> clock)
    : presenter_(presenter), loop_(loop), clock_(clock ? std::move(clock) : wallClock)
{
}

std::optional<std::string> CommandSet::greeting()
{
    std::string report;
    if (!loop_.runOnMain([&] { report = presenter_.report(); })) return std::nullopt;
    return "ready " + report;
}

bool CommandSet::greeted()
{
    return loop_.runOnMain([&] { presenter_.openEventLines(); });
}

Reply CommandSet::answer(std::string line)
{
    const auto command = splitCommandView(line);
    if (!command) return {};
    const std::string_view word = command->word;
    const std::string_view argument = command->argument;

    if (word == "rgb") {
        const auto numbers = numberList(argument);
        if (numbers.size() != 3) return {"error rgb needs three numbers"};
        // The moment the window system says the colour was shown, as it says it: the window returns no
        // earlier than that moment, and only for a frame committed after the command.
        std::optional<double> shown;
        if (!loop_.runOnMain([&, rgb = three(numbers)] {
                presenter_.setRgb(rgb);
                shown = presenter_.presentedAt();
            })) {
            return lostReply();
        }
        return {"painted " + secondsText(shown ? *shown : clock_())};
    }
    if (word == "move") {
        const auto numbers = numberList(argument);
        if (numbers.size() != 2) return {"error move needs two fractions"};
        const bool ran = loop_.runOnMain([&, fx = numbers[0], fy = numbers[1]] { presenter_.moveTo(fx, fy); });
        if (!ran) return lostReply();
        return {"moved"};
    }
    if (word == "surround") {
        const auto numbers = numberList(argument);
        if (numbers.size() != 3) return {"error surround needs three numbers"};
        if (!loop_.runOnMain([&, surround = three(numbers)] { presenter_.setSurround(surround); })) {
            return lostReply();
        }
        return {"surround"};
    }
    if (word == "mark") {
        const bool on = argument == "on";
        if (!loop_.runOnMain([&, on] { presenter_.setMark(on); })) return lostReply();
        return {std::string(MARK_REPLY_PREFIX) + (on ? "on" : "off")};
    }
    if (word == "text") {
        // The caption is the line's tail: cut the head off in place and hand the line itself over.
        line.erase(0, static_cast<std::size_t>(argument.data() - line.data()));
        const bool ran = loop_.runOnMain([&, caption = std::move(line)]() mutable {
            presenter_.setCaption(std::move(caption));
        });
        if (!ran) return lostReply();
        return {"text"};
    }
    if (word == "mode") {
        const std::optional<Mode> mode = modeWord(argument);
        if (!mode) return {"error mode is flat, dither or deep"};
        std::string description;
        const bool ran = loop_.runOnMain([&, mode = *mode] { description = presenter_.setMode(mode); });
        if (!ran) return lostReply();
        return {"mode " + description};
    }
    if (word == "info") {
        std::string report;
        if (!loop_.runOnMain([&] { report = presenter_.report(); })) return lostReply();
        return {std::string(INFO_REPLY_PREFIX) + report};
    }
    if (word == "quit") return {std::nullopt, true};
    return {"error unknown command"};
}

}  // namespace pp
