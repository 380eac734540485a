// The vector pass: strokes of the plot command file become pen records and motion records.
#pragma once

#include "engine/records.h"

namespace ostrelin::vector {

// Why the pass runs: to write the job, or only to estimate its time before a classic-controller job
// is written (the caller has set the controller flag and the estimate-only flag for that run).
enum class PassRole { kWrite, kEstimate };

// Reads the plot command file from its start up to the end length and writes the vector work of the
// page to the sink, adding the time of the moves to the estimated time.
void RunVectorPass(Context& ctx, Spool& spool, Job& job, PassRole role = PassRole::kWrite);

// The vector parameters the estimating run of a classic-controller job plans with: those of the
// job, whose pen-down values, when they cannot drive a profile (the built-in corner tables carry a
// pen-down maximum speed of 0), are replaced by those a profiling controller of the same model gets.
OstrelinVectorParams EstimatingParams(const Context& ctx, const Job& job);

}  // namespace ostrelin::vector
