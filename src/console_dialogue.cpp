#include "console_dialogue.hpp"

#include "membership_plans.hpp"

#include <cstdint>
#include <iomanip>
#include <istream>
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

void writeMenu(std::ostream& output)
{
    output << kMenuTitle << std::endl;
    for (const MembershipPlan& plan : kMembershipPlans) {
        output << plan.menuLine << std::endl;
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
    input >> name;

    total = computeTotalCharge(months, rate);
    output << name << kChargeLabel << total << std::endl;
}

} // namespace membership
