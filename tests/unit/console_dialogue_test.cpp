#include "console_dialogue.hpp"
#include "dialogue_texts.hpp"
#include "same_text.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <ios>
#include <limits>
#include <sstream>
#include <streambuf>
#include <string>
#include <utility>
#include <vector>

namespace membership {
namespace {

using expected::dialogueWith;
using expected::runDialogue;
using expected::sameText;

const std::string kLongName = std::string(5000, 'N') + "x";

// A string's stream buffer that says it ends at `claimedEnd`: moved to its
// end, it tells that as its position until it is moved elsewhere.
class ClaimingAnEnd : public std::stringbuf
{
public:
    ClaimingAnEnd(const std::string& text, off_type claimedEnd)
        : std::stringbuf(text, std::ios_base::in), claimedEnd_(claimedEnd)
    {
    }

protected:
    pos_type seekoff(off_type offset, std::ios_base::seekdir from,
                     std::ios_base::openmode which) override
    {
        atClaimedEnd_ = from == std::ios_base::end || (atClaimedEnd_ && from == std::ios_base::cur);
        return atClaimedEnd_ ? pos_type(claimedEnd_ + offset)
                             : std::stringbuf::seekoff(offset, from, which);
    }
    pos_type seekpos(pos_type position, std::ios_base::openmode which) override
    {
        atClaimedEnd_ = false;
        return std::stringbuf::seekpos(position, which);
    }

private:
    off_type claimedEnd_;
    bool atClaimedEnd_ = false;
};

struct ResultCase
{
    const char* what;
    std::string input;
    std::string resultLine;
};

TEST(ConsoleDialogue, ResultLineForEachKindOfEntry)
{
    const std::vector<ResultCase> cases{
        {"the worked example, lower-case choice", "a\n6\nAnn\n",
         "Ann The Total Charge is $ 240.00"},
        {"upper-case choice", "A\n6\nAnn\n", "Ann The Total Charge is $ 240.00"},
        {"child plan", "b\n1\nBo\n", "Bo The Total Charge is $ 20.00"},
        {"senior plan", "C\n3\nCy\n", "Cy The Total Charge is $ 90.00"},
        {"family plan, lower case", "d\n12\nDi\n", "Di The Total Charge is $ 600.00"},
        {"no months", "A\n0\nAnn\n", "Ann The Total Charge is $ 0.00"},
        {"explicit plus sign", "A\n+7\nAnn\n", "Ann The Total Charge is $ 280.00"},
        {"negative months", "A\n-2\nAnn\n", "Ann The Total Charge is $ -80.00"},
        {"no plan, negative months", "E\n-3\nAnn\n", "Ann The Total Charge is $ -0.00"},
        {"digit as choice", "1\n5\nAnn\n", "Ann The Total Charge is $ 0.00"},
        {"byte above 127 as choice", "\xE1\n5\nAnn\n", "Ann The Total Charge is $ 0.00"},
        {"only Enter at the choice", "\n3\nAnn\n", "Ann The Total Charge is $ 0.00"},
        {"only Enter, negative months", "\n-3\nAnn\n", "Ann The Total Charge is $ -0.00"},
        {"space before the letter", " A\n6\nAnn\n", "  The Total Charge is $ 0.00"},
        {"whole word as choice", "Adult\n6\nAnn\n", "  The Total Charge is $ 0.00"},
        {"choice and months on one line", "B 4\nBo\n", "Bo The Total Charge is $ 80.00"},
        {"fractional months", "A\n2.5\nAnn\n", ".5 The Total Charge is $ 80.00"},
        {"two-word name", "A\n6\nAnn Lee\n", "Ann The Total Charge is $ 240.00"},
        {"8-bit name", "A\n1\nJos\xC3\xA9\n", "Jos\xC3\xA9 The Total Charge is $ 40.00"},
        {"months not a number", "A\nsix\nAnn\n", "  The Total Charge is $ 0.00"},
        {"largest month count", "D\n2147483647\nMax\n",
         "Max The Total Charge is $ 107374182350.00"},
        // Out of range: the extraction fails and stores the nearest limit.
        {"months above range", "A\n99999999999\nAnn\n", "  The Total Charge is $ 85899345880.00"},
        {"months below range", "A\n-99999999999\nAnn\n", "  The Total Charge is $ -85899345920.00"},
        {"empty input", "", "  The Total Charge is $ 0.00"},
        {"input ends after the choice", "A", "  The Total Charge is $ 0.00"},
        {"input ends after the months", "A\n6", "  The Total Charge is $ 240.00"},
        {"input ends before the name", "A\n6\n\n", "  The Total Charge is $ 240.00"},
        {"name without line end", "C\n2\nAnn", "Ann The Total Charge is $ 60.00"},
        // Longer than a first look at it: read again into room made for it.
        {"long name, then more", "C\n2\n" + kLongName + " Lee\nnext\n",
         kLongName + " The Total Charge is $ 60.00"},
        {"long name at the end of input", "C\n2\n" + kLongName,
         kLongName + " The Total Charge is $ 60.00"},
        {"name as long as a first look", "C\n2\n" + std::string(4096, 'N') + "\n",
         std::string(4096, 'N') + " The Total Charge is $ 60.00"},
    };
    for (const ResultCase& entry : cases) {
        EXPECT_PRED_FORMAT2(sameText, runDialogue(entry.input),
                            dialogueWith(entry.resultLine + "\n"))
            << entry.what;
    }
}

// What an input says of its end is only a hint for a long name's room: a
// /proc file says 0, a growing file too little, a sparse one more than a
// string can hold.
TEST(ConsoleDialogue, LongNameWholeWhateverTheInputSaysOfItsEnd)
{
    const std::string input = "C\n2\n" + kLongName + " Lee\n";
    const std::vector<std::pair<const char*, std::streamoff>> claimedEnds{
        {"at 0", 0},
        {"within the name", 100},
        {"beyond what a string holds", std::numeric_limits<std::streamoff>::max()},
    };
    for (const auto& [what, end] : claimedEnds) {
        ClaimingAnEnd buffer(input, end);
        std::istream in(&buffer);
        EXPECT_PRED_FORMAT2(sameText, runDialogue(in),
                            dialogueWith(kLongName + " The Total Charge is $ 60.00\n"))
            << "an end " << what;
    }
}

TEST(ConsoleDialogue, LeavesUnreadInputInTheStream)
{
    std::istringstream in("A\n6\nAnn Lee\nnext\n");
    std::ostringstream out;
    runConsoleDialogue(in, out);
    std::string rest;
    std::getline(in, rest, '\0');
    EXPECT_EQ(rest, " Lee\nnext\n");
}

} // namespace
} // namespace membership

std::string membership::expected::runDialogue(std::istream& input)
{
    std::ostringstream output;
    runConsoleDialogue(input, output);
    return output.str();
}

std::string membership::expected::runDialogue(std::string_view input)
{
    std::istringstream in{std::string(input)};
    return runDialogue(in);
}
