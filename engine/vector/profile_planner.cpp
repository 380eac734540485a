// The profile planner's record builder: pen-down records, short travel moves and S-curves.
#include "engine/vector/profile_planner.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "engine/job_stream.h"
#include "engine/scratch.h"
#include "engine/vector/look_ahead.h"
#include "engine/vector/time_estimate.h"
#include "platform/platform.h"

namespace ostrelin::vector {
namespace {

// Free record slots under which the planner flushes after a point.
constexpr size_t kFlushFreeSlots = 100;
// Longest displacement (hundredths of a millimetre) of one record.
constexpr int64_t kMaxRecordLength = 32767;
// Travel moves longer than this (hundredths of a millimetre) follow the S-curve.
constexpr double kShortTravelHmm = 500.0;
// Steps of the S-curve's acceleration phase.
constexpr int kCurveSteps = 20;
// Longest acceleration step of one record, millimetres.
constexpr double kMaxRecordMm = static_cast<double>(kMaxRecordLength) / 100.0;
// A binary fraction of the move at or below this (mm) is not worth a record.
constexpr double kSmallestSegmentMm = 0.01;
// End speed markers left by the builder.
constexpr int16_t kMoreOfMove = -1;
constexpr int16_t kLastOfMove = 0;

/* The factor 2^-j of the fewest halvings j after which a length r (mm) is no longer above ceiling,
 * the loop "while r > ceiling: r /= 2" done at once. Halving is exact here (no value comes near the
 * subnormal range), so j halvings of r, x or y are the product by 2^-j. With r = mr 2^er and
 * ceiling = mc 2^ec (mantissas in [1, 2)), r 2^-j <= ceiling first holds at j = er - ec, or at one
 * more when mr > mc. ceiling is a positive normal number; r, a move within the far limit, is far
 * below 1e300. */
double HalvingFactor(double r, double ceiling) {
  if (!(r > ceiling) || !(r < 1e300)) return 1.0;
  constexpr uint64_t kMantissa = (uint64_t{1} << 52) - 1;
  const auto rBits = std::bit_cast<uint64_t>(r);
  const auto ceilingBits = std::bit_cast<uint64_t>(ceiling);
  const int64_t halvings = static_cast<int64_t>(rBits >> 52) - static_cast<int64_t>(ceilingBits >> 52) +
                           ((rBits & kMantissa) > (ceilingBits & kMantissa) ? 1 : 0);
  return std::bit_cast<double>(static_cast<uint64_t>(1023 - halvings) << 52);
}

// Conversion of a coordinate to hundredths of a millimetre, unrounded.
double HundredthsExact(const ProfilePlanner& planner, float v) {
  switch (planner.unit) {
    case FileUnit::kHundredths:
      return v;
    case FileUnit::kDots:
      return static_cast<double>(v) * 2540.0 / planner.vectorResolution;
    case FileUnit::kPlotter:
      break;
  }
  return static_cast<double>(v) * 2.5;
}

// The same, rounded as the default builder does: the dot coordinate truncated first and the
// quotient taken in single precision.
int32_t HundredthsRounded(ProfilePlanner& planner, float v) {
  switch (planner.unit) {
    case FileUnit::kHundredths:
      return RoundHalfAway(v);
    case FileUnit::kDots: {
      const auto resolution = static_cast<float>(planner.vectorResolution);
      return planner.hundredthsOfDots.Get(TruncToInt32(v), [resolution](int32_t dots) {
        const int64_t product = static_cast<int64_t>(dots) * 2540;
        return RoundHalfAway(static_cast<float>(product) / resolution);
      });
    }
    case FileUnit::kPlotter:
      break;
  }
  return RoundHalfAway(static_cast<double>(v) * 2.5);
}

double ClampFar(double hmm) { return std::clamp(hmm, 0.0, kFarLimitHmm); }

// Running absolute position while the records of one move are appended.
struct MoveCursor {
  double x;
  double y;
};

void Append(ProfilePlanner& planner, MoveCursor& cursor, int16_t endMarker, int16_t accel, int64_t dx,
            int64_t dy) {
  const size_t k = planner.count++;
  ProfileRecord& r = planner.records[k];
  r.endSpeed = endMarker;
  r.accel = accel;
  r.dx = static_cast<int16_t>(dx);
  r.dy = static_cast<int16_t>(dy);
  cursor.x += static_cast<double>(r.dx);
  cursor.y += static_cast<double>(r.dy);
  planner.absolute[k] = PlanePoint{cursor.x, cursor.y};
}

/* A straight run of records of at most 32767 hundredths each: n = length / 32767 + 1 equal pieces
 * (truncated), the remainder last. The remainder is one piece plus up to n - 1 per axis, so with
 * pieces just under 32767 the last record would not fit its 16-bit field (98,300 along x gives 32,766,
 * 32,766 and 32,768): such a run takes one piece more, which always fits (its pieces are at least
 * 32767 / (n + 1) below the limit, over 700 hundredths, while its remainder adds at most n, and the far
 * limit keeps n below 50). lastMarker is the end marker of the final record. */
void AppendStraight(ProfilePlanner& planner, MoveCursor& cursor, int16_t accel, int64_t dx, int64_t dy,
                    int16_t lastMarker) {
  int64_t length = RoundHalfAway(std::sqrt(static_cast<double>(dx * dx + dy * dy)));
  if (length > kMaxRecordLength) {
    int64_t n = length / kMaxRecordLength + 1;
    auto lastFits = [&](int64_t pieces) {
      return std::abs(dx - (pieces - 1) * (dx / pieces)) <= kMaxRecordLength &&
             std::abs(dy - (pieces - 1) * (dy / pieces)) <= kMaxRecordLength;
    };
    while (!lastFits(n)) ++n;
    const int64_t pieceX = dx / n;
    const int64_t pieceY = dy / n;
    const int64_t pieceLength = length / n;
    for (int64_t i = 0; i < n - 1; ++i) {
      if (pieceLength != 0) Append(planner, cursor, kMoreOfMove, accel, pieceX, pieceY);
      dx -= pieceX;
      dy -= pieceY;
      length -= pieceLength;
    }
  }
  if (length != 0) Append(planner, cursor, lastMarker, accel, dx, dy);
}

/* S-curve of a travel move of (dx, dy) hundredths, L = |(dx, dy)|, at most V mm/s (pen-up maximum
 * speed) and on average A mm/s^2 (pen-up acceleration for long moves).
 * Reaching V takes t = V / A seconds over D = A t^2 / 2 mm; when the move is shorter than 2D, half
 * of it accelerates instead: D = L / 2, t = sqrt(2D / A). The acceleration phase is cut into twenty
 * steps of dt = t / 20 seconds; the acceleration rises with jerk J = 4A / t to 2A in ten steps, falls
 * back in nine and ends at 0 (mean A). Each step's distance (mm) is integrated from its acceleration
 * and speed. Each step then takes the largest binary fraction (1, 1/2, 1/4 ...) of the rest of the
 * move, along the move's own direction, that is not longer than the step's distance nor than a
 * record can hold (327.67 mm; only steps of moves of several metres at extreme speeds and accelerations
 * are that long); fractions of 0.01 mm or less are skipped. The records: the acceleration steps, the
 * constant-speed middle (acceleration 0), and the steps again in reverse order to stop. The end marker of
 * every record is -1 except the move's last one, 0. */
void AppendSCurve(ProfilePlanner& planner, MoveCursor& cursor, int64_t dx, int64_t dy, double lengthHmm) {
  const double v = planner.params.penUpMaxSpeed;
  const double a = planner.params.penUpAccelLong;
  double t = v / a;
  double d = 0.5 * a * t * t;
  if (!(lengthHmm / 100.0 > 2.0 * d)) {
    d = lengthHmm / 100.0 / 2.0;
    t = std::sqrt(d / (0.5 * a));
  }
  const double dt = t / 2.0 / 10.0;
  const double jerk = 2.0 * a / (t / 2.0);
  double tabTps[kCurveSteps];
  double tabAcc[kCurveSteps];
  double tabVit[kCurveSteps];
  double tabDplAbs[kCurveSteps];
  double tabDplRel[kCurveSteps];
  tabTps[0] = dt;
  for (int i = 1; i < kCurveSteps; ++i) tabTps[i] = tabTps[i - 1] + dt;
  for (int i = 0; i < 10; ++i) tabAcc[i] = jerk * tabTps[i];
  for (int k = 0; k < 9; ++k) tabAcc[10 + k] = tabAcc[8 - k];
  tabAcc[19] = 0.0;
  tabVit[0] = tabAcc[0] * tabTps[0];
  tabDplAbs[0] = 0.5 * tabAcc[0] * tabTps[0] * tabTps[0];
  tabDplRel[0] = tabDplAbs[0];
  for (int i = 1; i < kCurveSteps; ++i) {
    const double step = tabTps[i] - tabTps[i - 1];
    tabVit[i] = tabVit[i - 1] + tabAcc[i] * step;
    tabDplAbs[i] = tabDplAbs[i - 1] + tabVit[i - 1] * step + 0.5 * tabAcc[i] * step * step;
    tabDplRel[i] = tabDplAbs[i] - tabDplAbs[i - 1];
  }

  int16_t segX[kCurveSteps];
  int16_t segY[kCurveSteps];
  int16_t segAcc[kCurveSteps];
  int segments = 0;
  int64_t restX = dx;
  int64_t restY = dy;
  for (int s = 0; s < kCurveSteps; ++s) {
    double x = static_cast<double>(restX) / 100.0;
    double y = static_cast<double>(restY) / 100.0;
    double r = std::sqrt(x * x + y * y);
    // Halve x and y while r is above the step's distance or a record's length, and above 0.01 mm
    // (a distance that is not a number leaves only the record's length). Halving x and y halves
    // sqrt(x^2 + y^2) exactly, so r is scaled along with them.
    const double reach = tabDplRel[s] < kMaxRecordMm ? tabDplRel[s] : kMaxRecordMm;
    const double factor = HalvingFactor(r, reach > kSmallestSegmentMm ? reach : kSmallestSegmentMm);
    x *= factor;
    y *= factor;
    r *= factor;
    if (r > kSmallestSegmentMm) {
      segX[segments] = static_cast<int16_t>(RoundHalfAway(x * 100.0));
      segY[segments] = static_cast<int16_t>(RoundHalfAway(y * 100.0));
      segAcc[segments] = TruncToInt16(tabAcc[s]);
      restX -= segX[segments];
      restY -= segY[segments];
      ++segments;
    }
  }

  const size_t first = planner.count;
  for (int i = 0; i < segments; ++i) Append(planner, cursor, kMoreOfMove, segAcc[i], segX[i], segY[i]);
  const int64_t middleX = dx - 2 * (dx - restX);
  const int64_t middleY = dy - 2 * (dy - restY);
  AppendStraight(planner, cursor, 0, middleX, middleY, kMoreOfMove);
  for (int i = segments - 1; i >= 0; --i) {
    Append(planner, cursor, i == 0 ? kLastOfMove : kMoreOfMove, segAcc[i], segX[i], segY[i]);
  }

  CheckSCurve(planner, first, dx, dy);
}

}  // namespace

/* The records of a travel move must add up to the move. They always do: every record's dx and dy fit
 * their 16-bit fields (acceleration fractions are halved to at most 327.67 mm, straight runs split until
 * their last piece fits), the sums are taken in 64 bits, and the records are the k fractions twice and
 * a middle that is by construction the move less twice their sum. So no input shows the warning (with
 * the plain split a travel of 1,520.13 mm along x did: its middle of 131,063 hundredths ended with a
 * piece of 32,768); the check guards the builder against a change that would break one of those facts. */
bool CheckSCurve(ProfilePlanner& planner, size_t first, int64_t dx, int64_t dy) {
  int64_t sumX = 0;
  int64_t sumY = 0;
  for (size_t k = first; k < planner.count; ++k) {
    sumX += planner.records[k].dx;
    sumY += planner.records[k].dy;
  }
  if (sumX == dx && sumY == dy) return true;
  char text[96];
  std::snprintf(text, sizeof text, "S curve error (%lld, %lld) for (%lld, %lld)\n",
                static_cast<long long>(sumX), static_cast<long long>(sumY), static_cast<long long>(dx),
                static_cast<long long>(dy));
  platform::trace().Trace(text);
  // A warning: shown once per run of the vector pass, so that a page of such moves does not stop the
  // host on one modal box per move; every occurrence goes to the trace hook.
  if (!planner.sCurveWarned) platform::messages().Show("S curve error", platform::kMessageStyle);
  planner.sCurveWarned = true;
  return false;
}

ProfilePlanner::ProfilePlanner(Context& ctx, const Job& job, const OstrelinVectorParams& vectorParams)
    : params(vectorParams),
      variant(vectorParams.variantFlag != 0),
      placeOnPlate(job.machineKind != 5 && job.machineKind != 11),
      unit(PlotFileUnit(ctx)),
      vectorResolution(ctx.vectorResolution),
      records(ctx, kPlannerRecords + kPlannerSlack),
      absolute(ctx, kPlannerRecords + kPlannerSlack),
      relative(ctx, kPlannerRecords + kPlannerSlack),
      relativeHmm(ctx, kPlannerRecords + kPlannerSlack),
      angle(ctx, kPlannerRecords + kPlannerSlack),
      cosAngle(ctx, kPlannerRecords + kPlannerSlack),
      sinAngle(ctx, kPlannerRecords + kPlannerSlack),
      junction(ctx, kPlannerRecords + kPlannerSlack),
      lengthMm(ctx, kPlannerRecords + kPlannerSlack),
      hundredthsOfDots(ctx, unit == FileUnit::kDots) {}

void StartProfile(ProfilePlanner& planner, int32_t headX, int32_t headY, int32_t resX, int32_t resY) {
  auto convert = [](int32_t dots, int32_t resolution) {
    const int64_t product = static_cast<int64_t>(dots) * 2540;
    return RoundHalfAway(ClampFar(static_cast<float>(product) / static_cast<float>(resolution)));
  };
  planner.currentX = convert(headX, resX);
  planner.currentY = convert(headY, resY);
}

/* One point: placed on the plate (not for machine kinds 5 and 11), converted to hundredths of a
 * millimetre, and turned into records relative to the current position. A pen-down move is a
 * straight run of records at the pen-down acceleration; a travel move of at most 5 mm is one record
 * at the pen-up acceleration for short moves, a longer one an S-curve. The variant builder converts
 * without truncating and records a single pen-down record's end point unrounded. */
void PlanProfilePoint(Context& ctx, Job& job, ProfilePlanner& planner, bool penDown, float x, float y) {
  if (planner.placeOnPlate) PlaceOnPlate(ctx, job, x, y);
  planner.penDown = penDown;
  int32_t targetX = 0;
  int32_t targetY = 0;
  double exactX = 0.0;
  double exactY = 0.0;
  if (planner.variant) {
    exactX = ClampFar(HundredthsExact(planner, x));
    exactY = ClampFar(HundredthsExact(planner, y));
    targetX = RoundHalfAway(exactX);
    targetY = RoundHalfAway(exactY);
  } else {
    targetX = RoundHalfAway(ClampFar(HundredthsRounded(planner, x)));
    targetY = RoundHalfAway(ClampFar(HundredthsRounded(planner, y)));
  }
  MoveCursor cursor{static_cast<double>(planner.currentX), static_cast<double>(planner.currentY)};
  const int64_t dx = static_cast<int64_t>(targetX) - planner.currentX;
  const int64_t dy = static_cast<int64_t>(targetY) - planner.currentY;
  planner.currentX = targetX;
  planner.currentY = targetY;

  if (penDown) {
    const size_t first = planner.count;
    AppendStraight(planner, cursor, planner.params.penDownAccel, dx, dy, kLastOfMove);
    if (planner.variant && planner.count == first + 1) planner.absolute[first] = PlanePoint{exactX, exactY};
  } else {
    const double length = std::sqrt(static_cast<double>(dx * dx + dy * dy));
    if (length > kShortTravelHmm) {
      AppendSCurve(planner, cursor, dx, dy, length);
    } else if (length > 0.0) {
      Append(planner, cursor, kLastOfMove, planner.params.penUpAccelShort, dx, dy);
    }
  }
  if (kPlannerRecords - std::min(planner.count, kPlannerRecords) < kFlushFreeSlots)
    FlushProfile(ctx, job, planner);
}

void FlushProfile(Context& ctx, Job& job, ProfilePlanner& planner) {
  const size_t n = planner.count;
  if (n == 0) return;
  PlanSpeeds(planner);
  AddProfileTime(job, planner.params, planner.records.get(), n, planner.penDown, planner.penSpeedValue,
                 planner.lengthMm.get());
  planner.count = 0;
  // An estimating run writes nothing: the records need not be turned into big-endian words (the
  // builder rewrites every field before the buffer is read again).
  if (job.estimateOnly != 0) return;
  WriteWords16(ctx, job, planner.records.get(), n * sizeof(ProfileRecord));
}

}  // namespace ostrelin::vector
