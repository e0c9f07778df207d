// Feeds arbitrary bytes to the dialogue as its input and checks what every
// run must produce, whatever the input.
#include "console_dialogue.hpp"
#include "dialogue_texts.hpp"
#include "membership_plans.hpp"

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <sstream>
#include <string>
#include <string_view>

namespace {

using membership::expected::kChargeLabel;

void require(bool holds, const char* what)
{
    if (!holds) {
        static_cast<void>(std::fprintf(stderr, "dialogue invariant broken: %s\n", what));
        std::abort();
    }
}

bool isDigits(std::string_view text)
{
    return !text.empty() && text.find_first_not_of("0123456789") == std::string_view::npos;
}

// "-?digits.dd"
bool isTwoDecimalAmount(std::string_view text)
{
    text.remove_prefix(text.substr(0, 1) == "-" ? 1 : 0);
    const std::size_t point = text.find('.');
    return point != std::string_view::npos && isDigits(text.substr(0, point)) &&
           text.size() - point == 3 && isDigits(text.substr(point + 1));
}

// The total is the choice's rate times some 32-bit month count.
bool isChargeForTheChoice(std::string_view amount, double rate)
{
    const double total = std::strtod(std::string(amount).c_str(), nullptr);
    if (rate == 0.0) {
        return amount == "0.00" || amount == "-0.00";
    }
    const double months = total / rate;
    return months == std::trunc(months) &&
           months >= static_cast<double>(std::numeric_limits<std::int32_t>::min()) &&
           months <= static_cast<double>(std::numeric_limits<std::int32_t>::max());
}

} // namespace

// NOLINTNEXTLINE(readability-identifier-naming): the name libFuzzer calls
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::istringstream input(std::string(reinterpret_cast<const char*>(data), size));
    std::ostringstream output;
    membership::runConsoleDialogue(input, output);

    const std::string written = output.str();
    static const std::string menuAndPrompts = membership::expected::menuAndPrompts();
    require(written.compare(0, menuAndPrompts.size(), menuAndPrompts) == 0,
            "menu and prompts come first");

    std::string_view result(written);
    result.remove_prefix(menuAndPrompts.size());
    require(!result.empty() && result.back() == '\n', "the result line ends the output");
    result.remove_suffix(1);

    const std::size_t label = result.find(kChargeLabel);
    require(label != std::string_view::npos && label > 0, "the result line has the label");
    const std::string_view name = result.substr(0, label);
    require(name == " " || name.find_first_of(" \t\n\v\f\r") == std::string_view::npos,
            "the name is one word or the single space");

    const std::string_view amount = result.substr(label + kChargeLabel.size());
    require(isTwoDecimalAmount(amount), "the total has exactly two decimals");
    const char choice = size > 0 ? static_cast<char>(data[0]) : ' ';
    require(isChargeForTheChoice(amount, membership::lookupMonthlyRate(choice)),
            "the total is the chosen rate times a month count");
    return 0;
}
