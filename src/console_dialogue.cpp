#include "console_dialogue.hpp"

#include "membership_plans.hpp"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <iomanip>
#include <ios>
#include <istream>
#include <limits>
#include <locale>
#include <ostream>
#include <string>
#include <string_view>
#include <system_error>

namespace membership {
namespace {

constexpr std::string_view kMenuTitle = " Brenmoor Menu ";
constexpr std::string_view kChoicePrompt = "Enter your choice: ";
constexpr std::string_view kMonthsPrompt = "Enter How many Months? ";
constexpr std::string_view kNamePrompt = "Enter Your Name? ";
constexpr std::string_view kChargeLabel = " The Total Charge is $ ";
constexpr int kChargeDecimals = 2;

void writeMenu(std::ostream& output)
{
    output << kMenuTitle << std::endl;
    for (const MembershipPlan& plan : kMembershipPlans) {
        output << plan.menuLine << std::endl;
    }
}

} // namespace

std::error_code readName(std::istream& input, std::string& name, std::size_t longest)
{
    constexpr auto kWidest = static_cast<std::size_t>(std::numeric_limits<std::streamsize>::max());
    input.width(static_cast<std::streamsize>(std::min(longest, kWidest)));
    input >> name;
    if (name.size() < longest) {
        return {};
    }
    const std::istream::int_type next = input.peek();
    if (next == std::istream::traits_type::eof() ||
        std::isspace(std::istream::traits_type::to_char_type(next), input.getloc())) {
        return {};
    }
    input.setstate(std::ios_base::badbit);
    return std::make_error_code(std::errc::value_too_large);
}

std::error_code runConsoleDialogue(std::istream& input, std::ostream& output)
{
    // Initial values are visible: each read that takes nothing leaves its
    // entry as it is here.
    char choice = ' ';
    std::int32_t months = 0;
    double rate = 0.0;
    double total = 0.0;
    std::string name = " ";

    writeMenu(output);

    output << kChoicePrompt;
    input.get(choice); // raw: a space or line end typed first is the choice
    output << std::fixed << std::showpoint << std::setprecision(kChargeDecimals);
    rate = lookupMonthlyRate(choice);

    output << kMonthsPrompt;
    input >> months;
    output << kNamePrompt;
    const std::error_code nameUnread = readName(input, name, name.max_size());

    total = computeTotalCharge(months, rate);
    output << name << kChargeLabel << total << std::endl;
    return nameUnread;
}

} // namespace membership
