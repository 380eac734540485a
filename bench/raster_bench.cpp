// Raster road end to end: a full-plate grey photograph (or a one-bit image) through the bitmap exports,
// job assembly and read-back, per grey pipeline. Prints megapixels per second and peak resident memory
// beyond what was resident before the job (records and source rows included in the baseline). Also the
// layer steps alone on a full-plate grey layer file: resolution changes and orientations.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "bench/bench_memory.h"
#include "engine/raster/layer_transforms.h"
#include "engine/records.h"
#include "engine/scratch.h"
#include "engine/settings_layout.h"
#include "ostrelin/ostrelin.h"

namespace {

namespace s = ostrelin::settings;

enum class Pipeline { kDiffusion, kHalftone, kStamp, kColour };

std::vector<uint8_t> Settings(uint16_t dpi, Pipeline pipeline) {
  std::vector<uint8_t> record(s::kRecordSize, 0);
  s::Editor e(record.data());
  e.SetU16(s::kVersion, 1000);
  e.SetU16(s::kMachineKind, 1);
  e.SetU16(s::kLanguage, 1);
  e.SetU16(s::kModel, 260);
  e.SetU32(s::kPlateWidthUm, 600000);
  e.SetU32(s::kPlateHeightUm, 300000);
  e.SetU16(s::kEngravingResX, dpi);
  e.SetU16(s::kEngravingResY, dpi);
  e.SetU16(s::kEngineRes, dpi);
  e.SetU16(s::kRasterOptionsA + 12, 50);  // brightness
  if (pipeline == Pipeline::kDiffusion) e.SetU16(s::kRasterOptionsA + 10, 1);
  if (pipeline == Pipeline::kHalftone) e.SetU16(s::kRasterOptionsA + 6, 1);
  if (pipeline == Pipeline::kStamp) {
    e.SetU16(s::kRasterOptionsB, 1);
    e.SetU16(s::kRasterOptionsB + 2, 50);   // shoulder power, percent
    e.SetU16(s::kRasterOptionsB + 4, 500);  // shoulder width: 0.5 mm
    e.SetU16(s::kRasterOptionsB + 6, 200);  // inner width: 0.2 mm
  }
  for (int c = 0; c < 8; ++c) {
    e.SetU16(s::ClassBlock(c) + s::kClassPower, 80);
    e.SetU16(s::ClassBlock(c) + s::kClassSpeed, 100);
    e.SetU16(s::ClassBlock(c) + s::kClassPasses, 1);
    e.SetU16(s::ClassBlock(c) + s::kClassColourMode, 1);
  }
  e.SetU32(s::kVectorRes, dpi);
  return record;
}

using ostrelin::bench::ResetPeak;
using ostrelin::bench::StatusKb;

void RasterRoad(benchmark::State& state, uint16_t dpi, Pipeline pipeline) {
  const int32_t width = static_cast<int32_t>(600.0 * dpi / 25.4);
  const int32_t height = static_cast<int32_t>(300.0 * dpi / 25.4);
  int32_t spoolSize = 0, contextSize = 0, jobSize = 0;
  RechercheTailleDePiPgPo(&spoolSize, &contextSize, &jobSize);
  // Source rows: a horizontal gradient with noise, 16 variants cycled down the plate.
  constexpr int kVariants = 16;
  const bool bits = pipeline == Pipeline::kColour;
  const size_t rowBytes = bits ? static_cast<size_t>((width + 7) / 8) : 3 * static_cast<size_t>(width);
  std::vector<uint8_t> rows(rowBytes * kVariants);
  uint32_t seed = 12345;
  for (int v = 0; v < kVariants; ++v) {
    for (size_t i = 0; i < rowBytes; ++i) {
      seed = seed * 1664525u + 1013904223u;
      const int noise = static_cast<int>(seed >> 27) - 16;
      if (bits) {
        rows[v * rowBytes + i] = static_cast<uint8_t>(seed >> 24);
      } else {
        const int grey = static_cast<int>(255 * (i / 3) / static_cast<size_t>(width)) + noise;
        rows[v * rowBytes + i] = static_cast<uint8_t>(grey < 0 ? 0 : grey > 255 ? 255 : grey);
      }
    }
  }
  std::vector<uint8_t> readBack(1 << 20);
  long peakKb = 0;
  double jobBytes = 0;
  for (auto _ : state) {
    auto* ctx = static_cast<OstrelinContext*>(std::calloc(1, static_cast<size_t>(contextSize)));
    auto* spool = static_cast<OstrelinSpool*>(std::calloc(1, static_cast<size_t>(spoolSize)));
    auto* job = static_cast<OstrelinJob*>(std::calloc(1, static_cast<size_t>(jobSize)));
    std::vector<uint8_t> settings = Settings(dpi, pipeline);
    ResetPeak();
    const long baseKb = StatusKb("VmRSS:");
    ostrelinInit(ctx, spool, job, settings.data());
    if (bits) {
      ostrelinGnfToHmapBitInit(ctx, spool, job, 0, 0, static_cast<uint32_t>(width), 0);
    } else {
      ostrelinGnfToHmapOctetInit(ctx, spool, job, 0, 0, static_cast<uint32_t>(width));
    }
    for (int32_t y = 0; y < height; ++y) {
      const uint8_t* row = rows.data() + (y % kVariants) * rowBytes;
      if (bits) {
        ostrelinGnfToHmapBit(ctx, spool, job, row);
      } else {
        ostrelinGnfToHmapOctet(ctx, spool, job, row);
      }
    }
    ostrelinDoBinary(ctx, spool, job);
    const int32_t size = ostrelinGetBinarySize(ctx, spool, job);
    while (ostrelinGetBinary(ctx, spool, job, readBack.data(), static_cast<uint32_t>(readBack.size())) > 0) {
    }
    ostrelinClean(ctx, spool, job);
    peakKb = std::max(peakKb, StatusKb("VmHWM:") - baseKb);
    jobBytes = size;
    std::free(ctx);
    std::free(spool);
    std::free(job);
  }
  const double pixels = static_cast<double>(width) * height;
  state.counters["Mpixel/s"] =
      benchmark::Counter(pixels / 1e6, benchmark::Counter::kIsIterationInvariantRate);
  state.counters["Mpixels"] = pixels / 1e6;
  state.counters["peak_MB_beyond_baseline"] = static_cast<double>(peakKb) / 1024.0;
  state.counters["job_MB"] = jobBytes / 1e6;
}

enum class Step { kScale, kOrient };

/* One layer step alone on a 600 x 300 mm grey layer at 500 dpi (70.3 megapixels, a gradient with
 * noise) already in its layer file: the resolution change to engravingDpi, or the turn to orientation.
 * Building the layer file is not timed; megapixels per second count the source layer's dots. */
void LayerStep(benchmark::State& state, Step step, uint16_t engravingDpi, int orientation) {
  constexpr uint16_t kEngineDpi = 500;
  const int32_t width = static_cast<int32_t>(600.0 * kEngineDpi / 25.4);
  const int32_t height = static_cast<int32_t>(300.0 * kEngineDpi / 25.4);
  int32_t spoolSize = 0, contextSize = 0, jobSize = 0;
  RechercheTailleDePiPgPo(&spoolSize, &contextSize, &jobSize);
  std::vector<uint8_t> band(static_cast<size_t>(width) * 64);
  uint32_t seed = 777;
  for (size_t i = 0; i < band.size(); ++i) {
    seed = seed * 1664525u + 1013904223u;
    const int grey = static_cast<int>(255 * (i % static_cast<size_t>(width)) / static_cast<size_t>(width)) +
                     static_cast<int>(seed >> 27) - 16;
    band[i] = static_cast<uint8_t>(grey < 0 ? 0 : grey > 255 ? 255 : grey);
  }
  long peakKb = 0;
  double outputPixels = 0;
  for (auto _ : state) {
    state.PauseTiming();
    auto* ctx = static_cast<OstrelinContext*>(std::calloc(1, static_cast<size_t>(contextSize)));
    auto* spool = static_cast<OstrelinSpool*>(std::calloc(1, static_cast<size_t>(spoolSize)));
    auto* job = static_cast<OstrelinJob*>(std::calloc(1, static_cast<size_t>(jobSize)));
    std::vector<uint8_t> settings = Settings(kEngineDpi, Pipeline::kDiffusion);
    s::Editor(settings.data()).SetU16(s::kEngravingResX, engravingDpi);
    s::Editor(settings.data()).SetU16(s::kEngravingResY, engravingDpi);
    ostrelinInit(ctx, spool, job, settings.data());
    ostrelin::Context& c = *ctx;
    ostrelin::Job& j = *job;
    c.orientation = orientation;
    j.greyLayer = ostrelin::CreateLayerFile(c);
    for (int32_t y = 0; y < height; y += 64) {
      const int32_t rowsNow = std::min(64, height - y);
      ostrelin::WriteAtOffset(c, &j.greyLayer, static_cast<uint32_t>(static_cast<size_t>(width) * rowsNow),
                              band.data(), static_cast<uint64_t>(y) * static_cast<uint64_t>(width));
    }
    j.greyStride = width;
    j.greyRows = height;
    j.currentStride = width;
    j.currentRows = height;
    ResetPeak();
    const long baseKb = StatusKb("VmRSS:");
    state.ResumeTiming();
    if (step == Step::kScale) {
      ostrelin::raster::ScaleGreyLayer(c, j);
    } else {
      void* turned = ostrelin::raster::OrientLayer(c, j, &j.greyLayer, true);
      ostrelin::CloseLayerFile(&turned);
    }
    state.PauseTiming();
    peakKb = std::max(peakKb, StatusKb("VmHWM:") - baseKb);
    outputPixels = static_cast<double>(j.currentStride) * j.currentRows;
    ostrelinClean(ctx, spool, job);
    std::free(ctx);
    std::free(spool);
    std::free(job);
    state.ResumeTiming();
  }
  const double pixels = static_cast<double>(width) * height;
  state.counters["Mpixel/s"] =
      benchmark::Counter(pixels / 1e6, benchmark::Counter::kIsIterationInvariantRate);
  state.counters["Mpixels_out"] = outputPixels / 1e6;
  state.counters["peak_MB_beyond_baseline"] = static_cast<double>(peakKb) / 1024.0;
}

}  // namespace

