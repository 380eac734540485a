// The plot command file: opcode records with little-endian float payloads, its writers and readers.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>

#include "engine/records.h"
#include "platform/platform.h"

namespace ostrelin::hpgl {

enum Opcode : uint8_t {
  kOpNop = 0,
  kOpPenUp = 1,
  kOpPenDown = 2,
  kOpDot = 3,
  kOpColour = 4,
  kOpEnd = 5,
  kOpDepthRate = 6,    // "!" DR value
  kOpZoneSecond = 7,   // "!" PZ second value
  kOpText = 8,         // "!" LB / LR text
  kOpMachineCode = 9,  // "!" MC value
  kOpLabelFlag = 10,   // "!" NR (0) and LB (1)
  kOpOutput = 11,      // "!" OP and OT
  kOpZoneFirst = 12,   // "!" PZ first value
  kOpVelocity = 13,    // VS speed
  kOpZValue = 14,      // "!" VZ value
  kOpPoint3d = 15,     // ZM x, y, z
};

// Payload bytes of an opcode with a fixed payload (-1 for the NUL-terminated text of opcode 8).
int PayloadBytes(uint8_t opcode);

// Interpreter writers: nothing is written while the page-end flag is set. A short write shows
// "Temporary file error" and ends through the error frame.
void WriteOpcode(Context& ctx, uint8_t opcode);
void WritePoint(Context& ctx, float x, float y);  // also widens the drawing extent
void WritePoint3d(Context& ctx, float x, float y, float z);
void WriteValue(Context& ctx, float value);
void WriteText(Context& ctx, const char* text);

// A whole record in one write: opcode 1, 2 or 3 with its point (widening the drawing extent), or an
// opcode with one float value. Nothing is written while the page-end flag is set.
void WritePointRecord(Context& ctx, uint8_t opcode, float x, float y);
void WriteValueRecord(Context& ctx, uint8_t opcode, float value);

// Writers of the host's vector exports: opcode and payload, regardless of the page-end flag and
// without touching the drawing extent.
void WriteRecordDirect(Context& ctx, uint8_t opcode, const void* payload, uint32_t payloadBytes);

// Sets the drawing extent empty.
void ResetDrawingExtent(Context& ctx);

// Reads records from a stream that stops at endLength bytes (or at its end when endLength < 0). The
// stream is read in blocks, never beyond endLength except for a payload that runs past it; when the
// reader goes, the stream is left just after the last byte taken, as if it had been read record by
// record. The stream must not be moved by anybody else while the reader is in use.
class Reader {
 public:
  Reader(Context& ctx, platform::Stream& stream, int64_t endLength)
      : ctx_(ctx), stream_(stream), endLength_(endLength) {}
  ~Reader();
  Reader(const Reader&) = delete;
  Reader& operator=(const Reader&) = delete;
  // The next opcode: 5 at the end length, at the end of the file, or for a byte outside 0..15 but 5.
  uint8_t NextOpcode() {
    // A byte of the block at hand that lies before the end length (or with no end length to keep).
    if (next_ < end_ && (endLength_ < 0 || streamPosition_ < 0 || Position() < endLength_)) {
      const uint8_t opcode = block_[next_++];
      return opcode <= kOpPoint3d ? opcode : static_cast<uint8_t>(kOpEnd);
    }
    return NextOpcodeFromStream();
  }
  // The point after opcodes 1 to 3; reports points outside the drawing extent to the trace hook.
  void ReadPoint(float* x, float* y);
  void ReadPoint3d(float* x, float* y, float* z);
  float ReadValue();
  // The colour class byte after opcode 4.
  uint8_t ReadColourClass();
  // The text after opcode 8, without its NUL.
  std::string ReadText();
  // Consumes the payload of an opcode that is not acted on.
  void SkipPayload(uint8_t opcode);

 private:
  static constexpr size_t kBlockBytes = 16384;

  uint8_t NextOpcodeFromStream();
  void ReadExactly(void* data, size_t size);
  // Copies up to size bytes from the blocks read ahead, reading the next block when one runs out;
  // fewer at the end of the stream.
  size_t Take(void* data, size_t size) {
    if (end_ - next_ >= size) {
      std::memcpy(data, block_ + next_, size);
      next_ += size;
      return size;
    }
    return TakeAcrossBlocks(data, size);
  }
  size_t TakeAcrossBlocks(void* data, size_t size);
  // Reads the next block: up to the end length, but at least `needed` bytes when the stream has them.
  bool Refill(size_t needed);
  // Stream position of the next byte to take (-1 when the stream cannot tell it).
  int64_t Position() const {
    return streamPosition_ < 0 ? -1 : streamPosition_ - static_cast<int64_t>(end_ - next_);
  }

  Context& ctx_;
  platform::Stream& stream_;
  int64_t endLength_;
  bool started_ = false;         // the stream's position has been taken (once, at the first read)
  int64_t streamPosition_ = -1;  // the stream's own position: just after the last block read
  size_t next_ = 0;              // next byte of block_ to take
  size_t end_ = 0;               // bytes of block_ that hold data
  uint8_t block_[kBlockBytes];
};

// Starts a read pass of the context's plot command file: the end length becomes the current
// position (the end of what was written) and the file is rewound.
void BeginReadPass(Context& ctx);

}  // namespace ostrelin::hpgl
