// Escape sequences in HPGL text: mode switches, raster groups and their row data, run through the
// page driver.
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "engine/hpgl/plotter_state.h"
#include "hpgl/hpgl_test_support.h"

namespace ostrelin::test {
namespace {

using Bytes = std::vector<uint8_t>;
using namespace std::string_literals;

class RasterEscapeTest : public HpglTest {
 protected:
  Bytes Seed(int plane, size_t count) { return Bytes(set_.spool->seedRows[plane], set_.spool->seedRows[plane] + count); }
};

struct RowCase {
  const char* name;
  std::string text;
  Bytes row;
  int rows;
};

TEST_F(RasterEscapeTest, RowDataReachesTheIntake) {
  const std::string width = "\x1b*r24S";  // 3 bytes per row
  const std::vector<RowCase> cases = {
      // Three bytes counted: the repeat, then a no-op control.
      {"packbits", width + "\x1b*b2m3W\xFE\x55\x80", {0x55, 0x55, 0x55}, 1},
      {"run length", width + "\x1b*b1m2W\x02\xAA", {0xAA, 0xAA, 0xAA}, 1},
      {"delta on a zero seed", width + "\x1b*b3m3W\x20\x11\x22", {0x11, 0x22, 0x00}, 1},
      {"adaptive empty rows", width + "\x1b*b5m3W\x04\x00\x02"s, {0x00, 0x00, 0x00}, 2},
      {"unencoded", width + "\x1b*b0m3W\x01\x02\x03", {0x01, 0x02, 0x03}, 1},
      {"lower-case data letter continues", width + "\x1b*b0m1v" "\x09" "0m1W" "\x07", {0x07, 0x00, 0x00}, 2},
      {"counted rows", width + "\x1b*b4m6W\x00\x00\x00\x10\x12\x34"s, {0x12, 0x34, 0x00}, 1},
  };
  for (const RowCase& c : cases) {
    SCOPED_TRACE(c.name);
    Restart();
    const int32_t before = set_.job->currentRow;
    ASSERT_FALSE(Run(c.text).has_value());
    EXPECT_EQ(Seed(0, 3), c.row);
    EXPECT_EQ(set_.job->currentRow - before, c.rows);
    EXPECT_EQ(set_.spool->pendingPlane, -1);
  }
}

TEST_F(RasterEscapeTest, RowWidth) {
  struct Width {
    std::string text;
    int32_t pixels, bytes;
  };
  const std::vector<Width> cases = {
      {"\x1b*r100S", 100, 13},
      {"\x1b*r8S", 8, 1},
      {"\x1b*v6W\x0A\x00\x08\x08\x08\x08\x1b*r100S"s, 100, 100},
      {"\x1b*r-5S", 0, 0},
      {"\x1b*r40s7S", 7, 1},
  };
  for (const Width& c : cases) {
    Restart();
    ASSERT_FALSE(Run(c.text).has_value());
    EXPECT_EQ(set_.spool->rowPixels, c.pixels) << c.text;
    EXPECT_EQ(set_.spool->rowBytes, c.bytes) << c.text;
  }
}

TEST_F(RasterEscapeTest, RasterClearResetsSeedsAndMethod) {
  ASSERT_FALSE(Run("\x1b*r16S\x1b*b2m2W\xFF\x66\x1b*rC").has_value());
  EXPECT_EQ(Seed(0, 2), (Bytes{0, 0}));
  EXPECT_EQ(set_.spool->rasterCompression, 0);
  EXPECT_EQ(set_.spool->rowBytes, 0);
}

TEST_F(RasterEscapeTest, Positions) {
  struct Position {
    std::string text;
    int32_t x, y;
  };
  const std::vector<Position> cases = {
      {"\x1b*p5X\x1b*p+10X", 15, 0},
      {"\x1b*p5X\x1b*p10X", 10, 0},
      {"\x1b*p5X\x1b*p-3X", 2, 0},
      {"\x1b*p4x20Y", 4, 20},
      {"\x1b*p20Y\x1b*p+5Y", 0, 25},
  };
  for (const Position& c : cases) {
    Restart();
    ASSERT_FALSE(Run(c.text).has_value());
    EXPECT_EQ(set_.job->rowOriginX, c.x) << c.text;
    EXPECT_EQ(set_.job->currentRow, c.y) << c.text;
  }
}

TEST_F(RasterEscapeTest, NewRowPositionClearsTheSeeds) {
  ASSERT_FALSE(Run("\x1b*r16S\x1b*b0m2W\x12\x34").has_value());
  ASSERT_EQ(Seed(0, 2), (Bytes{0x12, 0x34}));
  ASSERT_FALSE(Run("\x1b*p+0X").has_value());
  EXPECT_EQ(Seed(0, 2), (Bytes{0x12, 0x34}));
  ASSERT_FALSE(Run("\x1b*p7Y").has_value());
  EXPECT_EQ(Seed(0, 2), (Bytes{0, 0}));
}

TEST_F(RasterEscapeTest, ModeSwitchesChooseTheColourClass) {
  ASSERT_FALSE(Run("PC2,255,0,0;SP2;").has_value());
  const uint8_t penClass = set_.job->secondClass;
  ASSERT_EQ(penClass, hpgl::ColourClass(255, 0, 0));
  ASSERT_FALSE(Run("\x1b%1A\x1b*r8S\x1b*b0m1W\xF0").has_value());
  EXPECT_EQ(set_.job->currentClass, 0);
  EXPECT_EQ(set_.spool->hpgl2Mode, 0);
  EXPECT_NE(set_.job->colourLayers[0], nullptr);
  EXPECT_EQ(set_.job->colourLayers[penClass], nullptr);
  ASSERT_FALSE(Run("\x1b%1B").has_value());
  EXPECT_EQ(set_.job->currentClass, penClass);
  EXPECT_EQ(set_.spool->hpgl2Mode, 1);
  ASSERT_FALSE(Run("\x1b%-12345X").has_value());
  EXPECT_EQ(set_.job->currentClass, penClass);
}

TEST_F(RasterEscapeTest, ColourGroup) {
  ASSERT_FALSE(Run("\x1b*v1N").has_value());
  EXPECT_EQ(set_.spool->opaqueSource, 1);
  ASSERT_FALSE(Run("\x1b*v0N").has_value());
  EXPECT_EQ(set_.spool->opaqueSource, 0);

  ASSERT_FALSE(Run("\x1b*v255a128b7c2I").has_value());
  EXPECT_EQ(Bytes(set_.ctx->rasterPalette[2], set_.ctx->rasterPalette[2] + 3), (Bytes{7, 128, 255}));
  EXPECT_EQ(set_.job->currentClass, hpgl::ColourClass(255, 128, 7));
  // An entry outside the palette is ignored and keeps the colour being defined.
  ASSERT_FALSE(Run("\x1b*v0a0b200c9I").has_value());
  EXPECT_EQ(set_.job->currentClass, hpgl::ColourClass(255, 128, 7));
  ASSERT_FALSE(Run("\x1b*v3I").has_value());
  EXPECT_EQ(Bytes(set_.ctx->rasterPalette[3], set_.ctx->rasterPalette[3] + 3), (Bytes{200, 0, 0}));
  ASSERT_FALSE(Run("\x1b*v4I").has_value());  // the colour was reset by the entry before
  EXPECT_EQ(Bytes(set_.ctx->rasterPalette[4], set_.ctx->rasterPalette[4] + 3), (Bytes{0, 0, 0}));
}

TEST_F(RasterEscapeTest, ImageConfiguration) {
  ASSERT_FALSE(Run("\x1b*v6W\x00\x01\x01\x08\x08\x08"s).has_value());
  EXPECT_EQ(set_.spool->rasterLastPlane, 0);
  EXPECT_EQ(set_.spool->rasterColourSpace, 0);
  EXPECT_EQ(Bytes(set_.ctx->rasterPalette[0], set_.ctx->rasterPalette[0] + 3), (Bytes{255, 255, 255}));
  EXPECT_EQ(Bytes(set_.ctx->rasterPalette[1], set_.ctx->rasterPalette[1] + 3), (Bytes{0, 0, 0}));
  ASSERT_FALSE(Run("\x1b*v6W\x00\x01\x03\x08\x08\x08"s).has_value());
  EXPECT_EQ(set_.spool->rasterLastPlane, 2);
  const Bytes expected[8] = {{0, 0, 0},     {0, 0, 255},   {0, 255, 0},   {0, 255, 255},
                             {255, 0, 0},   {255, 0, 255}, {255, 255, 0}, {255, 255, 255}};
  for (int i = 0; i < 8; ++i) {
    EXPECT_EQ(Bytes(set_.ctx->rasterPalette[i], set_.ctx->rasterPalette[i] + 3), expected[i]) << i;
  }
  // Three planes make one row; the rows of a plane image go to the grey layer.
  ASSERT_FALSE(Run("\x1b*r8S\x1b*b0m1V\x80\x1b*b1V\x80").has_value());
  EXPECT_EQ(set_.job->currentRow, 0);
  ASSERT_FALSE(Run("\x1b*b1W\x80").has_value());
  EXPECT_EQ(set_.job->currentRow, 1);
  EXPECT_NE(set_.job->greyLayer, nullptr);
}

TEST_F(RasterEscapeTest, LogicalOperation) {
  ASSERT_FALSE(Run("\x1b*l136O").has_value());
  EXPECT_EQ(set_.ctx->rasterOperation, 0x8800C6);
  ASSERT_FALSE(Run("\x1b*l300O").has_value());
  EXPECT_EQ(set_.ctx->rasterOperation, 0xCC0020);
}

TEST_F(RasterEscapeTest, UnknownMethodSkipsItsData) {
  ASSERT_FALSE(Run("PC3,0,255,0;SP1;").has_value());
  const int32_t pen = set_.ctx->currentPen;
  ASSERT_FALSE(Run("\x1b*r8S\x1b*b9m4WSP3;").has_value());
  EXPECT_EQ(set_.ctx->currentPen, pen);
  EXPECT_EQ(set_.job->currentRow, 0);
}

struct BadCase {
  const char* name;
  std::string text;
  std::optional<ErrorKind> error;
};

TEST_F(RasterEscapeTest, BadInput) {
  const std::vector<BadCase> cases = {
      {"lone ESC", "\x1b", ErrorKind::kSyntax},
      {"ESC *", "\x1b*", ErrorKind::kSyntax},
      {"group without parameters", "\x1b*b", ErrorKind::kSyntax},
      {"number without letter", "\x1b*b5", ErrorKind::kSyntax},
      {"data cut short", "\x1b*r80S\x1b*b5W\x01", ErrorKind::kSyntax},
      {"configuration cut short", "\x1b*v6W\x00"s, ErrorKind::kSyntax},
      {"position sign at the end", "\x1b*p+", ErrorKind::kSyntax},
      {"huge count", "\x1b*r80S\x1b*b99999999999W\x00"s, ErrorKind::kSyntax},
      {"huge packbits count", "\x1b*r80S\x1b*b2m2147483647W\x7F", ErrorKind::kSyntax},
      {"adaptive block beyond the data", "\x1b*r80S\x1b*b5m3W\x00\xFF\xFF"s, ErrorKind::kSyntax},
      {"negative count", "\x1b*r80S\x1b*b-5W", std::nullopt},
      // Only the group letter belongs to an unknown group; the rest is read as HPGL.
      {"unknown group", "\x1b*zIN;", std::nullopt},
      {"upper-case group", "\x1b*BIN;", std::nullopt},
      {"other escape", "\x1b" "E", std::nullopt},
      {"row wider than a plane", "\x1b*r2147483647S\x1b*b1m2W\xFF\x01", ErrorKind::kBitmap},
      {"huge position", "\x1b*p2147483647X\x1b*p+2147483647X", std::nullopt},
  };
  for (const BadCase& c : cases) {
    SCOPED_TRACE(c.name);
    Restart();
    EXPECT_EQ(Run(c.text), c.error);
  }
}

}  // namespace
}  // namespace ostrelin::test
