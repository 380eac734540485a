// Plotter state: page start and reset, plot pairs, clipping, scaling, rotation, plot size and pens.
#include <cmath>

#include "hpgl/hpgl_test_support.h"

namespace ostrelin::test {
namespace {

using hpgl::kOpPenDown;
using hpgl::kOpPenUp;

constexpr float kUnset = 3.1415927f;

class PlotterState : public HpglTest {};

TEST_F(PlotterState, PageStartAndResetDefaults) {
  const Context& ctx = *set_.ctx;
  EXPECT_EQ(ctx.p1X, 603.0f);
  EXPECT_EQ(ctx.p1Y, 521.0f);
  EXPECT_EQ(ctx.p2X, 10603.0f);
  EXPECT_EQ(ctx.p2Y, 7721.0f);
  EXPECT_EQ(ctx.userX, kUnset);
  EXPECT_EQ(ctx.penNumber, -1);
  EXPECT_EQ(ctx.selectedLineType, 7);
  EXPECT_DOUBLE_EQ(ctx.patternLength, 0.04 * std::hypot(10000.0, 7200.0));
  EXPECT_EQ(ctx.labelTerminator, 3);
  EXPECT_EQ(ctx.labelWidth, 50.0f);
  EXPECT_EQ(ctx.labelHeight, 54.0f);
  EXPECT_NE(set_.job->workRow, nullptr);  // the raster intake's working row
  // IN resets the plotting state but keeps clipping, rotation and the plot size.
  testing::internal::CaptureStderr();  // the RO messages
  ASSERT_FALSE(Run("IW0,0,10,10;PS100,200;RO90;SC0,1,0,1;IP0,0,10,10;LT2;PR;PD;SP2;IN;").has_value());
  testing::internal::GetCapturedStderr();
  EXPECT_EQ(ctx.clippingFlag, 1);
  EXPECT_EQ(ctx.rotationFlag, 1);
  EXPECT_EQ(ctx.plotSizeFlag, 1);
  EXPECT_EQ(ctx.scalingFlag, 0);
  EXPECT_EQ(ctx.p2X, 10603.0f);
  EXPECT_EQ(ctx.selectedLineType, 7);
  EXPECT_EQ(ctx.relativeFlag, 0);
  EXPECT_EQ(ctx.penDownFlag, 0);
  EXPECT_EQ(ctx.penNumber, -1);
  EXPECT_EQ(ctx.userX, kUnset);
}

TEST_F(PlotterState, PlotPairs) {
  struct Case {
    const char* text;
    std::vector<PlotRecord> records;
  };
  const Case cases[] = {
      {"PR1,1;", {Pt(kOpPenUp, 1 + kUnset, 1 + kUnset)}},  // relative to the unset position
      {"IN;PD;", {}},
      {"PR;PA;PU5,5;", {Pt(kOpPenUp, 5, 5)}},  // "PA;" only clears the relative flag
      {"PA10,10;PD20,10,20,20;PU;PR-5,0,0,-5;",
       {Pt(kOpPenUp, 10, 10), Pt(kOpPenDown, 20, 10), Pt(kOpPenDown, 20, 20), Pt(kOpPenUp, 15, 20),
        Pt(kOpPenUp, 15, 15)}},
      {"PD;PA1,2;PR1,1;", {Pt(kOpPenDown, 1, 2), Pt(kOpPenDown, 2, 3)}},
  };
  for (const Case& c : cases) EXPECT_EQ(RecordsOf(c.text), c.records) << c.text;
}

TEST_F(PlotterState, ClippingWindow) {
  struct Case {
    const char* text;
    std::vector<PlotRecord> records;
  };
  const Case cases[] = {
      // The clipped line ends on the window; the pen position is the unclipped target, so the
      // next line, wholly outside, becomes a pen-up move.
      {"IW0,0,100,100;PA50,50;PD150,50;PD150,80;",
       {Pt(kOpPenUp, 50, 50), Pt(kOpPenDown, 100, 50), Pt(kOpPenUp, 150, 80)}},
      {"IW100,100,0,0;PA50,50;PD150,50;PD150,80;",  // corners in any order
       {Pt(kOpPenUp, 50, 50), Pt(kOpPenDown, 100, 50), Pt(kOpPenUp, 150, 80)}},
      // A line coming in: a pen-up move to where it enters, then the visible part.
      {"IW0,0,100,100;PA50,50;PU-50,50;PD-50,60;PD50,60;",
       {Pt(kOpPenUp, 50, 50), Pt(kOpPenUp, 0, 50), Pt(kOpPenUp, -50, 60), Pt(kOpPenUp, 0, 60),
        Pt(kOpPenDown, 50, 60)}},
      // A line starting exactly on an edge and leaving the window is not visible.
      {"IW0,0,100,100;PA100,50;PD150,50;", {Pt(kOpPenUp, 100, 50), Pt(kOpPenUp, 150, 50)}},
      {"IW0,0,100,100;IW;PA50,50;PD150,50;", {Pt(kOpPenUp, 50, 50), Pt(kOpPenDown, 150, 50)}},
  };
  for (const Case& c : cases) EXPECT_EQ(RecordsOf(c.text), c.records) << c.text;
  EXPECT_EQ(set_.ctx->clippingFlag, 0);
  EXPECT_EQ(set_.ctx->clipX2, 10603.0f);  // IW without parameters: the window is P1, P2
}

TEST_F(PlotterState, ClipSegmentEdgeOrderAndTolerance) {
  struct Case {
    double x1, y1, x2, y2;
    bool visible;
    double cx1, cy1, cx2, cy2;
  };
  const Case cases[] = {
      {10, 10, 20, 20, true, 10, 10, 20, 20},
      {-10, 50, 110, 50, true, 0, 50, 100, 50},
      {50, -50, 50, 150, true, 50, 0, 50, 100},
      {-50, -50, 150, 150, true, 0, 0, 100, 100},
      {150, 50, 150, 80, false, 0, 0, 0, 0},
      {-10, 120, 120, 200, false, 0, 0, 0, 0},
      {0, 50, -50, 50, false, 0, 0, 0, 0},  // leaves through the edge it starts on
      {-50, 100.0000001, 50, 100.0000001, false, 0, 0, 0, 0},
      {0.0000001, 50, -50, 50, false, 0, 0, 0, 0},  // leaves within 1e-5 of its start
  };
  for (const Case& c : cases) {
    double x1 = c.x1, y1 = c.y1, x2 = c.x2, y2 = c.y2;
    const bool visible = hpgl::ClipSegment(0, 0, 100, 100, &x1, &y1, &x2, &y2);
    EXPECT_EQ(visible, c.visible) << c.x1 << "," << c.y1 << " " << c.x2 << "," << c.y2;
    if (visible && c.visible) {
      EXPECT_NEAR(x1, c.cx1, 1e-9);
      EXPECT_NEAR(y1, c.cy1, 1e-9);
      EXPECT_NEAR(x2, c.cx2, 1e-9);
      EXPECT_NEAR(y2, c.cy2, 1e-9);
    }
  }
}

TEST_F(PlotterState, ScalingPointsAndUserScaling) {
  ASSERT_FALSE(Run("IP100,100;").has_value());
  EXPECT_EQ(set_.ctx->p1X, 100.0f);
  EXPECT_EQ(set_.ctx->p2X, 10100.0f);
  EXPECT_EQ(set_.ctx->p2Y, 7300.0f);
  ASSERT_FALSE(Run("IP0,0,60,80;").has_value());
  EXPECT_DOUBLE_EQ(set_.ctx->diagonal, 100.0);
  EXPECT_DOUBLE_EQ(set_.ctx->patternLength, 4.0);
  EXPECT_FLOAT_EQ(set_.ctx->labelWidth, 0.3f);  // kept in proportion: 50 of 10000, now of 60
  EXPECT_FLOAT_EQ(set_.ctx->labelHeight, 0.6f);
  ASSERT_FALSE(Run("IP;").has_value());
  EXPECT_EQ(set_.ctx->p2X, 10603.0f);

  struct Case {
    const char* text;
    std::vector<PlotRecord> records;
  };
  const Case cases[] = {
      {"SC0,100,0,50;PA100,50;PA0,0;", {Pt(kOpPenUp, 10603, 7721), Pt(kOpPenUp, 603, 521)}},
      // SC keeps the pen where it is: "SC;" turns the user position into plotter units.
      {"SC0,100,0,50;PA50,25;SC;PR0,0;", {Pt(kOpPenUp, 5603, 4121), Pt(kOpPenUp, 5603, 4121)}},
      {"PA5603,4121;SC0,100,0,50;PR0,0;", {Pt(kOpPenUp, 5603, 4121), Pt(kOpPenUp, 5603, 4121)}},
      // P1 moves with IP while the user rectangle stays.
      {"SC0,100,0,50;IP0,0,1000,500;PA100,50;", {Pt(kOpPenUp, 1000, 500)}},
  };
  for (const Case& c : cases) EXPECT_EQ(RecordsOf(c.text), c.records) << c.text;

  struct Error {
    const char* text;
    ErrorKind kind;
  };
  const Error errors[] = {{"IP1;", ErrorKind::kSyntax2},     {"IP1,2,3;", ErrorKind::kSyntax4},
                          {"SC1;", ErrorKind::kSyntax2},     {"SC1,2;", ErrorKind::kSyntax3},
                          {"SC1,2,3;", ErrorKind::kSyntax4}, {"IW1;", ErrorKind::kSyntax2},
                          {"IW1,2;", ErrorKind::kSyntax3},   {"IW1,2,3;", ErrorKind::kSyntax4}};
  for (const Error& e : errors) {
    Restart();
    CapturedMessages messages;
    const auto error = Run(e.text);
    ASSERT_TRUE(error.has_value()) << e.text;
    EXPECT_EQ(*error, e.kind) << e.text;
  }
}

TEST_F(PlotterState, ScalingFrameMovesP1P2OntoTheUserRectangle) {
  struct Case {
    float length, width;
    float p1x, p1y, p2x, p2y;
  };
  const Case cases[] = {{1000, 2000, 100, 0, 0, 50}, {2000, 1000, 0, 50, 100, 0}};
  for (const Case& c : cases) {
    Restart();
    set_.ctx->scalingFrameFlag = 1;
    set_.job->workValues[0] = c.length;
    set_.job->workValues[1] = c.width;
    ASSERT_FALSE(Run("SC0,100,0,50;").has_value());
    EXPECT_EQ(set_.ctx->p1X, c.p1x);
    EXPECT_EQ(set_.ctx->p1Y, c.p1y);
    EXPECT_EQ(set_.ctx->p2X, c.p2x);
    EXPECT_EQ(set_.ctx->p2Y, c.p2y);
    EXPECT_EQ(set_.job->workValues[0], c.p2y);  // the plot size becomes (P2y, P2x)
    EXPECT_EQ(set_.job->workValues[1], c.p2x);
    EXPECT_FLOAT_EQ(set_.ctx->scaleX, (c.p2x - c.p1x) / 100.0f);
    EXPECT_DOUBLE_EQ(set_.ctx->diagonal, std::hypot(100.0, 50.0));
    // The character size follows the P1-P2 extents in proportion, as with IP.
    EXPECT_FLOAT_EQ(set_.ctx->labelWidth, 50.0f / 10000.0f * (c.p2x - c.p1x));
    EXPECT_FLOAT_EQ(set_.ctx->labelHeight, 54.0f / 7200.0f * (c.p2y - c.p1y));
  }
}

TEST_F(PlotterState, RotationAndPlotSize) {
  testing::internal::CaptureStderr();
  ASSERT_FALSE(Run("PS1000,2000;RO90;").has_value());
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "RO encountered, rotating P1,P2 by 90.000000\ncumulative rot_ang now 90.000000\n");
  const Context& ctx = *set_.ctx;
  EXPECT_EQ(ctx.plotSizeLength, 2000.0f);  // swapped in the context only
  EXPECT_EQ(ctx.plotSizeWidth, 1000.0f);
  EXPECT_EQ(set_.job->workValues[0], 1000.0f);
  EXPECT_EQ(set_.job->workValues[1], 2000.0f);
  // The drawing extent restarts from the rotated corners (0, 0) and (2000, 1000).
  EXPECT_NEAR(ctx.drawMinX, -1000.0f, 1e-3);
  EXPECT_EQ(ctx.drawMaxX, 1e-10f);
  EXPECT_EQ(ctx.drawMinY, 0.0f);
  EXPECT_NEAR(ctx.drawMaxY, 2000.0f, 1e-3);
  EXPECT_EQ(ctx.plotterX, 2000.0f);
  EXPECT_EQ(ctx.plotterY, 1000.0f);
  // Points are rotated about the plotter origin; angles add up.
  const auto rotated = Records();
  ASSERT_TRUE(rotated.empty());
  testing::internal::CaptureStderr();
  ASSERT_FALSE(Run("PA100,0;RO90;PA100,0;RO;").has_value());
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "RO encountered, rotating P1,P2 by 90.000000\ncumulative rot_ang now 180.000000\n");
  const auto records = Records();
  ASSERT_EQ(records.size(), 2u);
  EXPECT_NEAR(records[0].x, 0.0f, 1e-4);
  EXPECT_NEAR(records[0].y, 100.0f, 1e-4);
  EXPECT_NEAR(records[1].x, -100.0f, 1e-4);
  EXPECT_NEAR(records[1].y, 0.0f, 1e-4);
  // A rotation other than 90 or 270 keeps the plot size.
  const float length = ctx.plotSizeLength;
  testing::internal::CaptureStderr();
  ASSERT_FALSE(Run("RO45;").has_value());
  testing::internal::GetCapturedStderr();
  EXPECT_EQ(ctx.plotSizeLength, length);
}

