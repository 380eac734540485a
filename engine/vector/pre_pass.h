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

// Whether the pre-pass runs with these vector parameters: the variant flag, the pre-pass count and the
// pre-pass width all set.
bool PrePassApplies(const OstrelinVectorParams& params);

// Writes the plot command file, from its current position up to the end length, rewritten through the
// run step, into output; the plot command file itself is left as it was.
void WritePrePass(Context& ctx, const OstrelinVectorParams& params, platform::Stream& output);

// Rewrites the plot command file through the run step when the pre-pass applies, and sets the end
// length to the rewritten length. params: the vector parameters of the run.
void RunPrePass(Context& ctx, const OstrelinVectorParams& params);

}  // namespace ostrelin::vector
