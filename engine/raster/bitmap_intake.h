// Bitmap intake: merges one-bit, three-plane and byte rows into the colour layer files and the grey
// layer file at the row origin and current row of the job record.
#pragma once

#include <cstdint>

#include "engine/records.h"

namespace ostrelin::raster {

// What plane 0 (and planes 1, 2) of the spool record's row buffer hold.
enum class SourceKind { kBits, kPlanes, kBytes };

// One one-bit row from plane 0: to the grey layer when the grey pipeline flag is set, else to the
// colour layer of the current colour class (class 8 writes nothing).
void PutBitRow(Context& ctx, Spool& spool, Job& job);

// One three-plane colour row (bit b of planes 0, 1, 2 indexes the raster palette) into the grey layer.
void PutPlaneRow(Context& ctx, Spool& spool, Job& job);

// One row into the grey layer.
void PutGreyRow(Context& ctx, Spool& spool, Job& job, SourceKind kind);

// After bytesReceived bytes of the pending plane have arrived: clears the rest of the plane up to the
// row length and copies the plane into its seed row.
void FinishPlane(Spool& spool, int32_t bytesReceived);

// Grey of a [blue, green, red, spare] palette entry: (30 red + 59 green + 11 blue) / 100.
inline uint8_t GreyOf(const uint8_t entry[4]) {
  return static_cast<uint8_t>((entry[2] * 30 + entry[1] * 59 + entry[0] * 11) / 100);
}

// Colour layer geometry: bytes per row.
int32_t ColourLayerStride(const Context& ctx);

}  // namespace ostrelin::raster
