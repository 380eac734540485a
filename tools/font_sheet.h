// The font sheet: every glyph of the stroke font drawn large on its grid with its code, so that a
// person can check the font by eye.
#pragma once

#include <string>

#include "tools/preview.h"

namespace ostrelin::tools {

constexpr int kDefaultSheetStepPixels = 6;
constexpr int kMinSheetStepPixels = 2;
constexpr int kMaxSheetStepPixels = 40;

// The codes a sheet shows: space to 127, in rows of kSheetColumns.
constexpr int kSheetFirstCode = 32;
constexpr int kSheetColumns = 16;
constexpr int kSheetRows = 6;

struct FontSheetOptions {
  int set = -1;                              // one set, 0 to 7; -1 for all eight
  int stepPixels = kDefaultSheetStepPixels;  // pixels per glyph grid step
};

// Where a glyph's grid point (gx, gy) lands on the sheet, in pixels from the top left corner.
struct SheetPoint {
  double x = 0;
  double y = 0;
};
SheetPoint SheetGlyphPoint(const FontSheetOptions& options, int set, int code, double gx, double gy);

// Draws the sheet: for each set shown, a title line and the codes 32 to 127 in cells of 16 columns.
// A cell shows the glyph grid (gx -1 to 6, gy -4 to 11) in light grey with the baseline and the cap
// height in light blue and the x-height dotted, the glyph in black, and the code in small digits below,
// red for a non-spacing character. Throws UsageError for a set or step outside their ranges.
PreviewImage DrawFontSheet(const FontSheetOptions& options);

struct FontSheetArguments {
  std::string output;  // PNG file, "-" for standard output
  FontSheetOptions options;
};
// ostrelin font-sheet: writes the PNG; exit status 0, or a ToolError.
int FontSheet(const FontSheetArguments& arguments);

}  // namespace ostrelin::tools
