// The preview: the walker's reading of raster rows, head moves and motion records, the picture and the
// SVG drawn from it, and round trips from the engine's own layers and planned points to the preview.
#include "tools/preview.h"

#include <gtest/gtest.h>
#include <png.h>

#include <cmath>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "engine/raster/layer_io.h"
#include "engine/raster/layer_transforms.h"
#include "engine/raster/power_tables.h"
#include "engine/scratch.h"
#include "engine/settings_layout.h"
#include "ostrelin/ostrelin.h"
#include "support/stream_builder.h"
#include "support/test_support.h"
#include "tools/file_io.h"
#include "tools/job_model.h"
#include "tools/render.h"
#include "tools/settings_json.h"
#include "tools/stroke_script.h"
#include "tools/tool_error.h"

namespace ostrelin::tools {
namespace {

// ---- hand-built streams ----

using test::HeaderFields;
using Stream = test::StreamBuilder;

// Everything the walker reports.
struct Recorded : JobActions {
  void OnJob(const JobGeometry& g) override { geometry = g; }
  void OnRasterRow(const RasterRow& row) override { rows.push_back(row); }
  void OnRasterSpan(const RasterSpan& span) override { spans.push_back(span); }
  void OnHeadMove(const HeadMove& move) override { headMoves.push_back(move); }
  void OnPenMove(const PenMove& move) override { penMoves.push_back(move); }
  JobGeometry geometry;
  std::vector<RasterRow> rows;
  std::vector<RasterSpan> spans;
  std::vector<HeadMove> headMoves;
  std::vector<PenMove> penMoves;
};

struct Walked {
  Recorded actions;
  std::vector<SettingsGroup> groups;
  int64_t headX = 0, headY = 0;
  DecodeSummary summary;
};

Walked Walk(const std::string& bytes, int job = 1) {
  Walked walked;
  std::istringstream in(bytes);
  JobWalker walker(walked.actions, job);
  walked.summary = DecodeJobStream(in, walker);
  walked.groups = walker.groups();
  walked.headX = walker.headXDot();
  walked.headY = walker.headYRow();
  return walked;
}

// A span as (row, first dot, dots, power percent), for comparisons.
struct SpanKey {
  int64_t y, x, dots;
  double power;
  bool operator==(const SpanKey& o) const {
    return y == o.y && x == o.x && dots == o.dots && std::abs(power - o.power) < 1e-9;
  }
};
std::ostream& operator<<(std::ostream& out, const SpanKey& k) {
  return out << "(row " << k.y << ", x " << k.x << ", " << k.dots << " dots, " << k.power << " %)";
}
std::vector<SpanKey> Keys(const std::vector<RasterSpan>& spans) {
  std::vector<SpanKey> keys;
  for (const RasterSpan& s : spans) keys.push_back({s.yRow, s.xDot, s.dots, s.powerPercent});
  return keys;
}

TEST(ExpandRow, UndoesRunsLiteralsAndPadding) {
  const struct {
    std::vector<uint8_t> coded;
    std::vector<uint8_t> row;
    bool whole;
  } cases[] = {
      {{0xFE, 0x05, 0x00, 0x07}, {5, 5, 5, 7}, true},
      {{0x02, 0x01, 0x02, 0x03}, {1, 2, 3}, true},
      {{0x01, 0x01, 0x02, 0x80}, {1, 2}, true},
      {{0x00, 0x01, 0xFF, 0x02, 0x00, 0x03}, {1, 2, 2, 3}, true},
      {{0x81, 0x00, 0xFF, 0x00}, std::vector<uint8_t>(130, 0), true},
      {{0x03, 0x01, 0x02}, {1, 2}, false},           // literal cut short
      {{0x00, 0x01, 0xFD}, {1}, false},              // run without its byte
      {{0x00, 0x01, 0x80, 0x00, 0x05}, {1}, false},  // data after the padding
  };
  for (const auto& c : cases) {
    std::vector<uint8_t> out;
    EXPECT_EQ(ExpandRow(c.coded.data(), c.coded.size(), out), c.whole);
    EXPECT_EQ(out, c.row);
  }
}

TEST(JobWalker, PlacesRowsByHeadMovesRowKindAndDirection) {
  const HeaderFields topDown;
  HeaderFields bottomUp;
  bottomUp.bottomUp = true;
  const struct {
    const char* name;
    std::string stream;
    std::vector<SpanKey> spans;
    int64_t headX, headY;
  } cases[] = {
      {"two-level grey zone: bit rows after the zone power, the reversed row padded first",
       Stream()
           .Header(topDown)
           .Rec("VD", 10)
           .Rec("vd", 100)
           .Rec("AI", 0)
           .Rec("FR", 0)
           .Rec("SL", 0)
           .Rec("PW", 100)
           .Rec32("RX", 100)
           .Rec32("RY", 10)
           .RowCoded("C1", {0x00, 0xF0})
           .RowCoded("C2", {0x00, 0x0F})
           .RowCoded("C1", {0x00, 0xF0})
           .Rec("R5", 0)
           .str(),
       {{10, 100, 4, 100}, {11, 100, 4, 100}, {12, 100, 4, 100}},
       100,
       13},
      {"grey byte rows: one power byte per dot, reversed rows mirrored",
       Stream()
           .Header(topDown)
           .Rec("VD", 10)
           .Rec("vd", 100)
           .Rec("AI", 0)
           .Rec("FR", 0)
           .Rec("SL", 0)
           .Rec32("RX", 7)
           .Rec32("RY", 3)
           .Row("C3", {0, 64, 64, 128})
           .Row("C4", {128, 64, 64, 0})
           .str(),
       {{3, 8, 2, 50}, {3, 10, 1, 100}, {4, 8, 2, 50}, {4, 10, 1, 100}},
       7,
       5},
      {"colour layer: moves in dots, a row of bytes of eight dots, one-way rows",
       Stream()
           .Header(topDown)
           .Rec("PW", 40)
           .Rec("VD", 25)
           .Rec("vd", 250)
           .Rec("AI", 0)
           .Rec("FR", 0)
           .Rec("SL", 0)
           .Rec32("RX", 16)
           .Rec32("RY", 2)
           .Row("C1", {0xFF, 0x0F})
           .Rec("C5", 0)
           .Row("C1", {0x81, 0x00})
           .Rec("C5", 0)
           .Rec32("RX", -16)
           .Rec32("RY", 8)
           .Row("C2", {0x00, 0x01})
           .str(),
       {{2, 16, 8, 40}, {2, 28, 4, 40}, {3, 16, 1, 40}, {3, 23, 1, 40}, {12, 0, 1, 40}},
       0,
       13},
      {"bottom-up rows climb from the start row",
       Stream()
           .Header(bottomUp)
           .Rec("PW", 40)
           .Rec("VD", 25)
           .Rec("vd", 250)
           .Rec("AI", 0)
           .Rec("FR", 0)
           .Rec("SL", 0)
           .Rec32("RX", 0)
           .Rec32("RY", 20)
           .Row("C1", {0x80})
           .Row("C2", {0x80})
           .str(),
       {{20, 0, 1, 40}, {19, 7, 1, 40}},
       0,
       18},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const Walked walked = Walk(c.stream);
    EXPECT_EQ(Keys(walked.actions.spans), c.spans);
    EXPECT_EQ(walked.headX, c.headX);
    EXPECT_EQ(walked.headY, c.headY);
    EXPECT_TRUE(walked.summary.Clean()) << walked.summary.Problems();
  }
}

TEST(JobWalker, HeadMovesAreInDotsAndRowsOfTheHeaderResolutions) {
  HeaderFields fields;
  fields.resX = 254;   // 0.1 mm per dot
  fields.resY = 1270;  // 0.02 mm per row
  const Walked walked = Walk(Stream().Header(fields).Rec32("RX", 150).Rec32("RY", -70000).str());
  ASSERT_EQ(walked.actions.headMoves.size(), 2u);
  EXPECT_TRUE(walked.actions.headMoves[0].alongX);
  EXPECT_NEAR(walked.actions.headMoves[0].toXMm, 15.0, 1e-9);
  EXPECT_FALSE(walked.actions.headMoves[1].alongX);
  EXPECT_EQ(walked.actions.headMoves[1].count, -70000);
  EXPECT_NEAR(walked.actions.headMoves[1].toYMm, -1400.0, 1e-9);
}

TEST(JobWalker, MotionUnitsFollowTheControllerAndTheMotionTable) {
  const struct {
    int32_t controller, selector;
    double mmPerUnit;
  } cases[] = {
      {0, 0, 5550.0 / 160000}, {0, 1, 6000.0 / 160000}, {0, 7, 5400.0 / 160000}, {1, 0, 0.01}, {3, 1, 0.01},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE("controller " + std::to_string(c.controller) + ", selector " + std::to_string(c.selector));
    HeaderFields fields;
    fields.controller = c.controller;
    fields.selector = c.selector;
    // The raster part leaves the head at 500 dots, 250 rows (25.4 mm, 12.7 mm at 500 dpi).
    Stream s;
    s.Header(fields).Rec32("RX", 500).Rec32("RY", 250).Rec("V2", 0).Rec("PU", 0);
    c.controller == 0 ? s.Motion8(1600, -800) : s.Motion12(1600, -800);
    s.Rec("PW", 30).Rec("PD", 0);
    c.controller == 0 ? s.Motion8(0, 1000) : s.Motion12(0, 1000);
    s.Rec("PU", 0).Rec("JF", 0);
    const Walked walked = Walk(s.str());
    EXPECT_EQ(walked.actions.geometry.MotionUnitMm(), c.mmPerUnit);
    const std::vector<PenMove>& moves = walked.actions.penMoves;
    ASSERT_EQ(moves.size(), 2u);
    EXPECT_NEAR(moves[0].fromXMm, 25.4, c.mmPerUnit / 2 + 1e-9);
    EXPECT_NEAR(moves[0].fromYMm, 12.7, c.mmPerUnit / 2 + 1e-9);
    EXPECT_FALSE(moves[0].penDown);
    EXPECT_NEAR(moves[0].toXMm - moves[0].fromXMm, 1600 * c.mmPerUnit, 1e-9);
    EXPECT_NEAR(moves[0].toYMm - moves[0].fromYMm, -800 * c.mmPerUnit, 1e-9);
    EXPECT_TRUE(moves[1].penDown);
    EXPECT_EQ(moves[1].group, 0);
    EXPECT_EQ(moves[1].fromX, moves[0].toX);
    EXPECT_EQ(moves[1].toY - moves[1].fromY, 1000);
  }
}

TEST(JobWalker, GroupsFollowTheSettingsInForce) {
  HeaderFields fields;
  fields.class0Power = 50;
  const std::string stream =
      Stream()
          .Header(fields)
          // colour layer: its class records begin with the class power
          .Rec("PW", 80)
          .Rec("VD", 25)
          .Rec("vd", 250)
          .Rec("AI", 1)
          .Rec("FR", 2)
          .Rec("SL", 0)
          .Rec32("RX", 0)
          .Rec32("RY", 0)
          .Row("C1", {0x80})
          // grey layer: class 0's records without power; its "PW" is the power of a two-level zone
          .Rec("VD", 10)
          .Rec("vd", 100)
          .Rec("AI", 0)
          .Rec("FR", 0)
          .Rec("SL", 0)
          .Rec("PW", 30)
          .Rec32("RX", 0)
          .Rec32("RY", 10)
          .Row("C1", {0x80})
          // vectors under the colour layer's settings, then under a new power
          .Rec("V2", 0)
          .Rec("PU", 0)
          .Motion8(10, 10)
          .Rec("PW", 80)
          .Rec("VD", 25)
          .Rec("vd", 250)
          .Rec("AI", 1)
          .Rec("FR", 2)
          .Rec("PD", 0)
          .Motion8(5, 0)
          .Rec("PW", 60)
          .Motion8(5, 0)
          .str();
  const Walked walked = Walk(stream);
  ASSERT_EQ(walked.groups.size(), 3u);
  EXPECT_EQ(walked.groups[0], (SettingsGroup{80, 250, 1, 2, 0}));
  EXPECT_EQ(walked.groups[1], (SettingsGroup{50, 100, 0, 0, 0}));
  EXPECT_EQ(walked.groups[2], (SettingsGroup{60, 250, 1, 2, 0}));
  ASSERT_EQ(walked.actions.rows.size(), 2u);
  EXPECT_EQ(walked.actions.rows[0].group, 0);
  EXPECT_FALSE(walked.actions.rows[0].greyLayer);
  EXPECT_EQ(walked.actions.rows[1].group, 1);
  EXPECT_TRUE(walked.actions.rows[1].greyLayer);
  EXPECT_EQ(walked.actions.rows[1].layer, 1);
  EXPECT_EQ(walked.actions.spans[1].powerPercent, 30);
  ASSERT_EQ(walked.actions.penMoves.size(), 3u);
  EXPECT_EQ(walked.actions.penMoves[0].group, -1);
  EXPECT_EQ(walked.actions.penMoves[1].group, 0);
  EXPECT_EQ(walked.actions.penMoves[2].group, 2);
}

TEST(JobWalker, ReportsOnlyTheSelectedJobOfASeries) {
  HeaderFields second;
  second.widthHmm = 10000;
  const std::string stream = Stream()
                                 .Header(HeaderFields{})
                                 .Rec32("RX", 3)
                                 .Rec32("RY", 0)
                                 .Rec("PW", 10)
                                 .Rec("VD", 1)
                                 .Row("C1", {0x80})
                                 .Rec("JF", 0)
                                 .Header(second)
                                 .Rec("PW", 20)
                                 .Rec("VD", 1)
                                 .Rec32("RX", 5)
                                 .Rec32("RY", 0)
                                 .Row("C1", {0x80})
                                 .Rec("JF", 0)
                                 .str();
  const Walked first = Walk(stream, 1);
  ASSERT_EQ(first.actions.spans.size(), 1u);
  EXPECT_EQ(first.actions.spans[0].xDot, 3);
  EXPECT_EQ(first.actions.geometry.plateWidthHmm, 60000);
  const Walked other = Walk(stream, 2);
  ASSERT_EQ(other.actions.spans.size(), 1u);
  EXPECT_EQ(other.actions.spans[0].xDot, 5);  // each job starts with the head at 0
  EXPECT_EQ(other.actions.spans[0].powerPercent, 20);
  EXPECT_EQ(other.actions.geometry.plateWidthHmm, 10000);
}

// ---- pictures ----

// A 100 x 50 mm plate at 254 dpi (10 dots per mm) drawn at 1 pixel per mm.
HeaderFields SmallPlate() {
  HeaderFields f;
  f.widthHmm = 10000;
  f.heightHmm = 5000;
  f.resX = 254;
  f.resY = 254;
  return f;
}

// A block of rows dots wide and rows high at (x, y) dots, as bit rows of one layer.
void AddBlock(Stream& s, int power, int speedWord, int64_t& headX, int64_t& headY, int x, int y, int dots,
              int rows) {
  s.Rec("PW", power).Rec("VD", speedWord / 10).Rec("vd", speedWord).Rec("AI", 0).Rec("FR", 0).Rec("SL", 0);
  s.Rec32("RX", static_cast<int32_t>(x - headX)).Rec32("RY", static_cast<int32_t>(y - headY));
  std::vector<uint8_t> row(static_cast<size_t>((dots + 7) / 8), 0xFF);
  if (dots % 8 != 0) row.back() = static_cast<uint8_t>(0xFF << (8 - dots % 8));
  for (int r = 0; r < rows; ++r) s.Row("C1", row).Rec("C5", 0);
  headX = x;
  headY = y + rows;
}

std::string TwoBlocksAndALine() {
  Stream s;
  s.Header(SmallPlate());
  int64_t hx = 0, hy = 0;
  AddBlock(s, 50, 1000, hx, hy, 100, 100, 100, 100);  // 10 x 10 mm at (10, 10) mm, half power
  AddBlock(s, 100, 500, hx, hy, 600, 100, 100, 100);  // the same at (60, 10) mm, full power
  // A pen-down line along y = 40 mm from x = 10 to 90 mm, after travel from where the raster ended.
  s.Rec("V2", 0).Rec("PU", 0);
  const double step = 5550.0 / 160000;  // mm per motor step
  const auto steps = [&](double mm) { return static_cast<int16_t>(std::lround(mm / step)); };
  const int16_t startX = steps(60.0), startY = steps(20.0);  // head at (60, 20) mm
  s.Motion8(static_cast<int16_t>(steps(10) - startX), static_cast<int16_t>(steps(40) - startY));
  s.Rec("PW", 100).Rec("VD", 40).Rec("vd", 400).Rec("PD", 0).Motion8(steps(80), 0);
  s.Rec("PU", 0).Rec("AI", 0).Rec("OP", 0).Rec32("TE", 5).Rec("JF", 0);
  return s.str();
}

PreviewImage Render(const std::string& stream, const PreviewOptions& options, PreviewStats* stats = nullptr) {
  std::istringstream in(stream);
  return RenderPreview(in, options, stats);
}

std::array<int, 3> Rgb(const PreviewImage& image, int x, int y) {
  const uint8_t* p = image.Pixel(x, y);
  return {p[0], p[1], p[2]};
}

// Half of 255, within the rounding of the shade.
bool MidGrey(const std::array<int, 3>& p) {
  return std::abs(p[0] - 128) <= 1 && p[1] == p[0] && p[2] == p[0];
}

TEST(Preview, ShadesRasterByPowerAndDrawsEachGroupInItsColour) {
  PreviewOptions options;
  options.pixelsPerMm = 1;
  PreviewStats stats;
  const PreviewImage image = Render(TwoBlocksAndALine(), options, &stats);
  ASSERT_EQ(image.width, 100);
  ASSERT_EQ(image.height, 50);
  EXPECT_EQ(stats.engravedDots, 2u * 100 * 100);
  EXPECT_EQ(stats.rasterRows, 200u);
  EXPECT_EQ(stats.groups, 3);
  // half power in black: mid grey; full power in the second group's red; the plate white elsewhere
  EXPECT_TRUE(MidGrey(Rgb(image, 15, 15)));
  EXPECT_EQ(Rgb(image, 65, 15), (std::array<int, 3>{220, 0, 0}));
  EXPECT_EQ(Rgb(image, 40, 15), (std::array<int, 3>{255, 255, 255}));
  EXPECT_EQ(Rgb(image, 0, 25), (std::array<int, 3>{200, 200, 200}));  // plate edge
  // the block's edge pixels are covered exactly, the ones beside them not at all
  EXPECT_TRUE(MidGrey(Rgb(image, 10, 10)));
  EXPECT_EQ(Rgb(image, 9, 10), (std::array<int, 3>{255, 255, 255}));
  EXPECT_EQ(Rgb(image, 20, 19), (std::array<int, 3>{255, 255, 255}));
  // the pen-down line, third group (green), through the middle of row 40 where it lies on the boundary
  const std::array<int, 3> line = Rgb(image, 50, 39), below = Rgb(image, 50, 40);
  EXPECT_LT(line[0], 200);
  EXPECT_LT(below[0], 200);
  EXPECT_GT(line[1], line[0]);  // green
  // no travel without --travel: the way from (60, 20) to (10, 40) stays white
  EXPECT_EQ(Rgb(image, 40, 30), (std::array<int, 3>{255, 255, 255}));
}

TEST(Preview, ClassOptionAndTravelSelectWhatIsDrawn) {
  PreviewOptions only;
  only.pixelsPerMm = 1;
  only.group = 1;
  const PreviewImage selected = Render(TwoBlocksAndALine(), only);
  EXPECT_EQ(Rgb(selected, 15, 15), (std::array<int, 3>{255, 255, 255}));
  EXPECT_EQ(Rgb(selected, 65, 15), (std::array<int, 3>{220, 0, 0}));
  EXPECT_EQ(Rgb(selected, 50, 39)[0], 255);

  PreviewOptions travel;
  travel.pixelsPerMm = 1;
  travel.travel = true;
  const PreviewImage withTravel = Render(TwoBlocksAndALine(), travel);
  // somewhere on the way from (60, 20) to (10, 40) mm a dashed blue pixel shows
  bool blue = false;
  for (int x = 20; x < 55; ++x) {
    const double y = 20 + (60.0 - x) / 50.0 * 20;
    for (int dy = -1; dy <= 1; ++dy) {
      const std::array<int, 3> p = Rgb(withTravel, x, static_cast<int>(y) + dy);
      if (p[2] > p[0] + 20) blue = true;
    }
  }
  EXPECT_TRUE(blue);
}

TEST(Preview, DotsAndPointsBeyondThePlateAreCountedNotDrawn) {
  Stream s;
  s.Header(SmallPlate());
  int64_t hx = 0, hy = 0;
  AddBlock(s, 100, 100, hx, hy, 995, 0, 10, 1);  // 5 of 10 dots beyond 100 mm (one dot of tolerance)
  AddBlock(s, 100, 100, hx, hy, 0, 600, 8, 1);   // a row below the plate
  s.Rec("V2", 0).Rec("PD", 0).Motion8(-100, 0);  // a move to the left of x = 0
  PreviewStats stats;
  PreviewOptions options;
  options.pixelsPerMm = 1;
  Render(s.str(), options, &stats);
  EXPECT_EQ(stats.dotsOutside, 4u + 8u);
  EXPECT_EQ(stats.pointsOutside, 1u);
}

TEST(Preview, FrameFitsThePlateAndRefusesHugePictures) {
  JobGeometry g;
  g.plateWidthHmm = 60000;
  g.plateHeightHmm = 30000;
  g.resolutionXDpi = g.resolutionYDpi = 500;
  const PreviewFrame automatic = FramePreview(g, 0);
  EXPECT_EQ(automatic.width, kDefaultPreviewPixels);
  EXPECT_EQ(automatic.height, kDefaultPreviewPixels / 2);
  g.plateWidthHmm = 1000;  // 10 x 300 mm: never more than one pixel per dot
  g.resolutionXDpi = g.resolutionYDpi = 127;
  const PreviewFrame coarse = FramePreview(g, 0);
  EXPECT_NEAR(coarse.pixelsPerMm, 5.0, 1e-9);
  EXPECT_EQ(coarse.height, 1500);
  g.plateWidthHmm = 60000;
  EXPECT_THROW(FramePreview(g, 100), ToolError);
  g.plateWidthHmm = 0;
  EXPECT_THROW(FramePreview(g, 1), ToolError);
}

// Reads a PNG back with libpng: width, height, and RGB or RGBA bytes.
PreviewImage ReadPng(const std::string& bytes) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  EXPECT_TRUE(png_image_begin_read_from_memory(&image, bytes.data(), bytes.size()));
  PreviewImage out;
  out.alpha = (image.format & PNG_FORMAT_FLAG_ALPHA) != 0;
  image.format = out.alpha ? PNG_FORMAT_RGBA : PNG_FORMAT_RGB;
  out.width = static_cast<int>(image.width);
  out.height = static_cast<int>(image.height);
  out.pixels.resize(PNG_IMAGE_SIZE(image));
  EXPECT_TRUE(png_image_finish_read(&image, nullptr, out.pixels.data(), 0, nullptr));
  return out;
}

TEST(Preview, PngHoldsThePictureExactly) {
  PreviewOptions options;
  options.pixelsPerMm = 1.5;
  const PreviewImage image = Render(TwoBlocksAndALine(), options);
  std::ostringstream png;
  WritePng(image, png);
  const PreviewImage back = ReadPng(png.str());
  EXPECT_EQ(back.width, 150);
  EXPECT_EQ(back.height, 75);
  EXPECT_FALSE(back.alpha);
  EXPECT_EQ(back.pixels, image.pixels);
}

TEST(Preview, SvgDrawsVectorsInMillimetresAndEmbedsTheRaster) {
  std::istringstream in(TwoBlocksAndALine());
  std::ostringstream svg;
  WriteSvgPreview(in, PreviewOptions{}, svg);
  const std::string text = svg.str();
  EXPECT_NE(text.find("width=\"100mm\" height=\"50mm\" viewBox=\"0 0 100 50\""), std::string::npos);
  // the pen-down line, third group, within a motor step of (10, 40) - (90, 40) mm
  const size_t line = text.find("<polyline data-group=\"2\" points=\"");
  ASSERT_NE(line, std::string::npos) << text.substr(0, 2000);
  double x0 = 0, y0 = 0, x1 = 0, y1 = 0;
  ASSERT_EQ(std::sscanf(text.c_str() + line, "<polyline data-group=\"2\" points=\"%lf,%lf %lf,%lf\"", &x0,
                        &y0, &x1, &y1),
            4);
  EXPECT_NEAR(x0, 10, 0.035);
  EXPECT_NEAR(y0, 40, 0.035);
  EXPECT_NEAR(x1, 90, 0.035);
  EXPECT_NEAR(y1, 40, 0.035);
  EXPECT_EQ(text.find("class=\"travel\""), std::string::npos);
  // the raster rows as a transparent image over the plate
  const size_t image = text.find("<image x=\"0\" y=\"0\" width=\"100\" height=\"50\"");
  ASSERT_NE(image, std::string::npos);
  EXPECT_NE(text.find("href=\"data:image/png;base64,iVBORw0KGgo", image), std::string::npos);
  EXPECT_EQ(text.substr(text.size() - 7), "</svg>\n");

  std::istringstream again(TwoBlocksAndALine());
  std::ostringstream withTravel;
  PreviewOptions travel;
  travel.travel = true;
  WriteSvgPreview(again, travel, withTravel);
  EXPECT_NE(withTravel.str().find("class=\"travel\""), std::string::npos);
}

TEST(Preview, StreamsWithoutAJobHeaderAreRefused) {
  std::istringstream in(Stream().Rec("PU", 0).Rec("JF", 0).str());
  try {
    RenderPreview(in, PreviewOptions{});
    FAIL() << "no error";
  } catch (const ToolError& error) {
    EXPECT_EQ(error.exitStatus(), kExitFailed);
  }
  std::istringstream one(Stream().Header(SmallPlate()).Rec("JF", 0).str());
  PreviewOptions second;
  second.job = 2;
  EXPECT_THROW(RenderPreview(one, second), ToolError);
}

// ---- round trips from the engine ----

// The engine's layer bytes after the raster pass, by layer in stream order (colour classes 0..7, then
// grey), and the dots the preview engraves for each layer.
using DotMap = std::map<std::pair<int64_t, int64_t>, int>;  // (x, y) -> power byte, or 1 for a bit

class RoundTrip : public test::ScratchDirTest {
 protected:
  void SetUp() override {
    ScratchDirTest::SetUp();
    settings_ = test::DefaultSettings();
    namespace s = settings;
    test::SetU32(settings_, s::kPlateWidthUm, 100000);  // a small plate keeps the layers small
    test::SetU32(settings_, s::kPlateHeightUm, 60000);
    test::SetU16(settings_, s::ClassBlock(1) + s::kClassPower, 80);
    test::SetU16(settings_, s::ClassBlock(2) + s::kClassPower, 30);
    test::SetU16(settings_, s::ClassBlock(2) + s::kClassSpeed, 250);
  }

