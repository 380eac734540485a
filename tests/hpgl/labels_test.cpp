// Labels: character size and stepping, the worked label examples, control characters, character
// sets, the label commands' errors, and the stroke font's grid.
#include "engine/hpgl/labels.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "engine/hpgl/stroke_font.h"
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
      {"PA100,100;DI0,1;UC99,4,0;", {{false, 100, 100}, {true, 100, 150}, {false, 100, 175}}},
  };
  for (const Case& c : cases) {
    const auto points = PointsOf(c.text);
    EXPECT_EQ(points.size(), c.points.size()) << c.text;
    ExpectPoints(points, c.points, c.text);
  }
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

TEST(StrokeFont, Set0GlyphsStartWithAMoveAndStayOnTheGrid) {
  for (int code = 0; code < hpgl::kGlyphsPerSet; ++code) {
    const uint8_t* s = hpgl::GlyphStrokes(0, code);
    const bool printable = code > 32 && code < 128;
    EXPECT_EQ(*s != 0, printable) << "code " << code;
    if (*s != 0) {
      EXPECT_FALSE(hpgl::StrokeIsDraw(*s)) << "code " << code;
    }
    bool draws = false;
    for (; *s != 0; ++s) {
      EXPECT_GE(hpgl::StrokeX(*s), 0) << "code " << code;  // set 0 stays inside its cell
      EXPECT_LE(hpgl::StrokeX(*s), 4) << "code " << code;
      EXPECT_GE(hpgl::StrokeY(*s), -3) << "code " << code;
      EXPECT_LE(hpgl::StrokeY(*s), 7) << "code " << code;
      draws = draws || hpgl::StrokeIsDraw(*s);
    }
    EXPECT_EQ(draws, printable) << "code " << code;
  }
}

TEST(StrokeFont, Set7HasGlyphsForItsNinetyFourCodesOnly) {
  for (int code = 0; code < hpgl::kGlyphsPerSet; ++code) {
    const uint8_t* s = hpgl::GlyphStrokes(7, code);
    const bool printable = code > 32 && code < 127;
    bool draws = false;
    for (; *s != 0; ++s) {
      EXPECT_GE(hpgl::StrokeY(*s), -3) << "code " << code;
      EXPECT_LE(hpgl::StrokeY(*s), 9) << "code " << code;  // accents of capitals reach gy 9
      draws = draws || hpgl::StrokeIsDraw(*s);
    }
    EXPECT_EQ(draws, printable) << "code " << code;
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
