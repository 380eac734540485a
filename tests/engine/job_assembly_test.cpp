// Whole jobs: the job header, the closing records, the estimated time and the printer data.
#include <gtest/gtest.h>

#include <cstring>

#include "engine/job_assembly.h"
#include "engine/scratch.h"
#include "engine/settings.h"
#include "engine/settings_layout.h"
#include "ostrelin/ostrelin.h"
#include "support/fakes.h"
#include "support/test_support.h"

namespace ostrelin::test {
namespace {

namespace s = settings;

std::vector<uint8_t> ClosingRecords(uint32_t seconds) {
  std::vector<uint8_t> bytes;
  for (auto r : {Record("PU", 0), Record("AI", 0), Record("OP", 0), Record("TE", static_cast<uint16_t>(seconds >> 16)),
                 Record("TE", static_cast<uint16_t>(seconds)), Record("JF", 0)}) {
    bytes.insert(bytes.end(), r.begin(), r.end());
  }
  return bytes;
}

int32_t BigEndian32(const std::vector<uint8_t>& bytes, size_t at) {
  return static_cast<int32_t>((uint32_t{bytes[at]} << 24) | (uint32_t{bytes[at + 1]} << 16) |
                              (uint32_t{bytes[at + 2]} << 8) | bytes[at + 3]);
}

class JobAssembly : public ScratchDirTest {};

TEST_F(JobAssembly, AnEmptyJobIsTheHeaderAndExactly36ClosingBytes) {
  RecordSet set;
  auto record = DefaultSettings();
  std::memcpy(record.data() + s::kIdentification, "0123456789abcdef", 16);
  ostrelinInit(set.ctx, set.spool, set.job, record.data());
  ostrelinDoBinary(set.ctx, set.spool, set.job);
  const auto bytes = ReadBack(set);
  ASSERT_EQ(bytes.size(), 8u + 192u + 36u);
  EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + 8), "!LA 192;");
  EXPECT_EQ(std::string(bytes.begin() + 8, bytes.begin() + 24), "0123456789abcdef");
  EXPECT_EQ(BigEndian32(bytes, 8 + 56), 60000);  // plate width, hundredths of a millimetre
  EXPECT_EQ(BigEndian32(bytes, 8 + 184), -1);
  EXPECT_EQ(std::vector<uint8_t>(bytes.begin() + 200, bytes.end()), ClosingRecords(0));
  EXPECT_EQ(ostrelinClean(set.ctx, set.spool, set.job), 0);
}

TEST_F(JobAssembly, OrientationsAboveThreeExchangePlateAndResolutionsInTheWrittenCopy) {
  for (uint16_t orientation : {3, 4, 7}) {
    RecordSet set;
    auto record = DefaultSettings();
    SetU32(record, s::kPlateWidthUm, 300000);
    SetU32(record, s::kPlateHeightUm, 200000);
    SetU16(record, s::kEngravingResX, 500);
    SetU16(record, s::kEngravingResY, 1000);
    SetU16(record, s::kOrientation, orientation);
    ostrelinInit(set.ctx, set.spool, set.job, record.data());
    ostrelinDoBinary(set.ctx, set.spool, set.job);
    const auto bytes = ReadBack(set);
    ASSERT_EQ(bytes.size(), 236u);
    const bool swapped = orientation > 3;
    EXPECT_EQ(BigEndian32(bytes, 8 + 56), swapped ? 20000 : 30000);
    EXPECT_EQ(BigEndian32(bytes, 8 + 60), swapped ? 30000 : 20000);
    EXPECT_EQ(BigEndian32(bytes, 8 + 40), swapped ? 1000 : 500);
    EXPECT_EQ(BigEndian32(bytes, 8 + 44), swapped ? 500 : 1000);
    EXPECT_EQ(HeaderWord(*set.ctx, 56), 30000);  // the context's block keeps its order
    ostrelinClean(set.ctx, set.spool, set.job);
  }
}

TEST_F(JobAssembly, EstimatedTimeIsSentTruncatedInTwoWords) {
  struct Case {
    double seconds;
    uint32_t sent;
  };
  for (const Case& c : {Case{70000.0, 70000}, Case{100000.9, 100000}, Case{0.99, 0}, Case{-3.0, 0},
                        Case{1e12, 0xFFFFFFFFu}}) {
    EXPECT_EQ(EstimatedSeconds(c.seconds), c.sent) << c.seconds;
  }
  const auto closing = ClosingRecords(EstimatedSeconds(100000.9));
  EXPECT_EQ(std::vector<uint8_t>(closing.begin() + 18, closing.begin() + 30),
            (std::vector<uint8_t>{0xFF, 0xFD, 'T', 'E', 0x00, 0x01, 0xFF, 0xFD, 'T', 'E', 0x86, 0xA0}));
}

