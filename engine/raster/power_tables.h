// Grey levels to laser power: the direct mapping (error diffusion and tab_pui) and the stamp shoulder
// (ring labelling and TabPui).
#pragma once

#include <array>
#include <cstdint>

#include "engine/records.h"

namespace ostrelin::raster {

// Brightness correction of a power level v (50 is neutral), kept within 0 .. P of class 0.
uint8_t ApplyBrightness(const Context& ctx, uint8_t v);

// tab_pui: power of every grey level (square-root law, brightness, negative option).
std::array<uint8_t, 256> BuildTabPui(const Context& ctx);

// Direct power mapping of the whole grey layer (grey stride and rows): optional error diffusion to
// black and white, then every byte through tab_pui.
void MapGreyToPower(Context& ctx, Spool& spool, Job& job);

// Ring count k and inner ring count d of the shoulder from the settings (k at most 254, d at most k).
int32_t ShoulderRings(const Context& ctx);
int32_t InnerShoulderRings(const Context& ctx);

// TabPui: power of every shoulder label for k rings, d of them inner.
std::array<uint8_t, 260> BuildStampTable(const Context& ctx, int32_t k, int32_t d);

// Stamp shoulder of the grey layer at its current stride and rows (0 background, 1 raised).
void StampShoulder(Context& ctx, Job& job);

}  // namespace ostrelin::raster
