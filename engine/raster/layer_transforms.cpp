// Raster pass and layer transforms: plate cut, resolution change and orientation, streamed through
// blocks of rows so that no layer is ever held whole in memory.
#include "engine/raster/layer_transforms.h"

#include <algorithm>
#include <cstring>
#include <numeric>

#include "engine/error.h"
#include "engine/raster/layer_io.h"
#include "engine/raster/power_tables.h"
#include "engine/raster/screening.h"
#include "engine/scratch.h"

namespace ostrelin::raster {
namespace {

int32_t BytesForDots(int32_t dots) { return dots / 8 + (dots % 8 != 0 ? 1 : 0); }

int Bit(const uint8_t* row, int32_t dot) { return (row[dot >> 3] >> (7 - (dot & 7))) & 1; }

// The layer the pass works on: the colour layer of the current class if it exists, else the grey one.
void** SelectedLayer(Job& job, bool* isGrey) {
  if (job.currentClass < 8 && job.colourLayers[job.currentClass] != nullptr) {
    *isGrey = false;
    return &job.colourLayers[job.currentClass];
  }
  *isGrey = true;
  return &job.greyLayer;
}

// Builds one destination row from a source row through the x map (grey bytes or colour bits).
void MapRow(const uint8_t* source, uint8_t* destination, const std::vector<int32_t>& xMap,
            int32_t sourceBytes, bool isGrey, bool negative) {
  if (xMap.empty()) {
    std::memcpy(destination, source, static_cast<size_t>(sourceBytes));
    return;
  }
  const auto dots = static_cast<int32_t>(xMap.size());
  if (isGrey) {
    for (int32_t j = 0; j < dots; ++j) destination[j] = source[xMap[static_cast<size_t>(j)]];
    return;
  }
  const int32_t whole = dots / 8;
  for (int32_t k = 0; k < whole; ++k) {
    const int32_t* map = xMap.data() + 8 * k;
    destination[k] = static_cast<uint8_t>((Bit(source, map[0]) << 7) | (Bit(source, map[1]) << 6) |
                                          (Bit(source, map[2]) << 5) | (Bit(source, map[3]) << 4) |
                                          (Bit(source, map[4]) << 3) | (Bit(source, map[5]) << 2) |
                                          (Bit(source, map[6]) << 1) | Bit(source, map[7]));
  }
  if (dots % 8 != 0) {
    uint8_t last = negative ? static_cast<uint8_t>(0xFF >> (dots % 8)) : 0;
    for (int32_t j = 8 * whole; j < dots; ++j) {
      last = static_cast<uint8_t>(last | (Bit(source, xMap[static_cast<size_t>(j)]) << (7 - (j & 7))));
    }
    destination[whole] = last;
  }
}

/* Resolution change of one layer. Every destination row and dot comes from one source row and dot:
 * the y map and x map of AxisMap (a reduction keeps reste of every plage source dots, step apart; an
 * enlargement writes each source dot entier times and the first reste of every plage once more).
 * Reductions only (and unchanged axes) are written in place, since every destination row lies at or
 * before its source row; an enlarged axis writes a new file that replaces the layer. Colour rows are
 * mapped bit by bit: a reduction walks the width in dots, an enlargement every bit of the stride. */
void ScaleLayer(Context& ctx, Job& job, void** layer, bool isGrey) {
  const auto a = static_cast<uint32_t>(ctx.engineResolution);
  const auto bx = static_cast<uint32_t>(ctx.engravingResX);
  const auto by = static_cast<uint32_t>(ctx.engravingResY);
  if (a == 0 || bx == 0 || by == 0) Fail(ctx, ErrorKind::kDpi);
  if (a == bx && a == by) return;
  const int32_t stride = job.currentStride;
  const int32_t rowCount = job.currentRows;
  const int32_t sourceDots = isGrey ? stride : (bx < a ? ctx.currentWidthDots : 8 * stride);
  const std::vector<int32_t> xMap = AxisMap(a, bx, sourceDots);
  std::vector<int32_t> yMap = AxisMap(a, by, rowCount);
  if (yMap.empty()) {
    yMap.resize(static_cast<size_t>(rowCount));
    std::iota(yMap.begin(), yMap.end(), 0);
  }
  const int32_t newDots =
      xMap.empty() ? (isGrey ? stride : ctx.currentWidthDots) : static_cast<int32_t>(xMap.size());
  const int32_t newStride = xMap.empty() ? stride : (isGrey ? newDots : BytesForDots(newDots));
  const bool enlarges = bx > a || by > a;
  const bool negative = NegativeOption(ctx);

  OwnedLayer enlarged(enlarges ? CreateLayerFile(ctx) : nullptr);
  void** target = enlarges ? enlarged.handle() : layer;
  {
    RowReader reader(ctx, layer, stride, rowCount, StreamingBlockBudget());
    RowWriter writer(ctx, target, newStride, 0, StreamingBlockBudget());
    const uint8_t* previousRow = nullptr;
    int32_t previousSource = -1;
    for (const int32_t source : yMap) {
      uint8_t* row = writer.Next();
      if (source == previousSource) {
        std::memcpy(row, previousRow, static_cast<size_t>(newStride));
      } else {
        MapRow(reader.Row(source), row, xMap, stride, isGrey, negative);
      }
      previousRow = row;
      previousSource = source;
    }
    writer.Flush();
  }
  job.currentStride = newStride;
  job.currentRows = static_cast<int32_t>(yMap.size());
  if (!isGrey) ctx.currentWidthDots = newDots;
  if (enlarges) {
    CloseLayerFile(layer);
    *layer = enlarged.Release();
  }
}

}  // namespace

int StepParameters(uint32_t a, uint32_t b, int32_t* entier, int32_t* reste, int32_t* plage) {
  if (a == 0 || b == 0) {
    *entier = *reste = *plage = 0;
    return 0;
  }
  if (a == b) {
    *entier = 0;
    *reste = 1;
    *plage = 1;
    return 1;
  }
  const uint32_t g = std::gcd(a, b);
  if (a > b) {
    *entier = 0;
    *reste = static_cast<int32_t>(b / g);
    *plage = static_cast<int32_t>(a / g);
  } else {
    *entier = static_cast<int32_t>(b / a);
    *reste = static_cast<int32_t>((b / g) % (a / g));
    *plage = *reste == 0 ? 0 : static_cast<int32_t>(a / g);
  }
  return 1;
}

std::vector<int32_t> AxisMap(uint32_t a, uint32_t b, int32_t n) {
  std::vector<int32_t> map;
  int32_t entier = 0;
  int32_t reste = 0;
  int32_t plage = 0;
  if (a == b || StepParameters(a, b, &entier, &reste, &plage) == 0) return map;
  if (a > b) {
    const int32_t step = plage / reste;
    int64_t base = 0;
    int64_t offset = 0;
    int32_t count = reste;
    while (base + offset + step <= n) {
      map.push_back(static_cast<int32_t>(base + offset));
      offset += step;
      if (--count == 0) {
        base += plage;
        offset = 0;
        count = reste;
      }
    }
    return map;
  }
  int32_t count = reste;
  int32_t range = plage;
  map.reserve(static_cast<size_t>(n) * (static_cast<size_t>(entier) + 1));
  for (int32_t i = 0; i < n; ++i) {
    int32_t repeat = entier;
    if (count > 0) {
      ++repeat;
      --count;
    }
    if (--range <= 0) {
      count = reste;
      range = plage;
    }
    map.insert(map.end(), static_cast<size_t>(repeat), i);
  }
  return map;
}

void FitToPlate(Context& ctx, Job& job, void** layer, bool isGrey) {
  int32_t width = ctx.plateExtentWidth;
  const int32_t height = std::clamp(ctx.plateExtentHeight, 0, job.currentRows);
  if (isGrey) {
    width = std::clamp(width, 0, job.currentStride);
  } else {
    width = std::clamp(width, 0, 8 * job.currentStride);
    ctx.currentWidthDots = width;
    width = BytesForDots(width);
  }
  if (width != job.currentStride && height > 0 && width > 0) {
    // Rows only move towards the file's start, so every row is read before anything lands on it.
    RowReader reader(ctx, layer, job.currentStride, height, StreamingBlockBudget());
    RowWriter writer(ctx, layer, width, 0, StreamingBlockBudget());
    for (int32_t i = 0; i < height; ++i)
      std::memcpy(writer.Next(), reader.Row(i), static_cast<size_t>(width));
    writer.Flush();
  }
  job.currentStride = width;
  job.currentRows = height;
}

void ScaleGreyLayer(Context& ctx, Job& job) { ScaleLayer(ctx, job, &job.greyLayer, true); }

void ScaleColourLayer(Context& ctx, Job& job) {
  if (job.currentClass >= 8 || job.colourLayers[job.currentClass] == nullptr) return;
  ScaleLayer(ctx, job, &job.colourLayers[job.currentClass], false);
}

void RasterPass(Context& ctx, Spool&, Job& job) {
  bool isGrey = false;
  void** layer = SelectedLayer(job, &isGrey);
  if (*layer == nullptr) return;
  if (!isGrey) {
    job.currentStride = job.colourStride;
    job.currentRows = job.colourRows;
    FitToPlate(ctx, job, layer, false);
    ScaleColourLayer(ctx, job);
    return;
  }
  job.currentStride = job.greyStride;
  job.currentRows = job.greyRows;
  FitToPlate(ctx, job, layer, true);
  ScaleGreyLayer(ctx, job);
  if (StampOption(ctx) || HalftoneOption(ctx)) ScreenGreyLayer(ctx, job);
  if (StampOption(ctx)) StampShoulder(ctx, job);
}

/* Orientation. Orientations 1 to 3 mirror rows and/or reverse their order, streaming rows into the
 * new file. Orientations 4 to 7 transpose: source column x becomes destination row x (4, 5) or
 * W - 1 - x (6, 7), and source row y lands at position y (4, 6) or H - 1 - y (5, 7) of it. The
 * transposition runs over blocks of destination positions [p0, p0 + R) (R a multiple of 8, so that
 * colour positions start on byte boundaries); each block reads its source rows in one transfer,
 * builds the segment of every destination row in memory and writes the segments. A colour layer
 * keeps bits: a mirrored row keeps its first dot at the row start with zero padding after its last
 * dot; transposed rows have ceil(H / 8) bytes with zero padding; orientations 4 and 5 turn all
 * 8 x stride source dots into rows, 6 and 7 only the width in dots. */
void* OrientLayer(Context& ctx, Job& job, void** layer, bool isGrey) {
  const int orientation = ctx.orientation;
  if (orientation <= 0 || orientation > 7) return nullptr;
  const int32_t stride = job.currentStride;
  const int32_t rowCount = job.currentRows;
  const int32_t widthDots = isGrey ? stride : ctx.currentWidthDots;
  OwnedLayer oriented(CreateLayerFile(ctx));
  const uint64_t budget = StreamingBlockBudget();

  if (orientation <= 3) {
    const bool mirror = orientation != 2;
    const bool reverse = orientation != 1;
    const int32_t padding = 8 * stride - widthDots;
    RowWriter writer(ctx, oriented.handle(), stride, 0, budget);
    const auto blockRows =
        static_cast<int32_t>(std::clamp<uint64_t>(budget / std::max(stride, 1), 1, std::max(rowCount, 1)));
    Buffer block(ctx, static_cast<size_t>(stride) * static_cast<size_t>(blockRows) + 1);
    Buffer reversed(ctx, static_cast<size_t>(stride) + 2, true);
    for (int32_t done = 0; done < rowCount;) {
      const int32_t count = std::min(blockRows, rowCount - done);
      const int32_t first = reverse ? rowCount - done - count : done;
      ReadAtOffset(ctx, layer, static_cast<uint32_t>(static_cast<size_t>(stride) * count), block.data(),
                   static_cast<uint64_t>(first) * static_cast<uint64_t>(stride));
      for (int32_t i = 0; i < count; ++i) {
        const uint8_t* source = block.data() + static_cast<size_t>(reverse ? count - 1 - i : i) * stride;
        uint8_t* row = writer.Next();
        if (!mirror) {
          std::memcpy(row, source, static_cast<size_t>(stride));
        } else if (isGrey) {
          std::reverse_copy(source, source + stride, row);
        } else {
          // Reversed bytes and bit order, then moved left over the padding bits.
          uint8_t* r = reversed.data();
          for (int32_t k = 0; k < stride; ++k) r[k] = kBitReversed[source[stride - 1 - k]];
          const int32_t wholeBytes = padding / 8;
          const int32_t bits = padding % 8;
          for (int32_t k = 0; k < stride; ++k) {
            const int32_t from = k + wholeBytes;
            const uint32_t high = from < stride ? r[from] : 0u;
            const uint32_t low = from + 1 < stride ? r[from + 1] : 0u;
            row[k] = static_cast<uint8_t>(bits == 0 ? high : ((high << bits) | (low >> (8 - bits))));
          }
        }
      }
      done += count;
    }
    writer.Flush();
    return oriented.Release();
  }

  // Transpositions.
  const bool fromRight = orientation >= 6;
  const bool reversePositions = orientation == 5 || orientation == 7;
  const int32_t newRows = isGrey ? stride : (fromRight ? widthDots : 8 * stride);
  const int32_t newStride = isGrey ? rowCount : BytesForDots(rowCount);
  int32_t blockPositions = static_cast<int32_t>(
      std::clamp<uint64_t>(budget / std::max<uint64_t>(static_cast<uint64_t>(stride), 1), 8, 1u << 30));
  blockPositions -= blockPositions % 8;
  blockPositions = std::min(blockPositions, ((rowCount + 7) / 8) * 8);
  const int32_t segmentCapacity = isGrey ? blockPositions : blockPositions / 8;
  Buffer block(ctx, static_cast<size_t>(stride) * static_cast<size_t>(blockPositions) + 1);
  Buffer out(ctx, static_cast<size_t>(newRows) * static_cast<size_t>(segmentCapacity) + 1);
  for (int32_t p0 = 0; p0 < rowCount; p0 += blockPositions) {
    const int32_t count = std::min(blockPositions, rowCount - p0);
    const int32_t firstRow = reversePositions ? rowCount - p0 - count : p0;
    ReadAtOffset(ctx, layer, static_cast<uint32_t>(static_cast<size_t>(stride) * count), block.data(),
                 static_cast<uint64_t>(firstRow) * static_cast<uint64_t>(stride));
    const int32_t segment = isGrey ? count : BytesForDots(count);
    std::memset(out.data(), 0, static_cast<size_t>(newRows) * static_cast<size_t>(segment));
    for (int32_t i = 0; i < count; ++i) {
      // Position p0 + i of every destination row comes from this source row.
      const uint8_t* source =
          block.data() + static_cast<size_t>(reversePositions ? count - 1 - i : i) * stride;
      if (isGrey) continue;
      {
        const auto mask = static_cast<uint8_t>(0x80 >> (i & 7));
        const int32_t byte = i >> 3;
        for (int32_t r = 0; r < newRows; ++r) {
          const int32_t x = fromRight ? widthDots - 1 - r : r;
          if (Bit(source, x) != 0) out.data()[static_cast<size_t>(r) * segment + byte] |= mask;
        }
      }
    }
    if (isGrey) {
      // Tiles of 64 x 64 bytes keep both the source rows and the destination segments in cache.
      for (int32_t r0 = 0; r0 < newRows; r0 += 64) {
        const int32_t r1 = std::min(r0 + 64, newRows);
        for (int32_t i0 = 0; i0 < count; i0 += 64) {
          const int32_t i1 = std::min(i0 + 64, count);
          for (int32_t i = i0; i < i1; ++i) {
            const uint8_t* source =
                block.data() + static_cast<size_t>(reversePositions ? count - 1 - i : i) * stride;
            uint8_t* column = out.data() + i;
            if (fromRight) {
              for (int32_t r = r0; r < r1; ++r)
                column[static_cast<size_t>(r) * segment] = source[widthDots - 1 - r];
            } else {
              for (int32_t r = r0; r < r1; ++r) column[static_cast<size_t>(r) * segment] = source[r];
            }
          }
        }
      }
    }
    const int32_t at = isGrey ? p0 : p0 / 8;
    if (segment == newStride) {
      WriteAtOffset(ctx, oriented.handle(),
                    static_cast<uint32_t>(static_cast<size_t>(newRows) * static_cast<size_t>(segment)),
                    out.data(), 0);
    } else {
      for (int32_t r = 0; r < newRows; ++r) {
        WriteAtOffset(
            ctx, oriented.handle(), static_cast<uint32_t>(segment),
            out.data() + static_cast<size_t>(r) * segment,
            static_cast<uint64_t>(r) * static_cast<uint64_t>(newStride) + static_cast<uint64_t>(at));
      }
    }
  }
  job.currentStride = newStride;
  job.currentRows = newRows;
  if (!isGrey) ctx.currentWidthDots = rowCount;
  return oriented.Release();
}

}  // namespace ostrelin::raster
