// The HPGL page driver: reads commands from the spool buffer and dispatches them.
#pragma once

#include "engine/records.h"

namespace ostrelin::hpgl {

// Consumes HPGL from spool.readPos up to spool.dataEnd (the spool buffer holds the job's unread bytes;
// spool.pageComplete tells whether the data end with a page end), writing strokes to the plot command
// file, until the stop rule raises spool.stopFlag; sets ctx.pageEndFlag at a page-ending command.
void RunPageDriver(Context& ctx, Spool& spool, Job& job);

}  // namespace ostrelin::hpgl
