// Bounds of the look-ahead flush that leave out a square root or two divisions where the result is
// known: they must give bit for bit what the full expressions give, on both sides of every boundary.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>

#include "engine/vector/look_ahead.h"
#include "engine/vector/motion_record.h"

namespace ostrelin::vector {
namespace {

bool SameBits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

double MinRootFull(double bound, double t) { return std::min(bound, std::sqrt(t)); }

double PeakSpeedFull(double vs, double ve, double p, double accel, double lengthMm) {
  const double rampUp = (p * p - vs * vs) / (2.0 * accel);
  const double rampDown = (p * p - ve * ve) / (2.0 * accel);
  if (lengthMm < rampUp + rampDown)
    return std::trunc(std::sqrt((2.0 * accel * lengthMm + vs * vs + ve * ve) / 2.0)) + 1.0;
  return p;
}

TEST(SpeedBounds, MinRootAroundTheSquare) {
  const double inf = std::numeric_limits<double>::infinity();
  const double nan = std::numeric_limits<double>::quiet_NaN();
  std::mt19937_64 random(2024);
  std::uniform_real_distribution<double> speed(0.0, 33000.0);
  long kept = 0;
  for (int i = 0; i < 200000; ++i) {
    const double bound = i % 5 == 0 ? std::floor(speed(random)) : speed(random);
    // t at, just around and far from bound^2, as the backward passes meet it.
    double t = bound * bound;
    switch (i % 4) {
      case 0:
        t = std::nextafter(t, inf);
        break;
      case 1:
        t = std::nextafter(t, 0.0);
        break;
      case 2:
        t = speed(random) * speed(random);
        break;
      default:
        break;
    }
    ASSERT_TRUE(SameBits(MinRoot(bound, t), MinRootFull(bound, t))) << bound << " " << t;
    if (MinRoot(bound, t) == bound) ++kept;
  }
  EXPECT_GT(kept, 50000);
  const double edges[][2] = {{0.0, 0.0},
                             {0.0, 1.0},
                             {1e-200, 1e-300},
                             {1e-100, 1e-200},
                             {3.0, inf},
                             {3.0, nan},
                             {nan, 9.0},
                             {-1.0, 4.0},
                             {inf, inf},
                             {1e200, inf},
                             {2.0, -0.0},
                             {3.0, -inf},
                             {94906267.0, 94906267.0 * 94906267.0}};
  for (const auto& e : edges) {
    EXPECT_TRUE(SameBits(MinRoot(e[0], e[1]), MinRootFull(e[0], e[1]))) << e[0] << " " << e[1];
  }
}

TEST(SpeedBounds, PeakSpeedAroundTheRampLength) {
  std::mt19937_64 random(77);
  std::uniform_int_distribution<int> field(0, 32767);
  std::uniform_int_distribution<int> accel(-50, 5000);
  long lowered = 0;
  long kept = 0;
  for (int i = 0; i < 200000; ++i) {
    const double p = field(random) % 600;
    const double vs = field(random) % (i % 9 == 0 ? 700 : 300);
    const double ve = field(random) % 300;
    const double a = i % 13 == 0 ? 0.0 : accel(random);
    // Lengths exactly at the two ramps' sum and a few units in the last place around it, or anywhere.
    double length = (p * p - vs * vs) / (2.0 * a) + (p * p - ve * ve) / (2.0 * a);
    const int shift = i % 7 - 3;
    for (int s = 0; s < std::abs(shift); ++s) length = std::nextafter(length, shift < 0 ? -1e300 : 1e300);
    if (i % 7 == 6) length = field(random) / 100.0;
    const double full = PeakSpeedFull(vs, ve, p, a, length);
    ASSERT_TRUE(SameBits(PeakSpeed(vs, ve, p, a, length), full))
        << vs << " " << ve << " " << p << " " << a << " " << length;
    if (full == p) {
      ++kept;
    } else {
      ++lowered;
    }
  }
  EXPECT_GT(kept, 20000);
  EXPECT_GT(lowered, 20000);
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double edges[][5] = {{3, 3, 200, 400, 1.0},        {0, 0, 0, 400, 0.0},
                             {0, 0, 0, 400, -0.0},         {3, 3, 3, 0, 5.0},
                             {3, 3, 200, 0, 5.0},          {300, 3, 200, 400, 1e9},
                             {3, 3, 200, -400, 1e9},       {3, 3, 200, 400, nan},
                             {3, 3, 200, 400, 1e308},      {0, 0, 32767, 32767, 1e-310},
                             {32767, 32767, 32767, 1, 0.0}};
  for (const auto& e : edges) {
    EXPECT_TRUE(
        SameBits(PeakSpeed(e[0], e[1], e[2], e[3], e[4]), PeakSpeedFull(e[0], e[1], e[2], e[3], e[4])))
        << e[0] << " " << e[1] << " " << e[2] << " " << e[3] << " " << e[4];
  }
}

}  // namespace
}  // namespace ostrelin::vector
