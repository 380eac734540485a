// The page driver: reading characters, numbers and text, command codes, "!" commands, the page end
// and the stop rule.
#include <cmath>
#include <string>

#include "hpgl/hpgl_test_support.h"

namespace ostrelin::test {
namespace {

using hpgl::kOpDot;
using hpgl::kOpPenDown;
using hpgl::kOpPenUp;

class PageDriver : public HpglTest {};

TEST_F(PageDriver, SpellingsOfOneCommandGiveTheSameRecords) {
  struct Case {
    const char* text;
    const char* same;
  };
  const Case cases[] = {
      {"pa10,20;", "PA10,20;"},
      {"Pa10,20;", "PA10,20;"},
      {"pA10,20;", "PA10,20;"},
      {"PA10 20;", "PA10,20;"},
      {"PA\r\n10\t,  20 ;", "PA10,20;"},
      {"V100;", "VS100;"},
      {"v100;", "VS100;"},
      {"Z1,2,3;", "ZM1,2,3;"},
      {"!100;", "!MC100;"},
      {"!mc100;", "!MC100;"},
      {"QX;PA0,0;", "PA0,0;"},       // QX unknown: X read again, alone, and ignored
      {"PAPA0,0;", "PA0,0;"},        // a command without parameters
      {"!JH3,abcPA5,5;", "PA5,5;"},  // ",abc" is passed over
      {"!JH4,PD1;PA5,5;", "PA5,5;"},
      {"PA1,1;AC1,2,3;PD2,2;", "PA1,1;PD2,2;"},
      {"PA1,1;FT1,2,3;PW0.3,1;ZD9;PD2,2;", "PA1,1;PD2,2;"},
      {"PA1,1;\x7f\xff~PD2,2;", "PA1,1;PD2,2;"},
  };
  for (const Case& c : cases) {
    const auto expected = RecordsOf(c.same);
    EXPECT_FALSE(expected.empty()) << c.same;
    EXPECT_EQ(RecordsOf(c.text), expected) << c.text;
  }
}

TEST_F(PageDriver, NumbersAreReadAsFloats) {
  struct Case {
    std::string text;
    float x, y;
  };
  const Case cases[] = {
      {"PA-5,+.5;", -5.0f, 0.5f},
      {"PA.25,-0.75;", 0.25f, -0.75f},
      {"PA1.2.3,4;", 1.2f, 4.0f},  // the text "1.2.3" converts as 1.2
      {"PA5.,007;", 5.0f, 7.0f},
      {"PA123456789,-2147483648;", 123456789.0f, -2147483648.0f},
      {"PA12345678901,0.1;", 12345678901.0f, 0.1f},
      // Characters after the 79th of a number are consumed and dropped: one number, then y.
      {"PA1." + std::string(100, '0') + "7,5;", 1.0f, 5.0f},
      {"PA0." + std::string(77, '0') + "9,5;", 0.0f, 5.0f},
  };
  for (const Case& c : cases) {
    const auto records = RecordsOf(c.text);
    ASSERT_EQ(records.size(), 1u) << c.text;
    EXPECT_EQ(records[0], Pt(kOpPenUp, c.x, c.y)) << c.text;
  }
  // Numbers beyond the float range become infinities.
  const auto huge = RecordsOf("PA" + std::string(60, '9') + ",-" + std::string(60, '9') + ";");
  ASSERT_EQ(huge.size(), 1u);
  EXPECT_TRUE(std::isinf(huge[0].x) && huge[0].x > 0);
  EXPECT_TRUE(std::isinf(huge[0].y) && huge[0].y < 0);
  // A lone sign or point is no number: the pair list ends without an error.
  EXPECT_TRUE(RecordsOf("PA-,5;PA.;").empty());
}

TEST_F(PageDriver, FatalErrorsShowTheirMessage) {
  struct Case {
    std::string text;
    bool pageComplete;
    ErrorKind kind;
    const char* message;
  };
  const Case cases[] = {
      {"PA1e3,0;", true, ErrorKind::kSyntax2, "Syntax 2 error"},  // "e" ends the parameter list after x
      {"PA10,", true, ErrorKind::kSyntax, "Syntax error"},        // the buffer ends inside a command
      {"PA10", true, ErrorKind::kSyntax, "Syntax error"},
      {"P", true, ErrorKind::kSyntax, "Syntax error"},
      {"!", true, ErrorKind::kSyntax, "Syntax error"},
      {"!JH10,abc", true, ErrorKind::kSyntax, "Syntax error"},
      {"LBno terminator", true, ErrorKind::kSyntax, "Syntax error"},
      {"PE<<<", true, ErrorKind::kSyntax, "Syntax error"},
      {"\x1b*b0M\x1b*b100Wshort", true, ErrorKind::kSyntax, "Syntax error"},
      {"PU5;", true, ErrorKind::kSyntax2, "Syntax 2 error"},
      {"PD5,6,7;", true, ErrorKind::kSyntax2, "Syntax 2 error"},
  };
  for (const Case& c : cases) {
    Restart();
    CapturedMessages messages;
    const auto error = Run(c.text, c.pageComplete);
    ASSERT_TRUE(error.has_value()) << c.text;
    EXPECT_EQ(*error, c.kind) << c.text;
    ASSERT_EQ(messages.texts.size(), 1u) << c.text;
    EXPECT_EQ(messages.texts[0], c.message) << c.text;
  }
}

TEST_F(PageDriver, OnlyAPageEndCommandFollowedBySemicolonEndsThePage) {
  struct Case {
    const char* text;
    bool ends;
  };
  const Case cases[] = {{"PG;", true},   {"pg;", true},   {"AF;", true},   {"AH;", true},  {"PG1;", false},
                        {"PG ;", false}, {"PG,;", false}, {"AF1;", false}, {"PGX;", false}};
  for (const Case& c : cases) {
    Restart();
    ASSERT_FALSE(Run(c.text).has_value()) << c.text;
    EXPECT_EQ(set_.ctx->pageEndFlag, c.ends ? 1 : 0) << c.text;
  }
}

TEST_F(PageDriver, AfterThePageEndCommandsAreReadWithoutWritingExceptPenChanges) {
  // Two pages in one buffer: the second one is read to the end and leaves no strokes.
  ASSERT_FALSE(Run("SP1;PA0,0;PD10,0;PG;SP2;PA5,5;PD20,20;!MC4;VS9;ZM1,2,3;PG;").has_value());
  EXPECT_EQ(set_.ctx->pageEndFlag, 1);
  EXPECT_EQ(set_.spool->readPos, set_.spool->dataEnd);
  EXPECT_EQ(Records(),
            (std::vector<PlotRecord>{Colour(0), Pt(kOpPenUp, 0, 0), Pt(kOpPenDown, 10, 0), Colour(1)}));
}

TEST_F(PageDriver, EngraverCommandsWriteTheirRecords) {
  struct Case {
    const char* text;
    std::vector<PlotRecord> records;
  };
  const Case cases[] = {
      {"!DR25;", {Val(hpgl::kOpDepthRate, 2.5f)}},
      {"!MC7;", {Val(hpgl::kOpMachineCode, 7)}},
      {"!7.5;", {Val(hpgl::kOpMachineCode, 7.5f)}},
      {"!NR;", {Val(hpgl::kOpLabelFlag, 0)}},
      {"!OP;!ot;", {Op(hpgl::kOpOutput), Op(hpgl::kOpOutput)}},
      {"!PZ-3,-4;", {Val(hpgl::kOpZoneFirst, 3), Val(hpgl::kOpZoneSecond, 4)}},
      {"!PZ5;", {Val(hpgl::kOpZoneFirst, 5)}},
      {"!VZ-2;", {Val(hpgl::kOpZValue, -2)}},
      {"!LBhello world;", {Text("hello world"), Val(hpgl::kOpLabelFlag, 1)}},
      {"!LR;", {Text("")}},
      {"!DR;!MC;!PZ;!VZ;!JH;", {}},  // a missing number writes nothing
      {"!XY5;", {}},
      {"VS12.5;VS;", {Val(hpgl::kOpVelocity, 12.5f)}},
  };
  for (const Case& c : cases) EXPECT_EQ(RecordsOf(c.text), c.records) << c.text;
}

TEST_F(PageDriver, LabelTextIsReadUpToTheTerminator) {
  struct Case {
    std::string text;
    std::string label;
  };
  const Case cases[] = {
      {"BLabc\x03", "abc"},        // ETX ends the text and is not kept
      {"BLPA1,1;\x03", "PA1,1;"},  // letters included
      {"DT*;BLab*", "ab*"},        // another terminator is kept
      {"DT;BLxy;", "xy;"},
      {"!LBa;BLxyz;", "xyz;"},  // "!LB" leaves ";" as the terminator
      {"BLfirst\x03"
       "BLsecond\x03",
       "second"},
  };
  for (const Case& c : cases) {
    Restart();
    ASSERT_FALSE(Run(c.text).has_value()) << c.text;
    ASSERT_NE(set_.ctx->labelText, nullptr);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(set_.ctx->labelText)), c.label) << c.text;
    EXPECT_EQ(set_.ctx->labelLength, static_cast<int32_t>(c.label.size()));
    if (c.text[0] != '!') {
      EXPECT_TRUE(Records().empty()) << c.text;
    }
  }
  // The buffer doubles from 151 bytes whenever a byte would land past half of it.
  Restart();
  ASSERT_FALSE(Run("BL" + std::string(75, 'a') + "\x03").has_value());
  EXPECT_EQ(set_.ctx->labelCapacity, 151);
  ASSERT_FALSE(Run("BL" + std::string(76, 'a') + "\x03").has_value());
  EXPECT_EQ(set_.ctx->labelCapacity, 302);
  ASSERT_FALSE(Run("BL" + std::string(1000, 'a') + "\x03").has_value());
  EXPECT_EQ(set_.ctx->labelCapacity, 2416);
  // MG and WD show their text on the trace hook only.
  CapturedTrace trace;
  ASSERT_FALSE(Run("MGmessage\x03WDword\x03").has_value());
  EXPECT_NE(std::find(trace.texts.begin(), trace.texts.end(), "\nLABEL: message\n"), trace.texts.end());
  EXPECT_NE(std::find(trace.texts.begin(), trace.texts.end(), "\nLABEL: word\n"), trace.texts.end());
}

