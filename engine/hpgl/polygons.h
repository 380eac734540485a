// Polygons: the polygon buffer of the job record (PM, EP) and the fills that draw it into a one-bit
// bitmap and hand the bitmap's rows to the raster intake (FP, RR).
#pragma once

#include "engine/hpgl/reader.h"
#include "engine/records.h"

namespace ostrelin::hpgl {

// A stored x above this marks a pen-up point (which has the pen-up mark added).
constexpr float kPolygonPenUpThreshold = 400000.0f;

// Fills the closed subpolygons of the polygon buffer (rectangle clear) or the buffer's bounding
// rectangle (rectangle set) into the layer of the current colour class at the engine resolution,
// cropped to the clipping window. Nothing is filled after the page end, for a white pen, without a
// closed subpolygon, or when the box is empty or narrower than a dot both ways. "Memory error" or
// "Bitmap error" when the work buffers or the bitmap cannot be had, "Plate size error" when the rows
// would not lie on the layer.
void FillPolygonBuffer(Context& ctx, Spool& spool, Job& job, bool rectangle);

// Command handlers.
void PolygonMode(Interp& in);    // PM
void EdgePolygon(Interp& in);    // EP
void FillPolygon(Interp& in);    // FP
void FillRectangle(Interp& in);  // RR

}  // namespace ostrelin::hpgl
