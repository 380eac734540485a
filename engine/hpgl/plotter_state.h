// Plotter state of the HPGL interpreter.
#pragma once

#include "engine/records.h"

namespace ostrelin::hpgl {

// Prepares the interpreter for a new page: the drawing extent starts from the (empty) page bounding
// box of the spool record and the page-end flag is clear.
void PrepareHpglState(Context& ctx, Spool& spool, Job& job);

}  // namespace ostrelin::hpgl
