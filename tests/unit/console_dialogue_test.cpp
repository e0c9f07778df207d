#include "console_dialogue.hpp"
#include "dialogue_texts.hpp"
#include "same_text.hpp"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

namespace membership {
namespace {

struct ResultCase
{
    const char* promise; // the manual's words
    std::string input;
    std::string name; // as the result line shows it
    const char* total;
    int line; // the row's, for its failure
};

ResultCase row(const char* promise, std::string input, std::string name, const char* total,
               int line = __builtin_LINE())
{
    return {promise, std::move(input), std::move(name), total, line};
}

// Each promise of the manual's DESCRIPTION and "Unusual entries" for what
// the entries give, with the name and total the result line shows (the menu
// and prompts always come before it, whatever the input).
TEST(ConsoleDialogue, ResultLineForEachPromiseOfTheManual)
{
    const std::string longName(20000, 'N');
    const std::vector<ResultCase> cases{
        row("the worked example", std::string(expected::kWorkedExampleInput), "Ann", "240.00"),
        row("the plan letter in either case: A", "A\n6\nAnn\n", "Ann", "240.00"),
        row("D, Family: fixed notation, two decimals", "d\n12\nDi\n", "Di", "600.00"),
        row("no grouping, and never rounded", "D\n2147483647\nMax\n", "Max", "107374182350.00"),
        row("any other character selects no plan", "E\n5\nAnn\n", "Ann", "0.00"),
        row("a byte above 127 selects no plan", "\xE1\n5\nAnn\n", "Ann", "0.00"),
        row("an empty line selects no plan", "\n3\nAnn\n", "Ann", "0.00"),
        row("a space before the letter is the choice, the letter spoils the count", " A\n6\nAnn\n",
            " ", "0.00"),
        row("a whole word selects by its first letter, the rest spoils the count",
            "Adult\n6\nAnn\n", " ", "0.00"),
        row("the letter and the month count may share a line", "B 4\nBo\n", "Bo", "80.00"),
        row("the month count is a signed whole number, not checked", "A\n-2\nAnn\n", "Ann",
            "-80.00"),
        row("a count with a sign", "A\n+7\nAnn\n", "Ann", "280.00"),
        row("a negative count with no plan prints minus zero", "x\n-3\nAnn\n", "Ann", "-0.00"),
        row("a count not a number: 0, and the name is not read", "A\nsix\nAnn\n", " ", "0.00"),
        row("a count with a fraction: .5 becomes the name", "A\n2.5\nAnn\n", ".5", "80.00"),
        row("an empty line at the month or name prompt is passed over", "a\n\n6\n\nAnn\n", "Ann",
            "240.00"),
        row("above the range: the limit, and the name not read", "A\n99999999999\nAnn\n", " ",
            "85899345880.00"),
        row("below the range: the limit, and the name not read", "A\n-99999999999\nAnn\n", " ",
            "-85899345920.00"),
        row("the name is one word", "A\n6\nAnn Lee\n", "Ann", "240.00"),
        row("the name's bytes as they come", "A\n1\nJos\xC3\xA9\n", "Jos\xC3\xA9", "40.00"),
        row("a long name, whole", "C\n2\n" + longName + " Lee\n", longName, "60.00"),
        row("the end of input before the choice", "", " ", "0.00"),
        row("the end of input before the count", "A", " ", "0.00"),
        row("the end of input before the name", "A\n6\n\n", " ", "240.00"),
        row("the end of input ends the name", "C\n2\nAnn", "Ann", "60.00"),
    };
    const std::string menuAndPrompts = expected::menuAndPrompts();
    for (const ResultCase& entry : cases) {
        const ::testing::ScopedTrace trace(__FILE__, entry.line, entry.promise);
        const std::string output = expected::runDialogue(entry.input);
        // Whatever the input: said once, as every row would say it.
        ASSERT_PRED_FORMAT2(expected::sameText, output.substr(0, menuAndPrompts.size()),
                            menuAndPrompts)
            << "the menu and prompts";
        EXPECT_PRED_FORMAT2(expected::sameText, output.substr(menuAndPrompts.size()),
                            expected::resultLine(entry.name, entry.total));
    }
}

// A name longer than a string holds is a read that failed, never a name cut
// short: a 32-bit string holds a little under 1 GiB, so a small `longest`
// stands in for it.
TEST(ReadName, ANameLongerThanAStringHoldsIsAReadThatFailed)
{
    struct NameCase
    {
        const char* what;
        const char* input;
        const char* name;
        bool failed;
    };
    const std::vector<NameCase> cases{
        {"as long as it may be, then a space", "Annabel Lee", "Annabel", false},
        {"as long as it may be, then the end of input", "Annabel", "Annabel", false},
        {"longer", "Annabelle", "Annabel", true},
    };
    for (const NameCase& entry : cases) {
        std::istringstream input(entry.input);
        std::string name = " ";
        const std::error_code reason = readName(input, name, 7);
        EXPECT_EQ(name, entry.name) << entry.what;
        EXPECT_EQ(input.bad(), entry.failed) << entry.what;
        EXPECT_EQ(reason, entry.failed ? std::errc::value_too_large : std::errc{}) << entry.what;
    }
}

} // namespace
} // namespace membership

std::string membership::expected::runDialogue(std::string_view input)
{
    std::istringstream in{std::string(input)};
    std::ostringstream output;
    runConsoleDialogue(in, output);
    return output.str();
}
