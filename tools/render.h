// The rendering road driven from PNG images and a stroke script: the engine's exports in their calling
// order, and the finished job read back in chunks.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "tools/image_input.h"
#include "tools/stroke_script.h"

namespace ostrelin::tools {

// How image rows reach the engine.
enum class ImageRows {
  kAuto,  // one-bit rows for black-and-white images, grey rows otherwise
  kBits,  // one-bit rows: a pixel is engraved when its grey is below 128
  kGrey,  // grey rows (three bytes per pixel, reduced to grey by the engine)
};

struct RenderOptions {
  bool trace = false;     // show the engine's diagnostics on standard error
  bool progress = false;  // a progress bar on standard error (the caller checks for a terminal)
  ImageRows rows = ImageRows::kAuto;
  uint8_t colourClass = 0;  // colour class of one-bit rows, 0..8
};

// What a page holds: images placed on the plate, then strokes.
struct RenderPage {
  std::vector<ImagePlacement> images;
  std::vector<StrokeCommand> strokes;
};

// Widest rows the engine takes: one plane of its row buffer, bytes for grey rows, bits for one-bit rows.
constexpr uint32_t kMaxGreyRowPixels = 32772;
constexpr uint32_t kMaxBitRowPixels = 8 * 32772;

// Opens a job with a copy of settings (the engine converts its speeds in place), feeds the page's images row
// by row (each pixel one dot at the engine resolution) and then its strokes, assembles the job and writes it
// to out; returns the number of bytes written. Image files are checked before the engine is called. When the
// engine reports an error (it has shown its message already) nothing more is written and a Failure names the
// call.
uint64_t RenderPageJob(const std::vector<uint8_t>& settings, const RenderPage& page, std::ostream& out,
                       const RenderOptions& options);

// The same for a page of strokes only.
uint64_t RenderJob(const std::vector<uint8_t>& settings, const std::vector<StrokeCommand>& commands,
                   std::ostream& out, const RenderOptions& options);

// The render command: images (FILE or FILE@X,Y), a stroke script, or both.
struct RenderCommandArguments {
  std::vector<std::string> images;
  std::string script;    // empty: no strokes
  std::string settings;  // empty: the defaults
  std::string output;
  ImageRows rows = ImageRows::kAuto;
  int colourClass = 0;
  bool trace = false;
  std::string preview;  // when set: a PNG or SVG preview of the job written there
};
int RenderCommand(const RenderCommandArguments& arguments);

}  // namespace ostrelin::tools
