// Buffers, the working row buffer, layer geometry and the block row readers and writers.
#include "engine/raster/layer_io.h"

#include <algorithm>
#include <cstring>

#include "engine/error.h"
#include "engine/scratch.h"
#include "engine/settings.h"
#include "platform/platform.h"

namespace ostrelin::raster {

int32_t ClassPower(const Context& ctx, int colourClass) { return ctx.classParams[colourClass][kWordPower]; }

uint64_t RowBlockBudget() {
  return std::min<uint64_t>(2 * platform::memory().AvailablePhysical() / 3, kLargestRowBlock);
}

uint64_t StreamingBlockBudget() { return std::min<uint64_t>(RowBlockBudget(), 16u << 20); }

Buffer::Buffer(Context& ctx, size_t size, bool zeroFill)
    : data_(static_cast<uint8_t*>(platform::memory().Allocate(size, zeroFill))), size_(size) {
  if (data_ == nullptr) Fail(ctx, ErrorKind::kMemory);
}

Buffer::~Buffer() { platform::memory().Free(data_); }

OwnedLayer::~OwnedLayer() {
  if (handle_ != nullptr) CloseLayerFile(&handle_);
}

int32_t WorkRowBytesNeeded(const Context& ctx) {
  const int32_t dpi = std::max({3600, ctx.engineResolution, ctx.engravingResX, ctx.engravingResY});
  const double side = std::max(ctx.plateWidthHmm, ctx.plateHeightHmm) + 500.0;
  return RoundHalfAway(side * dpi / 2540.0);
}

uint8_t* WorkRow(Context& ctx, Job& job, int32_t minBytes) {
  const int32_t wanted = std::max(WorkRowBytesNeeded(ctx), minBytes);
  if (job.workRow != nullptr && job.workRowBytes >= wanted) return job.workRow;
  auto* grown = static_cast<uint8_t*>(platform::memory().Allocate(static_cast<size_t>(wanted), true));
  if (grown == nullptr) Fail(ctx, ErrorKind::kMemory);
  if (job.workRow != nullptr) {
    std::memcpy(grown, job.workRow, static_cast<size_t>(job.workRowBytes));
    platform::memory().Free(job.workRow);
  }
  job.workRow = grown;
  job.workRowBytes = wanted;
  return grown;
}

void ReleaseWorkRow(Job& job) {
  if (job.workRow != nullptr) platform::memory().Free(job.workRow);
  job.workRow = nullptr;
  job.workRowBytes = 0;
}

int32_t GreyLayerStride(const Context& ctx) {
  return DotsFromHmm(ctx.plateWidthHmm + 500.0, static_cast<float>(ctx.engineResolution));
}

int32_t LayerRows(const Context& ctx) {
  return DotsFromHmm(ctx.plateHeightHmm + 500.0, static_cast<float>(ctx.engineResolution));
}

namespace {

int32_t BlockRows(uint64_t budget, size_t stride, int32_t rowCount) {
  const uint64_t rows = stride == 0 ? static_cast<uint64_t>(rowCount) : budget / stride;
  return static_cast<int32_t>(std::clamp<uint64_t>(rows, 1, static_cast<uint64_t>(std::max(rowCount, 1))));
}

}  // namespace

void FillLayer(Context& ctx, void** handle, int32_t stride, int32_t rowCount, uint8_t blank) {
  const auto total = static_cast<uint64_t>(stride) * static_cast<uint64_t>(std::max(rowCount, 0));
  const auto chunk = static_cast<size_t>(std::min<uint64_t>(total, 4u << 20));
  if (chunk == 0) return;
  Buffer block(ctx, chunk);
  std::memset(block.data(), blank, chunk);
  for (uint64_t done = 0; done < total;) {
    const auto size = static_cast<uint32_t>(std::min<uint64_t>(chunk, total - done));
    WriteAtOffset(ctx, handle, size, block.data(), done);
    done += size;
  }
}

RowReader::RowReader(Context& ctx, void** handle, int32_t stride, int32_t rowCount, uint64_t budget)
    : ctx_(ctx),
      handle_(handle),
      stride_(static_cast<size_t>(std::max(stride, 0))),
      rowCount_(rowCount),
      blockRows_(BlockRows(budget, stride_, rowCount)),
      buffer_(ctx, std::max<size_t>(stride_ * static_cast<size_t>(blockRows_), 1)) {}

const uint8_t* RowReader::Row(int32_t y) {
  if (y < first_ || y >= first_ + loaded_) {
    first_ = y;
    loaded_ = std::min(blockRows_, rowCount_ - y);
    ReadAtOffset(ctx_, handle_, static_cast<uint32_t>(stride_ * static_cast<size_t>(loaded_)), buffer_.data(),
                 static_cast<uint64_t>(y) * stride_);
  }
  return buffer_.data() + static_cast<size_t>(y - first_) * stride_;
}

RowWriter::RowWriter(Context& ctx, void** handle, int32_t width, int32_t firstRow, uint64_t budget)
    : ctx_(ctx),
      handle_(handle),
      width_(static_cast<size_t>(std::max(width, 0))),
      blockRows_(BlockRows(budget, width_, 1 << 30)),
      first_(firstRow),
      next_(firstRow),
      buffer_(ctx, std::max<size_t>(width_ * static_cast<size_t>(blockRows_), 1)) {}

uint8_t* RowWriter::Next() {
  if (pending_ == blockRows_) Flush();
  uint8_t* row = buffer_.data() + static_cast<size_t>(pending_) * width_;
  ++pending_;
  ++next_;
  return row;
}

void RowWriter::Flush() {
  if (pending_ == 0) return;
  WriteAtOffset(ctx_, handle_, static_cast<uint32_t>(width_ * static_cast<size_t>(pending_)), buffer_.data(),
                static_cast<uint64_t>(first_) * width_);
  first_ += pending_;
  pending_ = 0;
}

}  // namespace ostrelin::raster
