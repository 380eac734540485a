// Polygon fills of the graphics service on a plate-sized one-bit bitmap (20,000 x 12,000 dots): a star
// and a self-crossing random polygon of a few thousand vertices, and two thousand small rings drawn
// together. Prints megapixels per second, vertices per second and the peak resident memory beyond the
// bitmap's rows (which the caller holds). Also a whole FP of the star through the page driver.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "bench/bench_memory.h"
#include "engine/error.h"
#include "engine/hpgl/page_driver.h"
#include "engine/settings_layout.h"
#include "ostrelin/ostrelin.h"
#include "platform/platform.h"

namespace {

using ostrelin::platform::PolygonPoint;

constexpr int32_t kWidth = 20000;
constexpr int32_t kHeight = 12000;

using ostrelin::bench::ResetPeak;
using ostrelin::bench::StatusKb;

struct Shape {
  std::vector<PolygonPoint> points;
  std::vector<int32_t> counts;
};

// A star of count vertices alternating between two radii, centred on the plate.
Shape Star(int count) {
  Shape shape;
  const double cx = kWidth / 2.0, cy = kHeight / 2.0;
  for (int k = 0; k < count; ++k) {
    const double angle = 2.0 * M_PI * k / count;
    const double radius = (k % 2 == 0 ? 0.48 : 0.30) * kHeight;
    shape.points.push_back({static_cast<int32_t>(cx + radius * 1.6 * std::cos(angle)),
                            static_cast<int32_t>(cy + radius * std::sin(angle))});
  }
  shape.counts.push_back(count);
  return shape;
}

// count vertices anywhere on the plate: long edges crossing one another everywhere.
Shape RandomPolygon(int count) {
  std::mt19937 random(7);
  Shape shape;
  for (int k = 0; k < count; ++k) {
    shape.points.push_back(
        {static_cast<int32_t>(random() % kWidth), static_cast<int32_t>(random() % kHeight)});
  }
  shape.counts.push_back(count);
  return shape;
}

// rings small 64-gons spread over the plate, as a page of filled lettering would give.
Shape Rings(int rings) {
  std::mt19937 random(11);
  Shape shape;
  for (int r = 0; r < rings; ++r) {
    const double cx = 200 + random() % (kWidth - 400), cy = 200 + random() % (kHeight - 400);
    const double radius = 40 + random() % 150;
    for (int k = 0; k < 64; ++k) {
      const double angle = 2.0 * M_PI * k / 64;
      shape.points.push_back({static_cast<int32_t>(cx + radius * std::cos(angle)),
                              static_cast<int32_t>(cy + radius * std::sin(angle))});
    }
    shape.counts.push_back(64);
  }
  return shape;
}

void Fill(benchmark::State& state, const Shape& shape) {
  const size_t rowBytes = static_cast<size_t>(ostrelin::platform::PolygonRowBytes(kWidth));
  std::vector<uint8_t> rows(rowBytes * kHeight);
  std::memset(rows.data(), 0, rows.size());  // resident before the baseline
  long peakKb = 0;
  for (auto _ : state) {
    ResetPeak();
    const long baseKb = StatusKb("VmRSS:");
    std::unique_ptr<ostrelin::platform::PolygonBitmap> bitmap(
        ostrelin::platform::graphics().CreatePolygonBitmap(nullptr, kWidth, kHeight));
    const bool drawn =
        bitmap != nullptr &&
        (shape.counts.size() == 1 ? bitmap->Polygon(shape.points.data(), shape.counts[0])
                                  : bitmap->PolyPolygon(shape.points.data(), shape.counts.data(),
                                                        static_cast<int32_t>(shape.counts.size())));
    if (!drawn || !bitmap->ReadBits(rows.data(), rows.size())) {
      state.SkipWithError("the fill failed");
      return;
    }
    bitmap.reset();
    benchmark::DoNotOptimize(rows.data());
    peakKb = std::max(peakKb, StatusKb("VmHWM:") - baseKb);
  }
  const double pixels = static_cast<double>(kWidth) * kHeight;
  state.counters["Mpixel/s"] =
      benchmark::Counter(pixels / 1e6, benchmark::Counter::kIsIterationInvariantRate);
  state.counters["vertices/s"] = benchmark::Counter(static_cast<double>(shape.points.size()),
                                                    benchmark::Counter::kIsIterationInvariantRate);
  state.counters["peak_MB_beyond_rows"] = static_cast<double>(peakKb) / 1024.0;
}

// FP of the star through the page driver at 850 dpi on a 600 x 300 mm plate (20,079 x 10,039 dots of
// layer): points, bitmap and the rows merged into the colour layer file, the layer made on the way.
void BM_PlateFillThroughThePageDriver(benchmark::State& state) {
  namespace s = ostrelin::settings;
  std::vector<uint8_t> record(s::kRecordSize, 0);
  s::Editor e(record.data());
  e.SetU16(s::kVersion, 1000);
  e.SetU16(s::kMachineKind, 1);  // the scaling frame: HPGL coordinates are dots
  e.SetU16(s::kLanguage, 1);
  e.SetU16(s::kModel, 260);
  e.SetU32(s::kPlateWidthUm, 600000);
  e.SetU32(s::kPlateHeightUm, 300000);
  e.SetU16(s::kEngravingResX, 850);
  e.SetU16(s::kEngravingResY, 850);
  e.SetU16(s::kEngineRes, 850);
  e.SetU32(s::kVectorRes, 850);
  for (int c = 0; c < 8; ++c) {
    e.SetU16(s::ClassBlock(c) + s::kClassPower, 50);
    e.SetU16(s::ClassBlock(c) + s::kClassSpeed, 100);
    e.SetU16(s::ClassBlock(c) + s::kClassPasses, 1);
    e.SetU16(s::ClassBlock(c) + s::kClassColourMode, 1);
  }
  // The star of BM_FillStar4000 scaled into 19,800 x 9,800 dots.
  const Shape star = Star(4000);
  std::string page = "SP1;PA" + std::to_string(star.points[0].x * 99 / 100) + "," +
                     std::to_string(star.points[0].y * 98 / 120) + ";PM0;PD";
  for (size_t k = 1; k < star.points.size(); ++k) {
    page += (k > 1 ? "," : "") + std::to_string(star.points[k].x * 99 / 100) + "," +
            std::to_string(star.points[k].y * 98 / 120);
  }
  page += ";PM2;FP;";
  std::vector<uint8_t> text(page.begin(), page.end());
  int32_t spoolSize = 0, contextSize = 0, jobSize = 0;
  RechercheTailleDePiPgPo(&spoolSize, &contextSize, &jobSize);
  long peakKb = 0;
  for (auto _ : state) {
    auto* ctx = static_cast<OstrelinContext*>(std::calloc(1, static_cast<size_t>(contextSize)));
    auto* spool = static_cast<OstrelinSpool*>(std::calloc(1, static_cast<size_t>(spoolSize)));
    auto* job = static_cast<OstrelinJob*>(std::calloc(1, static_cast<size_t>(jobSize)));
    ostrelinInit(ctx, spool, job, record.data());
    ResetPeak();
    const long baseKb = StatusKb("VmRSS:");
    spool->spoolBuffer = text.data();
    spool->readPos = text.data();
    spool->dataEnd = text.data() + text.size();
    spool->pageComplete = 1;
    try {
      ostrelin::hpgl::RunPageDriver(*ctx, *spool, *job);
    } catch (const ostrelin::EngineAbort&) {
      state.SkipWithError("the fill failed");
    }
    peakKb = std::max(peakKb, StatusKb("VmHWM:") - baseKb);
    const bool filled = job->colourLayers[0] != nullptr;
    spool->spoolBuffer = nullptr;
    ostrelinClean(ctx, spool, job);
    std::free(ctx);
    std::free(spool);
    std::free(job);
    if (!filled) {
      state.SkipWithError("nothing was filled");
      break;
    }
  }
  const double pixels = 19800.0 * 9800.0;
  state.counters["Mpixel/s"] =
      benchmark::Counter(pixels / 1e6, benchmark::Counter::kIsIterationInvariantRate);
  state.counters["peak_MB"] = static_cast<double>(peakKb) / 1024.0;
}

void BM_FillStar4000(benchmark::State& state) { Fill(state, Star(4000)); }
void BM_FillRandomPolygon3000(benchmark::State& state) { Fill(state, RandomPolygon(3000)); }
void BM_FillRings2000x64(benchmark::State& state) { Fill(state, Rings(2000)); }

BENCHMARK(BM_FillStar4000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FillRandomPolygon3000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FillRings2000x64)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PlateFillThroughThePageDriver)->Unit(benchmark::kMillisecond);

}  // namespace
