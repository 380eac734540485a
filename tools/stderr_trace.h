// The engine's diagnostics on standard error, for the commands' --trace option.
#pragma once

#include <cstdio>
#include <cstring>

#include "platform/platform.h"

namespace ostrelin::tools {

// Shows every trace text on standard error while installed (only when enabled).
class StderrTrace : public platform::TraceHook {
 public:
  explicit StderrTrace(bool enabled) : enabled_(enabled) {
    if (enabled_) previous_ = platform::InstallTrace(this);
  }
  ~StderrTrace() override {
    if (enabled_) platform::InstallTrace(previous_);
  }
  StderrTrace(const StderrTrace&) = delete;
  StderrTrace& operator=(const StderrTrace&) = delete;
  void Trace(const char* text) override {
    const size_t length = std::strlen(text);
    const bool ended = length > 0 && text[length - 1] == '\n';
    std::fprintf(stderr, "ostrelin: trace: %s%s", text, ended ? "" : "\n");
  }

 private:
  bool enabled_;
  platform::TraceHook* previous_ = nullptr;
};

}  // namespace ostrelin::tools
