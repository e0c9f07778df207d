#include "console_dialogue.hpp"

#include "membership_plans.hpp"

#include <cstddef>
#include <cstdint>
#include <iomanip>
#include <ios>
#include <istream>
#include <locale>
#include <new>
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

// Room for `size` characters in `name`, where it can be had. The size is only
// a hint: a /proc file says it ends at 0, a file may shrink or grow, a sparse
// one may claim more than a string holds. Without the room, the name grows as
// it comes.
void reserveIfAble(std::string& name, std::streamoff size)
{
    if (size <= 0 || static_cast<std::uintmax_t>(size) > name.max_size()) {
        return;
    }
    try {
        name.reserve(static_cast<std::size_t>(size));
    } catch (const std::bad_alloc&) {
        // The room only spares copies.
    }
}

// A name longer than a string holds cannot be read whole: a read that failed,
// not a name cut short (a 32-bit string holds a little under 1 GiB).
std::error_code tooLong(std::istream& input)
{
    input.setstate(std::ios_base::badbit);
    return std::make_error_code(std::errc::value_too_large);
}

// The name, one word, as `input >> name` reads it, but never cut: a name that
// fills a string and goes on, or memory that runs out, marks the stream bad
// (as an extraction does) and is the reason returned.
std::error_code readName(std::istream& input, std::string& name)
{
    input >> std::setw(kNameGlance) >> name;
    if (!wordGoesOn(input)) {
        return {};
    }
    const std::istream::pos_type after = input.tellg();
    if (after != std::istream::pos_type(-1)) {
        const std::istream::pos_type start = after - std::streamoff(name.size());
        const std::streamoff left = input.seekg(0, std::ios_base::end) ? input.tellg() - start : 0;
        input.clear(input.rdstate() & ~std::ios_base::failbit); // an end it cannot tell
        if (input.seekg(start)) {
            reserveIfAble(name, left);
            input >> name; // stops, without a word, once the string is full
            return name.size() == name.max_size() && wordGoesOn(input) ? tooLong(input)
                                                                       : std::error_code{};
        }
    }
    input.clear(input.rdstate() & ~std::ios_base::failbit); // a failed seek's mark
    try {
        std::string piece;
        while (wordGoesOn(input) && input >> std::setw(kNameGlance) >> piece) {
            if (piece.size() > name.max_size() - name.size()) {
                return tooLong(input);
            }
            name += piece;
        }
    } catch (const std::bad_alloc&) {
        input.setstate(std::ios_base::badbit);
        return std::make_error_code(std::errc::not_enough_memory);
    }
    return {};
}

} // namespace

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
    const std::error_code nameUnread = readName(input, name);

    total = computeTotalCharge(months, rate);
    output << name << kChargeLabel << total << std::endl;
    return nameUnread;
}

} // namespace membership
