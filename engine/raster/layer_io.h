// Shared plumbing of the raster steps: buffers from the platform's memory, the working row buffer,
// layer geometry, and sequential row readers and writers that move whole blocks of rows at a time.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "engine/records.h"

namespace ostrelin::raster {

// Bit-reversed value of every byte.
inline constexpr std::array<uint8_t, 256> kBitReversed = [] {
  std::array<uint8_t, 256> table{};
  for (int i = 0; i < 256; ++i) {
    int reversed = 0;
    for (int b = 0; b < 8; ++b) reversed |= ((i >> b) & 1) << (7 - b);
    table[static_cast<size_t>(i)] = static_cast<uint8_t>(reversed);
  }
  return table;
}();

// Raster option words, in the numbering of the driver settings (A1..A8, B1..B6).
inline bool GreyPowerOption(const Context& ctx) { return ctx.rasterOptionsA[1] != 0; }       // A2
inline bool StampThresholdOption(const Context& ctx) { return ctx.rasterOptionsA[2] != 0; }  // A3
inline bool HalftoneOption(const Context& ctx) { return ctx.rasterOptionsA[3] != 0; }        // A4
inline bool NegativeOption(const Context& ctx) { return ctx.rasterOptionsA[4] != 0; }        // A5
inline bool DiffusionOption(const Context& ctx) { return ctx.rasterOptionsA[5] != 0; }       // A6
inline bool StampOption(const Context& ctx) { return ctx.rasterOptionsB[0] != 0; }           // B1
inline int32_t ShoulderPowerPercent(const Context& ctx) { return ctx.rasterOptionsB[1]; }    // B2
inline int32_t ShoulderWidthHmm(const Context& ctx) { return ctx.rasterOptionsB[2]; }        // B3
inline int32_t InnerShoulderWidthHmm(const Context& ctx) { return ctx.rasterOptionsB[3]; }   // B4

// Class power P of a colour class on the engine's power scale (128 = 100 %).
int32_t ClassPower(const Context& ctx, int colourClass);

// Largest block of layer rows a step keeps in memory at once: two thirds of the available physical
// memory, as the row blocks of the layer steps are sized, but at most kLargestRowBlock.
uint64_t RowBlockBudget();

// A block is read and written in one transfer, whose count is 32 bits: blocks stay well below 4 GiB
// (a larger one would be cut short), and below what a machine with plenty of memory would give.
constexpr uint64_t kLargestRowBlock = uint64_t{1} << 30;

// Budget of the steps whose result does not depend on the block size (plate cut, resolution change,
// orientation, power mapping, screen): the row block budget, but at most 16 MB, so that memory stays
// bounded however large the layer and however much memory the machine has.
uint64_t StreamingBlockBudget();

// A buffer from the platform's memory, released when it goes out of scope; "Memory error" when the
// allocation fails.
class Buffer {
 public:
  Buffer(Context& ctx, size_t size, bool zeroFill = false);
  ~Buffer();
  Buffer(const Buffer&) = delete;
  Buffer& operator=(const Buffer&) = delete;
  uint8_t* data() { return data_; }
  size_t size() const { return size_; }

 private:
  uint8_t* data_;
  size_t size_;
};

// A layer file handle owned by one step (a resized or oriented copy): closed, and so deleted, when it
// goes out of scope unless released.
class OwnedLayer {
 public:
  explicit OwnedLayer(void* handle) : handle_(handle) {}
  ~OwnedLayer();
  OwnedLayer(const OwnedLayer&) = delete;
  OwnedLayer& operator=(const OwnedLayer&) = delete;
  void** handle() { return &handle_; }
  void* Release() {
    void* handle = handle_;
    handle_ = nullptr;
    return handle;
  }

 private:
  void* handle_;
};

// Bytes a working row buffer needs: one row of the longer plate side plus 5 mm at 3600 dpi, or at
// the highest resolution in use when that is above 3600 dpi.
int32_t WorkRowBytesNeeded(const Context& ctx);

// The working row buffer, allocated (zero-filled) on first use and grown to at least minBytes.
uint8_t* WorkRow(Context& ctx, Job& job, int32_t minBytes = 0);

// Releases the working row buffer.
void ReleaseWorkRow(Job& job);

// Layer geometry at the engine resolution: the grey stride (dots) and the row count of every layer.
int32_t GreyLayerStride(const Context& ctx);
int32_t LayerRows(const Context& ctx);

// Writes rowCount rows of stride bytes, all equal to blank, from row 0 of a new layer file.
void FillLayer(Context& ctx, void** handle, int32_t stride, int32_t rowCount, uint8_t blank);

// Reads rows in increasing order through a block buffer: one transfer per block of rows.
class RowReader {
 public:
  RowReader(Context& ctx, void** handle, int32_t stride, int32_t rowCount, uint64_t budget);
  // Row y (y never smaller than an earlier call's y, except within the loaded block).
  const uint8_t* Row(int32_t y);
  // The same row, writable (for steps that modify rows in place through a RowWriter on the same file).
  uint8_t* MutableRow(int32_t y) { return const_cast<uint8_t*>(Row(y)); }

 private:
  Context& ctx_;
  void** handle_;
  size_t stride_;
  int32_t rowCount_;
  int32_t blockRows_;
  int32_t first_ = 0;
  int32_t loaded_ = 0;
  Buffer buffer_;
};

// Writes rows of width bytes at row index * width, collected in a block buffer and written in one
// transfer per block. Rows are given in increasing order from firstRow.
class RowWriter {
 public:
  RowWriter(Context& ctx, void** handle, int32_t width, int32_t firstRow, uint64_t budget);
  ~RowWriter() = default;
  // Space for the next row; it is written by a later Flush or Next.
  uint8_t* Next();
  void Flush();
  int32_t rowsWritten() const { return next_; }

 private:
  Context& ctx_;
  void** handle_;
  size_t width_;
  int32_t blockRows_;
  int32_t first_;
  int32_t pending_ = 0;
  int32_t next_;
  Buffer buffer_;
};

}  // namespace ostrelin::raster
