// PNG images for the rendering road: read row by row (memory stays at a few rows whatever the image's
// size, except for interlaced images, which are read whole), every pixel as 8-bit RGB over white.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace ostrelin::tools {

// An image and where it goes on the plate.
struct ImagePlacement {
  std::string path;
  double xMm = 0.0;  // left edge, millimetres from the plate's origin
  double yMm = 0.0;  // top edge
};

// Parses "FILE" or "FILE@X,Y" (millimetres, not negative). A text after the last "@" made only of
// digits, signs, points, exponents and commas is a position and must be two numbers; anything else
// after "@" is part of the file name. Throws a UsageError when the position is malformed.
ImagePlacement ParseImagePlacement(const std::string& text);

// Grey of an RGB pixel, weighted as the engine weights the three bytes (30, 59, 11 per cent).
inline uint8_t GreyOf(const uint8_t* rgb) {
  return static_cast<uint8_t>((rgb[0] * 30 + rgb[1] * 59 + rgb[2] * 11) / 100);
}

// Reads a PNG file one row at a time: any colour type and bit depth, palettes and transparency
// expanded, 16-bit samples reduced to 8, the alpha channel composited over white (a transparent pixel
// is white, which is never engraved). Throws a Failure naming the file when it cannot be opened, is
// not a PNG image or is damaged.
class PngReader {
 public:
  explicit PngReader(const std::string& path);
  ~PngReader();
  PngReader(const PngReader&) = delete;
  PngReader& operator=(const PngReader&) = delete;

  uint32_t width() const;
  uint32_t height() const;
  // The file declares one-bit grey pixels without transparency: black and white by construction.
  bool declaredBlackAndWhite() const;
  // The next row, width x 3 bytes (red, green, blue), valid until the next call.
  const uint8_t* NextRow();

  struct State;

 private:
  std::unique_ptr<State> state_;
};

// True when every pixel of the image, over white, is pure black or pure white. Reads the file (up to
// the first pixel that is neither) unless the file declares one-bit grey.
bool IsBlackAndWhite(const std::string& path);

}  // namespace ostrelin::tools
