// The rendering road driven from a stroke script: the engine's exports in their calling order, and the
// finished job read back in chunks.
#pragma once

#include <cstdint>
#include <ostream>
#include <vector>

#include "tools/stroke_script.h"

namespace ostrelin::tools {

struct RenderOptions {
  bool trace = false;  // show the engine's diagnostics on standard error
};

// Opens a job with a copy of settings (the engine converts its speeds in place), makes the script's calls,
// assembles the job and writes it to out; returns the number of bytes written. When the engine reports an
// error (it has shown its message already) nothing more is written and a Failure names the call.
uint64_t RenderJob(const std::vector<uint8_t>& settings, const std::vector<StrokeCommand>& commands,
                   std::ostream& out, const RenderOptions& options);

}  // namespace ostrelin::tools
