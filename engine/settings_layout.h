// Byte offsets of the driver settings record (little-endian, packed) and a view that reads and
// writes its fields by offset. Shared by the engine and the tools that edit records.
#pragma once

#include <cstddef>
#include <cstdint>

#include "ostrelin/ostrelin.h"

namespace ostrelin::settings {

constexpr size_t kRecordSize = OSTRELIN_SETTINGS_SIZE;

constexpr size_t kVersion = 0;              // u16
constexpr size_t kMachineKind = 2;          // u16
constexpr size_t kLanguage = 4;             // u16
constexpr size_t kModel = 6;                // u16
constexpr size_t kPlateWidthUm = 8;         // u32, micrometres
constexpr size_t kPlateHeightUm = 12;       // u32, micrometres
constexpr size_t kPassThrough16 = 16;       // s32, divided by 10 into the job header
constexpr size_t kPassThrough20 = 20;       // s32, divided by 10 into the job header
constexpr size_t kFirstDotMode = 24;        // u16
constexpr size_t kPassThrough26 = 26;       // u16
constexpr size_t kPassThrough28 = 28;       // u16
constexpr size_t kPassThrough30 = 30;       // u16
constexpr size_t kTcFlag = 32;              // u16
constexpr size_t kTcSpeed = 36;             // u32
constexpr size_t kEngravingResX = 44;       // u16, dots per inch
constexpr size_t kEngravingResY = 46;       // u16, dots per inch
constexpr size_t kEngineRes = 48;           // u16, dots per inch
constexpr size_t kFastFlag = 50;            // u16
constexpr size_t kOrientation = 52;         // u16
constexpr size_t kFactor16 = 54;            // u16
constexpr size_t kFactor32 = 56;            // u32
constexpr size_t kRasterOptionsA = 60;      // 8 x u16 (A1..A8)
constexpr size_t kRasterOptionsB = 76;      // 6 x u16 (B1..B6)
constexpr size_t kClassBlocks = 88;         // 8 x 20 bytes
constexpr size_t kClassBlockSize = 20;
constexpr size_t kIdentification = 248;     // 16 bytes
constexpr size_t kFirstSource = 266;        // u16
constexpr size_t kMotionWord = 268;         // u16: low byte table selector, high byte controller kind
constexpr size_t kPassThrough270 = 270;     // u16
constexpr size_t kOutputToFile = 272;       // u16
constexpr size_t kPassThrough280 = 280;     // s16
constexpr size_t kFlagWord = 282;           // u16
constexpr size_t kPassThrough284 = 284;     // s16
constexpr size_t kPassThrough286 = 286;     // s16
constexpr size_t kPassThrough288 = 288;     // u16
constexpr size_t kSecondSource = 290;       // u16
constexpr size_t kSecondClassBlocks = 292;  // 8 x 28 bytes
constexpr size_t kSecondClassBlockSize = 28;
constexpr size_t kVectorResOverride = 516;  // u32
constexpr size_t kVectorRes = 520;          // u32
constexpr size_t kOutputFileName = 1308;    // UTF-16, 260 units with the terminating zero
constexpr size_t kOutputFileNameUnits = 260;

// Fields of a colour-class block, relative to its start.
constexpr size_t kClassPower = 0;      // u16, percent
constexpr size_t kClassSpeed = 2;      // u16, mm/s (times 10 once converted)
constexpr size_t kClassPasses = 4;     // u16
constexpr size_t kClassDepthStep = 8;  // s32
constexpr size_t kClassDepthMode = 12; // u16
constexpr size_t kClassColourMode = 14; // u16
constexpr size_t kClassAi = 16;        // u16
// Fields of a second colour-class block.
constexpr size_t kClassFr = 0;         // u16
constexpr size_t kClassSlCode = 2;     // u16

// Bits of the flag word.
constexpr uint16_t kFlagBottomUp = 1u << 0;
constexpr uint16_t kFlagEstimateOnly = 1u << 1;
constexpr uint16_t kFlagOneWay = 1u << 2;
constexpr uint16_t kFlagSectionSplit = 1u << 3;
constexpr uint16_t kFlagSpeedsConverted = 1u << 5;
constexpr uint16_t kFlagVectorResOverride = 1u << 6;
constexpr uint16_t kFlagFileOrder = 1u << 7;
constexpr uint16_t kFlagSeries = 1u << 8;

constexpr size_t ClassBlock(int colourClass) { return kClassBlocks + kClassBlockSize * colourClass; }
constexpr size_t SecondClassBlock(int colourClass) {
  return kSecondClassBlocks + kSecondClassBlockSize * colourClass;
}

// Reads little-endian fields of a record by byte offset.
class View {
 public:
  explicit View(const uint8_t* bytes) : bytes_(bytes) {}
  uint8_t U8(size_t offset) const { return bytes_[offset]; }
  uint16_t U16(size_t offset) const {
    return static_cast<uint16_t>(bytes_[offset] | (bytes_[offset + 1] << 8));
  }
  int16_t S16(size_t offset) const { return static_cast<int16_t>(U16(offset)); }
  uint32_t U32(size_t offset) const {
    return static_cast<uint32_t>(bytes_[offset]) | (static_cast<uint32_t>(bytes_[offset + 1]) << 8) |
           (static_cast<uint32_t>(bytes_[offset + 2]) << 16) | (static_cast<uint32_t>(bytes_[offset + 3]) << 24);
  }
  int32_t S32(size_t offset) const { return static_cast<int32_t>(U32(offset)); }
  const uint8_t* Bytes(size_t offset) const { return bytes_ + offset; }

 private:
  const uint8_t* bytes_;
};

// Writes little-endian fields of a record by byte offset.
class Editor : public View {
 public:
  explicit Editor(uint8_t* bytes) : View(bytes), mutable_(bytes) {}
  void SetU16(size_t offset, uint16_t value) {
    mutable_[offset] = static_cast<uint8_t>(value);
    mutable_[offset + 1] = static_cast<uint8_t>(value >> 8);
  }
  void SetU32(size_t offset, uint32_t value) {
    for (int i = 0; i < 4; ++i) mutable_[offset + i] = static_cast<uint8_t>(value >> (8 * i));
  }
  uint8_t* Bytes(size_t offset) { return mutable_ + offset; }

 private:
  uint8_t* mutable_;
};

}  // namespace ostrelin::settings
