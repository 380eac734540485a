// Labels: character size and stepping, the worked label examples, control characters, character
// sets, the label commands' errors, and the stroke font's grid.
#include "engine/hpgl/labels.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "engine/hpgl/stroke_font.h"
#include "engine/spool_intake.h"
#include "hpgl/hpgl_test_support.h"

namespace ostrelin::test {
namespace {

using hpgl::kOpPenDown;
using hpgl::kOpPenUp;

struct Point {
  bool down;
  float x, y;
};

class Labels : public HpglTest {
 protected:
  // The pen-up and pen-down points of a text run on fresh records.
  std::vector<Point> PointsOf(const std::string& text) {
    std::vector<Point> points;
    for (const PlotRecord& r : RecordsOf(text)) {
      if (r.opcode == kOpPenUp || r.opcode == kOpPenDown)
        points.push_back({r.opcode == kOpPenDown, r.x, r.y});
    }
    return points;
  }

  const OstrelinContext::OstrelinLabelState& label() const { return set_.ctx->label; }
};

void ExpectPoints(const std::vector<Point>& got, const std::vector<Point>& want, const std::string& what) {
  ASSERT_GE(got.size(), want.size()) << what;
  for (size_t i = 0; i < want.size(); ++i) {
    EXPECT_EQ(got[i].down, want[i].down) << what << " point " << i;
    EXPECT_NEAR(got[i].x, want[i].x, 1e-3) << what << " point " << i;
    EXPECT_NEAR(got[i].y, want[i].y, 1e-3) << what << " point " << i;
  }
}

// The letter A of the font's example, cell at (x, y), with grid steps (12.5, 0) and (0, 9).
std::vector<Point> DefaultA(float x, float y) {
  return {{false, x, y},          {true, x, y + 45}, {true, x + 12.5f, y + 54}, {true, x + 37.5f, y + 54},
          {true, x + 50, y + 45}, {true, x + 50, y}, {false, x, y + 18},        {true, x + 50, y + 18}};
}

TEST_F(Labels, DefaultSizeAndStepping) {
  ASSERT_FALSE(Run("IN;").has_value());
  EXPECT_FLOAT_EQ(set_.ctx->labelWidth, 50.0f);
  EXPECT_FLOAT_EQ(set_.ctx->labelHeight, 54.0f);
  EXPECT_FLOAT_EQ(label().charAdvance[0], 75.0f);
  EXPECT_FLOAT_EQ(label().charAdvance[1], 0.0f);
  EXPECT_FLOAT_EQ(label().lineAdvance[0], 0.0f);
  EXPECT_FLOAT_EQ(label().lineAdvance[1], -108.0f);
  EXPECT_EQ(label().origin, 1);
}

TEST_F(Labels, SizeDirectionSlantAndSpacingCommands) {
  struct Case {
    const char* text;
    float width, height;       // character size
    float advanceX, advanceY;  // character advance
    float lineX, lineY;        // line advance
  };
  const Case cases[] = {
      {"SI;", 74.8f, 107.6f, 112.2f, 0, 0, -215.2f},
      {"SI1,2;", 400, 800, 600, 0, 0, -1600},
      {"SR;", 75, 108, 112.5f, 0, 0, -216},
      {"SR2,4;", 200, 288, 300, 0, 0, -576},
      {"DI0,1;", 50, 54, 0, 75, 108, 0},
      {"DI-1,0;", 50, 54, -75, 0, 0, 108},
      {"DI0,1;DI;", 50, 54, 75, 0, 0, -108},
      // DR runs and rises in fractions of the P1-P2 extents (10000 x 7200): 45 degrees in plotter
      // units needs a rise of 10000 / 7200 of the run.
      {"DR0.72,1;", 50, 54, 75 * 0.70710678f, 75 * 0.70710678f, 108 * 0.70710678f, -108 * 0.70710678f},
      {"ES1,0.5;", 50, 54, 150, 0, 0, -162},
      {"ES-0.5;", 50, 54, 37.5f, 0, 0, -108},
      {"IP0,0,5000,3600;", 25, 27, 37.5f, 0, 0, -54},
      {"SI1,2;IP0,0,5000,3600;", 200, 400, 300, 0, 0, -800},
  };
  for (const Case& c : cases) {
    Restart();
    ASSERT_FALSE(Run(c.text).has_value()) << c.text;
    EXPECT_NEAR(set_.ctx->labelWidth, c.width, 1e-3) << c.text;
    EXPECT_NEAR(set_.ctx->labelHeight, c.height, 1e-3) << c.text;
    EXPECT_NEAR(label().charAdvance[0], c.advanceX, 1e-3) << c.text;
    EXPECT_NEAR(label().charAdvance[1], c.advanceY, 1e-3) << c.text;
    EXPECT_NEAR(label().lineAdvance[0], c.lineX, 1e-3) << c.text;
    EXPECT_NEAR(label().lineAdvance[1], c.lineY, 1e-3) << c.text;
  }
}

TEST_F(Labels, LabelOriginValues) {
  const std::pair<const char*, int> cases[] = {{"LO;", 1},    {"LO0;", 1},  {"LO5.9;", 5},
                                               {"LO9;", 9},   {"LO10;", 1}, {"LO11;", 11},
                                               {"LO19;", 19}, {"LO20;", 1}, {"LO-3;", 1}};
  for (const auto& [text, origin] : cases) {
    Restart();
    ASSERT_FALSE(Run(text).has_value()) << text;
    EXPECT_EQ(label().origin, origin) << text;
  }
}

TEST_F(Labels, TwoCharactersOneCellApart) {
  const auto points = PointsOf("LBAB\x03");
  ExpectPoints(points, DefaultA(0, 0), "A");
  // After the A the pen waits at the next cell, where the B starts with a move.
  ASSERT_GE(points.size(), 10u);
  ExpectPoints({points[8], points[9]}, {{false, 75, 0}, {false, 75, 0}}, "B start");
  ExpectPoints({points.back()}, {{false, 150, 0}}, "pen after B");
}

TEST_F(Labels, RotatedLabel) {
  // At 90 degrees a grid step across is (0, 12.5) and a step up is (-9, 0).
  ExpectPoints(PointsOf("DI0,1;LBA\x03"),
               {{false, 0, 0},
                {true, -45, 0},
                {true, -54, 12.5f},
                {true, -54, 37.5f},
                {true, -45, 50},
                {true, 0, 50},
                {false, -18, 0},
                {true, -18, 50},
                {false, 0, 75}},
               "DI0,1");
}

TEST_F(Labels, SlantShearsTheGlyph) {
  // A slant of 1 moves every step up one step right too: 9 units per grid row.
  const auto points = PointsOf("SL1;LBA\x03");
  ExpectPoints(points, {{false, 0, 0}, {true, 45, 45}, {true, 66.5f, 54}}, "SL1");
}

TEST_F(Labels, CentredOriginMovesThePenBackAndOffsetsTheGlyphs) {
  const auto points = PointsOf("LO5;LBABC\x03");
  EXPECT_NEAR(label().originOffset[0], 12.5, 1e-4);
  EXPECT_NEAR(label().originOffset[1], -36, 1e-4);
  // The pen starts 112.5 back; the A's first point is the pen plus the offset.
  ExpectPoints(points, DefaultA(-112.5f + 12.5f, -36), "A of ABC");
  ExpectPoints({points.back()}, {{false, 112.5f, 0}}, "pen after C");
}

TEST_F(Labels, BufferedLabelsPlaceTheWholeText) {
  struct Case {
    const char* text;
    float x, y;  // the A's first point
  };
  const Case cases[] = {
      {"BLA\x03PB;", 0, 0},
      {"LO7;BLAB\x03PB;", -150 + 25, 0},         // back by the two cells, a third of a cell right
      {"LO1;BLA\nB\x03PB;", 0, 108},             // up by the one line feed
      {"LO7;BLA\r\nBC\x03PB;", -150 + 25, 108},  // the longest line sets the move back; up a line
  };
  for (const Case& c : cases) {
    const auto points = PointsOf(c.text);
    ASSERT_FALSE(points.empty()) << c.text;
    ExpectPoints({points.front()}, {{false, c.x, c.y}}, c.text);
  }
  EXPECT_TRUE(PointsOf("PB;").empty());
}

TEST_F(Labels, LabelsStartAtThePlotterPositionWithoutScaling) {
  // User (50, 50) is plotter (5603, 4121); the glyph steps stay in plotter units.
  auto points = PointsOf("SC0,100,0,100;PA50,50;LBA\x03");
  ASSERT_FALSE(points.empty());
  points.erase(points.begin());  // the PA's own move
  ExpectPoints(points, DefaultA(5603, 4121), "scaled");
  EXPECT_NEAR(set_.ctx->userX, 50.75f, 1e-3);  // the pen after the A, back in user units
  EXPECT_NEAR(set_.ctx->userY, 50, 1e-3);
}

TEST_F(Labels, ControlCharactersMoveThePen) {
  struct Case {
    const char* text;
    float x, y;  // where the B's first point lands
  };
  const Case cases[] = {
      {"LBA\bB\x03", 0, 0},                          // backspace: over the A
      {"LBA\tB\x03", 37.5f, 0},                      // tab: half a cell back
      {"LBA B\x03", 150, 0},                         // space
      {"LBA\r\nB\x03", 0, -108},                     // new line
      {"LBA\nB\x03", 75, -108},                      // line feed alone keeps the column
      {"LBA\vB\x03", 75, 108},                       // vertical tab: a line up
      {"PA1000,500;LBA\r\nB\x03", 1000, 392},        // carriage return to where the label started
      {"PA1000,500;LBA\x03LB\r\nB\x03", 1000, 392},  // line start stays across labels
      {"DI0,1;LBA\r\nB\x03", 108, 0},                // a line across the direction
      {"LBA\001B\x03", 150, 0},                      // other control codes take a blank cell
      {"LBA\033\007B\x03", 225, 0},                  // ESC and BEL too
      {"LBA\016\017B\x03", 75, 0},                   // SO and SI only switch sets
      {"LBA\b\bB\x03", -75, 0},                      // backspaces go back past the start
  };
  for (const Case& c : cases) {
    const auto points = PointsOf(c.text);
    // The A has 8 points and a pen-up follows each byte; the B starts at the first move after them
    // that is followed by a draw.
    auto b = std::find_if(points.begin() + 9, points.end() - 1,
                          [&](const Point& p) { return !p.down && (&p + 1)->down; });
    ASSERT_NE(b, points.end() - 1) << c.text;
    EXPECT_NEAR(b->x, c.x, 1e-3) << c.text;
    EXPECT_NEAR(b->y, c.y, 1e-3) << c.text;
  }
}

TEST_F(Labels, CharacterPlot) {
  ExpectPoints({PointsOf("CP2,1;").back()}, {{false, 150, 108}}, "CP2,1");
  ExpectPoints({PointsOf("CP-1,0;").back()}, {{false, -75, 0}}, "CP-1,0");
  ExpectPoints({PointsOf("PA1000,500;LBAB\x03"
                         "CP;")
                    .back()},
               {{false, 1000, 392}}, "CP");
}

TEST_F(Labels, NonSpacingCharacterOverprintsThePreviousCell) {
  const std::vector<uint8_t> tilde(hpgl::GlyphStrokes(1, '~'), hpgl::GlyphStrokes(1, '~') + 1);
  const float tildeX = static_cast<float>(hpgl::StrokeX(tilde[0])) * 12.5f;
  const float tildeY = static_cast<float>(hpgl::StrokeY(tilde[0])) * 9.0f;
  // Set 0: the tilde takes its own cell; set 1: it goes back over the A's.
  ExpectPoints({PointsOf("LBA~\x03")[9]}, {{false, 75 + tildeX, tildeY}}, "set 0");
  const auto overprinted = PointsOf("CS1;LBA~\x03");
  ExpectPoints({overprinted[9]}, {{false, tildeX, tildeY}}, "set 1");
  ExpectPoints({overprinted.back()}, {{false, 75, 0}}, "pen after the tilde");
}

TEST_F(Labels, ShiftOutAndInSwitchSets) {
  ASSERT_FALSE(Run("CS0;CA4;LB\x0e\x03").has_value());
  EXPECT_EQ(label().currentSet, 4);
  ASSERT_FALSE(Run("LB\x0f\x03").has_value());
  EXPECT_EQ(label().currentSet, 0);
  ASSERT_FALSE(Run("CA0;LB\x0e\x03").has_value());
  EXPECT_EQ(label().currentSet, 0);  // no alternate set: SO keeps the set
  ASSERT_FALSE(Run("CS2;CA3;SA;").has_value());
  EXPECT_EQ(label().currentSet, 3);
  ASSERT_FALSE(Run("SS;").has_value());
  EXPECT_EQ(label().currentSet, 2);
  ASSERT_FALSE(Run("CS;").has_value());
  EXPECT_EQ(label().currentSet, 0);
  EXPECT_EQ(label().standardSet, 0);
}

TEST_F(Labels, EightBitCodesInSet0TakeSet7) {
  // Byte 200 is code 72 of set 7, drawn with the default grid steps (12.5, 0) and (0, 9).
  std::vector<Point> want;
  for (const uint8_t* s = hpgl::GlyphStrokes(7, 72); *s != 0; ++s) {
    want.push_back({hpgl::StrokeIsDraw(*s), hpgl::StrokeX(*s) * 12.5f, hpgl::StrokeY(*s) * 9.0f});
  }
  ASSERT_FALSE(want.empty());
  const auto points = PointsOf("LB\xc8\x03");
  EXPECT_EQ(points.size(), want.size() + 1);
  ExpectPoints(points, want, "byte 200");
  EXPECT_NE(std::vector<uint8_t>(hpgl::GlyphStrokes(7, 72), hpgl::GlyphStrokes(7, 72) + 4),
            std::vector<uint8_t>(hpgl::GlyphStrokes(0, 72), hpgl::GlyphStrokes(0, 72) + 4));
}

TEST_F(Labels, UnsupportedCharactersAndSetsBecomeSpacesWithATrace) {
  struct Case {
    std::string text;
    std::string trace;
  };
  const Case cases[] = {
      {"CS1;LB\xc8\x03", "Illegal char in string: 200 = \xc8 replaced by blank!\n"},
      {"CS9;LBA\x03", "Charset 9 not supported -- replaced by blank!\n"},
      {"CS-1;LBA\x03", "Charset -1 not supported -- replaced by blank!\n"},
      {"CA8;LB\016A\x03", "Charset 8 not supported -- replaced by blank!\n"},
      {"CS3;LB\xff\x03", "Illegal char in string: 255 = \xff replaced by blank!\n"},
  };
  for (const Case& c : cases) {
    CapturedTrace trace;
    const auto points = PointsOf(c.text);
    EXPECT_TRUE(std::none_of(points.begin(), points.end(), [](const Point& p) { return p.down; })) << c.text;
    ExpectPoints({points.back()}, {{false, 75, 0}}, c.text);
    EXPECT_NE(std::find(trace.texts.begin(), trace.texts.end(), c.trace), trace.texts.end()) << c.text;
  }
}

TEST_F(Labels, CommandErrors) {
  const std::pair<const char*, ErrorKind> cases[] = {
      {"SI0,1;", ErrorKind::kSyntax}, {"SI1,0;", ErrorKind::kSyntax}, {"SR0,1;", ErrorKind::kSyntax},
      {"SI1;", ErrorKind::kSyntax2},  {"SR1;", ErrorKind::kSyntax2},  {"DI0,0;", ErrorKind::kSyntax},
      {"DR0,0;", ErrorKind::kSyntax}, {"DI1;", ErrorKind::kSyntax2},  {"DR1;", ErrorKind::kSyntax2},
      {"CP1;", ErrorKind::kSyntax2},
  };
  for (const auto& [text, kind] : cases) {
    Restart();
    EXPECT_EQ(Run(text), kind) << text;
  }
}

TEST_F(Labels, LineTypeIsSolidInsideGlyphsOnly) {
  // A dashed line type would cut the glyph's strokes; the A comes out as its 8 points.
  const auto points = PointsOf("LT2;LBA\x03");
  ExpectPoints(points, DefaultA(0, 0), "dashed");
  EXPECT_EQ(set_.ctx->effectiveLineType, 2);
}

TEST_F(Labels, SymbolModeCentresTheGlyphOnEachPoint) {
  for (const char* text : {"SM*;PA100,100;", "SMA;PA100,100;", "SM*;PA100,100;PR0,0;"}) {
    auto points = PointsOf(text);
    ASSERT_GE(points.size(), 3u) << text;
    ExpectPoints({points.front(), points.back()}, {{false, 100, 100}, {false, 100, 100}}, text);
    // The glyph's points, between the PA's move and the final pen-up, average to the centre.
    const auto first = points.begin() + 1;
    const auto last = std::find_if(first + 1, points.end(),
                                   [](const Point& p) { return !p.down && p.x == 100 && p.y == 100; });
    double sumX = 0;
    double sumY = 0;
    for (auto p = first; p != last; ++p) {
      sumX += p->x;
      sumY += p->y;
    }
    const auto count = static_cast<double>(last - first);
    ASSERT_GT(count, 1) << text;
    EXPECT_TRUE(std::any_of(first, last, [](const Point& p) { return p.down; })) << text;
    EXPECT_NEAR(sumX / count, 100, 1e-3) << text;
    EXPECT_NEAR(sumY / count, 100, 1e-3) << text;
  }
  EXPECT_EQ(PointsOf("SM*;SM;PA100,100;").size(), 1u);
  EXPECT_EQ(PointsOf("SM*;SM\rPA100,100;").size(), 1u);
}

TEST_F(Labels, UserDefinedCharacter) {
  struct Case {
    const char* text;
    std::vector<Point> points;
  };
  // Grid steps (12.5, 0) and (0, 9 x 2/3 = 6) with the default size.
  const Case cases[] = {
      {"UC4,0,99,0,9,-4,0;", {{false, 50, 0}, {true, 50, 54}, {true, 0, 54}, {false, 75, 0}}},
      {"UC99,2,3,-99,2,-3;", {{true, 25, 18}, {false, 50, 0}, {false, 75, 0}}},
      {"UC1;", {{false, 75, 0}}},  // a step without its second value ends the character
      {"UC;", {{false, 75, 0}}},
      {"UC99,4,0,3;", {{true, 50, 0}, {false, 75, 0}}},  // the odd last value is dropped
      // The second value of a step is never a pen control: -99 is a step of 2/3 x -99 rows.
      {"UC99,2,-99;", {{true, 25, -594}, {false, 75, 0}}},
      {"UC-99,1,0,99,1,0,-99,1,0,99;", {{false, 12.5f, 0}, {true, 25, 0}, {false, 37.5f, 0}, {false, 75, 0}}},
      {"PA100,100;DI0,1;UC99,4,0;", {{false, 100, 100}, {true, 100, 150}, {false, 100, 175}}},
  };
  for (const Case& c : cases) {
    const auto points = PointsOf(c.text);
    EXPECT_EQ(points.size(), c.points.size()) << c.text;
    ExpectPoints(points, c.points, c.text);
  }
}

TEST_F(Labels, VerticalLabelsStackCharactersDown) {
  // Vertical labels step every byte one cell back and one line down, so characters stack downwards
  // and control characters, which do not advance, shift the pen a cell to the left. The L is one
  // stroke from its top (0, 54 with the default steps): each cell shows as one move followed by a
  // draw, 54 above the cell's origin.
  struct Case {
    const char* text;
    std::vector<Point> starts;
  };
  const Case cases[] = {
      {"DV1;LBLL\x03", {{false, 0, 54}, {false, 0, -54}}},
      // A return: back to the top row, a cell to the left; with a line feed, two cells.
      {"DV1;LBLL\rL\x03", {{false, 0, 54}, {false, 0, -54}, {false, -75, 54}}},
      {"DV1;LBLL\r\nLL\x03", {{false, 0, 54}, {false, 0, -54}, {false, -150, 54}, {false, -150, -54}}},
      {"DV1;LBL\nL\x03", {{false, 0, 54}, {false, -75, -54}}},
      {"DV1;DV0;LBLL\x03", {{false, 0, 54}, {false, 75, 54}}},
      {"DV1;DV;LBLL\x03", {{false, 0, 54}, {false, 75, 54}}},
  };
  for (const Case& c : cases) {
    const auto points = PointsOf(c.text);
    std::vector<Point> starts;
    for (size_t i = 0; i + 1 < points.size(); ++i) {
      if (!points[i].down && points[i + 1].down) starts.push_back(points[i]);
    }
    EXPECT_EQ(starts.size(), c.starts.size()) << c.text;
    ExpectPoints(starts, c.starts, c.text);
  }
}

TEST_F(Labels, ClippingTurnsTheRestOfAGlyphIntoMoves) {
  // The glyph points are compared with the window as P1 + point: with P1 at (603, 521) the A drawn at
  // (50, 0) spans 653 to 703 across and 521 to 575 up.
  struct Case {
    const char* window;
    int drawn;  // draws of the A's 6 that stay draws
  };
  const Case cases[] = {
      {"IW;", 6},               // clipping off
      {"IW0,0,800,800;", 6},    // all inside
      {"IW0,0,700,800;", 3},    // the fourth draw, at 703, leaves across the right edge
      {"IW0,0,800,570;", 1},    // the second draw, at 575, leaves across the top
      {"IW0,530,800,800;", 0},  // the start, at 521, is below the window
      {"IW654,0,800,800;", 0},  // the start, at 653, is left of it
  };
  for (const Case& c : cases) {
    const auto points = PointsOf(std::string(c.window) + "PA50,0;LBA\x03");
    // The PA's move, the A's 8 points, the pen-up after the byte.
    ASSERT_EQ(points.size(), 10u) << c.window;
    std::vector<Point> a(points.begin() + 1, points.begin() + 9);
    const std::vector<Point> want = DefaultA(50, 0);
    int drawn = 0;
    bool left = false;
    for (size_t i = 0; i < a.size(); ++i) {
      EXPECT_NEAR(a[i].x, want[i].x, 1e-3) << c.window << " point " << i;
      EXPECT_NEAR(a[i].y, want[i].y, 1e-3) << c.window << " point " << i;
      if (a[i].down) {
        EXPECT_FALSE(left) << c.window << ": a draw after the glyph left the window, point " << i;
        ++drawn;
      } else if (want[i].down) {
        left = true;
      }
    }
    EXPECT_EQ(drawn, c.drawn) << c.window;
  }
}

TEST_F(Labels, RotatedCoordinatesTurnLabelsOnceAboutTheOrigin) {
  // RO90 turns the point (x, y) to (-y, x); a label there must come out as the same label drawn
  // without rotation at (-y, x) in the direction 90 degrees. The plot size's corner (after RO) and a
  // ZM point are positions that were never rotated; the unrotated run has a move there first.
  struct Case {
    const char* rotated;
    const char* turned;
    size_t leadingMoves;  // points of the turned run that the rotated run does not have
  };
  const Case cases[] = {
      {"RO90;PA1000,200;LBA\x03PR0,0;", "DI0,1;PA-200,1000;LBA\x03PR0,0;", 0},
      {"RO90;PA1000,200;LBA\r\nB\x03", "DI0,1;PA-200,1000;LBA\r\nB\x03", 0},
      {"RO90;PA1000,200;BLAB\x03LO6;PB;", "DI0,1;PA-200,1000;BLAB\x03LO6;PB;", 0},
      {"RO90;PA1000,200;CP2,1;", "DI0,1;PA-200,1000;CP2,1;", 0},
      {"RO90;PA1000,200;UC99,4,6;", "DI0,1;PA-200,1000;UC99,4,6;", 0},
      {"RO90;SM*;PA1000,200;", "DI0,1;SM*;PA-200,1000;", 0},
      {"RO45;RO45;PA1000,200;LBA\x03", "DI0,1;PA-200,1000;LBA\x03", 0},
      {"RO180;PA1000,200;LBA\x03", "DI-1,0;PA-1000,-200;LBA\x03", 0},
      // RO90 swaps the plot size to 2000 x 1000 and leaves the position on its far corner.
      {"PS1000,2000;RO90;LBA\x03", "DI0,1;PA-1000,2000;LBA\x03", 1},
      {"RO90;ZM1000,200,0;LBA\x03", "DI0,1;PA-200,1000;LBA\x03", 1},
  };
  for (const Case& c : cases) {
    CapturedTrace quiet;
    const auto rotated = PointsOf(c.rotated);
    const auto turned = PointsOf(c.turned);
    ASSERT_EQ(rotated.size() + c.leadingMoves, turned.size()) << c.rotated;
    for (size_t i = 0; i < rotated.size(); ++i) {
      const Point& want = turned[i + c.leadingMoves];
      EXPECT_EQ(rotated[i].down, want.down) << c.rotated << " point " << i;
      EXPECT_NEAR(rotated[i].x, want.x, 0.05) << c.rotated << " point " << i;
      EXPECT_NEAR(rotated[i].y, want.y, 0.05) << c.rotated << " point " << i;
    }
  }
}

// A label whose terminator never comes, fed through the spool road: the interpreter must give up with
// "Syntax error" once the pending text reaches the threshold, without a buffer beyond the spool
// buffer's size and with everything released.
class LabelsThroughTheSpoolRoad : public ScratchDirTest {
 protected:
  void TearDown() override {
    if (set_.ctx->jobOpenFlag != 0) AbortSpoolJob(*set_.ctx, *set_.spool, *set_.job, spooler_.printerHandle);
    ScratchDirTest::TearDown();
  }
  MemorySpooler spooler_;
  CapturedMessages messages_;
  RecordSet set_;
  std::vector<uint8_t> settings_ = DefaultSettings();
};

TEST_F(LabelsThroughTheSpoolRoad, AnUnterminatedLabelOfMegabytesEndsTheJobWithASyntaxError) {
  FailingMemory memory(kSpoolBufferBytes + 1);  // nothing larger than the spool buffer may be had
  const std::string start = "IN;SP1;PA100,100;LB";
  const std::vector<uint8_t> text(65536, 'A');
  auto send = [&](const uint8_t* data, size_t size) {
    debut(spooler_.printerHandle, data, static_cast<uint32_t>(size), settings_.data(), set_.spool, set_.ctx,
          set_.job);
  };
  send(reinterpret_cast<const uint8_t*>(start.data()), start.size());
  size_t sent = start.size();
  while (messages_.texts.empty() && sent < 3 * size_t{kSpoolBufferBytes}) {
    send(text.data(), text.size());
    sent += text.size();
  }
  EXPECT_EQ(messages_.texts, std::vector<std::string>{"Syntax error"});
  EXPECT_GT(sent, size_t{kProcessThreshold});
  EXPECT_EQ(set_.ctx->jobOpenFlag, 0);
  EXPECT_EQ(set_.spool->spoolBuffer, nullptr);
  EXPECT_EQ(set_.ctx->labelText, nullptr);
  EXPECT_TRUE(spooler_.job.empty());  // the printer's job was aborted
  EXPECT_EQ(memory.outstanding, 0);
}

// The font.

TEST(StrokeFont, ExampleGlyphs) {
  auto decode = [](const uint8_t* s) {
    std::vector<std::tuple<bool, int, int>> points;
    for (; *s != 0; ++s) points.emplace_back(hpgl::StrokeIsDraw(*s), hpgl::StrokeX(*s), hpgl::StrokeY(*s));
    return points;
  };
  using P = std::vector<std::tuple<bool, int, int>>;
  EXPECT_EQ(decode(hpgl::GlyphStrokes(0, 'A')), (P{{false, 0, 0},
                                                   {true, 0, 5},
                                                   {true, 1, 6},
                                                   {true, 3, 6},
                                                   {true, 4, 5},
                                                   {true, 4, 0},
                                                   {false, 0, 2},
                                                   {true, 4, 2}}));
  EXPECT_EQ(decode(hpgl::GlyphStrokes(0, '1')),
            (P{{false, 1, 0}, {true, 3, 0}, {false, 2, 0}, {true, 2, 6}, {true, 1, 5}}));
  EXPECT_EQ(*hpgl::GlyphStrokes(0, ' '), 0);
}

TEST(StrokeFont, EveryGlyphStartsWithAMoveAndStaysOnItsGrid) {
  // Set 0 stays inside its cell; the others may reach one step into the cell on the left (wide
  // symbols) and up to gy 9 (accents on capitals). The printable codes that draw nothing are listed.
  struct Design {
    int set;
    int minX, maxX, minY, maxY;
    std::vector<int> blank;
  };
  const Design designs[] = {
      {0, 0, 4, -3, 7, {}},          {1, -1, 5, -3, 9, {}},    {2, -1, 5, -3, 9, {126, 127}},
      {3, -1, 5, -3, 9, {126, 127}}, {4, -1, 5, -3, 9, {}},    {5, -1, 5, -3, 9, {}},
      {6, -1, 5, -3, 9, {}},         {7, -1, 5, -3, 9, {127}},
  };
  for (const Design& d : designs) {
    for (int code = 0; code < hpgl::kGlyphsPerSet; ++code) {
      SCOPED_TRACE("set " + std::to_string(d.set) + " code " + std::to_string(code));
      const uint8_t* s = hpgl::GlyphStrokes(d.set, code);
      const bool printable = code > 32 && std::find(d.blank.begin(), d.blank.end(), code) == d.blank.end();
      if (*s != 0) {
        EXPECT_FALSE(hpgl::StrokeIsDraw(*s));
      }
      bool draws = false;
      for (; *s != 0; ++s) {
        EXPECT_GE(hpgl::StrokeX(*s), d.minX);
        EXPECT_LE(hpgl::StrokeX(*s), d.maxX);
        EXPECT_GE(hpgl::StrokeY(*s), d.minY);
        EXPECT_LE(hpgl::StrokeY(*s), d.maxY);
        draws = draws || hpgl::StrokeIsDraw(*s);
      }
      EXPECT_EQ(draws, printable);
    }
  }
}

TEST(StrokeFont, NationalSetsDifferFromSet0WhereListed) {
  auto range = [](int first, int last) {
    std::vector<int> codes;
    for (int code = first; code <= last; ++code) codes.push_back(code);
    return codes;
  };
  std::vector<int> set5 = range('A', 'Q');
  const std::vector<int> lower = range('a', 'z');
  set5.insert(set5.end(), lower.begin(), lower.end());
  const std::vector<std::vector<int>> differing = {
      {},
      {'\\', '^', '{', '|', '}'},
      {'#', '\'', '\\', '{', '|', '}', '~', 127},
      {'#', '[', '\\', ']', '^', '{', '|', '}', '~', 127},
      {'#', '\'', '\\', '{', '|', '}', '~'},
      set5,
      {'\\'},
  };
  auto bytes = [](int set, int code) {
    const uint8_t* s = hpgl::GlyphStrokes(set, code);
    return std::vector<uint8_t>(s, s + std::char_traits<char>::length(reinterpret_cast<const char*>(s)));
  };
  for (int set = 1; set < 7; ++set) {
    for (int code = 0; code < hpgl::kGlyphsPerSet; ++code) {
      const auto& listed = differing[static_cast<size_t>(set)];
      const bool differs = std::find(listed.begin(), listed.end(), code) != listed.end();
      EXPECT_EQ(bytes(set, code) != bytes(0, code), differs) << "set " << set << " code " << code;
    }
  }
}

TEST(StrokeFont, NonSpacingCharacters) {
  std::vector<std::pair<int, int>> listed = {{1, 95}, {1, 96}, {1, 126}, {2, 39},  {2, 94},
                                             {2, 95}, {2, 96}, {2, 123}, {2, 124}, {2, 125},
                                             {3, 95}, {4, 39}, {4, 94},  {4, 95},  {5, 101}};
  for (int code = 123; code < 128; ++code) {
    listed.emplace_back(3, code);
    listed.emplace_back(4, code);
  }
  for (int set = 0; set < hpgl::kFontSets; ++set) {
    for (int code = 0; code < hpgl::kGlyphsPerSet; ++code) {
      const bool expected =
          std::find(listed.begin(), listed.end(), std::make_pair(set, code)) != listed.end();
      EXPECT_EQ(hpgl::IsNonSpacing(set, code), expected) << "set " << set << " code " << code;
    }
  }
}

}  // namespace
}  // namespace ostrelin::test
