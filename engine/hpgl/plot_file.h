// The plot command file: opcode records with little-endian float payloads, its writers and readers.
#pragma once

#include <cstdint>

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
  kOpDepthRate = 6,     // "!" DR value
  kOpZoneSecond = 7,    // "!" PZ second value
  kOpText = 8,          // "!" LB / LR text
  kOpMachineCode = 9,   // "!" MC value
  kOpLabelFlag = 10,    // "!" NR (0) and LB (1)
  kOpOutput = 11,       // "!" OP and OT
  kOpZoneFirst = 12,    // "!" PZ first value
  kOpVelocity = 13,     // VS speed
  kOpZValue = 14,       // "!" VZ value
  kOpPoint3d = 15,      // ZM x, y, z
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
// stream must not be moved by anybody else while the reader is in use.
class Reader {
 public:
  Reader(Context& ctx, platform::Stream& stream, int64_t endLength)
      : ctx_(ctx), stream_(stream), endLength_(endLength) {}
  // The next opcode: 5 at the end length, at the end of the file, or for a byte outside 0..15 but 5.
  uint8_t NextOpcode();
  // The point after opcodes 1 to 3; reports points outside the drawing extent to the trace hook.
  void ReadPoint(float* x, float* y);
  void ReadPoint3d(float* x, float* y, float* z);
  float ReadValue();
  // The colour class byte after opcode 4.
  uint8_t ReadColourClass();
  // Consumes the payload of an opcode that is not acted on.
  void SkipPayload(uint8_t opcode);

 private:
  void ReadExactly(void* data, size_t size);
  Context& ctx_;
  platform::Stream& stream_;
  int64_t endLength_;
  int64_t position_ = -1;  // the stream's position, taken once and then counted (no query per record)
};

// Starts a read pass of the context's plot command file: the end length becomes the current
// position (the end of what was written) and the file is rewound.
void BeginReadPass(Context& ctx);

}  // namespace ostrelin::hpgl