  // The rendering road's bitmap calls of the test picture.
  void Feed(test::RecordSet& set) {
    auto mm = [](int dots) { return dots * 25.4 / 500.0; };
    // class 1: a ring of bits, 40 x 12 dots at (24, 8)
    ostrelinGnfToHmapBitInit(set.ctx, set.spool, set.job, mm(24), mm(8), 40, 1);
    for (int r = 0; r < 12; ++r) {
      uint8_t row[5];
      for (int b = 0; b < 5; ++b) row[b] = (r == 0 || r == 11) ? 0xFF : 0x00;
      row[0] |= 0x80;
      row[4] |= 0x01;
      if (r == 5) row[2] = 0x5A;
      ostrelinGnfToHmapBit(set.ctx, set.spool, set.job, row);
    }
    // class 2: two blobs far apart on the same rows, and one further down
    ostrelinGnfToHmapBitInit(set.ctx, set.spool, set.job, mm(3), mm(30), 200, 2);
    for (int r = 0; r < 6; ++r) {
      uint8_t row[25] = {};
      row[0] = static_cast<uint8_t>(0xF0 >> r);
      row[24] = static_cast<uint8_t>(0x0F << (r % 4));
      ostrelinGnfToHmapBit(set.ctx, set.spool, set.job, row);
    }
    ostrelinGnfToHmapBitInit(set.ctx, set.spool, set.job, mm(50), mm(60), 16, 2);
    const uint8_t lone[2] = {0x01, 0x80};
    ostrelinGnfToHmapBit(set.ctx, set.spool, set.job, lone);
    // grey: a gradient (byte rows) and, four empty rows below, a flat black patch (a two-level zone)
    ostrelinGnfToHmapOctetInit(set.ctx, set.spool, set.job, mm(10), mm(80), 30);
    for (int r = 0; r < 5; ++r) {
      std::vector<uint8_t> rgb(30 * 3);
      for (int i = 0; i < 30; ++i)
        rgb[static_cast<size_t>(i) * 3] = rgb[i * 3 + 1] = rgb[i * 3 + 2] =
            static_cast<uint8_t>(i * 8 + r * 5);
      ostrelinGnfToHmapOctet(set.ctx, set.spool, set.job, rgb.data());
    }
    ostrelinGnfToHmapOctetInit(set.ctx, set.spool, set.job, mm(60), mm(100), 12);
    for (int r = 0; r < 3; ++r) {
      const std::vector<uint8_t> black(12 * 3, 0);
      ostrelinGnfToHmapOctet(set.ctx, set.spool, set.job, black.data());
    }
  }

