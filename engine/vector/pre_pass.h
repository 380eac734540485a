// The pre-pass of the variant planner: pen-down runs of the plot command file are smoothed before
// the colour sort.
#pragma once

#include <cstdint>

#include "engine/records.h"
#include "platform/platform.h"

namespace ostrelin::vector {

// Where the next run begins in the run stream, which is never rewound nor emptied.
struct RunCursor {
  int64_t consumed = 0;  // bytes of the run stream already handed to the run step
};

// The run step: reads the points appended to runs since the previous call (8 bytes each, two
// little-endian floats) and appends the smoothed run to output as pen-down records (opcode 2).
void RunStep(Context& ctx, platform::Stream& runs, RunCursor& cursor, double width, int32_t count,
             platform::Stream& output);

// Rewrites the plot command file through the run step when the variant flag, the pre-pass count and
// the pre-pass width are all set. params: the vector parameters of the run.
void RunPrePass(Context& ctx, const OstrelinVectorParams& params);

}  // namespace ostrelin::vector
