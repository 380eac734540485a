// Untrusted spool data: arbitrary bytes, truncated commands, enormous numbers and long runs of
// state changes end normally or through the error frame with a syntax or memory error, and never
// read outside the buffer.
#include <cmath>
#include <random>
#include <string>

#include "hpgl/hpgl_test_support.h"

namespace ostrelin::test {
namespace {

// A page that touches every kind of command the reader knows.
const std::string kSample = std::string(
    "IN;IP0,0,4000,4000;SC0,100,0,100;SP1;PC2,255,128,0;NP16;LT2,5;PA10,10;PD20,20,30,10;PR5,5;PU;"
    "IW0,0,50,50;PD60,60;IW;RO90;PS1000,800;TL1,1;XT;YT;VS20;ZM1,2,3;ZS1,1,2,2,3,3;MC1,17;TR0;"
    "!DR5;!PZ1,2;!LBtext;!JH2,xy!MC3;!VZ1;!NR;!OP;DT*;LBlabel*BLb*MGm*SM+;SM;"
    "PE=?@AB;\x1b*b0M\x1b*b3W\x01\x02\x03\x1b%1B\x1b*p+10X"
    "AA1,2,3;CI5;FP;EP;PM0;PM2;LT-4;PD0,0,100,0;PG;");

bool Acceptable(ErrorKind kind) {
  return kind == ErrorKind::kSyntax || kind == ErrorKind::kSyntax2 || kind == ErrorKind::kSyntax3 ||
         kind == ErrorKind::kSyntax4;
}

class BadInput : public HpglTest {
 protected:
  // Runs a page and checks that it ends within the buffer, or with an acceptable fatal error.
  void RunAndCheck(const std::string& text, bool pageComplete) {
    testing::internal::CaptureStderr();  // RO messages
    const auto error = Run(text, pageComplete);
    testing::internal::GetCapturedStderr();
    if (error.has_value()) {
      EXPECT_TRUE(Acceptable(*error)) << static_cast<int>(*error) << " " << testing::PrintToString(text);
    }
    EXPECT_GE(set_.spool->readPos, buffer_.data());
    EXPECT_LE(set_.spool->readPos, buffer_.data() + buffer_.size());
  }
};

TEST_F(BadInput, TheSampleRunsWithoutError) {
  testing::internal::CaptureStderr();
  ASSERT_FALSE(Run(kSample).has_value());
  testing::internal::GetCapturedStderr();
  EXPECT_EQ(set_.ctx->pageEndFlag, 1);
  EXPECT_GT(Records().size(), 20u);
}

TEST_F(BadInput, EveryTruncationOfAPageEndsCleanly) {
  CapturedMessages messages;
  for (size_t length = 0; length <= kSample.size(); ++length) {
    Restart();
    RunAndCheck(kSample.substr(0, length), true);
    RunAndCheck(kSample.substr(length), false);
  }
}

TEST_F(BadInput, ArbitraryBytesEndCleanly) {
  CapturedMessages messages;
  // Bytes weighted toward what the reader reacts to, so that commands and numbers really occur.
  const std::string alphabet = "PADURSCIWLTGEBMZVXY!;,.-+0123456789\x1b*%bvwmpr\x03 \n";
  for (uint32_t seed = 1; seed <= 60; ++seed) {
    std::mt19937 random(seed);
    std::string text(4096, '\0');
    for (char& c : text) {
      const uint32_t r = random();
      c = (r & 7) == 0 ? static_cast<char>(r >> 8) : alphabet[(r >> 8) % alphabet.size()];
    }
    Restart();
    RunAndCheck(text, seed % 2 == 0);
  }
}

TEST_F(BadInput, LongRunsOfStateChangesStayFinite) {
  std::string text;
  for (int i = 1; i <= 10000; ++i) {
    text += "SC0," + std::to_string(i) + ",0," + std::to_string(i % 7 + 1) + ";";
  }
  for (int i = 0; i < 2000; ++i) text += "IP" + std::to_string(i) + "," + std::to_string(i) + ";RO0.1;";
  text += "PA1,1;PD2,2;PG;";
  testing::internal::CaptureStderr();
  ASSERT_FALSE(Run(text).has_value());
  testing::internal::GetCapturedStderr();
  const auto records = Records();
  ASSERT_EQ(records.size(), 2u);
  for (const auto& r : records) EXPECT_TRUE(std::isfinite(r.x) && std::isfinite(r.y));
}

TEST_F(BadInput, EnormousAndDegenerateNumbersDoNotHang) {
  const std::string huge(70, '9');
  const std::string cases[] = {
      "LT2;PA0,0;PD" + huge + ",0;PD0,0;",  // an infinite line length
      "LT-2;PA0,0;PD" + huge + ",1;",
      "SC0,0,0,0;LT2;PA1,1;PD2,2;",     // zero-sized user rectangle: infinite factors
      "IP5,5,5,5;LT-3;PA0,0;PD100,0;",  // P1 = P2: pattern length 0
      "SP" + huge + ";SP-" + huge + ";NP-" + huge + ";SP1;PC" + huge + ",1,2,3;",
      "RO" + huge + ";PS" + huge + ";PA1,1;PD2,2;",
      "LT" + huge + "," + huge + ";PA0,0;PD100,0;",
      "!JH" + huge + ";",
      "\x1b*b" + huge + "W",
      "IW" + huge + ",-" + huge + ",0,0;PA5,5;PD6,6;",
  };
  CapturedMessages messages;
  for (const std::string& text : cases) {
    Restart();
    RunAndCheck(text, true);
  }
}

}  // namespace
}  // namespace ostrelin::test
