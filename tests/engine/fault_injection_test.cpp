// Faults injected through the platform layer: every failure shows its message, ends the job cleanly
// (the abort path on the spool road, the end of the call on the rendering road), and leaves no scratch
// file, no descriptor and no engine memory behind; the same records then make the next job as fresh
// records would.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>

#include "engine/settings_layout.h"
#include "engine/spool_intake.h"
#include "ostrelin/ostrelin.h"
#include "support/fakes.h"
#include "support/sample_jobs.h"
#include "support/test_support.h"

namespace ostrelin::test {
namespace {

namespace s = settings;

// Sweeps visit about this many failure points of a job, evenly spread, so that the run stays short.
constexpr int kSweepPoints = 48;

int SweepStep(int points) { return std::max(1, points / kSweepPoints); }

using SpoolFaults = JobTest;
using RenderingFaults = JobTest;

TEST_F(SpoolFaults, ADiskThatFillsUpAtAnyWriteAbortsTheJob) {
  const std::vector<uint8_t>& reference = SpoolReference();
  int writes = 0;
  {
    FailingFiles files;
    MemorySpooler spooler;
    RecordSet set;
    auto record = SmallPlateSettings();
    SendChunk(set, spooler.printerHandle, SpoolPage(), record);
    ASSERT_EQ(set.ctx->lastError, 0);
    ASSERT_EQ(spooler.job, reference);
    writes = files.diskWrites;
    // Both kinds of scratch file are written: layer rows and the plot command file.
    ASSERT_NE(std::count(files.diskWriteTargets.begin(), files.diskWriteTargets.end(), -1), 0);
    ASSERT_NE(std::count(files.diskWriteTargets.begin(), files.diskWriteTargets.end(), 0), 0);
  }
  for (int n = 0; n < writes; n += SweepStep(writes)) {
    const std::string where = "disk full at write " + std::to_string(n);
    RecordSet set;
    {
      FailingFiles files;
      MemorySpooler spooler;
      CapturedMessages messages;
      FailingMemory memory(SIZE_MAX);
      auto record = SmallPlateSettings();
      files.diskWritesBeforeFull = n;
      SendChunk(set, spooler.printerHandle, SpoolPage(), record);
      ASSERT_GT(files.diskWriteTargets.size(), static_cast<size_t>(n)) << where;
      const bool layer = files.diskWriteTargets[static_cast<size_t>(n)] < 0;
      ASSERT_FALSE(messages.texts.empty()) << where;
      EXPECT_EQ(messages.texts[0], layer ? "Write file error" : "Temporary file error") << where;
      EXPECT_NE(set.ctx->lastError, 0) << where;
      EXPECT_EQ(set.ctx->jobOpenFlag, 0) << where;
      EXPECT_TRUE(spooler.job.empty()) << where;  // aborted
      EXPECT_EQ(memory.outstanding, 0) << where;
      ExpectNothingLeft(where);
    }
    ExpectRecordsServeTheNextJob(set, true, where);
  }
}

// The job written to a named file: the disk fills up while the file is written, at its start, in its
// middle or at its closing records.
TEST_F(SpoolFaults, ANamedOutputFileOnAFullDiskIsAWriteFileError) {
  const std::string path = dir_ + "-out.job";
  auto record = SmallPlateSettings();
  SetU16(record, s::kOutputToFile, 1);
  for (size_t i = 0; i <= path.size(); ++i) {
    SetU16(record, s::kOutputFileName + 2 * i, i < path.size() ? static_cast<uint8_t>(path[i]) : 0);
  }
  std::vector<size_t> fileWrites;  // which disk writes of a healthy job went to the file (stream 0)
  {
    FailingFiles files;
    MemorySpooler spooler;
    RecordSet set;
    auto healthy = record;
    SendChunk(set, spooler.printerHandle, SpoolPage(), healthy);
    ASSERT_EQ(set.ctx->lastError, 0);
    for (size_t n = 0; n < files.diskWriteTargets.size(); ++n) {
      if (files.diskWriteTargets[n] == 0) fileWrites.push_back(n);
    }
    ASSERT_GT(fileWrites.size(), 3u);
  }
  for (size_t n : {fileWrites.front(), fileWrites[fileWrites.size() / 2], fileWrites.back()}) {
    const std::string where = "disk full at write " + std::to_string(n);
    RecordSet set;
    {
      FailingFiles files;
      MemorySpooler spooler;
      CapturedMessages messages;
      files.diskWritesBeforeFull = static_cast<int>(n);
      auto failing = record;
      SendChunk(set, spooler.printerHandle, SpoolPage(), failing);
      EXPECT_EQ(messages.texts, std::vector<std::string>{"Write file error"}) << where;
      EXPECT_EQ(set.ctx->jobOpenFlag, 0) << where;
      EXPECT_EQ(set.job->outputSink, nullptr) << where;  // closed on the abort path
      std::remove(path.c_str());
      ExpectNothingLeft(where);
    }
    ExpectRecordsServeTheNextJob(set, true, where);
  }
}

TEST_F(SpoolFaults, EveryAllocationThatFailsIsAMemoryErrorOnTheAbortPath) {
  size_t allocations = 0;
  {
    MemorySpooler spooler;
    FailingMemory memory(SIZE_MAX);
    RecordSet set;
    auto record = SmallPlateSettings();
    SendChunk(set, spooler.printerHandle, SpoolPage(), record);
    ASSERT_EQ(set.ctx->lastError, 0);
    allocations = memory.sizes.size();
    // The spool buffer, the underlay, the working row and the planners' buffers at least.
    ASSERT_GE(allocations, 4u);
  }
  for (size_t n = 0; n < allocations; ++n) {
    const std::string where = "allocation " + std::to_string(n);
    RecordSet set;
    {
      MemorySpooler spooler;
      CapturedMessages messages;
      FailingMemory memory(SIZE_MAX);
      memory.failOnly = static_cast<int>(n);
      auto record = SmallPlateSettings();
      SendChunk(set, spooler.printerHandle, SpoolPage(), record);
      ASSERT_FALSE(messages.texts.empty()) << where << " of " << memory.sizes[n] << " bytes";
      EXPECT_EQ(messages.texts[0], "Memory error") << where;
      EXPECT_EQ(set.ctx->jobOpenFlag, 0) << where;
      EXPECT_TRUE(spooler.job.empty()) << where;
      EXPECT_EQ(memory.outstanding, 0) << where;
      ExpectNothingLeft(where);
    }
    ExpectRecordsServeTheNextJob(set, true, where);
  }
}

TEST_F(SpoolFaults, LayerReadsThatFailAreReadFileErrors) {
  for (int n : {0, 1, 5}) {
    const std::string where = "layer read " + std::to_string(n);
    RecordSet set;
    {
      FailingFiles files;
      MemorySpooler spooler;
      CapturedMessages messages;
      files.layerReadsBeforeFailure = n;
      auto record = SmallPlateSettings();
      SendChunk(set, spooler.printerHandle, SpoolPage(), record);
      ASSERT_FALSE(messages.texts.empty()) << where;
      EXPECT_EQ(messages.texts[0], "Read file error") << where;
      EXPECT_EQ(set.ctx->jobOpenFlag, 0) << where;
      EXPECT_TRUE(spooler.job.empty()) << where;
      ExpectNothingLeft(where);
    }
    ExpectRecordsServeTheNextJob(set, true, where);
  }
}

TEST_F(SpoolFaults, APrinterThatStopsTakingBytesAtAnyPointIsAPrinterError) {
  int calls = 0;
  {
    MemorySpooler spooler;
    RecordSet set;
    auto record = SmallPlateSettings();
    SendChunk(set, spooler.printerHandle, SpoolPage(), record);
    calls = spooler.writeCalls;
    ASSERT_GT(calls, 10);
  }
  for (int n = 0; n < calls; n += SweepStep(calls)) {
    const std::string where = "WritePrinter " + std::to_string(n);
    RecordSet set;
    {
      MemorySpooler spooler;
      CapturedMessages messages;
      FailingMemory memory(SIZE_MAX);
      spooler.writesBeforeFailure = n;
      auto record = SmallPlateSettings();
      SendChunk(set, spooler.printerHandle, SpoolPage(), record);
      ASSERT_FALSE(messages.texts.empty()) << where;
      EXPECT_EQ(messages.texts, std::vector<std::string>{"Printer error"}) << where;
      EXPECT_EQ(set.ctx->jobOpenFlag, 0) << where;
      EXPECT_TRUE(spooler.job.empty()) << where;  // the printer's job was aborted
      EXPECT_EQ(memory.outstanding, 0) << where;
      ExpectNothingLeft(where);
    }
    ExpectRecordsServeTheNextJob(set, true, where);
  }
}

// A series gathers its jobs in a scratch stream and sends them when it ends: a printer that stops
// taking bytes then, or a disk that fills up while the jobs are gathered, is reported once and the
// series is closed.
TEST_F(SpoolFaults, ASeriesThatCannotBeSentOrGatheredIsReportedAndClosed) {
  struct Case {
    const char* name;
    int printerWritesBeforeFailure;
    int diskWritesBeforeFull;
    std::vector<std::string> shown;
  };
  const std::string start = kSeriesStart;
  const std::string end = kSeriesEnd;
  // Each failure shows one message: with the disk full, the first job fails writing to the series
  // stream, the second writing its plot command file, and the series end writing its header.
  for (const Case& c :
       {Case{"printer", 1, -1, {"Printer error"}},
        Case{"disk", -1, 40, {"Write file error", "Temporary file error", "Write file error"}}}) {
    RecordSet set;
    {
      FailingFiles files;
      MemorySpooler spooler;
      CapturedMessages messages;
      FailingMemory memory(SIZE_MAX);
      auto record = SmallPlateSettings();
      SetU16(record, s::kFlagWord, s::kFlagSeries);
      spooler.writesBeforeFailure = c.printerWritesBeforeFailure;
      files.diskWritesBeforeFull = c.diskWritesBeforeFull;
      SendChunk(set, spooler.printerHandle, start, record);
      SendChunk(set, spooler.printerHandle, SpoolPage(), record);
      SendChunk(set, spooler.printerHandle, SpoolPage(), record);
      SendChunk(set, spooler.printerHandle, end, record);
      EXPECT_EQ(messages.texts, c.shown) << c.name;
      EXPECT_EQ(set.job->seriesFlag, 0) << c.name;
      EXPECT_EQ(set.job->outputSink, nullptr) << c.name;
      EXPECT_EQ(set.ctx->jobOpenFlag, 0) << c.name;
      EXPECT_EQ(memory.outstanding, 0) << c.name;
      ExpectNothingLeft(c.name);
    }
    ExpectRecordsServeTheNextJob(set, true, c.name);
  }
}

TEST_F(SpoolFaults, AnAbortThatFailsIsASpoolerErrorAndTheJobIsStillReleased) {
  RecordSet set;
  {
    MemorySpooler spooler;
    CapturedMessages messages;
    FailingMemory memory(SIZE_MAX);
    spooler.writesBeforeFailure = 3;
    spooler.failAbort = true;
    auto record = SmallPlateSettings();
    SendChunk(set, spooler.printerHandle, SpoolPage(), record);
    EXPECT_EQ(messages.texts, (std::vector<std::string>{"Printer error", "Spooler error"}));
    EXPECT_EQ(set.ctx->jobOpenFlag, 0);
    EXPECT_EQ(memory.outstanding, 0);
    ExpectNothingLeft("failed abort");
  }
  ExpectRecordsServeTheNextJob(set, true, "after a failed abort");
}

TEST_F(SpoolFaults, UnreadableOrUnwritablePrinterDataIsSilent) {
  // Printer data that changes the vector parameters, so that reading it shows in the stream.
  std::vector<uint8_t> value(36, 0);
  const int16_t params[] = {5, 5, 800, 300, 300, 120, 60};
  for (size_t i = 0; i < std::size(params); ++i) {
    value[4 + 2 * i] = static_cast<uint8_t>(params[i]);
    value[5 + 2 * i] = static_cast<uint8_t>(params[i] >> 8);
  }
  auto jobWith = [&](bool failReads, bool failWrites, std::vector<std::string>* shown,
                     std::map<std::string, std::vector<uint8_t>>* dataAfter) {
    MemorySpooler spooler;
    CapturedMessages messages;
    spooler.data["VectorSpeed"] = {1, 0, 0, 0};
    spooler.data["VectorSpeedValue"] = value;
    spooler.failDataReads = failReads;
    spooler.failDataWrites = failWrites;
    RecordSet set;
    auto record = SmallPlateSettings();
    SendChunk(set, spooler.printerHandle, SpoolPage(), record);
    *shown = messages.texts;
    *dataAfter = spooler.data;
    return spooler.job;
  };
  std::vector<std::string> shown;
  std::map<std::string, std::vector<uint8_t>> data;
  const auto withData = jobWith(false, false, &shown, &data);
  EXPECT_TRUE(shown.empty());
  EXPECT_NE(withData, SpoolReference());  // the printer's parameters were used
  EXPECT_EQ(data.count("TempsEstime"), 1u);

  const auto unreadable = jobWith(true, false, &shown, &data);
  EXPECT_TRUE(shown.empty());
  EXPECT_EQ(unreadable, SpoolReference());  // the built-in tables, as without printer data

  const auto unwritable = jobWith(false, true, &shown, &data);
  EXPECT_TRUE(shown.empty());
  EXPECT_EQ(unwritable, withData);
  EXPECT_EQ(data.count("TempsEstime"), 0u);
  ExpectNothingLeft("printer data");
}

TEST_F(RenderingFaults, ADiskThatFillsUpAtAnyWriteEndsTheCallWithItsMessage) {
  const std::vector<uint8_t>& reference = RenderingReference();
  int writes = 0;
  {
    FailingFiles files;
    RecordSet set;
    ASSERT_EQ(RunRenderingJob(set, SmallPlateSettings()).stream, reference);
    writes = files.diskWrites;
  }
  for (int n = 0; n < writes; n += SweepStep(writes)) {
    const std::string where = "disk full at write " + std::to_string(n);
    RecordSet set;
    {
      FailingFiles files;
      CapturedMessages messages;
      FailingMemory memory(SIZE_MAX);
      files.diskWritesBeforeFull = n;
      const RenderingResult result = RunRenderingJob(set, SmallPlateSettings());
      ASSERT_GT(files.diskWriteTargets.size(), static_cast<size_t>(n)) << where;
      // Layer files and the output sink (the first stream) report a write error, the plot command
      // file and the vector pass's scratch files a temporary file error.
      const int target = files.diskWriteTargets[static_cast<size_t>(n)];
      ASSERT_FALSE(messages.texts.empty()) << where;
      EXPECT_EQ(messages.texts[0], target <= 0 ? "Write file error" : "Temporary file error") << where;
      EXPECT_NE(result.stream, RenderingReference()) << where;  // never a complete job
      EXPECT_EQ(result.cleanResult, 0) << where;
      EXPECT_EQ(memory.outstanding, 0) << where;
      ExpectNothingLeft(where);
    }
    ExpectRecordsServeTheNextJob(set, false, where);
  }
}

TEST_F(RenderingFaults, EveryAllocationThatFailsIsAMemoryError) {
  const std::vector<uint8_t>& reference = RenderingReference();
  size_t allocations = 0;
  {
    FailingMemory memory(SIZE_MAX);
    RecordSet set;
    ASSERT_EQ(RunRenderingJob(set, SmallPlateSettings()).stream, reference);
    allocations = memory.sizes.size();
    ASSERT_GE(allocations, 4u);
  }
  for (size_t n = 0; n < allocations; ++n) {
    const std::string where = "allocation " + std::to_string(n);
    RecordSet set;
    {
      CapturedMessages messages;
      FailingMemory memory(SIZE_MAX);
      memory.failOnly = static_cast<int>(n);
      const RenderingResult result = RunRenderingJob(set, SmallPlateSettings());
      ASSERT_FALSE(messages.texts.empty()) << where << " of " << memory.sizes[n] << " bytes";
      EXPECT_EQ(messages.texts[0], "Memory error") << where;
      EXPECT_NE(result.stream, RenderingReference()) << where;
      EXPECT_EQ(memory.outstanding, 0) << where;
      ExpectNothingLeft(where);
    }
    ExpectRecordsServeTheNextJob(set, false, where);
  }
}

TEST_F(RenderingFaults, LayerReadsThatFailAreReadFileErrors) {
  for (int n : {0, 2, 30}) {
    const std::string where = "layer read " + std::to_string(n);
    RecordSet set;
    {
      FailingFiles files;
      CapturedMessages messages;
      files.layerReadsBeforeFailure = n;
      const RenderingResult result = RunRenderingJob(set, SmallPlateSettings());
      ASSERT_FALSE(messages.texts.empty()) << where;
      EXPECT_EQ(messages.texts[0], "Read file error") << where;
      EXPECT_NE(result.stream, RenderingReference()) << where;
      ExpectNothingLeft(where);
    }
    ExpectRecordsServeTheNextJob(set, false, where);
  }
}

}  // namespace
}  // namespace ostrelin::test
