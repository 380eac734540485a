// The spool road: chunks, page ends, series, output to a file, capture and replay, the abort path.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <string>

#include "engine/hpgl/plot_file.h"
#include "engine/scratch.h"
#include "engine/settings_layout.h"
#include "engine/spool_intake.h"
#include "ostrelin/ostrelin.h"
#include "support/fakes.h"
#include "support/test_support.h"

namespace ostrelin::test {
namespace {

namespace s = settings;

const std::string kPage = "IN;SP1;PU0,0;PD1000,0,1000,1000;PU;PG;";

std::vector<uint8_t> Bytes(const std::string& text) { return std::vector<uint8_t>(text.begin(), text.end()); }

std::vector<uint8_t> Closing() {
  std::vector<uint8_t> bytes = Record("AI", 0);
  const auto jf = Record("JF", 0);
  bytes.insert(bytes.end(), jf.begin(), jf.end());
  return bytes;
}

bool EndsWith(const std::vector<uint8_t>& bytes, const std::vector<uint8_t>& tail) {
  return bytes.size() >= tail.size() && std::equal(tail.begin(), tail.end(), bytes.end() - tail.size());
}

class SpoolRoad : public ScratchDirTest {
 protected:
  void SetUp() override {
    ScratchDirTest::SetUp();
    settings_ = DefaultSettings();
    for (int c = 0; c < 8; ++c) SetU16(settings_, s::ClassBlock(c) + s::kClassColourMode, 4);
  }
  void TearDown() override {
    if (set_.ctx->jobOpenFlag != 0) AbortSpoolJob(*set_.ctx, *set_.spool, *set_.job, spooler_.printerHandle);
    ScratchDirTest::TearDown();
  }
  void Send(const std::string& text) { Send(Bytes(text)); }
  void Send(const std::vector<uint8_t>& chunk) {
    debut(spooler_.printerHandle, chunk.data(), static_cast<uint32_t>(chunk.size()), settings_.data(), set_.spool,
          set_.ctx, set_.job);
  }