TEST_F(JobAssembly, TheRasterPlateExtentCountsFromZeroAndGrowsWithUsedRows) {
  RecordSet set;
  auto record = DefaultSettings();
  SetU32(record, s::kPlateWidthUm, 300000);
  SetU32(record, s::kPlateHeightUm, 200000);
  SetU16(record, s::kEngineRes, 254);
  ostrelinInit(set.ctx, set.spool, set.job, record.data());
  ostrelinDoBinary(set.ctx, set.spool, set.job);
  EXPECT_EQ(set.ctx->plateExtentWidth, 2999);
  EXPECT_EQ(set.ctx->plateExtentHeight, 1999);
  ostrelinClean(set.ctx, set.spool, set.job);

  RecordSet wide;
  ostrelinInit(wide.ctx, wide.spool, wide.job, record.data());
  wide.ctx->usedWidth = 4000;
  ostrelinDoBinary(wide.ctx, wide.spool, wide.job);
  EXPECT_EQ(wide.ctx->plateExtentWidth, 4000);
  EXPECT_EQ(wide.ctx->plateExtentHeight, 1999);
  ostrelinClean(wide.ctx, wide.spool, wide.job);
}

TEST_F(JobAssembly, LayersOfClassesThatAreNotRasterEngravedAreClosedWithoutOutput) {
  RecordSet set;
  auto record = DefaultSettings();
  for (int c = 0; c < 8; ++c) SetU16(record, s::ClassBlock(c) + s::kClassColourMode, static_cast<uint16_t>(c % 4 == 0 ? 0 : 2));
  ostrelinInit(set.ctx, set.spool, set.job, record.data());
  set.job->colourLayers[2] = CreateLayerFile(*set.ctx);
  set.job->colourLayers[6] = CreateLayerFile(*set.ctx);
  ostrelinDoBinary(set.ctx, set.spool, set.job);
  EXPECT_EQ(set.job->colourLayers[2], nullptr);
  EXPECT_EQ(set.job->colourLayers[6], nullptr);
  EXPECT_EQ(ReadBack(set).size(), 236u);
  ostrelinClean(set.ctx, set.spool, set.job);
}

// A job assembled straight to the printer handle stores its time as "TempsEstime".
class PrinterJob : public JobAssembly {
 protected:
  void Assemble(uint16_t flags, double seconds, int machineKind = 1) {
    auto record = DefaultSettings();
    SetU16(record, s::kFlagWord, flags);
    LoadSettings(*set_.ctx, *set_.job, record.data(), spooler_.printerHandle);
    set_.job->machineKind = machineKind;
    set_.job->outputSink = spooler_.printerHandle;
    set_.job->estimatedTime = seconds;
    WriteJobHeader(*set_.ctx, *set_.spool, *set_.job);
    AssembleJob(*set_.ctx, *set_.spool, *set_.job);
  }
  MemorySpooler spooler_;
  RecordSet set_;
};

TEST_F(PrinterJob, TheTimeIsStoredAsADword) {
  Assemble(0, 70000.5);
  EXPECT_EQ(spooler_.job.size(), 236u);
  EXPECT_EQ(spooler_.data["TempsEstime"], (std::vector<uint8_t>{0x70, 0x11, 0x01, 0x00}));
  EXPECT_EQ(spooler_.types["TempsEstime"], 4u);
}

TEST_F(PrinterJob, EstimateOnlyWritesNothingButStillStoresTheTime) {
  Assemble(s::kFlagEstimateOnly, 42.0);
  EXPECT_TRUE(spooler_.job.empty());
  EXPECT_EQ(spooler_.data["TempsEstime"], (std::vector<uint8_t>{42, 0, 0, 0}));
}

TEST_F(PrinterJob, AFileHandleSinkStoresNoPrinterData) {
  FailingFiles files;
  Assemble(0, 42.0, 5);
  EXPECT_EQ(files.fileHandleBytes.size(), 236u);
  EXPECT_EQ(spooler_.data.count("TempsEstime"), 0u);
}

}  // namespace
}  // namespace ostrelin::test
