// POSIX graphics: a device-independent resampler and the polygon rasteriser in place of a printer's
// device contexts. Bitmaps are read and written in the device-independent formats; work buffers come
// from the memory service.
#include <cstdint>
#include <cstring>

#include "platform/platform.h"
#include "platform/posix/polygon_raster.h"

namespace ostrelin::platform {
namespace {

struct Colour {
  uint8_t blue;
  uint8_t green;
  uint8_t red;
};

constexpr Colour kBlack = {0, 0, 0};

// A work buffer of count elements from the memory service, released when it goes out of scope.
template <class T>
class WorkBuffer {
 public:
  explicit WorkBuffer(size_t count)
      : data_(count <= SIZE_MAX / sizeof(T) ? static_cast<T*>(memory().Allocate(count * sizeof(T), true))
                                            : nullptr) {}
  ~WorkBuffer() {
    if (data_ != nullptr) memory().Free(data_);
  }
  WorkBuffer(const WorkBuffer&) = delete;
  WorkBuffer& operator=(const WorkBuffer&) = delete;
  T* get() const { return data_; }

 private:
  T* data_;
};

bool SupportedDepth(uint16_t bitsPerPixel) {
  switch (bitsPerPixel) {
    case 1:
    case 4:
    case 8:
    case 16:
    case 24:
    case 32:
      return true;
    default:
      return false;
  }
}

bool Usable(const BitmapHeader& header) {
  return header.width > 0 && header.height != 0 && header.height != INT32_MIN &&
         SupportedDepth(header.bitsPerPixel) && header.paletteEntries <= 256 &&
         BitmapRowBytes(header.width, header.bitsPerPixel) != 0;
}

int32_t Rows(const BitmapHeader& header) { return header.height < 0 ? -header.height : header.height; }

// Offset of the row that is y rows below the top of the picture.
size_t RowOffset(const BitmapHeader& header, int32_t y) {
  const int32_t stored = header.height < 0 ? y : Rows(header) - 1 - y;
  return static_cast<size_t>(stored) * BitmapRowBytes(header.width, header.bitsPerPixel);
}

// Five bits of colour widened to eight, so that 31 gives 255.
uint8_t Widen5(uint32_t value) { return static_cast<uint8_t>((value << 3) | (value >> 2)); }

// Reads one row of a bitmap as colours, looking palette indices up in its palette (indices beyond
// the palette read as black).
void ReadRow(const BitmapHeader& header, const uint8_t* row, Colour* colours) {
  const auto fromPalette = [&](uint32_t index) {
    if (index >= header.paletteEntries) return kBlack;
    const PaletteEntry& entry = header.palette[index];
    return Colour{entry.blue, entry.green, entry.red};
  };
  for (int32_t x = 0; x < header.width; ++x) {
    switch (header.bitsPerPixel) {
      case 1:
        colours[x] = fromPalette((row[x / 8] >> (7 - x % 8)) & 1u);
        break;
      case 4:
        colours[x] = fromPalette(x % 2 == 0 ? row[x / 2] >> 4 : row[x / 2] & 0x0Fu);
        break;
      case 8:
        colours[x] = fromPalette(row[x]);
        break;
      case 16: {
        const uint32_t value = row[2 * x] | static_cast<uint32_t>(row[2 * x + 1]) << 8;
        colours[x] = Colour{Widen5(value & 31u), Widen5((value >> 5) & 31u), Widen5((value >> 10) & 31u)};
        break;
      }
      default: {
        const uint8_t* pixel = row + static_cast<size_t>(x) * (header.bitsPerPixel / 8);
        colours[x] = Colour{pixel[0], pixel[1], pixel[2]};
        break;
      }
    }
  }
}

// Grey level of a colour (luminance weights 77, 150, 29 out of 256, so that a grey keeps its level).
uint8_t GreyLevel(Colour colour) {
  return static_cast<uint8_t>((77u * colour.red + 150u * colour.green + 29u * colour.blue + 128u) >> 8);
}

// For each grey level, the palette entry whose grey level is nearest (the lowest index on a tie).
void BuildNearestEntries(const BitmapHeader& header, uint8_t nearest[256]) {
  for (int level = 0; level < 256; ++level) {
    int best = 0;
    int bestDistance = 256;
    for (int index = 0; index < header.paletteEntries && index < (1 << header.bitsPerPixel); ++index) {
      const PaletteEntry& entry = header.palette[index];
      const int grey = GreyLevel(Colour{entry.blue, entry.green, entry.red});
      const int distance = grey > level ? grey - level : level - grey;
      if (distance < bestDistance) {
        best = index;
        bestDistance = distance;
      }
    }
    nearest[level] = static_cast<uint8_t>(best);
  }
}

// Writes one row of colours in the bitmap's format: palette depths take the entry of nearest grey,
// 16 bits keep the top five bits of each component. The row's padding is zeroed.
void WriteRow(const BitmapHeader& header, const uint8_t nearest[256], const Colour* colours, uint8_t* row) {
  std::memset(row, 0, BitmapRowBytes(header.width, header.bitsPerPixel));
  for (int32_t x = 0; x < header.width; ++x) {
    const Colour colour = colours[x];
    switch (header.bitsPerPixel) {
      case 1:
        row[x / 8] |= static_cast<uint8_t>((nearest[GreyLevel(colour)] & 1u) << (7 - x % 8));
        break;
      case 4:
        row[x / 2] |= static_cast<uint8_t>((nearest[GreyLevel(colour)] & 0x0Fu) << (x % 2 == 0 ? 4 : 0));
        break;
      case 8:
        row[x] = nearest[GreyLevel(colour)];
        break;
      case 16: {
        const uint32_t value = (colour.red >> 3) << 10 | (colour.green >> 3) << 5 | colour.blue >> 3;
        row[2 * x] = static_cast<uint8_t>(value);
        row[2 * x + 1] = static_cast<uint8_t>(value >> 8);
        break;
      }
      default: {
        uint8_t* pixel = row + static_cast<size_t>(x) * (header.bitsPerPixel / 8);
        pixel[0] = colour.blue;
        pixel[1] = colour.green;
        pixel[2] = colour.red;
        break;
      }
    }
  }
}

// Length of the overlap of source cell s and destination cell d on an axis of sourceCells x
// destinationCells units, where a source cell is destinationCells units long and a destination cell
// sourceCells units long.
int64_t Overlap(int64_t s, int64_t d, int64_t sourceCells, int64_t destinationCells) {
  const int64_t start = s * destinationCells > d * sourceCells ? s * destinationCells : d * sourceCells;
  const int64_t endS = (s + 1) * destinationCells;
  const int64_t endD = (d + 1) * sourceCells;
  const int64_t end = endS < endD ? endS : endD;
  return end > start ? end - start : 0;
}

// The source cells a destination cell covers: [first, last].
void Covered(int64_t d, int64_t sourceCells, int64_t destinationCells, int64_t* first, int64_t* last) {
  *first = d * sourceCells / destinationCells;
  *last = ((d + 1) * sourceCells - 1) / destinationCells;
}

// Area averaging. Each destination pixel is the mean of the source area it covers, every source pixel
// weighted by the part of it that lies inside (on an axis measured in 1/(sw*dw) of the picture, a
// source pixel is dw units and a destination pixel sw units long; weights are exact integers and a
// destination pixel's weights add up to sw*sh). The mean is rounded half up, so a uniform area keeps
// its colour exactly and an integer enlargement repeats each source pixel.
class AreaAverager {
 public:
  AreaAverager(const BitmapHeader& source, const uint8_t* bits, int32_t destinationWidth,
               int32_t destinationRows)
      : source_(source),
        bits_(bits),
        sw_(source.width),
        sh_(Rows(source)),
        dw_(destinationWidth),
        dh_(destinationRows),
        sourceRow_(static_cast<size_t>(sw_)),
        rowSums_(static_cast<size_t>(dw_) * 3),
        sums_(static_cast<size_t>(dw_) * 3) {}

