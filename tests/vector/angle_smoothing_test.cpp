// Angle smoothing of the look-ahead flush: the form that takes the limit's arc tangent only where the
// limit can matter must give bit for bit what the plain form gives.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>
#include <random>
#include <vector>

#include "engine/vector/look_ahead.h"

namespace ostrelin::vector {
namespace {

constexpr double kMinAngle = 1e-7;
constexpr double kMaxAngle = 1.57079615;

bool SameBits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// The direction angle of a displacement as the flush takes it: folded into the first quadrant and
// kept away from the axes.
double Folded(const PlanePoint& d) {
  return std::clamp(std::atan2(std::fabs(d.y), std::fabs(d.x)), kMinAngle, kMaxAngle);
}

// Smooths a copy of the buffer both ways and compares every angle.
void ExpectSameSmoothing(const std::vector<PlanePoint>& d, const std::vector<double>& angles) {
  std::vector<double> plain = angles;
  std::vector<double> fast = angles;
  SmoothAnglesPlain(plain.data(), d.data(), d.size());
  SmoothAngles(fast.data(), d.data(), d.size());
  for (size_t k = 0; k < d.size(); ++k) {
    ASSERT_TRUE(SameBits(plain[k], fast[k])) << "angle " << k << " of " << d.size() << ": d = (" << d[k].x
                                             << ", " << d[k].y << "), " << plain[k] << " vs " << fast[k];
  }
}

// Displacements of the kinds the flush smooths: the steps of a travel move along one direction
// (binary fractions rounded to hundredths, lengths from a few hundredths to metres), shifted by the
// point smoothing (up to 1 hundredth); short strokes of a few hundredths in any direction; moves
// along and next to the axes; equal components; zero displacements.
std::vector<PlanePoint> RandomBuffer(std::mt19937_64& random) {
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  const size_t n = 5 + random() % 60;
  std::vector<PlanePoint> d(n);
  const double direction = unit(random) * 2.0 * std::numbers::pi;
  const int kind = static_cast<int>(random() % 6);
  for (size_t k = 0; k < n; ++k) {
    const double length = std::pow(10.0, unit(random) * 6.0 - 0.5);
    double x = std::round(length * std::cos(direction));
    double y = std::round(length * std::sin(direction));
    switch (kind) {
      case 0:  // a travel move, its points smoothed
        x += (unit(random) - 0.5) * 2.0;
        y += (unit(random) - 0.5) * 2.0;
        break;
      case 1:  // short strokes in any direction
        x = static_cast<double>(static_cast<int>(random() % 11) - 5);
        y = static_cast<double>(static_cast<int>(random() % 11) - 5);
        break;
      case 2:  // along an axis, sometimes a hair off it
        if (random() % 2 == 0) {
          y = random() % 3 == 0 ? (unit(random) - 0.5) * 1e-6 : 0.0;
        } else {
          x = random() % 3 == 0 ? (unit(random) - 0.5) * 1e-6 : 0.0;
        }
        break;
      case 3:  // equal components, and zeros
        y = random() % 4 == 0 ? 0.0 : x;
        if (random() % 5 == 0) x = 0.0;
        break;
      case 4:  // tiny and huge values mixed
        x *= std::pow(10.0, unit(random) * 8.0 - 6.0);
        break;
      default:  // smoothed points with fractions
        x += unit(random);
        y -= unit(random);
        break;
    }
    d[k] = PlanePoint{x, y};
  }
  return d;
}

TEST(AngleSmoothing, MatchesThePlainFormOnRandomBuffers) {
  std::mt19937_64 random(2024);
  for (int i = 0; i < 20000; ++i) {
    const std::vector<PlanePoint> d = RandomBuffer(random);
    std::vector<double> angles(d.size());
    for (size_t k = 0; k < d.size(); ++k) angles[k] = Folded(d[k]);
    ExpectSameSmoothing(d, angles);
    if (HasFatalFailure()) return;
  }
}

// The limit as the plain form computes it, for building neighbours that put the smoothed angle just
// inside, on, or just outside it.
double PlainLimit(double angle, const PlanePoint& d) {
  double ax = std::fabs(d.x);
  double ay = std::fabs(d.y);
  if (ax <= ay) {
    ax += 1.0;
  } else {
    ay += 1.0;
  }
  return std::min(std::fabs(Folded(PlanePoint{ax, ay}) - angle), 0.1);
}

TEST(AngleSmoothing, MatchesThePlainFormRightAtTheLimit) {
  std::mt19937_64 random(77);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  const double nearness[] = {-1e-6, -1e-11, -1e-13, -1e-15, 0.0, 1e-15, 1e-13, 1e-11, 1e-6};
  for (int i = 0; i < 20000; ++i) {
    // One smoothed angle (index 2 of five) whose four neighbours all lie c away from it: the mean
    // is then angle + 4c / 5 and the smoothed angle angle + 2c / 5, which the limit may stop.
    const double length = std::pow(10.0, unit(random) * 5.0 - 0.5);
    const double direction = unit(random) * std::numbers::pi / 2.0;
    const PlanePoint d{std::round(length * std::cos(direction)) + (unit(random) - 0.5) * 2.0,
                       std::round(length * std::sin(direction)) + (unit(random) - 0.5) * 2.0};
    const double angle = Folded(d);
    const double limit = PlainLimit(angle, d);
    const double sign = random() % 2 == 0 ? 1.0 : -1.0;
    const double c = sign * 2.5 * limit * (1.0 + nearness[i % 9]);
    const std::vector<PlanePoint> displacements = {d, d, d, d, d};
    ExpectSameSmoothing(displacements, {angle + c, angle + c, angle, angle + c, angle + c});
    if (HasFatalFailure()) return;
  }
}

TEST(AngleSmoothing, AnglesAtTheEndsOfTheirRange) {
  // Angles clamped to the range, or so close to its ends that the turned direction leaves it.
  const std::vector<PlanePoint> cases = {
      {1000.0, 0.0}, {0.0, 1000.0}, {1e9, 1e-3}, {1e-3, 1e9}, {0.0, 0.0}, {3.0, 1e-7}, {1e-7, 3.0},
      {1.0, 1.0},    {0.5, 0.5},    {2.0, 1.0},  {1.0, 2.0},  {1e6, 1.0}, {1.0, 1e6},
  };
  for (const PlanePoint& d : cases) {
    const double angle = Folded(d);
    for (double shift : {-0.3, -0.05, -1e-9, 0.0, 1e-9, 0.05, 0.3}) {
      ExpectSameSmoothing({d, d, d, d, d}, {angle + shift, angle - shift, angle, angle + shift, angle});
    }
  }
}

}  // namespace
}  // namespace ostrelin::vector
