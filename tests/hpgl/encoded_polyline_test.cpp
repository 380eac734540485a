// Encoded polylines: number decoding in both modes, the flags, bytes that are passed over, and round
// trips through an encoder written here from the encoding rules.
#include "engine/hpgl/encoded_polyline.h"

#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "hpgl/hpgl_test_support.h"

namespace ostrelin::test {
namespace {

using hpgl::kOpPenDown;
using hpgl::kOpPenUp;

// Encodes an integer: sign in bit 0, the magnitude above it, then base 64 (8-bit mode) or base 32
// (7-bit mode) digits, least significant first; every digit but the last in the low range (63 up),
// the last in the high range (191 up, or 95 up in 7-bit mode).
std::string Encode(int64_t value, bool sevenBit = false) {
  uint64_t u = value >= 0 ? static_cast<uint64_t>(value) * 2 : static_cast<uint64_t>(-value) * 2 + 1;
  const uint64_t base = sevenBit ? 32 : 64;
  std::string out;
  while (u >= base) {
    out += static_cast<char>(63 + u % base);
    u /= base;
  }
  out += static_cast<char>((sevenBit ? 95 : 191) + u);
  return out;
}

std::string Pair(int64_t x, int64_t y, bool sevenBit = false) {
  return Encode(x, sevenBit) + Encode(y, sevenBit);
}

class EncodedPolyline : public HpglTest {};

TEST_F(EncodedPolyline, WorkedExamplesAndFlags) {
  struct Case {
    std::string text;
    std::vector<PlotRecord> records;
  };
  const Case cases[] = {
      // Bytes 191, 191: a relative (0, 0), a pen-down point where the pen is.
      {"PA10,20;PE\xbf\xbf;", {Pt(kOpPenUp, 10, 20), Pt(kOpPenDown, 10, 20)}},
      // 65 then 191: 2 + 0 x 64 = 2, that is +1.
      {"PA10,20;PEA\xbf"
       "A\xbf;",
       {Pt(kOpPenUp, 10, 20), Pt(kOpPenDown, 11, 21)}},
      {"PA10,20;PE" + Pair(-3, 4000) + ";", {Pt(kOpPenUp, 10, 20), Pt(kOpPenDown, 7, 4020)}},
      // "<": the next pair is a move, the one after is drawn again.
      {"PA0,0;PE<" + Pair(5, 0) + Pair(5, 0) + ";",
       {Pt(kOpPenUp, 0, 0), Pt(kOpPenUp, 5, 0), Pt(kOpPenDown, 10, 0)}},
      // "=": the next pair is absolute, the following ones relative again.
      {"PA10,10;PE=" + Pair(1, 2) + Pair(1, 2) + ";",
       {Pt(kOpPenUp, 10, 10), Pt(kOpPenDown, 1, 2), Pt(kOpPenDown, 2, 4)}},
      {"PA10,10;PE<=" + Pair(-1, -2) + "=" + Pair(3, 3) + ";",
       {Pt(kOpPenUp, 10, 10), Pt(kOpPenUp, -1, -2), Pt(kOpPenDown, 3, 3)}},
      // ">": the coordinates are shifted left by the fraction bits of the one digit that follows.
      {"PA0,0;PE>" + Encode(1) + Pair(8, -5) + ";", {Pt(kOpPenUp, 0, 0), Pt(kOpPenDown, 16, -10)}},
      {"PA0,0;PE>" + Encode(3) + Pair(8, 1) + ">" + Encode(0) + Pair(8, 1) + ";",
       {Pt(kOpPenUp, 0, 0), Pt(kOpPenDown, 64, 8), Pt(kOpPenDown, 72, 9)}},
      // A negative count is taken modulo 32: -1 shifts by 31 bits, as 31 does.
      {"PA0,0;PE>" + Encode(-1) + Pair(1, 0) + ";", {Pt(kOpPenUp, 0, 0), Pt(kOpPenDown, 2147483648.0f, 0)}},
      {"PA0,0;PE>" + Encode(31) + Pair(1, 0) + ";", {Pt(kOpPenUp, 0, 0), Pt(kOpPenDown, 2147483648.0f, 0)}},
      // Only one character is the count, even a digit that is not a last digit ("A", +1).
      {"PA0,0;PE>A" + Pair(3, 0) + ";", {Pt(kOpPenUp, 0, 0), Pt(kOpPenDown, 6, 0)}},
      // 7-bit mode: base 32, the eighth bit dropped.
      {"PA0,0;PE7" + Pair(100, -37, true) + ";", {Pt(kOpPenUp, 0, 0), Pt(kOpPenDown, 100, -37)}},
      {"PA0,0;PE7\xe1\xc0\xe0;", {Pt(kOpPenUp, 0, 0), Pt(kOpPenDown, 1, -16)}},  // 97; 64, 96 (33)
      // The flags with the eighth bit set.
      {"PA10,10;PE\xbc\xbd" + Pair(1, 1) + "\xbe" + Encode(2) + Pair(4, 4) + ";",
       {Pt(kOpPenUp, 10, 10), Pt(kOpPenUp, 1, 1), Pt(kOpPenDown, 17, 17)}},
      {"PA0,0;PE\xb7" + Pair(100, -37, true) + ";", {Pt(kOpPenUp, 0, 0), Pt(kOpPenDown, 100, -37)}},
      // Pen selection as SP does it: pen 2 is red (class 1); the same pen again writes nothing.
      {"PA0,0;PE:" + Encode(2) + Pair(1, 1) + "\xba" + Encode(2) + ";",
       {Pt(kOpPenUp, 0, 0), Colour(1), Pt(kOpPenDown, 1, 1)}},
      // A number cut short by ";" keeps its digits; the missing y is 0.
      {"PA10,10;PE=A;", {Pt(kOpPenUp, 10, 10), Pt(kOpPenDown, 1, 0)}},
      {"PA10,10;PE=?@;", {Pt(kOpPenUp, 10, 10), Pt(kOpPenDown, 32, 0)}},
      // A flag cuts a number short too, and then acts.
      {"PA10,10;PE=A<" + Pair(1, 1) + ";", {Pt(kOpPenUp, 10, 10), Pt(kOpPenDown, 1, 0), Pt(kOpPenUp, 2, 1)}},
      // ";" ends the command even where a flag's value is due (":" without a value is pen 0, as SP).
      {"PA0,0;PE>;PD1,1;", {Pt(kOpPenUp, 0, 0), Pt(kOpPenDown, 1, 1)}},
      {"PA0,0;PE:;PD1,1;", {Pt(kOpPenUp, 0, 0), Colour(8), Pt(kOpPenDown, 1, 1)}},
      // Without pairs nothing is plotted.
      {"PA10,10;PE;PE<=>" + Encode(4) + ";", {Pt(kOpPenUp, 10, 10)}},
  };
  for (const Case& c : cases) EXPECT_EQ(RecordsOf(c.text), c.records) << testing::PrintToString(c.text);
}

TEST_F(EncodedPolyline, PenStateAfterwards) {
  ASSERT_FALSE(Run("PR;PE" + Pair(1, 1) + "<" + Pair(2, 2) + ";").has_value());
  EXPECT_EQ(set_.ctx->penDownFlag, 0);   // the last pair was a move
  EXPECT_EQ(set_.ctx->relativeFlag, 1);  // PE leaves the PA / PR mode alone
  ASSERT_FALSE(Run("PA;PE" + Pair(1, 1) + ";").has_value());
  EXPECT_EQ(set_.ctx->penDownFlag, 1);
  EXPECT_EQ(set_.ctx->relativeFlag, 0);
  // The label line start is the plotter position after the last pair.
  ASSERT_FALSE(Run("PA0,0;PE" + Pair(7, 8) + ";").has_value());
  EXPECT_EQ(set_.ctx->label.lineStart[0], 7.0f);
  EXPECT_EQ(set_.ctx->label.lineStart[1], 8.0f);
}

TEST_F(EncodedPolyline, PenOutOfRangeShowsTheMessageAndSelectsPenZero) {
  CapturedMessages messages;
  EXPECT_EQ(RecordsOf("NP4;SP1;PA0,0;PE:" + Encode(9) + Pair(1, 1) + ";"),
            (std::vector<PlotRecord>{Colour(0), Pt(kOpPenUp, 0, 0), Colour(8), Pt(kOpPenDown, 1, 1)}));
  EXPECT_EQ(messages.texts, std::vector<std::string>{"Syntax error"});
}

TEST_F(EncodedPolyline, BytesOutsideTheCodeArePassedOver) {
  const std::string clean = "PA0,0;PE" + Pair(300, -7) + "<" + Pair(-4100, 12) + "=" + Pair(5, 6) + ";";
  const auto expected = RecordsOf(clean);
  ASSERT_EQ(expected.size(), 4u);
  // Spaces, control characters, printable characters below 63 that are no flags, DEL, and in 8-bit
  // mode the bytes 127 to 190 that are no flags and 255.
  const std::string fillers[] = {" ",    "\r\n",     "\t,",          "0",   "!\"#$%&'()*+-./", "123456", "89",
                                 "\x7f", "\x80\xa0", "\xb0\xb9\xbb", "\xff"};
  for (const std::string& filler : fillers) {
    // The filler wherever a byte may stand: between flags and pairs, between x and y, inside numbers.
    std::string text = "PA0,0;PE";
    const std::string body = Pair(300, -7) + "<" + Pair(-4100, 12) + "=" + Pair(5, 6);
    for (const char c : body) text += filler + c;
    text += filler + ";";
    EXPECT_EQ(RecordsOf(text), expected) << testing::PrintToString(filler);
  }
  // In 7-bit mode the eighth bit is dropped: a digit with it set is the same digit.
  std::string high = "PA0,0;PE7";
  for (const char c : Pair(300, -7, true)) high += static_cast<char>(c | 0x80);
  EXPECT_EQ(RecordsOf(high + ";"), RecordsOf("PA0,0;PE7" + Pair(300, -7, true) + ";"));
}

TEST_F(EncodedPolyline, RandomPolylinesRoundTrip) {
  std::mt19937 random(7);
  for (int trial = 0; trial < 40; ++trial) {
    const bool sevenBit = trial % 2 == 1;
    const int fractionBits = static_cast<int>(random() % 5);
    std::string text = "PA0,0;PE";
    if (sevenBit) text += "7";
    text += ">" + Encode(fractionBits, sevenBit);
    std::vector<PlotRecord> expected{Pt(kOpPenUp, 0, 0)};
    float x = 0;
    float y = 0;
    for (int i = 0; i < 60; ++i) {
      // Coordinates from small steps to the full 31-bit range.
      const int bits = 1 + static_cast<int>(random() % 31);
      const auto coordinate = [&] {
        const int64_t magnitude = static_cast<int64_t>(random() & ((uint64_t{1} << bits) - 1));
        return random() % 2 == 0 ? magnitude : -magnitude;
      };
      const int64_t dx = coordinate();
      const int64_t dy = coordinate();
      const bool penUp = random() % 5 == 0;
      const bool absolute = random() % 7 == 0;
      if (penUp) text += "<";
      if (absolute) text += "=";
      text += Pair(dx, dy, sevenBit);
      const float fx = static_cast<float>(std::ldexp(static_cast<double>(dx), fractionBits));
      const float fy = static_cast<float>(std::ldexp(static_cast<double>(dy), fractionBits));
      x = absolute ? fx : x + fx;
      y = absolute ? fy : y + fy;
      expected.push_back(Pt(penUp ? kOpPenUp : kOpPenDown, x, y));
    }
    text += ";";
    EXPECT_EQ(RecordsOf(text), expected) << "trial " << trial;
  }
}

TEST_F(EncodedPolyline, PairsArePlottedAsPlottedPairsAre) {
  // The same polyline as PE and as PA / PR with PU / PD, with clipping, symbols and a line type.
  std::mt19937 random(11);
  const std::string setups[] = {"", "IW-500,-500,500,500;", "SM*;", "LT2,1;IW0,-300,400,300;",
                                "SC0,1000,0,1000;"};
  for (const std::string& setup : setups) {
    std::string encoded = setup + "PA0,0;PE";
    std::string plain = setup + "PA0,0;";
    for (int i = 0; i < 40; ++i) {
      const int64_t x = static_cast<int64_t>(random() % 801) - 400;
      const int64_t y = static_cast<int64_t>(random() % 801) - 400;
      const bool penUp = random() % 4 == 0;
      const bool absolute = random() % 4 == 0;
      encoded += std::string(penUp ? "<" : "") + (absolute ? "=" : "") + Pair(x, y);
      plain += std::string(absolute ? "PA;" : "PR;") + (penUp ? "PU" : "PD") + std::to_string(x) + "," +
               std::to_string(y) + ";";
    }
    encoded += ";";
    const auto expected = RecordsOf(plain);
    EXPECT_GT(expected.size(), 40u) << setup;
    EXPECT_EQ(RecordsOf(encoded), expected) << setup;
  }
}

TEST_F(EncodedPolyline, BadInput) {
  struct Case {
    std::string text;
    bool pageComplete;
  };
  // Without ";" the data runs to the end of the buffer: a "Syntax error", whether the page is
  // complete or not; the pairs before it are plotted.
  const Case unterminated[] = {
      {"PA0,0;PE" + Pair(1, 1), true},        {"PA0,0;PE" + Pair(1, 1), false},
      {"PA0,0;PE" + Pair(1, 1) + "<", true},  {"PA0,0;PE" + Pair(1, 1) + ">", true},
      {"PA0,0;PE" + Pair(1, 1) + ":", true},  {"PA0,0;PE" + Pair(1, 1) + "7??", true},
      {"PA0,0;PE" + Pair(1, 1) + "=A", true}, {"PA0,0;PE" + Pair(1, 1) + "   \r\n", false},
  };
  for (const Case& c : unterminated) {
    Restart();
    CapturedMessages messages;
    // An incomplete page is read one command per call.
    auto error = Run(c.text, c.pageComplete);
    while (!error.has_value() && set_.spool->readPos < buffer_.data() + buffer_.size()) error = Continue();
    EXPECT_EQ(error, ErrorKind::kSyntax) << testing::PrintToString(c.text);
    EXPECT_EQ(messages.texts, std::vector<std::string>{"Syntax error"});
    EXPECT_EQ(Records(), (std::vector<PlotRecord>{Pt(kOpPenUp, 0, 0), Pt(kOpPenDown, 1, 1)}));
    EXPECT_EQ(set_.spool->readPos, buffer_.data() + buffer_.size());
  }
  // Numbers of any length: digits beyond 64 bits are read and dropped, the result stays finite.
  const std::string endless = "PA0,0;PE" + std::string(5000, '~') + "\xbf" + std::string(3000, '?') + "\xfe;";
  const auto records = RecordsOf(endless);
  ASSERT_EQ(records.size(), 2u);
  EXPECT_TRUE(std::isfinite(records[1].x) && std::isfinite(records[1].y));
  EXPECT_LT(records[1].x, 0.0f);  // all ones: bit 0 set, negative
  EXPECT_EQ(records[1].y, 0.0f);  // only zero digits below the dropped ones
}

}  // namespace
}  // namespace ostrelin::test
