// Raster pass and layer transforms: stepping parameters, plate cut, resolution change, orientation.
#include "engine/raster/layer_transforms.h"

#include <gtest/gtest.h>

#include "engine/raster/layer_io.h"
#include "raster/raster_test_support.h"

namespace ostrelin::test {
namespace {

using raster::AxisMap;
using raster::StepParameters;

TEST(StepParameters, ComputesTheWorkedExamples) {
  struct Case {
    uint32_t a, b;
    int result;
    int32_t entier, reste, plage;
  };
  const Case cases[] = {
      {600, 254, 1, 0, 127, 300}, {300, 1000, 1, 3, 1, 3}, {500, 1000, 1, 2, 0, 0},
      {500, 500, 1, 0, 1, 1},     {0, 500, 0, 0, 0, 0},    {500, 0, 0, 0, 0, 0},
  };
  for (const Case& c : cases) {
    int32_t entier = -1, reste = -1, plage = -1;
    EXPECT_EQ(StepParameters(c.a, c.b, &entier, &reste, &plage), c.result) << c.a << " -> " << c.b;
    EXPECT_EQ(entier, c.entier) << c.a << " -> " << c.b;
    EXPECT_EQ(reste, c.reste) << c.a << " -> " << c.b;
    EXPECT_EQ(plage, c.plage) << c.a << " -> " << c.b;
  }
}

TEST(AxisMap, ReductionKeepsEvenOffsetsOfEveryBlock) {
  const std::vector<int32_t> map = AxisMap(600, 254, 600);
  ASSERT_EQ(map.size(), 254u);
  for (size_t j = 0; j < map.size(); ++j)
    EXPECT_EQ(map[j], static_cast<int32_t>(300 * (j / 127) + 2 * (j % 127)));
  EXPECT_EQ(AxisMap(600, 300, 5), (std::vector<int32_t>{0, 2}));  // the last row is dropped
}

TEST(AxisMap, EnlargementRepeatsTheFirstDotOfEveryBlockOnceMore) {
  EXPECT_EQ(AxisMap(300, 1000, 6),
            (std::vector<int32_t>{0, 0, 0, 0, 1, 1, 1, 2, 2, 2, 3, 3, 3, 3, 4, 4, 4, 5, 5, 5}));
  EXPECT_EQ(AxisMap(500, 1000, 3), (std::vector<int32_t>{0, 0, 1, 1, 2, 2}));
  EXPECT_TRUE(AxisMap(500, 500, 3).empty());
}

class LayerTransforms : public RasterTest {
 protected:
  // Grey layer of W x H whose dot (x, y) is 10 y + x + 1.
  std::vector<uint8_t> Numbered(int32_t w, int32_t h) {
    std::vector<uint8_t> bytes(static_cast<size_t>(w * h));
    for (int32_t y = 0; y < h; ++y) {
      for (int32_t x = 0; x < w; ++x)
        bytes[static_cast<size_t>(y * w + x)] = static_cast<uint8_t>(10 * y + x + 1);
    }
    return bytes;
  }
};

TEST_F(LayerTransforms, FitToPlateCutsRowsInPlace) {
  Init();
  SetGreyLayer(Numbered(6, 5), 6, 5);
  set_.ctx->plateExtentWidth = 4;
  set_.ctx->plateExtentHeight = 3;
  raster::FitToPlate(*set_.ctx, *set_.job, &set_.job->greyLayer, true);
  EXPECT_EQ(set_.job->currentStride, 4);
  EXPECT_EQ(set_.job->currentRows, 3);
  EXPECT_EQ(ReadLayer(set_.job->greyLayer, 12),
            (std::vector<uint8_t>{1, 2, 3, 4, 11, 12, 13, 14, 21, 22, 23, 24}));
}

TEST_F(LayerTransforms, ColourLayerCutKeepsItsWidthInDotsAndMirrorsFromIt) {
  Init();
  // 4-byte rows; the extent is 13 dots: 2 bytes. Dot 12 is set in row 0.
  std::vector<uint8_t> layer(4 * 2, 0);
  layer[1] = 0x08;  // dot 12
  set_.job->currentClass = 1;
  set_.job->colourLayers[1] = MakeLayer(layer);
  set_.job->currentStride = 4;
  set_.job->currentRows = 2;
  set_.ctx->plateExtentWidth = 13;
  set_.ctx->plateExtentHeight = 2;
  raster::FitToPlate(*set_.ctx, *set_.job, &set_.job->colourLayers[1], false);
  EXPECT_EQ(set_.job->currentStride, 2);
  EXPECT_EQ(set_.ctx->currentWidthDots, 13);
  set_.ctx->orientation = 1;
  void* mirrored = raster::OrientLayer(*set_.ctx, *set_.job, &set_.job->colourLayers[1], false);
  ASSERT_NE(mirrored, nullptr);
  EXPECT_EQ(ReadLayer(mirrored, 4), (std::vector<uint8_t>{0x80, 0x00, 0x00, 0x00}));  // dot 12 -> dot 0
  CloseLayerFile(&mirrored);
}

TEST_F(LayerTransforms, ScalesGreyLayersOnBothAxes) {
  struct Case {
    uint16_t resX, resY;
    int32_t stride, rows;
    std::vector<uint8_t> expected;
  };
  const Case cases[] = {
      // 600 -> 300 both ways: rows 0 and 2, dots 0 and 2 (4 x 5 source).
      {300, 300, 2, 2, {1, 3, 21, 23}},
      // Enlarged in x (x2), reduced in y (rows 0, 2).
      {1200, 300, 8, 2, {1, 1, 2, 2, 3, 3, 4, 4, 21, 21, 22, 22, 23, 23, 24, 24}},
      // Equal in x, enlarged in y: every row twice.
      {600, 1200, 4, 10, {}},
  };
  for (const Case& c : cases) {
    RecordSet fresh;
    std::swap(set_.ctx, fresh.ctx);
    std::swap(set_.spool, fresh.spool);
    std::swap(set_.job, fresh.job);
    SetU16(settings_, 48, 600);
    SetU16(settings_, 44, c.resX);
    SetU16(settings_, 46, c.resY);
    Init();
    SetGreyLayer(Numbered(4, 5), 4, 5);
    raster::ScaleGreyLayer(*set_.ctx, *set_.job);
    EXPECT_EQ(set_.job->currentStride, c.stride);
    EXPECT_EQ(set_.job->currentRows, c.rows);
    const std::vector<uint8_t> got = ReadLayer(set_.job->greyLayer, static_cast<size_t>(c.stride * c.rows));
    if (!c.expected.empty()) {
      EXPECT_EQ(got, c.expected);
    } else {
      const std::vector<uint8_t> source = Numbered(4, 5);
      for (int32_t y = 0; y < c.rows; ++y) {
        for (int32_t x = 0; x < 4; ++x)
          EXPECT_EQ(got[static_cast<size_t>(y * 4 + x)], source[static_cast<size_t>((y / 2) * 4 + x)]);
      }
    }
    ostrelinClean(set_.ctx, set_.spool, set_.job);
    initialised_ = false;
    std::swap(set_.ctx, fresh.ctx);
    std::swap(set_.spool, fresh.spool);
    std::swap(set_.job, fresh.job);
  }
}

TEST_F(LayerTransforms, EqualResolutionsLeaveTheLayerAlone) {
  Init();
  SetGreyLayer(Numbered(4, 3), 4, 3);
  void* before = set_.job->greyLayer;
  raster::ScaleGreyLayer(*set_.ctx, *set_.job);
  EXPECT_EQ(set_.job->greyLayer, before);
  EXPECT_EQ(ReadLayer(set_.job->greyLayer, 12), Numbered(4, 3));
}

TEST_F(LayerTransforms, ScalesColourLayersBitByBit) {
  SetU16(settings_, 48, 600);
  SetU16(settings_, 44, 300);
  SetU16(settings_, 46, 600);
  Init();
  // 11 dots: 1 0 1 1 0 0 1 1 | 1 0 1 -> kept dots 0, 2, 4, 6, 8 (5 dots: 1 1 0 1 1).
  set_.job->currentClass = 2;
  set_.job->colourLayers[2] = MakeLayer({0xB3, 0xA0});
  set_.job->currentStride = 2;
  set_.job->currentRows = 1;
  set_.ctx->currentWidthDots = 11;
  raster::ScaleColourLayer(*set_.ctx, *set_.job);
  EXPECT_EQ(set_.ctx->currentWidthDots, 5);
  EXPECT_EQ(set_.job->currentStride, 1);
  EXPECT_EQ(ReadLayer(set_.job->colourLayers[2], 1), (std::vector<uint8_t>{0xD8}));
}

// Where dot (x, y) of a W x H layer lands for each orientation.
void Destination(int orientation, int32_t x, int32_t y, int32_t w, int32_t h, int32_t* nx, int32_t* ny) {
  switch (orientation) {
    case 1:
      *nx = w - 1 - x;
      *ny = y;
      break;
    case 2:
      *nx = x;
      *ny = h - 1 - y;
      break;
    case 3:
      *nx = w - 1 - x;
      *ny = h - 1 - y;
      break;
    case 4:
      *nx = y;
      *ny = x;
      break;
    case 5:
      *nx = h - 1 - y;
      *ny = x;
      break;
    case 6:
      *nx = y;
      *ny = w - 1 - x;
      break;
    default:
      *nx = h - 1 - y;
      *ny = w - 1 - x;
      break;
  }
}

TEST_F(LayerTransforms, OrientsGreyLayersInEveryOrientationAndBlockSize) {
  const int32_t w = 7, h = 13;
  for (int orientation = 1; orientation <= 7; ++orientation) {
    SCOPED_TRACE(orientation);
    Init();
    set_.ctx->orientation = orientation;
    SetGreyLayer(Numbered(w, h), w, h);
    void* oriented = raster::OrientLayer(*set_.ctx, *set_.job, &set_.job->greyLayer, true);
    const bool turned = orientation >= 4;
    EXPECT_EQ(set_.job->currentStride, turned ? h : w);
    EXPECT_EQ(set_.job->currentRows, turned ? w : h);
    const std::vector<uint8_t> got = ReadLayer(oriented, static_cast<size_t>(w * h));
    const int32_t newStride = turned ? h : w;
    for (int32_t y = 0; y < h; ++y) {
      for (int32_t x = 0; x < w; ++x) {
        int32_t nx = 0, ny = 0;
        Destination(orientation, x, y, w, h, &nx, &ny);
        EXPECT_EQ(got[static_cast<size_t>(ny * newStride + nx)], 10 * y + x + 1) << x << "," << y;
      }
    }
    CloseLayerFile(&oriented);
    CloseLayerFile(&set_.job->greyLayer);
  }
}

TEST_F(LayerTransforms, OrientsColourLayersBitByBit) {
  // 11 dots x 10 rows in 2-byte rows; dot (x, y) set when (x * 3 + y) % 4 == 0.
  const int32_t w = 11, h = 10, stride = 2;
  auto set = [](int32_t x, int32_t y) { return (x * 3 + y) % 4 == 0; };
  std::vector<uint8_t> layer(static_cast<size_t>(stride * h), 0);
  for (int32_t y = 0; y < h; ++y) {
    for (int32_t x = 0; x < w; ++x) {
      if (set(x, y)) layer[static_cast<size_t>(y * stride + x / 8)] |= static_cast<uint8_t>(0x80 >> (x % 8));
    }
  }
  for (int orientation = 1; orientation <= 7; ++orientation) {
    SCOPED_TRACE(orientation);
    Init();
    set_.ctx->orientation = orientation;
    set_.job->currentClass = 0;
    set_.job->colourLayers[0] = MakeLayer(layer);
    set_.job->currentStride = stride;
    set_.job->currentRows = h;
    set_.ctx->currentWidthDots = w;
    void* oriented = raster::OrientLayer(*set_.ctx, *set_.job, &set_.job->colourLayers[0], false);
    const bool turned = orientation >= 4;
    const int32_t newStride = turned ? 2 : stride;  // ceil(10 / 8)
    const int32_t newRows = !turned ? h : (orientation <= 5 ? 8 * stride : w);
    EXPECT_EQ(set_.job->currentStride, newStride);
    EXPECT_EQ(set_.job->currentRows, newRows);
    const std::vector<uint8_t> got = ReadLayer(oriented, static_cast<size_t>(newStride * newRows));
    std::vector<uint8_t> expected(got.size(), 0);
    for (int32_t y = 0; y < h; ++y) {
      for (int32_t x = 0; x < w; ++x) {
        int32_t nx = 0, ny = 0;
        Destination(orientation, x, y, w, h, &nx, &ny);
        if (set(x, y))
          expected[static_cast<size_t>(ny * newStride + nx / 8)] |= static_cast<uint8_t>(0x80 >> (nx % 8));
      }
    }
    EXPECT_EQ(got, expected);
    CloseLayerFile(&oriented);
    CloseLayerFile(&set_.job->colourLayers[0]);
  }
}

// Available memory small enough that the orientation works in blocks of a few rows.
class TinyMemory : public platform::Memory {
 public:
  TinyMemory() : previous_(platform::InstallMemory(this)) {}
  ~TinyMemory() override { platform::InstallMemory(previous_); }
  void* Allocate(size_t size, bool zeroFill) override {
    return platform::NativeMemory().Allocate(size, zeroFill);
  }
  void Free(void* block) override { platform::NativeMemory().Free(block); }
  uint64_t AvailablePhysical() override { return available; }
  uint64_t available = 60;

 private:
  platform::Memory* previous_;
};

TEST_F(LayerTransforms, TransposesInBlocksLikeInOne) {
  const int32_t w = 9, h = 21;
  Init();
  set_.ctx->orientation = 7;
  SetGreyLayer(Numbered(w, h), w, h);
  void* whole = raster::OrientLayer(*set_.ctx, *set_.job, &set_.job->greyLayer, true);
  const std::vector<uint8_t> expected = ReadLayer(whole, static_cast<size_t>(w * h));
  CloseLayerFile(&whole);
  set_.job->currentStride = w;
  set_.job->currentRows = h;
  TinyMemory tiny;  // blocks of 8 rows
  void* blocked = raster::OrientLayer(*set_.ctx, *set_.job, &set_.job->greyLayer, true);
  EXPECT_EQ(ReadLayer(blocked, static_cast<size_t>(w * h)), expected);
  CloseLayerFile(&blocked);
}

}  // namespace
}  // namespace ostrelin::test