  // The job stream through the exports.
  std::string JobStream() {
    test::RecordSet set;
    ostrelinInit(set.ctx, set.spool, set.job, settings_.data());
    Feed(set);
    ostrelinDoBinary(set.ctx, set.spool, set.job);
    EXPECT_TRUE(messages_.texts.empty()) << messages_.texts.front();
    const std::vector<uint8_t> bytes = test::ReadBack(set);
    ostrelinClean(set.ctx, set.spool, set.job);
    return std::string(bytes.begin(), bytes.end());
  }

  // The same layers prepared as job assembly prepares them and turned as the raster writers turn them,
  // read back whole.
  std::vector<DotMap> Layers() {
    test::RecordSet set;
    ostrelinInit(set.ctx, set.spool, set.job, settings_.data());
    Feed(set);
    Context& ctx = *set.ctx;
    Job& job = *set.job;
    const auto engineDpi = static_cast<float>(ctx.engineResolution);
    ctx.plateExtentWidth = std::max(DotsFromHmm(ctx.plateWidthHmm, engineDpi) - 1, ctx.usedWidth);
    ctx.plateExtentHeight = std::max(DotsFromHmm(ctx.plateHeightHmm, engineDpi) - 1, ctx.usedHeight);
    std::vector<DotMap> layers;
    auto read = [&](void** layer, bool grey) {
      void* turned = raster::OrientLayer(ctx, job, layer, grey);
      void* source = turned != nullptr ? turned : *layer;
      const auto stride = static_cast<size_t>(job.currentStride);
      std::vector<uint8_t> bytes(stride * static_cast<size_t>(job.currentRows));
      ReadAtOffset(ctx, &source, static_cast<uint32_t>(bytes.size()), bytes.data(), 0);
      DotMap dots;
      for (size_t y = 0; y < static_cast<size_t>(job.currentRows); ++y) {
        for (size_t x = 0; x < stride; ++x) {
          const uint8_t v = bytes[y * stride + x];
          if (v == 0) continue;
          if (grey) {
            dots[{static_cast<int64_t>(x), static_cast<int64_t>(y)}] = v;
          } else {
            for (int b = 0; b < 8; ++b) {
              if ((v >> (7 - b)) & 1)
                dots[{static_cast<int64_t>(x * 8 + static_cast<size_t>(b)), static_cast<int64_t>(y)}] = 1;
            }
          }
        }
      }
      if (turned != nullptr) CloseLayerFile(&turned);
      layers.push_back(dots);
    };
    for (int c = 0; c < 8; ++c) {
      if (job.colourLayers[c] == nullptr) continue;
      job.currentClass = static_cast<uint8_t>(c);
      raster::RasterPass(ctx, *set.spool, job);
      read(&job.colourLayers[c], false);
    }
    job.currentClass = 0;
    if (job.greyLayer != nullptr) {
      raster::MapGreyToPower(ctx, *set.spool, job);
      raster::RasterPass(ctx, *set.spool, job);
      read(&job.greyLayer, true);
    }
    EXPECT_TRUE(messages_.texts.empty()) << messages_.texts.front();
    ostrelinClean(set.ctx, set.spool, set.job);
    return layers;
  }

