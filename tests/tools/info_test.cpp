// The operator's job summary, and the info and preview commands of the built program.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "support/stream_builder.h"
#include "tools/job_info.h"
#include "tools/tool_error.h"

namespace ostrelin::tools {
namespace {

namespace fs = std::filesystem;

// Job streams written record by record, on a header of 500 dpi, a 100 x 50 mm plate, motion table 0.
using Stream = test::StreamBuilder;
const test::HeaderFields kHeader{.model = 271, .widthHmm = 10000, .heightHmm = 5000};

constexpr double kDotMm = 25.4 / 500;
constexpr double kStepMm = 5550.0 / 160000;

// A colour layer engraved in two passes of two rows, then one pen-down move under another power.
Stream TwoPassesAndAMove() {
  Stream s;
  s.Header(kHeader);
  s.Rec("PW", 40).Rec("VD", 25).Rec("vd", 250).Rec("AI", 1).Rec("FR", 2).Rec("SL", 0);
  s.Rec32("RX", 10).Rec32("RY", 5).Row("C1", {0xFF}).Row("C2", {0x0F}).Rec("R5", 0);
  s.Rec32("RX", 0).Rec32("RY", -2).Row("C1", {0xFF}).Row("C2", {0x0F}).Rec("R5", 0);
  s.Rec("V2", 0).Rec("PU", 0).Motion8(300, 400);
  s.Rec("PW", 60).Rec("PD", 0).Motion8(1000, 0).Motion8(0, 1000);
  return s;
}

std::string Closed(Stream s) {
  return s.Rec("PU", 0).Rec("AI", 0).Rec("OP", 0).Rec32("TE", 3723).Rec("JF", 0).str();
}

JobSummary Summarise(const std::string& bytes, int job = 1) {
  std::istringstream in(bytes);
  return SummariseJob(in, job);
}

TEST(JobSummary, GivesTimePowerSpeedPassesAreaAndLength) {
  const JobSummary s = Summarise(Closed(TwoPassesAndAMove()));
  EXPECT_EQ(s.geometry.model, 271);
  EXPECT_EQ(s.geometry.PlateWidthMm(), 100);
  EXPECT_EQ(s.estimatedSeconds, 3723u);
  ASSERT_EQ(s.groups.size(), 2u);
  const GroupSummary& raster = s.groups[0];
  EXPECT_EQ(raster.settings, (SettingsGroup{40, 250, 1, 2, 0}));
  EXPECT_EQ(raster.passes, 2);
  EXPECT_EQ(raster.rasterRows, 4u);
  EXPECT_EQ(raster.rasterDots, 2u * (8 + 4));
  EXPECT_NEAR(raster.rasterAreaMm2, 24 * kDotMm * kDotMm, 1e-12);
  EXPECT_EQ(raster.vectorLengthMm, 0);
  const GroupSummary& vector = s.groups[1];
  EXPECT_EQ(vector.settings.powerPercent, 60);
  EXPECT_EQ(vector.passes, 1);
  EXPECT_EQ(vector.penDownMoves, 2u);
  EXPECT_NEAR(vector.vectorLengthMm, 2000 * kStepMm, 1e-9);
  EXPECT_NEAR(s.rasterTravelMm, (10 + 5 + 2) * kDotMm, 1e-9);
  EXPECT_NEAR(s.vectorTravelMm, 500 * kStepMm, 1e-9);
  EXPECT_EQ(s.decode.rowRecords, 4u);
  EXPECT_EQ(s.decode.motionRecords, 3u);
  EXPECT_TRUE(s.warnings.empty()) << s.warnings.front();

  std::ostringstream text;
  PrintJobSummary(s, "job.bin", text);
  EXPECT_NE(text.str().find("1h 02m 03s (3723 s"), std::string::npos) << text.str();
  EXPECT_NE(text.str().find("0 black: power 40 %, speed 25.0 mm/s, AI 1, FR 2, SL 0, 2 passes"),
            std::string::npos)
      << text.str();
  EXPECT_NE(text.str().find("1 red: power 60 %"), std::string::npos) << text.str();

  const Json json = JobSummaryToJson(s);
  EXPECT_EQ(json["estimatedTime"]["seconds"], 3723);
  EXPECT_EQ(json["estimatedTime"]["text"], "1h 02m 03s");
  EXPECT_EQ(json["groups"][0]["passes"], 2);
  EXPECT_EQ(json["groups"][1]["colour"], "red");
  EXPECT_DOUBLE_EQ(json["groups"][1]["vectorLengthMm"].get<double>(), vector.vectorLengthMm);
  EXPECT_EQ(json["plate"]["heightMm"], 50.0);
  EXPECT_EQ(json["records"]["motion"], 3);
  EXPECT_TRUE(json["warnings"].empty());
}

TEST(JobSummary, WarnsAboutWhatLooksWrong) {
  const std::string good = Closed(TwoPassesAndAMove());
  const struct {
    const char* name;
    std::string stream;
    const char* warning;
  } cases[] = {
      {"stream cut before the end", TwoPassesAndAMove().str(), "does not end with \"JF\""},
      {"stream cut inside a record", good.substr(0, good.size() - 3), "damaged stream: 1 truncated element"},
      {"bytes after the end", good + "xyz", "does not end with \"JF\""},
      {"no time estimate", TwoPassesAndAMove().Rec("JF", 0).str(), "no \"TE\""},
      {"raster beyond the plate", Closed(TwoPassesAndAMove().Rec32("RX", 5000).Row("C1", {0x80})),
       "1 raster dot lies outside the 100.0 x 50.0 mm plate"},
      {"motion beyond the plate", Closed(TwoPassesAndAMove().Motion8(-32000, 0)),
       "1 motion record ends outside"},
      {"depth not returned", Closed(TwoPassesAndAMove().Rec("RF", -10)),
       "do not return to the start: -10 left"},
      {"a series", good + good, "the stream holds 2 jobs; this is job 1"},
      {"power above 100", Closed(TwoPassesAndAMove().Rec("PW", 130).Motion8(5, 5)), "has a power of 130 %"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const JobSummary s = Summarise(c.stream);
    std::string all;
    for (const std::string& w : s.warnings) all += w + "\n";
    EXPECT_NE(all.find(c.warning), std::string::npos) << all;
  }
}

TEST(JobSummary, RefusesStreamsWithoutTheJob) {
  try {
    Summarise(Stream().Rec("JF", 0).str());
    FAIL() << "no error";
  } catch (const ToolError& error) {
    EXPECT_EQ(error.exitStatus(), kExitFailed);
  }
  try {
    Summarise(Closed(TwoPassesAndAMove()), 2);
    FAIL() << "no error";
  } catch (const ToolError& error) {
    EXPECT_EQ(error.exitStatus(), kExitUsage);
  }
  const std::string series =
      Closed(TwoPassesAndAMove()) + Closed(Stream().Header(kHeader).Rec("PW", 70).Rec("VD", 1));
  EXPECT_EQ(Summarise(series, 2).groups.size(), 0u);
  EXPECT_EQ(Summarise(series, 2).job, 2);
}

// The built program, run in a directory of its own with its own scratch directory.
class Commands : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_STRNE(OSTRELIN_TOOL, "") << "the tool is not built";
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base != nullptr ? base : "/tmp") + "/ostrelin-info-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
    fs::create_directory(dir_ / "scratch");
    std::ofstream(dir_ / "job.bin", std::ios::binary) << Closed(TwoPassesAndAMove());
    std::ofstream(dir_ / "junk.bin", std::ios::binary) << "not a job";
  }
  void TearDown() override { fs::remove_all(dir_); }

