// Throughput of the spine: command records into a scratch sink and layer transfers in 1 MB blocks.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <vector>

#include "engine/job_stream.h"
#include "engine/scratch.h"
#include "ostrelin/ostrelin.h"
#include "platform/platform.h"

namespace {

using namespace ostrelin;

struct Records {
  Records()
      : ctx(static_cast<Context*>(std::calloc(1, sizeof(Context)))),
        job(static_cast<Job*>(std::calloc(1, sizeof(Job)))) {}
  ~Records() {
    std::free(ctx);
    std::free(job);
  }
  Context* ctx;
  Job* job;
};

// Command records written one by one to the rendering road's scratch stream.
void BM_CommandRecords(benchmark::State& state) {
  Records r;
  platform::Stream* sink = OpenScratchStream(*r.ctx);
  r.job->outputSink = sink;
  r.job->toScratch = 1;
  int64_t records = 0;
  for (auto _ : state) {
    for (int i = 0; i < 10000; ++i) WriteRecord(*r.ctx, *r.job, "RX", i);
    records += 10000;
    sink->Seek(0, platform::kSeekSet);
  }
  state.SetBytesProcessed(records * static_cast<int64_t>(kRecordBytes));
  state.counters["records/s"] = benchmark::Counter(static_cast<double>(records), benchmark::Counter::kIsRate);
  platform::CloseStream(sink);
}
BENCHMARK(BM_CommandRecords);

// A layer of 64 MB written and read back at explicit offsets.
void BM_LayerTransfer(benchmark::State& state) {
  Records r;
  const auto size = static_cast<uint32_t>(state.range(0));
  std::vector<uint8_t> block(size, 0x5A);
  for (auto _ : state) {
    void* layer = CreateLayerFile(*r.ctx);
    WriteAtOffset(*r.ctx, &layer, size, block.data(), 0);
    ReadAtOffset(*r.ctx, &layer, size, block.data(), 0);
    CloseLayerFile(&layer);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * 2 * size);
}
BENCHMARK(BM_LayerTransfer)->Arg(64 << 20)->Unit(benchmark::kMillisecond);

}  // namespace
