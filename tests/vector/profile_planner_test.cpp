// The profile planner's record builder and look-ahead flush on the worked examples.
#include "engine/vector/profile_planner.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numeric>
#include <optional>
#include <vector>

#include "engine/vector/look_ahead.h"
#include "engine/vector/time_estimate.h"
#include "support/fakes.h"
#include "vector/vector_test_support.h"

namespace ostrelin::vector {
namespace {

using test::PlannerRecords;

class ProfileBuilder : public ostrelin::test::ScratchDirTest {
 protected:
  // Plans one move from (0, 0) to (dx, dy) hundredths without flushing; returns the records built.
  std::vector<ProfileRecord> Build(bool penDown, int32_t dx, int32_t dy) {
    planner.emplace(r.ctx, r.job, r.job.cornerTable.params);
    StartProfile(*planner, 0, 0, 500, 500);
    PlanProfilePoint(r.ctx, r.job, *planner, penDown, static_cast<float>(dx / 2.5),
                     static_cast<float>(dy / 2.5));
    return std::vector<ProfileRecord>(planner->records.get(), planner->records.get() + planner->count);
  }
  static std::vector<int> Field(const std::vector<ProfileRecord>& records, int16_t ProfileRecord::*field) {
    std::vector<int> values;
    for (const ProfileRecord& rec : records) values.push_back(rec.*field);
    return values;
  }
  PlannerRecords r;
  std::optional<ProfilePlanner> planner;
};

TEST_F(ProfileBuilder, HundredMillimetreTravelIsFortyOneRecords) {
  const auto records = Build(false, 10000, 0);
  ASSERT_EQ(records.size(), 41u);
  const std::vector<int> accelDx = {2,   10,  20,  39,  39,  77,  77,  152, 150, 147,
                                    290, 281, 272, 264, 256, 248, 240, 465, 436, 408};
  const std::vector<int> accel = {199,  399,  599,  799,  999, 1199, 1399, 1599, 1799, 1999,
                                  1799, 1599, 1399, 1199, 999, 799,  599,  399,  199,  0};
  std::vector<int> dx = accelDx;
  std::vector<int> acc = accel;
  dx.push_back(2254);
  acc.push_back(0);
  dx.insert(dx.end(), accelDx.rbegin(), accelDx.rend());
  acc.insert(acc.end(), accel.rbegin(), accel.rend());
  EXPECT_EQ(Field(records, &ProfileRecord::dx), dx);
  EXPECT_EQ(Field(records, &ProfileRecord::accel), acc);
  EXPECT_EQ(Field(records, &ProfileRecord::dy), std::vector<int>(41, 0));
  std::vector<int> markers(41, -1);
  markers.back() = 0;
  EXPECT_EQ(Field(records, &ProfileRecord::endSpeed), markers);
  const auto sum = Field(records, &ProfileRecord::dx);
  EXPECT_EQ(std::accumulate(sum.begin(), sum.end(), 0), 10000);
}

TEST_F(ProfileBuilder, ThreeHundredMillimetreTravelReachesTheMaximumSpeed) {
  const auto records = Build(false, 30000, 0);
  const auto dx = Field(records, &ProfileRecord::dx);
  ASSERT_EQ(dx.size(), 41u);
  EXPECT_EQ(std::vector<int>(dx.begin(), dx.begin() + 10),
            (std::vector<int>{4, 15, 29, 59, 117, 116, 232, 230, 456, 449}));
  EXPECT_EQ(dx[20], 12532);
  EXPECT_EQ(std::accumulate(dx.begin(), dx.end(), 0), 30000);
}

TEST_F(ProfileBuilder, DiagonalTravelSplitsBothAxes) {
  const auto records = Build(false, 3000, 4000);
  ASSERT_GE(records.size(), 4u);
  for (int i = 0; i < 4; ++i) {
    const int expected[4][2] = {{1, 1}, {3, 4}, {6, 8}, {12, 16}};
    EXPECT_EQ(records[i].dx, expected[i][0]) << i;
    EXPECT_EQ(records[i].dy, expected[i][1]) << i;
  }
  const auto dx = Field(records, &ProfileRecord::dx);
  const auto dy = Field(records, &ProfileRecord::dy);
  EXPECT_EQ(std::accumulate(dx.begin(), dx.end(), 0), 3000);
  EXPECT_EQ(std::accumulate(dy.begin(), dy.end(), 0), 4000);
}

TEST_F(ProfileBuilder, MoveShapesByLengthAndPen) {
  struct Case {
    bool penDown;
    int32_t dx;
    size_t records;
    int16_t firstAccel;
  };
  const Case cases[] = {
      {false, 500, 1, 400},   // exactly 5 mm: one record at the short pen-up acceleration
      {false, 0, 0, 0},       // no move, no record
      {true, 0, 0, 0},        // a pen-down point on the current position: nothing
      {true, 40000, 2, 400},  // 400 mm pen-down: two halves at the pen-down acceleration
      {true, 1000, 1, 400},
  };
  for (const Case& c : cases) {
    const auto records = Build(c.penDown, c.dx, 0);
    ASSERT_EQ(records.size(), c.records) << c.dx;
    if (c.records == 1 || c.records == 2) {
      EXPECT_EQ(records[0].accel, c.firstAccel) << c.dx;
    }
  }
  // 5.01 mm: an S-curve (its first steps, 0.01 mm or less, are skipped), adding up to the move.
  const auto curve = Build(false, 501, 0);
  ASSERT_GT(curve.size(), 20u);
  const auto curveDx = Field(curve, &ProfileRecord::dx);
  EXPECT_EQ(std::accumulate(curveDx.begin(), curveDx.end(), 0), 501);
  EXPECT_EQ(curve.back().endSpeed, 0);
  EXPECT_EQ(curve[curve.size() / 2].accel, 0);  // the constant-speed middle
  const auto halves = Build(true, 40000, 0);
  EXPECT_EQ(halves[0].dx, 20000);
  EXPECT_EQ(halves[0].endSpeed, -1);
  EXPECT_EQ(halves[1].dx, 20000);
  EXPECT_EQ(halves[1].endSpeed, 0);
}

TEST_F(ProfileBuilder, NoSCurveWarningForMovesWithinTheFields) {
  ostrelin::test::CapturedMessages messages;
  for (int32_t dx : {501, 777, 5000, 12345, 30000, 60000}) {
    for (int32_t dy : {0, 1, 999, 24000}) {
      const auto records = Build(false, dx, dy);
      int64_t sx = 0;
      int64_t sy = 0;
      for (const auto& rec : records) {
        sx += rec.dx;
        sy += rec.dy;
      }
      EXPECT_EQ(sx, dx);
      EXPECT_EQ(sy, dy);
    }
  }
  EXPECT_TRUE(messages.texts.empty());
}

// Straight runs longer than a record split into n = length / 32767 + 1 pieces, the remainder last;
// when that remainder would not fit its 16-bit field the run takes one piece more.
TEST_F(ProfileBuilder, LongStraightRunsKeepEveryRecordInItsField) {
  struct Case {
    int32_t dx;
    std::vector<int> pieces;
  };
  const Case cases[] = {
      {40000, {20000, 20000}},
      {65534, {21844, 21844, 21846}},
      {65535, {21845, 21845, 21845}},
      {98300, {24575, 24575, 24575, 24575}},  // three pieces would end with 32,768
      {98301, {24575, 24575, 24575, 24576}},
      {131068, {26213, 26213, 26213, 26213, 26216}},
      {131063, {26212, 26212, 26212, 26212, 26215}},  // four pieces would end with 32,768
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.dx);
    const auto records = Build(true, c.dx, 0);
    EXPECT_EQ(Field(records, &ProfileRecord::dx), c.pieces);
    EXPECT_EQ(Field(records, &ProfileRecord::dy), std::vector<int>(c.pieces.size(), 0));
    EXPECT_EQ(records.back().endSpeed, 0);
  }
}

// Moves of metres: acceleration steps longer than a record (extreme pen-up speeds and accelerations)
// are cut to binary fractions that fit, long middles split into pieces that fit, and the S-curve still
// adds up to the move, in the right direction, with no warning.
TEST_F(ProfileBuilder, HugeSCurvesFitTheirFieldsAndAddUp) {
  ostrelin::test::CapturedMessages messages;
  struct Case {
    int16_t maxSpeed;
    int16_t accel;
    int32_t dx;
    int32_t dy;
  };
  const Case cases[] = {
      {3000, 500, 900000, 0},  // steps of up to 450 mm
      {32767, 1, 990000, 0},
      {3000, 500, 600000, 700000},
      // The usual parameters: constant-speed middles of 131,063 and 163,824 hundredths, whose plain
      // split would end with a piece of 32,768 (a record of -327.68 mm).
      {500, 1000, 152013, 0},
      {500, 1000, 180892, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.dx) + ", " + std::to_string(c.dy));
    r.job.cornerTable.params.penUpMaxSpeed = c.maxSpeed;
    r.job.cornerTable.params.penUpAccelLong = c.accel;
    const auto records = Build(false, c.dx, c.dy);
    ASSERT_GT(records.size(), 20u);
    int64_t sx = 0;
    int64_t sy = 0;
    for (const auto& rec : records) {
      EXPECT_GE(rec.dx, 0);
      EXPECT_GE(rec.dy, 0);
      sx += rec.dx;
      sy += rec.dy;
    }
    EXPECT_EQ(sx, c.dx);
    EXPECT_EQ(sy, c.dy);
  }
  EXPECT_TRUE(messages.texts.empty());
}

