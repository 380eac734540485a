// The spool road end to end: generated pages of about 50 MB of PA/PD polylines with pens and line
// types, handed to debut in 64 KiB chunks, to the finished job. Reports MB/s of HPGL and peak memory.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "bench/bench_memory.h"
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

// The two pages of the benchmark.
enum class Page {
  // Polylines between random points of the whole 20,000-unit square, one pen change in fifty, a third
  // of them to the dashed line type 2 (every dash gap a long travel): the heaviest planning per byte.
  kRandomPolylines,
  // Closed outlines of 16 to 64 short chords (radius 20 to 150 units) scattered over the plate, with the
  // same pen and line type changes: the short segments of exported drawings and flattened curves.
  kOutlines,
};

// Writes the generated page to file, about `bytes` long, a piece at a time so that the generator holds
// no copy of it (the peak memory is then the engine's). Returns the bytes written.
size_t GeneratePage(FILE* file, size_t bytes, Page page) {
  std::mt19937 random(7);
  std::uniform_int_distribution<int> coordinate(0, 20000);
  std::uniform_int_distribution<int> centreX(200, 11000);
  std::uniform_int_distribution<int> centreY(200, 5500);
  std::uniform_int_distribution<int> radius(20, 150);
  std::uniform_int_distribution<int> chords(16, 64);
  std::string piece = "IN;SP1;";
  size_t written = 0;
  int pen = 1;
  auto point = [&piece](long x, long y) { piece += std::to_string(x) + "," + std::to_string(y); };
  while (written + piece.size() < bytes) {
    if (random() % 50 == 0) {
      pen = pen % 4 + 1;
      piece += "SP" + std::to_string(pen) + ";";
      piece += random() % 3 == 0 ? "LT2,4;" : "LT;";
    }
    if (page == Page::kRandomPolylines) {
      piece += "PU";
      point(coordinate(random), coordinate(random));
      piece += ";PD";
      for (int i = 0; i < 8; ++i) {
        if (i > 0) piece += ",";
        point(coordinate(random), coordinate(random));
      }
    } else {
      const int cx = centreX(random);
      const int cy = centreY(random);
      const int r = radius(random);
      const int n = chords(random);
      auto at = [&](int i, bool alongX) {
        const double angle = 2.0 * 3.14159265358979 * i / n;
        return std::lround((alongX ? cx : cy) + r * (alongX ? std::cos(angle) : std::sin(angle)));
      };
      piece += "PU";
      point(at(0, true), at(0, false));
      piece += ";PD";
      for (int i = 1; i <= n; ++i) {
        if (i > 1) piece += ",";
        point(at(i, true), at(i, false));
      }
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

// The pages live in files, read in chunks as a spooler would, so that the peak memory is the engine's.
const std::string& PageFile(Page page, size_t* size) {
  static std::string paths[2];
  static size_t bytes[2] = {};
  const auto index = static_cast<size_t>(page);
  std::string& path = paths[index];
  if (path.empty()) {
    char name[] = "/tmp/ostrelin-bench-XXXXXX";
    const int fd = mkstemp(name);
    FILE* file = fdopen(fd, "wb");
    bytes[index] = GeneratePage(file, 50u << 20, page);
    fclose(file);
    path = name;
    if (index == 0) {
      std::atexit([] {
        for (const std::string& made : paths) {
          if (!made.empty()) std::remove(made.c_str());
        }
      });
    }
  }
  *size = bytes[index];
  return path;
}

void BM_SpoolRoad(benchmark::State& state) {
  size_t pageBytes = 0;
  const std::string& path = PageFile(static_cast<Page>(state.range(1)), &pageBytes);
  CountingSpooler spooler;
  platform::Spooler* previous = platform::InstallSpooler(&spooler);
  const bool profiled = state.range(0) != 0;
  bench::ResetPeak();
  const long startKb = bench::StatusKb("VmRSS:");
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
  // The process's peak over this benchmark (the kernel's peak is reset before it starts), and the part of
  // it above the resident size at the start, which can still hold heap left by earlier benchmarks.
  const long peakKb = bench::StatusKb("VmHWM:");
  state.counters["peak_rss_MB"] = static_cast<double>(peakKb) / 1024.0;
  state.counters["peak_MB_beyond_start"] = static_cast<double>(peakKb - startKb) / 1024.0;
  state.counters["job_MB"] =
      static_cast<double>(spooler.bytes) / static_cast<double>(state.iterations()) / 1e6;
}
// Arguments: the controller (0 classic, with an estimating run; 1 profiling) and the page.
BENCHMARK(BM_SpoolRoad)
    ->ArgNames({"profiled", "page"})
    ->Args({0, static_cast<int>(Page::kOutlines)})
    ->Args({1, static_cast<int>(Page::kOutlines)})
    ->Args({0, static_cast<int>(Page::kRandomPolylines)})
    ->Args({1, static_cast<int>(Page::kRandomPolylines)})
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);

}  // namespace
