// Job assembly: the job header, the raster work of every layer, the vector work and the closing
// records with the estimated time.
#pragma once

#include "engine/records.h"

namespace ostrelin {

// Writes "!LA 192;" and the 192-byte job header (plate and resolutions exchanged for orientations
// above 3, in the copy that is written).
void WriteJobHeader(Context& ctx, Spool& spool, Job& job);

// Writes everything after the job header and stores the estimated time in the printer data when the
// sink is the printer.
void AssembleJob(Context& ctx, Spool& spool, Job& job);

// True for the colour modes that take the raster pass (1, 4, 5 and 7).
bool TakesRasterPass(int colourMode);

// The estimated time as sent in "TE": whole seconds, truncated, kept within 0 .. 2^32 - 1.
uint32_t EstimatedSeconds(double seconds);

}  // namespace ostrelin
