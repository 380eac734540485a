// Power tables: tab_pui with the error diffusion, and the stamp shoulder with TabPui.
#include "engine/raster/power_tables.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "engine/error.h"
#include "engine/raster/layer_io.h"
#include "engine/scratch.h"

namespace ostrelin::raster {
namespace {

// Adds e16 / 16 to a grey byte, unless it is exactly 255, clamping to 0..255 and truncating. The
// diffused error terms (7, 3, 5 and 1 sixteenths of an integer error) are exact in sixteenths, so this
// integer form gives the same bytes as the single-precision sum.
inline void Spread(uint8_t& value, int32_t e16) {
  if (value == 255) return;
  const int32_t sum = std::clamp(value * 16 + e16, 0, 255 * 16);
  value = static_cast<uint8_t>(sum >> 4);
}

/* Floyd-Steinberg diffusion of one row of W grey dots into the next row: every dot becomes 0 or 255
 * (threshold above 127), and its error (old value minus new, in grey levels) goes 7/16 to the right
 * neighbour, 3/16 below left, 5/16 below and 1/16 below right. A dot at exactly 255 takes no error, so
 * white stays white. */
void DiffuseRow(uint8_t* current, uint8_t* next, int32_t width) {
  for (int32_t x = 0; x < width; ++x) {
    const int32_t old = current[x];
    int32_t error;
    if (old > 127) {
      error = old - 255;
      current[x] = 255;
    } else {
      error = old;
      current[x] = 0;
    }
    if (error == 0) continue;
    if (x + 1 < width) Spread(current[x + 1], 7 * error);
    if (x > 0) Spread(next[x - 1], 3 * error);
    Spread(next[x], 5 * error);
    if (x + 1 < width) Spread(next[x + 1], error);
  }
}

// Every dot of the layer (stride x rows at handle) through a table, in place, block by block.
void MapLayer(Context& ctx, void** handle, int32_t stride, int32_t rowCount, const uint8_t* table) {
  if (stride <= 0 || rowCount <= 0) return;
  RowReader reader(ctx, handle, stride, rowCount, StreamingBlockBudget());
  RowWriter writer(ctx, handle, stride, 0, StreamingBlockBudget());
  for (int32_t y = 0; y < rowCount; ++y) {
    const uint8_t* in = reader.Row(y);
    uint8_t* out = writer.Next();
    for (int32_t x = 0; x < stride; ++x) out[x] = table[in[x]];
  }
  writer.Flush();
}

// Resolution of the shoulder: the finer engraving resolution.
int32_t ShoulderDpi(const Context& ctx) { return std::max(ctx.engravingResX, ctx.engravingResY); }

/* The labelling rule along one row: walking from the row's start, inside tells whether the walk is
 * in a non-zero area; a background dot just before an area takes the label, and so does the
 * background dot just after one. */
void LabelRow(uint8_t* row, int32_t width, uint8_t label) {
  bool in = row[0] != 0;
  for (int32_t x = 0; x + 1 < width; ++x) {
    const uint8_t a = row[x];
    const uint8_t b = row[x + 1];
    if (a == b) continue;
    if (a == 0 && !in) {
      row[x] = label;
      in = true;
    } else if (b == 0 && in) {
      row[x + 1] = label;
      in = false;
    }
  }
}

// The same rule down every column over the vertical pairs of rows [first, last] of a block; inside
// holds each column's walk state at row first and is left at its state at row last.
void LabelColumns(uint8_t* block, int32_t width, int32_t first, int32_t last, uint8_t label,
                  uint8_t* inside) {
  for (int32_t y = first; y < last; ++y) {
    uint8_t* upper = block + static_cast<size_t>(y) * width;
    uint8_t* lower = upper + width;
    for (int32_t x = 0; x < width; ++x) {
      const uint8_t a = upper[x];
      const uint8_t b = lower[x];
      if (a == b) continue;
      uint8_t& in = inside[x];
      if (a == 0 && in == 0) {
        upper[x] = label;
        in = 1;
      } else if (b == 0 && in != 0) {
        lower[x] = label;
        in = 0;
      }
    }
  }
}

}  // namespace

uint8_t ApplyBrightness(const Context& ctx, uint8_t v) {
  if (v == 0) return 0;
  int32_t b = v + 50 - ctx.brightness;
  if (b < 0) b = 0;
  const int32_t power = ClassPower(ctx, 0);
  if (b > power) b = power;
  return static_cast<uint8_t>(b);
}

std::array<uint8_t, 256> BuildTabPui(const Context& ctx) {
  std::array<uint8_t, 256> table{};
  const int32_t power = ClassPower(ctx, 0);
  for (int i = 0; i < 256; ++i) {
    const double x = power * std::sqrt(255.0 - i) / std::sqrt(255.0);
    int32_t y = ApplyBrightness(ctx, static_cast<uint8_t>(RoundHalfAway(x)));
    if (NegativeOption(ctx)) y = power - y;
    table[static_cast<size_t>(i)] = static_cast<uint8_t>(y);
  }
  return table;
}

void MapGreyToPower(Context& ctx, Spool&, Job& job) {
  if (job.greyLayer == nullptr) return;
  const std::array<uint8_t, 256> tabPui = BuildTabPui(ctx);
  const int32_t width = job.greyStride;
  const int32_t rowCount = job.greyRows;
  if (!DiffusionOption(ctx)) {
    MapLayer(ctx, &job.greyLayer, width, rowCount, tabPui.data());
    return;
  }
  if (width <= 0 || rowCount <= 0) return;
  // Two rows in memory; each diffused row is mapped through tab_pui as it is written back, which
  // gives the same layer as a diffusion pass followed by a mapping pass.
  RowReader reader(ctx, &job.greyLayer, width, rowCount, StreamingBlockBudget());
  RowWriter writer(ctx, &job.greyLayer, width, 0, StreamingBlockBudget());
  Buffer rows(ctx, 2 * static_cast<size_t>(width));
  uint8_t* current = rows.data();
  uint8_t* next = rows.data() + width;
  std::memcpy(next, reader.Row(0), static_cast<size_t>(width));
  for (int32_t i = 1; i < rowCount; ++i) {
    std::swap(current, next);
    std::memcpy(next, reader.Row(i), static_cast<size_t>(width));
    DiffuseRow(current, next, width);
    uint8_t* out = writer.Next();
    for (int32_t x = 0; x < width; ++x) out[x] = tabPui[current[x]];
  }
  uint8_t* out = writer.Next();
  for (int32_t x = 0; x < width; ++x) out[x] = tabPui[next[x] > 127 ? 255 : 0];
  writer.Flush();
}

int32_t ShoulderRings(const Context& ctx) {
  const int32_t k = RoundHalfAway(static_cast<double>(ShoulderWidthHmm(ctx)) * ShoulderDpi(ctx) / 2540.0);
  // Labels are bytes and the k-th ring is labelled k + 1: at most 254 rings.
  return std::clamp(k, 0, 254);
}

int32_t InnerShoulderRings(const Context& ctx) {
  const int32_t d =
      RoundHalfAway(static_cast<double>(InnerShoulderWidthHmm(ctx)) * ShoulderDpi(ctx) / 2540.0);
  return std::clamp(d, 0, ShoulderRings(ctx));
}

std::array<uint8_t, 260> BuildStampTable(const Context& ctx, int32_t k, int32_t d) {
  std::array<uint8_t, 260> table{};
  const int32_t power = ClassPower(ctx, 0);
  const double shoulder = ShoulderPowerPercent(ctx) * 1.28;
  table[0] = static_cast<uint8_t>(power);
  table[1] = 0;
  for (int32_t l = 2; l <= d + 1; ++l)
    table[static_cast<size_t>(l)] = static_cast<uint8_t>(static_cast<int32_t>(shoulder * (l - 1) / d));
  for (int32_t l = d + 2; l <= k + 1; ++l) {
    table[static_cast<size_t>(l)] =
        static_cast<uint8_t>(static_cast<int32_t>(shoulder + (power - shoulder) * (l - d - 1) / (k - d)));
  }
  return table;
}

/* Ring labelling: pass i (label i + 2) applies the rule along every row, then down every column, so
 * that every non-zero area grows by one ring of background dots in x and then in y.
 * A layer of at least the row block budget is labelled in blocks that overlap by k rows: a block after
 * the first restarts k rows before the previous block's end, the previous block having ended pass i at
 * its last row minus i (R_i), and the new block resumes pass i at R_i. To give the same labels as the
 * whole layer at once, the resumed pass does not apply the row rule to R_i a second time (a second
 * application would grow the ring again), and its column walks continue from the state they had at R_i
 * in the previous block instead of restarting from R_i's dots (the walk's state is not always "the
 * current dot is non-zero": after labelling the dot below an area it stays outside through any
 * non-zero dots that follow). Those states, one byte per column and pass, are kept between blocks. */
void StampShoulder(Context& ctx, Job& job) {
  const int32_t k = ShoulderRings(ctx);
  if (k == 0 || job.greyLayer == nullptr) return;
  const int32_t width = job.currentStride;
  const int32_t rowCount = job.currentRows;
  if (width <= 0 || rowCount <= 0) return;
  const uint64_t budget = RowBlockBudget();
  const uint64_t total = static_cast<uint64_t>(width) * static_cast<uint64_t>(rowCount);
  int32_t blockRows = rowCount;
  if (total >= budget) {
    // The column states take k rows of the budget; a block holds at least 2k + 2 rows, so that blocks
    // advance.
    const uint64_t rowsInBudget = budget / static_cast<uint64_t>(width);
    const uint64_t rows =
        rowsInBudget > static_cast<uint64_t>(k) ? rowsInBudget - static_cast<uint64_t>(k) : 0;
    blockRows = static_cast<int32_t>(
        std::clamp<uint64_t>(rows, static_cast<uint64_t>(2 * k + 2), static_cast<uint64_t>(rowCount)));
  }
  Buffer block(ctx, static_cast<size_t>(width) * static_cast<size_t>(blockRows));
  const bool blocked = blockRows < rowCount;
  Buffer states(ctx, static_cast<size_t>(width) * static_cast<size_t>(blocked ? k : 1));
  for (int32_t start = 0;;) {
    const int32_t count = std::min(blockRows, rowCount - start);
    const bool firstBlock = start == 0;
    const bool lastBlock = start + count >= rowCount;
    const auto bytes = static_cast<uint32_t>(static_cast<size_t>(width) * static_cast<size_t>(count));
    const uint64_t offset = static_cast<uint64_t>(start) * static_cast<uint64_t>(width);
    ReadAtOffset(ctx, &job.greyLayer, bytes, block.data(), offset);
    for (int32_t i = 0; i < k; ++i) {
      const auto label = static_cast<uint8_t>(i + 2);
      const int32_t first = firstBlock ? 0 : k - i - 1;
      const int32_t last = lastBlock ? count - 1 : count - 1 - i;
      uint8_t* inside = states.data() + (blocked ? static_cast<size_t>(i) * static_cast<size_t>(width) : 0);
      for (int32_t y = firstBlock ? 0 : first + 1; y <= last; ++y)
        LabelRow(block.data() + static_cast<size_t>(y) * static_cast<size_t>(width), width, label);
      if (firstBlock) {
        const uint8_t* top = block.data();
        for (int32_t x = 0; x < width; ++x) inside[x] = top[x] != 0 ? 1 : 0;
      }
      LabelColumns(block.data(), width, first, last, label, inside);
    }
    WriteAtOffset(ctx, &job.greyLayer, bytes, block.data(), offset);
    if (lastBlock) break;
    start += count - k;
  }
  const std::array<uint8_t, 260> table = BuildStampTable(ctx, k, InnerShoulderRings(ctx));
  uint8_t map[256];
  std::memcpy(map, table.data(), sizeof map);
  MapLayer(ctx, &job.greyLayer, width, rowCount, map);
}

}  // namespace ostrelin::raster
