// Writers and readers of the plot command file.
#include "engine/hpgl/plot_file.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "engine/error.h"
#include "engine/scratch.h"

namespace ostrelin::hpgl {
namespace {

void PutFloat(uint8_t* out, float value) {
  uint32_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  for (int i = 0; i < 4; ++i) out[i] = static_cast<uint8_t>(bits >> (8 * i));
}

float GetFloat(const uint8_t* in) {
  uint32_t bits = 0;
  for (int i = 0; i < 4; ++i) bits |= static_cast<uint32_t>(in[i]) << (8 * i);
  float value;
  std::memcpy(&value, &bits, sizeof value);
  return value;
}

void Put(Context& ctx, const void* data, size_t size) {
  platform::Stream* stream = AsStream(ctx.plotFile);
  if (stream == nullptr || stream->Write(data, size) != size) Fail(ctx, ErrorKind::kTemporaryFile);
}

void Widen(Context& ctx, float x, float y) {
  ctx.drawMinX = std::min(ctx.drawMinX, x);
  ctx.drawMaxX = std::max(ctx.drawMaxX, x);
  ctx.drawMinY = std::min(ctx.drawMinY, y);
  ctx.drawMaxY = std::max(ctx.drawMaxY, y);
}

}  // namespace

int PayloadBytes(uint8_t opcode) {
  switch (opcode) {
    case kOpPenUp:
    case kOpPenDown:
    case kOpDot:
      return 8;
    case kOpColour:
      return 1;
    case kOpDepthRate:
    case kOpZoneSecond:
    case kOpMachineCode:
    case kOpLabelFlag:
    case kOpZoneFirst:
    case kOpVelocity:
    case kOpZValue:
      return 4;
    case kOpText:
      return -1;
    case kOpPoint3d:
      return 12;
    default:
      return 0;
  }
}

void WriteOpcode(Context& ctx, uint8_t opcode) {
  if (ctx.pageEndFlag != 0) return;
  Put(ctx, &opcode, 1);
}

void WritePoint(Context& ctx, float x, float y) {
  if (ctx.pageEndFlag != 0) return;
  uint8_t payload[8];
  PutFloat(payload, x);
  PutFloat(payload + 4, y);
  Put(ctx, payload, sizeof payload);
  Widen(ctx, x, y);
}

void WritePoint3d(Context& ctx, float x, float y, float z) {
  if (ctx.pageEndFlag != 0) return;
  uint8_t payload[12];
  PutFloat(payload, x);
  PutFloat(payload + 4, y);
  PutFloat(payload + 8, z);
  Put(ctx, payload, sizeof payload);
  Widen(ctx, x, y);
}

void WriteValue(Context& ctx, float value) {
  if (ctx.pageEndFlag != 0) return;
  uint8_t payload[4];
  PutFloat(payload, value);
  Put(ctx, payload, sizeof payload);
}

void WriteText(Context& ctx, const char* text) {
  if (ctx.pageEndFlag != 0) return;
  Put(ctx, text, std::strlen(text) + 1);
}

void WritePointRecord(Context& ctx, uint8_t opcode, float x, float y) {
  if (ctx.pageEndFlag != 0) return;
  uint8_t record[9];
  record[0] = opcode;
  PutFloat(record + 1, x);
  PutFloat(record + 5, y);
  Put(ctx, record, sizeof record);
  Widen(ctx, x, y);
}

void WriteValueRecord(Context& ctx, uint8_t opcode, float value) {
  if (ctx.pageEndFlag != 0) return;
  uint8_t record[5];
  record[0] = opcode;
  PutFloat(record + 1, value);
  Put(ctx, record, sizeof record);
}

void WriteRecordDirect(Context& ctx, uint8_t opcode, const void* payload, uint32_t payloadBytes) {
  uint8_t record[16];
  record[0] = opcode;
  if (payloadBytes > 0) std::memcpy(record + 1, payload, payloadBytes);
  Put(ctx, record, 1 + payloadBytes);
}

void ResetDrawingExtent(Context& ctx) {
  ctx.drawMinX = 1e10f;
  ctx.drawMaxX = -1e10f;
  ctx.drawMinY = 1e10f;
  ctx.drawMaxY = -1e10f;
}

Reader::~Reader() {
  // Bytes read ahead and not taken go back to the stream, so that a read pass that stops before the
  // end leaves the position where a record-by-record reader would have left it.
  if (end_ > next_ && streamPosition_ >= 0) stream_.Seek(Position(), platform::kSeekSet);
}

bool Reader::Refill(size_t needed) {
  if (!started_) {
    started_ = true;
    streamPosition_ = stream_.Tell();
  }
  size_t want = kBlockBytes;
  if (endLength_ >= 0 && streamPosition_ >= 0) {
    const int64_t beforeEnd = endLength_ - streamPosition_;
    if (beforeEnd < static_cast<int64_t>(needed)) {
      want = needed;
    } else if (beforeEnd < static_cast<int64_t>(kBlockBytes)) {
      want = static_cast<size_t>(beforeEnd);
    }
  }
  next_ = 0;
  end_ = stream_.Read(block_, want);
  if (streamPosition_ >= 0) streamPosition_ += static_cast<int64_t>(end_);
  return end_ != 0;
}

size_t Reader::TakeAcrossBlocks(void* data, size_t size) {
  auto* bytes = static_cast<uint8_t*>(data);
  size_t taken = 0;
  while (taken < size) {
    if (next_ == end_ && !Refill(size - taken)) break;
    const size_t piece = std::min(size - taken, end_ - next_);
    std::memcpy(bytes + taken, block_ + next_, piece);
    next_ += piece;
    taken += piece;
  }
  return taken;
}

void Reader::ReadExactly(void* data, size_t size) {
  if (Take(data, size) != size) Fail(ctx_, ErrorKind::kTemporaryFile);
}

uint8_t Reader::NextOpcodeFromStream() {
  if (endLength_ >= 0) {
    if (!started_) Refill(0);
    if (streamPosition_ >= 0 && Position() >= endLength_) return kOpEnd;
  }
  uint8_t opcode = kOpEnd;
  if (Take(&opcode, 1) != 1) return kOpEnd;
  return opcode <= kOpPoint3d ? opcode : static_cast<uint8_t>(kOpEnd);
}

void Reader::ReadPoint(float* x, float* y) {
  uint8_t payload[8];
  ReadExactly(payload, sizeof payload);
  *x = GetFloat(payload);
  *y = GetFloat(payload + 4);
  char text[160];
  if (*x < ctx_.drawMinX || *x > ctx_.drawMaxX) {
    std::snprintf(text, sizeof text, "HPGL_Pt_from_tmpfile: x out of range (%g not in [%g, %g])\n",
                  static_cast<double>(*x), static_cast<double>(ctx_.drawMinX),
                  static_cast<double>(ctx_.drawMaxX));
    platform::trace().Trace(text);
  }
  if (*y < ctx_.drawMinY || *y > ctx_.drawMaxY) {
    std::snprintf(text, sizeof text, "HPGL_Pt_from_tmpfile: y out of range (%g not in [%g, %g])\n",
                  static_cast<double>(*y), static_cast<double>(ctx_.drawMinY),
                  static_cast<double>(ctx_.drawMaxY));
    platform::trace().Trace(text);
  }
}

void Reader::ReadPoint3d(float* x, float* y, float* z) {
  uint8_t payload[12];
  ReadExactly(payload, sizeof payload);
  *x = GetFloat(payload);
  *y = GetFloat(payload + 4);
  *z = GetFloat(payload + 8);
}

float Reader::ReadValue() {
  uint8_t payload[4];
  ReadExactly(payload, sizeof payload);
  return GetFloat(payload);
}

uint8_t Reader::ReadColourClass() {
  uint8_t colourClass = 0;
  ReadExactly(&colourClass, 1);
  return colourClass;
}

std::string Reader::ReadText() {
  std::string text;
  char c = 0;
  ReadExactly(&c, 1);
  while (c != 0) {
    text.push_back(c);
    ReadExactly(&c, 1);
  }
  return text;
}

void Reader::SkipPayload(uint8_t opcode) {
  const int bytes = PayloadBytes(opcode);
  if (bytes < 0) {
    uint8_t c = 1;
    while (c != 0) ReadExactly(&c, 1);
    return;
  }
  uint8_t payload[12];
  if (bytes > 0) ReadExactly(payload, static_cast<size_t>(bytes));
}

void BeginReadPass(Context& ctx) {
  platform::Stream* stream = AsStream(ctx.plotFile);
  if (stream == nullptr) Fail(ctx, ErrorKind::kTemporaryFile);
  ctx.endLength = stream->Tell();
  if (ctx.endLength < 0 || !stream->Seek(0, platform::kSeekSet)) Fail(ctx, ErrorKind::kTemporaryFile);
}

}  // namespace ostrelin::hpgl
