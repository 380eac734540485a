// The look-ahead flush: junction speeds, accelerations and peaks of a buffer of profiled records.
#include "engine/vector/look_ahead.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "engine/scratch.h"

namespace ostrelin::vector {
namespace {

// Speed step (mm/s) of the per-axis junction search.
constexpr double kSpeedStep = 0.1;
// Largest shift (hundredths of a millimetre) of a smoothed point and (radians) of a smoothed angle.
constexpr double kPointShift = 1.0;
constexpr double kAngleShift = 0.1;
// Direction angles stay inside the first quadrant, away from the axes.
constexpr double kMinAngle = 1e-7;
constexpr double kMaxAngle = 1.57079615;
// Buffers shorter than this are not smoothed.
constexpr size_t kSmoothFrom = 5;

double ClampAngle(double a) { return std::clamp(a, kMinAngle, kMaxAngle); }

double FoldedAngle(double x, double y) { return ClampAngle(std::atan2(std::fabs(y), std::fabs(x))); }

double Length(const PlanePoint& d) { return std::sqrt(d.x * d.x + d.y * d.y); }

// The loop's condition: the speed still jumps by more than vmin at the junction, and may go lower.
bool KeepsLowering(double speed, double ratio, double vmin, bool fromAbove) {
  const double after = speed * ratio;
  const bool jump = fromAbove ? speed > after + vmin : after > speed + vmin;
  return jump && speed > vmin && speed >= kSpeedStep;
}

/* Number of further 0.1 steps, from speed, that the plain loop certainly takes with exact
 * subtractions, or 0 when that cannot be proved (the caller then takes one plain step).
 * While speed stays in one binade [low, 2 low) with low >= 1 and speed - 0.1 >= low, the double
 * subtraction speed - 0.1 always removes the same amount `step` (the rounding of 0.1 to the binade's
 * spacing, never a tie there), so after i steps the speed is exactly speed - i * step. The loop's
 * three conditions are then checked for the whole run at once: speed > vmin and speed >= 0.1 are
 * monotone; the jump condition is the sign of m(s) = s (1 - ratio) - vmin (or s (ratio - 1) - vmin),
 * linear in i, whose rounded evaluation can only be wrong where |m| is within a few units in the
 * last place of the operands; steps are taken only where m stays clearly above that bound. */
int64_t CertainSteps(double speed, double ratio, double vmin, bool fromAbove) {
  if (!(speed >= 2.0) || !std::isfinite(ratio) || !std::isfinite(vmin)) return 0;
  int exponent = 0;
  std::frexp(speed, &exponent);
  const double low = std::ldexp(1.0, exponent - 1);
  const double step = speed - (speed - kSpeedStep);
  // Steps whose subtraction stays in the binade.
  const double inBinade = std::floor((speed - low - kSpeedStep) / step) - 1.0;
  if (!(inBinade >= 1.0)) return 0;
  double limit = inBinade;
  // speed_i > vmin for every step taken.
  if (vmin >= low) {
    const double aboveMin = std::floor((speed - vmin) / step) - 1.0;
    if (!(aboveMin >= 1.0)) return 0;
    limit = std::min(limit, aboveMin);
  }
  // The jump condition, with a generous bound on the rounding of its evaluation.
  const double slope = fromAbove ? 1.0 - ratio : ratio - 1.0;
  const double margin = speed * slope - vmin;
  const double bound = 0x1p-46 * (speed * (1.0 + std::fabs(ratio)) + std::fabs(vmin));
  if (!(margin > bound)) return 0;
  if (slope > 0.0) {
    const double whileClear = std::floor((margin - bound) / (step * slope)) - 1.0;
    if (!(whileClear >= 1.0)) return 0;
    limit = std::min(limit, whileClear);
  }
  return static_cast<int64_t>(limit);
}

}  // namespace

double LowerAxisSpeedPlain(double speed, double ratio, double vmin) {
  const bool fromAbove = speed > speed * ratio;
  while (KeepsLowering(speed, ratio, vmin, fromAbove)) speed -= kSpeedStep;
  return speed;
}

double LowerAxisSpeed(double speed, double ratio, double vmin) {
  const bool fromAbove = speed > speed * ratio;
  while (KeepsLowering(speed, ratio, vmin, fromAbove)) {
    const int64_t steps = CertainSteps(speed, ratio, vmin, fromAbove);
    if (steps > 0) {
      const double step = speed - (speed - kSpeedStep);
      speed -= static_cast<double>(steps) * step;
    } else {
      speed -= kSpeedStep;
    }
  }
  return speed;
}

namespace {

// Point smoothing: from the back, each point but the first two and last two moves halfway to the
// mean of itself and its two neighbours on each side, by at most 1 hundredth and not below 0.
void SmoothPoints(PlanePoint* p, size_t n) {
  for (size_t k = n - 3; k >= 2; --k) {
    const double mx = (p[k - 2].x + p[k - 1].x + p[k].x + p[k + 1].x + p[k + 2].x) / 5.0;
    const double my = (p[k - 2].y + p[k - 1].y + p[k].y + p[k + 1].y + p[k + 2].y) / 5.0;
    const double qx = std::clamp((p[k].x + mx) / 2.0, p[k].x - kPointShift, p[k].x + kPointShift);
    const double qy = std::clamp((p[k].y + my) / 2.0, p[k].y - kPointShift, p[k].y + kPointShift);
    p[k] = PlanePoint{std::max(qx, 0.0), std::max(qy, 0.0)};
  }
}

// Angle smoothing, likewise from the back; an angle moves by at most what one hundredth across
// its record would turn it, and by at most 0.1 radian.
void SmoothAngles(double* a, const PlanePoint* d, size_t n) {
  for (size_t k = n - 3; k >= 2; --k) {
    const double mean = (a[k - 2] + a[k - 1] + a[k] + a[k + 1] + a[k + 2]) / 5.0;
    double b = (a[k] + mean) / 2.0;
    double ax = std::fabs(d[k].x);
    double ay = std::fabs(d[k].y);
    if (ax <= ay) {
      ax += 1.0;
    } else {
      ay += 1.0;
    }
    const double limit = std::min(std::fabs(FoldedAngle(ax, ay) - a[k]), kAngleShift);
    b = std::clamp(b, a[k] - limit, a[k] + limit);
    a[k] = ClampAngle(b);
  }
}

// Backward pass: every record can slow down to its end speed at its acceleration.
void BackwardPass(const ProfileRecord* r, const PlanePoint* d, double* v, size_t n) {
  for (size_t k = n - 1; k >= 1; --k) {
    v[k - 1] = std::min(v[k - 1], std::sqrt(2.0 * r[k].accel * Length(d[k]) / 100.0 + v[k] * v[k]));
  }
}

// Default junction of one axis: the component speed, lowered until it changes by at most vmin
// across the junction; vmin when the axis stops or reverses there.
double AxisJunction(double before, double after, double part, double ratio, double v, double vmin) {
  if (before == 0.0 || after == 0.0 || (before < 0.0) != (after < 0.0)) return vmin;
  return LowerAxisSpeed(part * v, ratio, vmin);
}

// Variant junction of one axis, from the corner tolerance (mm) that grows with the speed.
double VariantAxisJunction(double before, double after, double partBefore, double partAfter, double ratio,
                           double v, double toleranceBase, double q) {
  if (before == 0.0 || after == 0.0 || (before < 0.0) != (after < 0.0)) {
    const double w = std::sqrt(2.0 * toleranceBase * 0.01);
    return std::min(w / partBefore, w / partAfter);
  }
  double s = partBefore * v;
  const double tolerance = q * s + toleranceBase;
  s = s > s * ratio ? std::sqrt(2.0 * tolerance * 0.01 / (1.0 - ratio * ratio))
                    : std::sqrt(2.0 * tolerance * 0.01 / (ratio * ratio - 1.0));
  return s / partBefore;
}

int16_t RoundedSpeed(double v) {
  const int32_t r = RoundHalfAway(v);
  return static_cast<int16_t>(std::clamp(r, -32768, 32767));
}

}  // namespace

/* Look-ahead over the n records of the buffer (default flush):
 * 1. Smoothing (n >= 5): the absolute points, then the direction angles, each one round from the
 *    back; the records' own displacements are never changed, smoothing only steers the speeds.
 * 2. At each junction k (between records k and k + 1), the forward pass takes the highest speed v
 *    reachable at the end of record k from the previous junction speed (sqrt(2 a len + prev^2),
 *    a in mm/s^2, len in mm, at most vmax), splits it into x and y components, and lowers each
 *    component in 0.1 mm/s steps until it changes by at most vmin across the junction (an axis
 *    that stops or reverses gets vmin). The junction speed is the smaller of the two components
 *    scaled back to the path. The buffer ends at vmin.
 * 3. The backward pass lets every record slow down to its end speed.
 * 4. Pen-down work accelerates less at speed: a' = (a - 100) / sqrt(m 100 / vmax) + 100 with m the
 *    lower junction speed of the record, and the backward pass runs again.
 * 5. Speeds into the records (rounded; the start speed of a record is the end speed of the one
 *    before), and every record's peak lowered to what its length allows.
 * The variant flush starts and ends at 0, skips smoothing and the pen-down acceleration, and takes
 * junction speeds from the corner tolerances instead of the speed steps. */
void PlanSpeeds(ProfilePlanner& planner) {
  const size_t n = planner.count;
  if (n == 0) return;
  ProfileRecord* r = planner.records.get();
  const OstrelinVectorParams& params = planner.params;
  const int16_t vmax = planner.penDown ? params.penDownMaxSpeed : params.penUpMaxSpeed;
  const double vmin = planner.penDown ? params.penDownMinSpeed : params.penUpMinSpeed;
  const double v = vmax;
  const double startSpeed = planner.variant ? 0.0 : std::trunc(vmin);

  if (n == 1) {
    r[0].startSpeed = TruncToInt16(startSpeed);
    r[0].endSpeed = r[0].startSpeed;
    r[0].peakSpeed = vmax;
  } else {
    PlanePoint* p = planner.absolute.get();
    PlanePoint* d = planner.relative.get();
    double* a = planner.angle.get();
    double* cr = planner.cosRatio.get();
    double* sr = planner.sinRatio.get();
    double* junction = planner.junction.get();
    const bool smooth = !planner.variant && n >= kSmoothFrom;
    if (smooth) SmoothPoints(p, n);
    d[0] = PlanePoint{static_cast<double>(r[0].dx), static_cast<double>(r[0].dy)};
    for (size_t k = 1; k < n; ++k) d[k] = PlanePoint{p[k].x - p[k - 1].x, p[k].y - p[k - 1].y};
    for (size_t k = 0; k < n; ++k) a[k] = FoldedAngle(d[k].x, d[k].y);
    if (smooth) SmoothAngles(a, d, n);
    for (size_t k = 0; k + 1 < n; ++k) {
      cr[k] = std::cos(a[k + 1]) / std::cos(a[k]);
      sr[k] = std::sin(a[k + 1]) / std::sin(a[k]);
    }

    const double q = (params.cornerToleranceAtMax - params.cornerToleranceBase) / v;
    double previous = planner.variant ? 0.0 : vmin;
    for (size_t k = 0; k + 1 < n; ++k) {
      const double reach =
          std::min(std::sqrt(2.0 * r[k].accel * Length(d[k]) / 100.0 + previous * previous), v);
      const double ca = std::cos(a[k]);
      const double sa = std::sin(a[k]);
      double speed = 0.0;
      if (planner.variant) {
        const double vx = std::min(VariantAxisJunction(d[k].x, d[k + 1].x, ca, std::cos(a[k + 1]), cr[k],
                                                       reach, params.cornerToleranceBase, q),
                                   reach);
        const double vy = std::min(VariantAxisJunction(d[k].y, d[k + 1].y, sa, std::sin(a[k + 1]), sr[k],
                                                       reach, params.cornerToleranceBase, q),
                                   reach);
        speed = r[k].endSpeed == -1 ? reach : std::min(vx, vy);
      } else {
        const double vx = std::max(AxisJunction(d[k].x, d[k + 1].x, ca, cr[k], reach, vmin), vmin);
        const double vy = std::max(AxisJunction(d[k].y, d[k + 1].y, sa, sr[k], reach, vmin), vmin);
        speed = std::min(std::min(vx / ca, reach), std::min(vy / sa, reach));
      }
      junction[k] = speed;
      previous = speed;
    }
    junction[n - 1] = planner.variant ? 0.0 : vmin;
    BackwardPass(r, d, junction, n);

    if (planner.penDown && !planner.variant) {
      for (size_t k = 0; k + 1 < n; ++k) {
        const double m = std::min(junction[k], junction[k + 1]);
        const double accel = (params.penDownAccel - 100.0) / std::sqrt(m * 100.0 / v) + 100.0;
        junction[k + 1] = std::min(
            junction[k + 1], std::sqrt(2.0 * accel * Length(d[k + 1]) / 100.0 + junction[k] * junction[k]));
        r[k + 1].accel = RoundedSpeed(accel);
      }
      BackwardPass(r, d, junction, n);
    }

    r[0].startSpeed = TruncToInt16(startSpeed);
    for (size_t k = 0; k < n; ++k) {
      r[k].endSpeed = RoundedSpeed(junction[k]);
      r[k].peakSpeed = vmax;
      if (k + 1 < n) r[k + 1].startSpeed = r[k].endSpeed;
    }
  }

  for (size_t k = 0; k < n; ++k) {
    const double lengthMm =
        std::sqrt(static_cast<double>(r[k].dx) * r[k].dx + static_cast<double>(r[k].dy) * r[k].dy) / 100.0;
    r[k].peakSpeed =
        TruncToInt16(PeakSpeed(r[k].startSpeed, r[k].endSpeed, r[k].peakSpeed, r[k].accel, lengthMm));
  }
}

}  // namespace ostrelin::vector