  bool Ready() const {
    return sourceRow_.get() != nullptr && rowSums_.get() != nullptr && sums_.get() != nullptr;
  }

  // Fills the destination row y (counted from the top) with averaged colours.
  void Row(int32_t y, Colour* out) {
    uint64_t* sums = sums_.get();
    std::memset(sums, 0, static_cast<size_t>(dw_) * 3 * sizeof(uint64_t));
    int64_t first = 0;
    int64_t last = 0;
    Covered(y, sh_, dh_, &first, &last);
    for (int64_t sy = first; sy <= last; ++sy) {
      const uint64_t weight = static_cast<uint64_t>(Overlap(sy, y, sh_, dh_));
      if (weight == 0) continue;
      const uint64_t* rowSums = RowSums(static_cast<int32_t>(sy));
      for (size_t i = 0; i < static_cast<size_t>(dw_) * 3; ++i) sums[i] += weight * rowSums[i];
    }
    const uint64_t total = static_cast<uint64_t>(sw_) * static_cast<uint64_t>(sh_);
    const auto mean = [&](uint64_t sum) { return static_cast<uint8_t>((sum + total / 2) / total); };
    for (int32_t x = 0; x < dw_; ++x) {
      out[x] = Colour{mean(sums[3 * x]), mean(sums[3 * x + 1]), mean(sums[3 * x + 2])};
    }
  }

