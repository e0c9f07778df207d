#include "membership_plans.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <map>
#include <vector>

namespace membership {
namespace {

TEST(LookupMonthlyRate, EveryByteValue)
{
    const std::map<unsigned char, double> selecting{
        {'A', 40.0}, {'a', 40.0}, {'B', 20.0}, {'b', 20.0},
        {'C', 30.0}, {'c', 30.0}, {'D', 50.0}, {'d', 50.0},
    };
    for (int value = 0; value <= std::numeric_limits<unsigned char>::max(); ++value) {
        const auto byte = static_cast<unsigned char>(value);
        const double rate = lookupMonthlyRate(static_cast<char>(byte));
        const auto plan = selecting.find(byte);
        if (plan != selecting.end()) {
            EXPECT_EQ(rate, plan->second) << "byte " << value;
        } else {
            EXPECT_EQ(rate, 0.0) << "byte " << value;
            EXPECT_FALSE(std::signbit(rate)) << "byte " << value << " gave -0.0";
        }
    }
}

struct ChargeCase
{
    std::int32_t months;
    double monthlyRate;
    double expected;
};

TEST(ComputeTotalCharge, Table)
{
    constexpr std::int32_t kMost = std::numeric_limits<std::int32_t>::max();
    constexpr std::int32_t kLeast = std::numeric_limits<std::int32_t>::min();
    const std::vector<ChargeCase> cases{
        {12, 50.0, 600.0},
        {6, 40.0, 240.0},
        {3, 30.0, 90.0},
        {1, 20.0, 20.0},
        {0, 50.0, 0.0},
        {0, 0.0, 0.0},
        {3, 0.0, 0.0},
        {-3, 20.0, -60.0},
        {-3, 0.0, -0.0},
        {kMost, 50.0, 107374182350.0},
        {kLeast, 50.0, -107374182400.0},
        {kMost, 0.0, 0.0},
    };
    for (const ChargeCase& charge : cases) {
        const double total = computeTotalCharge(charge.months, charge.monthlyRate);
        EXPECT_EQ(total, charge.expected) << charge.months << " x " << charge.monthlyRate;
        EXPECT_EQ(std::signbit(total), std::signbit(charge.expected))
            << charge.months << " x " << charge.monthlyRate << ": sign of zero";
    }
}

} // namespace
} // namespace membership