TEST_F(PageDriver, MergeControlTransparencyAndThreeDimensionalPoints) {
  struct Op {
    const char* text;
    int32_t rop;
  };
  const Op ops[] = {{"MC;", 0xCC0020},        {"MC1,17;", 0x1100A6}, {"MC0,17;", 0xCC0020},
                    {"MC1;", 0xCC0020},       {"MC1,0;", 0x000042},  {"MC1,90;", 0x660046},
                    {"MC1,102.9;", 0x660046}, {"MC1,5;", 0xCC0020},  {"MC1,255;", 0xFF0062},
                    {"MC1,251;", 0xBB0226},   {"MC1,240;", 0xCC0020}};
  for (const Op& op : ops) {
    set_.ctx->rasterOperation = 1;
    ASSERT_FALSE(Run(op.text).has_value());
    EXPECT_EQ(set_.ctx->rasterOperation, op.rop) << op.text;
  }
  const std::pair<const char*, int32_t> transparency[] = {
      {"TR0;", 1}, {"TR1;", 0}, {"TR0;TR;", 0}, {"TR0.5;", 0}};
  for (const auto& [text, opaque] : transparency) {
    ASSERT_FALSE(Run(text).has_value());
    EXPECT_EQ(set_.spool->opaqueSource, opaque) << text;
  }
  // ZM: z negated; relative after PR from the user position and z; unscaled and unrotated.
  const PlotRecord p1 = Pt3(1, 2, -3);
  const PlotRecord p2 = Pt3(11, 12, -3);
  const PlotRecord p3 = Pt3(12, 14, -6);
  testing::internal::CaptureStderr();  // the RO messages
  EXPECT_EQ(RecordsOf("SC0,1,0,1;RO30;ZM1,2,3;ZM1,2;"), (std::vector<PlotRecord>{p1}));
  testing::internal::GetCapturedStderr();
  EXPECT_EQ(RecordsOf("PA10,10;PR;ZM1,2,3;ZM1,2,3;"),
            (std::vector<PlotRecord>{Pt(kOpPenUp, 10, 10), p2, p3}));
  // ZS: pen-down lines to the second and third points; the pen position stays.
  EXPECT_EQ(RecordsOf("PA0,0;ZS1,1,10,0,10,10;PR1,1;ZS1,2,3;"),
            (std::vector<PlotRecord>{Pt(kOpPenUp, 0, 0), Pt(kOpPenDown, 10, 0), Pt(kOpPenDown, 10, 10),
                                     Pt(kOpPenUp, 1, 1)}));
}

