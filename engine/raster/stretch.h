// Bitmap stretch for the host: resamples a device-independent bitmap on the printer's graphics so
// that the host can hand the engine rows at the engine resolution.
#pragma once

#include <cstdint>

#include "platform/platform.h"

namespace ostrelin::raster {

// A stretch as the host asks for it: sizes in pixels, rows padded to 4 bytes.
struct StretchRequest {
  void* printer;  // the host's printer handle, for the printer's name
  int32_t sourceWidth;
  int32_t sourceHeight;
  int32_t destinationWidth;
  int32_t destinationHeight;
  uint16_t sourceBitsPerPixel;       // 1, 4, 8, 16, 24 or 32
  uint16_t destinationBitsPerPixel;  // 1, 4, 8, 16, 24 or 32
  const void* sourceBits;
  void* destinationBits;   // destinationHeight rows, bottom row first
  bool topDown;            // source rows stored top row first
  const uint8_t* palette;  // [blue, green, red, flag] entries; flag of entry 0 = 0: default palette
};

// Destinations below 24 bits per pixel are resampled as inverted greys; deeper ones colour on colour.
platform::StretchMode StretchModeFor(uint16_t destinationBitsPerPixel);

// Resamples the source into the destination. Returns false, with the destination untouched, when
// the request is malformed, the printer's name cannot be had, a buffer cannot be allocated or the
// graphics fail.
bool Stretch(const StretchRequest& request);

}  // namespace ostrelin::raster