  MemorySpooler spooler_;
  CapturedMessages messages_;
  RecordSet set_;
  std::vector<uint8_t> settings_;
};

TEST_F(SpoolRoad, APageEndAtTheEndOfAChunkClosesTheJobInThatCall) {
  Send(kPage);
  EXPECT_EQ(set_.ctx->jobOpenFlag, 0);
  EXPECT_TRUE(messages_.texts.empty());
  EXPECT_EQ(std::string(spooler_.job.begin(), spooler_.job.begin() + 8), "!LA 192;");
  EXPECT_NE(Find(spooler_.job, Record("PD", 0)), std::string::npos);
  EXPECT_TRUE(EndsWith(spooler_.job, Record("JF", 0)));
  EXPECT_EQ(spooler_.data.count("TempsEstime"), 1u);
  EXPECT_EQ(set_.spool->spoolBuffer, nullptr);
  EXPECT_EQ(set_.ctx->plotFile, nullptr);
}

TEST_F(SpoolRoad, APageEndFollowedByALineBreakWaitsForMore) {
  Send(kPage + "\n");
  EXPECT_EQ(set_.ctx->jobOpenFlag, 1);
  EXPECT_TRUE(spooler_.job.empty());
  Send("PG;");
  EXPECT_EQ(set_.ctx->jobOpenFlag, 0);
  EXPECT_TRUE(EndsWith(spooler_.job, Record("JF", 0)));
}

TEST_F(SpoolRoad, LowerCasePageEndAndPageSplitAcrossChunks) {
  Send("in;sp1;pu0,0;");
  Send("pd500,500;");
  EXPECT_TRUE(spooler_.job.empty());
  Send("pu;pg;");
  EXPECT_EQ(set_.ctx->jobOpenFlag, 0);
  EXPECT_NE(Find(spooler_.job, Record("PD", 0)), std::string::npos);
}

TEST_F(SpoolRoad, TwoPagesInOneBufferMakeOneJob) {
  Send(kPage + kPage);
  EXPECT_EQ(set_.ctx->jobOpenFlag, 0);
  size_t headers = 0;
  for (size_t at = Find(spooler_.job, Bytes("!LA 192;")); at != std::string::npos;
       at = Find(spooler_.job, Bytes("!LA 192;"), at + 1)) {
    ++headers;
  }
  EXPECT_EQ(headers, 1u);
}

TEST_F(SpoolRoad, LargeJobsAreProcessedInRoundsAndClosedAtThePageEnd) {
  // About 12,000,000 bytes of moves in 64 KiB chunks, then the page end.
  std::string body;
  while (body.size() < 12000000) body += "PA1000,2000;PA3000,4000;";
  const std::vector<uint8_t> data = Bytes("IN;SP1;PD;" + body + "PU;PG;");
  for (size_t at = 0; at < data.size(); at += 65536) {
    const size_t size = std::min<size_t>(65536, data.size() - at);
    debut(spooler_.printerHandle, data.data() + at, static_cast<uint32_t>(size), settings_.data(), set_.spool,
          set_.ctx, set_.job);
    ASSERT_TRUE(set_.ctx->jobOpenFlag != 0 || at + size == data.size()) << "closed early at " << at;
    if (set_.ctx->jobOpenFlag != 0) {
      // Processed in rounds: what stays pending never reaches the threshold plus one chunk.
      ASSERT_LT(set_.spool->dataEnd - set_.spool->readPos, static_cast<ptrdiff_t>(kProcessThreshold + 65536));
    }
  }
  EXPECT_EQ(set_.ctx->jobOpenFlag, 0);
  EXPECT_TRUE(messages_.texts.empty());
  EXPECT_TRUE(EndsWith(spooler_.job, Record("JF", 0)));
}

TEST_F(SpoolRoad, AChunkLongerThanTheBufferTakesIsTakenInPieces) {
  std::string body;
  while (body.size() < 11000000) body += "PA1000,2000;PA3000,4000;";
  Send("IN;SP1;PD;" + body + "PU;PG;");
  EXPECT_EQ(set_.ctx->jobOpenFlag, 0);
  EXPECT_TRUE(messages_.texts.empty());
  EXPECT_TRUE(EndsWith(spooler_.job, Record("JF", 0)));
}

TEST_F(SpoolRoad, ASyntaxErrorEndsThroughTheAbortPathAndTheNextChunkStartsAfresh) {
  Send("IN;SP1;PD100,100;PA1e3,0;PG;");
  EXPECT_EQ(messages_.texts, std::vector<std::string>{"Syntax 2 error"});
  EXPECT_EQ(set_.ctx->jobOpenFlag, 0);
  EXPECT_TRUE(spooler_.job.empty());  // the printer's job was aborted
  EXPECT_EQ(set_.spool->spoolBuffer, nullptr);
  messages_.texts.clear();
  Send(kPage);
  EXPECT_TRUE(messages_.texts.empty());
  EXPECT_TRUE(EndsWith(spooler_.job, Record("JF", 0)));
}

TEST_F(SpoolRoad, TheAbortPathEndsTheStreamAndReportsAFailedAbort) {
  spooler_.failAbort = true;
  Send("IN;SP1;PD100,100;PA1e3,0;PG;");
  EXPECT_EQ(messages_.texts, (std::vector<std::string>{"Syntax 2 error", "Spooler error"}));
  EXPECT_TRUE(EndsWith(spooler_.job, Closing()));
}

TEST_F(SpoolRoad, ASpoolBufferThatCannotBeHadIsAMemoryError) {
  FailingMemory memory(kSpoolBufferBytes);
  Send(kPage);
  EXPECT_EQ(messages_.texts, std::vector<std::string>{"Memory error"});
  EXPECT_EQ(set_.ctx->jobOpenFlag, 0);
  EXPECT_EQ(memory.outstanding, 0);
}

TEST_F(SpoolRoad, OutputToAFileHoldsTheLastJobAfterTheFileStart) {
  const std::string path = dir_ + "-out.job";
  SetU16(settings_, s::kOutputToFile, 1);
  for (size_t i = 0; i <= path.size(); ++i) {
    SetU16(settings_, s::kOutputFileName + 2 * i, i < path.size() ? static_cast<uint8_t>(path[i]) : 0);
  }
  Send(kPage);
  Send("IN;SP1;PU0,0;PD1,1;PG;");
  std::ifstream in(path, std::ios::binary);
  const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), {});
  std::remove(path.c_str());
  ASSERT_GT(bytes.size(), 14u);
  EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + 14), "!LB 1;!LA 192;");
  EXPECT_TRUE(EndsWith(bytes, Record("JF", 0)));
  EXPECT_TRUE(spooler_.job.empty());
  EXPECT_EQ(spooler_.data.count("TempsEstime"), 0u);
  EXPECT_EQ(set_.job->outputSink, nullptr);
}

TEST_F(SpoolRoad, AnOutputFileThatCannotBeOpenedEndsTheJob) {
  SetU16(settings_, s::kOutputToFile, 1);
  const std::string path = dir_ + "/no/such/dir/out.job";
  for (size_t i = 0; i <= path.size(); ++i) {
    SetU16(settings_, s::kOutputFileName + 2 * i, i < path.size() ? static_cast<uint8_t>(path[i]) : 0);
  }
  Send(kPage);
  EXPECT_EQ(messages_.texts, std::vector<std::string>{"Create file error"});
  EXPECT_EQ(set_.ctx->jobOpenFlag, 0);
  // A name without its terminator within 260 units is refused the same way.
  messages_.texts.clear();
  for (size_t i = 0; i < s::kOutputFileNameUnits; ++i) SetU16(settings_, s::kOutputFileName + 2 * i, 'a');
  Send(kPage);
  EXPECT_EQ(messages_.texts, std::vector<std::string>{"Create file error"});
}

