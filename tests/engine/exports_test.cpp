// The rendering-road exports: calling order, reading the stream back, failures and clean-up.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstring>

#include "engine/settings_layout.h"
#include "ostrelin/ostrelin.h"
#include "support/fakes.h"
#include "support/test_support.h"

namespace ostrelin::test {
namespace {

class Exports : public ScratchDirTest {};

TEST_F(Exports, ReadingStartsOnlyAfterTheSizeIsAsked) {
  RecordSet set;
  auto record = DefaultSettings();
  ostrelinInit(set.ctx, set.spool, set.job, record.data());
  ostrelinDoBinary(set.ctx, set.spool, set.job);
  uint8_t buffer[300];
  EXPECT_EQ(ostrelinGetBinary(set.ctx, set.spool, set.job, buffer, sizeof buffer), 0);
  EXPECT_EQ(ostrelinGetBinarySize(set.ctx, set.spool, set.job), 236);
  EXPECT_EQ(ostrelinGetBinary(set.ctx, set.spool, set.job, buffer, 200), 200);
  EXPECT_EQ(ostrelinGetBinary(set.ctx, set.spool, set.job, buffer, sizeof buffer), 36);
  EXPECT_EQ(ostrelinGetBinary(set.ctx, set.spool, set.job, buffer, sizeof buffer), 0);
  EXPECT_EQ(ostrelinClean(set.ctx, set.spool, set.job), 0);
}

TEST_F(Exports, RecordsServeOneJobAfterAnother) {
  RecordSet set;
  auto record = DefaultSettings();
  for (int round = 0; round < 3; ++round) {
    ostrelinInit(set.ctx, set.spool, set.job, record.data());
    EXPECT_EQ(set.job->toScratch, 1);
    EXPECT_EQ(set.job->renderingRoad, 1);
    ostrelinDoBinary(set.ctx, set.spool, set.job);
    EXPECT_EQ(ReadBack(set).size(), 236u);
    EXPECT_EQ(ostrelinClean(set.ctx, set.spool, set.job), 0);
    EXPECT_EQ(set.ctx->plotFile, nullptr);
    EXPECT_EQ(set.job->outputSink, nullptr);
    EXPECT_EQ(set.ctx->underlay, nullptr);
  }
}

TEST_F(Exports, ASecondInitWithoutCleanReleasesTheFirstJob) {
  RecordSet set;
  auto record = DefaultSettings();
  ostrelinInit(set.ctx, set.spool, set.job, record.data());
  ostrelinGnfToTdPu2dA(set.ctx, set.spool, set.job, 1, 1);
  ostrelinInit(set.ctx, set.spool, set.job, record.data());
  ostrelinDoBinary(set.ctx, set.spool, set.job);
  EXPECT_EQ(ReadBack(set).size(), 236u);  // the stroke of the abandoned job is gone with it
  EXPECT_EQ(ostrelinClean(set.ctx, set.spool, set.job), 0);
}

TEST_F(Exports, InitFailuresLeaveCleanRecords) {
  struct Case {
    int streamsThatOpen;
    bool sinkOpen;
  };
  for (const Case& c : {Case{0, false}, Case{1, true}}) {
    FailingFiles files;
    CapturedMessages messages;
    RecordSet set;
    auto record = DefaultSettings();
    files.failNamed = true;
    files.streamsBeforeFailure = c.streamsThatOpen;
    ostrelinInit(set.ctx, set.spool, set.job, record.data());
    EXPECT_EQ(messages.texts, (std::vector<std::string>{"Temporary file error", "Create file error"}));
    EXPECT_EQ(set.job->outputSink != nullptr, c.sinkOpen);
    EXPECT_EQ(set.job->toScratch, c.sinkOpen ? 1 : 0);
    EXPECT_EQ(set.ctx->plotFile, nullptr);
    EXPECT_NE(set.ctx->lastError, 0);
    ostrelinDoBinary(set.ctx, set.spool, set.job);  // must not crash; nothing to assemble into
    EXPECT_EQ(ostrelinClean(set.ctx, set.spool, set.job), 0);
  }
}

TEST_F(Exports, BadSettingsEndInitWithTheMessageAndNothingOpen) {
  CapturedMessages messages;
  RecordSet set;
  auto record = DefaultSettings();
  SetU16(record, settings::kEngineRes, 0);
  ostrelinInit(set.ctx, set.spool, set.job, record.data());
  EXPECT_EQ(messages.texts, std::vector<std::string>{"DPI error"});
  EXPECT_EQ(set.ctx->lastError, 3 + 1);
  EXPECT_EQ(set.job->outputSink, nullptr);
  EXPECT_EQ(set.ctx->underlay, nullptr);
  EXPECT_EQ(ostrelinClean(set.ctx, set.spool, set.job), 0);
}

TEST_F(Exports, StrokesAndBitmapRowsMakeACompleteJob) {
  CapturedMessages messages;
  RecordSet set;
  auto record = DefaultSettings();
  SetU16(record, settings::ClassBlock(2) + settings::kClassColourMode, 2);  // class 2 cuts vectors
  ostrelinInit(set.ctx, set.spool, set.job, record.data());
  const uint8_t row[2] = {0xFF, 0xF0};
  ostrelinGnfToHmapBitInit(set.ctx, set.spool, set.job, 10.0, 10.0, 12, 1);
  for (int i = 0; i < 3; ++i) ostrelinGnfToHmapBit(set.ctx, set.spool, set.job, row);
  ostrelinGnfToTdSetIndexColor(set.ctx, set.spool, set.job, 2);
  ostrelinGnfToTdPu2dA(set.ctx, set.spool, set.job, 10, 10);
  ostrelinGnfToTdPd2dA(set.ctx, set.spool, set.job, 1000, 10);
  ostrelinGnfToTdEof(set.ctx, set.spool, set.job);
  ostrelinDoBinary(set.ctx, set.spool, set.job);
  EXPECT_TRUE(messages.texts.empty());
  EXPECT_EQ(set.ctx->lastError, 0);
  const auto bytes = ReadBack(set);
  const std::vector<uint8_t> rowRecord = {0xFF, 0xFD, 'C', '1'};
  EXPECT_NE(Find(bytes, rowRecord), std::string::npos);  // a raster row of class 1
  EXPECT_NE(Find(bytes, Record("PD", 0)), std::string::npos);  // the stroke, pen down
  EXPECT_EQ(Find(bytes, Record("JF", 0)), bytes.size() - 6);
  EXPECT_EQ(ostrelinClean(set.ctx, set.spool, set.job), 0);
}

TEST(ExportsWithoutRecords, NullRecordsAreRefusedWithBadPointer) {
  CapturedMessages messages;
  RecordSet set;
  auto record = DefaultSettings();
  ostrelinInit(nullptr, set.spool, set.job, record.data());
  ostrelinInit(set.ctx, set.spool, set.job, nullptr);
  ostrelinDoBinary(set.ctx, nullptr, set.job);
  EXPECT_EQ(ostrelinGetBinarySize(set.ctx, set.spool, nullptr), 0);
  EXPECT_EQ(ostrelinClean(nullptr, nullptr, nullptr), -1);
  EXPECT_EQ(messages.texts.size(), 5u);
  for (const auto& text : messages.texts) EXPECT_EQ(text, "Bad pointer");
  RechercheTailleDePiPgPo(nullptr, nullptr, nullptr);
}

TEST(SharedLibrary, ExportsTheEntryPointsAndReportsRecordSizes) {
  void* library = dlopen(OSTRELIN_SHARED_LIBRARY, RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(library, nullptr) << dlerror();
  for (const char* name : {"ostrelinInit", "ostrelinGnfToTdPu2dA", "ostrelinGnfToTdPd2dA",
                           "ostrelinGnfToTdSetIndexColor", "ostrelinGnfToTdEof", "ostrelinDoBinary",
                           "ostrelinGetBinarySize", "ostrelinGetBinary", "ostrelinClean", "RechercheTailleDePiPgPo"}) {
    EXPECT_NE(dlsym(library, name), nullptr) << name;
  }
  EXPECT_EQ(dlsym(library, "_ZN8ostrelin4FailERNS_15OstrelinContextENS_9ErrorKindE"), nullptr);
  using Sizes = void (*)(int32_t*, int32_t*, int32_t*);
  auto sizes = reinterpret_cast<Sizes>(dlsym(library, "RechercheTailleDePiPgPo"));
  ASSERT_NE(sizes, nullptr);
  int32_t spool = 0, context = 0, job = 0;
  sizes(&spool, &context, &job);
  EXPECT_EQ(spool, static_cast<int32_t>(sizeof(OstrelinSpool)));
  EXPECT_EQ(context, static_cast<int32_t>(sizeof(OstrelinContext)));
  EXPECT_EQ(job, static_cast<int32_t>(sizeof(OstrelinJob)));
  EXPECT_GT(job, 8000000);
  EXPECT_GT(spool, 196000);
  dlclose(library);
}

}  // namespace
}  // namespace ostrelin::test