TEST_F(PageDriver, CommandsOfOtherModulesAreReadWholeAndReportedOnTheTrace) {
  CapturedTrace trace;
  // Each sequence hides a command that would fail or draw if it were read as HPGL.
  const std::vector<std::string> sequences = {
      std::string("BLPD1;\x03"),                                 // label text
      std::string("DT#;BLPD1;#"),                                // label text with its own terminator
      std::string("SMPD1;SM;"),                                  // the symbol character
      std::string("\x1b*b0M\x1b*b4WPD1;"),                       // raster data, unencoded
      std::string("\x1b*b2m4WPD1;"),                             // compression in the same sequence
      std::string("\x1b*b5m9W\x00\x00\x03PD1\x04\x00\x07", 16),  // adaptive: a 3-byte row, 7 empty rows
      std::string("\x1b*b4m7W\x00\x00\x00\x18PD1", 14),          // counted rows: 24-bit rows, one row
      std::string("\x1b*v6W\x00\x01\x01PD1", 11),                // image configuration and its extra bytes
      std::string("\x1b%-12345X\x1b%1B\x1b*r100S\x1b*t300R"),    // mode switches and settings, no data
      std::string("\x1b*p+10x-5Y\x1b"
                  "E"),
  };
  for (const std::string& sequence : sequences) {
    EXPECT_EQ(RecordsOf(sequence + "PA5,5;"), (std::vector<PlotRecord>{Pt(kOpPenUp, 5, 5)}))
        << testing::PrintToString(sequence);
  }
  EXPECT_EQ(set_.ctx->symbolCharacter, 0);
  ASSERT_FALSE(Run("SM\r").has_value());
  EXPECT_EQ(set_.ctx->symbolCharacter, 0);
  ASSERT_FALSE(Run("SM *").has_value());
  EXPECT_EQ(set_.ctx->symbolCharacter, '*');
  // Unknown commands are reported, not fatal.
  ASSERT_FALSE(Run("QX;").has_value());
  EXPECT_NE(std::find(trace.texts.begin(), trace.texts.end(), "Unknown command: QX\n"), trace.texts.end());
}

