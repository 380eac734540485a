// The font sheet: glyphs land upright where their grid points say, in the block of their set; the
// command's exit statuses, help and output.
#include "tools/font_sheet.h"

#include <gtest/gtest.h>
#include <png.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "engine/hpgl/stroke_font.h"
#include "tools/tool_error.h"

namespace ostrelin::tools {
namespace {

namespace fs = std::filesystem;

// Ink of a glyph stroke is black; the guides are light.
bool Dark(const PreviewImage& image, const SheetPoint& p) {
  const uint8_t* pixel = image.Pixel(static_cast<int>(p.x), static_cast<int>(p.y));
  return pixel[0] < 90 && pixel[1] < 90 && pixel[2] < 90;
}

bool Light(const PreviewImage& image, const SheetPoint& p) {
  const uint8_t* pixel = image.Pixel(static_cast<int>(p.x), static_cast<int>(p.y));
  return pixel[0] > 150 && pixel[1] > 150 && pixel[2] > 150;
}

// Points on a glyph's strokes and points well clear of them, in grid steps. A glyph drawn upside
// down, mirrored, in another cell or from another set misses some of them.
struct Probe {
  int set;
  int code;
  double gx, gy;
  bool ink;
};

constexpr Probe kProbes[] = {
    {0, 'L', 0, 3, true},      {0, 'L', 2, 0, true},  {0, 'L', 2.5, 3.5, false},
    {0, 'L', 3.5, 5.5, false}, {0, '7', 2, 6, true},  {0, '7', 2.5, 0.5, false},
    {0, ' ', 2, 3, false},     {0, 127, 2, 3, true},  {1, '{', 1, 2, true},
    {1, '{', 2.5, 5.5, false}, {2, '#', 2, 0, true},  {2, 126, 2, 5, false},
    {3, ']', 2, 9, true},      {3, ']', 0, 3, true},  {3, '[', 2.5, 5.5, false},
    {4, '~', 2, 6.5, true},    {5, 'A', 2, 1, true},  {5, 'A', 2.5, 3.5, false},
    {5, 'a', 0.5, 0, true},    {6, '\\', 2, 1, true}, {6, '\\', 0.5, 0.5, false},
    {7, 33, 1.5, 7.5, true},   {7, 127, 2, 3, false},
};

TEST(FontSheet, GlyphsLandUprightOnTheirGridInTheirSet) {
  FontSheetOptions all;
  const PreviewImage sheet = DrawFontSheet(all);
  for (const Probe& p : kProbes) {
    SCOPED_TRACE("set " + std::to_string(p.set) + " code " + std::to_string(p.code) + " at " +
                 std::to_string(p.gx) + ", " + std::to_string(p.gy));
    const SheetPoint at = SheetGlyphPoint(all, p.set, p.code, p.gx, p.gy);
    ASSERT_GE(at.x, 0);
    ASSERT_GE(at.y, 0);
    ASSERT_LT(at.x, sheet.width);
    ASSERT_LT(at.y, sheet.height);
    EXPECT_TRUE(p.ink ? Dark(sheet, at) : Light(sheet, at));
  }
  // A sheet of one set shows that set alone, at the top.
  FontSheetOptions one;
  one.set = 3;
  one.stepPixels = 10;
  const PreviewImage set3 = DrawFontSheet(one);
  EXPECT_LT(set3.height * 4, sheet.height);
  EXPECT_TRUE(Dark(set3, SheetGlyphPoint(one, 3, ']', 2, 9)));
  EXPECT_TRUE(Light(set3, SheetGlyphPoint(one, 3, '[', 2.5, 5.5)));
}

TEST(FontSheet, OptionsOutsideTheirRangesAreUsageErrors) {
  const std::pair<int, int> cases[] = {
      {8, 6}, {-2, 6}, {0, kMinSheetStepPixels - 1}, {0, kMaxSheetStepPixels + 1}};
  for (const auto& [set, step] : cases) {
    FontSheetOptions options;
    options.set = set;
    options.stepPixels = step;
    try {
      DrawFontSheet(options);
      ADD_FAILURE() << "set " << set << " step " << step << " accepted";
    } catch (const ToolError& error) {
      EXPECT_EQ(error.exitStatus(), kExitUsage) << error.what();
    }
  }
}

struct Outcome {
  int status = -1;
  std::string out;
  std::string err;
};

// The built program, run in a directory of its own.
class FontSheetCommand : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_STRNE(OSTRELIN_TOOL, "") << "the tool is not built";
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base != nullptr ? base : "/tmp") + "/ostrelin-font-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
  }
  void TearDown() override { fs::remove_all(dir_); }

  Outcome Run(const std::string& arguments) {
    const std::string command = "cd '" + dir_.string() + "' && '" + OSTRELIN_TOOL + "' font-sheet " +
                                arguments + " >out.txt 2>err.txt";
    const int raw = std::system(command.c_str());
    auto read = [&](const char* name) {
      std::ifstream file(dir_ / name, std::ios::binary);
      std::stringstream text;
      text << file.rdbuf();
      return text.str();
    };
    return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, read("out.txt"), read("err.txt")};
  }

  fs::path dir_;
};

TEST_F(FontSheetCommand, ExitStatusesHelpAndPicture) {
  const Outcome help = Run("--help");
  EXPECT_EQ(help.status, kExitOk);
  EXPECT_NE(help.out.find("Pixels per glyph grid step"), std::string::npos) << help.out;
  EXPECT_NE(help.out.find("ostrelin font-sheet -o sheet.png"), std::string::npos) << help.out;
  EXPECT_EQ(Run("").status, kExitUsage);
  EXPECT_EQ(Run("-o sheet.png --set 8").status, kExitUsage);
  EXPECT_EQ(Run("-o sheet.png --step 1").status, kExitUsage);
  const Outcome unwritable = Run("-o missing/sheet.png");
  EXPECT_EQ(unwritable.status, kExitFailed);
  EXPECT_NE(unwritable.err.find("missing/sheet.png"), std::string::npos) << unwritable.err;
  EXPECT_FALSE(fs::exists(dir_ / "sheet.png"));

  ASSERT_EQ(Run("-o sheet.png --set 5 --step 4").status, kExitOk);
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  ASSERT_TRUE(png_image_begin_read_from_file(&image, (dir_ / "sheet.png").c_str())) << image.message;
  FontSheetOptions options;
  options.set = 5;
  options.stepPixels = 4;
  const PreviewImage drawn = DrawFontSheet(options);
  EXPECT_EQ(static_cast<int>(image.width), drawn.width);
  EXPECT_EQ(static_cast<int>(image.height), drawn.height);
  png_image_free(&image);
}

}  // namespace
}  // namespace ostrelin::tools