// The check itself, on records that do not add up to their move: one warning per planner, every
// occurrence traced.
TEST_F(ProfileBuilder, SCurveCheckWarnsOnceWhenRecordsDisagree) {
  ostrelin::test::CapturedMessages messages;
  ostrelin::test::CapturedTrace trace;
  Build(false, 10000, 0);
  EXPECT_TRUE(CheckSCurve(*planner, 0, 10000, 0));
  EXPECT_TRUE(messages.texts.empty());
  const struct {
    int64_t dx;
    int64_t dy;
  } kDisagreeing[] = {{10000 + 65536, 0}, {10000, 1}, {-10000, 0}};
  for (const auto& move : kDisagreeing) EXPECT_FALSE(CheckSCurve(*planner, 0, move.dx, move.dy));
  EXPECT_EQ(messages.texts, std::vector<std::string>{"S curve error"});
  EXPECT_EQ(trace.texts.size(), 3u);
  // The records from the middle on do not add up to the whole move either.
  EXPECT_FALSE(CheckSCurve(*planner, 20, 10000, 0));
}

// The variant builder converts in double precision without truncating: the current position is the
// rounded point, and the end point of a single pen-down record is the point itself, unrounded; longer
// pen-down moves and travel moves keep rounded end points, as the default builder does.
TEST_F(ProfileBuilder, VariantBuilderKeepsTheExactEndPointOfSingleRecords) {
  r.ctx.scalingFrameFlag = 1;  // coordinates in dots
  r.ctx.vectorResolution = 600;
  struct Case {
    bool variant;
    bool penDown;
    float x;                   // dots at 600 dpi
    std::vector<double> ends;  // absolute x of each record, hundredths
    int32_t currentX;
  };
  const double exact = 10.7f * 2540.0 / 600.0;  // 45.2967 hundredths
  const double far = 9500.3f * 2540.0 / 600.0;  // 40217.9 hundredths: two records
  const Case cases[] = {
      {true, true, 10.7f, {exact}, 45},
      {false, true, 10.7f, {42}, 42},  // 10 dots (truncated) = 42.33 hundredths in single precision
      {true, true, 9500.3f, {20109, 40218}, 40218},
      {true, false, 10.7f, {45}, 45},  // a short travel move: one record, rounded
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.variant ? "variant " : "default ") + (c.penDown ? "pen-down " : "travel ") +
                 std::to_string(c.x));
    OstrelinVectorParams params = r.job.cornerTable.params;
    params.variantFlag = c.variant ? 1 : 0;
    planner.emplace(r.ctx, r.job, params);
    StartProfile(*planner, 0, 0, 500, 500);
    PlanProfilePoint(r.ctx, r.job, *planner, c.penDown, c.x, 3.2f);
    ASSERT_EQ(planner->count, c.ends.size());
    for (size_t k = 0; k < c.ends.size(); ++k) EXPECT_EQ(planner->absolute[k].x, c.ends[k]) << k;
    EXPECT_EQ(planner->currentX, c.currentX);
    int64_t sum = 0;
    for (size_t k = 0; k < planner->count; ++k) sum += planner->records[k].dx;
    EXPECT_EQ(sum, c.currentX);  // the records move to the rounded point
  }
  EXPECT_EQ(static_cast<int32_t>(std::lround(far)), 40218);
}

