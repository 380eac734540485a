// PNG images for the rendering road, through libpng's sequential reader.
#include "tools/image_input.h"

#include <png.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "tools/tool_error.h"

namespace ostrelin::tools {

struct PngReader::State {
  std::string path;
  FILE* file = nullptr;
  png_structp png = nullptr;
  png_infop info = nullptr;
  char error[256] = "";  // libpng's message of the last error
  uint32_t width = 0;
  uint32_t height = 0;
  bool blackAndWhite = false;
  bool interlaced = false;
  uint32_t nextRow = 0;
  std::vector<uint8_t> rgba;  // one decoded row, or the whole image when interlaced
  std::vector<uint8_t> rgb;   // the row handed out

  ~State() {
    if (png != nullptr) png_destroy_read_struct(&png, &info, nullptr);
    if (file != nullptr) std::fclose(file);
  }
};

namespace {

// Largest interlaced image read whole, in decoded bytes (4 per pixel).
constexpr uint64_t kMaxInterlacedBytes = 512ull << 20;

[[noreturn]] void OnError(png_structp png, png_const_charp message) {
  auto* state = static_cast<PngReader::State*>(png_get_error_ptr(png));
  std::snprintf(state->error, sizeof state->error, "%s", message);
  png_longjmp(png, 1);
}

void OnWarning(png_structp, png_const_charp) {}

// libpng reports an error by a long jump to the last setjmp. Every libpng call that may fail goes
// through one of these functions, which set the jump target first and hold only trivially
// destructible locals, so that the jump skips no destructor.

// The header, and the transformations that make every row 8-bit RGBA.
bool ReadHeaderGuarded(PngReader::State& s) {
  if (setjmp(png_jmpbuf(s.png))) return false;
  png_init_io(s.png, s.file);
  png_set_sig_bytes(s.png, 8);
  png_read_info(s.png, s.info);
  png_uint_32 width = 0;
  png_uint_32 height = 0;
  int bitDepth = 0;
  int colourType = 0;
  int interlace = 0;
  png_get_IHDR(s.png, s.info, &width, &height, &bitDepth, &colourType, &interlace, nullptr, nullptr);
  s.width = width;
  s.height = height;
  const bool transparency = png_get_valid(s.png, s.info, PNG_INFO_tRNS) != 0;
  s.blackAndWhite = colourType == PNG_COLOR_TYPE_GRAY && bitDepth == 1 && !transparency;
  png_set_expand(s.png);
  png_set_scale_16(s.png);
  if ((colourType & PNG_COLOR_MASK_COLOR) == 0) png_set_gray_to_rgb(s.png);
  if ((colourType & PNG_COLOR_MASK_ALPHA) == 0 && !transparency)
    png_set_add_alpha(s.png, 0xFF, PNG_FILLER_AFTER);
  s.interlaced = interlace != PNG_INTERLACE_NONE;
  if (s.interlaced) png_set_interlace_handling(s.png);
  png_read_update_info(s.png, s.info);
  if (png_get_rowbytes(s.png, s.info) != static_cast<size_t>(width) * 4)
    png_error(s.png, "unexpected row layout");
  return true;
}

bool ReadRowGuarded(png_structp png, png_bytep row) {
  if (setjmp(png_jmpbuf(png))) return false;
  png_read_row(png, row, nullptr);
  return true;
}

bool ReadImageGuarded(png_structp png, png_bytepp rows) {
  if (setjmp(png_jmpbuf(png))) return false;
  png_read_image(png, rows);
  return true;
}

}  // namespace

PngReader::PngReader(const std::string& path) : state_(std::make_unique<State>()) {
  State& s = *state_;
  s.path = path;
  s.file = std::fopen(path.c_str(), "rb");
  if (s.file == nullptr) throw Failure(path + ": cannot open: " + std::strerror(errno));
  uint8_t signature[8] = {};
  const size_t got = std::fread(signature, 1, sizeof signature, s.file);
  if (got != sizeof signature || png_sig_cmp(signature, 0, sizeof signature) != 0) {
    throw Failure(path + ": not a PNG image");
  }
  s.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &s, OnError, OnWarning);
  if (s.png != nullptr) s.info = png_create_info_struct(s.png);
  if (s.png == nullptr || s.info == nullptr) throw Failure(path + ": not enough memory to read the image");
  if (!ReadHeaderGuarded(s)) throw Failure(path + ": damaged PNG image: " + s.error);
  s.rgb.resize(static_cast<size_t>(s.width) * 3);
  if (!s.interlaced) {
    s.rgba.resize(static_cast<size_t>(s.width) * 4);
    return;
  }
  // Interlaced rows are complete only after the last pass: the image is read whole.
  const uint64_t bytes = static_cast<uint64_t>(s.width) * s.height * 4;
  if (bytes > kMaxInterlacedBytes) {
    throw Failure(path + ": interlaced image too large to read (" + std::to_string(bytes >> 20) +
                  " MB decoded); save it without interlacing");
  }
  s.rgba.resize(static_cast<size_t>(bytes));
  std::vector<png_bytep> rows(s.height);
  for (uint32_t y = 0; y < s.height; ++y) rows[y] = s.rgba.data() + static_cast<size_t>(y) * s.width * 4;
  if (!ReadImageGuarded(s.png, rows.data())) throw Failure(path + ": damaged PNG image: " + s.error);
}

