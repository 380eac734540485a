// Halftone screening: grey levels to on and off dots through tab_ndg and the trame patterns.
#include "engine/raster/screening.h"

#include <algorithm>

#include "engine/raster/layer_io.h"
#include "engine/raster/trame_order.h"
#include "engine/scratch.h"

namespace ostrelin::raster {

std::array<uint8_t, 256> BuildTabNdg(const Context& ctx) {
  std::array<uint8_t, 256> table{};
  const int32_t shift = RoundHalfAway((50 - ctx.brightness) * 2.55);
  for (int i = 0; i < 256; ++i) {
    int32_t v = 255 - i;
    if (v != 0) v = std::clamp(v + shift, 0, 255);
    if (NegativeOption(ctx)) v = 255 - v;
    table[static_cast<size_t>(i)] = static_cast<uint8_t>(v);
  }
  return table;
}

/* Screen: the darkness g = tab_ndg[grey] (thresholded to 0 or 255 with the stamp and stamp threshold
 * options) gives the level L = round(g / 4), 0 to 64; dot (x, y) becomes cell (y mod 8, x mod 8) of
 * pattern L, which is on when the cell's order number is at most L. On is the class power P of class
 * 0, or 1 for the stamp. The per-dot work is folded into one table per cell position: value[y mod 8]
 * [x mod 8][grey]. */
void ScreenGreyLayer(Context& ctx, Job& job) {
  if (job.greyLayer == nullptr) return;
  const std::array<uint8_t, 256> tabNdg = BuildTabNdg(ctx);
  const bool stamp = StampOption(ctx);
  const bool threshold = stamp && StampThresholdOption(ctx);
  const auto on = static_cast<uint8_t>(255 & (stamp ? 1 : ClassPower(ctx, 0)));
  uint8_t value[8][8][256];
  for (int grey = 0; grey < 256; ++grey) {
    int32_t g = tabNdg[static_cast<size_t>(grey)];
    if (threshold) g = g > 127 ? 255 : 0;
    const int32_t level = RoundHalfAway(g / 4.0);
    for (int r = 0; r < 8; ++r) {
      for (int c = 0; c < 8; ++c) value[r][c][grey] = kTrameOrder[r][c] <= level ? on : 0;
    }
  }
  const int32_t width = job.currentStride;
  const int32_t rowCount = job.currentRows;
  if (width <= 0 || rowCount <= 0) return;
  RowReader reader(ctx, &job.greyLayer, width, rowCount, StreamingBlockBudget());
  RowWriter writer(ctx, &job.greyLayer, width, 0, StreamingBlockBudget());
  for (int32_t y = 0; y < rowCount; ++y) {
    const uint8_t* in = reader.Row(y);
    uint8_t* out = writer.Next();
    const auto& cells = value[y & 7];
    for (int32_t x = 0; x < width; ++x) out[x] = cells[x & 7][in[x]];
  }
  writer.Flush();
}

}  // namespace ostrelin::raster
