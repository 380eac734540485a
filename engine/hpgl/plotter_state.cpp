// Plotter state of the HPGL interpreter.
#include "engine/hpgl/plotter_state.h"

namespace ostrelin::hpgl {

void PrepareHpglState(Context& ctx, Spool& spool, Job&) {
  ctx.drawMinX = static_cast<float>(spool.bboxMinX);
  ctx.drawMaxX = static_cast<float>(spool.bboxMaxX);
  ctx.drawMinY = static_cast<float>(spool.bboxMinY);
  ctx.drawMaxY = static_cast<float>(spool.bboxMaxY);
  ctx.pageEndFlag = 0;
}

}  // namespace ostrelin::hpgl