  std::vector<uint8_t> settings_;
  test::CapturedMessages messages_;
};

// What the preview engraves, by layer: for bit rows 1 per dot, for byte rows the power byte; the power
// of every bit row of the grey layer is kept to check it against the layer's level.
struct PreviewLayers : JobActions {
  void OnRasterSpan(const RasterSpan& span) override {
    if (static_cast<size_t>(span.layer) >= dots.size()) dots.resize(static_cast<size_t>(span.layer) + 1);
    for (int64_t i = 0; i < span.dots; ++i) {
      const std::pair<int64_t, int64_t> at{span.xDot + i, span.yRow};
      dots[static_cast<size_t>(span.layer)][at] = span.level != 0 ? span.level : 1;
      if (span.greyLayer && span.level == 0) bitPower[at] = span.powerPercent;
    }
  }
  std::vector<DotMap> dots;
  std::map<std::pair<int64_t, int64_t>, double> bitPower;
};

TEST_F(RoundTrip, EngravedRasterDotsEqualTheLayersAfterTheRasterPass) {
  namespace s = settings;
  const struct {
    const char* name;
    uint16_t flags;
    uint16_t orientation;
    uint16_t firstDotMode;
  } cases[] = {
      {"top-down, alternating rows", 0, 0, 0},
      {"bottom-up, one-way rows", s::kFlagBottomUp | s::kFlagOneWay, 0, 0},
      {"section split, first dot", s::kFlagSectionSplit, 0, 1},
      {"mirrored", 0, 3, 0},
      {"turned, bottom-up, sections", s::kFlagBottomUp | s::kFlagSectionSplit, 5, 2},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    test::SetU16(settings_, s::kFlagWord, c.flags);
    test::SetU16(settings_, s::kOrientation, c.orientation);
    test::SetU16(settings_, s::kFirstDotMode, c.firstDotMode);
    const std::vector<DotMap> layers = Layers();
    ASSERT_EQ(layers.size(), 3u);  // classes 1 and 2, grey

    PreviewLayers seen;
    JobWalker walker(seen, 1);
    std::istringstream in(JobStream());
    const DecodeSummary summary = DecodeJobStream(in, walker);
    ASSERT_TRUE(summary.Clean()) << summary.Problems();
    ASSERT_EQ(seen.dots.size(), 3u);
    for (size_t layer = 0; layer < 2; ++layer) {
      EXPECT_FALSE(layers[layer].empty());
      EXPECT_EQ(seen.dots[layer], layers[layer]) << "colour layer " << layer;
    }
    // The grey layer: every non-zero byte is engraved; byte rows carry the byte itself, two-level
    // zones the zone's power, within the rounding of "PW" to whole percent.
    const DotMap& grey = layers[2];
    const DotMap& engraved = seen.dots[2];
    ASSERT_EQ(engraved.size(), grey.size());
    size_t byteDots = 0, bitDots = 0;
    for (const auto& [at, level] : grey) {
      const auto found = engraved.find(at);
      ASSERT_NE(found, engraved.end()) << "dot " << at.first << ", " << at.second;
      if (seen.bitPower.count(at) != 0) {
        ++bitDots;
        EXPECT_LE(std::abs(seen.bitPower.at(at) * 1.28 - level), 1.28 + 0.64)
            << "dot " << at.first << ", " << at.second;
      } else {
        ++byteDots;
        EXPECT_EQ(found->second, level) << "dot " << at.first << ", " << at.second;
      }
    }
    EXPECT_GT(byteDots, 0u);
    EXPECT_GT(bitDots, 0u);
  }
}

// Pen-down end points of a stroke script rendered through the exports, against the points the script
// gives (dots at the vector resolution: the sample settings' machine kind takes them as they are).
TEST(VectorRoundTrip, PenDownEndPointsEqualThePlannedPointsWithinOneMotorStep) {
  const std::string root = OSTRELIN_SOURCE_DIR;
  std::ifstream script(root + "/examples/sample-strokes.txt");
  ASSERT_TRUE(script);
  const std::vector<StrokeCommand> commands = ParseStrokeScript(script, "sample-strokes.txt");
  const std::vector<uint8_t> sampleSettings = LoadSettingsFile(root + "/examples/sample-settings.json");
  const double vectorDpi = 500;  // the sample settings' vector resolution

  // The strokes as polylines in mm: the pen-up point opens one, each pen-down point extends it.
  std::vector<std::vector<std::pair<double, double>>> strokes;
  for (const StrokeCommand& command : commands) {
    const std::pair<double, double> at{command.x * 25.4 / vectorDpi, command.y * 25.4 / vectorDpi};
    if (command.kind == StrokeCommand::Kind::kPenUp) strokes.push_back({at});
    if (command.kind == StrokeCommand::Kind::kPenDown) strokes.back().push_back(at);
  }

  const struct { uint8_t controller, selector; } cases[] = {{0, 0}, {0, 1}, {0, 2}, {1, 0}};
  for (const auto& c : cases) {
    SCOPED_TRACE("controller " + std::to_string(c.controller) + ", selector " + std::to_string(c.selector));
    std::vector<uint8_t> record = sampleSettings;
    test::SetU16(record, settings::kMotionWord, static_cast<uint16_t>(c.controller << 8 | c.selector));
    std::ostringstream job;
    RenderJob(record, commands, job, RenderOptions{});

    Recorded seen;
    JobWalker walker(seen, 1);
    std::istringstream in(job.str());
    ASSERT_TRUE(DecodeJobStream(in, walker).Clean());
    const double tolerance = seen.geometry.MotionUnitMm();
    EXPECT_EQ(seen.geometry.motionRecordBytes, c.controller == 0 ? 8 : 12);

    // The pen-down runs of the stream as polylines, a run ending where the pen lifts.
    std::vector<std::vector<std::pair<double, double>>> runs;
    bool open = false;
    for (const PenMove& move : seen.penMoves) {
      if (!move.penDown) {
        open = false;
        continue;
      }
      if (!open) runs.push_back({{move.fromXMm, move.fromYMm}});
      open = true;
      runs.back().push_back({move.toXMm, move.toYMm});
    }
    ASSERT_EQ(runs.size(), strokes.size());
    for (size_t k = 0; k < strokes.size(); ++k) {
      // Every planned point is a record end of the run, in order (long moves may add ends between).
      size_t next = 0;
      for (const auto& [x, y] : strokes[k]) {
        while (next < runs[k].size() && !(std::abs(runs[k][next].first - x) <= tolerance &&
                                          std::abs(runs[k][next].second - y) <= tolerance)) {
          ++next;
        }
        ASSERT_LT(next, runs[k].size()) << "stroke " << k << ": no record ends at (" << x << ", " << y << ")";
      }
      EXPECT_EQ(next, runs[k].size() - 1) << "stroke " << k << " goes on after its last point";
    }
  }
}

}  // namespace
}  // namespace ostrelin::tools
