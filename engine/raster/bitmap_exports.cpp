// The bitmap-row exports of the rendering road: row setup and one-bit and RGB rows into the intake.
#include <cstring>

#include "engine/error.h"
#include "engine/export_guard.h"
#include "engine/job_reset.h"
#include "engine/raster/bitmap_intake.h"
#include "engine/scratch.h"
#include "ostrelin/ostrelin.h"

namespace ostrelin::raster {
namespace {

// rowBytes below 0 marks a bitmap whose setup or one of whose rows failed: its remaining rows are
// ignored, so that one mistake shows one message instead of one per row.
constexpr int32_t kRefusedBitmap = -1;

// Setup shared by both row kinds. Rows longer than one plane of the row buffer are refused.
void SetUpRows(Context& ctx, Spool& spool, Job& job, double xMm, double yMm, uint32_t rowPixels,
               uint32_t rowBytes) {
  spool.rowBytes = kRefusedBitmap;
  spool.rowPixels = kRefusedBitmap;
  const auto dpi = static_cast<float>(ctx.engineResolution);
  job.rowOriginX = DotsFromHmm(xMm * 100.0, dpi);
  job.currentRow = DotsFromHmm(yMm * 100.0, dpi);
  ctx.rasterOperation = kSrcCopy;
  if (rowBytes > OSTRELIN_PLANE_BYTES) Fail(ctx, ErrorKind::kBitmap);
  spool.rowBytes = static_cast<int32_t>(rowBytes);
  spool.rowPixels = static_cast<int32_t>(rowPixels);
}

// Bitmaps belong to an open rendering-road job. Without one (ostrelinInit refused its settings or was
// never called) rows are ignored: a refused record may hold a resolution or plate that would size layer
// files absurdly, and its failure has been shown already.
bool JobOpen(const Job& job) { return job.renderingRoad != 0; }

// Runs one row under an error frame; a failed row refuses the rest of its bitmap.
template <class Body>
void RunRow(Context& ctx, Spool& spool, Body&& body) {
  const int32_t before = ctx.lastError;
  ctx.lastError = 0;
  UnderFrame(ctx, [&] { body(); });
  if (ctx.lastError != 0) {
    spool.rowBytes = kRefusedBitmap;
    spool.rowPixels = kRefusedBitmap;
  } else {
    ctx.lastError = before;
  }
}

}  // namespace
}  // namespace ostrelin::raster

using namespace ostrelin;
using namespace ostrelin::raster;

extern "C" {

OSTRELIN_API void ostrelinGnfToHmapBitInit(OstrelinContext* ctx, OstrelinSpool* spool, OstrelinJob* job,
                                           double x, double y, uint32_t rowPixels,
                                           uint8_t colourClass) noexcept {
  if (!RecordsGiven(ctx, spool, job)) return;
  if (!JobOpen(*job)) {
    spool->rowBytes = spool->rowPixels = kRefusedBitmap;
    return;
  }
  UnderFrame(*ctx, [&] {
    SetUpRows(*ctx, *spool, *job, x, y, rowPixels, rowPixels / 8 + (rowPixels % 8 != 0 ? 1 : 0));
    // Classes above 8 have no layer; they are refused rather than written past the eight layers.
    if (colourClass > 8) {
      spool->rowBytes = spool->rowPixels = kRefusedBitmap;
      Fail(*ctx, ErrorKind::kBitmap);
    }
    job->currentClass = colourClass;
  });
}

OSTRELIN_API void ostrelinGnfToHmapBit(OstrelinContext* ctx, OstrelinSpool* spool, OstrelinJob* job,
                                       const uint8_t* row) noexcept {
  if (!RecordsGiven(ctx, spool, job)) return;
  if (spool->rowBytes < 0 || !JobOpen(*job)) return;
  if (row == nullptr) {
    ShowError(*ctx, ErrorKind::kBadPointer);
    return;
  }
  RunRow(*ctx, *spool, [&] {
    std::memcpy(spool->rowBuffer[0], row, static_cast<size_t>(spool->rowBytes));
    PutBitRow(*ctx, *spool, *job);
  });
}

OSTRELIN_API void ostrelinGnfToHmapOctetInit(OstrelinContext* ctx, OstrelinSpool* spool, OstrelinJob* job,
                                             double x, double y, uint32_t rowPixels) noexcept {
  if (!RecordsGiven(ctx, spool, job)) return;
  if (!JobOpen(*job)) {
    spool->rowBytes = spool->rowPixels = kRefusedBitmap;
    return;
  }
  UnderFrame(*ctx, [&] { SetUpRows(*ctx, *spool, *job, x, y, rowPixels, rowPixels); });
}

OSTRELIN_API void ostrelinGnfToHmapOctet(OstrelinContext* ctx, OstrelinSpool* spool, OstrelinJob* job,
                                         const uint8_t* row) noexcept {
  if (!RecordsGiven(ctx, spool, job)) return;
  if (spool->rowBytes < 0 || !JobOpen(*job)) return;
  if (row == nullptr) {
    ShowError(*ctx, ErrorKind::kBadPointer);
    return;
  }
  RunRow(*ctx, *spool, [&] {
    uint8_t* grey = spool->rowBuffer[0];
    const int32_t pixels = spool->rowPixels;
    for (int32_t i = 0; i < pixels; ++i) {
      const uint8_t* rgb = row + 3 * static_cast<size_t>(i);
      grey[i] = static_cast<uint8_t>((rgb[0] * 30 + rgb[1] * 59 + rgb[2] * 11) / 100);
    }
    PutGreyRow(*ctx, *spool, *job, SourceKind::kBytes);
  });
}

}  // extern "C"
