#pragma once

#include <iosfwd>
#include <string>
#include <string_view>

// What the dialogue writes, byte for byte, written out once for the tests
// and the fuzzer, and never taken from the code under test.
namespace membership::expected {

inline constexpr std::string_view kMenu = " Brenmoor Menu \n"
                                          " A. Adult membership\n"
                                          " B. Child membership\n"
                                          " C. Senior membership\n"
                                          " D. Family memmbership\n";
inline constexpr std::string_view kPrompts =
    "Enter your choice: Enter How many Months? Enter Your Name? ";
inline constexpr std::string_view kChargeLabel = " The Total Charge is $ ";
inline constexpr std::string_view kWorkedExampleInput = "a\n6\nAnn\n";
inline constexpr std::string_view kWorkedExampleResult = "Ann The Total Charge is $ 240.00\n";

// The whole output of a run whose result line is `resultLine`.
inline std::string dialogueWith(std::string_view resultLine)
{
    return std::string(kMenu).append(kPrompts).append(resultLine);
}

// What the dialogue writes for `input` (defined with the dialogue's tests).
std::string runDialogue(std::istream& input);
std::string runDialogue(std::string_view input);

} // namespace membership::expected
