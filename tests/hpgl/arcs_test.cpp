// Arcs, circles, wedges, edge rectangles and the three-point arc: the points they hand to the point
// output, the window test, the adaptive pattern length, and bounded work on degenerate input.
#include "engine/hpgl/arcs.h"

#include <cmath>
#include <string>
#include <vector>

#include "hpgl/hpgl_test_support.h"

namespace ostrelin::test {
namespace {

using hpgl::kOpPenDown;
using hpgl::kOpPenUp;

constexpr double kPi = 3.14159265358979323846;
// The engine's degrees-to-radians factor, a float.
const double kRadiansPerDegree = static_cast<double>(0.017453292f);

double Radius(const PlotRecord& r, double cx, double cy) { return std::hypot(r.x - cx, r.y - cy); }

// Direction of a point from a centre, degrees.
double Degrees(const PlotRecord& r, double cx, double cy) {
  return std::atan2(r.y - cy, r.x - cx) * 180.0 / kPi;
}

// The turn from one direction to another, degrees in (-180, 180].
double Turn(double from, double to) {
  double d = std::fmod(to - from, 360.0);
  if (d > 180.0) d -= 360.0;
  if (d <= -180.0) d += 360.0;
  return d;
}

// Records from..to-1 lie on the circle and turn by step degrees each, starting step from startDegrees.
void ExpectChords(const std::vector<PlotRecord>& records, size_t from, size_t to, double cx, double cy,
                  double r, double startDegrees, double step, uint8_t opcode) {
  double previous = startDegrees;
  for (size_t i = from; i < to; ++i) {
    EXPECT_EQ(records[i].opcode, opcode) << i;
    EXPECT_NEAR(Radius(records[i], cx, cy), std::fabs(r), 1e-3 * std::fabs(r)) << i;
    EXPECT_NEAR(Turn(previous, Degrees(records[i], cx, cy)), step, 1e-3) << i;
    previous = Degrees(records[i], cx, cy);
  }
}

// Same opcodes, points equal within a tolerance (the same drawing computed in other units).
void ExpectSameDrawing(const std::vector<PlotRecord>& a, const std::vector<PlotRecord>& b, float tolerance) {
  ASSERT_EQ(a.size(), b.size());
  for (size_t i = 0; i < a.size(); ++i) {
    EXPECT_EQ(a[i].opcode, b[i].opcode) << i;
    EXPECT_NEAR(a[i].x, b[i].x, tolerance) << i;
    EXPECT_NEAR(a[i].y, b[i].y, tolerance) << i;
  }
}

class Arcs : public HpglTest {};

TEST_F(Arcs, AbsoluteArcStepsFromThePenAndEndsExactlyOnItsEndPoint) {
  // With the pen up the arc is a chain of moves; the pen is left at the end of the arc.
  for (const bool penDown : {false, true}) {
    const auto records = RecordsOf(penDown ? "PA0,0;PD;AA100,0,90;" : "PA0,0;AA100,0,90;");
    const uint8_t opcode = penDown ? kOpPenDown : kOpPenUp;
    ASSERT_GE(records.size(), 19u);
    EXPECT_EQ(records[0], Pt(kOpPenUp, 0, 0));
    EXPECT_EQ(records.back(), Pt(opcode, 100, -100));
    // Every 5 degrees from the pen's direction (180 degrees) to 275 degrees, then the end at 270.
    ExpectChords(records, 1, 18, 100, 0, 100, 180, 5, opcode);
    for (size_t i = 18; i < records.size(); ++i) {
      EXPECT_EQ(records[i].opcode, opcode);
      EXPECT_NEAR(Radius(records[i], 100, 0), 100, 1e-3);
      EXPECT_NEAR(Degrees(records[i], 100, 0), -90, 1e-4);
    }
    EXPECT_EQ(set_.ctx->userX, 100.0f);
    EXPECT_EQ(set_.ctx->userY, -100.0f);
    EXPECT_EQ(set_.ctx->plotterX, 100.0f);
    EXPECT_EQ(set_.ctx->plotterY, -100.0f);
  }
}

TEST_F(Arcs, SweepsAndChords) {
  struct Case {
    const char* text;
    double cx, cy, r;
    double start, step, end;  // degrees
    size_t chordPoints;       // points before the end point
  };
  const Case cases[] = {
      // A sweep below the chord draws only the end point.
      {"PA0,0;PD;AA100,0,3;", 100, 0, 100, 180, 5, 183, 0},
      // Clockwise in 10-degree steps around a relative centre.
      {"PA0,0;PD;AR10,0,-90,10;", 10, 0, 10, 180, -10, 90, 8},
      {"PA20,0;PD;AR-10,0,45,20;", 10, 0, 10, 0, 20, 45, 2},
      {"PA0,10;PD;AA0,0,-30;", 0, 0, 10, 90, -5, 60, 5},
  };
  for (const Case& c : cases) {
    const auto records = RecordsOf(c.text);
    ASSERT_EQ(records.size(), 2 + c.chordPoints) << c.text;
    ExpectChords(records, 1, 1 + c.chordPoints, c.cx, c.cy, c.r, c.start, c.step, kOpPenDown);
    const PlotRecord& end = records.back();
    EXPECT_EQ(end.opcode, kOpPenDown) << c.text;
    EXPECT_NEAR(Radius(end, c.cx, c.cy), c.r, 1e-4) << c.text;
    EXPECT_NEAR(Turn(c.end, Degrees(end, c.cx, c.cy)), 0, 1e-4) << c.text;
    EXPECT_EQ(set_.ctx->userX, end.x) << c.text;
    EXPECT_EQ(set_.ctx->userY, end.y) << c.text;
  }
}

TEST_F(Arcs, NothingHappensWithoutRadiusOrSweepAndMissingNumbersAreSyntaxErrors) {
  struct Case {
    const char* text;
    std::optional<ErrorKind> error;
  };
  const Case cases[] = {
      {"PA5,5;AA;", std::nullopt},
      {"PA5,5;AA5,5,90;", std::nullopt},  // radius 0
      {"PA5,5;AR3,4,0;", std::nullopt},   // sweep 0
      {"PA5,5;CI;", std::nullopt},
      {"PA5,5;CI0;", std::nullopt},
      {"PA5,5;EW10,0;", std::nullopt},  // EW without a sweep: no error
      {"PA5,5;EW0,0,90;", std::nullopt},
      {"PA5,5;ZC1,2,3;", std::nullopt},
      {"PA5,5;AA1;", ErrorKind::kSyntax2},
      {"PA5,5;AR1,2;", ErrorKind::kSyntax3},
      {"PA5,5;EA1;", ErrorKind::kSyntax2},
      {"PA5,5;EA1,2,3;", ErrorKind::kSyntax2},
      // A chord whose text does not convert; an absent chord is the default.
      {"PA5,5;AA0,0,90,-;", ErrorKind::kSyntax},
      {"PA5,5;CI10,.;", ErrorKind::kSyntax},
      {"PA5,5;EW10,0,90,+;", ErrorKind::kSyntax},
  };
  for (const Case& c : cases) {
    Restart();
    CapturedMessages messages;
    EXPECT_EQ(Run(c.text), c.error) << c.text;
    if (!c.error.has_value()) {
      EXPECT_EQ(Records(), std::vector<PlotRecord>{Pt(kOpPenUp, 5, 5)}) << c.text;
      EXPECT_TRUE(messages.texts.empty()) << c.text;
    } else {
      EXPECT_EQ(messages.texts.size(), 1u) << c.text;
    }
  }
}

TEST_F(Arcs, CircleDrawsWhateverThePenAndLeavesItAtTheCentre) {
  const auto records = RecordsOf("PA50,50;PU;CI10;");
  ASSERT_GE(records.size(), 6u);
  EXPECT_EQ(records[0], Pt(kOpPenUp, 50, 50));
  EXPECT_EQ(records[1], Pt(kOpPenUp, 60, 50));
  const size_t last = records.size() - 2;
  ExpectChords(records, 2, last, 50, 50, 10, 0, 5, kOpPenDown);
  // The chords stop short of the full turn; the circle is closed on its start point.
  EXPECT_LT(Turn(Degrees(records[last - 1], 50, 50), 0), 5 + 1e-3);
  EXPECT_GE(last - 2, 71u);
  EXPECT_EQ(records[last], Pt(kOpPenDown, 60, 50));
  EXPECT_EQ(records[last + 1], Pt(kOpPenUp, 50, 50));
  EXPECT_EQ(set_.ctx->userX, 50.0f);
  EXPECT_EQ(set_.ctx->userY, 50.0f);
  EXPECT_EQ(set_.ctx->penDownFlag, 0);
}

TEST_F(Arcs, WedgeEndsItsArcAtTheLastWholeChordWithinTheSweep) {
  for (const double sweep : {90.0, -90.0, 50.0}) {
    const std::string text = "PA0,0;EW100,30," + std::to_string(static_cast<int>(sweep)) + ";";
    const auto records = RecordsOf(text);
    // Whole chords while the accumulated angle stays within the sweep.
    const double chord = 5 * kRadiansPerDegree * (sweep < 0 ? -1 : 1);
    const double limit = sweep * kRadiansPerDegree;
    size_t chords = 0;
    for (double k = chord; sweep > 0 ? k <= limit : k >= limit; k += chord) ++chords;
    ASSERT_EQ(records.size(), 3 + chords) << text;
    EXPECT_EQ(records[0], Pt(kOpPenUp, 0, 0));
    EXPECT_EQ(records[1].opcode, kOpPenDown);
    EXPECT_NEAR(Degrees(records[1], 0, 0), 30, 1e-4);
    EXPECT_NEAR(Radius(records[1], 0, 0), 100, 1e-3);
    ExpectChords(records, 2, 2 + chords, 0, 0, 100, 30, sweep < 0 ? -5 : 5, kOpPenDown);
    EXPECT_EQ(records.back(), Pt(kOpPenDown, 0, 0)) << text;
    EXPECT_EQ(set_.ctx->userX, 0.0f);
    EXPECT_EQ(set_.ctx->userY, 0.0f);
  }
}

TEST_F(Arcs, EdgeRectanglesShareTheFixedCorner) {
  EXPECT_EQ(RecordsOf("PA10,10;EA30,40,-5,0;"),
            (std::vector<PlotRecord>{Pt(kOpPenUp, 10, 10), Pt(kOpPenDown, 10, 40), Pt(kOpPenDown, 30, 40),
                                     Pt(kOpPenDown, 30, 10), Pt(kOpPenDown, 10, 10), Pt(kOpPenDown, 10, 0),
                                     Pt(kOpPenDown, -5, 0), Pt(kOpPenDown, -5, 10), Pt(kOpPenDown, 10, 10)}));
  EXPECT_EQ(set_.ctx->userX, 10.0f);
  EXPECT_EQ(set_.ctx->userY, 10.0f);
  // With scaling the rectangle is in user units.
  EXPECT_EQ(
      RecordsOf("SC0,100,0,72;PA0,0;EA1,1;"),
      (std::vector<PlotRecord>{Pt(kOpPenUp, 603, 521), Pt(kOpPenDown, 603, 621), Pt(kOpPenDown, 703, 621),
                               Pt(kOpPenDown, 703, 521), Pt(kOpPenDown, 603, 521)}));
}

TEST_F(Arcs, ThreePointArcRunsThroughTheMiddlePointToTheEnd) {
  struct Case {
    const char* text;
    double cx, cy, r;
    double step;  // +1 counter-clockwise, -1 clockwise
  };
  const Case cases[] = {
      {"PA0,0;ZC100,100,200,0;", 100, 0, 100, -1},   // over the top, clockwise
      {"PA0,0;ZC100,-100,200,0;", 100, 0, 100, 1},   // under, counter-clockwise through 270
      {"PA200,0;ZC100,-100,0,0;", 100, 0, 100, -1},  // clockwise through 270 from 0
      // Counter-clockwise across the direction 0: from 270 up through 0 to 90.
      {"PA0,-100;ZC100,0,0,100;", 0, 0, 100, 1},
      // Clockwise across the direction 0: from 90 down through 0 to 270.
      {"PA0,100;ZC100,0,0,-100;", 0, 0, 100, -1},
  };
  for (const Case& c : cases) {
    const auto records = RecordsOf(c.text);
    // Half a turn in one-degree steps; the step a hair above one degree and the full turn a hair
    // above 2 pi may let a last step land on the end point itself.
    ASSERT_GE(records.size(), 2 + 179u) << c.text;
    ASSERT_LE(records.size(), 2 + 180u) << c.text;
    const size_t steps = records.size() - 2;
    const double start = Degrees(records[0], c.cx, c.cy);
    ExpectChords(records, 1, 1 + steps, c.cx, c.cy, c.r, start, c.step, kOpPenDown);
    // The end point itself closes the arc, half a turn from the start; the user position stays.
    EXPECT_EQ(records.back().opcode, kOpPenDown);
    EXPECT_NEAR(std::fabs(Turn(start, Degrees(records.back(), c.cx, c.cy))), 180, 1e-3) << c.text;
    EXPECT_EQ(set_.ctx->userX, records[0].x) << c.text;
    EXPECT_EQ(set_.ctx->userY, records[0].y) << c.text;
  }
  // Three points on a line, and points that coincide, give no circle.
  for (const char* text : {"PA0,0;ZC10,10,20,20;", "PA0,0;ZC0,10,0,20;", "PA0,0;ZC10,0,30,0;"}) {
    EXPECT_EQ(RecordsOf(text), std::vector<PlotRecord>{Pt(kOpPenUp, 0, 0)}) << text;
  }
}

TEST_F(Arcs, CircleThroughThreePoints) {
  struct Case {
    double ax, ay, bx, by, cx, cy;
    bool found;
    double x, y;
  };
  const Case cases[] = {
      {0, 0, 100, 100, 200, 0, true, 100, 0},
      {0, 0, 0, 10, 10, 10, true, 5, 5},  // right angle: a vertical then a horizontal side
      {0, 0, 10, 0, 10, 10, true, 5, 5},  // horizontal first: another ordering is used
      {3, 4, -4, 3, 5, 0, true, 0, 0},    // on the circle of radius 5
      {-7, 1, 1, 7, 7, -1, true, 0, 0},   // none of the sides is vertical or horizontal
      {0, 0, 1, 1, 2, 2, false, 0, 0},    // a line
      {0, 0, 0, 5, 0, 9, false, 0, 0},    // a vertical line
      {1, 1, 1, 1, 1, 1, true, 1, 1},     // one point: a circle of radius 0
      {0, 0, NAN, 1, 2, 0, false, 0, 0},  // not a point
      {0, 0, INFINITY, 1, 2, 0, false, 0, 0},
  };
  for (const Case& c : cases) {
    double x = -1;
    double y = -1;
    const bool found = hpgl::CircleThroughThreePoints(c.ax, c.ay, c.bx, c.by, c.cx, c.cy, &x, &y);
    EXPECT_EQ(found, c.found) << c.ax << "," << c.ay << " " << c.bx << "," << c.by << " " << c.cx << ","
                              << c.cy;
    if (found && c.found) {
      EXPECT_NEAR(x, c.x, 1e-9);
      EXPECT_NEAR(y, c.y, 1e-9);
    }
  }
}

TEST_F(Arcs, LabelLineStartFollowsArcsAndRectanglesOnly) {
  struct Case {
    const char* text;
    float x, y;
  };
  const Case cases[] = {
      {"PA0,0;AA100,0,90;", 100, -100},
      {"PA0,0;AR100,0,90;", 100, -100},
      {"PA0,0;EA10,10;", 0, 0},
      {"PA0,0;PU;ZC100,100,200,0;", 0, 0},                // the plotter ends at (200, 0)
      {"PA0,0;PU;ZC100,100,200,0;AA300,0,180;", 600, 0},  // ZC left the user position at (0, 0)
  };
  for (const Case& c : cases) {
    Restart();
    ASSERT_FALSE(Run(c.text).has_value()) << c.text;
    EXPECT_NEAR(set_.ctx->label.lineStart[0], c.x, 1e-3) << c.text;
    EXPECT_NEAR(set_.ctx->label.lineStart[1], c.y, 1e-3) << c.text;
  }
}

TEST_F(Arcs, PointsOutsideTheWindowAreMoves) {
  // A circle of radius 60 around the middle of a 100 x 100 window leaves it four times.
  const auto records = RecordsOf("IW0,0,100,100;PA50,50;CI60,10;");
  ASSERT_GE(records.size(), 38u);
  int moves = 0;
  for (size_t i = 2; i + 2 < records.size(); ++i) {
    const PlotRecord& r = records[i];
    const bool outside = r.x < 0 || r.x > 100 || r.y < 0 || r.y > 100;
    EXPECT_EQ(r.opcode, outside ? kOpPenUp : kOpPenDown) << r;
    moves += outside ? 1 : 0;
  }
  EXPECT_GT(moves, 0);
  // The window's corners may come in any order, as for plotted pairs.
  EXPECT_EQ(RecordsOf("IW100,100,0,0;PA50,50;CI60,10;"), records);
  EXPECT_EQ(RecordsOf("IW0,100,100,0;PA50,50;CI60,10;"), records);
  // An arc with the pen down: the points outside are moves.
  const auto arc = RecordsOf("IW0,0,100,100;PA80,10;PD;AA80,50,360,10;");
  moves = 0;
  for (size_t i = 1; i < arc.size(); ++i) {
    EXPECT_EQ(arc[i].opcode, arc[i].x > 100 ? kOpPenUp : kOpPenDown) << arc[i];
    moves += arc[i].x > 100 ? 1 : 0;
  }
  EXPECT_GT(moves, 0);
  // With scaling the window is in user units, like the arc: the same drawing as without scaling in
  // plotter units (factors 2 and 2, P1 at (603, 521)).
  ExpectSameDrawing(RecordsOf("SC0,5000,0,3600;IW0,0,100,100;PA50,50;CI60,10;"),
                    RecordsOf("IW603,521,803,721;PA703,621;CI120,10;"), 2e-3f);
  ExpectSameDrawing(RecordsOf("SC0,5000,0,3600;IW0,0,100,100;PA50,0;PD;AA50,50,180,10;EW60,0,-180,10;"),
                    RecordsOf("IW603,521,803,721;PA703,521;PD;AA703,621,180,10;EW120,0,-180,10;"), 2e-3f);
}

TEST_F(Arcs, AdaptiveLineTypesFitOnePeriodIntoEachChord) {
  // Radius 10000: each 5-degree chord (872 units) is longer than the page's pattern length (493), but
  // the arc's period is the radius, so every chord is one dash, gap, dash.
  const auto records = RecordsOf("LT-2;PA0,0;PD;AA10000,0,90;");
  ASSERT_EQ((records.size() - 1) % 3, 0u);
  ASSERT_GE(records.size(), 1 + 3 * 18u);
  for (size_t i = 1; i < records.size(); i += 3) {
    EXPECT_EQ(records[i].opcode, kOpPenDown) << i;
    EXPECT_EQ(records[i + 1].opcode, kOpPenUp) << i;
    EXPECT_EQ(records[i + 2].opcode, kOpPenDown) << i;
    EXPECT_NEAR(Radius(records[i + 2], 10000, 0), 10000, 1e-2) << i;
  }
  EXPECT_EQ(set_.ctx->currentPatternLength, set_.ctx->patternLength);
  // A fixed line type keeps the page's pattern length.
  const auto fixed = RecordsOf("LT2;PA0,0;PD;AA10000,0,90;");
  EXPECT_GT(fixed.size(), records.size());
  // The period follows the scaling of the radius, not the place of the user rectangle: the same
  // circle in user units (factors 2) and in plotter units is cut alike.
  ExpectSameDrawing(RecordsOf("SC0,5000,0,3600;LT-2;PA1000,1000;CI50,90;EW50,0,180,45;"),
                    RecordsOf("LT-2;PA2603,2521;CI100,90;EW100,0,180,45;"), 2e-3f);
}

TEST_F(Arcs, ThreePointArcWorksInUserUnitsWithScalingAndRotation) {
  // The plotter position, in plotter units, is taken back to user units before the circle is found.
  ExpectSameDrawing(RecordsOf("SC0,5000,0,3600;PA0,0;ZC50,50,100,0;"),
                    RecordsOf("PA603,521;ZC703,621,803,521;"), 2e-3f);
  testing::internal::CaptureStderr();  // RO messages
  const auto rotated = RecordsOf("RO90;PA0,0;ZC100,100,200,0;");
  testing::internal::GetCapturedStderr();
  const auto plain = RecordsOf("PA0,0;ZC100,100,200,0;");
  ASSERT_EQ(rotated.size(), plain.size());
  for (size_t i = 0; i < plain.size(); ++i) {  // rotated by 90 degrees: (x, y) becomes (-y, x)
    EXPECT_NEAR(rotated[i].x, -plain[i].y, 1e-3) << i;
    EXPECT_NEAR(rotated[i].y, plain[i].x, 1e-3) << i;
  }
}

TEST_F(Arcs, PolygonModeCollectsTheCurvePoints) {
  Job& job = *set_.job;
  job.polygonMode = 1;
  ASSERT_FALSE(Run("PA0,0;CI10;EW10,0,90;").has_value());
  EXPECT_TRUE(Records().empty());
  EXPECT_GT(job.pointCount, 72 + 20);
}

TEST_F(Arcs, ChordAnglesAreTakenByMagnitudeAndBounded) {
  struct Case {
    const char* text;
    const char* same;
  };
  const Case cases[] = {
      {"PA0,0;CI100,-5;", "PA0,0;CI100,5;"},
      {"PA0,0;CI100,0;", "PA0,0;CI100,0.5;"},
      {"PA0,0;CI100,0.0000001;", "PA0,0;CI100,0.5;"},
      {"PA0,0;PD;AA100,0,90,0;", "PA0,0;PD;AA100,0,90,0.5;"},
      {"PA0,0;PD;AA100,0,-90,-10;", "PA0,0;PD;AA100,0,-90,10;"},
      {"PA0,0;EW100,0,-90,0;", "PA0,0;EW100,0,-90,0.5;"},
  };
  for (const Case& c : cases) {
    const auto expected = RecordsOf(c.same);
    EXPECT_GT(expected.size(), 3u) << c.same;
    EXPECT_EQ(RecordsOf(c.text), expected) << c.text;
  }
  // The smallest chord: 720 chords a turn.
  const auto fine = RecordsOf("PA0,0;CI100,0;");
  EXPECT_GE(fine.size(), 2 + 719 + 2u);
  EXPECT_LE(fine.size(), 2 + 720 + 2u);
  // A chord of a whole turn or more: the arc is its end point, the circle its start point.
  EXPECT_EQ(RecordsOf("PA0,0;PD;AA100,0,90,400;").size(), 2u);
  EXPECT_EQ(RecordsOf("PA0,0;CI100,400;"),
            (std::vector<PlotRecord>{Pt(kOpPenUp, 0, 0), Pt(kOpPenUp, 100, 0), Pt(kOpPenDown, 100, 0),
                                     Pt(kOpPenUp, 0, 0)}));
}

TEST_F(Arcs, DegenerateNumbersEndWithBoundedWork) {
  const std::string huge(45, '9');                     // beyond the float range: infinity
  const std::string big = "1" + std::string(37, '0');  // 1e37: its circle fits a float
  const std::string tooBig = "3" + std::string(38, '0');
  struct Case {
    std::string text;
    size_t records;  // 0: only bounded
  };
  const Case cases[] = {
      // Circles whose points would not all be floats, or are not numbers at all, draw nothing.
      {"PA0,0;PD;AA" + huge + ",0,90;", 1},
      {"PA0,0;PD;AA" + tooBig + ",0,90;", 1},
      {"PA" + huge + ",0;PD;AR-" + huge + ",0,90;", 1},  // centre infinity - infinity
      {"PA0,0;PD;AA100,0," + huge + ";", 1},
      {"PA" + huge + ",0;CI10;", 1},
      {"PA0,0;CI" + huge + ";", 1},
      {"PA0,0;CI-" + huge + ";", 1},
      {"PA0,0;EW" + huge + ",0,90;", 1},
      {"PA0,0;EW10," + huge + ",90;", 1},
      {"PA0,0;EW10,0,-" + huge + ";", 1},
      {"PA0,0;ZC" + huge + ",0,5,5;", 1},
      {"PA" + huge + ",0;ZC1,1,2,0;", 1},
      // Huge but finite: drawn, within bounds.
      {"PA0,0;PD;AA" + big + ",0,90;", 0},
      {"PA0,0;CI" + big + ",1;", 0},
      {"PA0,0;ZC" + big + ",1,0,2;", 0},
      {"PA0,0;PD;AA100,0,1" + std::string(30, '0') + ";", 0},
      {"PA0,0;EW100,0,-1" + std::string(30, '0') + ",0;", 0},
      {"PA0,0;PD;AA100,0,90," + huge + ";", 2},  // an infinite chord: the end point only
  };
  CapturedTrace trace;
  for (const Case& c : cases) {
    const auto records = RecordsOf(c.text);
    if (c.records != 0) {
      EXPECT_EQ(records.size(), c.records) << c.text;
      continue;
    }
    // At most kMaxSweepTurns turns of the smallest chord.
    EXPECT_LE(records.size(), static_cast<size_t>(hpgl::kMaxSweepTurns * 720) + 4) << c.text;
    for (size_t i = 1; i < records.size(); ++i) {
      EXPECT_TRUE(std::isfinite(records[i].x) && std::isfinite(records[i].y)) << c.text << " " << records[i];
    }
  }
}

TEST_F(Arcs, SweepsOfManyTurnsKeepTheirEndAngle) {
  // Beyond 100 turns whole turns are dropped; the arc still ends 90 degrees past the pen.
  for (const char* text : {"PA0,0;PD;AA100,0,36090;", "PA0,0;PD;AA100,0,1000170;"}) {
    const auto records = RecordsOf(text);
    EXPECT_LE(records.size(), 2 + 100 * 72 + 18u) << text;
    EXPECT_GE(records.size(), 99 * 72u) << text;
    EXPECT_NEAR(records.back().x, 100, 1e-2) << text;
    EXPECT_NEAR(records.back().y, -100, 1e-2) << text;
  }
}

}  // namespace
}  // namespace ostrelin::test
