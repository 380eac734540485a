// Escape sequences embedded in HPGL: mode switches and raster groups, with their binary data.
#pragma once

#include <cstdint>

#include "engine/hpgl/reader.h"

namespace ostrelin::hpgl {

// Reads one escape sequence after its ESC, parameters and data included.
void ReadEscape(Interp& in);

// The raster operation code of a merge operation number (copy for numbers without one).
int32_t RasterOperationCode(int32_t number);

}  // namespace ostrelin::hpgl
