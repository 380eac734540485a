// Bitmap intake: one row at a time into the layer files, merged with what the layer already holds.
#include "engine/raster/bitmap_intake.h"

#include <algorithm>
#include <cstring>

#include "engine/error.h"
#include "engine/job_reset.h"
#include "engine/raster/layer_io.h"
#include "engine/scratch.h"

namespace ostrelin::raster {
namespace {

constexpr int32_t kBlackness = 0x000042;
constexpr int32_t kNotSrcErase = 0x1100A6;
constexpr int32_t kNotSrcCopy = 0x330008;
constexpr int32_t kSrcErase = 0x440328;
constexpr int32_t kDstInvert = 0x550009;
constexpr int32_t kSrcInvert = 0x660046;
constexpr int32_t kSrcAnd = 0x8800C6;
constexpr int32_t kMergePaint = 0xBB0226;
constexpr int32_t kSrcPaint = 0xEE0086;
constexpr int32_t kWhiteness = 0xFF0062;

// Row bookkeeping common to every kind of row: next row, used extent, the interpreter's plane counter.
void AdvanceRow(Context& ctx, Spool& spool, Job& job) {
  job.currentRow += 1;
  ctx.usedWidth = std::max(ctx.usedWidth, job.rowOriginX + spool.rowPixels);
  ctx.usedHeight = std::max(ctx.usedHeight, job.currentRow);
  spool.pendingPlane = -1;
}

// Rows must fit the row buffer (one plane) and lie on the layer: a row that starts left of or above
// the plate, or below the layer's last row, is refused like a row reaching past the layer's right end.
void CheckRow(Context& ctx, const Spool& spool, const Job& job, int32_t rowBytesLimit) {
  if (spool.rowBytes < 0 || spool.rowBytes > rowBytesLimit || spool.rowPixels < 0)
    Fail(ctx, ErrorKind::kBitmap);
  if (job.rowOriginX < 0 || job.currentRow < 0 || job.currentRow >= LayerRows(ctx)) {
    Fail(ctx, ErrorKind::kPlateSize);
  }
}

uint8_t Combine(int32_t operation, uint8_t s, uint8_t d) {
  switch (operation) {
    case kBlackness:
      return 0;
    case kNotSrcErase:
      return static_cast<uint8_t>(~(s | d));
    case kNotSrcCopy:
      return static_cast<uint8_t>(~s);
    case kSrcErase:
      return static_cast<uint8_t>(s & ~d);
    case kDstInvert:
      return static_cast<uint8_t>(~d);
    case kSrcInvert:
      return static_cast<uint8_t>(s ^ d);
    case kSrcAnd:
      return static_cast<uint8_t>(s & d);
    case kMergePaint:
      return static_cast<uint8_t>(~s | d);
    case kSrcPaint:
      return static_cast<uint8_t>(s | d);
    case kWhiteness:
      return 255;
    default:
      return s;
  }
}

}  // namespace

int32_t ColourLayerStride(const Context& ctx) { return GreyLayerStride(ctx) / 8; }

void FinishPlane(Spool& spool, int32_t bytesReceived) {
  const int32_t plane = spool.pendingPlane;
  if (plane < 0 || plane > 2) return;
  const int32_t rowBytes = std::clamp(spool.rowBytes, 0, OSTRELIN_PLANE_BYTES);
  const int32_t received = std::clamp(bytesReceived, 0, rowBytes);
  std::memset(spool.rowBuffer[plane] + received, 0, static_cast<size_t>(rowBytes - received));
  std::memcpy(spool.seedRows[plane], spool.rowBuffer[plane], static_cast<size_t>(rowBytes));
}

void PutBitRow(Context& ctx, Spool& spool, Job& job) {
  if (ctx.greyPipelineFlag != 0) {
    PutGreyRow(ctx, spool, job, SourceKind::kBits);
    return;
  }
  if (static_cast<int64_t>(spool.rowPixels) > 8 * static_cast<int64_t>(spool.rowBytes)) Fail(ctx, ErrorKind::kBitmap);
  const int colourClass = job.currentClass;
  if (colourClass >= 8) {
    AdvanceRow(ctx, spool, job);
    return;
  }
  CheckRow(ctx, spool, job, OSTRELIN_PLANE_BYTES);
  const bool negative = NegativeOption(ctx);
  const uint8_t blank = negative ? 0xFF : 0x00;
  uint8_t* work = WorkRow(ctx, job);
  if (job.colourLayers[colourClass] == nullptr) {
    job.colourStride = ColourLayerStride(ctx);
    job.colourRows = LayerRows(ctx);
    job.colourLayers[colourClass] = CreateLayerFile(ctx);
    FillLayer(ctx, &job.colourLayers[colourClass], job.colourStride, job.colourRows, blank);
  }

  // Only the first rowPixels bits of the row count.
  uint8_t* source = spool.rowBuffer[0];
  const int32_t pixels = spool.rowPixels;
  const int32_t bytes = spool.rowBytes;
  if (pixels % 8 != 0 && pixels / 8 < bytes)
    source[pixels / 8] &= static_cast<uint8_t>(0xFF00 >> (pixels % 8));
  for (int32_t k = (pixels + 7) / 8; k < bytes; ++k) source[k] = 0;

  const int32_t shift = job.rowOriginX % 8;
  const int32_t extra = shift != 0 ? 1 : 0;
  const int32_t firstByte = job.rowOriginX / 8;
  if (static_cast<int64_t>(firstByte) + extra + bytes > job.colourStride) Fail(ctx, ErrorKind::kPlateSize);
  const uint64_t offset = static_cast<uint64_t>(job.currentRow) * static_cast<uint64_t>(job.colourStride) +
                          static_cast<uint64_t>(firstByte);
  const auto count = static_cast<uint32_t>(bytes + extra);
  ReadAtOffset(ctx, &job.colourLayers[colourClass], count, work, offset);
  uint32_t carry = 0;
  for (int32_t k = 0; k < bytes; ++k) {
    const auto d = static_cast<uint8_t>((source[k] >> shift) | carry);
    work[k] = negative ? static_cast<uint8_t>(work[k] & ~d) : static_cast<uint8_t>(work[k] | d);
    carry = (static_cast<uint32_t>(source[k]) << (8 - shift)) & 0xFF;
  }
  if (extra != 0) {
    const auto d = static_cast<uint8_t>(carry);
    work[bytes] = negative ? static_cast<uint8_t>(work[bytes] & ~d) : static_cast<uint8_t>(work[bytes] | d);
  }
  WriteAtOffset(ctx, &job.colourLayers[colourClass], count, work, offset);
  AdvanceRow(ctx, spool, job);
}

void PutPlaneRow(Context& ctx, Spool& spool, Job& job) { PutGreyRow(ctx, spool, job, SourceKind::kPlanes); }

void PutGreyRow(Context& ctx, Spool& spool, Job& job, SourceKind kind) {
  CheckRow(ctx, spool, job, OSTRELIN_PLANE_BYTES);
  const int32_t pixels = spool.rowPixels;
  if (kind != SourceKind::kBytes ? pixels > 8 * static_cast<int64_t>(spool.rowBytes) : pixels > spool.rowBytes) {
    Fail(ctx, ErrorKind::kBitmap);
  }
  uint8_t* work = WorkRow(ctx, job);
  if (job.greyLayer == nullptr) {
    job.greyStride = GreyLayerStride(ctx);
    job.greyRows = LayerRows(ctx);
    job.greyLayer = CreateLayerFile(ctx);
    FillLayer(ctx, &job.greyLayer, job.greyStride, job.greyRows, 0xFF);
  }
  if (static_cast<int64_t>(job.rowOriginX) + pixels > job.greyStride) Fail(ctx, ErrorKind::kPlateSize);
  if (ctx.underlay == nullptr || ctx.underlayBytes < job.greyStride) AllocateUnderlay(ctx);
  const uint64_t offset = static_cast<uint64_t>(job.currentRow) * static_cast<uint64_t>(job.greyStride) +
                          static_cast<uint64_t>(job.rowOriginX);
  uint8_t* under = ctx.underlay;
  // A plain copy of bytes needs nothing from the layer below.
  const bool needsUnderlay = kind != SourceKind::kBytes || ctx.rasterOperation != kSrcCopy;
  if (needsUnderlay) ReadAtOffset(ctx, &job.greyLayer, static_cast<uint32_t>(pixels), under, offset);

  const uint8_t* plane0 = spool.rowBuffer[0];
  const bool opaque = spool.opaqueSource == 1;
  int32_t built = 0;
  if (kind == SourceKind::kBits) {
    uint8_t greys[2];
    bool transparent[2];
    if (ctx.penColourMode != 0) {
      const int pen = std::clamp(ctx.currentPen, 0, 263);
      greys[0] = 255;
      transparent[0] = !opaque;
      greys[1] = GreyOf(ctx.penPalette[pen]);
      transparent[1] = false;
    } else {
      for (int bit = 0; bit < 2; ++bit) {
        greys[bit] = GreyOf(ctx.rasterPalette[bit]);
        transparent[bit] = greys[bit] == 255 && !opaque;
      }
    }
    for (; built < pixels; ++built) {
      const int bit = (plane0[built >> 3] >> (7 - (built & 7))) & 1;
      work[built] = transparent[bit] ? under[built] : greys[bit];
    }
  } else if (kind == SourceKind::kPlanes) {
    uint8_t greys[8];
    for (int i = 0; i < 8; ++i) greys[i] = GreyOf(ctx.rasterPalette[i]);
    const uint8_t* plane1 = spool.rowBuffer[1];
    const uint8_t* plane2 = spool.rowBuffer[2];
    for (; built < pixels; ++built) {
      const int shift = 7 - (built & 7);
      const int index = ((plane0[built >> 3] >> shift) & 1) | (((plane1[built >> 3] >> shift) & 1) << 1) |
                        (((plane2[built >> 3] >> shift) & 1) << 2);
      work[built] = greys[index];
    }
  } else {
    built = pixels;
    std::memcpy(work, plane0, static_cast<size_t>(built));
  }
  if (ctx.rasterOperation != kSrcCopy) {
    for (int32_t i = 0; i < built; ++i) work[i] = Combine(ctx.rasterOperation, work[i], under[i]);
  }
  WriteAtOffset(ctx, &job.greyLayer, static_cast<uint32_t>(built), work, offset);
  AdvanceRow(ctx, spool, job);
}

}  // namespace ostrelin::raster