  int Run(const std::string& arguments, std::string* out = nullptr, std::string* err = nullptr) {
    const std::string command = "cd '" + dir_.string() + "' && TMPDIR='" + (dir_ / "scratch").string() +
                                "' '" + OSTRELIN_TOOL + "' " + arguments + " >out.txt 2>err.txt";
    const int raw = std::system(command.c_str());
    auto read = [&](const char* name) {
      std::ifstream file(dir_ / name);
      std::stringstream text;
      text << file.rdbuf();
      return text.str();
    };
    if (out != nullptr) *out = read("out.txt");
    if (err != nullptr) *err = read("err.txt");
    EXPECT_TRUE(fs::is_empty(dir_ / "scratch")) << arguments;
    return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  }

  fs::path dir_;
};

TEST_F(Commands, InfoAndPreviewExitStatusesAndOutputs) {
  std::string out, err;
  EXPECT_EQ(Run("info job.bin", &out), kExitOk);
  EXPECT_NE(out.find("time        1h 02m 03s"), std::string::npos) << out;
  EXPECT_EQ(Run("info job.bin --json", &out), kExitOk);
  EXPECT_EQ(Json::parse(out)["groups"].size(), 2u);
  EXPECT_EQ(Run("info junk.bin", nullptr, &err), kExitFailed);
  EXPECT_NE(err.find("no job header"), std::string::npos) << err;
  EXPECT_EQ(Run("info job.bin --job 0"), kExitUsage);

  EXPECT_EQ(Run("preview job.bin -o job.png --scale 2"), kExitOk);
  std::ifstream png(dir_ / "job.png", std::ios::binary);
  char signature[8] = {};
  png.read(signature, 8);
  EXPECT_EQ(std::string(signature, 8), "\x89PNG\r\n\x1a\n");
  EXPECT_EQ(Run("preview job.bin -o job.svg --travel --class 1", &out), kExitOk);
  EXPECT_TRUE(fs::exists(dir_ / "job.svg"));
  EXPECT_EQ(Run("preview job.bin -o job.jpg", nullptr, &err), kExitUsage);
  EXPECT_NE(err.find(".png or .svg"), std::string::npos) << err;
  EXPECT_EQ(Run("preview junk.bin -o junk.png"), kExitFailed);
  EXPECT_FALSE(fs::exists(dir_ / "junk.png"));
  EXPECT_EQ(Run("preview job.bin -o big.png --scale 1000"), kExitUsage);
  EXPECT_FALSE(fs::exists(dir_ / "big.png"));

  for (const char* command : {"info", "preview"}) {
    EXPECT_EQ(Run(std::string(command) + " --help", &out), kExitOk);
    EXPECT_NE(out.find("Examples:"), std::string::npos) << out;
    EXPECT_NE(out.find(std::string("ostrelin ") + command + " job.bin"), std::string::npos) << out;
  }
}

}  // namespace
}  // namespace ostrelin::tools
