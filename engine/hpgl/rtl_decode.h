// Decoders of raster transfer data (compression methods 0 to 5): bytes from a source are decoded
// into the pending plane of the spool record's row buffer, planes are finished into their seed rows,
// and complete rows are handed to a row sink.
#pragma once

#include <cstdint>

#include "engine/records.h"

namespace ostrelin::hpgl::rtl {

// Colour space in which every pixel is one byte.
constexpr int32_t kByteColourSpace = 10;

// Where the data bytes come from. Next ends through the error frame when no byte is left, so a
// decoder never runs past the end of its data.
class ByteSource {
 public:
  virtual ~ByteSource() = default;
  virtual int Next() = 0;
  virtual void Skip(int64_t count) = 0;
};

// What a complete row is handed to.
enum class RowKind {
  kBits,    // one-bit row in plane 0
  kPlanes,  // planes 0 to 2 index the raster palette
  kBytes,   // one byte per pixel in plane 0
};

class RowSink {
 public:
  virtual ~RowSink() = default;
  // Takes the row in the spool record's row buffer; sets the pending plane to -1.
  virtual void Deliver(Spool& spool, RowKind kind) = 0;
};

// The last plane that rows actually use: the configured last plane kept within the three planes of
// the row buffer.
int32_t EffectiveLastPlane(const Spool& spool);

// Bytes per row kept within one plane.
int32_t PlaneRowBytes(const Spool& spool);

// One transfer of count data bytes with the given method. The pending plane has already been
// advanced to the plane the data belongs to (methods 0 to 3). Methods outside 0 to 5 skip their
// count bytes and deliver nothing. A count below 1 reads nothing; a method 4 transfer too short for
// its 4-byte header, and a method 5 block header cut by the count, have their bytes skipped.
void DecodeTransfer(Spool& spool, ByteSource& source, RowSink& sink, int32_t method, int32_t count);

}  // namespace ostrelin::hpgl::rtl
