#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <string_view>

namespace membership::expected {

// For EXPECT_PRED_FORMAT2: two texts alike, or, in one line, where they first
// differ, with a little of each around it (never the whole texts: a name may
// be long), and their lengths.
inline ::testing::AssertionResult sameText(const char* /*actualExpression*/,
                                           const char* /*expectedExpression*/,
                                           std::string_view actual, std::string_view expected)
{
    if (actual == expected) {
        return ::testing::AssertionSuccess();
    }
    constexpr std::size_t kContext = 24;
    const auto at = static_cast<std::size_t>(
        std::mismatch(actual.begin(), actual.end(), expected.begin(), expected.end()).first -
        actual.begin());
    const std::size_t from = at - std::min(at, kContext);
    const auto around = [&](std::string_view text) {
        return ::testing::PrintToString(std::string(text.substr(from, 2 * kContext)));
    };
    return ::testing::AssertionFailure()
           << "from byte " << from << ", came " << around(actual) << " (" << actual.size()
           << " bytes in all), due " << around(expected) << " (" << expected.size() << ")";
}

} // namespace membership::expected
