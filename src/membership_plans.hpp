#pragma once

#include <array>
#include <cstdint>
#include <string_view>

namespace membership {

struct MembershipPlan
{
    char letter;               // upper-case letter that selects the plan
    std::string_view menuLine; // the plan's line in the menu
    float monthlyRate;         // dollars per month
};

// The catalogue in menu order. Rates are single precision by design; they are
// widened to double when a plan is selected. "memmbership" is spelt so on
// purpose: scripts compare the menu byte for byte.
inline constexpr std::array<MembershipPlan, 4> kMembershipPlans{{
    {'A', " A. Adult membership", 40.0F},
    {'B', " B. Child membership", 20.0F},
    {'C', " C. Senior membership", 30.0F},
    {'D', " D. Family memmbership", 50.0F},
}};

// The monthly rate of the plan the choice selects (either case), or +0.0 when
// it selects none.
[[nodiscard]] double lookupMonthlyRate(char choice) noexcept;

// months x monthlyRate, unrounded and unchecked: a negative count gives a
// negative charge, and a negative count at rate 0.0 gives -0.0.
[[nodiscard]] double computeTotalCharge(std::int32_t months, double monthlyRate) noexcept;

} // namespace membership
