// The built `ostrelin` program: exit statuses, messages, and no output or scratch file left behind by a
// command that failed.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "tools/settings_json.h"

namespace ostrelin::tools {
namespace {

namespace fs = std::filesystem;

struct Outcome {
  int status = -1;
  std::string out;
  std::string err;
};

std::string ReadText(const fs::path& path) {
  std::ifstream file(path, std::ios::binary);
  std::stringstream text;
  text << file.rdbuf();
  return text.str();
}

void WriteText(const fs::path& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

// Each test works in its own directory; the program gets its own empty scratch directory, which must
// still be empty after every run.
class Cli : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_STRNE(OSTRELIN_TOOL, "") << "the tool is not built";
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base != nullptr ? base : "/tmp") + "/ostrelin-cli-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
    fs::create_directory(dir_ / "scratch");
    WriteText(dir_ / "empty.txt", "# no strokes\n");
    WriteText(dir_ / "bad.txt", "pu 1 2\npd 1\n");
    WriteText(dir_ / "short.bin", std::string(1827, '\0'));
    WriteText(dir_ / "junk.bin", "\x01\x02\x03\xFF\xFD\x4A\x46\x00\x00");
    Json noDpi = SettingsToJson(DefaultSettingsRecord().data());
    noDpi["engravingResolutionXDpi"] = 0;
    WriteText(dir_ / "nodpi.json", noDpi.dump(2));
    WriteText(dir_ / "unknown.json", R"({"plateWidth": 600})");
    WriteText(dir_ / "page.hpgl", "IN;SP1;PU100,100;PD400,400;PU;PG;");
  }
  void TearDown() override { fs::remove_all(dir_); }

  Outcome Run(const std::string& arguments) {
    const std::string command = "cd '" + dir_.string() + "' && TMPDIR='" + (dir_ / "scratch").string() +
                                "' '" + OSTRELIN_TOOL + "' " + arguments + " >out.txt 2>err.txt";
    const int raw = std::system(command.c_str());
    Outcome outcome;
    outcome.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    outcome.out = ReadText(dir_ / "out.txt");
    outcome.err = ReadText(dir_ / "err.txt");
    EXPECT_TRUE(fs::is_empty(dir_ / "scratch")) << "scratch files left by: " << arguments;
    for (const auto& entry : fs::directory_iterator(dir_)) {
      EXPECT_EQ(entry.path().filename().string().find(".partial-"), std::string::npos)
          << entry.path() << " left by: " << arguments;
    }
    return outcome;
  }

  fs::path dir_;
};

TEST_F(Cli, ExitStatusesAndMessages) {
  const struct {
    const char* arguments;
    int status;
    const char* stderrHas;
  } kCases[] = {
      {"--version", 0, ""},
      {"--help", 0, ""},
      {"", 2, "subcommand"},
      {"frobnicate", 2, ""},
      {"dump", 2, "JOB"},
      {"dump junk.bin --motion-record-bytes 9", 2, ""},
      {"render empty.txt", 2, "--output"},
      {"settings", 2, "subcommand"},
      {"render missing.txt -o job.bin", 1, "missing.txt: cannot open"},
      {"render bad.txt -o job.bin", 2, "bad.txt:2: expected \"pd X Y\""},
      {"render empty.txt --settings short.bin -o job.bin", 2, "1827 bytes"},
      {"render empty.txt --settings unknown.json -o job.bin", 2, "unknown field \"plateWidth\""},
      {"render empty.txt --settings nodpi.json -o job.bin", 1, "DPI error"},
      {"render - --settings - -o job.bin", 2, "standard input"},
      {"dump junk.bin", 1, "1 range of unknown bytes"},
      {"settings show missing.json", 1, "cannot open"},
      {"settings encode short.bin -o record.bin", 2, "not JSON"},
      {"settings encode unknown.json -o record.bin", 2, "plateWidth"},
      {"settings decode nodpi.json", 2, "holds JSON"},
      {"settings decode short.bin", 2, "1827 bytes"},
      {"print page.hpgl --printer Engraver -o /dev/full", 1, "did not take every byte"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.arguments);
    const Outcome outcome = Run(c.arguments);
    EXPECT_EQ(outcome.status, c.status) << outcome.err;
    EXPECT_NE(outcome.err.find(c.stderrHas), std::string::npos) << outcome.err;
    EXPECT_FALSE(fs::exists(dir_ / "job.bin")) << "a failed render left its job";
    EXPECT_FALSE(fs::exists(dir_ / "record.bin")) << "a failed encode left its record";
  }
  EXPECT_EQ(Run("--version").out.rfind("ostrelin ", 0), 0u);
}

// A raw record whose output file name has no terminating zero decodes to its raw form and encodes back
// to the same bytes.
TEST_F(Cli, ARecordWithAnUnterminatedNameRoundTrips) {
  std::string record = ReadText(dir_ / "short.bin") + '\0';
  for (size_t i = 0; i < 260; ++i) record[1308 + 2 * i] = 'k';
  WriteText(dir_ / "unterminated.bin", record);
  const Outcome decoded = Run("settings decode unterminated.bin -o unterminated.json");
  ASSERT_EQ(decoded.status, 0) << decoded.err;
  const Json json = Json::parse(ReadText(dir_ / "unterminated.json"));
  EXPECT_EQ(json["outputFileNameHex"].get<std::string>().substr(0, 8), "6b006b00");
  ASSERT_EQ(Run("settings encode unterminated.json -o record.bin").status, 0);
  EXPECT_EQ(ReadText(dir_ / "record.bin"), record);
}

TEST_F(Cli, SettingsRoundTripAndRenderThenDump) {
  ASSERT_EQ(Run("settings defaults -o defaults.json").status, 0);
  ASSERT_EQ(Run("settings encode defaults.json -o record.bin").status, 0);
  EXPECT_EQ(fs::file_size(dir_ / "record.bin"), 1828u);
  const Outcome decoded = Run("settings decode record.bin");
  ASSERT_EQ(decoded.status, 0) << decoded.err;
  EXPECT_EQ(decoded.out, ReadText(dir_ / "defaults.json"));
  EXPECT_EQ(Run("settings show - < record.bin").out, decoded.out);

  const Outcome rendered = Run("render empty.txt --settings record.bin -o job.bin");
  ASSERT_EQ(rendered.status, 0) << rendered.err;
  EXPECT_NE(rendered.err.find("wrote 236 bytes to job.bin"), std::string::npos) << rendered.err;
  EXPECT_EQ(Run("render empty.txt -o -").out, ReadText(dir_ / "job.bin"));

  const Outcome dumped = Run("dump job.bin --json");
  ASSERT_EQ(dumped.status, 0) << dumped.err;
  const Json json = Json::parse(dumped.out);
  EXPECT_EQ(json["summary"]["bytes"], 236);
  EXPECT_EQ(json["summary"]["endsWithJf"], true);
  EXPECT_EQ(json["elements"][1]["fields"]["plateWidthHmm"], 60000);
  const Outcome text = Run("dump - < job.bin");
  EXPECT_EQ(text.status, 0);
  EXPECT_NE(text.out.find("ends with JF: yes"), std::string::npos) << text.out;
}

}  // namespace
}  // namespace ostrelin::tools
