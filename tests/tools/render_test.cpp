// The rendering road driven by the tool: an empty page, engine errors that leave no job behind, PNG
// images as one-bit or grey rows, and bad images refused.
#include "tools/render.h"

#include <gtest/gtest.h>
#include <png.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
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

// A PNG written with libpng's simplified writer: format PNG_FORMAT_GRAY, _RGB or _RGBA, pixels row by row.
void WritePng(const std::string& path, uint32_t width, uint32_t height, uint32_t format,
              const std::vector<uint8_t>& pixels) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  image.width = width;
  image.height = height;
  image.format = format;
  ASSERT_NE(png_image_write_to_file(&image, path.c_str(), 0, pixels.data(), 0, nullptr), 0) << image.message;
}

std::string ReadFileBytes(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  std::stringstream bytes;
  bytes << file.rdbuf();
  return bytes.str();
}

// The job's records before its first row, its rows' codes, and the dots the rows engrave.
struct RasterOutline {
  std::vector<std::string> before;  // command codes before the first row
  std::vector<int64_t> moves;       // values of the first "RX" and "RY"
  uint64_t bitRows = 0;             // "C1"/"C2"
  uint64_t byteRows = 0;            // "C3"/"C4"
  uint64_t dotsOn = 0;              // set bits of the rows of bits
  int64_t classPower = -1;          // the "PW" before the first row
};

RasterOutline Outline(const std::string& job) {
  std::istringstream in(job);
  struct Sink : ElementSink {
    RasterOutline outline;
    bool rows = false;
    void OnElement(const Element& e) override {
      if (e.kind == ElementKind::kRow) {
        rows = true;
        const bool bits = e.text == "C1" || e.text == "C2";
        (bits ? outline.bitRows : outline.byteRows) += 1;
        if (bits) outline.dotsOn += e.row.setBits;
      } else if (e.kind == ElementKind::kCommand && !rows) {
        outline.before.push_back(e.text);
        if (e.text == "RX" || e.text == "RY") outline.moves.push_back(e.value);
        if (e.text == "PW") outline.classPower = e.value;
      }
    }
  } sink;
  const DecodeSummary summary = DecodeJobStream(in, sink);
  EXPECT_TRUE(summary.Clean()) << summary.Problems();
  EXPECT_TRUE(summary.endsWithJf);
  return sink.outline;
}

// Images and the program's files go to a directory beside the scratch directory, which must end empty.
class RenderImages : public test::ScratchDirTest {
 protected:
  void SetUp() override {
    test::ScratchDirTest::SetUp();
    files_ = dir_ + "-files";
    std::filesystem::create_directory(files_);
  }
  void TearDown() override {
    std::filesystem::remove_all(files_);
    test::ScratchDirTest::TearDown();
  }
  std::string Path(const std::string& name) { return files_ + "/" + name; }
  std::string files_;
};