TEST_F(PageDriver, WithoutAPageEndTheDriverReturnsOnceFewerThanFiveMillionBytesRemain) {
  // 6,000,000 bytes of 8-byte commands: the byte at offset 1,000,001 is the first taken with fewer
  // than 5,000,000 bytes unread; the command it belongs to (at 1,000,000) is finished.
  const std::string command = "PD10,10;";
  buffer_.clear();
  for (int i = 0; i < 750000; ++i) buffer_.insert(buffer_.end(), command.begin(), command.end());
  ASSERT_EQ(buffer_.size(), 6000000u);
  ASSERT_FALSE(RunBuffer(false).has_value());
  EXPECT_EQ(set_.spool->readPos - buffer_.data(), 1000008);
  EXPECT_EQ(set_.spool->stopFlag, 0);
  EXPECT_EQ(Records().size(), 125001u);
  // The next call starts the next command and stops after it.
  ASSERT_FALSE(Continue().has_value());
  EXPECT_EQ(set_.spool->readPos - buffer_.data(), 1000016);
  EXPECT_EQ(Records().size(), 125002u);
  // With the page complete, everything is read.
  set_.spool->pageComplete = 1;
  ASSERT_FALSE(Continue().has_value());
  EXPECT_EQ(set_.spool->readPos, set_.spool->dataEnd);
  EXPECT_EQ(Records().size(), 750000u);
}

TEST_F(PageDriver, AnEmptyOrExhaustedBufferReturnsAtOnce) {
  ASSERT_FALSE(Run("", false).has_value());
  ASSERT_FALSE(Run("", true).has_value());
  EXPECT_EQ(set_.spool->stopFlag, 0);
  ASSERT_FALSE(Run("PA1,1;", false).has_value());  // small pending data: one command, then return
  EXPECT_EQ(Records().size(), 1u);
}

}  // namespace
}  // namespace ostrelin::test
