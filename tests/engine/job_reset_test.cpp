// The job reset: motion code tables, palettes and cleared job state.
#include <gtest/gtest.h>

#include <algorithm>

#include "engine/job_reset.h"
#include "engine/motion_tables.h"
#include "engine/settings.h"
#include "support/test_support.h"

namespace ostrelin::test {
namespace {

TEST(MotionTables, EveryTableRisesFromZeroTo200) {
  for (const auto& table : kMotionTables) {
    EXPECT_EQ(table.front(), 0);
    EXPECT_EQ(table.back(), 200);
    EXPECT_TRUE(std::is_sorted(table.begin(), table.end()));
  }
  // The first code at or above 100 mm/s in table 0 is 71 (entry 70 is 99, entry 71 is 101).
  const auto& t0 = kMotionTables[0];
  EXPECT_EQ(std::lower_bound(t0.begin(), t0.end(), 100) - t0.begin(), 71);
  EXPECT_EQ(t0[70], 99);
}

TEST(JobReset, MotionTableAndDivisorFollowTheSelector) {
  struct Case {
    int32_t selector;
    double divisor;
    int entry;
    int16_t value;
  };
  for (const Case& c : {Case{0, 5550, 12, 22}, Case{1, 6000, 8, 13}, Case{7, 5400, 5, 5}, Case{2, 5400, 255, 200}}) {
    RecordSet set;
    HeaderWord(*set.ctx, 100) = c.selector;
    ResetJob(*set.ctx, *set.spool, *set.job);
    EXPECT_EQ(set.job->motionDivisor, c.divisor);
    EXPECT_EQ(set.job->motionTable[c.entry], c.value);
  }
}

TEST(JobReset, AProfilingControllerKeepsWhateverTableWasThere) {
  RecordSet set;
  set.ctx->controllerFlag = 1;
  set.job->motionDivisor = 1.5;
  set.job->motionTable[3] = 77;
  ResetJob(*set.ctx, *set.spool, *set.job);
  EXPECT_EQ(set.job->motionDivisor, 1.5);
  EXPECT_EQ(set.job->motionTable[3], 77);
}

TEST(JobReset, ClearsJobStateAndLoadsDefaults) {
  RecordSet set;
  int dummy = 0;
  set.job->passMode = 2;
  set.job->estimatedTime = 12.5;
  set.job->colourLayers[3] = &dummy;
  set.job->greyLayer = &dummy;
  set.spool->seedRows[1][100] = 9;
  set.spool->directionFlag = 1;
  set.ctx->usedWidth = 5;
  ResetJob(*set.ctx, *set.spool, *set.job);
  EXPECT_EQ(set.job->passMode, 0);
  EXPECT_EQ(set.job->estimatedTime, 0.0);
  EXPECT_EQ(set.job->colourLayers[3], nullptr);
  EXPECT_EQ(set.job->greyLayer, nullptr);
  EXPECT_EQ(set.spool->seedRows[1][100], 0);
  EXPECT_EQ(set.spool->pendingPlane, -1);
  EXPECT_EQ(set.spool->directionFlag, 0);
  EXPECT_EQ(set.ctx->usedWidth, 0);
  EXPECT_EQ(set.ctx->interpreterWord, 10);
  EXPECT_EQ(set.ctx->numberOfPens, 256);
  EXPECT_EQ(set.ctx->charTable[0], 0);
  EXPECT_EQ(set.ctx->charTable[258], 1);
  EXPECT_EQ(set.ctx->rasterOperation, 0xCC0020);
  EXPECT_EQ(set.spool->bboxMinX, 1e10);
  EXPECT_EQ(set.spool->bboxMaxY, -1e10);
  // Pen 2 is red and raster entry 4 blue, stored blue, green, red.
  EXPECT_EQ(std::vector<uint8_t>(set.ctx->penPalette[2], set.ctx->penPalette[2] + 3), (std::vector<uint8_t>{0, 0, 255}));
  EXPECT_EQ(std::vector<uint8_t>(set.ctx->rasterPalette[4], set.ctx->rasterPalette[4] + 3),
            (std::vector<uint8_t>{255, 0, 0}));
  EXPECT_EQ(std::vector<uint8_t>(set.ctx->penPalette[0], set.ctx->penPalette[0] + 3),
            (std::vector<uint8_t>{255, 255, 255}));
}

}  // namespace
}  // namespace ostrelin::test
