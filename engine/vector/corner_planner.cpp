// The corner-table planner.
#include "engine/vector/corner_planner.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "engine/job_stream.h"
#include "engine/scratch.h"

namespace ostrelin::vector {
namespace {

// Free record slots under which the planner flushes after a point.
constexpr size_t kFlushFreeSlots = 10;
// Corner bytes: the turn, in whole degrees, at the end of a record.
constexpr uint8_t kPieceMarker = 255;
constexpr int kLastRecordTurn = 120;
constexpr int kTurnFold = 35;
constexpr int kRunSpread = 15;
// Speed (mm/s) a short record is held to when its end code is 0.
constexpr int16_t kShortRecordSpeed = 15;

uint8_t FirstCodeReaching(const int16_t* table, int32_t speed) {
  for (int i = 0; i < 255; ++i) {
    if (table[i] >= speed) return static_cast<uint8_t>(i);
  }
  return 255;
}

int32_t ClampSteps(int32_t steps, int32_t limit) { return std::clamp(steps, 0, limit); }

void Append(CornerPlanner& planner, uint8_t cornerByte, int64_t dx, int64_t dy, int64_t length) {
  CornerRecord& r = planner.records[planner.count++];
  r.cornerByte = cornerByte;
  r.limitByte = 0;
  r.dx = static_cast<int16_t>(dx);
  r.dy = static_cast<int16_t>(dy);
  r.length = static_cast<int16_t>(length);
}

}  // namespace

CornerPlanner::CornerPlanner(Context& ctx, const Job& job)
    : records(ctx, kPlannerRecords + kPlannerSlack),
      divisor(job.motionDivisor),
      shortSteps(StepsFromHundredths(500.0, job.motionDivisor)),
      farLimitSteps(StepsFromHundredths(kFarLimitHmm, job.motionDivisor)),
      unit(PlotFileUnit(ctx)),
      vectorResolution(static_cast<float>(ctx.vectorResolution)),
      stepsOfDots(ctx, unit == FileUnit::kDots) {
  for (int corner = 0; corner < 256; ++corner) {
    const int32_t speed = corner <= 25 ? job.cornerTable.corner[corner][0] : 0;
    endCodeOfCorner[corner] = FirstCodeReaching(job.motionTable, speed);
  }
  limitCodeOfZero = FirstCodeReaching(job.motionTable, kShortRecordSpeed);
}

void StartCorner(CornerPlanner& planner, int32_t headX, int32_t headY, int32_t resX, int32_t resY) {
  planner.currentX =
      ClampSteps(StepsFromDots(headX, static_cast<float>(resX), planner.divisor), planner.farLimitSteps);
  planner.currentY =
      ClampSteps(StepsFromDots(headY, static_cast<float>(resY), planner.divisor), planner.farLimitSteps);
}

/* A point becomes the records of one straight move from the current position, in motor steps.
 * The file's unit decides the conversion: dots at the vector resolution (the coordinate truncated
 * first), hundredths of a millimetre (machine kinds 5 and 11), or plotter units. A move longer than
 * 32767 steps is cut into n = length / 32767 + 1 equal pieces (truncated), marked with corner byte
 * 255 so that the flush sees no corner inside it; the remainder is the last record. */
void AddCornerPoint(Context& ctx, Job& job, CornerPlanner& planner, float x, float y) {
  PlaceOnPlate(ctx, job, x, y);
  int32_t sx = 0;
  int32_t sy = 0;
  switch (planner.unit) {
    case FileUnit::kDots: {
      const auto steps = [&planner](int32_t dots) {
        return StepsFromDots(dots, planner.vectorResolution, planner.divisor);
      };
      sx = planner.stepsOfDots.Get(TruncToInt32(x), steps);
      sy = planner.stepsOfDots.Get(TruncToInt32(y), steps);
      break;
    }
    case FileUnit::kHundredths:
      sx = StepsFromHundredths(x, planner.divisor);
      sy = StepsFromHundredths(y, planner.divisor);
      break;
    case FileUnit::kPlotter:
      sx = StepsFromPlotter(x, planner.divisor);
      sy = StepsFromPlotter(y, planner.divisor);
      break;
  }
  sx = ClampSteps(sx, planner.farLimitSteps);
  sy = ClampSteps(sy, planner.farLimitSteps);
  int64_t dx = static_cast<int64_t>(sx) - planner.currentX;
  int64_t dy = static_cast<int64_t>(sy) - planner.currentY;
  planner.currentX = sx;
  planner.currentY = sy;
  int64_t length = RoundHalfAway(std::sqrt(static_cast<double>(dx * dx + dy * dy)));
  if (length > 32767) {
    const int64_t n = length / 32767 + 1;
    const int64_t pieceX = dx / n;
    const int64_t pieceY = dy / n;
    const int64_t pieceLength = length / n;
    for (int64_t i = 0; i < n - 1; ++i) {
      if (pieceLength != 0) Append(planner, kPieceMarker, pieceX, pieceY, pieceLength);
      dx -= pieceX;
      dy -= pieceY;
      length -= pieceLength;
    }
  }
  if (length != 0) Append(planner, 0, dx, dy, length);
  if (kPlannerRecords - std::min(planner.count, kPlannerRecords) < kFlushFreeSlots)
    FlushCorner(ctx, job, planner);
}

/* Code assignment of a flush of n records.
 * 1. The turn at the end of record k - 1 is the difference of the headings (degrees, 0 to 360) of
 *    records k - 1 and k, truncated, folded (above 35: 360 - d) and held to at most 120; a piece of
 *    a longer move turns 0, and the last record ends with 120 (a full stop).
 * 2. Runs of turns whose spread stays below 15 degrees take the mean of the run (integer), front to
 *    back; the run reaching the end keeps its own values.
 * 3. The end code of a record is the first speed code whose speed reaches the corner speed of its
 *    turn (turns above 25 degrees: speed 0). A record shorter than 5 mm is capped at that code
 *    (254 in place of 255), or at the first code of 15 mm/s when its end code is 0.
 * 4. Back to front, an end code may exceed the next record's end code by at most the next record's
 *    length in motor steps, so that the machine can slow down in time.
 * A record alone in its flush (a travel move) ends at code 0, capped only when shorter than 5 mm. */
void AssignCornerCodes(const CornerPlanner& planner, CornerRecord* records, size_t n) {
  if (n == 0) return;
  if (n == 1) {
    if (records[0].length < planner.shortSteps) records[0].limitByte = planner.limitCodeOfZero;
    return;
  }
  double previousHeading = 0.0;
  for (size_t k = 0; k < n; ++k) {
    double heading = std::atan2(static_cast<double>(records[k].dy), static_cast<double>(records[k].dx)) *
                     180.0 / 3.141592654;
    if (heading < 0.0) heading += 360.0;
    if (k > 0) {
      int turn = std::abs(static_cast<int>(previousHeading - heading));
      if (turn > kTurnFold) turn = 360 - turn;
      turn = std::min(turn, kLastRecordTurn);
      CornerRecord& before = records[k - 1];
      before.cornerByte = before.cornerByte == kPieceMarker ? 0 : static_cast<uint8_t>(turn);
    }
    previousHeading = heading;
  }
  records[n - 1].cornerByte = kLastRecordTurn;

  size_t runStart = 0;
  int low = records[0].cornerByte;
  int high = low;
  int sum = 0;
  int members = 0;
  for (size_t k = 0; k < n; ++k) {
    const int value = records[k].cornerByte;
    low = std::min(low, value);
    high = std::max(high, value);
    if (high - low >= kRunSpread) {
      const auto mean = static_cast<uint8_t>(sum / members);
      for (size_t i = runStart; i < k; ++i) records[i].cornerByte = mean;
      runStart = k;
      low = high = value;
      sum = members = 0;
    }
    sum += value;
    ++members;
  }

  for (size_t k = 0; k < n; ++k) {
    CornerRecord& r = records[k];
    const uint8_t code = planner.endCodeOfCorner[r.cornerByte];
    r.cornerByte = code;
    if (r.length < planner.shortSteps) {
      r.limitByte = code != 0 ? (code == 255 ? 254 : code) : planner.limitCodeOfZero;
    }
  }

  for (size_t k = n - 1; k >= 1; --k) {
    const int reachable = records[k].cornerByte + records[k].length;
    if (records[k - 1].cornerByte > reachable) records[k - 1].cornerByte = static_cast<uint8_t>(reachable);
  }
}

void FlushCorner(Context& ctx, Job& job, CornerPlanner& planner) {
  if (planner.count == 0) return;
  AssignCornerCodes(planner, planner.records.get(), planner.count);
  const size_t bytes = planner.count * sizeof(CornerRecord);
  planner.count = 0;
  WriteWords16(ctx, job, planner.records.get(), bytes);
}

}  // namespace ostrelin::vector
