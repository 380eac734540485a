// Loading the driver settings record: job header block, class parameters, tables, printer data, limits.
#include <gtest/gtest.h>

#include <cstring>

#include "engine/error.h"
#include "engine/scratch.h"
#include "engine/settings.h"
#include "engine/settings_layout.h"
#include "engine/settings_tables.h"
#include "support/fakes.h"
#include "support/test_support.h"

namespace ostrelin::test {
namespace {

namespace s = settings;

struct Loaded {
  RecordSet set;
  CapturedMessages messages;
  bool failed = false;
};

// Loads a record into fresh records; failed tells whether the load ended through the error frame.
void Load(Loaded& loaded, std::vector<uint8_t>& record, void* printer = nullptr) {
  try {
    LoadSettings(*loaded.set.ctx, *loaded.set.job, record.data(), printer);
  } catch (const EngineAbort&) {
    loaded.failed = true;
  }
}

TEST(Settings, SpeedsAreConvertedOnceAndVdReadsTheWordAsSigned) {
  auto record = DefaultSettings();
  SetU16(record, s::ClassBlock(2) + s::kClassSpeed, 3500);
  Loaded first;
  Load(first, record);
  EXPECT_EQ(s::View(record.data()).U16(s::ClassBlock(2) + s::kClassSpeed), 35000);
  EXPECT_NE(s::View(record.data()).U16(s::kFlagWord) & s::kFlagSpeedsConverted, 0);
  Loaded second;
  Load(second, record);
  EXPECT_EQ(s::View(record.data()).U16(s::ClassBlock(2) + s::kClassSpeed), 35000);
  const int16_t word = second.set.ctx->classParams[2][kWordSpeed];
  EXPECT_EQ(static_cast<uint16_t>(word), 35000);
  EXPECT_EQ(word / 10, -3053);
}

TEST(Settings, JobHeaderBlockFields) {
  auto record = DefaultSettings();
  std::memcpy(record.data() + s::kIdentification, "IDENTIFICATION16", 16);
  SetU16(record, s::kVersion, 1234);
  SetU32(record, s::kPassThrough16, static_cast<uint32_t>(-1234));
  SetU32(record, s::kTcSpeed, 17009);
  SetU16(record, s::ClassBlock(0) + s::kClassPower, 80);
  SetU16(record, s::ClassBlock(0) + s::kClassSpeed, 250);
  SetU32(record, s::kPlateWidthUm, 300005);
  SetU16(record, s::kRasterOptionsA + 2, 1);  // grey-power option
  SetU16(record, s::kFactor16, 3);
  SetU32(record, s::kFactor32, 1001);
  SetU16(record, s::kMotionWord, 0x0102);
  SetU16(record, s::kPassThrough280, static_cast<uint16_t>(-7));
  SetU16(record, s::kPassThrough284, static_cast<uint16_t>(-100));
  SetU16(record, s::kFirstSource, 13);
  SetU16(record, s::kSecondSource, 16);
  SetU16(record, s::kFlagWord, s::kFlagBottomUp);
  Loaded loaded;
  Load(loaded, record);
  ASSERT_FALSE(loaded.failed);
  const Context& ctx = *loaded.set.ctx;
  EXPECT_EQ(std::memcmp(ctx.jobHeader.ident, "IDENTIFICATION16", 16), 0);
  struct Case {
    int offset;
    int32_t value;
  };
  const Case cases[] = {
      {16, -123},  {28, 260},  {36, 1700},   {40, 500},      {48, 80},   {52, 250},    {56, 30000},
      {60, 30000}, {92, -1},   {96, 300},    {100, 2},       {112, 1},   {120, -7},    {124, 1},
      {128, 100},  {132, 1},   {176, 2500},  {180, 65559},   {184, -1},  {188, 30},
  };
  for (const Case& c : cases) EXPECT_EQ(HeaderWord(ctx, c.offset), c.value) << "offset " << c.offset;
  for (int offset = 144; offset < 176; offset += 4) EXPECT_EQ(HeaderWord(ctx, offset), 0);
}

TEST(Settings, HeaderOffset120DependsOnMachineKindAndOffset92OnNegative) {
  struct Case {
    uint16_t kind;
    uint16_t negative;
    int32_t at120;
    int32_t at92;
  };
  for (const Case& c : {Case{1, 0, 9, -1}, Case{4, 1, 9, 1}, Case{11, 0, 9, -1}, Case{2, 1, -1, 1},
                        Case{5, 0, -1, -1}}) {
    auto record = DefaultSettings();
    SetU16(record, s::kMachineKind, c.kind);
    SetU16(record, s::kPassThrough280, 9);
    SetU16(record, s::kRasterOptionsA, 1);
    SetU16(record, s::kRasterOptionsA + 8, c.negative);
    SetU32(record, s::kVectorRes, 500);
    Loaded loaded;
    Load(loaded, record);
    EXPECT_EQ(HeaderWord(*loaded.set.ctx, 120), c.at120) << "kind " << c.kind;
    EXPECT_EQ(HeaderWord(*loaded.set.ctx, 92), c.at92) << "kind " << c.kind;
    EXPECT_EQ(loaded.set.job->machineKind, c.kind);
    EXPECT_EQ(loaded.set.ctx->scalingFrameFlag, c.kind == 1 || c.kind == 4 ? 1 : 0);
    EXPECT_EQ(loaded.set.ctx->kind5or11Flag, c.kind == 5 || c.kind == 11 ? 1 : 0);
  }
}

TEST(Settings, ClassParametersAndWhiteClass) {
  auto record = DefaultSettings();
  SetU16(record, s::ClassBlock(3) + s::kClassPower, 100);
  SetU16(record, s::ClassBlock(3) + s::kClassPasses, 4);
  SetU32(record, s::ClassBlock(3) + s::kClassDepthStep, 125);
  SetU16(record, s::ClassBlock(3) + s::kClassDepthMode, 1);
  SetU16(record, s::ClassBlock(3) + s::kClassColourMode, 7);
  SetU16(record, s::ClassBlock(3) + s::kClassAi, 3);
  SetU16(record, s::SecondClassBlock(3) + s::kClassFr, 11);
  const uint16_t slCodes[] = {0, 1, 2, 0, 1, 9, 0, 0};
  for (int c = 0; c < 8; ++c) SetU16(record, s::SecondClassBlock(c) + s::kClassSlCode, slCodes[c]);
  Loaded loaded;
  Load(loaded, record);
  const int16_t* w = loaded.set.ctx->classParams[3];
  EXPECT_EQ(w[kWordPower], 128);
  EXPECT_EQ(w[kWordPasses], 4);
  EXPECT_EQ(w[kWordDepthStep], -12);
  EXPECT_EQ(w[kWordDepthMode], 1);
  EXPECT_EQ(w[kWordColourMode], 7);
  EXPECT_EQ(w[kWordAi], 3);
  EXPECT_EQ(w[kWordFr], 11);
  const int16_t slWords[] = {1, 2, 0, 1, 2, 0, 1, 1};
  for (int c = 0; c < 8; ++c) EXPECT_EQ(loaded.set.ctx->classParams[c][kWordSl], slWords[c]) << c;
  const int16_t* white = loaded.set.ctx->classParams[8];
  EXPECT_EQ(white[kWordPower], 0);
  EXPECT_EQ(white[kWordSpeed], 1000);
  EXPECT_EQ(white[kWordPasses], 1);
  EXPECT_EQ(white[kWordAi], 0);
  EXPECT_EQ(white[kWordFr], 0);
}

TEST(Settings, PowerRoundTripsThroughTheClassWord) {
  for (int power = 0; power <= 100; ++power) {
    auto record = DefaultSettings();
    SetU16(record, s::ClassBlock(0) + s::kClassPower, static_cast<uint16_t>(power));
    Loaded loaded;
    Load(loaded, record);
    const int16_t word = loaded.set.ctx->classParams[0][kWordPower];
    EXPECT_EQ(RoundHalfAway(word / 1.28), power);
  }
}

TEST(Settings, RasterOptionsAndGreyPipelineFlag) {
  struct Case {
    size_t offset;
    bool pipeline;
  };
  // A2 grey power, A4 halftone, A6 error diffusion, B1 stamp set the flag; A3 does not.
  for (const Case& c : {Case{s::kRasterOptionsA + 2, true}, Case{s::kRasterOptionsA + 6, true},
                        Case{s::kRasterOptionsA + 10, true}, Case{s::kRasterOptionsB, true},
                        Case{s::kRasterOptionsA + 4, false}}) {
    auto record = DefaultSettings();
    SetU16(record, c.offset, 1);
    SetU16(record, s::kRasterOptionsB + 4, 257);
    SetU16(record, s::kRasterOptionsB + 6, 99);
    Loaded loaded;
    Load(loaded, record);
    EXPECT_EQ(loaded.set.ctx->greyPipelineFlag, c.pipeline ? 1 : 0) << c.offset;
    EXPECT_EQ(loaded.set.ctx->rasterOptionsB[2], 25);
    EXPECT_EQ(loaded.set.ctx->rasterOptionsB[3], 9);
  }
}

TEST(Settings, CornerTableChoiceForTheClassicController) {
  struct Case {
    uint16_t model;
    uint16_t fast;
    uint16_t tc;
    const OstrelinCornerTable* table;
  };
  for (const Case& c : {Case{268, 1, 0, &AngleLsXpFast}, Case{267, 0, 0, &AngleLsXp}, Case{269, 1, 0, &AngleLsStd},
                        Case{271, 1, 0, &AngleLsFast}, Case{271, 0, 0, &AngleLsStd}, Case{268, 1, 1, &AngleLsTc}}) {
    auto record = DefaultSettings();
    SetU16(record, s::kModel, c.model);
    SetU16(record, s::kFastFlag, c.fast);
    SetU16(record, s::kTcFlag, c.tc);
    Loaded loaded;
    Load(loaded, record);
    EXPECT_EQ(std::memcmp(&loaded.set.job->cornerTable, c.table, sizeof *c.table), 0) << "model " << c.model;
  }
}

TEST(Settings, BuiltInCornerTableContents) {
  EXPECT_EQ(sizeof(OstrelinCornerTable), 140u);
  EXPECT_EQ(sizeof(OstrelinVectorParams), 36u);
  EXPECT_EQ(AngleLsStd.corner[0][0], 500);
  EXPECT_EQ(AngleLsStd.corner[2][0], 20);
  EXPECT_EQ(AngleLsStd.corner[15][0], 15);
  EXPECT_EQ(AngleLsStd.corner[16][0], 10);
  EXPECT_EQ(AngleLsFast.corner[3][0], 50);
  EXPECT_EQ(AngleLsFast.corner[4][0], 25);
  EXPECT_EQ(AngleLsXpFast.corner[5][0], 100);
  EXPECT_EQ(AngleLsXpFast.corner[6][0], 50);
  EXPECT_EQ(AngleLsXp.corner[25][0], 15);
  EXPECT_EQ(AngleLsTc.corner[25][0], 10);
  EXPECT_EQ(AngleLsTc.corner[7][1], 1000);
  EXPECT_EQ(AngleLsXp.corner[7][1], 2400);
  EXPECT_EQ(AngleLsTc.params.penDownMinSpeed, 1000);
  EXPECT_EQ(AngleLsXpFast.params.penDownAccel, 750);
  EXPECT_EQ(AngleLsXpFast.params.penUpMaxSpeed, 750);
  EXPECT_EQ(AngleLsFast.params.penUpMaxSpeed, 300);
  EXPECT_EQ(AngleLsStd.params.penDownMaxSpeed, 0);
}

TEST(Settings, VectorParameterSetForProfilingControllers) {
  struct Case {
    uint16_t model;
    uint16_t fast;
    uint16_t tc;
    uint32_t tcSpeed;
    int16_t accelLong;
    int16_t minimum;
  };
  for (const Case& c : {Case{260, 0, 0, 0, 1000, 3}, Case{271, 1, 0, 0, 1500, 3}, Case{268, 1, 0, 0, 2000, 3},
                        Case{260, 0, 1, 17000, 400, 2}, Case{260, 0, 1, 14000, 400, 1},
                        Case{260, 0, 1, 20000, 400, 3}}) {
    auto record = DefaultSettings();
    SetU16(record, s::kModel, c.model);
    SetU16(record, s::kFastFlag, c.fast);
    SetU16(record, s::kTcFlag, c.tc);
    SetU32(record, s::kTcSpeed, c.tcSpeed);
    SetU16(record, s::kMotionWord, 0x0100);
    Loaded loaded;
    Load(loaded, record);
    const OstrelinVectorParams& p = loaded.set.job->cornerTable.params;
    EXPECT_EQ(loaded.set.ctx->controllerFlag, 1);
    EXPECT_EQ(p.penUpAccelLong, c.accelLong) << "model " << c.model;
    EXPECT_EQ(p.penUpMinSpeed, c.minimum) << "tc speed " << c.tcSpeed;
    EXPECT_EQ(p.penDownMinSpeed, c.minimum);
    EXPECT_EQ(loaded.set.job->cornerTable.corner[0][0], 0);  // corner entries untouched
  }
}

TEST(Settings, PrinterDataReplacesTheBuiltInVectorTables) {
  MemorySpooler spooler;
  uint8_t block[36] = {};
  block[0] = 1;      // variant flag
  block[14] = 0x58;  // pen-up maximum speed 600 = 0x258
  block[15] = 0x02;
  const float width = 0.25f;
  std::memcpy(block + 32, &width, 4);
  spooler.data["VectorSpeedValue"].assign(block, block + 36);
  auto record = DefaultSettings();

  spooler.data["VectorSpeed"] = {1, 0, 0, 0};
  Loaded taken;
  Load(taken, record, spooler.printerHandle);
  EXPECT_EQ(taken.set.job->cornerTable.params.variantFlag, 1);
  EXPECT_EQ(taken.set.job->cornerTable.params.penUpMaxSpeed, 600);
  EXPECT_FLOAT_EQ(taken.set.job->cornerTable.params.prePassWidthMm, 0.25f);
  EXPECT_EQ(taken.set.job->cornerTable.corner[0][0], 0);  // built-in table skipped

  spooler.data["VectorSpeed"] = {2, 0, 0, 0};
  Loaded ignored;
  Load(ignored, record, spooler.printerHandle);
  EXPECT_EQ(std::memcmp(&ignored.set.job->cornerTable, &AngleLsStd, sizeof AngleLsStd), 0);

  Loaded withoutPrinter;
  spooler.data["VectorSpeed"] = {1, 0, 0, 0};
  Load(withoutPrinter, record, nullptr);
  EXPECT_EQ(std::memcmp(&withoutPrinter.set.job->cornerTable, &AngleLsStd, sizeof AngleLsStd), 0);
}

TEST(Settings, FlagsVectorWordAndJobRecordFields) {
  auto record = DefaultSettings();
  SetU16(record, s::kFlagWord, s::kFlagEstimateOnly | s::kFlagOneWay | s::kFlagFileOrder | s::kFlagVectorResOverride);
  SetU32(record, s::kVectorResOverride, 1016);
  SetU32(record, s::kVectorRes, 1200);
  SetU16(record, s::kOutputToFile, 1);
  Loaded loaded;
  Load(loaded, record);
  EXPECT_EQ(loaded.set.ctx->vectorWord, 1016);
  EXPECT_EQ(loaded.set.ctx->vectorResolution, 1200.0);
  EXPECT_EQ(loaded.set.ctx->oneWayFlag, 1);
  EXPECT_EQ(loaded.set.ctx->fileOrderFlag, 1);
  EXPECT_EQ(loaded.set.ctx->bottomUpFlag, 0);
  EXPECT_EQ(loaded.set.job->estimateOnly, 1);
  EXPECT_EQ(loaded.set.job->outputToFile, 1);

  SetU32(record, s::kVectorResOverride, 0);
  Loaded noOverride;
  Load(noOverride, record);
  EXPECT_EQ(noOverride.set.ctx->vectorWord, 500);
}

TEST(Settings, LanguageChoosesTheMessageTable) {
  struct Case {
    uint16_t language;
    const char* memoryError;
  };
  for (const Case& c : {Case{0, "Erreur memoire"}, Case{1, "Memory error"}, Case{2, "Speicher Fehler"},
                        Case{3, "Geheugenfout"}, Case{4, "Error memoria"}, Case{5, "Errore di memoria"},
                        Case{6, "????"}, Case{9, "Memory error"}}) {
    auto record = DefaultSettings();
    SetU16(record, s::kLanguage, c.language);
    Loaded loaded;
    Load(loaded, record);
    EXPECT_STREQ(loaded.set.ctx->messages[8], c.memoryError);
  }
  auto record = DefaultSettings();
  SetU16(record, s::kLanguage, 2);
  Loaded german;
  Load(german, record);
  EXPECT_STREQ(german.set.ctx->messages[2], "Fehler Plattengr\xF6\xDF" "e");
  EXPECT_STREQ(german.set.ctx->messages[5], "Tempor\xE4rer Datei Fehler");
}

TEST(Settings, UnusableResolutionsAndPlatesAreRefused) {
  struct Case {
    size_t offset;
    uint32_t value;
    bool wide;
    const char* message;
  };
  for (const Case& c : {Case{s::kEngineRes, 0, false, "DPI error"}, Case{s::kEngravingResX, 0, false, "DPI error"},
                        Case{s::kEngravingResY, 40000, false, "DPI error"}, Case{s::kVectorRes, 0, true, "DPI error"},
                        Case{s::kPlateWidthUm, 0, true, "Plate size error"},
                        Case{s::kPlateHeightUm, 4000000000u, true, "Plate size error"}}) {
    auto record = DefaultSettings();
    if (c.wide) {
      SetU32(record, c.offset, c.value);
    } else {
      SetU16(record, c.offset, static_cast<uint16_t>(c.value));
    }
    Loaded loaded;
    Load(loaded, record);
    EXPECT_TRUE(loaded.failed) << c.offset;
    ASSERT_EQ(loaded.messages.texts.size(), 1u);
    EXPECT_EQ(loaded.messages.texts[0], c.message);
    EXPECT_EQ(loaded.messages.styles[0], 0x30030u);
  }
}

TEST(Settings, VectorResolutionZeroIsAcceptedWhenStrokesAreNotInDots) {
  auto record = DefaultSettings();
  SetU16(record, s::kMachineKind, 2);
  SetU32(record, s::kVectorRes, 0);
  Loaded loaded;
  Load(loaded, record);
  EXPECT_FALSE(loaded.failed);
}

TEST(Settings, StorePrinterDataOpensThePrinterByName) {
  MemorySpooler spooler;
  const uint8_t value[4] = {0x70, 0x11, 0x01, 0x00};
  StorePrinterData(spooler.printerHandle, "TempsEstime", 4, value, 4);
  EXPECT_EQ(spooler.data["TempsEstime"], std::vector<uint8_t>(value, value + 4));
  EXPECT_EQ(spooler.types["TempsEstime"], 4u);
  EXPECT_EQ(spooler.lastAccess, 0xF000Cu);
  EXPECT_EQ(spooler.opened, 1);
  EXPECT_EQ(spooler.closed, 1);
  // A handle that is not a printer stores nothing and opens nothing.
  int notAPrinter = 0;
  StorePrinterData(&notAPrinter, "TempsEstime", 4, value, 4);
  EXPECT_EQ(spooler.opened, 1);
}

}  // namespace
}  // namespace ostrelin::test
