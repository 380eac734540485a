// Record sets used by several threads at the same time: the engine keeps its state in the records, so
// each thread's jobs come out byte for byte as when the same jobs run one after the other. The
// ThreadSanitizer build (make test-tsan) runs this test to catch any state that is shared after all.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "engine/settings_layout.h"
#include "ostrelin/ostrelin.h"
#include "ostrelin/ostrelin_posix.h"
#include "support/sample_jobs.h"
#include "support/test_support.h"

namespace ostrelin::test {
namespace {

namespace s = settings;

constexpr int kThreads = 2;
constexpr int kRounds = 3;

// What one worker makes: every round a rendering-road job and a spool-road job.
struct Streams {
  std::vector<std::vector<uint8_t>> rendering;
  std::vector<std::vector<uint8_t>> spool;
};

// Different settings per worker, so that the workers run different steps at the same time: the
// first the plain raster and the corner-table planner, the second the halftone screen, a turned page
// and the profile planner.
std::vector<uint8_t> WorkerSettings(int worker) {
  auto record = SmallPlateSettings();
  if (worker % 2 == 1) {
    SetU16(record, s::kOrientation, 5);
    SetU16(record, s::kRasterOptionsA + 6, 1);  // A4 halftone
    SetU16(record, s::kMotionWord, 0x0100);     // a profiling controller
  }
  return record;
}

std::vector<uint8_t> ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

class Concurrency : public ScratchDirTest {
 protected:
  // The jobs of one worker on its own record set and its own printer.
  Streams Work(int worker, int pass) {
    Streams made;
    RecordSet set;
    const std::string output =
        dir_ + "/printer-" + std::to_string(pass) + "-" + std::to_string(worker) + ".job";
    for (int round = 0; round < kRounds; ++round) {
      made.rendering.push_back(RunRenderingJob(set, WorkerSettings(worker)).stream);
      void* printer =
          ostrelinPosixOpenPrinter(("Engraver " + std::to_string(worker)).c_str(), output.c_str(), nullptr);
      if (printer == nullptr) {
        ADD_FAILURE() << "no printer for worker " << worker;
        return made;
      }
      auto record = WorkerSettings(worker);
      SendChunk(set, printer, SpoolPage(), record);
      ostrelinPosixClosePrinter(printer);
      made.spool.push_back(ReadFile(output));
    }
    std::remove(output.c_str());
    return made;
  }
};

std::atomic<int> gMessagesShown{0};

void CountMessage(void*, const char* text, uint32_t) {
  ++gMessagesShown;
  std::fprintf(stderr, "message: %s\n", text);
}

TEST_F(Concurrency, TwoRecordSetsInTwoThreadsMakeTheSameJobsAsOneAfterTheOther) {
  ostrelinPosixSetMessageCallback(CountMessage, nullptr);
  gMessagesShown = 0;
  std::vector<Streams> alone;
  for (int worker = 0; worker < kThreads; ++worker) alone.push_back(Work(worker, 0));

  std::vector<Streams> together(kThreads);
  std::vector<std::thread> threads;
  for (int worker = 0; worker < kThreads; ++worker) {
    threads.emplace_back(
        [this, worker, &together] { together[static_cast<size_t>(worker)] = Work(worker, 1); });
  }
  for (std::thread& thread : threads) thread.join();
  ostrelinPosixSetMessageCallback(nullptr, nullptr);

  EXPECT_EQ(gMessagesShown.load(), 0);
  // The two workers make different jobs, so that the comparison would notice one taking the other's.
  ASSERT_FALSE(alone[0].rendering.empty());
  EXPECT_NE(alone[0].rendering[0], alone[1].rendering[0]);
  EXPECT_NE(alone[0].spool[0], alone[1].spool[0]);
  for (int worker = 0; worker < kThreads; ++worker) {
    const auto w = static_cast<size_t>(worker);
    ASSERT_EQ(together[w].rendering.size(), static_cast<size_t>(kRounds));
    ASSERT_EQ(together[w].spool.size(), static_cast<size_t>(kRounds));
    for (int round = 0; round < kRounds; ++round) {
      const auto r = static_cast<size_t>(round);
      EXPECT_TRUE(EndsWithJobEnd(alone[w].rendering[r])) << worker << ", round " << round;
      EXPECT_TRUE(EndsWithJobEnd(alone[w].spool[r])) << worker << ", round " << round;
      EXPECT_EQ(together[w].rendering[r], alone[w].rendering[r])
          << "worker " << worker << ", round " << round;
      EXPECT_EQ(together[w].spool[r], alone[w].spool[r]) << "worker " << worker << ", round " << round;
    }
  }
}

}  // namespace
}  // namespace ostrelin::test
