// The rendering road driven by the tool: an empty page, and engine errors that leave no job behind.
#include "tools/render.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <sstream>

#include "support/test_support.h"
#include "tools/job_decoder.h"
#include "tools/settings_json.h"
#include "tools/tool_error.h"

namespace ostrelin::tools {
namespace {

class Render : public test::ScratchDirTest {};

struct Collector : ElementSink {
  void OnElement(const Element& element) override { elements.push_back(element); }
  std::vector<Element> elements;
};

TEST_F(Render, EmptyPageIsTheHeaderAndTheClosingRecords) {
  const std::vector<uint8_t> settings = DefaultSettingsRecord();
  std::ostringstream out;
  const uint64_t written = RenderJob(settings, {}, out, RenderOptions{});
  EXPECT_EQ(written, 8u + 192u + 36u);
  ASSERT_EQ(out.str().size(), written);
  EXPECT_EQ(out.str().substr(0, 8), "!LA 192;");
  EXPECT_EQ(settings, DefaultSettingsRecord()) << "the engine converts the speeds of its own copy only";

  std::istringstream in(out.str());
  Collector collector;
  const DecodeSummary summary = DecodeJobStream(in, collector);
  EXPECT_TRUE(summary.Clean()) << summary.Problems();
  EXPECT_TRUE(summary.endsWithJf);
  EXPECT_EQ(summary.jobHeaders, 1u);
}

// The sample drawing on both controllers: the job decodes into vector blocks of the controller's record
// size with nothing left over, and ends with the closing records.
TEST_F(Render, SampleDrawingDecodesIntoVectorBlocks) {
  std::ifstream file(std::string(OSTRELIN_SOURCE_DIR) + "/examples/sample-strokes.txt");
  ASSERT_TRUE(file);
  const std::vector<StrokeCommand> commands = ParseStrokeScript(file, "sample-strokes.txt");
  for (const auto& [controllerKind, recordBytes] : {std::pair{0, 8}, std::pair{1, 12}}) {
    SCOPED_TRACE("controller kind " + std::to_string(controllerKind));
    std::vector<uint8_t> settings = DefaultSettingsRecord();
    settings[269] = static_cast<uint8_t>(controllerKind);  // high byte of the motion word
    std::ostringstream out;
    RenderJob(settings, commands, out, RenderOptions{});
    std::istringstream in(out.str());
    Collector collector;
    const DecodeSummary summary = DecodeJobStream(in, collector);
    EXPECT_TRUE(summary.Clean()) << summary.Problems();
    EXPECT_TRUE(summary.endsWithJf);
    EXPECT_EQ(summary.motionRecordBytes, recordBytes);
    EXPECT_GT(summary.vectorBlocks, 0u);
    EXPECT_EQ(
        summary.motionRecords * static_cast<uint64_t>(recordBytes) + summary.commandRecords * 6 + 8 + 192,
        summary.bytes);
  }
}

TEST_F(Render, EngineErrorsWriteNothing) {
  const struct {
    const char* name;
    size_t offset;  // of the field set to 0
    size_t bytes;
    const char* message;
  } kCases[] = {
      {"engraving resolution 0", 44, 2, "DPI error"},
      {"engine resolution 0", 48, 2, "DPI error"},
      {"plate width 0", 8, 4, "Plate size error"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    std::vector<uint8_t> settings = DefaultSettingsRecord();
    std::fill_n(settings.begin() + static_cast<ptrdiff_t>(c.offset), c.bytes, 0);
    test::CapturedMessages messages;
    std::ostringstream out;
    try {
      RenderJob(settings, {}, out, RenderOptions{});
      ADD_FAILURE() << "no error";
    } catch (const ToolError& error) {
      EXPECT_EQ(error.exitStatus(), kExitFailed);
      EXPECT_NE(std::string(error.what()).find("ostrelinInit"), std::string::npos) << error.what();
    }
    EXPECT_EQ(messages.texts, std::vector<std::string>{c.message});
    EXPECT_TRUE(out.str().empty());
  }
}

}  // namespace
}  // namespace ostrelin::tools
