// Resource hygiene over many jobs: 10,000 small jobs in a row through each road on one record set, as a
// long-running host makes them. Descriptors, memory (resident set after a warm-up) and the temporary
// directory must come back to where they were. Slow, so not in the default run: make soak runs it.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>

#include "ostrelin/ostrelin.h"
#include "support/fakes.h"
#include "support/sample_jobs.h"
#include "support/test_support.h"

namespace ostrelin::test {
namespace {

constexpr int kJobs = 10000;
constexpr int kWarmUpJobs = 500;
// Growth of the resident set allowed after the warm-up: the allocator's own bookkeeping, far below
// what one job holds (a 10 MB spool buffer, layers of several hundred kilobytes).
constexpr long kAllowedGrowthKib = 4096;

long ResidentKib() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
  }
  return -1;
}

class Soak : public ScratchDirTest {
 protected:
  // Runs job kJobs times; job returns the stream it made, which must be the same every time.
  template <class Job>
  void Run(const char* road, Job&& job) {
    const std::vector<std::string> descriptors = OpenDescriptors();
    const std::vector<uint8_t> first = job();
    ASSERT_TRUE(EndsWithJobEnd(first));
    long warm = 0;
    int differing = 0;
    for (int n = 1; n < kJobs; ++n) {
      if (job() != first && ++differing <= 3)
        ADD_FAILURE() << road << " job " << n << " differs from the first";
      if (n == kWarmUpJobs) warm = ResidentKib();
    }
    const long final = ResidentKib();
    const std::vector<std::string> descriptorsAfter = OpenDescriptors();
    std::printf(
        "%s road: %d jobs; resident set %ld KiB after %d jobs, %ld KiB at the end (%+ld KiB); "
        "%zu descriptors before, %zu after; %zu files left\n",
        road, kJobs, warm, kWarmUpJobs, final, final - warm, descriptors.size(), descriptorsAfter.size(),
        LeftoverFiles().size());
    EXPECT_EQ(differing, 0);
    EXPECT_LE(final - warm, kAllowedGrowthKib) << road;
    EXPECT_EQ(descriptorsAfter, descriptors) << road;
    EXPECT_TRUE(LeftoverFiles().empty()) << road;
    EXPECT_TRUE(messages_.texts.empty()) << road << ": " << messages_.texts[0];
  }
  CapturedMessages messages_;
};

TEST_F(Soak, DISABLED_TenThousandRenderingJobsOnOneRecordSet) {
  RecordSet set;
  const auto settings = SmallPlateSettings();
  Run("rendering", [&] { return RunRenderingJob(set, settings).stream; });
}

TEST_F(Soak, DISABLED_TenThousandSpoolJobsOnOneRecordSet) {
  RecordSet set;
  MemorySpooler spooler;
  const std::string page = SpoolPage();
  auto settings = SmallPlateSettings();
  Run("spool", [&] {
    spooler.job.clear();
    spooler.job.shrink_to_fit();
    SendChunk(set, spooler.printerHandle, page, settings);
    return spooler.job;
  });
}

}  // namespace
}  // namespace ostrelin::test
