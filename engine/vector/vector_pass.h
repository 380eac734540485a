// The vector pass: strokes of the plot command file become pen records and motion records.
#pragma once

#include <memory>

#include "engine/records.h"

namespace ostrelin::vector {

struct SortResult;

// The plot command file sorted by colour into scratch files. Job assembly keeps one across the
// estimating run and the run that writes a classic-controller job: when both read the plot command
// file as it stands (no pre-pass), the second run takes the colour files of the first instead of
// sorting again. Whatever is still held is closed when the object goes.
class SortedStrokes {
 public:
  SortedStrokes();
  ~SortedStrokes();
  SortedStrokes(const SortedStrokes&) = delete;
  SortedStrokes& operator=(const SortedStrokes&) = delete;

  std::unique_ptr<SortResult> held;
};

// Why the pass runs: to write the job, or only to estimate its time before a classic-controller job
// is written (the caller has set the controller flag and the estimate-only flag for that run).
enum class PassRole { kWrite, kEstimate };

// Reads the plot command file from its start up to the end length and writes the vector work of the
// page to the sink, adding the time of the moves to the estimated time. keep, when given: an
// estimating run without pre-pass leaves its colour sort there, and a run without pre-pass takes the
// sort it finds there (and closes it when it ends).
void RunVectorPass(Context& ctx, Spool& spool, Job& job, PassRole role = PassRole::kWrite,
                   SortedStrokes* keep = nullptr);

// The vector parameters the estimating run of a classic-controller job plans with: those of the
// job, whose pen-down values, when they cannot drive a profile (the built-in corner tables carry a
// pen-down maximum speed of 0), are replaced by those a profiling controller of the same model gets.
OstrelinVectorParams EstimatingParams(const Context& ctx, const Job& job);

}  // namespace ostrelin::vector
