// Raster transfer decoders. Every decoder consumes exactly the bytes its count (and, for method 4,
// its row headers) accounts for, and writes into one plane through a writer that drops bytes past
// the end of the plane, so neither the data nor the plane can be overrun whatever the counts say.
#include "engine/hpgl/rtl_decode.h"

#include <algorithm>
#include <cstring>

#include "engine/raster/bitmap_intake.h"

namespace ostrelin::hpgl::rtl {
namespace {

constexpr int64_t kPlaneBytes = OSTRELIN_PLANE_BYTES;

// Writes bytes into one plane from index 0; positions past the plane are counted but not stored.
class PlaneWriter {
 public:
  explicit PlaneWriter(uint8_t* plane) : plane_(plane) {}
  void Put(int value) {
    if (pos_ >= 0 && pos_ < kPlaneBytes) plane_[pos_] = static_cast<uint8_t>(value);
    ++pos_;
  }
  void Advance(int64_t count) { pos_ += count; }
  // Bytes of the plane that hold data (the written extent, cut to the plane).
  int32_t Received() const { return static_cast<int32_t>(std::clamp<int64_t>(pos_, 0, kPlaneBytes)); }

 private:
  uint8_t* plane_;
  int64_t pos_ = 0;
};

int32_t PendingPlane(const Spool& spool) { return std::clamp(spool.pendingPlane, 0, 2); }

// Finishes the pending plane after received bytes and delivers the row when it is complete: every
// plane of a byte-per-pixel image is a row of its own; otherwise the row is complete with its last
// plane.
void CompletePlane(Spool& spool, RowSink& sink, int32_t received) {
  raster::FinishPlane(spool, received);
  if (spool.rasterColourSpace == kByteColourSpace) {
    sink.Deliver(spool, RowKind::kBytes);
    return;
  }
  const int32_t last = EffectiveLastPlane(spool);
  if (spool.pendingPlane >= last) sink.Deliver(spool, last == 0 ? RowKind::kBits : RowKind::kPlanes);
}

void Unencoded(Spool& spool, ByteSource& source, RowSink& sink, int64_t count) {
  PlaneWriter out(spool.rowBuffer[PendingPlane(spool)]);
  for (int64_t used = 0; used < count; ++used) out.Put(source.Next());
  CompletePlane(spool, sink, out.Received());
}

// Pairs of (count, value): value written count + 1 times. An odd last byte is taken and unused.
void RunLength(Spool& spool, ByteSource& source, RowSink& sink, int64_t count) {
  PlaneWriter out(spool.rowBuffer[PendingPlane(spool)]);
  int64_t used = 0;
  for (; used + 2 <= count; used += 2) {
    const int repeat = source.Next() + 1;
    const int value = source.Next();
    for (int i = 0; i < repeat; ++i) out.Put(value);
  }
  if (used < count) source.Skip(count - used);
  CompletePlane(spool, sink, out.Received());
}

// Control byte c as signed: 0 to 127 copy c + 1 literal bytes; -1 to -127 repeat the next byte
// 1 - c times; -128 does nothing. The count cuts literals and repeats short.
void PackBits(Spool& spool, ByteSource& source, RowSink& sink, int64_t count) {
  PlaneWriter out(spool.rowBuffer[PendingPlane(spool)]);
  int64_t used = 0;
  while (used < count) {
    const int control = static_cast<int8_t>(static_cast<uint8_t>(source.Next()));
    ++used;
    if (control >= 0) {
      for (int i = 0; i <= control && used < count; ++i, ++used) out.Put(source.Next());
    } else if (control != -128 && used < count) {
      const int value = source.Next();
      ++used;
      for (int i = 0; i < 1 - control; ++i) out.Put(value);
    }
  }
  CompletePlane(spool, sink, out.Received());
}

// Delta row: the seed row changed by commands. A command byte gives (b >> 5) + 1 bytes to replace,
// at an offset of b & 31 from the end of the last replacement; an offset of 31 grows by each
// following byte while the added byte is 255.
void DeltaRow(Spool& spool, ByteSource& source, RowSink& sink, int64_t count) {
  const int32_t plane = PendingPlane(spool);
  const int32_t rowBytes = PlaneRowBytes(spool);
  std::memcpy(spool.rowBuffer[plane], spool.seedRows[plane], static_cast<size_t>(rowBytes));
  PlaneWriter out(spool.rowBuffer[plane]);
  int64_t used = 0;
  while (used < count) {
    const int command = source.Next();
    ++used;
    const int replace = (command >> 5) + 1;
    int64_t offset = command & 31;
    if (offset == 31) {
      while (used < count) {
        const int more = source.Next();
        ++used;
        offset += more;
        if (more != 255) break;
      }
    }
    out.Advance(offset);
    for (int i = 0; i < replace && used < count; ++i, ++used) out.Put(source.Next());
  }
  CompletePlane(spool, sink, rowBytes);
}

void DecodeRow(Spool& spool, ByteSource& source, RowSink& sink, int32_t method, int64_t count) {
  switch (method) {
    case 0:
      Unencoded(spool, source, sink, count);
      return;
    case 1:
      RunLength(spool, source, sink, count);
      return;
    case 2:
      PackBits(spool, source, sink, count);
      return;
    default:
      DeltaRow(spool, source, sink, count);
      return;
  }
}

// Counted rows: a 4-byte big-endian row length in bits, then whole rows of every plane until the
// count is used up. Rows of no bytes cannot use it up; their remaining count is skipped.
void CountedRows(Spool& spool, ByteSource& source, RowSink& sink, int64_t count) {
  if (count < 4) {
    source.Skip(count);
    return;
  }
  uint32_t bits = 0;
  for (int i = 0; i < 4; ++i) bits = (bits << 8) | static_cast<uint32_t>(source.Next());
  const int64_t rowLength = (static_cast<int64_t>(bits) + 7) / 8;
  const int64_t data = count - 4;
  if (rowLength == 0) {
    source.Skip(data);
    return;
  }
  const int32_t last = EffectiveLastPlane(spool);
  for (int64_t used = 0; used < data;) {
    for (int32_t plane = 0; plane <= last; ++plane) {
      spool.pendingPlane = plane;
      PlaneWriter out(spool.rowBuffer[plane]);
      for (int64_t i = 0; i < rowLength; ++i) out.Put(source.Next());
      used += rowLength;
      CompletePlane(spool, sink, out.Received());
    }
  }
}

// Rows made without data bytes (empty rows, copies of the seed rows): every plane of the row.
void RepeatRows(Spool& spool, RowSink& sink, int count, bool fromSeed) {
  const int32_t last = EffectiveLastPlane(spool);
  const int32_t rowBytes = PlaneRowBytes(spool);
  for (int row = 0; row < count; ++row) {
    for (int32_t plane = 0; plane <= last; ++plane) {
      spool.pendingPlane = plane;
      if (fromSeed) std::memcpy(spool.rowBuffer[plane], spool.seedRows[plane], static_cast<size_t>(rowBytes));
      CompletePlane(spool, sink, fromSeed ? rowBytes : 0);
    }
  }
}

// Adaptive: blocks of a command byte and a 16-bit big-endian count. Commands 0 to 3 decode one row
// of plane 0 from that many bytes with the method of the same number; 4 gives that many empty rows,
// 5 that many copies of the seed rows; other commands are their header only.
void Adaptive(Spool& spool, ByteSource& source, RowSink& sink, int64_t count) {
  int64_t used = 0;
  while (used < count) {
    if (count - used < 3) {
      source.Skip(count - used);
      return;
    }
    const int command = source.Next();
    const int high = source.Next();
    const int blockCount = (high << 8) | source.Next();
    used += 3;
    if (command <= 3) {
      spool.pendingPlane = 0;
      DecodeRow(spool, source, sink, command, blockCount);
      used += blockCount;
    } else if (command == 4 || command == 5) {
      RepeatRows(spool, sink, blockCount, command == 5);
    }
  }
}

}  // namespace

int32_t EffectiveLastPlane(const Spool& spool) { return std::clamp(spool.rasterLastPlane, 0, 2); }

int32_t PlaneRowBytes(const Spool& spool) { return std::clamp(spool.rowBytes, 0, OSTRELIN_PLANE_BYTES); }

void DecodeTransfer(Spool& spool, ByteSource& source, RowSink& sink, int32_t method, int32_t count) {
  const int64_t bytes = std::max(count, 0);
  switch (method) {
    case 0:
    case 1:
    case 2:
    case 3:
      DecodeRow(spool, source, sink, method, bytes);
      return;
    case 4:
      CountedRows(spool, source, sink, bytes);
      return;
    case 5:
      Adaptive(spool, source, sink, bytes);
      return;
    default:
      source.Skip(bytes);
      return;
  }
}

}  // namespace ostrelin::hpgl::rtl
