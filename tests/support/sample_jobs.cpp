// Small complete jobs for both roads, and the fixture that checks what they leave behind.
#include "support/sample_jobs.h"

#include <algorithm>

#include "engine/settings_layout.h"
#include "ostrelin/ostrelin.h"
#include "support/fakes.h"

namespace ostrelin::test {

namespace s = settings;

std::vector<uint8_t> SmallPlateSettings() {
  auto record = DefaultSettings();
  SetU32(record, s::kPlateWidthUm, 80000);
  SetU32(record, s::kPlateHeightUm, 50000);
  for (size_t offset : {s::kEngravingResX, s::kEngravingResY, s::kEngineRes}) SetU16(record, offset, 300);
  SetU32(record, s::kVectorRes, 300);
  for (int c = 0; c < 8; ++c) SetU16(record, s::ClassBlock(c) + s::kClassColourMode, 4);
  return record;
}

RenderingResult RunRenderingJob(RecordSet& set, std::vector<uint8_t> settings, Drawing drawing) {
  OstrelinContext* ctx = set.ctx;
  OstrelinSpool* spool = set.spool;
  OstrelinJob* job = set.job;
  ostrelinInit(ctx, spool, job, settings.data());
  if (drawing == Drawing::kBitmapsAndStrokes) {
    std::vector<uint8_t> bits(16);
    ostrelinGnfToHmapBitInit(ctx, spool, job, 5.0, 5.0, 125, 1);
    for (int row = 0; row < 24; ++row) {
      for (size_t i = 0; i < bits.size(); ++i) bits[i] = static_cast<uint8_t>(0x5A ^ (row * 7 + i * 13));
      ostrelinGnfToHmapBit(ctx, spool, job, bits.data());
    }
    std::vector<uint8_t> rgb(3 * 48);
    ostrelinGnfToHmapOctetInit(ctx, spool, job, 20.0, 12.5, 48);
    for (int row = 0; row < 16; ++row) {
      for (size_t i = 0; i < rgb.size(); ++i) rgb[i] = static_cast<uint8_t>(row * 16 + i * 5);
      ostrelinGnfToHmapOctet(ctx, spool, job, rgb.data());
    }
  }
  ostrelinGnfToTdSetIndexColor(ctx, spool, job, 0);
  ostrelinGnfToTdPu2dA(ctx, spool, job, 100, 100);
  ostrelinGnfToTdPd2dA(ctx, spool, job, 700, 100);
  ostrelinGnfToTdPd2dA(ctx, spool, job, 700, 450);
  ostrelinGnfToTdPd2dA(ctx, spool, job, 100, 100);
  ostrelinGnfToTdSetIndexColor(ctx, spool, job, 2);
  ostrelinGnfToTdPu2dA(ctx, spool, job, 50, 500);
  for (int i = 1; i <= 12; ++i) ostrelinGnfToTdPd2dA(ctx, spool, job, 50.0f + 40 * i, 500.0f + (i % 2) * 30);
  ostrelinGnfToTdEof(ctx, spool, job);
  ostrelinDoBinary(ctx, spool, job);
  RenderingResult result;
  result.stream = ReadBack(set);
  result.cleanResult = ostrelinClean(ctx, spool, job);
  return result;
}

std::string SpoolPage(Drawing drawing) {
  std::string page = "IN;SP1;PA100,100;PD3000,100,3000,1800,100,100;SP2;LT2,4;PU0,1000;PD3000,1000;PU;LT;";
  if (drawing == Drawing::kBitmapsAndStrokes) {
    page += "\x1b%1A\x1b*r128S\x1b*b0M";
    for (int row = 0; row < 24; ++row) {
      page += "\x1b*b16W";
      for (int i = 0; i < 16; ++i) page += static_cast<char>(0x3C ^ (row * 11 + i * 7));
    }
    page += "\x1b%1B";
  }
  return page + "SP1;PU200,1500;PD2500,1500;PG;";
}

void SendChunk(RecordSet& set, void* printer, const std::string& text, std::vector<uint8_t>& settings) {
  debut(printer, reinterpret_cast<const uint8_t*>(text.data()), static_cast<uint32_t>(text.size()),
        settings.data(), set.spool, set.ctx, set.job);
}

bool EndsWithJobEnd(const std::vector<uint8_t>& stream) {
  const std::vector<uint8_t> end = Record("JF", 0);
  return stream.size() >= end.size() && std::equal(end.begin(), end.end(), stream.end() - end.size());
}

void JobTest::SetUp() {
  ScratchDirTest::SetUp();
  // The healthy jobs first, before any test installs a fault.
  RecordSet rendering;
  renderingReference_ = RunRenderingJob(rendering, SmallPlateSettings()).stream;
  RecordSet spool;
  MemorySpooler spooler;
  auto record = SmallPlateSettings();
  SendChunk(spool, spooler.printerHandle, SpoolPage(), record);
  spoolReference_ = spooler.job;
  ASSERT_TRUE(EndsWithJobEnd(renderingReference_));
  ASSERT_TRUE(EndsWithJobEnd(spoolReference_));
  descriptors_ = OpenDescriptors();
}

void JobTest::ExpectNothingLeft(const std::string& where) {
  EXPECT_TRUE(LeftoverFiles().empty()) << where;
  EXPECT_EQ(OpenDescriptors(), descriptors_) << where;
}

void JobTest::ExpectRecordsServeTheNextJob(RecordSet& set, bool spoolRoad, const std::string& where) {
  CapturedMessages messages;
  if (spoolRoad) {
    MemorySpooler spooler;
    auto record = SmallPlateSettings();
    SendChunk(set, spooler.printerHandle, SpoolPage(), record);
    EXPECT_EQ(spooler.job, spoolReference_) << where;
  } else {
    EXPECT_EQ(RunRenderingJob(set, SmallPlateSettings()).stream, renderingReference_) << where;
  }
  EXPECT_TRUE(messages.texts.empty()) << where << ": " << messages.texts[0];
  ExpectNothingLeft(where + ", next job");
}

}  // namespace ostrelin::test
