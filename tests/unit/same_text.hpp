#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <string_view>

namespace membership::expected {

// For EXPECT_PRED_FORMAT2: two texts alike, or where they differ, their
// lengths and the first difference with a little context each side, never
// the whole texts (a name may be megabytes long).
inline ::testing::AssertionResult sameText(const char* actualExpression,
                                           const char* expectedExpression, std::string_view actual,
                                           std::string_view expected)
{
    if (actual == expected) {
        return ::testing::AssertionSuccess();
    }
    constexpr std::size_t kContext = 24;
    const auto [actualAt, expectedAt] =
        std::mismatch(actual.begin(), actual.end(), expected.begin(), expected.end());
    const auto at = static_cast<std::size_t>(actualAt - actual.begin());
    const std::size_t from = at - std::min(at, kContext);
    const auto around = [&](std::string_view text) {
        return ::testing::PrintToString(std::string(text.substr(from, 2 * kContext)));
    };
    return ::testing::AssertionFailure()
           << actualExpression << " (" << actual.size() << " bytes) and " << expectedExpression
           << " (" << expected.size() << " bytes) differ first at byte " << at << ", from byte "
           << from << ":\n  actual:   " << around(actual) << "\n  expected: " << around(expected);
}

} // namespace membership::expected
