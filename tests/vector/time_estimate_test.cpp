// Time estimation: profile time of flushed records, raster head moves and zone rows.
#include "engine/vector/time_estimate.h"

#include <gtest/gtest.h>

#include <cmath>

#include "engine/settings.h"
#include "support/test_support.h"

namespace ostrelin::vector {
namespace {

using test::RecordSet;

OstrelinVectorParams PenDownParams(int16_t maxSpeed) {
  OstrelinVectorParams p{};
  p.penDownMaxSpeed = maxSpeed;
  return p;
}

TEST(ProfileTime, LoweredPeakRecordMatchesWorkedExample) {
  RecordSet set;
  const ProfileRecord record{3, 3, 64, 400, 1000, 0};
  AddProfileTime(*set.job, PenDownParams(200), &record, 1, true, 1000);
  const double expected = 2 * 61.0 / 400 + (10 - (64.0 * 64 - 9) / 400) / 64;
  EXPECT_NEAR(set.job->estimatedTime, expected, 1e-12);
  EXPECT_NEAR(set.job->estimatedTime, 0.3016, 5e-5);
}

TEST(ProfileTime, CruiseSpeedIsTheLowerOfCapAndLoweredPeak) {
  struct Case {
    int16_t penDownMax;
    int32_t penSpeed;
    double cruise;  // expected cruise speed of a 100 mm record from 100 to 100 mm/s at 1000 mm/s^2
  };
  const Case cases[] = {
      {200, 500, 100.0},   // cap 200 * 500 / 1000 = 100 below the lowered peak 150
      {400, 500, 150.0},   // lowered peak 200 - 500 * 200 * 50 / 100000 = 150 below the cap 200
      {200, 1000, 200.0},  // full speed: neither lowers the peak
      {200, 0, 0.2},       // speed value 0: the cap is 0.2 mm/s
  };
  for (const Case& c : cases) {
    RecordSet set;
    const ProfileRecord record{100, 100, 200, 1000, 10000, 0};
    AddProfileTime(*set.job, PenDownParams(c.penDownMax), &record, 1, true, c.penSpeed);
    const double end = std::min(100.0, c.cruise);
    const double ramps = (c.cruise - 100) / 1000 + (c.cruise - end) / 1000;
    const double rampMm =
        (c.cruise * c.cruise - 100.0 * 100) / 2000 + (c.cruise * c.cruise - end * end) / 2000;
    EXPECT_NEAR(set.job->estimatedTime, ramps + (100 - rampMm) / c.cruise, 1e-9)
        << c.penDownMax << " " << c.penSpeed;
  }
}

TEST(ProfileTime, TravelUsesPeakAndChainsEndSpeeds) {
  RecordSet set;
  // Two travel records: 0 -> 100 (peak 100), then 100 -> 0; the second starts where the first ended.
  const ProfileRecord records[] = {{0, 100, 100, 1000, 1000, 0}, {100, 0, 100, 1000, 0, 1000}};
  OstrelinVectorParams params{};
  params.penUpMaxSpeed = 50;  // not a cap for travel
  AddProfileTime(*set.job, params, records, 2, false, 0);
  const double first = 0.1 + (10 - 5.0) / 100;
  const double second = 0.1 + (10 - 5.0) / 100;
  EXPECT_NEAR(set.job->estimatedTime, first + second, 1e-12);
}

TEST(ProfileTime, AccelerationAndSpeedZeroSkipTheirTerms) {
  RecordSet set;
  const ProfileRecord records[] = {{0, 0, 0, 0, 500, 0}, {5, 5, 5, 0, 500, 0}};
  AddProfileTime(*set.job, OstrelinVectorParams{}, records, 2, false, 0);
  EXPECT_NEAR(set.job->estimatedTime, 5.0 / 5, 1e-12);  // only the second cruise term
}

class HeadMove : public ::testing::Test {
 protected:
  void SetUp() override {
    set.ctx->engravingResX = 500;
    set.ctx->engravingResY = 250;
    // The classic controller's pen-up values: from 0 to at most 200 mm/s at 2400 mm/s^2.
    set.job->cornerTable.params.penUpMinSpeed = 0;
    set.job->cornerTable.params.penUpAccelLong = 2400;
    set.job->cornerTable.params.penUpMaxSpeed = 200;
  }
  // Time of a move of lengthMm that reaches the 200 mm/s peak.
  static double Reaching(double lengthMm) { return 2 * 200.0 / 2400 + (lengthMm - 2 * 40000.0 / 4800) / 200; }
  RecordSet set;
};

TEST_F(HeadMove, TimesPerAxisOrientationAndLength) {
  struct Case {
    int orientation;
    int32_t dots;
    bool alongX;
    double expected;
  };
  const Case cases[] = {
      {0, 500, true, Reaching(25.4)},   // 500 dots at 500 dpi
      {0, -500, true, Reaching(25.4)},  // direction does not matter
      {0, 500, false, Reaching(50.8)},  // y at 250 dpi
      {5, 500, true, Reaching(50.8)},   // turned page: x takes the y resolution
      {5, 500, false, Reaching(25.4)},
      {0, 20000, true, Reaching(1016)},  // 101600 hundredths: kept whole, not wrapped to 16 bits
      // 50.8 hundredths truncate to 50; 0.5 mm is too short for 200 mm/s: peak
      // trunc(sqrt(2400 * 0.5)) + 1 = 35.
      {0, 10, true, 2 * 35.0 / 2400 + (0.5 - 2 * 35.0 * 35 / 4800) / 35},
  };
  for (const Case& c : cases) {
    set.ctx->orientation = c.orientation;
    set.job->estimatedTime = 1.0;
    AddRasterHeadMoveTime(*set.ctx, *set.job, c.dots, c.alongX);
    EXPECT_NEAR(set.job->estimatedTime - 1.0, c.expected, 1e-9) << c.orientation << " " << c.dots;
  }
}

TEST_F(HeadMove, ProfilingParametersStartAtTheMinimumSpeed) {
  set.job->cornerTable.params.penUpMinSpeed = 3;
  set.job->cornerTable.params.penUpAccelLong = 1000;
  set.job->cornerTable.params.penUpMaxSpeed = 500;
  AddRasterHeadMoveTime(*set.ctx, *set.job, 50000, true);  // 2540 mm
  const double ramp = (500.0 * 500 - 9) / 2000;
  EXPECT_NEAR(set.job->estimatedTime, 2 * 497.0 / 1000 + (2540 - 2 * ramp) / 500, 1e-9);
}

class ZoneTime : public ::testing::Test {
 protected:
  void Machine(int32_t model, bool fast, bool stamp, bool oneWay) {
    HeaderWord(*set.ctx, 28) = model;
    HeaderWord(*set.ctx, 104) = fast ? 1 : 0;
    set.ctx->rasterOptionsB[0] = stamp ? 1 : 0;
    set.ctx->oneWayFlag = oneWay ? 1 : 0;
  }
  double Zone(int32_t speedWord, double lengthMm, int32_t rows, double pitchMm, int32_t widthDots,
              int32_t resY) {
    set.job->estimatedTime = 0;
    AddZoneTime(*set.ctx, *set.job, speedWord, lengthMm, rows, pitchMm, widthDots, resY);
    return set.job->estimatedTime;
  }
  RecordSet set;
};

TEST_F(ZoneTime, LongRowOfGroupDPlainMatchesWorkedExample) {
  Machine(260, false, false, false);
  // u = 140, l = 2000^2 / 280; no feed (pitch 0) and no data (width 0).
  const double row = 2 * 2000 / (2000.0 * 2000 / 280) + (309 - 280) / 2000.0;
  EXPECT_NEAR(row, 0.2945, 1e-9);
  EXPECT_NEAR(Zone(1000, 300, 7, 0, 0, 500), 7 * row, 1e-9);
  EXPECT_NEAR(Zone(1000, -300, 7, 0, 0, 500), 7 * row, 1e-9);  // the sign of the length is ignored
  EXPECT_EQ(Zone(1000, 0, 7, 0.1, 100, 500), 0.0);
}

TEST_F(ZoneTime, RampRulesByLength) {
  struct Case {
    int32_t model;
    bool fast;
    int32_t speedWord;
    double lengthMm;
    double expected;  // row time without feed, data or return
  };
  const Case cases[] = {
      // Group D plain, middle row: u = 50, l = 2000^2 / 100 = 40000 above the cap 15000: l = 15000,
      // A = sqrt(2 * 15000 * 50).
      {260, false, 1000, 100, 2 * std::sqrt(1.5e6) / 15000 + (109 - 100) / std::sqrt(1.5e6)},
      // Group D plain, short row (below 40 mm): u = 10, l = 10000, sqrt(2 l u) = 447 < 2000: A = 447.
      {260, false, 1000, 20, 2 * std::sqrt(2e5) / 10000 + (29 - 20) / std::sqrt(2e5)},
      // Same short row at a low speed (A = 100 < 447): u = 100^2 / 20000 = 0.5.
      {260, false, 50, 20, 2 * 100.0 / 10000 + (29 - 1.0) / 100},
      // Speed word 0: the default speed 0.6 mm/s, short rule u = 0.36 / 20000.
      {260, false, 0, 20, 2 * 0.6 / 10000 + (29 - 0.36 / 10000) / 0.6},
      // Group B plain, long row with fixed l 20000: A = 2540, 150 >= 2540^2 / 40000 = 161.3? no:
      // o / 2 = 150 < 161.29, so u = 150 and A = sqrt(2 * 20000 * 150).
      {266, false, 1000, 300, 2 * std::sqrt(6e6) / 20000 + (309 - 300) / std::sqrt(6e6)},
      // Group C fast, long row with plain l 29000: A = 4000, u = 4000^2 / 58000.
      {267, true, 1000, 600, 2 * 4000.0 / 29000 + (609 - 2 * 16e6 / 58000) / 4000},
      // Group A fast with a model whose speed scale is 1000: A = 1000, long rule u 40 gives
      // l = 12500, below the floor 15000: l = 15000, u = 1000^2 / 30000.
      {272, true, 1000, 100, 2 * 1000.0 / 15000 + (109 - 2e6 / 30000) / 1000},
      // Group A fast otherwise scales by 1500: l = 1500^2 / 80 = 28125.
      {271, true, 1000, 100, 2 * 1500.0 / 28125 + (109 - 80.0) / 1500},
  };
  for (const Case& c : cases) {
    Machine(c.model, c.fast, false, false);
    EXPECT_NEAR(Zone(c.speedWord, c.lengthMm, 1, 0, 0, 500), c.expected, 1e-9)
        << c.model << " " << c.speedWord << " " << c.lengthMm;
  }
}

TEST_F(ZoneTime, FeedAccelerationByModelAndMode) {
  struct Case {
    int32_t model;
    bool fast;
    bool stamp;
    double feedAccel;
    double feedCap;
  };
  const Case cases[] = {
      {260, false, false, 1000, 200},
      {260, true, false, 3000, 500},
      {260, true, true, 1000, 200},
      {267, false, false, 360 / 36.0 * 600 / 100 + 400, 200},  // H1 at 360 dpi
      {267, true, false, 360 / 36.0 * 2200 / 100 + 800, 500},  // H2 at 360 dpi
      {268, false, false, 1000, 200},
      {268, true, false, 3000, 500},
  };
  for (const Case& c : cases) {
    Machine(c.model, c.fast, c.stamp, false);
    for (double pitch : {0.0705, 100.0}) {
      const double feed = std::min(std::sqrt(c.feedAccel * pitch), c.feedCap);
      const double withFeed = Zone(1000, 300, 1, pitch, 0, 360);
      const double without = Zone(1000, 300, 1, 0, 0, 360);
      EXPECT_NEAR(withFeed - without, 2 * feed / c.feedAccel, 1e-9) << c.model << " " << pitch;
    }
  }
}

TEST_F(ZoneTime, DataAndUnidirectionalReturn) {
  Machine(257, false, false, false);
  const double plain = Zone(1000, 100, 1, 0, 0, 500);
  EXPECT_NEAR(Zone(1000, 100, 1, 0, -4000, 500) - plain, 4000 * 2.5e-7, 1e-12);
  Machine(257, false, false, true);
  EXPECT_NEAR(Zone(1000, 100, 1, 0, 0, 500) - plain, 2 * std::sqrt(109.0 * 15000) / 15000, 1e-9);
  EXPECT_NEAR(Zone(1000, 100, 1, 0, 0, 500) - plain, 0.1705, 5e-5);
  Machine(257, false, false, false);
  const double plain400 = Zone(1000, 400, 1, 0, 0, 500);
  Machine(257, false, false, true);
  EXPECT_NEAR(Zone(1000, 400, 1, 0, 0, 500) - plain400, 0.2 + 259.0 / 1500, 1e-9);
}

}  // namespace
}  // namespace ostrelin::vector
