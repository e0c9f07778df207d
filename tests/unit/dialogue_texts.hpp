#pragma once

#include <iosfwd>
#include <string>
#include <string_view>

// What the program writes, byte for byte: the one place the tests have it,
// never taken from the code under test. The process tests read it from here
// too (expected_output.py), so each text stays a plain literal.
namespace membership::expected {

inline constexpr std::string_view kMenu = " Brenmoor Menu \n"
                                          " A. Adult membership\n"
                                          " B. Child membership\n"
                                          " C. Senior membership\n"
                                          " D. Family memmbership\n";
inline constexpr std::string_view kChoicePrompt = "Enter your choice: ";
inline constexpr std::string_view kMonthsPrompt = "Enter How many Months? ";
inline constexpr std::string_view kNamePrompt = "Enter Your Name? ";
inline constexpr std::string_view kChargeLabel = " The Total Charge is $ ";
inline constexpr std::string_view kPausePrompt = "Press any key to continue . . . ";
// The worked example: six months of the Adult plan for Ann.
inline constexpr std::string_view kWorkedExampleInput = "a\n6\nAnn\n";
inline constexpr std::string_view kWorkedExampleResult = "Ann The Total Charge is $ 240.00\n";

// The result line for the name and total shown.
inline std::string resultLine(std::string_view name, std::string_view total)
{
    return std::string(name).append(kChargeLabel).append(total).append("\n");
}

// What every run writes before its result line.
inline std::string menuAndPrompts()
{
    return std::string(kMenu).append(kChoicePrompt).append(kMonthsPrompt).append(kNamePrompt);
}

// What the dialogue writes for `input` (defined with the dialogue's tests).
std::string runDialogue(std::string_view input);

} // namespace membership::expected
