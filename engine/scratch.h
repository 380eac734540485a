// Scratch streams, layer files with positioned block transfers, the underlay buffer, and the
// engine's rounding and dot conversions.
#pragma once

#include <cmath>
#include <cstdint>
#include <limits>

#include "engine/records.h"
#include "platform/platform.h"

namespace ostrelin {

// Largest number of bytes moved by one system call of a layer transfer.
constexpr uint32_t kTransferBlock = 1000000;

// Rounds half away from zero (2.5 -> 3, -2.5 -> -3). Values beyond the 32-bit range saturate;
// NaN gives 0. Inline: the planners call it for every coordinate.
inline int32_t RoundHalfAway(double value) {
  // Inside the 32-bit range an integer conversion gives the whole part exactly (and faster than
  // std::trunc), and the fraction value - whole is exact; the result is the one of the general path.
  if (value > -2147483648.0 && value < 2147483648.0) {
    const auto whole = static_cast<int64_t>(value);
    const double fraction = value - static_cast<double>(whole);
    int64_t rounded = whole;
    if (fraction >= 0.5) {
      ++rounded;
    } else if (fraction <= -0.5) {
      --rounded;
    }
    if (rounded >= std::numeric_limits<int32_t>::max()) return std::numeric_limits<int32_t>::max();
    if (rounded <= std::numeric_limits<int32_t>::min()) return std::numeric_limits<int32_t>::min();
    return static_cast<int32_t>(rounded);
  }
  if (std::isnan(value)) return 0;
  const double truncated = std::trunc(value);
  double rounded = truncated;
  if (std::fabs(value - truncated) >= 0.5) rounded += value >= 0.0 ? 1.0 : -1.0;
  if (rounded >= static_cast<double>(std::numeric_limits<int32_t>::max())) {
    return std::numeric_limits<int32_t>::max();
  }
  if (rounded <= static_cast<double>(std::numeric_limits<int32_t>::min())) {
    return std::numeric_limits<int32_t>::min();
  }
  return static_cast<int32_t>(rounded);
}

// Dots at a resolution (dots per inch) from hundredths of a millimetre and from plotter units; the
// resolution is taken in single precision, the product in double.
int32_t DotsFromHmm(double lengthHmm, float resolutionDpi);
int32_t DotsFromPlu(double lengthPlu, float resolutionDpi);

// A read-write stream deleted when closed: anonymous if possible, else under a unique "osn" name.
// Shows "Temporary file error" and returns nullptr when neither can be had.
platform::Stream* OpenScratchStream(const Context& ctx);

// A new layer file ("okl"); failures show "Create file error" and end through the error frame.
void* CreateLayerFile(Context& ctx);

// Moves count bytes between buffer and the layer file at offset, in blocks of at most 1,000,000
// bytes: first count mod 1,000,000 (possibly empty), then whole blocks. A failed block shows
// "Write file error" / "Read file error", closes the file, clears *handle and ends through the frame.
int WriteAtOffset(Context& ctx, void** handle, uint32_t count, const void* source, uint64_t offset);
int ReadAtOffset(Context& ctx, void** handle, uint32_t count, void* destination, uint64_t offset);

// Closes a layer file (which deletes it) and clears the handle.
void CloseLayerFile(void** handle);

// Allocates the underlay buffer: (plate width + 500 hundredths) in dots at the engine resolution.
void AllocateUnderlay(Context& ctx);

// Releases the underlay buffer and closes the grey layer file, if present, and forgets them.
void ReleaseJobBuffers(Context& ctx, Spool& spool, Job& job);

// Closes a stream held in a record field and clears the field; returns the result of closing it.
bool CloseStreamField(void** field);

inline platform::Stream* AsStream(void* handle) { return static_cast<platform::Stream*>(handle); }

}  // namespace ostrelin
