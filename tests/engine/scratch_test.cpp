// Scratch streams, layer files and their block transfers, the underlay buffer, rounding and dots.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <numeric>
#include <random>
#include <vector>

#include "engine/error.h"
#include "engine/scratch.h"
#include "support/fakes.h"
#include "support/test_support.h"

namespace ostrelin::test {
namespace {

TEST(Units, RoundHalfAwayFromZero) {
  struct Case {
    double value;
    int32_t rounded;
  };
  for (const Case& c : {Case{2.5, 3}, Case{-2.5, -3}, Case{2.49, 2}, Case{-0.5, -1}, Case{0.5, 1},
                        Case{1.4999, 1}, Case{-1.5, -2}, Case{0.0, 0}, Case{-0.49, 0}, Case{1e12, INT32_MAX},
                        Case{-1e12, INT32_MIN}}) {
    EXPECT_EQ(RoundHalfAway(c.value), c.rounded) << c.value;
  }
}

TEST(Units, RoundHalfAwayAgreesWithStdRoundOverEveryMagnitude) {
  // std::round also rounds halves away from zero; RoundHalfAway saturates to 32 bits and gives 0 for
  // NaN. Values of every magnitude, the edges of the 32-bit range and halves near them.
  auto expected = [](double value) -> int32_t {
    if (std::isnan(value)) return 0;
    const double rounded = std::round(value);
    if (rounded >= 2147483647.0) return INT32_MAX;
    if (rounded <= -2147483648.0) return INT32_MIN;
    return static_cast<int32_t>(rounded);
  };
  std::vector<double> values = {std::nan(""), INFINITY, -INFINITY, -0.0, 1e-310, -1e-310};
  for (double half : {0.49999999999999994, 4503599627370495.5}) {
    values.push_back(half);
    values.push_back(-half);
  }
  for (double edge : {2147483647.0, 2147483648.0, -2147483648.0, -2147483649.0, 8388608.0, 1.0}) {
    for (double offset : {-1.0, -0.5, -0.4999999, 0.0, 0.4999999, 0.5, 1.0}) values.push_back(edge + offset);
    values.push_back(std::nextafter(edge, 0.0));
    values.push_back(std::nextafter(edge, 1e300));
    values.push_back(std::nextafter(edge, -1e300));
  }
  std::mt19937_64 random(5);
  for (int i = 0; i < 200000; ++i) {
    // Random bit patterns with exponents from 2^-3 to 2^40, and random halves.
    uint64_t bits = (random() & 0x800FFFFFFFFFFFFFull) | ((1020 + random() % 44) << 52);
    double value = 0.0;
    std::memcpy(&value, &bits, sizeof value);
    values.push_back(value);
    values.push_back(std::trunc(value) + (value < 0 ? -0.5 : 0.5));
  }
  for (double value : values) EXPECT_EQ(RoundHalfAway(value), expected(value)) << value;
}

TEST(Units, DotsFromLengths) {
  EXPECT_EQ(DotsFromHmm(21000, 600), 4961);
  EXPECT_EQ(DotsFromPlu(1016, 254), 254);
  EXPECT_EQ(DotsFromHmm(30000, 254), 3000);
  EXPECT_EQ(DotsFromHmm(-127, 1000), -50);
}

class LayerFiles : public ScratchDirTest {};

TEST_F(LayerFiles, TransfersAreSplitIntoBlocksOfAMillionBytes) {
  struct Case {
    uint32_t count;
    std::vector<uint32_t> blocks;
  };
  for (const Case& c : {Case{2500000, {500000, 1000000, 1000000}}, Case{1000000, {0, 1000000}}, Case{0, {0}},
                        Case{999, {999}}}) {
    FailingFiles files;
    RecordSet set;
    void* layer = CreateLayerFile(*set.ctx);
    std::vector<uint8_t> data(c.count);
    std::iota(data.begin(), data.end(), uint8_t{7});
    WriteAtOffset(*set.ctx, &layer, c.count, data.data(), 3);
    EXPECT_EQ(files.layerWriteSizes, c.blocks) << c.count;
    std::vector<uint8_t> back(c.count);
    ReadAtOffset(*set.ctx, &layer, c.count, back.data(), 3);
    EXPECT_EQ(back, data);
    CloseLayerFile(&layer);
    EXPECT_EQ(layer, nullptr);
  }
}

TEST_F(LayerFiles, OffsetsBeyondFourGibibytesKeepTheirHighBits) {
  RecordSet set;
  void* layer = CreateLayerFile(*set.ctx);
  const uint64_t far = (uint64_t{1} << 32) + 10;
  const uint8_t out[4] = {1, 2, 3, 4};
  WriteAtOffset(*set.ctx, &layer, 4, out, far);
  uint8_t low[4] = {9, 9, 9, 9};
  // Nothing was written at the low 32 bits of that offset (a hole reads as zeros or not at all).
  platform::LayerFile* file = static_cast<platform::LayerFile*>(layer);
  if (file->ReadAt(low, 4, 10)) {
    EXPECT_EQ(low[0], 0);
  }
  uint8_t back[4] = {};
  ReadAtOffset(*set.ctx, &layer, 4, back, far);
  EXPECT_EQ(std::vector<uint8_t>(back, back + 4), std::vector<uint8_t>(out, out + 4));
  CloseLayerFile(&layer);
}

TEST_F(LayerFiles, AFailedBlockClosesTheFileClearsTheHandleAndEndsThroughTheFrame) {
  FailingFiles files;
  CapturedMessages messages;
  RecordSet set;
  void* layer = CreateLayerFile(*set.ctx);
  files.layerWritesBeforeFailure = 1;
  std::vector<uint8_t> data(2500000, 1);
  EXPECT_THROW(WriteAtOffset(*set.ctx, &layer, 2500000, data.data(), 0), EngineAbort);
  EXPECT_EQ(layer, nullptr);
  EXPECT_EQ(messages.texts, std::vector<std::string>{"Write file error"});

  void* reader = CreateLayerFile(*set.ctx);
  uint8_t buffer[16];
  EXPECT_THROW(ReadAtOffset(*set.ctx, &reader, 16, buffer, 0), EngineAbort);  // past the end of an empty file
  EXPECT_EQ(reader, nullptr);
  EXPECT_EQ(messages.texts.back(), "Read file error");
}

TEST_F(LayerFiles, CreationFailureIsCreateFileError) {
  FailingFiles files;
  CapturedMessages messages;
  RecordSet set;
  files.failLayerCreate = true;
  EXPECT_THROW(CreateLayerFile(*set.ctx), EngineAbort);
  EXPECT_EQ(messages.texts, std::vector<std::string>{"Create file error"});
}

class ScratchStreams : public ScratchDirTest {};

TEST_F(ScratchStreams, FallBackToANamedStreamAndReportOnceWhenNoneCanBeHad) {
  FailingFiles files;
  CapturedMessages messages;
  RecordSet set;
  files.failAnonymous = true;
  platform::Stream* named = OpenScratchStream(*set.ctx);
  ASSERT_NE(named, nullptr);
  EXPECT_EQ(named->Write("abc", 3), 3u);
  EXPECT_TRUE(LeftoverFiles().empty());  // deleted at creation, gone when closed
  EXPECT_TRUE(platform::CloseStream(named));
  files.failNamed = true;
  EXPECT_EQ(OpenScratchStream(*set.ctx), nullptr);
  EXPECT_EQ(messages.texts, std::vector<std::string>{"Temporary file error"});
}

TEST_F(ScratchStreams, ReadAfterWriteAndSeekBack) {
  RecordSet set;
  platform::Stream* stream = OpenScratchStream(*set.ctx);
  ASSERT_NE(stream, nullptr);
  EXPECT_EQ(stream->Write("hello", 5), 5u);
  EXPECT_EQ(stream->Tell(), 5);
  ASSERT_TRUE(stream->Seek(1, platform::kSeekSet));
  char buffer[8] = {};
  EXPECT_EQ(stream->Read(buffer, 8), 4u);
  EXPECT_STREQ(buffer, "ello");
  EXPECT_EQ(stream->Write("!", 1), 1u);
  ASSERT_TRUE(stream->Seek(0, platform::kSeekEnd));
  EXPECT_EQ(stream->Tell(), 6);
  platform::CloseStream(stream);
}

TEST(Underlay, SizedFromThePlatePlusMarginAndReportedWhenMissing) {
  RecordSet set;
  set.ctx->plateWidthHmm = 60000;
  set.ctx->engineResolution = 500;
  AllocateUnderlay(*set.ctx);
  EXPECT_EQ(set.ctx->underlayBytes, DotsFromHmm(60500, 500));
  ASSERT_NE(set.ctx->underlay, nullptr);
  ReleaseJobBuffers(*set.ctx, *set.spool, *set.job);
  EXPECT_EQ(set.ctx->underlay, nullptr);

  FailingMemory memory(1000);
  CapturedMessages messages;
  EXPECT_THROW(AllocateUnderlay(*set.ctx), EngineAbort);
  EXPECT_EQ(messages.texts, std::vector<std::string>{"Memory error"});
  EXPECT_EQ(memory.outstanding, 0);
}

}  // namespace
}  // namespace ostrelin::test
