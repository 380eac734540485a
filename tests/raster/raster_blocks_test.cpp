// Raster blocks: run-length coding, zones, sections, moves, passes and depth records of one layer.
#include "engine/raster/raster_blocks.h"

#include <gtest/gtest.h>

#include <string>

#include "engine/error.h"
#include "engine/settings.h"
#include "engine/settings_layout.h"
#include "raster/raster_test_support.h"

namespace ostrelin::test {
namespace {

using raster::EncodeRow;

std::vector<uint8_t> Encode(const std::vector<uint8_t>& row, bool reversed = false, bool bits = false) {
  std::vector<uint8_t> out(row.size() + row.size() / 128 + 2);
  std::vector<uint8_t> scratch(row.size());
  out.resize(EncodeRow(row.data(), row.size(), reversed, bits, out.data(), scratch.data()));
  return out;
}

TEST(EncodeRow, CodesRunsAndLiteralsExactly) {
  struct Case {
    std::vector<uint8_t> row;
    std::vector<uint8_t> coded;
  };
  const Case cases[] = {
      {{0x05, 0x05, 0x05, 0x07}, {0xFE, 0x05, 0x00, 0x07}},
      {{0x01, 0x02, 0x03}, {0x02, 0x01, 0x02, 0x03}},
      {{0x09}, {0x00, 0x09}},
      {{0x01, 0x02}, {0x01, 0x01, 0x02, 0x80}},
      {{0x01, 0x02, 0x02, 0x03}, {0x00, 0x01, 0xFF, 0x02, 0x00, 0x03}},
      {std::vector<uint8_t>(130, 0), {0x81, 0x00, 0xFF, 0x00}},
  };
  for (const Case& c : cases) EXPECT_EQ(Encode(c.row), c.coded) << "row of " << c.row.size() << " bytes";
}

TEST(EncodeRow, LiteralsHoldAtMost128Bytes) {
  std::vector<uint8_t> row(130);
  for (size_t i = 0; i < row.size(); ++i) row[i] = static_cast<uint8_t>(i);
  const std::vector<uint8_t> coded = Encode(row);
  ASSERT_EQ(coded.size(), 132u);  // header 127 and 128 bytes, then header 1 and 2 bytes
  EXPECT_EQ(coded[0], 127);
  EXPECT_EQ(coded[128], 127);
  EXPECT_EQ(coded[129], 1);
  EXPECT_EQ(coded[130], 128);
  EXPECT_EQ(coded[131], 129);
}

TEST(EncodeRow, ReversesBytesAndForBitsTheBitOrder) {
  EXPECT_EQ(Encode({0x01, 0x02, 0x03}, true, false), (std::vector<uint8_t>{0x02, 0x03, 0x02, 0x01}));
  EXPECT_EQ(Encode({0xF0, 0x01}, true, true), (std::vector<uint8_t>{0x01, 0x80, 0x0F, 0x80}));
}

// One token of the stream: a record's code and value; rows also carry their data.
struct Token {
  std::string code;
  int32_t value;
  std::vector<uint8_t> data;
};

std::vector<Token> Parse(const std::vector<uint8_t>& stream) {
  std::vector<Token> tokens;
  for (size_t i = 0; i + 6 <= stream.size();) {
    EXPECT_EQ(stream[i], 0xFF);
    EXPECT_EQ(stream[i + 1], 0xFD);
    Token t{std::string{static_cast<char>(stream[i + 2]), static_cast<char>(stream[i + 3])},
            static_cast<int16_t>((stream[i + 4] << 8) | stream[i + 5]),
            {}};
    i += 6;
    if (t.code == "C1" || t.code == "C2" || t.code == "C3" || t.code == "C4") {
      const size_t n = 2 * static_cast<uint16_t>(t.value);
      t.data.assign(stream.begin() + static_cast<long>(i), stream.begin() + static_cast<long>(i + n));
      i += n;
    }
    tokens.push_back(t);
  }
  return tokens;
}

std::string Codes(const std::vector<Token>& tokens) {
  std::string codes;
  for (const Token& t : tokens) codes += (codes.empty() ? "" : " ") + t.code;
  return codes;
}

class RasterBlocks : public RasterTest {
 protected:
  void SetUp() override {
    RasterTest::SetUp();
    SetU16(settings_, settings::ClassBlock(0) + settings::kClassPower, 100);  // P = 128
  }
  // Writes the grey raster of a layer of stride x rows whose rows [y0, y1) hold value at [x0, x1).
  std::vector<uint8_t> GreyRaster(int32_t stride, int32_t rows, std::vector<uint8_t> layer) {
    Init();
    SetGreyLayer(layer, stride, rows);
    raster::WriteGreyRaster(*set_.ctx, *set_.spool, *set_.job);
    return Stream();
  }
  static void Fill(std::vector<uint8_t>& layer, int32_t stride, int32_t y0, int32_t y1, int32_t x0,
                   int32_t x1, uint8_t value) {
    for (int32_t y = y0; y < y1; ++y) {
      for (int32_t x = x0; x < x1; ++x) layer[static_cast<size_t>(y * stride + x)] = value;
    }
  }
};

TEST_F(RasterBlocks, GreyLayerExampleGivesExactBytes) {
  std::vector<uint8_t> layer(200 * 30, 0);
  Fill(layer, 200, 10, 13, 100, 104, 128);
  const std::vector<uint8_t> expected = Bytes({Record("PW", 100),
                                               Record("RX", 0),
                                               Record("RX", 100),
                                               Record("RY", 0),
                                               Record("RY", 10),
                                               Record("C1", 1),
                                               {0x00, 0xF0},
                                               Record("C2", 1),
                                               {0x00, 0x0F},
                                               Record("C1", 1),
                                               {0x00, 0xF0},
                                               Record("R5", 0)});
  EXPECT_EQ(GreyRaster(200, 30, layer), expected);
  EXPECT_EQ(set_.job->headX, 100);
  EXPECT_EQ(set_.job->headY, 13);
  EXPECT_EQ(set_.spool->directionFlag, 0);
  EXPECT_GT(set_.job->estimatedTime, 0.0);
}

TEST_F(RasterBlocks, RowsAlternateAndEndWithR5OnlyAfterAForwardRow) {
  struct Case {
    int32_t rows;
    bool oneWay;
    const char* codes;
  };
  const Case cases[] = {
      {3, false, "PW RX RX RY RY C1 C2 C1 R5"},
      {2, false, "PW RX RX RY RY C1 C2"},
      {2, true, "PW RX RX RY RY C1 C5 C1 C5"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.codes);
    RecordSet fresh;
    std::swap(set_.ctx, fresh.ctx);
    std::swap(set_.spool, fresh.spool);
    std::swap(set_.job, fresh.job);
    SetU16(settings_, settings::kFlagWord, c.oneWay ? settings::kFlagOneWay : 0);
    std::vector<uint8_t> layer(50 * 20, 0);
    Fill(layer, 50, 5, 5 + c.rows, 10, 20, 128);
    EXPECT_EQ(Codes(Parse(GreyRaster(50, 20, layer))), c.codes);
    ostrelinClean(set_.ctx, set_.spool, set_.job);
    std::swap(set_.ctx, fresh.ctx);
    std::swap(set_.spool, fresh.spool);
    std::swap(set_.job, fresh.job);
    initialised_ = false;
  }
}

TEST_F(RasterBlocks, FourEmptyRowsSplitZonesThreeDoNot) {
  std::vector<uint8_t> layer(40 * 40, 0);
  Fill(layer, 40, 2, 3, 4, 8, 50);
  Fill(layer, 40, 6, 7, 4, 8, 60);    // 3 empty rows between: same zone
  Fill(layer, 40, 11, 12, 4, 8, 70);  // 4 empty rows between: a new zone
  const std::vector<Token> tokens = Parse(GreyRaster(40, 40, layer));
  // Zone 1 is rows 2..6 (bytes, two values), zone 2 is row 11 (two-level, level 70).
  EXPECT_EQ(Codes(tokens), "RX RX RY RY C3 C4 C3 C4 C3 R5 PW RX RX RY RY C1 R5");
  EXPECT_EQ(tokens[13].value, 0);  // RY high word
  EXPECT_EQ(tokens[14].value, 4);  // from row 7 (after zone 1) to row 11
  EXPECT_EQ(tokens[10].value, RoundHalfAway(70 / 1.28));
}

TEST_F(RasterBlocks, TwoLevelPowerAndOutputToFile) {
  std::vector<uint8_t> layer(20 * 10, 0);
  Fill(layer, 20, 1, 2, 2, 6, 102);
  EXPECT_EQ(Codes(Parse(GreyRaster(20, 10, layer))), "PW RX RX RY RY C1 R5");
  EXPECT_EQ(Parse(Stream())[0].value, 80);
  // The output-to-file flag switches two-level zones off: the same zone goes as bytes without "PW".
  ostrelinClean(set_.ctx, set_.spool, set_.job);
  initialised_ = false;
  SetU16(settings_, settings::kOutputToFile, 1);
  RecordSet other;
  std::swap(set_.ctx, other.ctx);
  std::swap(set_.spool, other.spool);
  std::swap(set_.job, other.job);
  EXPECT_EQ(Codes(Parse(GreyRaster(20, 10, layer))), "RX RX RY RY C3 R5");
  ostrelinClean(set_.ctx, set_.spool, set_.job);
  initialised_ = false;
  std::swap(set_.ctx, other.ctx);
  std::swap(set_.spool, other.spool);
  std::swap(set_.job, other.job);
}

TEST_F(RasterBlocks, PowerNextToClassPowerIsSentAsClassPower) {
  for (const uint8_t level : {127, 129}) {
    RecordSet fresh;
    std::swap(set_.ctx, fresh.ctx);
    std::swap(set_.spool, fresh.spool);
    std::swap(set_.job, fresh.job);
    std::vector<uint8_t> layer(20 * 10, 0);
    Fill(layer, 20, 1, 2, 2, 6, level);
    EXPECT_EQ(Parse(GreyRaster(20, 10, layer))[0].value, 100) << int{level};
    ostrelinClean(set_.ctx, set_.spool, set_.job);
    initialised_ = false;
    std::swap(set_.ctx, fresh.ctx);
    std::swap(set_.spool, fresh.spool);
    std::swap(set_.job, fresh.job);
  }
}

TEST_F(RasterBlocks, NegativeMoveIsSentAsTwoWords) {
  std::vector<uint8_t> layer(20 * 10, 0);
  Fill(layer, 20, 3, 4, 5, 6, 128);
  Init();
  SetGreyLayer(layer, 20, 10);
  set_.job->headX = 10;
  set_.job->headY = 3;
  raster::WriteGreyRaster(*set_.ctx, *set_.spool, *set_.job);
  const std::vector<uint8_t> stream = Stream();
  EXPECT_EQ(
      Find(stream, Bytes({Record("RX", 0xFFFF), Record("RX", 0xFFFB), Record("RY", 0), Record("RY", 0)})),
      6u);
}

TEST_F(RasterBlocks, PassesAndDepthRecords) {
  struct Case {
    int16_t passes;
    int32_t depthStepSetting;  // settings value; the class word is minus a tenth of it
    uint16_t depthMode;
    uint16_t firstDotMode;
    const char* codes;
    std::vector<int32_t> depths;
  };
  const Case cases[] = {
      // Depth mode 1: "RF" step between passes, "RF" -sum at the end.
      {2, 100, 1, 0, "PW RX RX RY RY C1 R5 RF PW RX RX RY RY C1 R5 RF", {-10, 10}},
      // Depth mode 0: the step before the first section of every pass.
      {2, 100, 0, 0, "PW RX RX RY RY RF C1 R5 PW RX RX RY RY RF C1 R5 RF", {-10, -10, 20}},
      // A pass count of 0 engraves the layer once.
      {0, 0, 0, 0, "PW RX RX RY RY C1 R5", {}},
      // First-dot mode 2 sends the total depth at every section.
      {2, 100, 0, 2, "PW RX RX RY RY ZA RF C1 R5 PW RX RX RY RY ZA RF C1 R5 RF", {-10, -20, 20}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.codes);
    RecordSet fresh;
    std::swap(set_.ctx, fresh.ctx);
    std::swap(set_.spool, fresh.spool);
    std::swap(set_.job, fresh.job);
    const size_t block = settings::ClassBlock(0);
    SetU16(settings_, block + settings::kClassPasses, static_cast<uint16_t>(c.passes));
    SetU32(settings_, block + settings::kClassDepthStep, static_cast<uint32_t>(c.depthStepSetting));
    SetU16(settings_, block + settings::kClassDepthMode, c.depthMode);
    SetU16(settings_, settings::kFirstDotMode, c.firstDotMode);
    std::vector<uint8_t> layer(20 * 10, 0);
    Fill(layer, 20, 1, 2, 1, 2, 128);
    const std::vector<Token> tokens = Parse(GreyRaster(20, 10, layer));
    std::vector<int32_t> depths;
    for (const Token& t : tokens) {
      if (t.code == "RF") depths.push_back(t.value);
    }
    EXPECT_EQ(Codes(tokens), c.codes);
    EXPECT_EQ(depths, c.depths);
    ostrelinClean(set_.ctx, set_.spool, set_.job);
    initialised_ = false;
    std::swap(set_.ctx, fresh.ctx);
    std::swap(set_.spool, fresh.spool);
    std::swap(set_.job, fresh.job);
  }
}

TEST_F(RasterBlocks, FirstDotModeOneSendsZaOnlyOnce) {
  SetU16(settings_, settings::kFirstDotMode, 1);
  std::vector<uint8_t> layer(20 * 20, 0);
  Fill(layer, 20, 1, 2, 6, 8, 128);
  Fill(layer, 20, 2, 3, 3, 8, 128);
  Fill(layer, 20, 12, 13, 3, 4, 128);
  const std::vector<Token> tokens = Parse(GreyRaster(20, 20, layer));
  // The first dot (6, 1) first, then the zone's start (3, 1); the second zone has no "ZA".
  EXPECT_EQ(Codes(tokens), "PW RX RX RY RY ZA RX RX RY RY C1 C2 PW RX RX RY RY C1 R5");
  EXPECT_EQ(tokens[2].value, 6);
  EXPECT_EQ(tokens[7].value, -3);
  EXPECT_EQ(set_.ctx->firstDotMode, 0);
}

TEST_F(RasterBlocks, BottomUpEngravesFromTheLastRow) {
  SetU16(settings_, settings::kFlagWord, settings::kFlagBottomUp);
  std::vector<uint8_t> layer(20 * 20, 0);
  Fill(layer, 20, 0, 1, 2, 3, 128);  // row 0: the layer's first row is engraved last
  Fill(layer, 20, 4, 5, 2, 4, 128);
  const std::vector<Token> tokens = Parse(GreyRaster(20, 20, layer));
  EXPECT_EQ(Codes(tokens), "PW RX RX RY RY C1 C2 C1 C2 C1 R5");
  EXPECT_EQ(tokens[4].value, 4);  // starts at row 4
  EXPECT_EQ(tokens[5].data, (std::vector<uint8_t>{0x00, 0xC0}));
  EXPECT_EQ(tokens[10 - 1].data, (std::vector<uint8_t>{0x00, 0x80}));  // row 0, forward
  EXPECT_EQ(set_.job->headY, -1);
}

TEST_F(RasterBlocks, SectionSplitEngravesSeparatedColumnsApart) {
  SetU16(settings_, settings::kFlagWord, settings::kFlagSectionSplit);
  std::vector<uint8_t> layer(40 * 10, 0);
  Fill(layer, 40, 1, 3, 2, 4, 128);
  Fill(layer, 40, 1, 3, 6, 7, 128);    // 2 empty columns: same section
  Fill(layer, 40, 2, 3, 10, 12, 128);  // 3 empty columns: next section, first dot in row 2
  const std::vector<Token> tokens = Parse(GreyRaster(40, 10, layer));
  EXPECT_EQ(Codes(tokens), "PW RX RX RY RY C1 C2 RX RX RY RY C1 C2");
  EXPECT_EQ(tokens[2].value, 2);
  EXPECT_EQ(tokens[5].data, (std::vector<uint8_t>{0x00, 0xC8}));  // dots 2..6 of the first section
  EXPECT_EQ(tokens[8].value, 8);                                  // from x 2 to x 10
}

TEST_F(RasterBlocks, StampBorderClearsEmptyBands) {
  // 10 x 10 layer: a full frame of 9s on rows 0, 1, 8, 9 and columns 0, 1, 8, 9, and a dot at (5, 5).
  const int32_t n = 10;
  std::vector<uint8_t> layer(n * n, 0);
  for (int32_t y = 0; y < n; ++y) {
    for (int32_t x = 0; x < n; ++x) {
      if (y < 2 || y >= n - 2 || x < 2 || x >= n - 2) layer[static_cast<size_t>(y * n + x)] = 9;
    }
  }
  layer[5 * n + 5] = 7;
  // Left band (column 2 or 3) holds a dot: the left border stays.
  layer[4 * n + 3] = 7;
  Init();
  SetGreyLayer(layer, n, n);
  raster::ClearStampBorder(*set_.ctx, *set_.job, &set_.job->greyLayer);
  const std::vector<uint8_t> cleared = ReadLayer(set_.job->greyLayer, layer.size());
  for (int32_t y = 0; y < n; ++y) {
    for (int32_t x = 0; x < n; ++x) {
      const uint8_t before = layer[static_cast<size_t>(y * n + x)];
      const bool cleared_band = y < 2 || y >= n - 2 || x >= n - 2;
      EXPECT_EQ(cleared[static_cast<size_t>(y * n + x)], cleared_band ? 0 : before) << x << "," << y;
    }
  }
}

TEST_F(RasterBlocks, LongHeadMovesKeepTheirTime) {
  // A zone 400 mm to the right costs more travel time than one 300 mm to the right (a 16-bit move in
  // hundredths of a millimetre would wrap at 327.67 mm and make it cheaper).
  const int32_t stride = 8000;  // 500 dpi: 400 mm = 7874 dots
  double times[2];
  const int32_t xs[2] = {5906, 7874};
  for (int i = 0; i < 2; ++i) {
    RecordSet fresh;
    std::swap(set_.ctx, fresh.ctx);
    std::swap(set_.spool, fresh.spool);
    std::swap(set_.job, fresh.job);
    std::vector<uint8_t> layer(static_cast<size_t>(stride) * 2, 0);
    layer[static_cast<size_t>(xs[i])] = 128;
    GreyRaster(stride, 2, layer);
    times[i] = set_.job->estimatedTime;
    ostrelinClean(set_.ctx, set_.spool, set_.job);
    initialised_ = false;
    std::swap(set_.ctx, fresh.ctx);
    std::swap(set_.spool, fresh.spool);
    std::swap(set_.job, fresh.job);
  }
  EXPECT_GT(times[1], times[0]);
}

TEST_F(RasterBlocks, ColourLayerMovesInBytesTimesEight) {
  Init();
  // Colour layer of 4 bytes x 10 rows; row 2 has dots 16..19 (byte 2).
  std::vector<uint8_t> layer(4 * 10, 0);
  layer[2 * 4 + 2] = 0xF0;
  set_.job->currentClass = 3;
  set_.job->colourLayers[3] = MakeLayer(layer);
  set_.job->currentStride = 4;
  set_.job->currentRows = 10;
  set_.ctx->currentWidthDots = 32;
  raster::WriteColourRaster(*set_.ctx, *set_.spool, *set_.job);
  const std::vector<Token> tokens = Parse(Stream());
  EXPECT_EQ(Codes(tokens), "RX RX RY RY C1 R5");
  EXPECT_EQ(tokens[1].value, 16);
  EXPECT_EQ(tokens[4].data, (std::vector<uint8_t>{0x00, 0xF0}));
  EXPECT_EQ(set_.job->headX, 2);  // bytes
}

// A row record counts its coded row in 16-bit words. A row of w bytes with no two equal neighbours
// codes to w + ceil(w / 128) bytes, padded to even: 130,053 bytes give exactly 65,535 words; one byte
// more would need 65,536, which the record cannot say, and the layer is refused.
TEST_F(RasterBlocks, RowsBeyondTheRecordWordCountAreRefused) {
  struct Case {
    int32_t width;
    bool accepted;
  };
  for (const Case c : {Case{130053, true}, Case{130054, false}}) {
    SCOPED_TRACE(c.width);
    RecordSet fresh;
    std::swap(set_.ctx, fresh.ctx);
    std::swap(set_.spool, fresh.spool);
    std::swap(set_.job, fresh.job);
    messages_.texts.clear();
    std::vector<uint8_t> layer(static_cast<size_t>(c.width));
    for (size_t x = 0; x < layer.size(); ++x) layer[x] = static_cast<uint8_t>(1 + x % 2);
    Init();
    SetGreyLayer(layer, c.width, 1);
    if (c.accepted) {
      raster::WriteGreyRaster(*set_.ctx, *set_.spool, *set_.job);
      const std::vector<Token> tokens = Parse(Stream());
      ASSERT_EQ(Codes(tokens), "C3 R5");
      EXPECT_EQ(static_cast<uint16_t>(tokens[0].value), 0xFFFF);
      EXPECT_TRUE(messages_.texts.empty());
    } else {
      EXPECT_THROW(raster::WriteGreyRaster(*set_.ctx, *set_.spool, *set_.job), EngineAbort);
      EXPECT_EQ(messages_.texts, std::vector<std::string>{"Plate size error"});
      EXPECT_TRUE(Stream().empty()) << "no record of the refused row";
    }
    ostrelinClean(set_.ctx, set_.spool, set_.job);
    initialised_ = false;
    std::swap(set_.ctx, fresh.ctx);
    std::swap(set_.spool, fresh.spool);
    std::swap(set_.job, fresh.job);
  }
}

}  // namespace
}  // namespace ostrelin::test
