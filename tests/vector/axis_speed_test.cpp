// The per-axis junction speed search: the run-by-run method must give bit for bit what the plain
// 0.1 mm/s loop gives.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>

#include "engine/vector/look_ahead.h"

namespace ostrelin::vector {
namespace {

bool SameBits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

TEST(AxisSpeed, MatchesThePlainLoopOnRandomJunctions) {
  std::mt19937_64 random(12345);
  std::uniform_real_distribution<double> angle(1e-7, 1.57079615);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  const double minimums[] = {0.0, 1.0, 2.0, 3.0, 0.5, 10.0};
  long lowered = 0;
  long longRuns = 0;
  for (int i = 0; i < 200000; ++i) {
    // Junctions as the flush makes them: a component of a speed up to the maximum, and the ratio of
    // the cosines (or sines) of two direction angles; some ratios within a hair of 1.
    const double a0 = angle(random);
    const double a1 = (i % 7 == 0) ? a0 + (unit(random) - 0.5) * 1e-9 : angle(random);
    const double ratio = (i % 2 == 0) ? std::cos(a1) / std::cos(a0) : std::sin(a1) / std::sin(a0);
    const double speed = std::cos(a0) * (unit(random) * 520.0);
    const double vmin = (i % 11 == 0) ? unit(random) * 20.0 : minimums[i % 6];
    const double plain = LowerAxisSpeedPlain(speed, ratio, vmin);
    const double fast = LowerAxisSpeed(speed, ratio, vmin);
    ASSERT_TRUE(SameBits(plain, fast))
        << "speed " << speed << " ratio " << ratio << " vmin " << vmin << ": " << plain << " vs " << fast;
    if (plain != speed) ++lowered;
    if (speed - plain > 100.0) ++longRuns;
  }
  // The sample must exercise long loops, not only trivial ones.
  EXPECT_GT(lowered, 50000);
  EXPECT_GT(longRuns, 10000);
}

TEST(AxisSpeed, EdgesOfTheSearch) {
  struct Case {
    double speed;
    double ratio;
    double vmin;
  };
  const Case cases[] = {
      {32767.0, 0.5, 3.0},        // the largest speed a record carries
      {32767.0, 1e-7, 0.0},       // ratio near 0: down to below 0.1
      {200.0, 1.0, 0.0},          // no change across the junction: nothing lowered
      {200.0, 1.0 - 1e-15, 0.0},  // a ratio a hair below 1 with vmin 0
      {200.0, 3.0, 3.0},          // the speed after the junction is the larger one
      {0.05, 0.5, 0.0},           // already below one step
      {4.0, 0.5, 3.0},            // stops at vmin
      {1024.0, 0.25, 1023.9},     // on a power of two, vmin just below it
      {std::nan(""), 0.5, 3.0},   // not a speed: no step
  };
  for (const Case& c : cases) {
    const double plain = LowerAxisSpeedPlain(c.speed, c.ratio, c.vmin);
    EXPECT_TRUE(SameBits(plain, LowerAxisSpeed(c.speed, c.ratio, c.vmin))) << c.speed << " " << c.ratio;
  }
}

}  // namespace
}  // namespace ostrelin::vector
