// Faults injected through the platform layer: every failure shows its message, ends the job cleanly
// (the abort path on the spool road, the end of the call on the rendering road), and leaves no scratch
// file and no engine memory behind.
#include <gtest/gtest.h>

#include <string>

#include "engine/settings_layout.h"
#include "engine/spool_intake.h"
#include "ostrelin/ostrelin.h"
#include "support/fakes.h"
#include "support/test_support.h"

namespace ostrelin::test {
namespace {

namespace s = settings;

// A page with strokes in two classes and a dashed line, so that the plot command file, the colour
// scratch files and the planners all see work.
const std::string kPage = "IN;SP1;PU0,0;PD4000,0,4000,4000;SP2;LT2,4;PU0,2000;PD4000,2000;PU;PG;";

std::vector<uint8_t> VectorSettings() {
  auto record = DefaultSettings();
  for (int c = 0; c < 8; ++c) SetU16(record, s::ClassBlock(c) + s::kClassColourMode, 4);
  return record;
}

class SpoolFaults : public ScratchDirTest {};

TEST_F(SpoolFaults, StreamWritesFailingAtEveryPointAbortTheJobCleanly) {
  // Count the stream writes of a healthy job first, then fail at each of them in turn.
  int healthyWrites = 0;
  {
    FailingFiles files;
    MemorySpooler spooler;
    RecordSet set;
    auto record = VectorSettings();
    files.streamWritesBeforeFailure = 1000000;
    debut(spooler.printerHandle, reinterpret_cast<const uint8_t*>(kPage.data()), static_cast<uint32_t>(kPage.size()),
          record.data(), set.spool, set.ctx, set.job);
    healthyWrites = 1000000 - files.streamWritesBeforeFailure;
    ASSERT_EQ(set.ctx->lastError, 0);
  }
  ASSERT_GT(healthyWrites, 3);
  for (int n = 0; n < healthyWrites; n += std::max(1, healthyWrites / 40)) {
    FailingFiles files;
    MemorySpooler spooler;
    CapturedMessages messages;
    FailingMemory memory(SIZE_MAX);
    RecordSet set;
    auto record = VectorSettings();
    files.streamWritesBeforeFailure = n;
    debut(spooler.printerHandle, reinterpret_cast<const uint8_t*>(kPage.data()), static_cast<uint32_t>(kPage.size()),
          record.data(), set.spool, set.ctx, set.job);
    EXPECT_NE(set.ctx->lastError, 0) << "write " << n;
    ASSERT_FALSE(messages.texts.empty()) << "write " << n;
    EXPECT_EQ(messages.texts[0], "Temporary file error") << "write " << n;
    EXPECT_EQ(set.ctx->jobOpenFlag, 0) << "write " << n;
    EXPECT_EQ(memory.outstanding, 0) << "write " << n;
    EXPECT_TRUE(spooler.job.empty()) << "write " << n;  // the printer's job was aborted
    EXPECT_TRUE(LeftoverFiles().empty()) << "write " << n;
  }
}

TEST_F(SpoolFaults, APrinterThatStopsTakingBytesIsAPrinterError) {
  FailingFiles files;
  MemorySpooler spooler;
  CapturedMessages messages;
  RecordSet set;
  auto record = VectorSettings();
  spooler.failWrites = true;
  debut(spooler.printerHandle, reinterpret_cast<const uint8_t*>(kPage.data()), static_cast<uint32_t>(kPage.size()),
        record.data(), set.spool, set.ctx, set.job);
  ASSERT_FALSE(messages.texts.empty());
  EXPECT_EQ(messages.texts[0], "Printer error");
  EXPECT_EQ(set.ctx->jobOpenFlag, 0);
  // The next job on the same records starts afresh once the printer works again.
  spooler.failWrites = false;
  messages.texts.clear();
  debut(spooler.printerHandle, reinterpret_cast<const uint8_t*>(kPage.data()), static_cast<uint32_t>(kPage.size()),
        record.data(), set.spool, set.ctx, set.job);
  EXPECT_TRUE(messages.texts.empty());
  EXPECT_EQ(set.ctx->lastError, 0);
}

TEST_F(SpoolFaults, LargeAllocationsThatFailAreMemoryErrors) {
  // The spool buffer, then every other block of a megabyte or more.
  for (size_t limit : {size_t{10001000}, size_t{1000000}}) {
    FailingFiles files;
    MemorySpooler spooler;
    CapturedMessages messages;
    FailingMemory memory(limit);
    RecordSet set;
    auto record = VectorSettings();
    debut(spooler.printerHandle, reinterpret_cast<const uint8_t*>(kPage.data()), static_cast<uint32_t>(kPage.size()),
          record.data(), set.spool, set.ctx, set.job);
    ASSERT_FALSE(messages.texts.empty()) << limit;
    EXPECT_EQ(messages.texts[0], "Memory error") << limit;
    EXPECT_EQ(set.ctx->jobOpenFlag, 0);
    EXPECT_EQ(memory.outstanding, 0) << limit;
    EXPECT_TRUE(LeftoverFiles().empty());
  }
}

class RenderingFaults : public ScratchDirTest {};

TEST_F(RenderingFaults, ALayerDiskThatFillsUpEndsTheJobWithoutLeftovers) {
  for (int n : {0, 1, 3}) {
    FailingFiles files;
    CapturedMessages messages;
    RecordSet set;
    auto record = DefaultSettings();
    ostrelinInit(set.ctx, set.spool, set.job, record.data());
    files.layerWritesBeforeFailure = n;
    std::vector<uint8_t> row(64, 0xA5);
    ostrelinGnfToHmapBitInit(set.ctx, set.spool, set.job, 5.0, 5.0, 512, 1);
    for (int i = 0; i < 40; ++i) ostrelinGnfToHmapBit(set.ctx, set.spool, set.job, row.data());
    ostrelinDoBinary(set.ctx, set.spool, set.job);
    EXPECT_NE(set.ctx->lastError, 0) << n;
    ASSERT_FALSE(messages.texts.empty()) << n;
    EXPECT_EQ(messages.texts[0], "Write file error") << n;
    EXPECT_EQ(ostrelinClean(set.ctx, set.spool, set.job), 0);
    EXPECT_TRUE(LeftoverFiles().empty()) << n;
  }
}

}  // namespace
}  // namespace ostrelin::test
