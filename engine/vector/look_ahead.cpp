// The look-ahead flush: junction speeds, accelerations and peaks of a buffer of profiled records.
#include "engine/vector/look_ahead.h"

#include <algorithm>
#include <bit>
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

// Along an axis the arc tangent is exact (0, or pi / 2 beyond the range's upper end), so the
// clamped angle is known without it.
double FoldedAngle(double x, double y) {
  if (y == 0.0) {
    if (!std::isnan(x)) return kMinAngle;
  } else if (x == 0.0) {
    if (!std::isnan(y)) return kMaxAngle;
  }
  return ClampAngle(std::atan2(std::fabs(y), std::fabs(x)));
}

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
  // The binade's lower end: speed with its mantissa bits cleared.
  const double low = std::bit_cast<double>(std::bit_cast<uint64_t>(speed) & 0x7FF0000000000000u);
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

// Plain steps taken, each after its own check, once a run cannot be proved: such places (the last
// steps before the search ends, the steps that cross into the next binade) come a few steps long, and
// a proof attempt costs several divisions.
constexpr int kPlainStepsPerAttempt = 4;

double LowerAxisSpeed(double speed, double ratio, double vmin) {
  const bool fromAbove = speed > speed * ratio;
  while (KeepsLowering(speed, ratio, vmin, fromAbove)) {
    const int64_t steps = CertainSteps(speed, ratio, vmin, fromAbove);
    if (steps > 0) {
      const double step = speed - (speed - kSpeedStep);
      speed -= static_cast<double>(steps) * step;
    } else {
      speed -= kSpeedStep;
      for (int i = 1; i < kPlainStepsPerAttempt && KeepsLowering(speed, ratio, vmin, fromAbove); ++i) {
        speed -= kSpeedStep;
      }
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

// The limit of one smoothed angle: the turn of its record's direction when 1 is added to the smaller
// of |dx| and |dy| (the x value when they are equal), at most 0.1 radian. angle is the record's own
// folded angle.
double AngleLimit(double angle, const PlanePoint& d) {
  double ax = std::fabs(d.x);
  double ay = std::fabs(d.y);
  if (ax <= ay) {
    ax += 1.0;
  } else {
    ay += 1.0;
  }
  return std::min(std::fabs(FoldedAngle(ax, ay) - angle), kAngleShift);
}

/* Whether a smoothed angle b certainly stays within the limit of AngleLimit(angle, d), so that the
 * clamp to angle +- limit leaves it as it is; false when that cannot be told without the limit.
 * With (ax, ay) = (|dx|, |dy|) and ax <= ay, the direction (at least 45 degrees) falls by
 * atan(z), z = ay (ax' - ax) / (ax ax' + ay^2), ax' = ax + 1 as rounded; when ay < ax it rises from
 * below 45 degrees by atan(z), z = ax (ay' - ay) / (ax^2 + ay ay'). atan(z) >= z - z^3 / 3 for z in
 * [0, 1], and atan(z) > 0.1 for z >= 1. The clamp range of the angles can only shorten that turn
 * where the turned angle would leave it, more than 45 degrees away, which is beyond the 0.1 cap; the
 * angle itself must lie inside the range, so that it is the unclamped arc tangent. The limit as
 * computed then differs from min(turn, 0.1) by the errors of two arc tangents and one subtraction,
 * far below the 1e-13 allowed here (some 450 units in the last place); z is computed to a few units
 * in the last place, and the relative margins of 1e-12 cover that and the roundings of the tests. */
bool WithinAngleLimit(double b, double angle, const PlanePoint& d) {
  constexpr double kAtanSlack = 1e-13;
  constexpr double kRelativeSlack = 1.0 - 1e-12;
  if (!(angle > kMinAngle + kAtanSlack && angle < kMaxAngle - kAtanSlack)) return false;
  const double ax = std::fabs(d.x);
  const double ay = std::fabs(d.y);
  double z = 0.0;
  if (ax <= ay) {
    const double ax1 = ax + 1.0;
    z = ay * (ax1 - ax) / (ax * ax1 + ay * ay);
  } else {
    const double ay1 = ay + 1.0;
    z = ax * (ay1 - ay) / (ax * ax + ay * ay1);
  }
  if (!(z > 0.0 && z < 1e300)) return false;
  const double zLow = z * kRelativeSlack;
  const double turn = zLow >= 1.0 ? 2.0 * kAngleShift : zLow - zLow * zLow * zLow / 3.0;
  const double limit = std::min(turn, kAngleShift) - kAtanSlack;
  return std::fabs(b - angle) <= limit * kRelativeSlack;
}

}  // namespace

/* Angle smoothing, likewise from the back: each angle but the first two and last two moves halfway
 * to the mean of itself and its two neighbours on each side, by at most AngleLimit. The plain form
 * computes every limit; the other takes the limit's arc tangent only where WithinAngleLimit cannot
 * show that the limit leaves the angle as it is. Both give the same bits. */
void SmoothAnglesPlain(double* a, const PlanePoint* d, size_t n) {
  for (size_t k = n - 3; k >= 2; --k) {
    const double mean = (a[k - 2] + a[k - 1] + a[k] + a[k + 1] + a[k + 2]) / 5.0;
    double b = (a[k] + mean) / 2.0;
    const double limit = AngleLimit(a[k], d[k]);
    b = std::clamp(b, a[k] - limit, a[k] + limit);
    a[k] = ClampAngle(b);
  }
}

void SmoothAngles(double* a, const PlanePoint* d, size_t n) {
  for (size_t k = n - 3; k >= 2; --k) {
    const double mean = (a[k - 2] + a[k - 1] + a[k] + a[k + 1] + a[k + 2]) / 5.0;
    double b = (a[k] + mean) / 2.0;
    if (!WithinAngleLimit(b, a[k], d[k])) {
      const double limit = AngleLimit(a[k], d[k]);
      b = std::clamp(b, a[k] - limit, a[k] + limit);
    }
    a[k] = ClampAngle(b);
  }
}

namespace {

// Backward pass: every record can slow down to its end speed at its acceleration. length: the
// smoothed length of each record, hundredths of a millimetre.
void BackwardPass(const ProfileRecord* r, const double* length, double* v, size_t n) {
  for (size_t k = n - 1; k >= 1; --k) {
    v[k - 1] = MinRoot(v[k - 1], 2.0 * r[k].accel * length[k] / 100.0 + v[k] * v[k]);
  }
}

// Default junction of one axis: the component speed, lowered until it changes by at most vmin
// across the junction; vmin when the axis stops or reverses there.
double AxisJunction(double before, double after, double part, double ratio, double v, double vmin) {
  if (before == 0.0 || after == 0.0 || (before < 0.0) != (after < 0.0)) return vmin;
  const double speed = part * v;
  // Most junctions need no lowering at all: that is told here, without the search.
  if (!KeepsLowering(speed, ratio, vmin, speed > speed * ratio)) return speed;
  return LowerAxisSpeed(speed, ratio, vmin);
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

// The peak of a record whose start and end speeds are set: vmax, or lower where the record is too
// short to reach it; lengthMm receives the record's own length.
void SetPeakSpeed(ProfileRecord& r, int16_t vmax, double& lengthMm) {
  lengthMm = RecordLengthMm(r);
  r.peakSpeed = TruncToInt16(PeakSpeed(r.startSpeed, r.endSpeed, vmax, r.accel, lengthMm));
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

  double* lengthMm = planner.lengthMm.get();
  if (n == 1) {
    r[0].startSpeed = TruncToInt16(startSpeed);
    r[0].endSpeed = r[0].startSpeed;
  } else {
    PlanePoint* p = planner.absolute.get();
    PlanePoint* d = planner.relative.get();
    double* length = planner.relativeHmm.get();
    double* a = planner.angle.get();
    double* cosA = planner.cosAngle.get();
    double* sinA = planner.sinAngle.get();
    double* junction = planner.junction.get();
    const bool smooth = !planner.variant && n >= kSmoothFrom;
    if (smooth) SmoothPoints(p, n);
    d[0] = PlanePoint{static_cast<double>(r[0].dx), static_cast<double>(r[0].dy)};
    for (size_t k = 1; k < n; ++k) d[k] = PlanePoint{p[k].x - p[k - 1].x, p[k].y - p[k - 1].y};
    for (size_t k = 0; k < n; ++k) {
      a[k] = FoldedAngle(d[k].x, d[k].y);
      length[k] = Length(d[k]);
    }
    if (smooth) SmoothAngles(a, d, n);
    // The cosine and sine of every angle once: the junction ratios and the axis components below
    // all read them. Those of angle k + 1 are taken in the forward pass's step k, where they do not
    // wait for the speeds.
    auto cosineAndSine = [&](size_t k) {
      const double angle = a[k];
      if (k > 0 && angle == a[k - 1]) {
        cosA[k] = cosA[k - 1];
        sinA[k] = sinA[k - 1];
      } else {
        cosA[k] = std::cos(angle);
        sinA[k] = std::sin(angle);
      }
    };
    cosineAndSine(0);

    const double q = (params.cornerToleranceAtMax - params.cornerToleranceBase) / v;
    double previous = planner.variant ? 0.0 : vmin;
    for (size_t k = 0; k + 1 < n; ++k) {
      cosineAndSine(k + 1);
      // The highest speed reachable at the end of record k, at most vmax; v^2 is exact (v is a
      // 16-bit integer), and at or above it the square root cannot be below v.
      const double reachSquared = 2.0 * r[k].accel * length[k] / 100.0 + previous * previous;
      const double reach = reachSquared >= v * v ? v : std::min(std::sqrt(reachSquared), v);
      const double ca = cosA[k];
      const double sa = sinA[k];
      // Junction ratios: cos a[k + 1] / cos a[k] and sin a[k + 1] / sin a[k].
      const double cr = cosA[k + 1] / ca;
      const double sr = sinA[k + 1] / sa;
      double speed = 0.0;
      if (planner.variant) {
        const double vx = std::min(VariantAxisJunction(d[k].x, d[k + 1].x, ca, cosA[k + 1], cr, reach,
                                                       params.cornerToleranceBase, q),
                                   reach);
        const double vy = std::min(VariantAxisJunction(d[k].y, d[k + 1].y, sa, sinA[k + 1], sr, reach,
                                                       params.cornerToleranceBase, q),
                                   reach);
        speed = r[k].endSpeed == -1 ? reach : std::min(vx, vy);
      } else {
        const double vx = std::max(AxisJunction(d[k].x, d[k + 1].x, ca, cr, reach, vmin), vmin);
        const double vy = std::max(AxisJunction(d[k].y, d[k + 1].y, sa, sr, reach, vmin), vmin);
        speed = std::min(std::min(vx / ca, reach), std::min(vy / sa, reach));
      }
      junction[k] = speed;
      previous = speed;
    }
    junction[n - 1] = planner.variant ? 0.0 : vmin;

    if (planner.penDown && !planner.variant) {
      BackwardPass(r, length, junction, n);
      for (size_t k = 0; k + 1 < n; ++k) {
        const double m = std::min(junction[k], junction[k + 1]);
        const double accel = (params.penDownAccel - 100.0) / std::sqrt(m * 100.0 / v) + 100.0;
        junction[k + 1] =
            MinRoot(junction[k + 1], 2.0 * accel * length[k + 1] / 100.0 + junction[k] * junction[k]);
        r[k + 1].accel = RoundedSpeed(accel);
      }
    }

    // The last backward pass, each record's speeds written as soon as they are final: its end speed
    // once its junction speed is, its start speed and peak once the record before has its end speed.
    r[n - 1].endSpeed = RoundedSpeed(junction[n - 1]);
    for (size_t k = n - 1; k >= 1; --k) {
      junction[k - 1] =
          MinRoot(junction[k - 1], 2.0 * r[k].accel * length[k] / 100.0 + junction[k] * junction[k]);
      r[k - 1].endSpeed = RoundedSpeed(junction[k - 1]);
      r[k].startSpeed = r[k - 1].endSpeed;
      SetPeakSpeed(r[k], vmax, lengthMm[k]);
    }
    r[0].startSpeed = TruncToInt16(startSpeed);
  }
  SetPeakSpeed(r[0], vmax, lengthMm[0]);
}

}  // namespace ostrelin::vector
