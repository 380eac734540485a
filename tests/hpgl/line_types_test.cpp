// Line types, patterns and ticks; the point output into the polygon buffer.
#include <algorithm>
#include <cmath>

#include "hpgl/hpgl_test_support.h"

namespace ostrelin::test {
namespace {

using hpgl::kOpDot;
using hpgl::kOpPenDown;
using hpgl::kOpPenUp;

// P1-P2 diagonal of 100 plotter units, so that "LTn,100" gives a period of 100.
constexpr const char* kPeriod100 = "IP0,0,60,80;";

class LineTypes : public HpglTest {
 protected:
  bool Traced(const std::string& text) const {
    return std::find(trace_.texts.begin(), trace_.texts.end(), text) != trace_.texts.end();
  }
  CapturedTrace trace_;
};

TEST_F(LineTypes, FixedAndAdaptivePatterns) {
  struct Case {
    std::string text;
    std::vector<PlotRecord> records;
  };
  const std::string p = kPeriod100;
  const Case cases[] = {
      // Type 2 on 250 units: dashes and gaps of 50, then a pen-up record at the end; the phase is
      // 0.5, so the next line of the polyline begins with a gap.
      {p + "LT2,100;PA0,0;PD250,0;PD250,100;",
       {Pt(kOpPenUp, 0, 0), Pt(kOpPenDown, 50, 0), Pt(kOpPenUp, 100, 0), Pt(kOpPenDown, 150, 0),
        Pt(kOpPenUp, 200, 0), Pt(kOpPenDown, 250, 0), Pt(kOpPenUp, 250, 0), Pt(kOpPenUp, 250, 50),
        Pt(kOpPenDown, 250, 100), Pt(kOpPenUp, 250, 100)}},
      // A pen-up move restarts the pattern; a line of whole periods ends with a zero-length dash.
      {p + "LT2,100;PA0,0;PD30,0;PU0,100;PD100,100;",
       {Pt(kOpPenUp, 0, 0), Pt(kOpPenDown, 30, 0), Pt(kOpPenUp, 0, 100), Pt(kOpPenDown, 50, 100),
        Pt(kOpPenUp, 100, 100), Pt(kOpPenDown, 100, 100)}},
      // Type 4: a dot (opcode 3) at 0.9 of each period.
      {p + "LT4,100;PA0,0;PD100,0;",
       {Pt(kOpPenUp, 0, 0), Pt(kOpPenDown, 80, 0), Pt(kOpPenUp, 90, 0), Pt(kOpDot, 90, 0),
        Pt(kOpPenUp, 100, 0), Pt(kOpPenDown, 100, 0)}},
      // Type -1: a dot and a gap per period, whole periods fitted: 150 units take 2 periods of 75.
      {p + "LT-1,100;PA0,0;PD150,0;",
       {Pt(kOpPenUp, 0, 0), Pt(kOpDot, 0, 0), Pt(kOpPenUp, 75, 0), Pt(kOpDot, 75, 0), Pt(kOpPenUp, 150, 0)}},
      // Type 0: a dot at each end point; solid: one record per line.
      {"LT0;PA0,0;PD10,0,20,0;", {Pt(kOpPenUp, 0, 0), Pt(kOpDot, 10, 0), Pt(kOpDot, 20, 0)}},
      {"LT2;LT;PA0,0;PD10,0;", {Pt(kOpPenUp, 0, 0), Pt(kOpPenDown, 10, 0)}},
      // A zero-length patterned line writes nothing; a solid one writes its point.
      {"LT2;PA0,0;PD0,0;", {Pt(kOpPenUp, 0, 0)}},
      {"PA0,0;PD0,0;", {Pt(kOpPenUp, 0, 0), Pt(kOpPenDown, 0, 0)}},
      // A pattern length of 0, or one too fine for the line, draws the line solid.
      {"LT2,0;PA0,0;PD250,0;", {Pt(kOpPenUp, 0, 0), Pt(kOpPenDown, 250, 0)}},
      {"LT-3,0;PA0,0;PD250,0;", {Pt(kOpPenUp, 0, 0), Pt(kOpPenDown, 250, 0)}},
      {"LT2,0.00001;PA0,0;PD250,0;", {Pt(kOpPenUp, 0, 0), Pt(kOpPenDown, 250, 0)}},
  };
  for (const Case& c : cases) EXPECT_EQ(RecordsOf(c.text), c.records) << c.text;
  EXPECT_TRUE(Traced("Warning: Zero line segment length -- skipped\n"));
}

TEST_F(LineTypes, AdaptiveTypeFitsWholePeriodsAndEndsOnTheEndPoint) {
  // Type -3 on 250 units with a period of 100: 3 periods of 83.33.
  const auto records = RecordsOf(std::string(kPeriod100) + "LT-3,100;PA0,0;PD250,0;");
  ASSERT_EQ(records.size(), 10u);
  const double period = 250.0 / 3.0;
  const double at[9] = {0.35, 0.65, 1.0, 1.35, 1.65, 2.0, 2.35, 2.65, 3.0};
  const uint8_t ops[9] = {2, 1, 2, 2, 1, 2, 2, 1, 2};
  for (int i = 0; i < 9; ++i) {
    EXPECT_EQ(records[i + 1].opcode, ops[i]) << i;
    EXPECT_NEAR(records[i + 1].x, at[i] * period, 1e-3) << i;
    EXPECT_EQ(records[i + 1].y, 0.0f);
  }
  EXPECT_EQ(records[9], Pt(kOpPenDown, 250, 0));
  EXPECT_EQ(set_.ctx->patternPhase, 0.0);
}

TEST_F(LineTypes, LineTypeCommand) {
  ASSERT_FALSE(Run("LT2;LT7;").has_value());
  EXPECT_EQ(set_.ctx->selectedLineType, 2);
  EXPECT_TRUE(Traced("Illegal line type:\t7\n"));
  ASSERT_FALSE(Run("LT-6.9;").has_value());
  EXPECT_EQ(set_.ctx->selectedLineType, -6);
  EXPECT_EQ(set_.ctx->effectiveLineType, -6);
  ASSERT_FALSE(Run("LT;").has_value());
  EXPECT_EQ(set_.ctx->selectedLineType, 7);
  const double diagonal = std::hypot(10000.0, 7200.0);
  ASSERT_FALSE(Run("LT2,10;").has_value());
  EXPECT_DOUBLE_EQ(set_.ctx->patternLength, diagonal * 0.1);
  EXPECT_DOUBLE_EQ(set_.ctx->currentPatternLength, diagonal * 0.1);
  ASSERT_FALSE(Run("LT3,-5;").has_value());
  EXPECT_EQ(set_.ctx->selectedLineType, 3);
  EXPECT_DOUBLE_EQ(set_.ctx->patternLength, diagonal * 0.1);
  EXPECT_TRUE(Traced("Illegal pattern length:\t-5\n"));
  ASSERT_FALSE(Run("LT9,20;").has_value());  // an illegal type still takes the length
  EXPECT_EQ(set_.ctx->selectedLineType, 3);
  EXPECT_DOUBLE_EQ(set_.ctx->patternLength, diagonal * 0.2);
}

TEST_F(LineTypes, Ticks) {
  struct Case {
    const char* text;
    std::vector<PlotRecord> records;
  };
  const Case cases[] = {
      {"PA1000,1000;XT;",
       {Pt(kOpPenUp, 1000, 1000), Pt(kOpPenUp, 1000, 964), Pt(kOpPenDown, 1000, 1036),
        Pt(kOpPenUp, 1000, 1000)}},
      {"PA1000,1000;YT;",
       {Pt(kOpPenUp, 1000, 1000), Pt(kOpPenUp, 950, 1000), Pt(kOpPenDown, 1050, 1000),
        Pt(kOpPenUp, 1000, 1000)}},
      {"PA1000,1000;TL1,2;LT2;XT;",  // ticks are solid whatever the line type
       {Pt(kOpPenUp, 1000, 1000), Pt(kOpPenUp, 1000, 856), Pt(kOpPenDown, 1000, 1072),
        Pt(kOpPenUp, 1000, 1000)}},
      {"PA1000,1000;TL5;TL;TL5;YT;",
       {Pt(kOpPenUp, 1000, 1000), Pt(kOpPenUp, 1000, 1000), Pt(kOpPenDown, 1500, 1000),
        Pt(kOpPenUp, 1000, 1000)}},
      {"SC0,100,0,72;PA10,10;XT;",  // with scaling: the tick length is taken in user units
       {Pt(kOpPenUp, 1603, 1521), Pt(kOpPenUp, 1603, 1521 - 36 * 100), Pt(kOpPenDown, 1603, 1521 + 36 * 100),
        Pt(kOpPenUp, 1603, 1521)}},
  };
  for (const Case& c : cases) EXPECT_EQ(RecordsOf(c.text), c.records) << c.text;
  ASSERT_FALSE(Run("LT2;XT;").has_value());
  EXPECT_EQ(set_.ctx->effectiveLineType, 2);
}

TEST_F(LineTypes, PolygonModeCollectsPointsInsteadOfWriting) {
  Job& job = *set_.job;
  job.polygonMode = 1;
  job.polygonMinX = job.polygonMinY = 1e10f;
  job.polygonMaxX = job.polygonMaxY = -1e10f;
  ASSERT_FALSE(Run("LT2;PA10,20;PD30,40;").has_value());
  EXPECT_TRUE(Records().empty());
  ASSERT_EQ(job.pointCount, 2);
  EXPECT_EQ(job.points[0][0], 10.0f + 800000.0f);  // a pen-up point is marked
  EXPECT_EQ(job.points[0][1], 20.0f);
  EXPECT_EQ(job.points[1][0], 30.0f);
  EXPECT_EQ(job.polygonMinX, 10.0f);
  EXPECT_EQ(job.polygonMaxY, 40.0f);
  EXPECT_EQ(set_.ctx->plotterX, 0.0f);         // the plotter position stays
  ASSERT_FALSE(Run("IN;PA1,1;").has_value());  // IN ends polygon mode
  EXPECT_EQ(job.pointCount, 0);
  EXPECT_EQ(Records().size(), 1u);
}

}  // namespace
}  // namespace ostrelin::test