PngReader::~PngReader() = default;

uint32_t PngReader::width() const { return state_->width; }
uint32_t PngReader::height() const { return state_->height; }
bool PngReader::declaredBlackAndWhite() const { return state_->blackAndWhite; }

const uint8_t* PngReader::NextRow() {
  State& s = *state_;
  if (s.nextRow >= s.height) throw Failure(s.path + ": read past the last row");
  const uint8_t* rgba = nullptr;
  if (s.interlaced) {
    rgba = s.rgba.data() + static_cast<size_t>(s.nextRow) * s.width * 4;
  } else {
    if (!ReadRowGuarded(s.png, s.rgba.data())) {
      throw Failure(s.path + ": damaged PNG image at row " + std::to_string(s.nextRow) + ": " + s.error);
    }
    rgba = s.rgba.data();
  }
  ++s.nextRow;
  // Over white: c' = (c a + 255 (255 - a)) / 255, rounded.
  uint8_t* out = s.rgb.data();
  for (uint32_t x = 0; x < s.width; ++x) {
    const uint8_t* p = rgba + 4 * static_cast<size_t>(x);
    const uint32_t alpha = p[3];
    for (int k = 0; k < 3; ++k) {
      out[3 * static_cast<size_t>(x) + k] =
          alpha == 255 ? p[k] : static_cast<uint8_t>((p[k] * alpha + 255 * (255 - alpha) + 127) / 255);
    }
  }
  return out;
}

bool IsBlackAndWhite(const std::string& path) {
  PngReader reader(path);
  if (reader.declaredBlackAndWhite()) return true;
  const size_t bytes = static_cast<size_t>(reader.width()) * 3;
  for (uint32_t y = 0; y < reader.height(); ++y) {
    const uint8_t* row = reader.NextRow();
    for (size_t i = 0; i < bytes; i += 3) {
      const bool black = row[i] == 0 && row[i + 1] == 0 && row[i + 2] == 0;
      const bool white = row[i] == 255 && row[i + 1] == 255 && row[i + 2] == 255;
      if (!black && !white) return false;
    }
  }
  return true;
}

ImagePlacement ParseImagePlacement(const std::string& text) {
  ImagePlacement placement;
  placement.path = text;
  const size_t at = text.rfind('@');
  if (at == std::string::npos || at == 0) return placement;
  const std::string position = text.substr(at + 1);
  if (position.find_first_not_of("0123456789+-.eE,") != std::string::npos) return placement;
  const size_t comma = position.find(',');
  auto number = [&](const std::string& field, double& value) {
    char* end = nullptr;
    errno = 0;
    value = std::strtod(field.c_str(), &end);
    return !field.empty() && end == field.c_str() + field.size() && errno == 0 && std::isfinite(value);
  };
  if (comma == std::string::npos || !number(position.substr(0, comma), placement.xMm) ||
      !number(position.substr(comma + 1), placement.yMm)) {
    throw UsageError("--image " + text + ": the position after \"@\" must be X,Y in millimetres");
  }
  if (placement.xMm < 0.0 || placement.yMm < 0.0) {
    throw UsageError("--image " + text + ": the position must not be negative");
  }
  placement.path = text.substr(0, at);
  return placement;
}

}  // namespace ostrelin::tools