class LookAhead : public ProfileBuilder {};

TEST_F(LookAhead, HundredMillimetreTravelSpeedsAndTime) {
  Build(false, 10000, 0);
  PlanSpeeds(*planner);
  const std::vector<int> rising = {4,   10,  19,  31,  42,  60,  76,  103, 127, 148,
                                   180, 203, 221, 235, 246, 254, 259, 266, 269};
  std::vector<int> ends = rising;
  ends.insert(ends.end(), {269, 269, 269});
  ends.insert(ends.end(), rising.rbegin() + 1, rising.rend());
  ends.push_back(3);
  const std::vector<ProfileRecord> records(planner->records.get(), planner->records.get() + 41);
  EXPECT_EQ(Field(records, &ProfileRecord::endSpeed), ends);
  EXPECT_EQ(records[0].startSpeed, 3);
  for (size_t k = 1; k < records.size(); ++k) EXPECT_EQ(records[k].startSpeed, records[k - 1].endSpeed) << k;
  for (size_t k = 19; k <= 21; ++k) EXPECT_EQ(records[k].peakSpeed, 270) << k;
  AddProfileTime(r.job, planner->params, planner->records.get(), 41, false, 1000);
  EXPECT_NEAR(r.job.estimatedTime, 0.612, 0.0005);
}

