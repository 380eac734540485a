// Estimated engraving time: profiled motion records, raster head moves and raster zones add their
// seconds to the job record's estimated time.
#pragma once

#include <cstddef>
#include <cstdint>

#include "engine/records.h"
#include "engine/vector/motion_record.h"

namespace ostrelin::vector {

// Adds the time of one relative raster head move ("RX" when alongX, else "RY") of moveDots dots
// (for a colour layer, whose x positions are bytes, the caller passes bytes * 8) to job.estimatedTime.
// The dots are at the output's engraving resolution of that axis, which this function picks itself:
// ctx.engravingResX for "RX" and ctx.engravingResY for "RY", exchanged when ctx.orientation is 4 to 7.
// The move runs from and to the pen-up minimum speed at the pen-up acceleration for long moves,
// peaking at most at the pen-up maximum speed. Its length in hundredths of a millimetre keeps its
// full value (moves beyond the 16-bit range are not wrapped).
void AddRasterHeadMoveTime(const Context& ctx, Job& job, int32_t moveDots, bool alongX);

// Adds the time of one zone section's rows to job.estimatedTime: rowCount rows of rowLengthMm
// (sign ignored; 0 adds nothing), fed by rowPitchMm, each carrying rowWidthDots dots of data,
// engraved at the speed of speedWord (the class's speed word, 1000 = full speed). engravingResY
// (dots per inch, as the raster writer passes it) only matters for the models whose row feed
// acceleration depends on it. The machine model, stamp option, fast flag and unidirectional switch
// come from ctx.
void AddZoneTime(const Context& ctx, Job& job, int32_t speedWord, double rowLengthMm, int32_t rowCount,
                 double rowPitchMm, int32_t rowWidthDots, int32_t engravingResY);

// Adds the time of count profiled records (speeds already set by the look-ahead flush) to
// job.estimatedTime. penDown: the records are a run of pen-down work, whose speed is capped by the
// pen's speed value (the colour's speed word, 1000 = full speed); else they are one travel move.
// lengthsMm, when given, holds RecordLengthMm of each record, as the look-ahead flush leaves it.
void AddProfileTime(Job& job, const OstrelinVectorParams& params, const ProfileRecord* records, size_t count,
                    bool penDown, int32_t penSpeedValue, const double* lengthsMm = nullptr);

}  // namespace ostrelin::vector
