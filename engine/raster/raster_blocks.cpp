// Raster blocks: zones, sections, head moves, row records and depth records of one layer.
#include "engine/raster/raster_blocks.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

#include "engine/error.h"
#include "engine/job_stream.h"
#include "engine/raster/layer_io.h"
#include "engine/raster/layer_transforms.h"
#include "engine/scratch.h"
#include "engine/settings.h"
#include "engine/vector/time_estimate.h"
#include "platform/platform.h"

namespace ostrelin::raster {
namespace {

// Largest word count of a row record ("C1" to "C4"): a 16-bit value.
constexpr uint32_t kMaxRowWords = 0xFFFF;

// Zone or section of a layer: x range [xmin, xmax) (dots, or bytes for a colour layer); rows from
// ymin up to ymax excluded, or with bottom-up from ymax down to ymin excluded; and its first dot.
struct Zone {
  int32_t xmin;
  int32_t xmax;
  int32_t ymin;
  int32_t ymax;
  int32_t xFirstPoint;
  int32_t yFirstPoint;
};

// Index of the first non-zero byte of [from, to), or to.
int32_t FirstNonZero(const uint8_t* row, int32_t from, int32_t to) {
  int32_t x = from;
  while (x + 8 <= to) {
    uint64_t word;
    std::memcpy(&word, row + x, sizeof word);
    if (word != 0) break;
    x += 8;
  }
  while (x < to && row[x] == 0) ++x;
  return x;
}

// Index of the last non-zero byte of [from, to), or from - 1.
int32_t LastNonZero(const uint8_t* row, int32_t from, int32_t to) {
  int32_t x = to;
  while (x - 8 >= from) {
    uint64_t word;
    std::memcpy(&word, row + x - 8, sizeof word);
    if (word != 0) break;
    x -= 8;
  }
  while (x > from && row[x - 1] == 0) --x;
  return x - 1;
}

// Packs bytes to bits (non-zero byte: 1), most significant bit first; returns the packed length.
size_t PackBits(const uint8_t* bytes, size_t length, uint8_t* out) {
  const size_t whole = length / 8;
  for (size_t k = 0; k < whole; ++k) {
    const uint8_t* b = bytes + 8 * k;
    out[k] = static_cast<uint8_t>(((b[0] != 0) << 7) | ((b[1] != 0) << 6) | ((b[2] != 0) << 5) |
                                  ((b[3] != 0) << 4) | ((b[4] != 0) << 3) | ((b[5] != 0) << 2) |
                                  ((b[6] != 0) << 1) | (b[7] != 0));
  }
  if (length % 8 == 0) return whole;
  uint8_t last = 0;
  for (size_t j = 8 * whole; j < length; ++j)
    last = static_cast<uint8_t>(last | ((bytes[j] != 0) << (7 - (j & 7))));
  out[whole] = last;
  return whole + 1;
}

class RasterWriter {
 public:
  RasterWriter(Context& ctx, Spool& spool, Job& job, void** layer, bool grey, int colourClass)
      : ctx_(ctx), spool_(spool), job_(job), layer_(layer), grey_(grey), colourClass_(colourClass) {}

  void Run();

 private:
  bool FindZone(Zone& zone, bool checkTwoLevel);
  void ColumnOccupancy(const Zone& zone);
  bool NextSection(Zone& zone);
  void WriteSection(const Zone& zone);
  void Move(int32_t dx, int32_t dy);
  void WriteRow(int32_t y, const Zone& zone);
  void WriteDepth(int32_t value) { WriteRecord(ctx_, job_, "RF", value); }
  const uint8_t* ReadRow(int32_t y, int32_t from, int32_t count);

