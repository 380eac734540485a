// Power tables and halftone screen: tab_pui, error diffusion, TabPui and ring labelling, tab_ndg and trame.
#include "engine/raster/power_tables.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "engine/raster/screening.h"
#include "engine/raster/trame_order.h"
#include "platform/platform.h"
#include "raster/raster_test_support.h"

namespace ostrelin::test {
namespace {

// A context with class 0 power P, brightness and raster options set directly.
struct Options {
  int16_t power = 128;
  int32_t brightness = 50;
  bool negative = false;
};

Context MakeContext(const Options& o) {
  Context ctx{};
  ctx.classParams[0][0] = o.power;
  ctx.brightness = o.brightness;
  ctx.rasterOptionsA[4] = o.negative ? 1 : 0;
  ctx.engravingResX = 500;
  ctx.engravingResY = 500;
  return ctx;
}

TEST(TabPui, FollowsTheSquareRootLawBrightnessAndNegative) {
  const auto plain = raster::BuildTabPui(MakeContext({}));
  EXPECT_EQ(plain[255], 0);
  EXPECT_EQ(plain[0], 128);
  EXPECT_EQ(plain[128], 90);
  const auto darker = raster::BuildTabPui(MakeContext({128, 40, false}));
  const auto lighter = raster::BuildTabPui(MakeContext({128, 60, false}));
  for (int i = 0; i < 256; ++i) {
    if (plain[i] == 0) continue;
    EXPECT_EQ(lighter[i], std::max(plain[i] - 10, 0)) << i;
    EXPECT_EQ(darker[i], std::min(plain[i] + 10, 128)) << i;
  }
  const auto negative = raster::BuildTabPui(MakeContext({128, 50, true}));
  EXPECT_EQ(negative[255], 128);
  EXPECT_EQ(negative[0], 0);
}

TEST(TabPui, StampTableClimbsThroughInnerAndOuterRings) {
  Context ctx = MakeContext({});
  ctx.rasterOptionsB[1] = 50;  // shoulder power, percent
  ctx.rasterOptionsB[2] = 15;  // shoulder width: 3 rings at 500 dpi
  ctx.rasterOptionsB[3] = 5;   // inner width: 1 ring
  ASSERT_EQ(raster::ShoulderRings(ctx), 3);
  ASSERT_EQ(raster::InnerShoulderRings(ctx), 1);
  const auto table = raster::BuildStampTable(ctx, 3, 1);
  EXPECT_EQ((std::vector<uint8_t>(table.begin(), table.begin() + 5)),
            (std::vector<uint8_t>{128, 0, 64, 96, 128}));
  // An inner width wider than the shoulder is limited to it; a shoulder beyond 254 rings to 254.
  ctx.rasterOptionsB[3] = 100;
  EXPECT_EQ(raster::InnerShoulderRings(ctx), 3);
  ctx.rasterOptionsB[2] = 2000;
  EXPECT_EQ(raster::ShoulderRings(ctx), 254);
}

TEST(TabNdg, ShiftsDarknessByBrightnessAndKeepsWhiteOff) {
  const auto plain = raster::BuildTabNdg(MakeContext({}));
  EXPECT_EQ(plain[0], 255);
  EXPECT_EQ(plain[191], 64);
  EXPECT_EQ(plain[255], 0);
  const auto lighter = raster::BuildTabNdg(MakeContext({128, 60, false}));
  EXPECT_EQ(lighter[250], 0);        // darkness 5 - 26, clamped
  EXPECT_EQ(lighter[200], 55 - 26);  // 2.55 x 10 = 25.5 rounds to 26
  EXPECT_EQ(raster::BuildTabNdg(MakeContext({128, 0, false}))[255], 0);
  const auto negative = raster::BuildTabNdg(MakeContext({128, 50, true}));
  EXPECT_EQ(negative[255], 255);
  EXPECT_EQ(negative[0], 0);
}

class GreyLayerSteps : public RasterTest {
 protected:
  void SetUp() override {
    RasterTest::SetUp();
    SetU16(settings_, 88, 100);  // class 0 power 100 %: P = 128
  }
  std::vector<uint8_t> Layer() {
    return ReadLayer(set_.job->greyLayer,
                     static_cast<size_t>(set_.job->currentStride * set_.job->currentRows));
  }
};

TEST_F(GreyLayerSteps, DiffusionMakesOnlyBlackAndWhiteAndLeavesWhiteAlone) {
  SetU16(settings_, 60 + 2 * 5, 1);  // A6: error diffusion
  Init();
  // Left half grey 128, right half white, with a black column between.
  const int32_t w = 16, h = 8;
  std::vector<uint8_t> layer(static_cast<size_t>(w * h));
  for (int32_t y = 0; y < h; ++y) {
    for (int32_t x = 0; x < w; ++x) layer[static_cast<size_t>(y * w + x)] = x < 7 ? 128 : (x == 7 ? 0 : 255);
  }
  SetGreyLayer(layer, w, h);
  raster::MapGreyToPower(*set_.ctx, *set_.spool, *set_.job);
  const std::vector<uint8_t> power = Layer();
  int full = 0;
  for (int32_t y = 0; y < h; ++y) {
    for (int32_t x = 0; x < w; ++x) {
      const uint8_t p = power[static_cast<size_t>(y * w + x)];
      EXPECT_TRUE(p == 0 || p == 128) << x << "," << y;
      if (x > 7) {
        EXPECT_EQ(p, 0) << "white dot " << x << "," << y;
      }
      if (x < 7 && p == 128) ++full;
    }
  }
  // A mid grey diffuses to a mixture: neither all on nor all off.
  EXPECT_GT(full, 7 * h / 4);
  EXPECT_LT(full, 3 * 7 * h / 4);
}

// The diffusion as worded, in single-precision floating point: the engine's integer sixteenths must give
// the same dots on noisy layers, white-heavy layers and layers near the clamps.
TEST_F(GreyLayerSteps, DiffusionMatchesTheSinglePrecisionWording) {
  SetU16(settings_, 60 + 2 * 5, 1);  // A6: error diffusion
  Init();
  const int32_t w = 61, h = 23;
  auto reference = [&](std::vector<uint8_t> layer) {
    auto spread = [](uint8_t& value, float amount) {
      if (value == 255) return;
      value = static_cast<uint8_t>(std::clamp(static_cast<float>(value) + amount, 0.0f, 255.0f));
    };
    for (int32_t y = 0; y + 1 < h; ++y) {
      uint8_t* current = layer.data() + y * w;
      uint8_t* next = current + w;
      for (int32_t x = 0; x < w; ++x) {
        const int32_t old = current[x];
        const int32_t error = old > 127 ? old - 255 : old;
        current[x] = old > 127 ? 255 : 0;
        if (x + 1 < w) spread(current[x + 1], 7.0f * static_cast<float>(error) / 16.0f);
        if (x > 0) spread(next[x - 1], 3.0f * static_cast<float>(error) / 16.0f);
        spread(next[x], 5.0f * static_cast<float>(error) / 16.0f);
        if (x + 1 < w) spread(next[x + 1], static_cast<float>(error) / 16.0f);
      }
    }
    for (int32_t x = 0; x < w; ++x)
      layer[static_cast<size_t>((h - 1) * w + x)] =
          layer[static_cast<size_t>((h - 1) * w + x)] > 127 ? 255 : 0;
    return layer;
  };
  std::mt19937 random(11);
  for (int kind = 0; kind < 4; ++kind) {
    SCOPED_TRACE(kind);
    std::vector<uint8_t> layer(static_cast<size_t>(w * h));
    for (uint8_t& v : layer) {
      const uint32_t r = random();
      v = kind == 0   ? static_cast<uint8_t>(r)                          // noise
          : kind == 1 ? static_cast<uint8_t>(r % 3 == 0 ? 255 : r >> 8)  // much white
          : kind == 2
              ? static_cast<uint8_t>(r % 2 == 0 ? 250 + (r >> 8) % 6 : (r >> 8) % 6)  // near the clamps
              : static_cast<uint8_t>(120 + (r >> 8) % 16);                            // near the threshold
    }
    const std::vector<uint8_t> expected = reference(layer);
    SetGreyLayer(layer, w, h);
    raster::MapGreyToPower(*set_.ctx, *set_.spool, *set_.job);
    const std::vector<uint8_t> power = Layer();
    for (size_t i = 0; i < power.size(); ++i) {
      EXPECT_EQ(power[i], expected[i] == 255 ? 0 : 128) << "dot " << i % w << "," << i / w;
    }
    CloseLayerFile(&set_.job->greyLayer);
  }
}

TEST_F(GreyLayerSteps, OneRowLayerIsOnlyThresholded) {
  SetU16(settings_, 60 + 2 * 5, 1);
  Init();
  SetGreyLayer({127, 128, 200, 30}, 4, 1);
  raster::MapGreyToPower(*set_.ctx, *set_.spool, *set_.job);
  EXPECT_EQ(Layer(), (std::vector<uint8_t>{128, 0, 0, 128}));
}

TEST_F(GreyLayerSteps, ScreenLevelsFollowTheOrderMatrix) {
  SetU16(settings_, 60 + 2 * 3, 1);  // A4: halftone
  Init();
  const int32_t w = 16, h = 16;
  for (const uint8_t grey : {191, 253, 0, 255}) {
    SCOPED_TRACE(int{grey});
    SetGreyLayer(std::vector<uint8_t>(static_cast<size_t>(w * h), grey), w, h);
    raster::ScreenGreyLayer(*set_.ctx, *set_.job);
    const std::vector<uint8_t> screened = Layer();
    const int level = grey == 191 ? 16 : grey == 253 ? 1 : grey == 0 ? 64 : 0;
    for (int32_t y = 0; y < h; ++y) {
      for (int32_t x = 0; x < w; ++x) {
        const bool on = raster::kTrameOrder[y % 8][x % 8] <= level;
        EXPECT_EQ(screened[static_cast<size_t>(y * w + x)], on ? 128 : 0) << x << "," << y;
      }
    }
    CloseLayerFile(&set_.job->greyLayer);
  }
  // Grey 253 lights only cell (3, 3); dot (9, 10) uses cell (row 2, column 1).
  EXPECT_EQ(raster::kTrameOrder[3][3], 1);
  std::vector<uint8_t> one(static_cast<size_t>(w * h), 255);
  one[10 * w + 9] = 255 - 4 * raster::kTrameOrder[2][1];  // exactly the level of cell (2, 1)
  SetGreyLayer(one, w, h);
  raster::ScreenGreyLayer(*set_.ctx, *set_.job);
  const std::vector<uint8_t> screened = Layer();
  EXPECT_EQ(screened[10 * w + 9], 128);
}

TEST_F(GreyLayerSteps, StampThresholdSplitsAtMidGrey) {
  SetU16(settings_, 76, 1);          // B1: stamp
  SetU16(settings_, 60 + 2 * 2, 1);  // A3: stamp threshold
  Init();
  SetGreyLayer({128, 127, 128, 127, 128, 127, 128, 127}, 8, 1);
  raster::ScreenGreyLayer(*set_.ctx, *set_.job);
  // Darkness 127 is off; darkness 128 is full (level 64): every cell on, as 1 for the stamp.
  EXPECT_EQ(Layer(), (std::vector<uint8_t>{0, 1, 0, 1, 0, 1, 0, 1}));
}

TEST_F(GreyLayerSteps, ShoulderRingsAroundARaisedDot) {
  SetU16(settings_, 76, 1);        // B1: stamp
  SetU16(settings_, 76 + 2, 50);   // B2: shoulder power 50 %
  SetU16(settings_, 76 + 4, 150);  // B3: 15 hundredths once divided: k = 3
  SetU16(settings_, 76 + 6, 50);   // B4: 5 hundredths: d = 1
  Init();
  const int32_t n = 9;
  std::vector<uint8_t> layer(static_cast<size_t>(n * n), 0);
  layer[4 * n + 4] = 1;
  SetGreyLayer(layer, n, n);
  raster::StampShoulder(*set_.ctx, *set_.job);
  const std::vector<uint8_t> power = Layer();
  const uint8_t tabPui[] = {128, 0, 64, 96, 128};
  for (int32_t y = 0; y < n; ++y) {
    for (int32_t x = 0; x < n; ++x) {
      const int ring = std::max(std::abs(x - 4), std::abs(y - 4));
      const int label = ring == 0 ? 1 : (ring <= 3 ? ring + 1 : 0);
      EXPECT_EQ(power[static_cast<size_t>(y * n + x)], tabPui[label]) << x << "," << y;
    }
  }
}

// Native memory that reports a chosen amount of available physical memory, which sizes the row blocks.
class ReportedMemory : public platform::Memory {
 public:
  explicit ReportedMemory(uint64_t available)
      : available_(available), previous_(platform::InstallMemory(this)) {}
  ~ReportedMemory() override { platform::InstallMemory(previous_); }
  void* Allocate(size_t size, bool zeroFill) override {
    return platform::NativeMemory().Allocate(size, zeroFill);
  }
  void Free(void* block) override { platform::NativeMemory().Free(block); }
  uint64_t AvailablePhysical() override { return available_; }

