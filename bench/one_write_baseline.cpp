// The floor for a run's cost: the worked example's whole output, made when
// it is compiled, in one write(), and nothing of the C++ library's.
#include "dialogue_texts.hpp"

#include <array>
#include <cstddef>

#include <unistd.h>

namespace {

using membership::expected::kMenu;
using membership::expected::kPrompts;
using membership::expected::kWorkedExampleResult;

constexpr auto kOutput = [] {
    std::array<char, kMenu.size() + kPrompts.size() + kWorkedExampleResult.size()> bytes{};
    std::size_t next = 0;
    for (const std::string_view piece : {kMenu, kPrompts, kWorkedExampleResult}) {
        for (const char byte : piece) {
            bytes.at(next++) = byte;
        }
    }
    return bytes;
}();

} // namespace

int main()
{
    return write(STDOUT_FILENO, kOutput.data(), kOutput.size()) ==
                   static_cast<ssize_t>(kOutput.size())
               ? 0
               : 1;
}