BENCHMARK_CAPTURE(LayerStep, scale_500_to_1000dpi, Step::kScale, 1000, 0)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(2)
    ->UseRealTime();
BENCHMARK_CAPTURE(LayerStep, scale_500_to_254dpi, Step::kScale, 254, 0)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3)
    ->UseRealTime();
BENCHMARK_CAPTURE(LayerStep, orient_3_mirror_and_reverse, Step::kOrient, 500, 3)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3)
    ->UseRealTime();
BENCHMARK_CAPTURE(LayerStep, orient_5_turn, Step::kOrient, 500, 5)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3)
    ->UseRealTime();

BENCHMARK_CAPTURE(RasterRoad, grey_500dpi_diffusion, 500, Pipeline::kDiffusion)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(2)
    ->UseRealTime();
BENCHMARK_CAPTURE(RasterRoad, grey_500dpi_halftone, 500, Pipeline::kHalftone)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(2)
    ->UseRealTime();
BENCHMARK_CAPTURE(RasterRoad, grey_500dpi_stamp, 500, Pipeline::kStamp)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1)
    ->UseRealTime();
BENCHMARK_CAPTURE(RasterRoad, colour_500dpi, 500, Pipeline::kColour)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(2)
    ->UseRealTime();
BENCHMARK_CAPTURE(RasterRoad, grey_1000dpi_diffusion, 1000, Pipeline::kDiffusion)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1)
    ->UseRealTime();
