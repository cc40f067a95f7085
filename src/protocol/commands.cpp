#include "protocol/commands.hpp"

#include <algorithm>
#include <array>
#include <optional>
#include <vector>

#include "protocol/command_split.hpp"
#include "protocol/number_list.hpp"
#include "protocol/seconds_text.hpp"

namespace pp {

namespace {

std::array<double, 3> three(const std::vector<double>& numbers)
{
    return {numbers[0], numbers[1], numbers[2]};
}

}  // namespace

CommandSet::CommandSet(Presenter& presenter, MainLoop& loop, std::function<double()> clock)
    : presenter_(presenter), loop_(loop), clock_(clock ? std::move(clock) : wallClock)
{
}

std::string CommandSet::greeting()
{
    std::string report;
    loop_.runOnMain([&] { report = presenter_.report(); });
    return "ready " + report;
}

void CommandSet::greeted()
{
    loop_.runOnMain([&] { presenter_.openEventLines(); });
}

Reply CommandSet::answer(std::string_view line)
{
    const auto command = splitCommand(line);
    if (!command) return {};
    const std::string& word = command->word;
    const std::string& argument = command->argument;

    if (word == "rgb") {
        const auto numbers = numberList(argument);
        if (numbers.size() != 3) return {"error rgb needs three numbers"};
        // The moment the window system says the colour was shown, kept between the command and the reply.
        const double asked = clock_();
        std::optional<double> shown;
        loop_.runOnMain([&, rgb = three(numbers)] {
            presenter_.setRgb(rgb);
            shown = presenter_.presentedAt();
        });
        const double now = clock_();
        return {"painted " + secondsText(shown ? std::clamp(*shown, asked, now) : now)};
    }
    if (word == "move") {
        const auto numbers = numberList(argument);
        if (numbers.size() != 2) return {"error move needs two fractions"};
        loop_.runOnMain([&, fx = numbers[0], fy = numbers[1]] { presenter_.moveTo(fx, fy); });
        return {"moved"};
    }
    if (word == "surround") {
        const auto numbers = numberList(argument);
        if (numbers.size() != 3) return {"error surround needs three numbers"};
        loop_.runOnMain([&, surround = three(numbers)] { presenter_.setSurround(surround); });
        return {"surround"};
    }
    if (word == "mark") {
        const bool on = argument == "on";
        loop_.runOnMain([&, on] { presenter_.setMark(on); });
        return {std::string(MARK_REPLY_PREFIX) + (on ? "on" : "off")};
    }
    if (word == "text") {
        loop_.runOnMain([&, caption = argument] { presenter_.setCaption(caption); });
        return {"text"};
    }
    if (word == "mode") {
        if (argument != "flat" && argument != "dither" && argument != "deep") {
            return {"error mode is flat, dither or deep"};
        }
        std::string description;
        loop_.runOnMain([&, mode = argument] { description = presenter_.setMode(mode); });
        return {"mode " + description};
    }
    if (word == "info") {
        std::string report;
        loop_.runOnMain([&] { report = presenter_.report(); });
        return {std::string(INFO_REPLY_PREFIX) + report};
    }
    if (word == "quit") return {std::nullopt, true};
    return {"error unknown command"};
}

}  // namespace pp
