// The raster pass: plate cut, resolution change and grey-to-power steps of a layer, and the
// orientation that the raster-block writer applies first.
#pragma once

#include <cstdint>
#include <vector>

#include "engine/records.h"

namespace ostrelin::raster {

// Raster pass of the layer selected by the current colour class (its colour layer if it exists, else
// the grey layer): plate cut, resolution change, and for the grey layer the screen and the stamp
// shoulder when their options are on. Sets the job's current stride and rows.
void RasterPass(Context& ctx, Spool& spool, Job& job);

// Cuts the layer to the plate extent in place: rows of extent width (bytes for a colour layer, whose
// width in dots goes to ctx.currentWidthDots), extent height rows.
void FitToPlate(Context& ctx, Job& job, void** layer, bool isGrey);

// Stepping parameters from engine resolution a to engraving resolution b; 0 when a or b is 0.
int StepParameters(uint32_t a, uint32_t b, int32_t* entier, int32_t* reste, int32_t* plage);

// Source index of every destination index along one axis of n source dots (or rows) going from
// resolution a to resolution b; empty when a equals b (the axis is unchanged).
std::vector<int32_t> AxisMap(uint32_t a, uint32_t b, int32_t n);

// Resolution change of the grey layer / of the colour layer of the current class, in place for
// reductions, through a new file when an axis is enlarged.
void ScaleGreyLayer(Context& ctx, Job& job);
void ScaleColourLayer(Context& ctx, Job& job);

// Writes the layer turned to ctx.orientation into a new layer file and returns it (the caller closes
// it); returns nullptr for orientation 0. Updates the current stride, rows and width in dots.
void* OrientLayer(Context& ctx, Job& job, void** layer, bool isGrey);

}  // namespace ostrelin::raster
