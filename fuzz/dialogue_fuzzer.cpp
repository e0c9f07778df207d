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

bool isWhitespace(char byte)
{
    return byte == ' ' || (byte >= '\t' && byte <= '\r');
}

// "-?digits.dd"
bool isTwoDecimalAmount(std::string_view text)
{
    if (!text.empty() && text.front() == '-') {
        text.remove_prefix(1);
    }
    const std::size_t point = text.find('.');
    if (point == 0 || point == std::string_view::npos || text.size() - point != 3) {
        return false;
    }
    for (std::size_t index = 0; index < text.size(); ++index) {
        if (index != point && (text[index] < '0' || text[index] > '9')) {
            return false;
        }
    }
    return true;
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
    const std::string menuAndPrompts = membership::expected::dialogueWith("");
    require(written.compare(0, menuAndPrompts.size(), menuAndPrompts) == 0,
            "menu and prompts come first");

    std::string_view result(written);
    result.remove_prefix(menuAndPrompts.size());
    require(!result.empty() && result.back() == '\n', "the result line ends the output");
    result.remove_suffix(1);

    const std::size_t label = result.find(kChargeLabel);
    require(label != std::string_view::npos && label > 0, "the result line has the label");
    const std::string_view name = result.substr(0, label);
    bool nameIsOneWord = true;
    for (const char byte : name) {
        nameIsOneWord = nameIsOneWord && !isWhitespace(byte);
    }
    require(name == " " || nameIsOneWord, "the name is one word or the single space");

    const std::string_view amount = result.substr(label + kChargeLabel.size());
    require(isTwoDecimalAmount(amount), "the total has exactly two decimals");
    const char choice = size > 0 ? static_cast<char>(data[0]) : ' ';
    require(isChargeForTheChoice(amount, membership::lookupMonthlyRate(choice)),
            "the total is the chosen rate times a month count");
    return 0;
}
