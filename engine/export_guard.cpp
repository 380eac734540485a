// The error frame of the exports.
#include "engine/export_guard.h"

#include <new>

#include "engine/messages.h"
#include "platform/platform.h"

namespace ostrelin {

bool RecordsGiven(const void* ctx, const void* spool, const void* job) {
  if (ctx != nullptr && spool != nullptr && job != nullptr) return true;
  platform::messages().Show(MessageTable(kLanguageEnglish)[static_cast<int>(ErrorKind::kBadPointer)],
                            platform::kMessageStyle);
  return false;
}

void RunUnderFrame(Context& ctx, void (*body)(void*), void* closure) noexcept {
  ctx.errorFrameActive = 1;
  try {
    body(closure);
  } catch (const EngineAbort&) {
    // The failing function has shown its message and recorded the kind.
  } catch (const std::bad_alloc&) {
    ShowError(ctx, ErrorKind::kMemory);
    ctx.lastError = static_cast<int32_t>(ErrorKind::kMemory) + 1;
  } catch (...) {
    ShowError(ctx, ErrorKind::kBadPointer);
    ctx.lastError = static_cast<int32_t>(ErrorKind::kBadPointer) + 1;
  }
  ctx.errorFrameActive = 0;
}

}  // namespace ostrelin