 private:
  // Horizontal sums of source row sy for every destination column, weighted by the overlaps.
  const uint64_t* RowSums(int32_t sy) {
    uint64_t* rowSums = rowSums_.get();
    if (sy == cachedRow_) return rowSums;
    Colour* colours = sourceRow_.get();
    ReadRow(source_, bits_ + RowOffset(source_, sy), colours);
    for (int32_t x = 0; x < dw_; ++x) {
      int64_t first = 0;
      int64_t last = 0;
      Covered(x, sw_, dw_, &first, &last);
      uint64_t blue = 0, green = 0, red = 0;
      for (int64_t sx = first; sx <= last; ++sx) {
        const uint64_t weight = static_cast<uint64_t>(Overlap(sx, x, sw_, dw_));
        blue += weight * colours[sx].blue;
        green += weight * colours[sx].green;
        red += weight * colours[sx].red;
      }
      rowSums[3 * x] = blue;
      rowSums[3 * x + 1] = green;
      rowSums[3 * x + 2] = red;
    }
    cachedRow_ = sy;
    return rowSums;
  }

  const BitmapHeader& source_;
  const uint8_t* bits_;
  int64_t sw_, sh_, dw_, dh_;
  WorkBuffer<Colour> sourceRow_;
  WorkBuffer<uint64_t> rowSums_;
  WorkBuffer<uint64_t> sums_;
  int32_t cachedRow_ = -1;
};

// Nearest-pixel sampling: destination pixel d takes the source pixel under its centre,
// floor((2d + 1) * s / 2d) for s source and d destination pixels on the axis.
class NearestSampler {
 public:
  NearestSampler(const BitmapHeader& source, const uint8_t* bits, int32_t destinationWidth,
                 int32_t destinationRows)
      : source_(source),
        bits_(bits),
        dw_(destinationWidth),
        dh_(destinationRows),
        sourceRow_(static_cast<size_t>(source.width)) {}

  bool Ready() const { return sourceRow_.get() != nullptr; }

  void Row(int32_t y, Colour* out) {
    const int32_t sy = Centre(y, Rows(source_), dh_);
    if (sy != cachedRow_) {
      ReadRow(source_, bits_ + RowOffset(source_, sy), sourceRow_.get());
      cachedRow_ = sy;
    }
    for (int32_t x = 0; x < dw_; ++x) out[x] = sourceRow_.get()[Centre(x, source_.width, dw_)];
  }

 private:
  static int32_t Centre(int64_t d, int64_t sourceCells, int64_t destinationCells) {
    return static_cast<int32_t>((2 * d + 1) * sourceCells / (2 * destinationCells));
  }

  const BitmapHeader& source_;
  const uint8_t* bits_;
  int32_t dw_, dh_;
  WorkBuffer<Colour> sourceRow_;
  int32_t cachedRow_ = -1;
};

// Produces the destination row by row through the sampler; the halftone mode inverts every component
// on the way, as copying the 32-bit intermediate with an inverting raster operation does.
template <class Sampler>
bool Resample(Sampler& sampler, const BitmapHeader& destination, uint8_t* destinationBits, bool invert) {
  WorkBuffer<Colour> row(static_cast<size_t>(destination.width));
  if (!sampler.Ready() || row.get() == nullptr) return false;
  uint8_t nearest[256] = {};
  if (destination.bitsPerPixel <= 8) BuildNearestEntries(destination, nearest);
  for (int32_t y = 0; y < Rows(destination); ++y) {
    sampler.Row(y, row.get());
    if (invert) {
      for (int32_t x = 0; x < destination.width; ++x) {
        Colour& colour = row.get()[x];
        colour = Colour{static_cast<uint8_t>(255 - colour.blue), static_cast<uint8_t>(255 - colour.green),
                        static_cast<uint8_t>(255 - colour.red)};
      }
    }
    WriteRow(destination, nearest, row.get(), destinationBits + RowOffset(destination, y));
  }
  return true;
}

class PosixGraphics final : public Graphics {
 public:
  // The resampler does not depend on the device, but a printer without a name has no device contexts.
  bool StretchBitmap(const char* printerName, const BitmapHeader& source, const void* sourceBits,
                     const BitmapHeader& destination, void* destinationBits, StretchMode mode) override {
    if (printerName == nullptr || printerName[0] == '\0') return false;
    if (sourceBits == nullptr || destinationBits == nullptr || !Usable(source) || !Usable(destination)) {
      return false;
    }
    const auto* in = static_cast<const uint8_t*>(sourceBits);
    auto* out = static_cast<uint8_t*>(destinationBits);
    if (mode == StretchMode::kHalftoneInverted) {
      AreaAverager averager(source, in, destination.width, Rows(destination));
      return Resample(averager, destination, out, true);
    }
    NearestSampler sampler(source, in, destination.width, Rows(destination));
    return Resample(sampler, destination, out, false);
  }
  // Every memory context here is the same one-bit device, so the printer's context is not looked at.
  PolygonBitmap* CreatePolygonBitmap(void*, int32_t width, int32_t height) override {
    return posix::NewPolygonBitmap(width, height);
  }
};

}  // namespace

Graphics& NativeGraphics() {
  static PosixGraphics graphics;
  return graphics;
}

}  // namespace ostrelin::platform
