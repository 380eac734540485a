// Halftone screening of the grey layer through the clustered-dot screen trame.
#pragma once

#include <array>
#include <cstdint>

#include "engine/records.h"

namespace ostrelin::raster {

// tab_ndg: darkness of every grey level after brightness and negative option.
std::array<uint8_t, 256> BuildTabNdg(const Context& ctx);

// Screens the grey layer in place at its current stride and rows: on dots get the class power of
// class 0 (1 with the stamp option), off dots 0.
void ScreenGreyLayer(Context& ctx, Job& job);

}  // namespace ostrelin::raster
