// POSIX message sink: the message box text on standard error, prefixed by the program name, or
// handed to a callback the host installed.
#include <cerrno>
#include <cstdio>
#include <string>

#include "ostrelin/ostrelin_posix.h"
#include "platform/platform.h"
#include "platform/posix/posix.h"

namespace ostrelin::platform {
namespace posix {

std::string Cp1252ToUtf8(const char* text) {
  // Code points of 0x80..0x9F in Windows-1252 (0 where the code page leaves a hole).
  static constexpr char16_t kHigh[32] = {
      0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
      0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
      0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};
  std::string out;
  for (const auto* p = reinterpret_cast<const unsigned char*>(text); *p != 0; ++p) {
    char32_t code = *p;
    if (code >= 0x80 && code < 0xA0) code = kHigh[code - 0x80] != 0 ? kHigh[code - 0x80] : U'?';
    if (code < 0x80) {
      out += static_cast<char>(code);
    } else if (code < 0x800) {
      out += static_cast<char>(0xC0 | (code >> 6));
      out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
      out += static_cast<char>(0xE0 | (code >> 12));
      out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (code & 0x3F));
    }
  }
  return out;
}

}  // namespace posix

namespace {

OstrelinMessageCallback gCallback = nullptr;
void* gCallbackUser = nullptr;

class StderrMessages final : public MessageSink {
 public:
  void Show(const char* text, uint32_t style) override {
    if (gCallback != nullptr) {
      gCallback(gCallbackUser, text, style);
      return;
    }
    std::fprintf(stderr, "%s: %s\n", program_invocation_short_name, posix::Cp1252ToUtf8(text).c_str());
  }
};

class SilentTrace final : public TraceHook {
 public:
  void Trace(const char*) override {}
};

}  // namespace

MessageSink& NativeMessages() {
  static StderrMessages sink;
  return sink;
}

TraceHook& NativeTrace() {
  static SilentTrace hook;
  return hook;
}

}  // namespace ostrelin::platform

extern "C" OSTRELIN_API void ostrelinPosixSetMessageCallback(OstrelinMessageCallback callback, void* user) noexcept {
  ostrelin::platform::gCallback = callback;
  ostrelin::platform::gCallbackUser = user;
}
