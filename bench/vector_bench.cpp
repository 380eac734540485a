// Planning speed of the two motion planners on a page of about a million pen-down points of random
// polylines, with peak memory. Nothing reaches a sink: the job is estimate-only.
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <cstdlib>
#include <cstring>
#include <random>
#include <unordered_map>
#include <vector>

#include "engine/motion_tables.h"
#include "engine/records.h"
#include "engine/settings_tables.h"
#include "engine/vector/corner_planner.h"
#include "engine/vector/profile_planner.h"
#include "platform/platform.h"

namespace {

using namespace ostrelin;

constexpr int kPoints = 1000000;
constexpr int kPolylinePoints = 200;

struct Point {
  float x;
  float y;
  bool penDown;
};

// Random polylines on a 600 x 300 mm plate, in plotter units: each starts with a travel move and
// wanders in steps of 0.1 to 5 mm with random turns.
const std::vector<Point>& Page() {
  static const std::vector<Point> page = [] {
    std::vector<Point> points;
    points.reserve(kPoints + kPoints / kPolylinePoints);
    std::mt19937 random(7);
    std::uniform_real_distribution<float> unit(0.0f, 1.0f);
    float x = 0;
    float y = 0;
    float heading = 0;
    for (int i = 0; i < kPoints; ++i) {
      if (i % kPolylinePoints == 0) {
        x = 400 + unit(random) * 23200;
        y = 400 + unit(random) * 11200;
        points.push_back({x, y, false});
      }
      heading += (unit(random) - 0.5f) * 2.0f;
      const float step = 4 + unit(random) * 196;
      x = std::clamp(x + step * std::cos(heading), 0.0f, 24000.0f);
      y = std::clamp(y + step * std::sin(heading), 0.0f, 12000.0f);
      points.push_back({x, y, true});
    }
    return points;
  }();
  return page;
}

struct Records {
  Records() {
    ctx = static_cast<Context*>(std::calloc(1, sizeof(Context)));
    job = static_cast<Job*>(std::calloc(1, sizeof(Job)));
    job->renderingRoad = 1;
    job->estimateOnly = 1;
    job->cornerTable = AngleLsStd;
    job->cornerTable.params = ParamVitVectStd;
    std::memcpy(job->motionTable, kMotionTables[0].data(), sizeof job->motionTable);
    job->motionDivisor = kMotionDivisors[0];
    ctx->plateWidthHmm = 60000;
    ctx->plateHeightHmm = 30000;
  }
  ~Records() {
    std::free(ctx);
    std::free(job);
  }
  Context* ctx;
  Job* job;
};

// Counts the bytes the engine holds through the platform's memory service, and their peak.
class CountingMemory : public platform::Memory {
 public:
  void* Allocate(size_t size, bool zeroFill) override {
    void* block = platform::NativeMemory().Allocate(size, zeroFill);
    if (block != nullptr) {
      sizes_[block] = size;
      held_ += size;
      peak_ = std::max(peak_, held_);
    }
    return block;
  }
  void Free(void* block) override {
    if (block == nullptr) return;
    held_ -= sizes_[block];
    sizes_.erase(block);
    platform::NativeMemory().Free(block);
  }
  uint64_t AvailablePhysical() override { return platform::NativeMemory().AvailablePhysical(); }
  size_t peak_ = 0;

 private:
  std::unordered_map<void*, size_t> sizes_;
  size_t held_ = 0;
};

// Peak of the planner's own memory, and of the whole process (which includes the page of points
// and whatever other benchmarks of this program used before).
void ReportPeakMemory(benchmark::State& state, const CountingMemory& memory) {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  state.counters["planner_peak_KiB"] = static_cast<double>(memory.peak_) / 1024.0;
  state.counters["process_peak_MiB"] = static_cast<double>(usage.ru_maxrss) / 1024.0;
}

void BM_CornerTablePlanner(benchmark::State& state) {
  const auto& page = Page();
  Records r;
  CountingMemory memory;
  platform::Memory* previous = platform::InstallMemory(&memory);
  for (auto _ : state) {
    vector::CornerPlanner planner(*r.ctx, *r.job);
    vector::StartCorner(planner, 0, 0, 500, 500);
    for (const Point& p : page) {
      if (!p.penDown) vector::FlushCorner(*r.ctx, *r.job, planner);
      vector::AddCornerPoint(*r.ctx, *r.job, planner, p.x, p.y);
      if (!p.penDown) vector::FlushCorner(*r.ctx, *r.job, planner);
    }
    vector::FlushCorner(*r.ctx, *r.job, planner);
  }
  state.counters["points_per_s"] =
      benchmark::Counter(static_cast<double>(state.iterations()) * kPoints, benchmark::Counter::kIsRate);
  platform::InstallMemory(previous);
  ReportPeakMemory(state, memory);
}
BENCHMARK(BM_CornerTablePlanner)->Unit(benchmark::kMillisecond);

void BM_ProfilePlannerWithLookAhead(benchmark::State& state) {
  const auto& page = Page();
  Records r;
  CountingMemory memory;
  platform::Memory* previous = platform::InstallMemory(&memory);
  for (auto _ : state) {
    r.job->estimatedTime = 0;
    vector::ProfilePlanner planner(*r.ctx, *r.job, r.job->cornerTable.params);
    vector::StartProfile(planner, 0, 0, 500, 500);
    for (const Point& p : page) {
      if (!p.penDown) {
        vector::FlushProfile(*r.ctx, *r.job, planner);
        vector::PlanProfilePoint(*r.ctx, *r.job, planner, false, p.x, p.y);
        vector::FlushProfile(*r.ctx, *r.job, planner);
      } else {
        vector::PlanProfilePoint(*r.ctx, *r.job, planner, true, p.x, p.y);
      }
    }
    vector::FlushProfile(*r.ctx, *r.job, planner);
    benchmark::DoNotOptimize(r.job->estimatedTime);
  }
  state.counters["points_per_s"] =
      benchmark::Counter(static_cast<double>(state.iterations()) * kPoints, benchmark::Counter::kIsRate);
  state.counters["estimate_s"] = r.job->estimatedTime;
  platform::InstallMemory(previous);
  ReportPeakMemory(state, memory);
}
BENCHMARK(BM_ProfilePlannerWithLookAhead)->Unit(benchmark::kMillisecond);

}  // namespace
