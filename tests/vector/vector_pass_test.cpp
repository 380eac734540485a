// The vector pass through the exports: command records around the motion blocks, colours, passes
// and depth steps, the estimating run, and bad input.
#include "engine/vector/vector_pass.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "engine/hpgl/plot_file.h"
#include "engine/scratch.h"
#include "engine/settings_layout.h"
#include "engine/settings_tables.h"
#include "ostrelin/ostrelin.h"
#include "support/test_support.h"

namespace ostrelin::vector {
namespace {

namespace s = settings;
using ostrelin::test::RecordSet;

// A job's stream after the header: command records as "XX value" (value signed), and runs of motion
// records as "#n".
std::vector<std::string> Tokens(const std::vector<uint8_t>& bytes, size_t motionBytes) {
  std::vector<std::string> tokens;
  size_t i = 8 + 192;
  size_t run = 0;
  auto endRun = [&] {
    if (run != 0) tokens.push_back("#" + std::to_string(run));
    run = 0;
  };
  while (i < bytes.size()) {
    if (bytes[i] == 0xFF && i + 1 < bytes.size() && bytes[i + 1] == 0xFD) {
      endRun();
      const auto value = static_cast<int16_t>(bytes[i + 4] << 8 | bytes[i + 5]);
      tokens.push_back(std::string{static_cast<char>(bytes[i + 2]), static_cast<char>(bytes[i + 3])} + " " +
                       std::to_string(value));
      i += 6;
    } else {
      ++run;
      i += motionBytes;
    }
  }
  endRun();
  return tokens;
}

// Command records only.
std::vector<std::string> Commands(const std::vector<std::string>& tokens) {
  std::vector<std::string> out;
  for (const auto& t : tokens) {
    if (t[0] != '#') out.push_back(t);
  }
  return out;
}

class VectorPass : public ostrelin::test::ScratchDirTest {
 protected:
  void SetUp() override {
    ScratchDirTest::SetUp();
    Reset();
  }
  // Fresh records and settings: every class engraved as vectors (colour mode 2).
  void Reset() {
    records = std::make_unique<RecordSet>();
    settings = ostrelin::test::DefaultSettings();
    for (int c = 0; c < 8; ++c) ostrelin::test::SetU16(settings, s::ClassBlock(c) + s::kClassColourMode, 2);
  }
  void ClassWord(int c, size_t field, uint16_t value) {
    ostrelin::test::SetU16(settings, s::ClassBlock(c) + field, value);
  }
  void Profiled() { ostrelin::test::SetU16(settings, s::kMotionWord, 0x0100); }
  void Begin() { ostrelinInit(set().ctx, set().spool, set().job, settings.data()); }
  void Pu(float x, float y) { ostrelinGnfToTdPu2dA(set().ctx, set().spool, set().job, x, y); }
  void Pd(float x, float y) { ostrelinGnfToTdPd2dA(set().ctx, set().spool, set().job, x, y); }
  void Colour(int32_t index) { ostrelinGnfToTdSetIndexColor(set().ctx, set().spool, set().job, index); }
  // Ends the page and returns the stream's tokens.
  std::vector<std::string> Finish() {
    ostrelinGnfToTdEof(set().ctx, set().spool, set().job);
    ostrelinDoBinary(set().ctx, set().spool, set().job);
    bytes = ostrelin::test::ReadBack(set());
    const size_t motion = set().ctx->controllerFlag != 0 ? 12 : 8;
    time = set().job->estimatedTime;
    EXPECT_EQ(ostrelinClean(set().ctx, set().spool, set().job), 0);
    return Tokens(bytes, motion);
  }
  // Ends the page and runs the vector pass alone, as job assembly sets it up but with no job header
  // and no estimating run first; returns what it wrote.
  std::vector<uint8_t> PassAlone() {
    ostrelinGnfToTdEof(set().ctx, set().spool, set().job);
    Context& ctx = *set().ctx;
    platform::Stream* plot = AsStream(ctx.plotFile);
    ctx.endLength = plot->Tell();
    EXPECT_TRUE(plot->Seek(0, platform::kSeekSet));
    ctx.plateExtentWidth = DotsFromHmm(ctx.plateWidthHmm, static_cast<float>(ctx.vectorResolution));
    ctx.plateExtentHeight = DotsFromHmm(ctx.plateHeightHmm, static_cast<float>(ctx.vectorResolution));
    RunVectorPass(ctx, *set().spool, *set().job);
    std::vector<uint8_t> written = ostrelin::test::ReadBack(set());
    EXPECT_EQ(ostrelinClean(set().ctx, set().spool, set().job), 0);
    return written;
  }
  // The vector bytes of a finished job: after the header, before "PU", "AI", "OP", "TE", "TE", "JF".
  std::vector<uint8_t> VectorPart() const {
    return std::vector<uint8_t>(bytes.begin() + 200, bytes.end() - 36);
  }
  void FileOrder() {
    const auto flags = static_cast<uint16_t>(settings[s::kFlagWord] | settings[s::kFlagWord + 1] << 8);
    ostrelin::test::SetU16(settings, s::kFlagWord, static_cast<uint16_t>(flags | s::kFlagFileOrder));
  }
  static std::vector<std::string> Closing() { return {"PU 0", "AI 0", "OP 0"}; }
  std::unique_ptr<RecordSet> records;
  RecordSet& set() { return *records; }
  std::vector<uint8_t> settings;
  std::vector<uint8_t> bytes;
  double time = 0;
};

std::vector<std::string> Join(std::initializer_list<std::vector<std::string>> parts) {
  std::vector<std::string> out;
  for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

// The settings records of a class at speed 100 mm/s, power 50 %, with the default vector word (the
// engraving resolution 500).
const std::vector<std::string> kSettings = {"DP 0",    "DP 500", "PW 50", "VD 100",
                                            "vd 1000", "AI 0",   "FR 0",  "SL 1"};

TEST_F(VectorPass, DepthStepsByDepthMode) {
  struct Case {
    uint16_t depthMode;
    std::vector<std::string> expected;
  };
  const std::vector<std::string> pass = {"PU 0", "RF 5", "PD 0"};
  const Case cases[] = {
      {0, Join({{"V2 0", "PU 0"}, kSettings, {"RF 5", "PD 0"}, pass, pass, {"PU 0", "RF -15"}, Closing()})},
      {1, Join({{"V2 0", "PU 0"}, kSettings, {"PD 0"}, pass, pass, {"PU 0", "RF -10"}, Closing()})},
  };
  for (const Case& c : cases) {
    Reset();
    ClassWord(0, s::kClassPasses, 3);
    ostrelin::test::SetU32(settings, s::ClassBlock(0) + s::kClassDepthStep, static_cast<uint32_t>(-50));
    ClassWord(0, s::kClassDepthMode, c.depthMode);
    Begin();
    Pu(100, 100);
    Pd(1000, 100);
    Pd(1000, 800);
    auto commands = Commands(Finish());
    commands.resize(commands.size() - 3);  // "TE", "TE", "JF"
    EXPECT_EQ(commands, c.expected) << c.depthMode;
  }
}

TEST_F(VectorPass, BlocksBetweenCommandRecords) {
  Begin();
  Pu(100, 100);
  Pd(1000, 100);
  Pu(1000, 100);  // back to the last pen-down point: the strokes are joined
  Pd(1000, 900);
  Pu(2000, 2000);
  Pd(2500, 2000);
  const auto tokens = Finish();
  const std::vector<std::string> expected =
      Join({{"V2 0", "PU 0", "#1"}, kSettings, {"PD 0", "#2", "PU 0", "#1", "PD 0", "#1"}, Closing()});
  EXPECT_EQ(std::vector<std::string>(tokens.begin(), tokens.end() - 3), expected);
  EXPECT_GT(time, 0.0);
}

TEST_F(VectorPass, SpeedWordBeyondSixteenBitsIsSentAsItsBits) {
  ClassWord(0, s::kClassSpeed, 3500);  // 35000 once converted
  Begin();
  Pu(10, 10);
  Pd(500, 10);
  const auto commands = Commands(Finish());
  EXPECT_NE(std::find(commands.begin(), commands.end(), "VD -3053"), commands.end());
  EXPECT_NE(std::find(commands.begin(), commands.end(), "vd " + std::to_string(static_cast<int16_t>(35000))),
            commands.end());
  EXPECT_NE(ostrelin::test::Find(bytes, ostrelin::test::Record("vd", 35000)), std::string::npos);
}

TEST_F(VectorPass, NothingToEngraveWritesOnlyV2) {
  struct Case {
    const char* what;
    int32_t colourIndex;
    uint16_t mode;
  };
  const Case cases[] = {
      {"white", 8, 2},
      {"colour mode 0", 3, 0},
      {"colour mode 1", 3, 1},
      {"index 9", 9, 2},
      {"index 300 (low byte 44)", 300, 2},
      {"index 255", 255, 2},
  };
  for (const Case& c : cases) {
    Reset();
    ClassWord(3, s::kClassColourMode, c.mode);
    ClassWord(0, s::kClassColourMode, 0);
    Begin();
    Colour(c.colourIndex);
    Pu(10, 10);
    Pd(500, 10);
    Pd(500, 500);
    const auto commands = Commands(Finish());
    EXPECT_EQ(std::vector<std::string>(commands.begin(), commands.end() - 3), Join({{"V2 0"}, Closing()}))
        << c.what;
  }
}

TEST_F(VectorPass, ColourOrderSettingsAndV2) {
  ClassWord(2, s::kClassSpeed, 50);
  ClassWord(2, s::kClassColourMode, 6);
  ClassWord(5, s::kClassPasses, 0);  // a pass count of 0 writes the colour once
  Begin();
  Colour(5);
  Pu(10, 10);
  Pd(500, 10);
  Colour(2);
  Pd(500, 500);  // first pen-down of class 2 starts where the pen was
  Colour(1);
  Pu(100, 100);
  Pd(200, 100);
  const auto commands = Commands(Finish());
  const std::vector<std::string> expected =
      Join({{"V2 0", "PU 0"},
            kSettings,
            {"PD 0"},                                               // class 1
            {"PU 0", "V2 1", "PU 0", "VD 50", "vd 500", "PD 0"},    // class 2
            {"PU 0", "V2 0", "PU 0", "VD 100", "vd 1000", "PD 0"},  // class 5
            Closing()});
  EXPECT_EQ(std::vector<std::string>(commands.begin(), commands.end() - 3), expected);
}

TEST_F(VectorPass, FileOrderKeepsThePageOrder) {
  FileOrder();
  ClassWord(1, s::kClassSpeed, 50);
  Begin();
  Colour(1);
  Pu(10, 10);
  Pd(500, 10);
  Colour(0);
  Pu(100, 100);
  Pd(200, 100);
  Colour(1);
  Pu(300, 300);
  Pd(400, 300);
  const auto commands = Commands(Finish());
  const std::vector<std::string> expected =
      Join({{"V2 0", "PU 0", "DP 0", "DP 500", "PW 50", "VD 50", "vd 500", "AI 0", "FR 0", "SL 1", "PD 0"},
            {"PU 0", "VD 100", "vd 1000", "PD 0"},
            {"PU 0", "VD 50", "vd 500", "PD 0"},
            Closing()});
  EXPECT_EQ(std::vector<std::string>(commands.begin(), commands.end() - 3), expected);
}

// A colour selected twice in file order is a section of its own each time, and every section is
// engraved with its colour's passes: class 1 (two passes), class 0, class 1 again.
TEST_F(VectorPass, FileOrderWritesAColourSelectedTwiceTwice) {
  FileOrder();
  ClassWord(1, s::kClassSpeed, 50);
  ClassWord(1, s::kClassPasses, 2);
  Begin();
  Colour(1);
  Pu(10, 10);
  Pd(500, 10);
  Colour(0);
  Pu(100, 100);
  Pd(200, 100);
  Colour(1);
  Pu(300, 300);
  Pd(400, 300);
  const auto tokens = Finish();
  const std::vector<std::string> again = {"PU 0", "PD 0"};  // the next pass: travel back, pen down
  const std::vector<std::string> expected =
      Join({{"V2 0", "PU 0", "DP 0", "DP 500", "PW 50", "VD 50", "vd 500", "AI 0", "FR 0", "SL 1", "PD 0"},
            again,
            {"PU 0", "VD 100", "vd 1000", "PD 0"},
            {"PU 0", "VD 50", "vd 500", "PD 0"},
            again,
            Closing()});
  const auto commands = Commands(tokens);
  EXPECT_EQ(std::vector<std::string>(commands.begin(), commands.end() - 3), expected);
  // Every pen-down is followed by the stroke's motion records, every "PU" by the travel's.
  for (size_t i = 0; i + 1 < tokens.size(); ++i) {
    if (tokens[i] == "PD 0") {
      EXPECT_EQ(tokens[i + 1][0], '#') << i;
    }
  }
}

// A classic job whose vector parameters ask for the pre-pass: the estimating run plans the smoothed
// strokes without rewriting the plot command file, so the real run smooths them once, exactly as when
// no estimate is made.
TEST_F(VectorPass, ClassicPrePassDoesNotDependOnTheEstimatingRun) {
  auto begin = [this](bool prePass) {
    Reset();
    Begin();
    OstrelinVectorParams& params = set().job->cornerTable.params;
    params.variantFlag = prePass ? 1 : 0;
    params.prePassCount = 3;
    params.prePassWidthMm = 0.2f;
    Pu(100, 100);
    for (int i = 1; i <= 40; ++i) Pd(100.0f + 20.0f * static_cast<float>(i), i % 2 == 0 ? 100.0f : 104.0f);
  };
  begin(true);
  Finish();
  const std::vector<uint8_t> withEstimate = VectorPart();
  begin(true);
  EXPECT_EQ(withEstimate, PassAlone());

  // And the smoothing did change the strokes.
  begin(false);
  Finish();
  EXPECT_NE(VectorPart(), withEstimate);
}

// Without the pre-pass the real run of a classic job takes over the colour sort of its estimating run;
// it still writes exactly what the vector pass writes on its own: colours in class order with passes
// and depth steps, or in file order with a colour selected twice.
TEST_F(VectorPass, ClassicRunAfterTheEstimatingRunWritesWhatThePassWritesAlone) {
  for (bool fileOrder : {false, true}) {
    auto begin = [&] {
      Reset();
      if (fileOrder) FileOrder();
      ClassWord(1, s::kClassSpeed, 50);
      ClassWord(1, s::kClassPasses, 2);
      ostrelin::test::SetU32(settings, s::ClassBlock(1) + s::kClassDepthStep, static_cast<uint32_t>(-50));
      Begin();
      Colour(1);
      Pu(10, 10);
      Pd(500, 10);
      Pd(500, 300);
      Colour(0);
      Pu(100, 100);
      Pd(200, 100);
      Colour(1);
      Pu(300, 300);
      Pd(400, 300);
      Pd(20, 900);
    };
    begin();
    Finish();
    const std::vector<uint8_t> withEstimate = VectorPart();
    begin();
    EXPECT_EQ(withEstimate, PassAlone()) << (fileOrder ? "file order" : "colour order");
  }
}

TEST_F(VectorPass, OtherOpcodesChangeNothing) {
  std::vector<uint8_t> plain;
  for (bool extra : {false, true}) {
    Reset();
    Profiled();
    Begin();
    Pu(10, 10);
    if (extra) {
      hpgl::WriteOpcode(*set().ctx, hpgl::kOpVelocity);
      hpgl::WriteValue(*set().ctx, 20.0f);
      hpgl::WriteOpcode(*set().ctx, hpgl::kOpText);
      hpgl::WriteText(*set().ctx, "label");
      hpgl::WriteOpcode(*set().ctx, hpgl::kOpPoint3d);
      hpgl::WritePoint3d(*set().ctx, 1, 2, 3);
      hpgl::WriteOpcode(*set().ctx, hpgl::kOpNop);
      hpgl::WriteOpcode(*set().ctx, hpgl::kOpOutput);
    }
    Pd(500, 10);
    Pd(500, 600);
    Finish();
    if (!extra) {
      plain = bytes;
    } else {
      EXPECT_EQ(bytes, plain);
    }
  }
}

TEST_F(VectorPass, BadCoordinatesAreDroppedOrHeld) {
  Profiled();
  Begin();
  Pu(10, 10);
  Pd(std::numeric_limits<float>::quiet_NaN(), 10);
  Pd(std::numeric_limits<float>::infinity(), 10);
  Pd(500, 10);
  Pd(500, 10);       // zero-length stroke
  Pd(3e38f, 3e38f);  // far outside the plate: held at 10 m
  Pd(-5e6f, 10);     // negative: held at 0
  const auto tokens = Finish();
  ASSERT_GE(tokens.size(), 6u);
  EXPECT_EQ(tokens[tokens.size() - 6], "PU 0");  // the job was completed
  const size_t motionRecords = (bytes.size() - 200 - 6 * Commands(tokens).size()) / 12;
  // 500 - 10 dots, then 10 m diagonally (44 pieces), then back to x 0 (about 31 pieces).
  EXPECT_GT(motionRecords, 44u + 1u);
  EXPECT_LT(motionRecords, 200u);
  EXPECT_TRUE(std::isfinite(time));
}

TEST_F(VectorPass, MillionPointStrokeFlushesInBoundedBlocks) {
  Profiled();
  Begin();
  Pu(0, 0);
  for (int i = 1; i <= 1000000; ++i) Pd(static_cast<float>(100 + (i % 2) * 50), static_cast<float>(i % 5000));
  const auto tokens = Finish();
  // One pen-down run: every point is planned (the 5000-record buffer flushes as it fills) and the
  // job is complete.
  EXPECT_EQ(Commands(tokens).back(), "JF 0");
  size_t records = 0;
  for (const auto& t : tokens) {
    if (t[0] == '#') records += std::stoul(t.substr(1));
  }
  EXPECT_GE(records, 1000000u);
  EXPECT_GT(time, 0.0);
}

TEST_F(VectorPass, EstimateOfAClassicJobWithPenDownWork) {
  // 20 lines of 500 mm at 500 dpi (9842.5 dots), back and forth along one line.
  auto draw = [this] {
    Pu(100, 100);
    for (int i = 0; i < 20; ++i) Pd(i % 2 == 0 ? 9942.5f : 100.0f, 100.0f);
  };
  Begin();
  draw();
  const auto classic = Finish();
  const double classicTime = time;
  // The same with a profiling controller using the standard profile parameters.
  Reset();
  Profiled();
  Begin();
  draw();
  Finish();
  const double profiledTime = time;
  // 10 m of pen-down work at up to 200 mm/s takes at least 50 s; both estimates plan the pen-down
  // work with the same parameters (the classic one without the mend would divide by a maximum speed
  // of 0), so they agree but for the one short pen-up travel.
  EXPECT_GT(classicTime, 50.0);
  EXPECT_NEAR(classicTime, profiledTime, 0.2);
  EXPECT_NE(std::find(classic.begin(), classic.end(), "TE " + std::to_string(static_cast<int>(classicTime))),
            classic.end());
}

TEST_F(VectorPass, EstimateOfAClassicPenUpTravel) {
  // One 100 mm travel (1968.5 dots at 500 dpi) and a tiny stroke: the travel runs from 0 to at most
  // 200 mm/s at 2400 mm/s^2, about 0.6 s, not the 88 s that junction speeds of 0 would give.
  Begin();
  Pu(0, 0);
  Pu(1968.5f, 0);
  Pd(1968.5f, 1);
  Finish();
  EXPECT_GT(time, 0.4);
  EXPECT_LT(time, 1.0);
}

TEST(EstimatingParams, PenDownValuesOfTheSameModel) {
  RecordSet set;
  set.job->cornerTable = AngleLsStd;
  OstrelinVectorParams p = EstimatingParams(*set.ctx, *set.job);
  EXPECT_EQ(p.penDownMaxSpeed, ParamVitVectStd.penDownMaxSpeed);
  EXPECT_EQ(p.penDownAccel, ParamVitVectStd.penDownAccel);
  EXPECT_EQ(p.penDownMinSpeed, ParamVitVectStd.penDownMinSpeed);
  // Pen-up values stay those of the corner table's tail, but for its minimum speed of 0.
  EXPECT_EQ(p.penUpMinSpeed, ParamVitVectStd.penUpMinSpeed);
  EXPECT_EQ(p.penUpMaxSpeed, AngleLsStd.params.penUpMaxSpeed);
  EXPECT_EQ(p.penUpAccelLong, AngleLsStd.params.penUpAccelLong);
  // A fast model with the fast flag gets the fast set.
  set.ctx->jobHeader.words[(28 - 16) / 4] = 272;
  set.ctx->jobHeader.words[(104 - 16) / 4] = 1;
  p = EstimatingParams(*set.ctx, *set.job);
  EXPECT_EQ(p.penDownMaxSpeed, ParamVitVectFast.penDownMaxSpeed);
  EXPECT_EQ(p.penDownAccel, ParamVitVectFast.penDownAccel);
  // Usable values (from the printer data, say) are kept.
  set.job->cornerTable.params = ParamVitVectXpFast;
  p = EstimatingParams(*set.ctx, *set.job);
  EXPECT_EQ(p.penDownAccel, ParamVitVectXpFast.penDownAccel);
}

}  // namespace
}  // namespace ostrelin::vector
