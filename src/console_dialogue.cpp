#include "console_dialogue.hpp"

#include "membership_plans.hpp"

#include <cstdint>
#include <iomanip>
#include <ios>
#include <istream>
#include <locale>
#include <new>
#include <ostream>
#include <string>
#include <string_view>

namespace membership {
namespace {

constexpr std::string_view kMenuTitle = " Brenmoor Menu ";
constexpr std::string_view kChoicePrompt = "Enter your choice: ";
constexpr std::string_view kMonthsPrompt = "Enter How many Months? ";
constexpr std::string_view kNamePrompt = "Enter Your Name? ";
constexpr std::string_view kChargeLabel = " The Total Charge is $ ";
constexpr int kChargeDecimals = 2;

// A name is first read up to this long. One that goes on is long: where the
// input can go back (a file), it is read again from its start into room for
// the rest of the input, so that it never grows by copying itself.
constexpr std::streamsize kNameGlance = 4096;

void writeMenu(std::ostream& output)
{
    output << kMenuTitle << std::endl;
    for (const MembershipPlan& plan : kMembershipPlans) {
        output << plan.menuLine << std::endl;
    }
}

bool wordGoesOn(std::istream& input)
{
    const std::istream::int_type next =
        input.good() ? input.peek() : std::istream::traits_type::eof();
    return next != std::istream::traits_type::eof() &&
           !std::isspace(std::istream::traits_type::to_char_type(next), input.getloc());
}

// The name, one word, as `input >> name` reads it.
void readName(std::istream& input, std::string& name)
{
    input >> std::setw(kNameGlance) >> name;
    if (!wordGoesOn(input)) {
        return;
    }
    const std::istream::pos_type after = input.tellg();
    const std::istream::pos_type start = after - std::streamoff(name.size());
    if (after != std::istream::pos_type(-1) && input.seekg(0, std::ios_base::end)) {
        const std::streamoff left = input.tellg() - start;
        input.seekg(start);
        try {
            name.reserve(static_cast<std::size_t>(left));
        } catch (const std::bad_alloc&) {
            // The room only spares copies: without it the name grows as it comes.
        }
        input >> name;
        return;
    }
    input.clear(input.rdstate() & ~std::ios_base::failbit); // a failed seek's mark
    std::string piece;
    while (wordGoesOn(input) && input >> std::setw(kNameGlance) >> piece) {
        name += piece;
    }
}

} // namespace

void runConsoleDialogue(std::istream& input, std::ostream& output)
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
    readName(input, name);

    total = computeTotalCharge(months, rate);
    output << name << kChargeLabel << total << std::endl;
}

} // namespace membership