  Context& ctx_;
  Spool& spool_;
  Job& job_;
  void** layer_;
  bool grey_;
  int colourClass_;
  int32_t stride_ = 0;
  int32_t rows_ = 0;
  bool bottomUp_ = false;
  bool twoLevel_ = false;
  bool pending_ = false;
  int32_t sum_ = 0;
  int32_t step_ = 0;
  std::vector<uint8_t> row_;
  std::vector<uint8_t> packed_;
  std::vector<uint8_t> reversed_;
  std::vector<uint8_t> record_;
  std::vector<uint8_t> columns_;
};

const uint8_t* RasterWriter::ReadRow(int32_t y, int32_t from, int32_t count) {
  if (count > 0) {
    ReadAtOffset(ctx_, layer_, static_cast<uint32_t>(count), row_.data(),
                 static_cast<uint64_t>(y) * static_cast<uint64_t>(stride_) + static_cast<uint64_t>(from));
  }
  return row_.data();
}

/* Scans rows from the end of the previous zone (downwards in the layer, or upwards with bottom-up).
 * The zone starts at the first row holding a non-zero byte and ends before 4 consecutive empty rows,
 * or at the layer's last row. Its x range covers every row's non-zero bytes. With the check, the
 * zone is two-level while all its non-zero bytes have one value (the level); the output-to-file flag
 * switches the check off. */
bool RasterWriter::FindZone(Zone& zone, bool checkTwoLevel) {
  const int32_t direction = bottomUp_ ? -1 : 1;
  int32_t y = bottomUp_ ? zone.ymin : zone.ymax;
  bool twoLevel = checkTwoLevel && job_.outputToFile != 1;
  int32_t level = 0;
  bool found = false;
  int32_t start = 0;
  int32_t empty = 0;
  bool endedByGap = false;
  for (; y >= 0 && y < rows_; y += direction) {
    const uint8_t* row = ReadRow(y, 0, stride_);
    const int32_t first = FirstNonZero(row, 0, stride_);
    if (first == stride_) {
      if (found && ++empty == 4) {
        endedByGap = true;
        break;
      }
      continue;
    }
    const int32_t last = LastNonZero(row, first, stride_);
    if (!found) {
      found = true;
      start = y;
      zone.xFirstPoint = first;
    }
    zone.xmin = std::min(zone.xmin, first);
    zone.xmax = std::max(zone.xmax, last + 1);
    if (twoLevel) {
      for (int32_t x = first; x <= last; ++x) {
        const uint8_t v = row[x];
        if (v == 0) continue;
        if (level == 0) {
          level = v;
        } else if (v != level) {
          twoLevel = false;
          break;
        }
      }
    }
    empty = 0;
  }
  if (!found) return false;
  if (bottomUp_) {
    zone.ymax = start;
    zone.ymin = endedByGap ? y + 3 : -1;
  } else {
    zone.ymin = start;
    zone.ymax = endedByGap ? y - 3 : rows_;
  }
  zone.yFirstPoint = start;
  job_.twoLevelZone = twoLevel ? 1 : 0;
  job_.twoLevelLevel = level;
  return true;
}

// OR of the zone's engraved rows, column by column.
void RasterWriter::ColumnOccupancy(const Zone& zone) {
  columns_.assign(static_cast<size_t>(stride_), 0);
  for (int32_t y = zone.ymin + (bottomUp_ ? 1 : 0); y < zone.ymax + (bottomUp_ ? 1 : 0); ++y) {
    const uint8_t* row = ReadRow(y, 0, stride_);
    for (int32_t x = 0; x < stride_; ++x) columns_[static_cast<size_t>(x)] |= row[x];
  }
}

/* Next section of the zone from zone.xmin rightwards: the first non-empty column starts it, and it
 * ends at the first of 3 consecutive empty columns (or after the last non-empty column). Its first dot
 * is the first non-zero byte of the section met from the start row in the direction of travel. */
bool RasterWriter::NextSection(Zone& zone) {
  const uint8_t* occupied = columns_.data();
  int32_t x = std::max(zone.xmin, 0);
  while (x < stride_ && occupied[x] == 0) ++x;
  if (x >= stride_) return false;
  zone.xmin = x;
  int32_t lastOccupied = x;
  int32_t emptyRun = 0;
  zone.xmax = -1;
  for (int32_t c = x + 1; c < stride_; ++c) {
    if (occupied[c] != 0) {
      lastOccupied = c;
      emptyRun = 0;
    } else if (++emptyRun == 3) {
      zone.xmax = c - 2;
      break;
    }
  }
  if (zone.xmax < 0) zone.xmax = lastOccupied + 1;
  const int32_t direction = bottomUp_ ? -1 : 1;
  for (int32_t y = bottomUp_ ? zone.ymax : zone.ymin; bottomUp_ ? y > zone.ymin : y < zone.ymax;
       y += direction) {
    const uint8_t* row = ReadRow(y, zone.xmin, zone.xmax - zone.xmin);
    const int32_t first = FirstNonZero(row, 0, zone.xmax - zone.xmin);
    if (first < zone.xmax - zone.xmin) {
      zone.xFirstPoint = zone.xmin + first;
      zone.yFirstPoint = y;
      break;
    }
  }
  return true;
}

// Relative head move: "RX" (dots) then "RY" (rows), each after its time is added to the estimate.
void RasterWriter::Move(int32_t dx, int32_t dy) {
  const int32_t dxDots = grey_ ? dx : dx * 8;
  vector::AddRasterHeadMoveTime(ctx_, job_, dxDots, true);
  WriteRecord32(ctx_, job_, "RX", static_cast<uint32_t>(dxDots));
  vector::AddRasterHeadMoveTime(ctx_, job_, dy, false);
  WriteRecord32(ctx_, job_, "RY", static_cast<uint32_t>(dy));
  job_.headX += dx;
  job_.headY += dy;
}

// One row of a section: "C1"/"C2" (bits) or "C3"/"C4" (bytes) with the coded row, alternating the
// direction unless rows go one way ("C5" after each).
void RasterWriter::WriteRow(int32_t y, const Zone& zone) {
  const int32_t width = zone.xmax - zone.xmin;
  const uint8_t* data = ReadRow(y, zone.xmin, width);
  size_t length = static_cast<size_t>(width);
  const bool bits = !grey_ || twoLevel_;
  if (grey_ && twoLevel_) {
    length = PackBits(data, length, packed_.data());
    data = packed_.data();
  }
  const bool reverse = spool_.directionFlag == 1;
  const size_t coded =
      EncodeRow(data, length, reverse, bits, record_.data() + kRecordBytes, reversed_.data());
  // The row record counts the coded row in 16-bit words: at most 65,535 words (131,070 bytes). A row
  // codes to more only when it is about 130,054 bytes wide or more, that is a grey zone of that many
  // dots (918 mm at 3600 dpi, 3.3 m at 1000 dpi) or a row of bits of 1,040,432 dots (7.3 m at 3600
  // dpi): plates and resolutions the settings accept, which no machine row can carry. Cutting the row
  // into two records would engrave two rows, so the layer is refused instead.
  if (coded / 2 > kMaxRowWords) {
    char text[128];
    std::snprintf(text, sizeof text, "row %d codes to %zu bytes; a row record holds at most %u\n", y, coded,
                  2 * kMaxRowWords);
    platform::trace().Trace(text);
    Fail(ctx_, ErrorKind::kPlateSize);
  }
  const char* code = reverse ? (bits ? "C2" : "C4") : (bits ? "C1" : "C3");
  EncodeRecord(record_.data(), code, static_cast<uint16_t>(coded / 2));
  WriteBytes(ctx_, job_, record_.data(), kRecordBytes + coded);
  if (reverse) {
    spool_.directionFlag = 0;
  } else if (ctx_.oneWayFlag != 0) {
    WriteRecord(ctx_, job_, "C5", 0);
  } else {
    spool_.directionFlag = 1;
  }
}

void RasterWriter::WriteSection(const Zone& section) {
  // Time of the section's rows, at the resolutions of the output (exchanged for turned layers).
  const bool turned = ctx_.orientation >= 4 && ctx_.orientation <= 7;
  const int32_t resX = turned ? ctx_.engravingResY : ctx_.engravingResX;
  const int32_t resY = turned ? ctx_.engravingResX : ctx_.engravingResY;
  const int32_t widthDots = (section.xmax - section.xmin) * (grey_ ? 1 : 8);
  const double rowLengthMm = static_cast<float>(widthDots * 2540) / static_cast<float>(resX) / 100.0;
  const double rowPitchMm = (2540.0f / static_cast<float>(resY)) / 100.0;
  vector::AddZoneTime(ctx_, job_, ctx_.classParams[colourClass_][kWordSpeed], rowLengthMm,
                      section.ymax - section.ymin, rowPitchMm, widthDots, resY);

  if (ctx_.firstDotMode != 0) {
    if (section.xFirstPoint != job_.headX || section.yFirstPoint != job_.headY) {
      Move(section.xFirstPoint - job_.headX, section.yFirstPoint - job_.headY);
    }
    WriteRecord(ctx_, job_, "ZA", 0);
    if (ctx_.firstDotMode == 1) ctx_.firstDotMode = 0;
    job_.headX = section.xFirstPoint;
    job_.headY = section.yFirstPoint;
  }
  const int32_t startRow = bottomUp_ ? section.ymax : section.ymin;
  if (section.xmin != job_.headX || startRow != job_.headY)
    Move(section.xmin - job_.headX, startRow - job_.headY);
  if (pending_) {
    if (ctx_.firstDotMode == 2) {
      WriteDepth(sum_);
    } else {
      WriteDepth(step_);
      pending_ = false;
    }
  }
  int32_t ymin = section.ymin;
  int32_t ymax = section.ymax;
  while (ymin < ymax) {
    WriteRow(bottomUp_ ? ymax : ymin, section);
    if (bottomUp_) {
      --ymax;
    } else {
      ++ymin;
    }
  }
  if (spool_.directionFlag == 1) {
    WriteRecord(ctx_, job_, "R5", 0);
    spool_.directionFlag = 0;
  }
  job_.headX = section.xmin;
  job_.headY = ymax;
}

void RasterWriter::Run() {
  stride_ = job_.currentStride;
  rows_ = job_.currentRows;
  bottomUp_ = ctx_.bottomUpFlag != 0;
  const size_t rowBytes = static_cast<size_t>(std::max(stride_, 1));
  row_.resize(rowBytes + 8);
  packed_.resize(rowBytes / 8 + 8);
  reversed_.resize(rowBytes + 8);
  record_.resize(kRecordBytes + rowBytes + rowBytes / 128 + 8);

  const int16_t* params = ctx_.classParams[colourClass_];
  int32_t passes = params[kWordPasses];
  if (grey_ && StampOption(ctx_)) passes = 1;
  // A pass count of 0 or less engraves the layer once, as the vector pass does.
  if (passes <= 0) passes = 1;
  step_ = params[kWordDepthStep];
  const int32_t depthMode = params[kWordDepthMode];
  sum_ = 0;
  pending_ = false;
  for (int32_t pass = 0; pass < passes; ++pass) {
    if (depthMode == 0 && step_ != 0) {
      sum_ += step_;
      pending_ = true;
    }
    Zone zone{stride_, 0, bottomUp_ ? rows_ - 1 : 0, bottomUp_ ? rows_ - 1 : 0, 0, 0};
    while (FindZone(zone, grey_)) {
      twoLevel_ = grey_ && job_.twoLevelZone != 0;
      if (twoLevel_) {
        const int32_t power = ClassPower(ctx_, 0);
        const int32_t level = job_.twoLevelLevel;
        const int32_t value = std::abs(level - power) <= 1 ? power : level;
        WriteRecord(ctx_, job_, "PW", RoundHalfAway(value / 1.28));
      }
      const int32_t zoneEnd = bottomUp_ ? zone.ymin : zone.ymax;
      if (ctx_.sectionSplitFlag == 0) {
        WriteSection(zone);
      } else {
        ColumnOccupancy(zone);
        Zone section = zone;
        while (NextSection(section)) {
          WriteSection(section);
          const int32_t right = section.xmax;
          section = zone;
          section.xmin = right;
          section.xmax = stride_;
        }
      }
      zone = Zone{stride_, 0, zoneEnd, zoneEnd, 0, 0};
    }
    if (pass + 1 < passes && depthMode == 1 && step_ != 0) {
      sum_ += step_;
      if (ctx_.firstDotMode == 2) {
        pending_ = true;
      } else {
        WriteDepth(step_);
      }
    }
  }
  if (sum_ != 0) WriteDepth(-sum_);
}

}  // namespace

size_t EncodeRow(const uint8_t* row, size_t length, bool reversed, bool bits, uint8_t* out,
                 uint8_t* scratch) {
  if (length == 0) return 0;
  if (reversed) {
    for (size_t i = 0; i < length; ++i) {
      const uint8_t b = row[length - 1 - i];
      scratch[i] = bits ? kBitReversed[b] : b;
    }
    row = scratch;
  }
  /* PackBits with these rules: any two equal neighbours make a run; a literal or a run holds at most
   * 128 bytes; a literal is written as (count - 1) and its bytes, a run as (1 - count) and its byte;
   * an odd total gets the padding byte 0x80. */
  size_t n = 0;
  uint8_t current = row[0];
  size_t literalStart = 0;
  int32_t literal = 1;
  int32_t run = 0;
  auto writeLiteral = [&](int32_t count) {
    out[n++] = static_cast<uint8_t>(count - 1);
    std::memcpy(out + n, row + literalStart, static_cast<size_t>(count));
    n += static_cast<size_t>(count);
  };
  auto writeRun = [&] {
    out[n++] = static_cast<uint8_t>(1 - run);
    out[n++] = current;
  };
  for (size_t i = 1; i < length; ++i) {
    const uint8_t b = row[i];
    if (b == current) {
      if (literal > 0) {
        if (literal - 1 >= 1) writeLiteral(literal - 1);
        literal = 0;
        run = 1;
      } else if (run > 127) {
        writeRun();
        run = 0;
      }
      ++run;
    } else {
      if (run > 0) {
        writeRun();
        run = 0;
      } else if (literal > 127) {
        writeLiteral(literal);
        literal = 0;
      }
      if (literal == 0) literalStart = i;
      current = b;
      ++literal;
    }
  }
  if (run > 0) {
    writeRun();
  } else if (literal > 0) {
    writeLiteral(literal);
  }
  if (n % 2 != 0) out[n++] = 0x80;
  return n;
}

void ClearStampBorder(Context& ctx, Job& job, void** layer) {
  const int32_t stride = job.currentStride;
  const int32_t rowCount = job.currentRows;
  if (rowCount < 8 || stride < 8) return;
  bool left = false;
  bool right = false;
  bool top = false;
  bool bottom = false;
  {
    RowReader reader(ctx, layer, stride, rowCount, StreamingBlockBudget());
    for (int32_t y = 2; y <= rowCount - 3; ++y) {
      const uint8_t* row = reader.Row(y);
      left = left || row[2] != 0 || row[3] != 0;
      right = right || row[stride - 3] != 0 || row[stride - 4] != 0;
      const bool inner = FirstNonZero(row, 2, stride - 2) < stride - 2;
      if (y == 2 || y == 3) top = top || inner;
      if (y == rowCount - 4 || y == rowCount - 3) bottom = bottom || inner;
    }
  }
  if (top && bottom && left && right) return;
  RowReader reader(ctx, layer, stride, rowCount, StreamingBlockBudget());
  RowWriter writer(ctx, layer, stride, 0, StreamingBlockBudget());
  for (int32_t y = 0; y < rowCount; ++y) {
    uint8_t* out = writer.Next();
    std::memcpy(out, reader.Row(y), static_cast<size_t>(stride));
    if ((!top && y <= 1) || (!bottom && y >= rowCount - 2)) std::memset(out, 0, static_cast<size_t>(stride));
    if (!left) out[0] = out[1] = 0;
    if (!right) out[stride - 1] = out[stride - 2] = 0;
  }
  writer.Flush();
}

void WriteGreyRaster(Context& ctx, Spool& spool, Job& job) {
  if (job.greyLayer == nullptr) return;
  if (StampOption(ctx) && job.machineKind == 1) ClearStampBorder(ctx, job, &job.greyLayer);
  OwnedLayer oriented(OrientLayer(ctx, job, &job.greyLayer, true));
  void** layer = *oriented.handle() != nullptr ? oriented.handle() : &job.greyLayer;
  RasterWriter(ctx, spool, job, layer, true, 0).Run();
}

void WriteColourRaster(Context& ctx, Spool& spool, Job& job) {
  const int colourClass = job.currentClass;
  if (colourClass >= 8 || job.colourLayers[colourClass] == nullptr) return;
  OwnedLayer oriented(OrientLayer(ctx, job, &job.colourLayers[colourClass], false));
  void** layer = *oriented.handle() != nullptr ? oriented.handle() : &job.colourLayers[colourClass];
  RasterWriter(ctx, spool, job, layer, false, colourClass).Run();
}

}  // namespace ostrelin::raster
