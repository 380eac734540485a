// The spool road end to end: a generated page of about 50 MB of PA/PD polylines with pens and line
// types, handed to debut in 64 KiB chunks, to the finished job. Reports MB/s of HPGL and peak memory.
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "engine/settings_layout.h"
#include "ostrelin/ostrelin.h"
#include "platform/platform.h"

namespace {

using namespace ostrelin;

// A printer that counts what it receives.
class CountingSpooler : public platform::Spooler {
 public:
  bool GetPrinterName(void*, std::string* name) override {
    *name = "Bench";
    return true;
  }
  bool GetPrinterData(void*, const char*, void*, uint32_t, uint32_t*) override { return false; }
  bool SetPrinterData(void*, const char*, uint32_t, const void*, uint32_t) override { return true; }
  void* OpenPrinter(const char*, uint32_t) override { return this; }
  bool ClosePrinter(void*) override { return true; }
  bool WritePrinter(void*, const void*, uint32_t size, uint32_t* written) override {
    bytes += size;
    *written = size;
    return true;
  }
  bool AbortPrinter(void*) override { return true; }
  uint64_t bytes = 0;
};

// Writes the generated page to file, about `bytes` long, a piece at a time so that the generator holds
// no copy of it (the peak memory is then the engine's). Returns the bytes written.
size_t GeneratePage(FILE* file, size_t bytes) {
  std::mt19937 random(7);
  std::uniform_int_distribution<int> coordinate(0, 20000);
  std::string piece = "IN;SP1;";
  size_t written = 0;
  int pen = 1;
  while (written + piece.size() < bytes) {
    if (random() % 50 == 0) {
      pen = pen % 4 + 1;
      piece += "SP" + std::to_string(pen) + ";";
      piece += random() % 3 == 0 ? "LT2,4;" : "LT;";
    }
    piece += "PU" + std::to_string(coordinate(random)) + "," + std::to_string(coordinate(random)) + ";PD";
    for (int i = 0; i < 8; ++i) {
      if (i > 0) piece += ",";
      piece += std::to_string(coordinate(random)) + "," + std::to_string(coordinate(random));
    }
    piece += ";";
    if (piece.size() >= 65536) {
      written += std::fwrite(piece.data(), 1, piece.size(), file);
      piece.clear();
    }
  }
  piece += "PU;PG;";
  written += std::fwrite(piece.data(), 1, piece.size(), file);
  return written;
}

std::vector<uint8_t> Settings(bool profiled) {
  namespace s = settings;
  std::vector<uint8_t> record(s::kRecordSize, 0);
  settings::Editor e(record.data());
  e.SetU16(s::kLanguage, 1);
  e.SetU16(s::kMachineKind, 2);
  e.SetU16(s::kModel, 260);
  e.SetU32(s::kPlateWidthUm, 600000);
  e.SetU32(s::kPlateHeightUm, 300000);
  e.SetU16(s::kEngravingResX, 500);
  e.SetU16(s::kEngravingResY, 500);
  e.SetU16(s::kEngineRes, 500);
  e.SetU32(s::kVectorRes, 500);
  e.SetU16(s::kMotionWord, profiled ? 0x0100 : 0);
  for (int c = 0; c < 8; ++c) {
    e.SetU16(s::ClassBlock(c) + s::kClassPower, 50);
    e.SetU16(s::ClassBlock(c) + s::kClassSpeed, 100);
    e.SetU16(s::ClassBlock(c) + s::kClassPasses, 1);
    e.SetU16(s::ClassBlock(c) + s::kClassColourMode, 2);
  }
  return record;
}

// The page lives in a file, read in chunks as a spooler would, so that the peak memory is the engine's.
const std::string& PageFile(size_t* size) {
  static std::string path;
  static size_t bytes = 0;
  if (path.empty()) {
    char name[] = "/tmp/ostrelin-bench-XXXXXX";
    const int fd = mkstemp(name);
    FILE* file = fdopen(fd, "wb");
    bytes = GeneratePage(file, 50u << 20);
    fclose(file);
    path = name;
    std::atexit([] { std::remove(path.c_str()); });
  }
  *size = bytes;
  return path;
}

void BM_SpoolRoad(benchmark::State& state) {
  size_t pageBytes = 0;
  const std::string& path = PageFile(&pageBytes);
  CountingSpooler spooler;
  platform::Spooler* previous = platform::InstallSpooler(&spooler);
  const bool profiled = state.range(0) != 0;
  for (auto _ : state) {
    std::vector<uint8_t> record = Settings(profiled);
    auto* ctx = static_cast<OstrelinContext*>(std::calloc(1, sizeof(OstrelinContext)));
    auto* spool = static_cast<OstrelinSpool*>(std::calloc(1, sizeof(OstrelinSpool)));
    auto* job = static_cast<OstrelinJob*>(std::calloc(1, sizeof(OstrelinJob)));
    FILE* file = std::fopen(path.c_str(), "rb");
    std::vector<uint8_t> chunk(65536);
    for (size_t got; (got = std::fread(chunk.data(), 1, chunk.size(), file)) > 0;) {
      debut(&spooler, chunk.data(), static_cast<uint32_t>(got), record.data(), spool, ctx, job);
    }
    std::fclose(file);
    if (ctx->jobOpenFlag != 0 || ctx->lastError != 0) state.SkipWithError("the job did not complete");
    std::free(ctx);
    std::free(spool);
    std::free(job);
  }
  platform::InstallSpooler(previous);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * pageBytes));
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  state.counters["peak_rss_MB"] = static_cast<double>(usage.ru_maxrss) / 1024.0;
  state.counters["job_MB"] =
      static_cast<double>(spooler.bytes) / static_cast<double>(state.iterations()) / 1e6;
}
BENCHMARK(BM_SpoolRoad)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace
