// The font sheet: the stroke font's glyphs drawn from their stroke bytes onto a white picture.
#include "tools/font_sheet.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <string>

#include "engine/hpgl/stroke_font.h"
#include "tools/file_io.h"
#include "tools/tool_error.h"

namespace ostrelin::tools {
namespace {

using Colour = std::array<uint8_t, 3>;

constexpr Colour kInk = {0, 0, 0};
constexpr Colour kGridBox = {200, 200, 200};
constexpr Colour kGridDot = {205, 205, 205};
constexpr Colour kBaseline = {140, 175, 235};
constexpr Colour kXHeight = {175, 200, 240};
constexpr Colour kCode = {90, 90, 90};
constexpr Colour kNonSpacingCode = {210, 0, 0};

// Layout in grid steps: a margin round the sheet, a title line above each set, cells of 10 x 21 steps.
constexpr double kMarginSteps = 2;
constexpr double kTitleSteps = 12;
constexpr double kTitleBaselineSteps = 9;
constexpr double kCellWidthSteps = 10;
constexpr double kCellHeightSteps = 21;
// The glyph origin (gx 0, gy 0) within its cell: gx -1 lands 1 step from the cell's left, gy 11 one
// step below its top.
constexpr double kOriginXSteps = 2;
constexpr double kOriginYSteps = 12;
// The code's digits: half-size glyphs on a baseline near the cell's bottom.
constexpr double kCodeScale = 0.42;
constexpr double kCodeBaselineSteps = 20;
// A glyph's advance in grid steps (the character cell is 1.5 widths of 4 steps).
constexpr double kAdvanceSteps = 6;

constexpr double SetBlockSteps() { return kTitleSteps + kSheetRows * kCellHeightSteps; }

int SetsShown(const FontSheetOptions& options) { return options.set < 0 ? hpgl::kFontSets : 1; }

// Index of a set on the sheet.
int SetRow(const FontSheetOptions& options, int set) { return options.set < 0 ? set : 0; }

void Validate(const FontSheetOptions& options) {
  if (options.set < -1 || options.set >= hpgl::kFontSets) {
    throw UsageError("font sheet: set " + std::to_string(options.set) + " is not 0 to 7");
  }
  if (options.stepPixels < kMinSheetStepPixels || options.stepPixels > kMaxSheetStepPixels) {
    throw UsageError("font sheet: step of " + std::to_string(options.stepPixels) + " pixels is not " +
                     std::to_string(kMinSheetStepPixels) + " to " + std::to_string(kMaxSheetStepPixels));
  }
}

// An RGB picture with antialiased round-ended lines.
class Sheet {
 public:
  Sheet(int width, int height) {
    image_.width = width;
    image_.height = height;
    image_.pixels.assign(static_cast<size_t>(width) * static_cast<size_t>(height) * 3, 255);
  }

  // A line of the given half width (pixels); a line from a point to itself is a round dot. Each pixel
  // takes the colour in proportion to how far its centre lies within the line's edge.
  void Line(double x0, double y0, double x1, double y1, double halfWidth, const Colour& colour) {
    const double reach = halfWidth + 1;
    const int left = std::max(0, static_cast<int>(std::floor(std::min(x0, x1) - reach)));
    const int right = std::min(image_.width - 1, static_cast<int>(std::ceil(std::max(x0, x1) + reach)));
    const int top = std::max(0, static_cast<int>(std::floor(std::min(y0, y1) - reach)));
    const int bottom = std::min(image_.height - 1, static_cast<int>(std::ceil(std::max(y0, y1) + reach)));
    const double dx = x1 - x0;
    const double dy = y1 - y0;
    const double lengthSquared = dx * dx + dy * dy;
    for (int py = top; py <= bottom; ++py) {
      for (int px = left; px <= right; ++px) {
        const double cx = px + 0.5;
        const double cy = py + 0.5;
        double t = lengthSquared > 0 ? ((cx - x0) * dx + (cy - y0) * dy) / lengthSquared : 0;
        t = std::clamp(t, 0.0, 1.0);
        const double distance = std::hypot(cx - (x0 + t * dx), cy - (y0 + t * dy));
        const double coverage = std::clamp(halfWidth + 0.5 - distance, 0.0, 1.0);
        if (coverage > 0) Blend(px, py, colour, coverage);
      }
    }
  }

  void Blend(int x, int y, const Colour& colour, double coverage) {
    if (x < 0 || y < 0 || x >= image_.width || y >= image_.height) return;
    uint8_t* pixel =
        image_.pixels.data() +
        (static_cast<size_t>(y) * static_cast<size_t>(image_.width) + static_cast<size_t>(x)) * 3;
    for (size_t c = 0; c < 3; ++c) {
      pixel[c] = static_cast<uint8_t>(std::lround(pixel[c] + (colour[c] - pixel[c]) * coverage));
    }
  }

  PreviewImage Take() { return std::move(image_); }

