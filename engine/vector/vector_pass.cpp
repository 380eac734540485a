// The vector pass.
#include "engine/vector/vector_pass.h"

#include "engine/error.h"

namespace ostrelin::vector {

void RunVectorPass(Context& ctx, Spool&, Job&) {
  // The motion planners are not part of the engine yet: a page with strokes is refused instead of
  // being sent without its vector work.
  Fail(ctx, ErrorKind::kBitmap);
}

}  // namespace ostrelin::vector
