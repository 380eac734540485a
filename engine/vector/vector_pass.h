// The vector pass: strokes of the plot command file become pen records and motion records.
#pragma once

#include "engine/records.h"

namespace ostrelin::vector {

// Reads the plot command file from its start up to the end length and writes the vector work of the
// page to the sink, adding the time of the moves to the estimated time.
void RunVectorPass(Context& ctx, Spool& spool, Job& job);

}  // namespace ostrelin::vector
