// Fatal and non-fatal error reporting through the message sink.
#include "engine/error.h"

#include "engine/messages.h"
#include "platform/platform.h"

namespace ostrelin {

void ShowError(const Context& ctx, ErrorKind kind) {
  const auto index = static_cast<int>(kind);
  const char* text = ctx.messages[index];
  if (text == nullptr) text = MessageTable(kLanguageEnglish)[index];
  platform::messages().Show(text, platform::kMessageStyle);
}

void Fail(Context& ctx, ErrorKind kind) {
  ShowError(ctx, kind);
  ctx.lastError = static_cast<int32_t>(kind) + 1;
  throw EngineAbort{kind};
}

}  // namespace ostrelin