TEST_F(LookAhead, LonePenDownRecordsPeakAndTime) {
  struct Case {
    int32_t dx;
    int16_t peak;
    double seconds;
  };
  const Case cases[] = {
      {100, 21, 2 * 18.0 / 400 + (1 - (21.0 * 21 - 9) / 400) / 21},
      {1000, 64, 2 * 61.0 / 400 + (10 - (64.0 * 64 - 9) / 400) / 64},
  };
  for (const Case& c : cases) {
    Build(true, c.dx, 0);
    PlanSpeeds(*planner);
    const ProfileRecord& rec = planner->records[0];
    EXPECT_EQ(rec.startSpeed, 3);
    EXPECT_EQ(rec.endSpeed, 3);
    EXPECT_EQ(rec.peakSpeed, c.peak);
    r.job.estimatedTime = 0;
    AddProfileTime(r.job, planner->params, planner->records.get(), 1, true, 1000);
    EXPECT_NEAR(r.job.estimatedTime, c.seconds, 1e-12);
  }
  EXPECT_NEAR(r.job.estimatedTime, 0.3016, 5e-5);
}

// Plans pen-down points (hundredths, from the origin) in one buffer and returns its end speeds.
class Junctions : public ProfileBuilder {
 protected:
  std::vector<int> EndSpeeds(const std::vector<std::pair<int, int>>& points) {
    planner.emplace(r.ctx, r.job, r.job.cornerTable.params);
    StartProfile(*planner, 0, 0, 500, 500);
    for (auto [x, y] : points) {
      PlanProfilePoint(r.ctx, r.job, *planner, true, static_cast<float>(x / 2.5),
                       static_cast<float>(y / 2.5));
    }
    PlanSpeeds(*planner);
    return Field({planner->records.get(), planner->records.get() + planner->count}, &ProfileRecord::endSpeed);
  }
};

TEST_F(Junctions, CornersReversalsAndStraightRuns) {
  // A right angle and a reversal in buffers too short to be smoothed stop at vmin.
  EXPECT_EQ(EndSpeeds({{5000, 0}, {5000, 5000}}), (std::vector<int>{3, 3}));
  EXPECT_EQ(EndSpeeds({{5000, 0}, {0, 0}}), (std::vector<int>{3, 3}));
  // A straight run: no lowering; forward and backward passes alone, ending at vmin.
  const auto straight = EndSpeeds({{1000, 0}, {2000, 0}, {3000, 0}});
  ASSERT_EQ(straight.size(), 3u);
  EXPECT_GT(straight[0], 3);
  EXPECT_GT(straight[1], 3);
  EXPECT_EQ(straight[2], 3);
}

TEST_F(Junctions, PenDownAccelerationFallsWithSpeed) {
  EndSpeeds({{10000, 0}, {20000, 0}, {30000, 0}, {40000, 0}});
  // Record 0 keeps the pen-down acceleration; the others get (400 - 100) / sqrt(m / 2) + 100 of the
  // lower junction speed m around them, which is at least 100 + 300 / 10 at the 200 mm/s maximum.
  EXPECT_EQ(planner->records[0].accel, 400);
  for (size_t k = 1; k < 4; ++k) {
    EXPECT_LT(planner->records[k].accel, 400) << k;
    EXPECT_GE(planner->records[k].accel, 130) << k;
  }
}

}  // namespace
}  // namespace ostrelin::vector
