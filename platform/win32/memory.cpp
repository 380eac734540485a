// Windows memory: large blocks as fixed global memory, available memory from the memory status.
#include "platform/platform.h"
#include "platform/win32/win32.h"

namespace ostrelin::platform {
namespace {

class Win32Memory final : public Memory {
 public:
  void* Allocate(size_t size, bool zeroFill) override {
    if (size == 0) size = 1;
    return GlobalAlloc(zeroFill ? GPTR : GMEM_FIXED, size);
  }
  void Free(void* block) override {
    if (block != nullptr) GlobalFree(block);
  }
  uint64_t AvailablePhysical() override {
    MEMORYSTATUSEX status{};
    status.dwLength = sizeof status;
    return GlobalMemoryStatusEx(&status) ? status.ullAvailPhys : 0;
  }
};

}  // namespace

Memory& NativeMemory() {
  static Win32Memory memory;
  return memory;
}

}  // namespace ostrelin::platform
