// Spool intake: the export debut gathers spooled HPGL page by page, opens and closes series, captures
// and replays coordinates, and ends every job cleanly, by assembly or by the abort path.
#pragma once

#include <cstdint>

#include "engine/records.h"

namespace ostrelin {

// Size of the spool buffer, the pending bytes that start processing, and the longest chunk taken in
// one piece (longer chunks are taken in pieces of this size, as a spooler sending smaller chunks would).
constexpr uint32_t kSpoolBufferBytes = 10001000;
constexpr uint32_t kProcessThreshold = 5000000;
constexpr uint32_t kLargestChunk = 5001000;

constexpr char kSeriesStart[] = "StartDoc_DebutSerieKvx";
constexpr char kSeriesEnd[] = "EndDoc_FinSerieKvx";

// Ends an open spool job after a failure: "AI" 0 and "JF" 0 where the stream stood, the printer's job
// aborted when the sink is the printer, every resource of the job released. Never fails.
void AbortSpoolJob(Context& ctx, Spool& spool, Job& job, void* printer);

}  // namespace ostrelin
