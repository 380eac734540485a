// Command records, word writers and the choice of sink.
#include <gtest/gtest.h>

#include <cstring>

#include "engine/error.h"
#include "engine/job_stream.h"
#include "engine/scratch.h"
#include "support/fakes.h"
#include "support/test_support.h"

namespace ostrelin::test {
namespace {

// Bytes the stream sink received.
std::vector<uint8_t> StreamBytes(platform::Stream* stream) {
  const int64_t length = stream->Tell();
  std::vector<uint8_t> bytes(static_cast<size_t>(length));
  stream->Seek(0, platform::kSeekSet);
  if (length > 0) {
    EXPECT_EQ(stream->Read(bytes.data(), bytes.size()), bytes.size());
  }
  return bytes;
}

class JobStream : public ScratchDirTest {
 protected:
  void SetUp() override {
    ScratchDirTest::SetUp();
    stream_ = OpenScratchStream(*set_.ctx);
    ASSERT_NE(stream_, nullptr);
    set_.job->outputSink = stream_;
    set_.job->toScratch = 1;
  }
  void TearDown() override {
    platform::CloseStream(stream_);
    ScratchDirTest::TearDown();
  }
  RecordSet set_;
  platform::Stream* stream_ = nullptr;
};

TEST_F(JobStream, RecordsAreBigEndianWithTheMarker) {
  WriteRecord(*set_.ctx, *set_.job, "JF", 0);
  WriteRecord(*set_.ctx, *set_.job, "VD", 123);
  WriteRecord(*set_.ctx, *set_.job, "RF", -5);
  WriteRecord32(*set_.ctx, *set_.job, "TE", 70000);
  WriteRecord32(*set_.ctx, *set_.job, "RX", static_cast<uint32_t>(-2));
  const std::vector<uint8_t> expected = {
      0xFF, 0xFD, 0x4A, 0x46, 0x00, 0x00,  // JF 0
      0xFF, 0xFD, 0x56, 0x44, 0x00, 0x7B,  // VD 123
      0xFF, 0xFD, 0x52, 0x46, 0xFF, 0xFB,  // RF -5
      0xFF, 0xFD, 0x54, 0x45, 0x00, 0x01,  // TE high word 1
      0xFF, 0xFD, 0x54, 0x45, 0x11, 0x70,  // TE low word 4,464
      0xFF, 0xFD, 0x52, 0x58, 0xFF, 0xFF,  // RX high word of -2
      0xFF, 0xFD, 0x52, 0x58, 0xFF, 0xFE,  // RX low word
  };
  EXPECT_EQ(StreamBytes(stream_), expected);
}

TEST_F(JobStream, WordWritersTurnTheCallersBufferBigEndian) {
  uint16_t words16[2] = {0x0102, 0xA0B0};
  uint32_t words32[2] = {0x01020304u, 0xFFFFFFFEu};
  WriteWords16(*set_.ctx, *set_.job, words16, sizeof words16);
  WriteWords32(*set_.ctx, *set_.job, words32, sizeof words32);
  const std::vector<uint8_t> expected = {0x01, 0x02, 0xA0, 0xB0, 0x01, 0x02, 0x03, 0x04, 0xFF, 0xFF, 0xFF, 0xFE};
  EXPECT_EQ(StreamBytes(stream_), expected);
  uint8_t asBytes[4];
  std::memcpy(asBytes, words16, 4);
  EXPECT_EQ(asBytes[0], 0x01);  // the caller's buffer now holds the big-endian form
}

TEST_F(JobStream, WordWriterTurnsEveryWordOfLongBuffers) {
  // Buffers of 1 to 13 words: whole blocks of four words and the words after them.
  std::vector<uint8_t> expected;
  for (size_t count = 1; count <= 13; ++count) {
    std::vector<uint16_t> words(count);
    for (size_t i = 0; i < count; ++i) {
      words[i] = static_cast<uint16_t>(0x1100 * (count + 1) + 0x0101 * i + 1);
      expected.push_back(static_cast<uint8_t>(words[i] >> 8));
      expected.push_back(static_cast<uint8_t>(words[i] & 0xFF));
    }
    WriteWords16(*set_.ctx, *set_.job, words.data(), count * sizeof(uint16_t));
  }
  EXPECT_EQ(StreamBytes(stream_), expected);
}

TEST_F(JobStream, EstimateOnlyWritesNothing) {
  set_.job->estimateOnly = 1;
  WriteText(*set_.ctx, *set_.job, "!LA 192;");
  WriteRecord(*set_.ctx, *set_.job, "JF", 0);
  EXPECT_TRUE(StreamBytes(stream_).empty());
}

TEST_F(JobStream, EngineStreamsAreWrittenAsStreamsWhateverTheMachineKind) {
  FailingFiles files;
  set_.job->machineKind = 5;
  WriteRecord(*set_.ctx, *set_.job, "JF", 0);
  EXPECT_EQ(StreamBytes(stream_), Record("JF", 0));
  EXPECT_EQ(files.fileHandleWrites, 0);
}

TEST(JobStreamSinks, KindFiveWritesToTheHostFileHandleAndOthersToThePrinter) {
  FailingFiles files;
  MemorySpooler spooler;
  RecordSet set;
  int hostFile = 0;
  set.job->machineKind = 5;
  set.job->outputSink = &hostFile;
  WriteRecord(*set.ctx, *set.job, "OP", 0);
  EXPECT_EQ(files.fileHandleBytes, Record("OP", 0));
  EXPECT_TRUE(spooler.job.empty());

  set.job->machineKind = 1;
  set.job->outputSink = spooler.printerHandle;
  WriteRecord(*set.ctx, *set.job, "AI", 7);
  EXPECT_EQ(spooler.job, Record("AI", 7));
}

TEST(JobStreamSinks, AFailingSinkIsAFatalErrorNotASilentlyShortStream) {
  struct Case {
    int machineKind;
    bool toScratch;
    const char* message;
  };
  for (const Case& c : {Case{1, false, "Printer error"}, Case{5, false, "Write file error"},
                        Case{1, true, "Write file error"}}) {
    FailingFiles files;
    MemorySpooler spooler;
    CapturedMessages messages;
    RecordSet set;
    spooler.failWrites = true;
    files.streamWritesBeforeFailure = 0;
    int hostFile = 0;
    platform::Stream* stream = c.toScratch ? OpenScratchStream(*set.ctx) : nullptr;
    set.job->machineKind = c.machineKind;
    set.job->toScratch = c.toScratch ? 1 : 0;
    set.job->outputSink = c.toScratch ? static_cast<void*>(stream)
                                      : (c.machineKind == 5 ? static_cast<void*>(&hostFile) : spooler.printerHandle);
    EXPECT_THROW(WriteRecord(*set.ctx, *set.job, "JF", 0), EngineAbort);
    ASSERT_EQ(messages.texts.size(), 1u);
    EXPECT_EQ(messages.texts[0], c.message);
    platform::CloseStream(stream);
  }
}

}  // namespace
}  // namespace ostrelin::test
