// Loading the driver settings record into the records, and the printer-data values.
#pragma once

#include <cstdint>

#include "engine/records.h"

namespace ostrelin {

// Job header word at a byte offset of the 192-byte block (offsets 16 to 188).
inline int32_t& HeaderWord(Context& ctx, int offset) { return ctx.jobHeader.words[(offset - 16) / 4]; }
inline int32_t HeaderWord(const Context& ctx, int offset) { return ctx.jobHeader.words[(offset - 16) / 4]; }

// Colour-class parameter words.
constexpr int kWordPower = 0;
constexpr int kWordSpeed = 1;
constexpr int kWordPasses = 2;
constexpr int kWordDepthStep = 3;
constexpr int kWordDepthMode = 4;
constexpr int kWordColourMode = 5;
constexpr int kWordAi = 6;
constexpr int kWordFr = 7;
constexpr int kWordSl = 28;

// Limits a record must keep to be engraved.
constexpr uint32_t kMaxResolutionDpi = 20000;
constexpr uint32_t kMaxPlateUm = 10000000;  // 10 metres
constexpr uint32_t kMinPlateUm = 1000;      // 1 millimetre

// Fills the context and the job record from the host's settings record (which gets its speeds
// converted once). printer is the host's printer handle, or nullptr on the rendering road.
// A record with a resolution or plate size the engine cannot work with ends through the error frame.
void LoadSettings(Context& ctx, Job& job, uint8_t* settings, void* printer);

// Stores one printer-data value through a handle of the printer opened by name. Failures are silent.
void StorePrinterData(void* printer, const char* valueName, uint32_t type, const void* data, uint32_t size);

// Decodes a 36-byte little-endian vector parameter block.
OstrelinVectorParams DecodeVectorParams(const uint8_t* bytes);

}  // namespace ostrelin
