// The plot command file: what the stroke exports write and what the readers give back.
#include "engine/hpgl/plot_file.h"

#include <gtest/gtest.h>

#include <cstring>

#include "engine/error.h"
#include "engine/scratch.h"
#include "ostrelin/ostrelin.h"
#include "support/fakes.h"
#include "support/test_support.h"

namespace ostrelin::test {
namespace {

std::vector<uint8_t> FloatBytes(float x) {
  std::vector<uint8_t> bytes(4);
  std::memcpy(bytes.data(), &x, 4);
  return bytes;
}

class PlotFile : public ScratchDirTest {
 protected:
  void SetUp() override {
    ScratchDirTest::SetUp();
    auto record = DefaultSettings();
    ostrelinInit(set_.ctx, set_.spool, set_.job, record.data());
    ASSERT_NE(set_.ctx->plotFile, nullptr);
  }
  void TearDown() override {
    ostrelinClean(set_.ctx, set_.spool, set_.job);
    ScratchDirTest::TearDown();
  }
  platform::Stream& plot() { return *AsStream(set_.ctx->plotFile); }
  std::vector<uint8_t> Contents() {
    platform::Stream& stream = plot();
    const int64_t end = stream.Tell();
    std::vector<uint8_t> bytes(static_cast<size_t>(end));
    stream.Seek(0, platform::kSeekSet);
    stream.Read(bytes.data(), bytes.size());
    stream.Seek(end, platform::kSeekSet);
    return bytes;
  }
  RecordSet set_;
};

TEST_F(PlotFile, StrokeExportsWriteOpcodesWithLittleEndianFloats) {
  ostrelinGnfToTdSetIndexColor(set_.ctx, set_.spool, set_.job, 300);
  ostrelinGnfToTdPu2dA(set_.ctx, set_.spool, set_.job, 1.5f, -2.0f);
  ostrelinGnfToTdPd2dA(set_.ctx, set_.spool, set_.job, 100.25f, 7.0f);
  ostrelinGnfToTdEof(set_.ctx, set_.spool, set_.job);
  std::vector<uint8_t> expected = {4, 44, 1};
  for (float v : {1.5f, -2.0f}) {
    auto b = FloatBytes(v);
    expected.insert(expected.end(), b.begin(), b.end());
  }
  expected.push_back(2);
  for (float v : {100.25f, 7.0f}) {
    auto b = FloatBytes(v);
    expected.insert(expected.end(), b.begin(), b.end());
  }
  expected.push_back(5);
  EXPECT_EQ(Contents(), expected);
  EXPECT_EQ(FloatBytes(1.5f), (std::vector<uint8_t>{0x00, 0x00, 0xC0, 0x3F}));
  // The exports neither widen the drawing extent nor care about the page-end flag.
  EXPECT_EQ(set_.ctx->drawMinX, 1e10f);
}

TEST_F(PlotFile, InterpreterWritersStopAtThePageEndAndWidenTheExtent) {
  hpgl::WriteOpcode(*set_.ctx, hpgl::kOpPenDown);
  hpgl::WritePoint(*set_.ctx, 3.0f, -4.0f);
  hpgl::WriteOpcode(*set_.ctx, hpgl::kOpText);
  hpgl::WriteText(*set_.ctx, "");
  EXPECT_EQ(set_.ctx->drawMinX, 3.0f);
  EXPECT_EQ(set_.ctx->drawMaxY, -4.0f);
  const size_t before = Contents().size();
  EXPECT_EQ(before, 1u + 8u + 2u);  // opcode 8 with empty text is two bytes
  set_.ctx->pageEndFlag = 1;
  hpgl::WriteOpcode(*set_.ctx, hpgl::kOpPenDown);
  hpgl::WritePoint(*set_.ctx, 30.0f, 40.0f);
  hpgl::WriteValue(*set_.ctx, 1.0f);
  EXPECT_EQ(Contents().size(), before);
  EXPECT_EQ(set_.ctx->drawMaxX, 3.0f);
}

TEST_F(PlotFile, ReadersSkipEveryPayloadAndStopAtTheEnd) {
  hpgl::WriteOpcode(*set_.ctx, hpgl::kOpVelocity);
  hpgl::WriteValue(*set_.ctx, 12.0f);
  hpgl::WriteOpcode(*set_.ctx, hpgl::kOpText);
  hpgl::WriteText(*set_.ctx, "label");
  hpgl::WriteOpcode(*set_.ctx, hpgl::kOpPoint3d);
  hpgl::WritePoint3d(*set_.ctx, 1, 2, 3);
  hpgl::WriteOpcode(*set_.ctx, hpgl::kOpOutput);
  hpgl::WriteOpcode(*set_.ctx, hpgl::kOpNop);
  hpgl::WriteOpcode(*set_.ctx, hpgl::kOpColour);
  const uint8_t colour = 3;
  plot().Write(&colour, 1);
  hpgl::WriteOpcode(*set_.ctx, hpgl::kOpPenDown);
  hpgl::WritePoint(*set_.ctx, 5.0f, 6.0f);
  hpgl::BeginReadPass(*set_.ctx);
  hpgl::Reader reader(*set_.ctx, plot(), set_.ctx->endLength);
  std::vector<uint8_t> seen;
  float x = 0, y = 0;
  uint8_t readColour = 0;
  for (uint8_t op = reader.NextOpcode(); op != hpgl::kOpEnd; op = reader.NextOpcode()) {
    seen.push_back(op);
    if (op == hpgl::kOpPenDown) {
      reader.ReadPoint(&x, &y);
    } else if (op == hpgl::kOpColour) {
      readColour = reader.ReadColourClass();
    } else {
      reader.SkipPayload(op);
    }
  }
  EXPECT_EQ(seen, (std::vector<uint8_t>{13, 8, 15, 11, 0, 4, 2}));
  EXPECT_EQ(readColour, 3);
  EXPECT_EQ(x, 5.0f);
  EXPECT_EQ(y, 6.0f);
  EXPECT_EQ(reader.NextOpcode(), hpgl::kOpEnd);
}

TEST_F(PlotFile, EmptyFileAndForeignBytesReadAsTheEnd) {
  hpgl::BeginReadPass(*set_.ctx);
  EXPECT_EQ(set_.ctx->endLength, 0);
  EXPECT_EQ(hpgl::Reader(*set_.ctx, plot(), set_.ctx->endLength).NextOpcode(), hpgl::kOpEnd);
  for (uint8_t foreign : {uint8_t{16}, uint8_t{200}, uint8_t{5}}) {
    const uint8_t bytes[2] = {foreign, 1};
    plot().Seek(0, platform::kSeekSet);
    plot().Write(bytes, 2);
    hpgl::Reader reader(*set_.ctx, plot(), -1);
    plot().Seek(0, platform::kSeekSet);
    EXPECT_EQ(reader.NextOpcode(), hpgl::kOpEnd) << int{foreign};
  }
}

TEST_F(PlotFile, APayloadCutShortIsATemporaryFileError) {
  CapturedMessages messages;
  const uint8_t bytes[5] = {2, 0, 0, 0x80, 0x3F};
  plot().Write(bytes, sizeof bytes);
  hpgl::BeginReadPass(*set_.ctx);
  hpgl::Reader reader(*set_.ctx, plot(), set_.ctx->endLength);
  ASSERT_EQ(reader.NextOpcode(), hpgl::kOpPenDown);
  float x, y;
  EXPECT_THROW(reader.ReadPoint(&x, &y), EngineAbort);
  EXPECT_EQ(messages.texts, std::vector<std::string>{"Temporary file error"});
}

TEST_F(PlotFile, PointsOutsideTheExtentAreTracedAndStillUsed) {
  CapturedTrace trace;
  hpgl::WriteOpcode(*set_.ctx, hpgl::kOpPenDown);
  hpgl::WritePoint(*set_.ctx, 10.0f, 10.0f);
  ostrelinGnfToTdPd2dA(set_.ctx, set_.spool, set_.job, 50.0f, 10.0f);
  hpgl::BeginReadPass(*set_.ctx);
  hpgl::Reader reader(*set_.ctx, plot(), set_.ctx->endLength);
  float x, y;
  reader.NextOpcode();
  reader.ReadPoint(&x, &y);
  EXPECT_TRUE(trace.texts.empty());
  reader.NextOpcode();
  reader.ReadPoint(&x, &y);
  EXPECT_EQ(x, 50.0f);
  ASSERT_EQ(trace.texts.size(), 1u);
  EXPECT_EQ(trace.texts[0], "HPGL_Pt_from_tmpfile: x out of range (50 not in [10, 10])\n");
}

// The reader takes the file in blocks: records that straddle blocks come back whole; reading stops at
// the end length though more records follow it, except that a payload running past it is read whole;
// the file is then left just after the last byte taken.
TEST_F(PlotFile, ReaderStopsAtTheEndLengthAcrossBlocks) {
  constexpr int kPoints = 5000;  // 45,000 bytes
  for (int i = 0; i < kPoints; ++i) {
    ostrelinGnfToTdPd2dA(set_.ctx, set_.spool, set_.job, static_cast<float>(i), static_cast<float>(-i));
  }
  const int64_t written = plot().Tell();
  for (int i = 0; i < 10; ++i) ostrelinGnfToTdPu2dA(set_.ctx, set_.spool, set_.job, 1.0f, 1.0f);
  struct Case {
    int64_t endLength;
    int points;
    int64_t leftAt;
  };
  const Case cases[] = {
      {written, kPoints, written},
      {written - 4, kPoints, written},  // inside the last point
      {9 * 3001, 3001, 9 * 3001},
      {0, 0, 0},
  };
  for (const Case& c : cases) {
    ASSERT_TRUE(plot().Seek(0, platform::kSeekSet));
    int points = 0;
    {
      hpgl::Reader reader(*set_.ctx, plot(), c.endLength);
      for (uint8_t op = reader.NextOpcode(); op != hpgl::kOpEnd; op = reader.NextOpcode()) {
        ASSERT_EQ(op, hpgl::kOpPenDown) << c.endLength << " at point " << points;
        float x = 0, y = 0;
        reader.ReadPoint(&x, &y);
        ASSERT_EQ(x, static_cast<float>(points)) << c.endLength;
        ASSERT_EQ(y, static_cast<float>(-points)) << c.endLength;
        ++points;
      }
    }
    EXPECT_EQ(points, c.points) << c.endLength;
    EXPECT_EQ(plot().Tell(), c.leftAt) << c.endLength;
  }
}

// A read pass that ends at an end record leaves the file just after that record, not after what the
// reader had read ahead.
TEST_F(PlotFile, AReaderThatStopsAtAnEndRecordLeavesTheFileJustAfterIt) {
  ostrelinGnfToTdPd2dA(set_.ctx, set_.spool, set_.job, 1.0f, 2.0f);
  ostrelinGnfToTdEof(set_.ctx, set_.spool, set_.job);
  ostrelinGnfToTdPd2dA(set_.ctx, set_.spool, set_.job, 3.0f, 4.0f);
  hpgl::BeginReadPass(*set_.ctx);
  {
    hpgl::Reader reader(*set_.ctx, plot(), set_.ctx->endLength);
    ASSERT_EQ(reader.NextOpcode(), hpgl::kOpPenDown);
    float x, y;
    reader.ReadPoint(&x, &y);
    EXPECT_EQ(reader.NextOpcode(), hpgl::kOpEnd);
  }
  EXPECT_EQ(plot().Tell(), 9 + 1);
}

TEST(PlotFileFailures, AStrokeThatCannotBeWrittenEndsOnlyThatCall) {
  RecordSet set;
  CapturedMessages messages;
  // No ostrelinInit: there is no plot command file to write to.
  ostrelinGnfToTdPd2dA(set.ctx, set.spool, set.job, 1.0f, 2.0f);
  EXPECT_EQ(messages.texts, std::vector<std::string>{"Temporary file error"});
  EXPECT_EQ(set.ctx->lastError, 5 + 1);
  EXPECT_EQ(set.ctx->errorFrameActive, 0);
}

}  // namespace
}  // namespace ostrelin::test
