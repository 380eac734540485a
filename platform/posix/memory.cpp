// POSIX memory: large blocks from the C heap, available memory from the kernel's estimate.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/platform.h"

namespace ostrelin::platform {
namespace {

class PosixMemory final : public Memory {
 public:
  void* Allocate(size_t size, bool zeroFill) override {
    if (size == 0) size = 1;
    return zeroFill ? std::calloc(1, size) : std::malloc(size);
  }
  void Free(void* block) override { std::free(block); }
  uint64_t AvailablePhysical() override {
    // MemAvailable counts reclaimable caches, which is what a large row block may use.
    if (FILE* info = std::fopen("/proc/meminfo", "r")) {
      char line[256];
      unsigned long long kib = 0;
      bool found = false;
      while (std::fgets(line, sizeof line, info) != nullptr) {
        if (std::sscanf(line, "MemAvailable: %llu kB", &kib) == 1) {
          found = true;
          break;
        }
      }
      std::fclose(info);
      if (found) return static_cast<uint64_t>(kib) * 1024u;
    }
    const long pages = ::sysconf(_SC_AVPHYS_PAGES);
    const long pageSize = ::sysconf(_SC_PAGESIZE);
    return pages > 0 && pageSize > 0 ? static_cast<uint64_t>(pages) * static_cast<uint64_t>(pageSize) : 0;
  }
};

}  // namespace

Memory& NativeMemory() {
  static PosixMemory memory;
  return memory;
}

}  // namespace ostrelin::platform