TEST_F(PlotterState, PlotSizeWithoutWidth) {
  // Nothing drawn yet: the plot is square.
  ASSERT_FALSE(Run("PS500;").has_value());
  EXPECT_EQ(set_.job->workValues[0], 500.0f);
  EXPECT_EQ(set_.job->workValues[1], 500.0f);
  EXPECT_EQ(set_.ctx->drawMaxX, 500.0f);
  // Otherwise the width is the drawing's largest x so far.
  Restart();
  ASSERT_FALSE(Run("PA0,0;PD300,10;PS800;").has_value());
  EXPECT_EQ(set_.job->workValues[1], 300.0f);
  EXPECT_EQ(set_.ctx->drawMaxY, 300.0f);  // widened by the corner (800, 300)
  // Scaled corners.
  Restart();
  ASSERT_FALSE(Run("SC0,10,0,10;PS10,10;").has_value());
  EXPECT_EQ(set_.ctx->drawMinX, 603.0f);
  EXPECT_EQ(set_.ctx->drawMaxX, 10603.0f);
  EXPECT_EQ(set_.ctx->drawMaxY, 7721.0f);
}

TEST_F(PlotterState, PensAndColourClasses) {
  struct ClassCase {
    uint8_t r, g, b, colourClass;
  };
  const ClassCase classes[] = {{255, 128, 0, 7}, {255, 255, 255, 8}, {0, 0, 0, 0},       {255, 0, 0, 1},
                               {0, 255, 0, 2},   {255, 255, 0, 3},   {0, 0, 255, 4},     {255, 0, 255, 5},
                               {0, 255, 255, 6}, {246, 119, 9, 7},   {245, 128, 0, 1},   {255, 138, 0, 3},
                               {255, 118, 0, 1}, {255, 128, 10, 1},  {129, 129, 129, 8}, {128, 128, 128, 0}};
  for (const ClassCase& c : classes) {
    EXPECT_EQ(hpgl::ColourClass(c.r, c.g, c.b), c.colourClass)
        << int(c.r) << "," << int(c.g) << "," << int(c.b);
  }

  struct Case {
    const char* text;
    std::vector<PlotRecord> records;
    std::vector<std::string> messages;
  };
  const Case cases[] = {
      {"SP3;SP3;", {Colour(2)}, {}},
      {"SP3;PC3,0,0,255;", {Colour(2)}, {}},  // a new colour counts at the next pen change
      {"SP3;PC3,0,0,255;SP1;SP3;", {Colour(2), Colour(0), Colour(4)}, {}},
      {"PC9,255,128,0;SP9;", {Colour(7)}, {}},
      {"PC9,255;SP9;", {Colour(1)}, {}},          // missing components are 0
      {"SP;SP4.9;", {Colour(8), Colour(3)}, {}},  // no pen is pen 0 (white); pens truncate
      {"SP300;", {Colour(8)}, {"Syntax error"}},
      {"SP-1;", {Colour(8)}, {"Syntax error"}},
      {"NP4;SP5;SP4;", {Colour(8), Colour(3)}, {"Syntax error"}},
      {"NP300;SP257;", {Colour(8)}, {"Syntax error"}},  // NP above 256 is ignored
      {"SP256;", {Colour(0)}, {}},                      // pens beyond 7 start black
      {"PC300,255,255,255;PC-1,255,255,255;SP1;", {Colour(0)}, {}},
  };
  for (const Case& c : cases) {
    Restart();
    CapturedMessages messages;
    ASSERT_FALSE(Run(c.text).has_value()) << c.text;
    EXPECT_EQ(Records(), c.records) << c.text;
    EXPECT_EQ(messages.texts, c.messages) << c.text;
  }
  ASSERT_FALSE(Run("PC3,256.7,-1,300;SP3;").has_value());
  EXPECT_EQ(set_.ctx->penPalette[3][0], 44);  // blue: 300 cut to 8 bits
  EXPECT_EQ(set_.ctx->penPalette[3][1], 255);
  EXPECT_EQ(set_.ctx->penPalette[3][2], 0);
  EXPECT_EQ(set_.ctx->currentPen, 3);
  EXPECT_EQ(set_.job->currentClass, 2);
  EXPECT_EQ(set_.job->secondClass, 2);
  // Colours given to pens beyond 7 last for the job only: the next job starts them black again.
  ASSERT_FALSE(Run("PC9,255,0,0;").has_value());
  EXPECT_EQ(set_.ctx->penPalette[9][2], 255);
  Restart();
  EXPECT_EQ(set_.ctx->penPalette[9][2], 0);
  EXPECT_EQ(set_.ctx->penPalette[2][2], 255);  // pen 2 red from the job's palette
  // The pen record is written even after the page end.
  ASSERT_FALSE(Run("PG;SP1;PD5,5;").has_value());
  EXPECT_EQ(Records().back(), Colour(0));
}

}  // namespace
}  // namespace ostrelin::test
