// The corner-table planner: placement, units, pieces and speed codes.
#include "engine/vector/corner_planner.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <optional>
#include <vector>

#include "vector/vector_test_support.h"

namespace ostrelin::vector {
namespace {

using test::PlannerRecords;

struct Written8 {
  int limit;
  int end;
  int dx;
  int dy;
  int length;
};

std::vector<Written8> Decode8(const std::vector<uint8_t>& b) {
  std::vector<Written8> out;
  auto s16 = [&](size_t at) { return static_cast<int16_t>(b[at] << 8 | b[at + 1]); };
  for (size_t i = 0; i + 8 <= b.size(); i += 8)
    out.push_back({b[i], b[i + 1], s16(i + 2), s16(i + 4), s16(i + 6)});
  return out;
}

class CornerPlannerTest : public ostrelin::test::ScratchDirTest {
 protected:
  // Plans points given in motor steps (as plotter units that convert back to them) from the
  // origin, flushes, and returns the records written.
  std::vector<Written8> Plan(const std::vector<std::pair<double, double>>& stepsPoints) {
    planner.emplace(r.ctx, r.job);
    StartCorner(*planner, 0, 0, 500, 500);
    return PlanFrom(stepsPoints);
  }
  // The same from where the planner is.
  std::vector<Written8> PlanFrom(const std::vector<std::pair<double, double>>& stepsPoints) {
    const size_t before = r.Written().size();
    for (auto [x, y] : stepsPoints) {
      const double perStep = r.job.motionDivisor / 1600.0 / 2.5;  // plotter units per motor step
      AddCornerPoint(r.ctx, r.job, *planner, static_cast<float>(x * perStep),
                     static_cast<float>(y * perStep));
    }
    FlushCorner(r.ctx, r.job, *planner);
    const auto bytes = r.Written();
    return Decode8(std::vector<uint8_t>(bytes.begin() + static_cast<std::ptrdiff_t>(before), bytes.end()));
  }
  // Points along headings (degrees) of records of the given length (motor steps), from (x, y).
  static std::vector<std::pair<double, double>> Path(const std::vector<double>& headings, double length,
                                                     double x = 0, double y = 0) {
    std::vector<std::pair<double, double>> points;
    for (double h : headings) {
      x += length * std::cos(h * 3.141592653589793 / 180);
      y += length * std::sin(h * 3.141592653589793 / 180);
      points.emplace_back(x, y);
    }
    return points;
  }
  uint8_t Code(int speed) const {
    int i = 0;
    while (i < 255 && r.job.motionTable[i] < speed) ++i;
    return static_cast<uint8_t>(i);
  }
  PlannerRecords r;
  std::optional<CornerPlanner> planner;
};

TEST_F(CornerPlannerTest, RunAveragingOfTurns) {
  // Turns 10, 12, 30, 31 and the last record's 120; corner speeds made distinct around 10 to 12.
  r.job.cornerTable.corner[10][0] = 50;
  r.job.cornerTable.corner[11][0] = 100;
  r.job.cornerTable.corner[12][0] = 150;
  const auto records = Plan(Path({0, 10.3, 22.5, 52.8, 84.1}, 10000));
  ASSERT_EQ(records.size(), 5u);
  // 10 and 12 both take their mean 11; 30 and 31 (above 25 degrees) and 120 stop the head.
  EXPECT_EQ(records[0].end, Code(100));
  EXPECT_EQ(records[1].end, Code(100));
  EXPECT_EQ(records[2].end, 0);
  EXPECT_EQ(records[3].end, 0);
  EXPECT_EQ(records[4].end, 0);
}

TEST_F(CornerPlannerTest, TurnsFoldAndCap) {
  struct Case {
    std::vector<double> headings;
    int cornerSpeedEntry;  // -1: above 25 degrees, speed 0
  };
  const Case cases[] = {
      {{0, 10.2}, 10},   // left turn
      {{10.2, 0}, 10},   // right turn
      {{0, 350.3}, 10},  // right turn across 0 degrees: 350 folds to 10
      {{0, 349.8}, 11},  // the difference is truncated before it folds: 349 folds to 11
      {{0, 40.2}, -1},   // 40 folds to 320, capped to 120
      {{0, 0}, 0},       // straight on
  };
  r.job.cornerTable.corner[10][0] = 77;
  r.job.cornerTable.corner[11][0] = 120;
  for (const Case& c : cases) {
    planner.emplace(r.ctx, r.job);
    planner->currentX = 20000;
    planner->currentY = 20000;
    const auto records = PlanFrom(Path(c.headings, 10000, 20000, 20000));
    ASSERT_EQ(records.size(), 2u);
    const int expected = c.cornerSpeedEntry < 0 ? 0 : Code(r.job.cornerTable.corner[c.cornerSpeedEntry][0]);
    EXPECT_EQ(records[0].end, expected) << c.headings[1];
    EXPECT_EQ(records[1].end, 0);
  }
}

TEST_F(CornerPlannerTest, CollinearRecordsAndDecelerationLimit) {
  // Three collinear records, the last one 50 steps long: corner speed 500 gives code 255, which the
  // deceleration limit brings down to 0 + 50 on the second record and 50 + 1000 (no cap) on the first.
  const auto records = Plan({{1000, 0}, {2000, 0}, {2050, 0}});
  ASSERT_EQ(records.size(), 3u);
  EXPECT_EQ(Code(500), 255);
  EXPECT_EQ(records[0].end, 255);
  EXPECT_EQ(records[1].end, 50);
  EXPECT_EQ(records[2].end, 0);
}

TEST_F(CornerPlannerTest, ShortRecordsGetLimitCodes) {
  // 5 mm is 144 motor steps with divisor 5550; a 3 mm record is 104 steps.
  const auto records = Plan({{104, 0}, {208, 0}, {5000, 0}, {5104, 0}});
  ASSERT_EQ(records.size(), 4u);
  EXPECT_EQ(records[0].limit, 254);  // end code 255 (straight on), capped at 254
  EXPECT_EQ(records[2].limit, 0);    // long record: no limit
  EXPECT_EQ(records[3].end, 0);
  EXPECT_EQ(records[3].limit, Code(15));  // end code 0: the first code of 15 mm/s
}

TEST_F(CornerPlannerTest, LoneRecordEndsAtZero) {
  const auto shortMove = Plan({{100, 0}});
  ASSERT_EQ(shortMove.size(), 1u);
  EXPECT_EQ(shortMove[0].end, 0);
  EXPECT_EQ(shortMove[0].limit, Code(15));
  const auto longMove = Plan({{1000, 0}});
  ASSERT_EQ(longMove.size(), 1u);
  EXPECT_EQ(longMove[0].end, 0);
  EXPECT_EQ(longMove[0].limit, 0);
}

TEST_F(CornerPlannerTest, LongMoveIsCutIntoEqualPiecesWithoutCorners) {
  const auto records = Plan({{100000, 0}});
  // 100000 steps: n = 4 pieces of 25000.
  ASSERT_EQ(records.size(), 4u);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(records[i].dx, 25000);
    EXPECT_EQ(records[i].length, 25000);
    EXPECT_EQ(records[i].end, 255) << i;  // no corner inside the move
  }
  EXPECT_EQ(records[3].dx, 25000);
  EXPECT_EQ(records[3].end, 0);
}

TEST_F(CornerPlannerTest, UnitsOfThePlotCommandFile) {
  struct Case {
    int kind5or11;
    int scalingFrame;
    float x;
    int steps;
  };
  const Case cases[] = {
      {1, 0, 10000.0f, 2883},  // hundredths (kinds 5 and 11): 10000 * 1600 / 5550
      {0, 0, 4000.0f, 2883},   // plotter units: 4000 * 2.5 hundredths
      {0, 1, 1968.7f, 2882},   // dots at 500 dpi, truncated to 1968: 1968 * 25.4 * 160000 / 5550 / 500
  };
  for (const Case& c : cases) {
    r.ctx.kind5or11Flag = c.kind5or11;
    r.ctx.scalingFrameFlag = c.scalingFrame;
    r.ctx.plateExtentWidth = 20000;
    r.ctx.plateExtentHeight = 20000;
    planner.emplace(r.ctx, r.job);
    StartCorner(*planner, 0, 0, 500, 500);
    AddCornerPoint(r.ctx, r.job, *planner, c.x, 0.0f);
    EXPECT_EQ(planner->currentX, c.steps) << c.kind5or11 << c.scalingFrame;
  }
}

TEST(PlateGeometry, OrientationAndSpoolRoadPlacement) {
  ostrelin::test::RecordSet set;
  set.ctx->scalingFrameFlag = 1;
  set.ctx->plateExtentWidth = 1000;
  set.ctx->plateExtentHeight = 800;
  set.job->renderingRoad = 1;
  struct Case {
    int orientation;
    float x, y;
    float newX, newY;
  };
  const Case cases[] = {
      {0, 100, 50, 100, 50}, {1, 100, 50, 900, 50},  {2, 100, 50, 100, 750}, {3, 100, 50, 900, 750},
      {4, 100, 50, 50, 100}, {5, 100, 50, 750, 100}, {6, 100, 50, 50, 900},  {7, 100, 50, 750, 900},
      {1, 1200, 50, 0, 50},  // beyond the plate: a negative result becomes 0
  };
  for (const Case& c : cases) {
    set.ctx->orientation = c.orientation;
    float x = c.x;
    float y = c.y;
    PlaceOnPlate(*set.ctx, *set.job, x, y);
    EXPECT_EQ(x, c.newX) << c.orientation;
    EXPECT_EQ(y, c.newY) << c.orientation;
  }
  // Spool road, plot size length 7200 < width 10000: x becomes 10000 - x.
  set.ctx->orientation = 0;
  set.job->renderingRoad = 0;
  set.job->machineKind = 2;
  set.job->workValues[0] = 7200;
  set.job->workValues[1] = 10000;
  float x = 100;
  float y = 20;
  PlaceOnPlate(*set.ctx, *set.job, x, y);
  EXPECT_EQ(x, 9900);
  EXPECT_EQ(y, 20);
  // Length at least the width: (x, y) becomes (y, A + x).
  set.job->workValues[1] = 5000;
  x = 100;
  y = 20;
  PlaceOnPlate(*set.ctx, *set.job, x, y);
  EXPECT_EQ(x, 20);
  EXPECT_EQ(y, 7300);
}

// Whole-dot conversions are kept per dot value from 0 to the plate's larger extent: every value comes
// out as the conversion gives it, computed once inside the table (up to its last entry) and every time
// outside it, even when the result is the table's own mark of an entry not computed yet.
TEST(DotsMemo, GivesWhatTheConversionGivesAndKeepsItInsideThePlate) {
  ostrelin::test::RecordSet set;
  set.ctx->plateExtentWidth = 100;
  set.ctx->plateExtentHeight = 300;
  DotsMemo memo(*set.ctx, true);
  int calls = 0;
  const auto convert = [&calls](int32_t dots) {
    ++calls;
    return dots == 7 ? std::numeric_limits<int32_t>::min() : dots / 2 - 1;
  };
  struct Case {
    int32_t dots;
    bool kept;
  };
  const Case cases[] = {{0, true},   {150, true}, {300, true},        {301, false},
                        {-1, false}, {7, false},  {INT32_MAX, false}, {INT32_MIN, false}};
  for (const Case& c : cases) {
    for (int round = 0; round < 2; ++round) {
      const int before = calls;
      EXPECT_EQ(memo.Get(c.dots, convert), convert(c.dots)) << c.dots;
      EXPECT_EQ(calls - before, round == 1 && c.kept ? 1 : 2) << c.dots << " round " << round;
    }
  }
}

}  // namespace
}  // namespace ostrelin::vector
