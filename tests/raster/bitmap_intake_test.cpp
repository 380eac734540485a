// Bitmap intake through the exports: colour and grey layers, merging, bad rows, and whole jobs.
#include "engine/raster/bitmap_intake.h"

#include <gtest/gtest.h>

#include <cstring>

#include "engine/job_reset.h"
#include "engine/raster/layer_io.h"
#include "engine/settings_layout.h"
#include "raster/raster_test_support.h"
#include "support/fakes.h"

namespace ostrelin::test {
namespace {

class BitmapIntake : public RasterTest {
 protected:
  // 500 dpi: 1 mm = 19.685 dots. A millimetre position giving exactly dots d: d * 2540 / 500 / 100.
  static double Mm(int32_t dots) { return dots * 25.4 / 500.0; }
  std::vector<uint8_t> ColourRow(int colourClass, int32_t row, int32_t from, int32_t count) {
    std::vector<uint8_t> bytes(static_cast<size_t>(count));
    ReadAtOffset(*set_.ctx, &set_.job->colourLayers[colourClass], static_cast<uint32_t>(count), bytes.data(),
                 static_cast<uint64_t>(row) * static_cast<uint64_t>(set_.job->colourStride) +
                     static_cast<uint64_t>(from));
    return bytes;
  }
  std::vector<uint8_t> GreyRow(int32_t row, int32_t from, int32_t count) {
    std::vector<uint8_t> bytes(static_cast<size_t>(count));
    ReadAtOffset(*set_.ctx, &set_.job->greyLayer, static_cast<uint32_t>(count), bytes.data(),
                 static_cast<uint64_t>(row) * static_cast<uint64_t>(set_.job->greyStride) +
                     static_cast<uint64_t>(from));
    return bytes;
  }
};

TEST_F(BitmapIntake, MergesOneBitRowsAtAnyDotOffset) {
  Init();
  // 10 set pixels at x = 13: bits 2..0 of byte 1 and 7..1 of byte 2; byte 3 unchanged.
  ostrelinGnfToHmapBitInit(set_.ctx, set_.spool, set_.job, Mm(13), Mm(4), 10, 2);
  const uint8_t row[2] = {0xFF, 0xC0};
  ostrelinGnfToHmapBit(set_.ctx, set_.spool, set_.job, row);
  ASSERT_TRUE(messages_.texts.empty());
  EXPECT_EQ(set_.job->colourStride, raster::GreyLayerStride(*set_.ctx) / 8);
  EXPECT_EQ(ColourRow(2, 4, 0, 4), (std::vector<uint8_t>{0x00, 0x07, 0xFE, 0x00}));
  EXPECT_EQ(set_.job->currentRow, 5);
  EXPECT_EQ(set_.ctx->usedWidth, 23);
  EXPECT_EQ(set_.ctx->usedHeight, 5);
  // A second image merges with the first (OR).
  ostrelinGnfToHmapBitInit(set_.ctx, set_.spool, set_.job, Mm(8), Mm(4), 12, 2);
  const uint8_t second[2] = {0x80, 0xFF};  // only 12 of the 16 bits count
  ostrelinGnfToHmapBit(set_.ctx, set_.spool, set_.job, second);
  EXPECT_EQ(ColourRow(2, 4, 0, 4), (std::vector<uint8_t>{0x00, 0x87, 0xFE, 0x00}));
}

TEST_F(BitmapIntake, NegativeLayerStartsFullAndRowsClearIt) {
  SetU16(settings_, settings::kRasterOptionsA + 2 * 4, 1);  // A5: negative
  Init();
  ostrelinGnfToHmapBitInit(set_.ctx, set_.spool, set_.job, 0, 0, 8, 0);
  const uint8_t row[1] = {0xF0};
  ostrelinGnfToHmapBit(set_.ctx, set_.spool, set_.job, row);
  EXPECT_EQ(ColourRow(0, 0, 0, 2), (std::vector<uint8_t>{0x0F, 0xFF}));
  EXPECT_EQ(ColourRow(0, 1, 0, 2), (std::vector<uint8_t>{0xFF, 0xFF}));
}

TEST_F(BitmapIntake, WhiteClassWritesNothingButAdvances) {
  Init();
  ostrelinGnfToHmapBitInit(set_.ctx, set_.spool, set_.job, Mm(10), Mm(3), 16, 8);
  const uint8_t row[2] = {0xFF, 0xFF};
  ostrelinGnfToHmapBit(set_.ctx, set_.spool, set_.job, row);
  for (void* layer : set_.job->colourLayers) EXPECT_EQ(layer, nullptr);
  EXPECT_EQ(set_.job->currentRow, 4);
  EXPECT_EQ(set_.ctx->usedWidth, 26);
}

TEST_F(BitmapIntake, ConvertsRgbToGreyAndCopiesBytes) {
  Init();
  ostrelinGnfToHmapOctetInit(set_.ctx, set_.spool, set_.job, Mm(5), Mm(2), 4);
  const uint8_t rgb[12] = {255, 255, 255, 255, 0, 0, 0, 255, 0, 0, 0, 255};
  ostrelinGnfToHmapOctet(set_.ctx, set_.spool, set_.job, rgb);
  EXPECT_EQ(GreyRow(2, 4, 6), (std::vector<uint8_t>{255, 255, 76, 150, 28, 255}));
  EXPECT_EQ(GreyRow(0, 0, 2), (std::vector<uint8_t>{255, 255}));  // fresh layer is white
}

TEST_F(BitmapIntake, GreyPipelineTurnsBitsIntoGreyWithTransparency) {
  SetU16(settings_, settings::kRasterOptionsA + 2 * 3, 1);  // A4 halftone: grey pipeline
  Init();
  ASSERT_EQ(set_.ctx->greyPipelineFlag, 1);
  ostrelinGnfToHmapOctetInit(set_.ctx, set_.spool, set_.job, 0, 0, 4);
  const uint8_t rgb[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  ostrelinGnfToHmapOctet(set_.ctx, set_.spool, set_.job, rgb);
  // A one-bit row over it: palette entry 0 (black) for clear bits, entry 1 (red) for set bits.
  set_.ctx->rasterPalette[0][0] = set_.ctx->rasterPalette[0][1] = set_.ctx->rasterPalette[0][2] = 255;
  for (int32_t opaque : {0, 1}) {
    set_.spool->opaqueSource = opaque;
    ostrelinGnfToHmapBitInit(set_.ctx, set_.spool, set_.job, 0, 0, 4, 0);
    const uint8_t row[1] = {0x50};
    ostrelinGnfToHmapBit(set_.ctx, set_.spool, set_.job, row);
    // White source pixels leave the black image visible unless the source is opaque.
    const uint8_t white = opaque != 0 ? 255 : 0;
    EXPECT_EQ(GreyRow(0, 0, 4), (std::vector<uint8_t>{white, 76, white, 76})) << opaque;
  }
}

TEST_F(BitmapIntake, RasterOperationsCombineWithTheLayer) {
  Init();
  struct Case {
    int32_t operation;
    uint8_t expected;
  };
  const uint8_t source = 0x0F;
  const uint8_t under = 0x3C;
  const Case cases[] = {{0x000042, 0x00}, {0x1100A6, 0xC0}, {0x330008, 0xF0}, {0x440328, 0x03},
                        {0x550009, 0xC3}, {0x660046, 0x33}, {0x8800C6, 0x0C}, {0xBB0226, 0xFC},
                        {0xEE0086, 0x3F}, {0xFF0062, 0xFF}, {0x123456, 0x0F}};
  for (const Case& c : cases) {
    ostrelinGnfToHmapOctetInit(set_.ctx, set_.spool, set_.job, 0, 0, 1);
    const uint8_t fill[3] = {under, under, under};
    ostrelinGnfToHmapOctet(set_.ctx, set_.spool, set_.job, fill);
    ostrelinGnfToHmapOctetInit(set_.ctx, set_.spool, set_.job, 0, 0, 1);
    set_.ctx->rasterOperation = c.operation;
    const uint8_t pixel[3] = {source, source, source};
    ostrelinGnfToHmapOctet(set_.ctx, set_.spool, set_.job, pixel);
    EXPECT_EQ(GreyRow(0, 0, 1)[0], c.expected) << std::hex << c.operation;
  }
}

TEST_F(BitmapIntake, ThreePlaneRowsIndexThePalette) {
  Init();
  set_.spool->rowBytes = 1;
  set_.spool->rowPixels = 8;
  set_.spool->rowBuffer[0][0] = 0b10101010;
  set_.spool->rowBuffer[1][0] = 0b11001100;
  set_.spool->rowBuffer[2][0] = 0b11110000;
  raster::PutPlaneRow(*set_.ctx, *set_.spool, *set_.job);
  std::vector<uint8_t> expected;
  for (int index : {7, 6, 5, 4, 3, 2, 1, 0})
    expected.push_back(raster::GreyOf(set_.ctx->rasterPalette[index]));
  EXPECT_EQ(GreyRow(0, 0, 8), expected);
  EXPECT_EQ(set_.spool->pendingPlane, -1);
}

TEST_F(BitmapIntake, FinishPlaneClearsTheRestAndKeepsTheSeed) {
  set_.spool->rowBytes = 4;
  set_.spool->pendingPlane = 1;
  std::memset(set_.spool->rowBuffer[1], 0xAA, 4);
  raster::FinishPlane(*set_.spool, 2);
  EXPECT_EQ((std::vector<uint8_t>(set_.spool->seedRows[1], set_.spool->seedRows[1] + 4)),
            (std::vector<uint8_t>{0xAA, 0xAA, 0, 0}));
}

TEST_F(BitmapIntake, RefusesRowsThatDoNotFitOncePerBitmap) {
  Init();
  const int32_t stride = raster::GreyLayerStride(*set_.ctx);
  const int32_t rows = raster::LayerRows(*set_.ctx);
  std::vector<uint8_t> rgb(3 * 40000, 0);
  struct Case {
    const char* what;
    double x, y;
    uint32_t pixels;
    int rowCount;
    const char* message;
    int32_t rowsWritten;
  };
  const Case cases[] = {
      {"exactly the stride", 0, 0, static_cast<uint32_t>(stride), 1, nullptr, 1},
      {"one pixel more than the stride", 0, 0, static_cast<uint32_t>(stride + 1), 3, "Plate size error", 0},
      {"longer than the row buffer", 0, 0, 40000, 3, "Bitmap error", 0},
      {"left of the plate", -1.0, 0, 10, 2, "Plate size error", 0},
      {"past the layer's last row", 0, Mm(rows - 1), 10, 3, "Plate size error", 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    messages_.texts.clear();
    ostrelinGnfToHmapOctetInit(set_.ctx, set_.spool, set_.job, c.x, c.y, c.pixels);
    const int32_t first = set_.job->currentRow;
    for (int i = 0; i < c.rowCount; ++i) ostrelinGnfToHmapOctet(set_.ctx, set_.spool, set_.job, rgb.data());
    if (c.message == nullptr) {
      EXPECT_TRUE(messages_.texts.empty());
    } else {
      ASSERT_EQ(messages_.texts.size(), 1u);
      EXPECT_NE(messages_.texts[0].find(c.message), std::string::npos) << messages_.texts[0];
    }
    EXPECT_EQ(set_.job->currentRow - first, c.rowsWritten);
  }
}

TEST_F(BitmapIntake, FullDiskGivesWriteFileErrorAndLeavesNoFile) {
  Init();
  FailingFiles files;
  files.layerWritesBeforeFailure = 3;
  ostrelinGnfToHmapOctetInit(set_.ctx, set_.spool, set_.job, 0, 0, 8);
  const uint8_t rgb[24] = {};
  ostrelinGnfToHmapOctet(set_.ctx, set_.spool, set_.job, rgb);
  ASSERT_EQ(messages_.texts.size(), 1u);
  EXPECT_NE(messages_.texts[0].find("Write file error"), std::string::npos);
  EXPECT_EQ(set_.job->greyLayer, nullptr);
  EXPECT_TRUE(LeftoverFiles().empty());
}

TEST(WorkRow, GrowsForResolutionsAbove3600Dpi) {
  Context ctx{};
  ctx.plateWidthHmm = 30000;
  ctx.plateHeightHmm = 20000;
  ctx.engineResolution = 500;
  ctx.engravingResX = 500;
  ctx.engravingResY = 500;
  EXPECT_EQ(raster::WorkRowBytesNeeded(ctx), RoundHalfAway(30500 * 3600 / 2540.0));
  ctx.engravingResY = 7200;
  EXPECT_EQ(raster::WorkRowBytesNeeded(ctx), RoundHalfAway(30500 * 7200 / 2540.0));
}

// Whole jobs through the exports: the raster records of every layer between the header and the close.
class RasterJob : public RasterTest {
 protected:
  static double Mm(int32_t dots) { return dots * 25.4 / 500.0; }
};

TEST_F(RasterJob, ColourAndGreyLayersMakeACompleteJob) {
  SetU16(settings_, settings::ClassBlock(3) + settings::kClassPower, 100);
  SetU16(settings_, settings::ClassBlock(3) + settings::kClassSpeed, 250);
  Init();
  ostrelinGnfToHmapBitInit(set_.ctx, set_.spool, set_.job, Mm(16), Mm(2), 16, 3);
  const uint8_t bits[2] = {0xFF, 0x0F};
  for (int i = 0; i < 2; ++i) ostrelinGnfToHmapBit(set_.ctx, set_.spool, set_.job, bits);
  ostrelinGnfToHmapOctetInit(set_.ctx, set_.spool, set_.job, Mm(100), Mm(10), 2);
  const uint8_t rgb[6] = {0, 0, 0, 0, 0, 0};
  ostrelinGnfToHmapOctet(set_.ctx, set_.spool, set_.job, rgb);
  ostrelinDoBinary(set_.ctx, set_.spool, set_.job);
  ASSERT_TRUE(messages_.texts.empty()) << messages_.texts.front();
  const std::vector<uint8_t> stream = Stream();
  const size_t colour = Find(stream, Bytes({Record("PW", 100), Record("VD", 250), Record("vd", 2500)}));
  ASSERT_NE(colour, std::string::npos);
  // Colour layer: move to byte 2 (16 dots) and row 2, two rows of bits.
  const size_t moves = Find(stream, Bytes({Record("RX", 0),
                                           Record("RX", 16),
                                           Record("RY", 0),
                                           Record("RY", 2),
                                           Record("C1", 2),
                                           {0x01, 0xFF, 0x0F, 0x80},
                                           Record("C2", 2),
                                           {0x01, 0xF0, 0xFF, 0x80}}));
  EXPECT_GT(moves, colour);
  // Grey layer: class 0's records without "PW", then its zone with its own "PW" (black: full power P).
  const size_t grey = Find(stream, Bytes({Record("VD", 100), Record("vd", 1000), Record("AI", 0)}), moves);
  ASSERT_NE(grey, std::string::npos);
  EXPECT_NE(Find(stream, Bytes({Record("PW", 50)}), grey), std::string::npos);
  const std::vector<uint8_t> tail = Bytes({Record("PU", 0), Record("AI", 0), Record("OP", 0)});
  EXPECT_NE(Find(stream, tail, grey), std::string::npos);
  EXPECT_EQ(set_.job->greyLayer, nullptr);
  EXPECT_EQ(set_.job->workRow, nullptr);
  for (void* layer : set_.job->colourLayers) EXPECT_EQ(layer, nullptr);
}

TEST_F(RasterJob, ClassesOutsideTheRasterModesAreClosedWithoutOutput) {
  SetU16(settings_, settings::ClassBlock(5) + settings::kClassColourMode, 2);
  Init();
  ostrelinGnfToHmapBitInit(set_.ctx, set_.spool, set_.job, 0, 0, 8, 5);
  const uint8_t bits[1] = {0xFF};
  ostrelinGnfToHmapBit(set_.ctx, set_.spool, set_.job, bits);
  ostrelinDoBinary(set_.ctx, set_.spool, set_.job);
  const std::vector<uint8_t> stream = Stream();
  ASSERT_GE(stream.size(), 36u);
  EXPECT_EQ(Find(stream, Record("C1", 1)), std::string::npos);
  EXPECT_EQ(set_.job->colourLayers[5], nullptr);
}

}  // namespace
}  // namespace ostrelin::test
