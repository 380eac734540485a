// Motion code tables and divisors of the classic motion controller.
#pragma once

#include <array>
#include <cstdint>

namespace ostrelin {

// Entry i of table s is the speed in mm/s of speed code i; entries never decrease, 0 to 200.
extern const std::array<std::array<int16_t, 256>, 3> kMotionTables;

// Step divisor of each table.
constexpr double kMotionDivisors[3] = {5550.0, 6000.0, 5400.0};

}  // namespace ostrelin
