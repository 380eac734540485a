// Bitmap stretch: builds the source and destination bitmap descriptions with their palettes, has the
// printer's graphics resample the bitmap into a work bitmap, and copies that to the host's buffer
// only once everything has succeeded.
#include "engine/raster/stretch.h"

#include <cstdint>
#include <cstring>
#include <string>

#include "ostrelin/ostrelin.h"
#include "platform/platform.h"

namespace ostrelin::raster {
namespace {

using platform::BitmapHeader;

// A block from the memory service, zero-filled, released when it goes out of scope.
class Block {
 public:
  explicit Block(size_t size) : data_(platform::memory().Allocate(size, true)) {}
  ~Block() {
    if (data_ != nullptr) platform::memory().Free(data_);
  }
  Block(const Block&) = delete;
  Block& operator=(const Block&) = delete;
  void* get() const { return data_; }

 private:
  void* data_;
};

bool SupportedDepth(uint16_t bitsPerPixel) {
  return bitsPerPixel == 1 || bitsPerPixel == 4 || bitsPerPixel == 8 || bitsPerPixel == 16 ||
         bitsPerPixel == 24 || bitsPerPixel == 32;
}

uint16_t PaletteEntries(uint16_t bitsPerPixel) {
  return bitsPerPixel <= 8 ? static_cast<uint16_t>(1u << bitsPerPixel) : 0;
}

// Grey level of entry i on a ramp of n entries from black to white: 255, 17 or 1 per step.
uint8_t RampLevel(int i, int entries) { return static_cast<uint8_t>(i * (255 / (entries - 1))); }

// The source description: a negative height for rows stored top row first, and the caller's palette
// (blue, green, red of each entry) when the flag of entry 0 says one is given. The default palettes
// descend from white: 1 bit white then black, 4 bits 255 - 17 i, 8 bits 255 - i.
void DescribeSource(const StretchRequest& request, BitmapHeader& header) {
  header.width = request.sourceWidth;
  header.height = request.topDown ? -request.sourceHeight : request.sourceHeight;
  header.bitsPerPixel = request.sourceBitsPerPixel;
  header.paletteEntries = PaletteEntries(request.sourceBitsPerPixel);
  const bool given = request.palette != nullptr && request.palette[3] != 0;
  for (int i = 0; i < header.paletteEntries; ++i) {
    platform::PaletteEntry& entry = header.palette[i];
    if (given) {
      entry = {request.palette[4 * i], request.palette[4 * i + 1], request.palette[4 * i + 2], 0};
    } else {
      const uint8_t level = static_cast<uint8_t>(255 - RampLevel(i, header.paletteEntries));
      entry = {level, level, level, 0};
    }
  }
}

// The destination description: rows bottom row first, and palettes that ascend from black: 1 bit black
// then white, 4 bits 17 i, 8 bits i. Against the descending source defaults, a source index comes out
// as the same index once the resampled colours are inverted.
void DescribeDestination(const StretchRequest& request, BitmapHeader& header) {
  header.width = request.destinationWidth;
  header.height = request.destinationHeight;
  header.bitsPerPixel = request.destinationBitsPerPixel;
  header.paletteEntries = PaletteEntries(request.destinationBitsPerPixel);
  for (int i = 0; i < header.paletteEntries; ++i) {
    const uint8_t level = RampLevel(i, header.paletteEntries);
    header.palette[i] = {level, level, level, 0};
  }
}

bool WellFormed(const StretchRequest& request) {
  return request.sourceBits != nullptr && request.destinationBits != nullptr && request.sourceWidth > 0 &&
         request.sourceHeight > 0 && request.destinationWidth > 0 && request.destinationHeight > 0 &&
         SupportedDepth(request.sourceBitsPerPixel) && SupportedDepth(request.destinationBitsPerPixel) &&
         platform::BitmapRowBytes(request.sourceWidth, request.sourceBitsPerPixel) != 0 &&
         platform::BitmapRowBytes(request.destinationWidth, request.destinationBitsPerPixel) != 0;
}

}  // namespace

platform::StretchMode StretchModeFor(uint16_t destinationBitsPerPixel) {
  return destinationBitsPerPixel < 24 ? platform::StretchMode::kHalftoneInverted
                                      : platform::StretchMode::kColourOnColour;
}

bool Stretch(const StretchRequest& request) {
  if (!WellFormed(request)) return false;
  std::string printerName;
  if (!platform::spooler().GetPrinterName(request.printer, &printerName) || printerName.empty()) return false;

  Block sourceHeader(sizeof(BitmapHeader));
  Block destinationHeader(sizeof(BitmapHeader));
  const uint64_t destinationBytes = static_cast<uint64_t>(platform::BitmapRowBytes(
                                        request.destinationWidth, request.destinationBitsPerPixel)) *
                                    static_cast<uint64_t>(request.destinationHeight);
  if (destinationBytes > SIZE_MAX) return false;
  Block work(static_cast<size_t>(destinationBytes));
  if (sourceHeader.get() == nullptr || destinationHeader.get() == nullptr || work.get() == nullptr)
    return false;

  auto& source = *static_cast<BitmapHeader*>(sourceHeader.get());
  auto& destination = *static_cast<BitmapHeader*>(destinationHeader.get());
  DescribeSource(request, source);
  DescribeDestination(request, destination);
  if (!platform::graphics().StretchBitmap(printerName.c_str(), source, request.sourceBits, destination,
                                          work.get(), StretchModeFor(request.destinationBitsPerPixel))) {
    return false;
  }
  std::memcpy(request.destinationBits, work.get(), static_cast<size_t>(destinationBytes));
  return true;
}

}  // namespace ostrelin::raster

extern "C" OSTRELIN_API void StretchMaison(void* printer, OstrelinSize sourceSize,
                                           OstrelinSize destinationSize, uint16_t sourceBitsPerPixel,
                                           uint16_t destinationBitsPerPixel, const void* sourceBits,
                                           void* destinationBits, int32_t topDown,
                                           const uint8_t* palette) noexcept {
  // The host learns of a failure only from the destination, which a failed stretch leaves as it was.
  try {
    ostrelin::raster::Stretch({printer, sourceSize.width, sourceSize.height, destinationSize.width,
                               destinationSize.height, sourceBitsPerPixel, destinationBitsPerPixel,
                               sourceBits, destinationBits, topDown != 0, palette});
  } catch (...) {
  }
}
