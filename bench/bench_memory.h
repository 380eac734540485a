// Resident-memory readings for the benchmarks (Linux /proc): a field of /proc/self/status and a reset
// of the kernel's peak, so a benchmark can report the peak of its own work.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

namespace ostrelin::bench {

// The value in KiB of a /proc/self/status field such as "VmRSS:" or "VmHWM:"; 0 when absent.
inline long StatusKb(const char* field) {
  std::ifstream status("/proc/self/status");
  std::string line;
  const size_t length = std::strlen(field);
  while (std::getline(status, line)) {
    if (line.compare(0, length, field) == 0) return std::atol(line.c_str() + length + 1);
  }
  return 0;
}

// Resets the kernel's peak resident size to the current one.
inline void ResetPeak() {
  if (FILE* f = std::fopen("/proc/self/clear_refs", "w")) {
    std::fputs("5", f);
    std::fclose(f);
  }
}

}  // namespace ostrelin::bench