 private:
  PreviewImage image_;
};

// Strokes one glyph whose grid point (gx, gy) lands at (originX + gx step, originY - gy step).
void DrawGlyph(Sheet& sheet, const uint8_t* strokes, double originX, double originY, double step,
               double halfWidth, const Colour& colour) {
  double x = originX;
  double y = originY;
  for (; *strokes != 0; ++strokes) {
    const double nx = originX + hpgl::StrokeX(*strokes) * step;
    const double ny = originY - hpgl::StrokeY(*strokes) * step;
    if (hpgl::StrokeIsDraw(*strokes)) sheet.Line(x, y, nx, ny, halfWidth, colour);
    x = nx;
    y = ny;
  }
}

// A line of text in set 0 from (x, baseline); step is the pixels per grid step.
void DrawText(Sheet& sheet, const std::string& text, double x, double baseline, double step,
              const Colour& colour) {
  const double halfWidth = std::max(0.6, step * 0.14);
  for (const char c : text) {
    const auto code = static_cast<unsigned char>(c);
    if (code < hpgl::kGlyphsPerSet)
      DrawGlyph(sheet, hpgl::GlyphStrokes(0, code), x, baseline, step, halfWidth, colour);
    x += kAdvanceSteps * step;
  }
}

// The guides of a cell: the grid box, its points, the baseline and cap height, the dotted x-height.
void DrawGuides(Sheet& sheet, double originX, double originY, double step) {
  auto at = [&](double gx, double gy) { return SheetPoint{originX + gx * step, originY - gy * step}; };
  for (int gx = hpgl::kGlyphMinX; gx <= hpgl::kGlyphMaxX; ++gx) {
    for (int gy = hpgl::kGlyphMinY; gy <= hpgl::kGlyphMaxY; ++gy) {
      const SheetPoint p = at(gx, gy);
      sheet.Blend(static_cast<int>(p.x), static_cast<int>(p.y), kGridDot, 1.0);
    }
  }
  const SheetPoint low = at(hpgl::kGlyphMinX, hpgl::kGlyphMinY);
  const SheetPoint high = at(hpgl::kGlyphMaxX, hpgl::kGlyphMaxY);
  sheet.Line(low.x, low.y, high.x, low.y, 0.5, kGridBox);
  sheet.Line(low.x, high.y, high.x, high.y, 0.5, kGridBox);
  sheet.Line(low.x, low.y, low.x, high.y, 0.5, kGridBox);
  sheet.Line(high.x, low.y, high.x, high.y, 0.5, kGridBox);
  for (const int gy : {0, 6}) sheet.Line(low.x, at(0, gy).y, high.x, at(0, gy).y, 0.5, kBaseline);
  for (double gx = hpgl::kGlyphMinX; gx < hpgl::kGlyphMaxX; gx += 0.5) {
    sheet.Line(at(gx, 4).x, at(gx, 4).y, at(gx + 0.25, 4).x, at(gx, 4).y, 0.5, kXHeight);
  }
}

// A note under the title of set 7, which set 0 labels draw their bytes of 128 and above from.
constexpr const char* kSet7Note = "BYTE = CODE + 128 IN SET 0 LABELS";

}  // namespace

SheetPoint SheetGlyphPoint(const FontSheetOptions& options, int set, int code, double gx, double gy) {
  const double step = options.stepPixels;
  const int cell = code - kSheetFirstCode;
  const double cellLeft = kMarginSteps + (cell % kSheetColumns) * kCellWidthSteps;
  const double cellTop = kMarginSteps + SetRow(options, set) * SetBlockSteps() + kTitleSteps +
                         (cell / kSheetColumns) * kCellHeightSteps;
  return {(cellLeft + kOriginXSteps + gx) * step, (cellTop + kOriginYSteps - gy) * step};
}

PreviewImage DrawFontSheet(const FontSheetOptions& options) {
  Validate(options);
  const double step = options.stepPixels;
  const int width =
      static_cast<int>(std::lround((2 * kMarginSteps + kSheetColumns * kCellWidthSteps) * step));
  const int height =
      static_cast<int>(std::lround((2 * kMarginSteps + SetsShown(options) * SetBlockSteps()) * step));
  Sheet sheet(width, height);
  const double glyphHalfWidth = std::max(0.7, step * 0.14);
  for (int set = 0; set < hpgl::kFontSets; ++set) {
    if (options.set >= 0 && set != options.set) continue;
    const double blockTop = kMarginSteps + SetRow(options, set) * SetBlockSteps();
    const double titleBaseline = (blockTop + kTitleBaselineSteps) * step;
    DrawText(sheet, "SET " + std::to_string(set), kMarginSteps * step, titleBaseline, step, kInk);
    if (set == 7)
      DrawText(sheet, kSet7Note, (kMarginSteps + 42) * step, titleBaseline, step * kCodeScale, kCode);
    for (int code = kSheetFirstCode; code < hpgl::kGlyphsPerSet; ++code) {
      const SheetPoint origin = SheetGlyphPoint(options, set, code, 0, 0);
      DrawGuides(sheet, origin.x, origin.y, step);
      DrawGlyph(sheet, hpgl::GlyphStrokes(set, code), origin.x, origin.y, step, glyphHalfWidth, kInk);
      // The code, centred under the glyph grid.
      const std::string digits = std::to_string(code);
      const double codeStep = step * kCodeScale;
      const double textWidth = (static_cast<double>(digits.size()) * kAdvanceSteps - 2) * codeStep;
      const double cellCentre = origin.x + (kCellWidthSteps / 2 - kOriginXSteps) * step;
      const double baseline = origin.y + (kCodeBaselineSteps - kOriginYSteps) * step;
      DrawText(sheet, digits, cellCentre - textWidth / 2, baseline, codeStep,
               hpgl::IsNonSpacing(set, code) ? kNonSpacingCode : kCode);
    }
  }
  return sheet.Take();
}

int FontSheet(const FontSheetArguments& arguments) {
  const PreviewImage image = DrawFontSheet(arguments.options);
  OutputFile out(arguments.output);
  WritePng(image, out.stream());
  out.Commit();
  return kExitOk;
}

}  // namespace ostrelin::tools
