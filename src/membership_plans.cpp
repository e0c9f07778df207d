#include "membership_plans.hpp"

#include <cctype>

namespace membership {

double lookupMonthlyRate(char choice) noexcept
{
    // toupper is only defined for unsigned char values (and EOF): a signed
    // byte above 127 must not reach it as a negative int.
    const int folded = std::toupper(static_cast<unsigned char>(choice));
    for (const MembershipPlan& plan : kMembershipPlans) {
        if (folded == static_cast<unsigned char>(plan.letter)) {
            return static_cast<double>(plan.monthlyRate);
        }
    }
    return 0.0;
}

double computeTotalCharge(std::int32_t months, double monthlyRate) noexcept
{
    return static_cast<double>(months) * monthlyRate;
}

} // namespace membership
