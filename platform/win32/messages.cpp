// Windows message sink: a message box without owner window or caption; the trace hook writes nothing.
#include "platform/platform.h"
#include "platform/win32/win32.h"

namespace ostrelin::platform {
namespace {

class MessageBoxSink final : public MessageSink {
 public:
  void Show(const char* text, uint32_t style) override { MessageBoxA(nullptr, text, nullptr, style); }
};

class SilentTrace final : public TraceHook {
 public:
  void Trace(const char*) override {}
};

}  // namespace

MessageSink& NativeMessages() {
  static MessageBoxSink sink;
  return sink;
}

TraceHook& NativeTrace() {
  static SilentTrace hook;
  return hook;
}

}  // namespace ostrelin::platform