TEST_F(SpoolRoad, ASeriesGathersItsJobsAndSendsThemWithTheHeader) {
  SetU16(settings_, s::kFlagWord, s::kFlagSeries);
  Send(std::string(kSeriesStart) + "ignored rest of the chunk");
  EXPECT_EQ(set_.job->seriesFlag, 1);
  Send(kPage);
  Send(kPage);
  EXPECT_TRUE(spooler_.job.empty());  // nothing reaches the printer before the series ends
  Send(kSeriesEnd);
  EXPECT_EQ(set_.job->seriesFlag, 0);
  EXPECT_EQ(set_.job->outputSink, nullptr);
  ASSERT_GT(spooler_.job.size(), 38u);
  EXPECT_EQ(std::string(spooler_.job.begin(), spooler_.job.begin() + 6), "!RA32;");
  const std::vector<uint8_t> header(spooler_.job.begin() + 6, spooler_.job.begin() + 38);
  const std::vector<uint8_t> expected = {0, 0, 1, 4,   0, 0, 0xEA, 0x60, 0, 0, 0x75, 0x30, 0, 0, 0, 2,
                                         0, 0, 0, 2,   5, 0, 6,    0,    0, 0, 0,    0,    0, 0, 0,    2};
  EXPECT_EQ(header, expected);  // model 260, 600 x 300 mm, two pages twice, 05000600, 0, 2
  EXPECT_EQ(std::string(spooler_.job.begin() + 38, spooler_.job.begin() + 46), "!LA 192;");
  EXPECT_EQ(spooler_.data.count("TempsEstime"), 0u);
}

TEST_F(SpoolRoad, SeriesEscapesWithoutTheSeriesBitOrWithoutASeriesDoNothing) {
  Send(kSeriesStart);
  EXPECT_EQ(set_.job->seriesFlag, 0);
  Send(kSeriesEnd);
  EXPECT_TRUE(spooler_.job.empty());
  Send("StartDoc_DebutSerie");  // shorter than the escape: an ordinary chunk
  EXPECT_EQ(set_.ctx->jobOpenFlag, 1);
}

TEST_F(SpoolRoad, ASeriesEndWithAJobStillOpenAbortsThatJobInsideTheSeries) {
  SetU16(settings_, s::kFlagWord, s::kFlagSeries);
  Send(kSeriesStart);
  Send("IN;SP1;PD10,10;");
  Send(kSeriesEnd);
  EXPECT_EQ(set_.ctx->jobOpenFlag, 0);
  EXPECT_TRUE(EndsWith(spooler_.job, Closing()));
}

TEST_F(SpoolRoad, ASeriesKeepsItsStreamWhenTheSettingsAskForAFile) {
  SetU16(settings_, s::kFlagWord, s::kFlagSeries);
  SetU16(settings_, s::kOutputToFile, 1);
  Send(kSeriesStart);
  Send(kPage);
  Send(kSeriesEnd);
  EXPECT_EQ(std::string(spooler_.job.begin(), spooler_.job.begin() + 6), "!RA32;");
  EXPECT_TRUE(EndsWith(spooler_.job, Record("JF", 0)));
}

TEST_F(SpoolRoad, CaptureAndReplaceTheCoordinatesBeforeTheJobIsWritten) {
  Send("IN;SP1;");
  set_.job->passMode = 1;
  Send("PU0,0;PD1000,0;PG;");
  EXPECT_EQ(set_.ctx->jobOpenFlag, 1);
  ASSERT_GE(set_.job->capturedCount, 2);
  EXPECT_TRUE(spooler_.job.empty());
  const int32_t count = set_.job->capturedCount;
  for (int32_t i = 0; i < count; ++i) {
    set_.job->captured[2 * i] = 100.0f * static_cast<float>(i + 1);
    set_.job->captured[2 * i + 1] = 7.0f;
  }
  set_.job->passMode = 2;
  Send("not used");
  EXPECT_EQ(set_.ctx->jobOpenFlag, 0);
  EXPECT_EQ(set_.job->captured, nullptr);
  EXPECT_TRUE(EndsWith(spooler_.job, Record("JF", 0)));
  EXPECT_TRUE(messages_.texts.empty());
}

}  // namespace
}  // namespace ostrelin::test
