#include "membership_plans.hpp"

#include <algorithm>
#include <cctype>

namespace membership {

double lookupMonthlyRate(char choice) noexcept
{
    // toupper is only defined for unsigned char values (and EOF): a signed
    // byte above 127 must not reach it as a negative int.
    const int folded = std::toupper(static_cast<unsigned char>(choice));
    const auto plan =
        std::find_if(kMembershipPlans.begin(), kMembershipPlans.end(),
                     [folded](const MembershipPlan& candidate) {
                         return folded == static_cast<unsigned char>(candidate.letter);
                     });
    return plan != kMembershipPlans.end() ? static_cast<double>(plan->monthlyRate) : 0.0;
}

double computeTotalCharge(std::int32_t months, double monthlyRate) noexcept
{
    return static_cast<double>(months) * monthlyRate;
}

} // namespace membership
