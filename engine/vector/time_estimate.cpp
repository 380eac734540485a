// Time estimation of profiled motion, raster head moves and raster zones.
#include "engine/vector/time_estimate.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "engine/settings.h"

namespace ostrelin::vector {
namespace {

// The one place where a quotient that could be taken in integers or in floating point is decided:
// the speed cap of pen-down work, the row speed of a zone and the row feed accelerations of the
// models whose feed depends on the resolution are all true (double) quotients.
double Quotient(double numerator, double denominator) { return numerator / denominator; }

// Output engraving resolution (dots per inch) of one axis: the settings' x and y are exchanged when
// the page is turned by a quarter (orientations 4 to 7), as in the job header.
int32_t OutputResolution(const Context& ctx, bool alongX) {
  const bool turned = ctx.orientation > 3;
  return alongX != turned ? ctx.engravingResX : ctx.engravingResY;
}

// The x ramp rules of a zone row.
enum class LongRule { kRampFloor, kFixedAccel, kPlainAccel };

struct ZoneModel {
  double speedScale;    // E: row speed (mm/s) of speed word 1000
  double defaultSpeed;  // A0, mm/s, for speed word 0
  double feedAccel;     // h, mm/s^2 (negative: depends on the resolution, see FeedAccel)
  double feedSpeedCap;  // g, mm/s
  double longFrom;      // o at or above which the long rule applies, mm
  LongRule longRule;
  double longValue;    // ramp u (mm) for kRampFloor, acceleration l (mm/s^2) otherwise
  double longFloor;    // floor of l for kRampFloor, mm/s^2
  double shortBelow;   // S, mm
  double shortAccel;   // l of the short rule, mm/s^2
  double middleCap;    // C, mm/s^2
  double middleFloor;  // F, mm/s^2
};

// Feed accelerations of models 267 and 268 that depend on the resolution.
constexpr double kFeedH1 = -1.0;
constexpr double kFeedH2 = -2.0;

// Zone parameters by model group (A, B, C, D) and mode (stamp, fast, plain).
constexpr ZoneModel kZoneModels[4][3] = {
    {{1000, 0.6, 1000, 200, 110, LongRule::kRampFloor, 50, 10000, 40, 10000, 10000, 10000},
     {1500, 0.6, 3000, 500, 90, LongRule::kRampFloor, 40, 15000, 20, 18000, 29000, 18000},
     {1500, 0.6, 1000, 200, 170, LongRule::kRampFloor, 80, 10000, 40, 10000, 15000, 10000}},
    {{1000, 0.7, 1000, 200, 110, LongRule::kRampFloor, 50, 10000, 40, 10000, 10000, 10000},
     {2540, 0.7, 3000, 500, 90, LongRule::kFixedAccel, 22000, 0, 20, 18000, 22000, 18000},
     {2540, 0.7, 1000, 200, 170, LongRule::kFixedAccel, 20000, 0, 40, 10000, 15000, 10000}},
    {{1000, 1.0, kFeedH1, 200, 110, LongRule::kRampFloor, 50, 10000, 40, 10000, 10000, 10000},
     {4000, 1.0, kFeedH2, 500, 570, LongRule::kPlainAccel, 29000, 0, 20, 18000, 18000, 18000},
     {4000, 1.0, kFeedH1, 200, 570, LongRule::kRampFloor, 280, 18000, 40, 15000, 18000, 15000}},
    {{1000, 0.6, 1000, 200, 110, LongRule::kRampFloor, 50, 10000, 40, 10000, 10000, 10000},
     {2000, 0.6, 3000, 500, 150, LongRule::kRampFloor, 70, 15000, 20, 18000, 29000, 18000},
     {2000, 0.6, 1000, 200, 290, LongRule::kRampFloor, 140, 10000, 40, 10000, 15000, 10000}},
};

// Return-move speed (mm/s) of each group; the return acceleration is the same for all.
constexpr double kReturnSpeed[4] = {1500, 2540, 4000, 2000};
constexpr double kReturnAccel = 15000;
// Distance (mm) the head travels beyond the row to accelerate and stop.
constexpr double kRowOverrun = 9;
// Seconds per dot of row data.
constexpr double kDataSecondsPerDot = 2.5e-7;

int ModelGroup(int32_t model) {
  switch (model) {
    case 257:
    case 271:
    case 272:
    case 273:
    case 274:
    case 275:
    case 277:
    case 278:
    case 279:
      return 0;
    case 266:
    case 269:
    case 270:
    case 280:
      return 1;
    case 267:
    case 268:
      return 2;
    default:
      return 3;
  }
}

double FeedAccel(double h, int32_t model, int32_t engravingResY) {
  if (h == kFeedH1) return model == 268 ? 1000.0 : Quotient(engravingResY, 36.0) * 600.0 / 100.0 + 400.0;
  if (h == kFeedH2) return model == 268 ? 3000.0 : Quotient(engravingResY, 36.0) * 2200.0 / 100.0 + 800.0;
  return h;
}

}  // namespace

/* Profile time of a buffer of records. Each record goes from the speed b it inherits (the previous
 * record's end speed, capped as below; the first record's start speed) up to its cruise speed c and
 * down to its end speed d, at its acceleration A (mm/s^2): the ramps take (c - b) / A + (c - d) / A
 * seconds over s = (c^2 - b^2) / 2A + (c^2 - d^2) / 2A millimetres, and the rest of its length L
 * (mm) is crossed at c. For pen-down work the cruise speed is the record's peak lowered by the pen
 * speed value, and capped at the pen-down maximum speed scaled by that value. A record whose ramps
 * are longer than itself adds a slightly negative cruise term, which is kept as it is. */
void AddProfileTime(Job& job, const OstrelinVectorParams& params, const ProfileRecord* records, size_t count,
                    bool penDown, int32_t penSpeedValue, const double* lengthsMm) {
  if (count == 0) return;
  double cap = 0.2;
  if (!penDown) {
    cap = params.penUpMaxSpeed;
  } else if (penSpeedValue != 0) {
    cap = Quotient(static_cast<double>(static_cast<int64_t>(params.penDownMaxSpeed) * penSpeedValue), 1000.0);
  }
  double time = 0.0;
  double b = records[0].startSpeed;
  for (size_t i = 0; i < count; ++i) {
    const ProfileRecord& r = records[i];
    const double p = r.peakSpeed;
    double c = p;
    if (penDown) {
      const int64_t lowering = static_cast<int64_t>(1000 - penSpeedValue) * r.peakSpeed * 50;
      c = std::min(p - static_cast<double>(lowering) / 100000.0, cap);
    }
    const double d = std::min<double>(r.endSpeed, c);
    const double a = r.accel;
    double rampMm = 0.0;
    if (a != 0.0) {
      time += (c - b) / a + (c - d) / a;
      rampMm = (c * c - b * b) / (2.0 * a) + (c * c - d * d) / (2.0 * a);
    }
    const double lengthMm = lengthsMm != nullptr ? lengthsMm[i] : RecordLengthMm(r);
    if (c != 0.0) time += (lengthMm - rampMm) / c;
    b = d;
  }
  job.estimatedTime += time;
}

/* A raster head move is one travel record from the pen-up minimum speed back to it, at the pen-up
 * acceleration for long moves, peaking at the pen-up maximum speed or at the triangular peak when
 * the move is too short. Its length: dots * 2540 / resolution hundredths of a millimetre, the
 * quotient in single precision and truncated toward zero. */
void AddRasterHeadMoveTime(const Context& ctx, Job& job, int32_t moveDots, bool alongX) {
  const OstrelinVectorParams& params = job.cornerTable.params;
  const auto resolution = static_cast<float>(OutputResolution(ctx, alongX));
  const auto product = static_cast<float>(static_cast<int64_t>(moveDots) * 2540);
  const double moveHmm = std::trunc(static_cast<double>(product / resolution));
  const double vs = params.penUpMinSpeed;
  const double accel = params.penUpAccelLong;
  const double peak = PeakSpeed(vs, vs, params.penUpMaxSpeed, accel, std::fabs(moveHmm) / 100.0);
  // The profile time of that single travel record, with the length kept in full.
  double time = 0.0;
  double rampMm = 0.0;
  const double cruise = peak;
  const double end = std::min(vs, cruise);
  if (accel != 0.0) {
    time += (cruise - vs) / accel + (cruise - end) / accel;
    rampMm = (cruise * cruise - vs * vs) / (2.0 * accel) + (cruise * cruise - end * end) / (2.0 * accel);
  }
  if (cruise != 0.0) time += (std::fabs(moveHmm) / 100.0 - rampMm) / cruise;
  job.estimatedTime += time;
}

/* Zone time. Each row accelerates over u mm at l mm/s^2 to the row speed A, crosses the row plus
 * 9 mm, and stops: 2A / l + (o + 9 - 2u) / A seconds for a row of o mm. The ramp (u, l) and, where
 * the ramp cannot reach it, A itself follow the model group's rules for long, short and middle rows.
 * The feed to the next row (pitch mm) accelerates at h to at most g and stops, and each dot of data
 * costs 0.25 microsecond. With the unidirectional switch the head also returns over the row plus
 * 9 mm at up to the group's return speed m, accelerating at 15000 mm/s^2. */
void AddZoneTime(const Context& ctx, Job& job, int32_t speedWord, double rowLengthMm, int32_t rowCount,
                 double rowPitchMm, int32_t rowWidthDots, int32_t engravingResY) {
  const double o = std::fabs(rowLengthMm);
  if (o == 0.0 || !std::isfinite(o)) return;
  const int32_t model = HeaderWord(ctx, 28);
  const int group = ModelGroup(model);
  const bool stamp = ctx.rasterOptionsB[0] != 0;
  const bool fast = HeaderWord(ctx, 104) != 0;
  const int mode = stamp ? 0 : (fast ? 1 : 2);
  ZoneModel z = kZoneModels[group][mode];
  if (group == 0 && mode != 0 && (model == 272 || model == 278 || model == 279)) z.speedScale = 1000;

  // A negative speed word (a speed beyond the 16-bit field) is taken as no speed given.
  double a = speedWord > 0 ? Quotient(static_cast<double>(speedWord) * z.speedScale, 1000.0) : z.defaultSpeed;
  double u = 0.0;
  double l = 0.0;
  if (o >= z.longFrom) {
    switch (z.longRule) {
      case LongRule::kRampFloor:
        u = z.longValue;
        l = a * a / (2.0 * u);
        if (l < z.longFloor) {
          l = z.longFloor;
          u = a * a / (2.0 * l);
        }
        break;
      case LongRule::kFixedAccel:
        l = z.longValue;
        if (o / 2.0 >= a * a / (2.0 * l)) {
          u = a * a / (2.0 * l);
        } else {
          u = o / 2.0;
          a = std::sqrt(2.0 * l * u);
        }
        break;
      case LongRule::kPlainAccel:
        l = z.longValue;
        u = a * a / (2.0 * l);
        break;
    }
  } else if (o < z.shortBelow) {
    u = o / 2.0;
    l = z.shortAccel;
    if (std::sqrt(2.0 * l * u) > a) {
      u = a * a / (2.0 * l);
    } else {
      a = std::sqrt(2.0 * l * u);
    }
  } else {
    u = o / 2.0;
    l = a * a / (2.0 * u);
    if (l > z.middleCap) {
      l = z.middleCap;
      a = std::sqrt(2.0 * l * u);
    }
    if (l < z.middleFloor) {
      l = z.middleFloor;
      u = a * a / (2.0 * l);
    }
  }

  double row = 2.0 * a / l + (o + kRowOverrun - 2.0 * u) / a;
  const double h = FeedAccel(z.feedAccel, model, engravingResY);
  const double feed = std::min(std::sqrt(2.0 * h * rowPitchMm / 2.0), z.feedSpeedCap);
  row += 2.0 * feed / h;
  row += std::abs(static_cast<double>(rowWidthDots)) * kDataSecondsPerDot;
  if (ctx.oneWayFlag != 0) {
    const double m = kReturnSpeed[group];
    const double rampMm = m * m / (2.0 * kReturnAccel);
    const double way = o + kRowOverrun;
    if (way > 2.0 * rampMm) {
      row += 2.0 * m / kReturnAccel + (way - 2.0 * rampMm) / m;
    } else {
      row += 2.0 * std::sqrt(way * kReturnAccel) / kReturnAccel;
    }
  }
  job.estimatedTime += row * rowCount;
}

}  // namespace ostrelin::vector
