// The job reset: brings the three records to the state in which a new job starts.
#pragma once

#include "engine/records.h"

namespace ostrelin {

constexpr int32_t kSrcCopy = 0xCC0020;

// Clears reader, row and layer state, the estimated time and the pass mode; loads the palettes, the
// interpreter defaults and (classic controller) the motion code table and divisor. Handles are
// forgotten, not closed. Needs the settings of the job loaded.
void ResetJob(Context& ctx, Spool& spool, Job& job);

// Sets the page bounding box empty.
void ResetBoundingBox(Spool& spool);

}  // namespace ostrelin
