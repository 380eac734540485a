// Encoded polylines (PE): coordinates as base-64 (8-bit mode) or base-32 (7-bit mode) numbers in
// printable bytes, with flags for pen up, absolute pairs, pen selection, fraction bits and 7-bit mode.
#pragma once

#include "engine/hpgl/reader.h"

namespace ostrelin::hpgl {

// PE: decodes the data up to ";" and plots each pair as plotted pairs are.
void EncodedPolyline(Interp& in);

}  // namespace ostrelin::hpgl
