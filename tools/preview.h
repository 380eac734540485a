// Pictures of a job stream as the engraver will execute it: a PNG of the whole plate (raster rows with
// their power as shades, vector moves as lines, each settings group in its colour) and an SVG of the
// vector moves. Both are drawn from the stream alone while it is decoded; raster rows are folded into
// the picture's pixels as they arrive, so memory depends on the picture's size, not on the job's.
#pragma once

#include <array>
#include <cstdint>
#include <istream>
#include <ostream>
#include <string>
#include <vector>

#include "tools/job_model.h"

namespace ostrelin::tools {

struct PreviewOptions {
  double pixelsPerMm = 0;  // 0: the plate's longer side on kDefaultPreviewPixels, at most one pixel per dot
  bool travel = false;     // draw pen-up travel and raster head moves as thin dashed lines
  int group = -1;          // draw only this settings group; -1 all
  int job = 1;             // job of a series stream, 1 for the first
};

constexpr int kDefaultPreviewPixels = 1600;
constexpr uint64_t kMaxPreviewPixels = 25'000'000;

// Colour of a settings group: the colours of the colour classes 0 black, 1 red, 2 green, 3 yellow,
// 4 blue, 5 magenta, 6 cyan, 7 orange, in the order the job first uses the groups.
std::array<uint8_t, 3> GroupColour(int group);

// A finished picture: 8-bit RGB, or RGBA when alpha is set, rows from the top (y = 0 of the plate).
struct PreviewImage {
  int width = 0;
  int height = 0;
  bool alpha = false;
  std::vector<uint8_t> pixels;
  const uint8_t* Pixel(int x, int y) const {
    return pixels.data() +
           (static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x)) * (alpha ? 4 : 3);
  }
};

// What a preview drew and what it left out.
struct PreviewStats {
  uint64_t rasterRows = 0;
  uint64_t engravedDots = 0;
  uint64_t penMoves = 0;
  uint64_t dotsOutside = 0;    // raster dots beyond the plate, not drawn
  uint64_t pointsOutside = 0;  // motion record end points beyond the plate
  int groups = 0;
  DecodeSummary decode;
};

// Plate and scale of a picture: throws UsageError when the header gives no plate or the picture
// would exceed kMaxPreviewPixels.
struct PreviewFrame {
  double pixelsPerMm = 0;
  int width = 0;
  int height = 0;
};
PreviewFrame FramePreview(const JobGeometry& geometry, double pixelsPerMm);

// Draws the selected job of the stream. Throws Failure when the stream holds no job header.
PreviewImage RenderPreview(std::istream& job, const PreviewOptions& options, PreviewStats* stats = nullptr);

// PNG of an image (libpng).
void WritePng(const PreviewImage& image, std::ostream& out);

// SVG of the selected job, in millimetres: the plate, the pen-down moves as polylines (one per run of
// moves under one group, with a data-group attribute), the travel with options.travel, and the raster
// rows as an embedded transparent PNG over them.
void WriteSvgPreview(std::istream& job, const PreviewOptions& options, std::ostream& out,
                     PreviewStats* stats = nullptr);

struct PreviewArguments {
  std::string job;
  std::string output;  // ends in .png or .svg
  PreviewOptions options;
};
// ostrelin preview: the picture named by output; exit status 0 (a damaged stream is drawn as far as it
// can be read, with a message on standard error).
int Preview(const PreviewArguments& arguments);

// The PNG or SVG preview of a job file just written (print --preview, render --preview).
void WritePreviewFile(const std::string& jobPath, const std::string& imagePath,
                      const PreviewOptions& options = {});

}  // namespace ostrelin::tools
