// Raster blocks: a prepared layer into the job stream as zones and sections of run-length coded rows,
// with relative head moves, passes, depth records and the time estimate.
#pragma once

#include <cstddef>
#include <cstdint>

#include "engine/records.h"

namespace ostrelin::raster {

// Writes the raster blocks of the grey layer (bytes are power levels; class 0's parameters).
void WriteGreyRaster(Context& ctx, Spool& spool, Job& job);

// Writes the raster blocks of the colour layer of the current colour class (bits: engrave or not).
void WriteColourRaster(Context& ctx, Spool& spool, Job& job);

// Run-length codes length bytes of row into out (reversed first, dot by dot for bits, when reversed
// is true; scratch holds length bytes for that). Returns the coded length, always even. out needs
// length + length / 128 + 2 bytes.
size_t EncodeRow(const uint8_t* row, size_t length, bool reversed, bool bits, uint8_t* out, uint8_t* scratch);

// Clears the stamp border of the grey layer at its current stride and rows: two rows or two bytes on
// each side whose inner band (the next two) holds nothing.
void ClearStampBorder(Context& ctx, Job& job, void** layer);

}  // namespace ostrelin::raster
