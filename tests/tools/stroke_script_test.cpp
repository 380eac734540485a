// Stroke scripts: the calls they make, the eof rule, and refused lines with their line numbers.
#include "tools/stroke_script.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "tools/tool_error.h"

namespace ostrelin::tools {
namespace {

using Kind = StrokeCommand::Kind;

std::vector<StrokeCommand> Parse(const std::string& text) {
  std::istringstream in(text);
  return ParseStrokeScript(in, "s.txt");
}

// A compact picture of the calls: "c3 u1.5,-2 d10,20 e" (line numbers left out).
std::string Calls(const std::vector<StrokeCommand>& commands) {
  std::ostringstream out;
  for (const StrokeCommand& c : commands) {
    if (out.tellp() > 0) out << ' ';
    switch (c.kind) {
      case Kind::kColour:
        out << 'c' << c.colour;
        break;
      case Kind::kPenUp:
        out << 'u' << c.x << ',' << c.y;
        break;
      case Kind::kPenDown:
        out << 'd' << c.x << ',' << c.y;
        break;
      case Kind::kEof:
        out << 'e';
        break;
    }
  }
  return out.str();
}

TEST(StrokeScript, LinesBecomeCalls) {
  const struct {
    const char* script;
    const char* calls;
  } kCases[] = {
      {"", ""},
      {"# only a comment\n\n   \n", ""},
      {"eof\n", "e"},
      {"colour 1\npu 10 20\npd 30 40\neof\n", "c1 u10,20 d30,40 e"},
      {"pu 1 2\npd 3 4", "u1,2 d3,4 e"},  // eof added after the last stroke
      {"colour 2", "c2 e"},
      {"  pu\t-1.5   2e3  # a move\r\npd 0.25 -0\r\n", "u-1.5,2000 d0.25,-0 e"},
      {"colour -1\ncolour 300\ncolour 2147483647\n", "c-1 c300 c2147483647 e"},
      {"pu 1 2 # eof\n", "u1,2 e"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.script);
    EXPECT_EQ(Calls(Parse(c.script)), c.calls);
  }
}

TEST(StrokeScript, CallsKeepTheirLineAndFloatValues) {
  const std::vector<StrokeCommand> commands = Parse("# drawing\ncolour 0\n\npu 11811 5905.5\npd 0.1 3\n");
  ASSERT_EQ(commands.size(), 4u);
  EXPECT_EQ(commands[0].line, 2);
  EXPECT_EQ(commands[1].line, 4);
  EXPECT_EQ(commands[1].x, 11811.0f);
  EXPECT_EQ(commands[1].y, 5905.5f);
  EXPECT_EQ(commands[2].x, 0.1f);  // parsed to the nearest float, as the export receives it
  EXPECT_EQ(commands[3].kind, Kind::kEof);
  EXPECT_EQ(commands[3].line, 0);
}

TEST(StrokeScript, MalformedLinesAreRefusedWithFileAndLine) {
  const struct {
    const char* script;
    const char* message;
  } kCases[] = {
      {"pu 1\n", "s.txt:1: expected \"pu X Y\""},
      {"\npd 1 2 3\n", "s.txt:2: expected \"pd X Y\""},
      {"pu a 2\n", "s.txt:1: \"a\" is not a number"},
      {"pu 1 2x\n", "s.txt:1: \"2x\" is not a number"},
      {"pu nan 0\n", "s.txt:1: \"nan\" is not a number"},
      {"pd inf 0\n", "s.txt:1: \"inf\" is not a number"},
      {"pu 1e39 0\n", "s.txt:1: coordinate 1e39 is out of range"},
      {"colour\n", "s.txt:1: expected \"colour N\""},
      {"colour 1.5\n", "s.txt:1: \"1.5\" is not an integer"},
      {"colour 2147483648\n", "s.txt:1: colour 2147483648 is out of range"},
      {"move 1 2\n", "s.txt:1: unknown command \"move\""},
      {"PU 1 2\n", "s.txt:1: unknown command \"PU\""},
      {"eof now\n", "s.txt:1: expected \"eof\""},
      {"pu 1 2\neof\n# fine\npd 3 4\n", "s.txt:4: nothing may follow eof"},
      {"eof\neof\n", "s.txt:2: nothing may follow eof"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.script);
    try {
      Parse(c.script);
      ADD_FAILURE() << "accepted";
    } catch (const ToolError& error) {
      EXPECT_EQ(error.exitStatus(), kExitUsage);
      EXPECT_EQ(std::string(error.what()).rfind(c.message, 0), 0u) << error.what();
    }
  }
}

// The bundled sample draws in two colours and stays on the 600 x 300 mm plate at 500 dpi.
TEST(StrokeScript, SampleDrawingStaysOnThePlate) {
  std::ifstream file(std::string(OSTRELIN_SOURCE_DIR) + "/examples/sample-strokes.txt");
  ASSERT_TRUE(file) << "examples/sample-strokes.txt is missing";
  const std::vector<StrokeCommand> commands = ParseStrokeScript(file, "sample-strokes.txt");
  std::vector<int32_t> colours;
  int penDown = 0;
  for (const StrokeCommand& c : commands) {
    if (c.kind == Kind::kColour) colours.push_back(c.colour);
    if (c.kind == Kind::kPenDown) ++penDown;
    if (c.kind == Kind::kPenUp || c.kind == Kind::kPenDown) {
      EXPECT_GE(c.x, 0.0f);
      EXPECT_LE(c.x, 600 / 25.4f * 500);
      EXPECT_GE(c.y, 0.0f);
      EXPECT_LE(c.y, 300 / 25.4f * 500);
    }
  }
  EXPECT_EQ(colours, (std::vector<int32_t>{0, 1}));
  EXPECT_GE(penDown, 8);
  EXPECT_EQ(commands.back().kind, Kind::kEof);
}

}  // namespace
}  // namespace ostrelin::tools
