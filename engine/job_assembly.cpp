// Job assembly: header, per-class raster framework, vector pass and closing records.
#include "engine/job_assembly.h"

#include <cmath>
#include <cstring>

#include "engine/error.h"
#include "engine/job_stream.h"
#include "engine/raster/layer_io.h"
#include "engine/raster/layer_transforms.h"
#include "engine/raster/power_tables.h"
#include "engine/raster/raster_blocks.h"
#include "engine/scratch.h"
#include "engine/settings.h"
#include "engine/vector/vector_pass.h"
#include "platform/platform.h"

namespace ostrelin {
namespace {

bool SinkIsPrinter(const Job& job) {
  return job.machineKind != 5 && job.outputToFile != 1 && job.seriesFlag == 0 && job.toScratch == 0;
}

// The parameter records of a raster layer's class: "PW" (colour layers only), "VD", "vd", "AI", "FR", "SL".
void WriteClassRecords(Context& ctx, Job& job, int colourClass, bool withPower) {
  const int16_t* w = ctx.classParams[colourClass];
  if (withPower) WriteRecord(ctx, job, "PW", RoundHalfAway(w[kWordPower] / 1.28));
  WriteRecord(ctx, job, "VD", w[kWordSpeed] / 10);
  WriteRecord(ctx, job, "vd", w[kWordSpeed]);
  WriteRecord(ctx, job, "AI", w[kWordAi]);
  WriteRecord(ctx, job, "FR", w[kWordFr]);
  WriteRecord(ctx, job, "SL", w[kWordSl]);
}

}  // namespace

bool TakesRasterPass(int colourMode) {
  return colourMode == 1 || colourMode == 4 || colourMode == 5 || colourMode == 7;
}

uint32_t EstimatedSeconds(double seconds) {
  if (!(seconds > 0.0)) return 0;
  if (seconds >= 4294967295.0) return 0xFFFFFFFFu;
  return static_cast<uint32_t>(std::trunc(seconds));
}

void WriteJobHeader(Context& ctx, Spool&, Job& job) {
  WriteText(ctx, job, "!LA 192;");
  auto* copy = static_cast<OstrelinJobHeader*>(platform::memory().Allocate(sizeof(OstrelinJobHeader), false));
  if (copy == nullptr) Fail(ctx, ErrorKind::kMemory);
  std::memcpy(copy, &ctx.jobHeader, sizeof *copy);
  if (ctx.orientation > 3) {
    std::swap(copy->words[(56 - 16) / 4], copy->words[(60 - 16) / 4]);
    std::swap(copy->words[(40 - 16) / 4], copy->words[(44 - 16) / 4]);
  }
  try {
    WriteBytes(ctx, job, copy->ident, sizeof copy->ident);
    WriteWords32(ctx, job, copy->words, sizeof copy->words);
  } catch (...) {
    platform::memory().Free(copy);
    throw;
  }
  platform::memory().Free(copy);
}

void AssembleJob(Context& ctx, Spool& spool, Job& job) {
  job.headX = 0;
  job.headY = 0;
  const auto engineDpi = static_cast<float>(ctx.engineResolution);
  ctx.plateExtentWidth = std::max(DotsFromHmm(ctx.plateWidthHmm, engineDpi) - 1, ctx.usedWidth);
  ctx.plateExtentHeight = std::max(DotsFromHmm(ctx.plateHeightHmm, engineDpi) - 1, ctx.usedHeight);

  for (int c = 0; c < 8; ++c) {
    job.currentClass = static_cast<uint8_t>(c);
    if (job.colourLayers[c] == nullptr) continue;
    if (TakesRasterPass(ctx.classParams[c][kWordColourMode])) {
      raster::RasterPass(ctx, spool, job);
      WriteClassRecords(ctx, job, c, true);
      raster::WriteColourRaster(ctx, spool, job);
    }
    if (job.colourLayers[c] != nullptr) CloseLayerFile(&job.colourLayers[c]);
  }
  job.headX *= 8;
  job.currentClass = 0;
  if (job.greyLayer != nullptr && TakesRasterPass(ctx.classParams[0][kWordColourMode])) {
    if (!raster::StampOption(ctx) && !raster::HalftoneOption(ctx)) raster::MapGreyToPower(ctx, spool, job);
    raster::RasterPass(ctx, spool, job);
    WriteClassRecords(ctx, job, 0, false);
    raster::WriteGreyRaster(ctx, spool, job);
  }
  if (job.greyLayer != nullptr) CloseLayerFile(&job.greyLayer);
  raster::ReleaseWorkRow(job);

  platform::Stream* plot = AsStream(ctx.plotFile);
  ctx.endLength = plot != nullptr ? plot->Tell() : 0;
  if (ctx.endLength < 0) Fail(ctx, ErrorKind::kTemporaryFile);
  if (ctx.endLength != 0) {
    if (!plot->Seek(0, platform::kSeekSet)) Fail(ctx, ErrorKind::kTemporaryFile);
    const auto vectorDpi = static_cast<float>(ctx.vectorResolution);
    ctx.plateExtentWidth = DotsFromHmm(ctx.plateWidthHmm, vectorDpi);
    ctx.plateExtentHeight = DotsFromHmm(ctx.plateHeightHmm, vectorDpi);
    // The colour sort of the estimating run, which the run that writes the job takes over.
    vector::SortedStrokes sorted;
    if (ctx.controllerFlag == 0) {
      // Estimating run: the profile planner accumulates the time while nothing reaches the sink.
      const uint16_t estimateOnly = job.estimateOnly;
      ctx.controllerFlag = 1;
      job.estimateOnly = 1;
      try {
        vector::RunVectorPass(ctx, spool, job, vector::PassRole::kEstimate, &sorted);
      } catch (...) {
        ctx.controllerFlag = 0;
        job.estimateOnly = estimateOnly;
        throw;
      }
      ctx.controllerFlag = 0;
      job.estimateOnly = estimateOnly;
      if (!plot->Seek(0, platform::kSeekSet)) Fail(ctx, ErrorKind::kTemporaryFile);
    }
    vector::RunVectorPass(ctx, spool, job, vector::PassRole::kWrite, &sorted);
  }

  WriteRecord(ctx, job, "PU", 0);
  WriteRecord(ctx, job, "AI", 0);
  WriteRecord(ctx, job, "OP", 0);
  const uint32_t seconds = EstimatedSeconds(job.estimatedTime);
  WriteRecord32(ctx, job, "TE", seconds);
  if (SinkIsPrinter(job)) {
    const uint8_t value[4] = {static_cast<uint8_t>(seconds), static_cast<uint8_t>(seconds >> 8),
                              static_cast<uint8_t>(seconds >> 16), static_cast<uint8_t>(seconds >> 24)};
    StorePrinterData(job.outputSink, "TempsEstime", platform::kRegDword, value, sizeof value);
  }
  WriteRecord(ctx, job, "JF", 0);
}

}  // namespace ostrelin