 private:
  uint64_t available_;
  platform::Memory* previous_;
};

// Raised dots (1) on background (0): scattered dots, a few rectangles and dots in vertical pairs, so
// that areas meet block boundaries with rings above, below and between them.
std::vector<uint8_t> RaisedPattern(int32_t width, int32_t rows, uint32_t seed) {
  std::mt19937 random(seed);
  std::vector<uint8_t> layer(static_cast<size_t>(width * rows), 0);
  auto set = [&](int32_t x, int32_t y) {
    if (x >= 0 && x < width && y >= 0 && y < rows) layer[static_cast<size_t>(y * width + x)] = 1;
  };
  for (int i = 0; i < width * rows / 40; ++i)
    set(static_cast<int32_t>(random() % width), static_cast<int32_t>(random() % rows));
  for (int i = 0; i < 6; ++i) {
    const auto x0 = static_cast<int32_t>(random() % width);
    const auto y0 = static_cast<int32_t>(random() % rows);
    const auto w = static_cast<int32_t>(random() % 9 + 1);
    const auto h = static_cast<int32_t>(random() % 15 + 1);
    for (int32_t y = y0; y < y0 + h; ++y) {
      for (int32_t x = x0; x < x0 + w; ++x) set(x, y);
    }
  }
  for (int i = 0; i < 10; ++i) {
    const auto x = static_cast<int32_t>(random() % width);
    const auto y = static_cast<int32_t>(random() % rows);
    set(x, y);
    set(x, y + 2 + static_cast<int32_t>(random() % 4));
  }
  return layer;
}

// The layers labelled in blocks (available memory too small for the whole layer) come out exactly as
// the same layers labelled whole: every block boundary falls inside a ring at some pass.
TEST_F(GreyLayerSteps, BlockedShoulderMatchesTheWholeLayer) {
  SetU16(settings_, 76, 1);       // B1: stamp
  SetU16(settings_, 76 + 2, 40);  // B2: shoulder power 40 %
  Init();
  const int32_t width = 41, rows = 150;
  struct Case {
    int32_t rings;
    uint16_t widthHmm;  // shoulder width giving that many rings at 500 dpi
  };
  for (const Case c : {Case{1, 5}, Case{2, 10}, Case{3, 15}, Case{5, 25}, Case{7, 36}}) {
    set_.ctx->rasterOptionsB[2] = c.widthHmm;
    set_.ctx->rasterOptionsB[3] = static_cast<uint16_t>(c.widthHmm / 2);
    ASSERT_EQ(raster::ShoulderRings(*set_.ctx), c.rings);
    for (uint32_t seed = 1; seed <= 4; ++seed) {
      const std::vector<uint8_t> pattern = RaisedPattern(width, rows, seed);
      std::vector<uint8_t> whole;
      {
        const ReportedMemory plenty(1ull << 32);
        SetGreyLayer(pattern, width, rows);
        raster::StampShoulder(*set_.ctx, *set_.job);
        whole = Layer();
        CloseLayerFile(&set_.job->greyLayer);
      }
      // Budgets (two thirds of the available memory) of a few rows: nothing (the smallest block, 2k + 2
      // rows), odd sizes, and one row short of the whole layer.
      for (const int32_t budgetRows : {0, 2 * c.rings + 5, 23, 64, rows - 1}) {
        SCOPED_TRACE("rings " + std::to_string(c.rings) + ", seed " + std::to_string(seed) +
                     ", budget rows " + std::to_string(budgetRows));
        const ReportedMemory scarce(static_cast<uint64_t>(budgetRows) * width * 3 / 2 + 1);
        SetGreyLayer(pattern, width, rows);
        raster::StampShoulder(*set_.ctx, *set_.job);
        const std::vector<uint8_t> blocked = Layer();
        CloseLayerFile(&set_.job->greyLayer);
        int32_t differing = 0;
        for (size_t i = 0; i < whole.size(); ++i) {
          if (blocked[i] != whole[i] && ++differing <= 3) {
            ADD_FAILURE() << "dot " << i % width << "," << i / width << ": " << int{blocked[i]}
                          << " instead of " << int{whole[i]};
          }
        }
        EXPECT_EQ(differing, 0);
      }
    }
  }
}

}  // namespace
}  // namespace ostrelin::test