// Images of every kind through the exports: which layer and row kind they take, where they go, and
// that every engraved pixel is one engraved dot.
TEST_F(RenderImages, ImagesGoInAsRowsOfTheirKind) {
  const uint32_t w = 40, h = 6;
  // Black and white: a black frame, as 8-bit grey bytes of 0 and 255.
  std::vector<uint8_t> frame(w * h, 255);
  uint64_t framePixels = 0;
  for (uint32_t y = 0; y < h; ++y) {
    for (uint32_t x = 0; x < w; ++x) {
      if (y == 0 || y == h - 1 || x == 0 || x == w - 1) {
        frame[y * w + x] = 0;
        ++framePixels;
      }
    }
  }
  WritePng(Path("frame.png"), w, h, PNG_FORMAT_GRAY, frame);
  // A grey ramp from black (left) to light grey: 20 of its 40 columns are darker than 128.
  std::vector<uint8_t> ramp(w * h);
  for (uint32_t y = 0; y < h; ++y) {
    for (uint32_t x = 0; x < w; ++x) ramp[y * w + x] = static_cast<uint8_t>(x * 6.4);
  }
  WritePng(Path("ramp.png"), w, h, PNG_FORMAT_GRAY, ramp);
  // RGBA: opaque black on the left half, transparent black on the right, which counts as white.
  std::vector<uint8_t> rgba(w * h * 4, 0);
  for (uint32_t i = 0; i < w * h; ++i) rgba[4 * i + 3] = (i % w) < w / 2 ? 255 : 0;
  WritePng(Path("half.png"), w, h, PNG_FORMAT_RGBA, rgba);

  struct Case {
    const char* name;
    std::string image;
    ImageRows rows;
    uint8_t colourClass;
    std::vector<std::string> before;  // records before the first row
    uint64_t bitRows;
    uint64_t byteRows;
    uint64_t dotsOn;  // of rows of bits
  };
  const std::vector<std::string> colourLayer = {"PW", "VD", "vd", "AI", "FR", "SL", "RX", "RY"};
  const std::vector<std::string> greyTwoLevel = {"VD", "vd", "AI", "FR", "SL", "PW", "RX", "RY"};
  const std::vector<std::string> greyBytes = {"VD", "vd", "AI", "FR", "SL", "RX", "RY"};
  const std::string logo = std::string(OSTRELIN_SOURCE_DIR) + "/examples/sample-logo.png";
  const Case cases[] = {
      {"black and white", Path("frame.png"), ImageRows::kAuto, 2, colourLayer, h, 0, framePixels},
      {"black and white as grey", Path("frame.png"), ImageRows::kGrey, 2, greyTwoLevel, h, 0, framePixels},
      {"grey", Path("ramp.png"), ImageRows::kAuto, 0, greyBytes, 0, h, 0},
      {"grey thresholded", Path("ramp.png"), ImageRows::kBits, 0, colourLayer, h, 0, 20 * h},
      {"transparent is white", Path("half.png"), ImageRows::kAuto, 0, colourLayer, h, 0, w / 2 * h},
      {"one-bit file", logo, ImageRows::kAuto, 0, colourLayer, 118, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<uint8_t> settings = DefaultSettingsRecord();
    RenderOptions options;
    options.rows = c.rows;
    options.colourClass = c.colourClass;
    std::ostringstream out;
    RenderPageJob(settings, RenderPage{{ImagePlacement{c.image, 4.064, 2.032}}, {}}, out, options);
    const RasterOutline outline = Outline(out.str());
    std::vector<std::string> before = outline.before;
    before.erase(before.begin(), std::find(before.begin(), before.end(), c.before.front()));
    EXPECT_EQ(before, c.before);
    // 4.064 mm and 2.032 mm at the default 500 dpi: 80 dots (10 bytes of a one-bit row) and 40 rows.
    EXPECT_EQ(outline.moves, (std::vector<int64_t>{80, 40}));
    EXPECT_EQ(outline.bitRows, c.bitRows);
    EXPECT_EQ(outline.byteRows, c.byteRows);
    if (c.dotsOn != 0) {
      EXPECT_EQ(outline.dotsOn, c.dotsOn);
    }
  }
}

// The colour class of one-bit rows selects the class's power; images and strokes share one job.
TEST_F(RenderImages, ClassPowerAndStrokesInOneJob) {
  std::vector<uint8_t> black(8 * 2, 0);
  WritePng(Path("black.png"), 8, 2, PNG_FORMAT_GRAY, black);
  std::vector<uint8_t> settings = DefaultSettingsRecord();
  std::istringstream script("pu 0 0\npd 100 100\n");
  RenderPage page{{ImagePlacement{Path("black.png"), 0, 0}}, ParseStrokeScript(script, "script")};
  const Json json = SettingsToJson(settings.data());
  for (uint8_t colourClass : {0, 3}) {
    SCOPED_TRACE(int{colourClass});
    RenderOptions options;
    options.colourClass = colourClass;
    std::ostringstream out;
    RenderPageJob(settings, page, out, options);
    const RasterOutline outline = Outline(out.str());
    EXPECT_EQ(outline.dotsOn, 16u);
    std::istringstream in(out.str());
    Collector collector;
    const DecodeSummary summary = DecodeJobStream(in, collector);
    EXPECT_GT(summary.motionRecords, 0u) << "the strokes are in the job too";
    const int percent = json["classes"][colourClass]["powerPercent"].get<int>();
    EXPECT_EQ(outline.classPower, percent);
  }
}

// Bad images through the program: exit status 1 (2 for a malformed position) with a message naming the
// file and what is wrong, and neither a job nor a scratch file left behind.
TEST_F(RenderImages, BadImagesAreRefused) {
  ASSERT_STRNE(OSTRELIN_TOOL, "") << "the tool is not built";
  namespace fs = std::filesystem;
  const fs::path dir = files_;
  fs::create_directory(dir / "tmp");
  std::vector<uint8_t> grey(16 * 16, 128);
  WritePng(Path("good.png"), 16, 16, PNG_FORMAT_GRAY, grey);
  const std::string good = ReadFileBytes(Path("good.png"));
  auto write = [&](const std::string& name, const std::string& bytes) {
    std::ofstream(dir / name, std::ios::binary) << bytes;
  };
  write("text.png", "just some text, not an image\n");
  write("empty.png", "");
  write("truncated.png", good.substr(0, good.size() / 2));
  std::string badCrc = good;
  badCrc[badCrc.find("IDAT") + 6] ^= 0x55;  // a byte of the compressed data: the chunk's CRC fails
  write("crc.png", badCrc);
  std::vector<uint8_t> wide(32773, 100);
  WritePng(Path("wide.png"), 32773, 1, PNG_FORMAT_GRAY, wide);

  const struct {
    const char* arguments;
    int status;
    const char* message;
  } kCases[] = {
      {"--image text.png", 1, "text.png: not a PNG image"},
      {"--image empty.png", 1, "empty.png: not a PNG image"},
      {"--image missing.png", 1, "missing.png: cannot open"},
      {"--image truncated.png", 1, "truncated.png: damaged PNG image"},
      {"--image crc.png", 1, "crc.png: damaged PNG image"},
      {"--image good.png --image crc.png", 1, "crc.png: damaged PNG image"},
      {"--image wide.png", 1, "wide.png: 32773 pixels wide"},
      {"--image good.png@1", 2, "X,Y in millimetres"},
      {"--image good.png@-1,2", 2, "must not be negative"},
      {"--image good.png --bits --grey", 2, "excludes"},
      {"--image good.png --class 9", 2, "--class"},
      {"", 2, "--strokes FILE, --image FILE.png, or both"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.arguments);
    const std::string command = "cd '" + dir.string() + "' && TMPDIR='" + (dir / "tmp").string() + "' '" +
                                OSTRELIN_TOOL + "' render " + c.arguments + " -o job.bin >out.txt 2>err.txt";
    const int raw = std::system(command.c_str());
    ASSERT_TRUE(WIFEXITED(raw));
    const std::string err = ReadFileBytes(Path("err.txt"));
    EXPECT_EQ(WEXITSTATUS(raw), c.status) << err;
    EXPECT_NE(err.find(c.message), std::string::npos) << err;
    EXPECT_FALSE(fs::exists(dir / "job.bin"));
    EXPECT_TRUE(fs::is_empty(dir / "tmp"));
  }
  // The good image alone makes a job.
  const std::string command = "cd '" + dir.string() + "' && '" + OSTRELIN_TOOL +
                              "' render --image good.png@1.5,2 -o job.bin 2>err.txt";
  EXPECT_EQ(std::system(command.c_str()), 0) << ReadFileBytes(Path("err.txt"));
  EXPECT_TRUE(fs::exists(dir / "job.bin"));
}

}  // namespace
}  // namespace ostrelin::tools
