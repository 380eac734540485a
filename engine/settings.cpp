// The settings loader: job header block, colour-class parameters, raster options, vector tables,
// printer-data values and the message table, from the driver settings record.
#include "engine/settings.h"

#include <cstring>
#include <string>

#include "engine/error.h"
#include "engine/messages.h"
#include "engine/scratch.h"
#include "engine/settings_layout.h"
#include "engine/settings_tables.h"
#include "platform/platform.h"

namespace ostrelin {
namespace {

using settings::View;

void ConvertSpeedsOnce(uint8_t* record) {
  settings::Editor editor(record);
  const uint16_t flags = editor.U16(settings::kFlagWord);
  if ((flags & settings::kFlagSpeedsConverted) != 0) return;
  editor.SetU16(settings::kFlagWord, static_cast<uint16_t>(flags | settings::kFlagSpeedsConverted));
  for (int c = 0; c < 8; ++c) {
    const size_t offset = settings::ClassBlock(c) + settings::kClassSpeed;
    editor.SetU16(offset, static_cast<uint16_t>(editor.U16(offset) * 10u));
  }
}

void FillJobHeader(Context& ctx, const View& s, int32_t machineKind) {
  std::memcpy(ctx.jobHeader.ident, s.Bytes(settings::kIdentification), 16);
  auto word = [&ctx](int offset) -> int32_t& { return HeaderWord(ctx, offset); };
  word(16) = s.S32(settings::kPassThrough16) / 10;
  word(20) = s.S32(settings::kPassThrough20) / 10;
  word(24) = 0;
  word(28) = s.U16(settings::kModel);
  word(32) = s.U16(settings::kTcFlag);
  word(36) = static_cast<int32_t>(s.U32(settings::kTcSpeed) / 10);
  word(40) = s.U16(settings::kEngravingResX);
  word(44) = s.U16(settings::kEngravingResY);
  word(48) = s.U16(settings::ClassBlock(0) + settings::kClassPower);
  word(52) = s.U16(settings::ClassBlock(0) + settings::kClassSpeed) / 10;
  word(56) = static_cast<int32_t>(s.U32(settings::kPlateWidthUm) / 10);
  word(60) = static_cast<int32_t>(s.U32(settings::kPlateHeightUm) / 10);
  word(64) = s.U16(settings::kPassThrough26);
  word(68) = s.U16(settings::kPassThrough28);
  word(72) = 0;
  word(76) = s.U16(settings::kFirstDotMode);
  word(80) = s.U16(settings::kOrientation);
  word(84) = s.U16(settings::kRasterOptionsA + 2 * 6);  // A7 brightness
  word(88) = s.U16(settings::kRasterOptionsB);          // B1 stamp option
  const bool greyOptions = s.U16(settings::kRasterOptionsA) != 0 || s.U16(settings::kRasterOptionsA + 2) != 0;
  word(92) = !greyOptions ? 0 : (s.U16(settings::kRasterOptionsA + 2 * 4) != 0 ? 1 : -1);
  word(96) = static_cast<int32_t>(static_cast<uint32_t>(s.U16(settings::kFactor16)) *
                                  s.U32(settings::kFactor32) / 10u);
  word(100) = s.U16(settings::kMotionWord) & 0xFF;
  word(104) = s.U16(settings::kFastFlag);
  word(108) = s.U16(settings::kPassThrough30);
  word(112) = s.U16(settings::kMotionWord) >> 8;
  word(116) = s.U16(settings::kPassThrough270);
  const bool kindWithValue = machineKind == 1 || machineKind == 4 || machineKind == 11;
  word(120) = kindWithValue ? s.S16(settings::kPassThrough280) : -1;
  word(124) = s.U16(settings::kFlagWord) & settings::kFlagBottomUp;
  word(128) = SourceRating(0, s.U16(settings::kFirstSource));
  const int32_t sum = s.S16(settings::kPassThrough284) + 100;
  word(132) = sum == 0 ? 1 : sum;
  word(136) = s.S16(settings::kPassThrough286);
  word(140) = s.U16(settings::kPassThrough288);
  for (int offset = 144; offset < 176; offset += 4) word(offset) = 0;
  word(176) = s.U16(settings::ClassBlock(0) + settings::kClassSpeed);
  const int32_t v = s.U16(settings::kVersion) / 10;
  word(180) = (v / 100) * 65536 + v % 100;
  word(184) = -1;
  word(188) = SourceRating(1, s.U16(settings::kSecondSource));
}

void FillClassParameters(Context& ctx, const View& s) {
  for (int c = 0; c < 8; ++c) {
    const size_t block = settings::ClassBlock(c);
    const size_t second = settings::SecondClassBlock(c);
    int16_t* w = ctx.classParams[c];
    w[kWordPower] = static_cast<int16_t>(RoundHalfAway(s.U16(block + settings::kClassPower) * 1.28));
    w[kWordSpeed] = s.S16(block + settings::kClassSpeed);
    w[kWordPasses] = s.S16(block + settings::kClassPasses);
    w[kWordDepthStep] = static_cast<int16_t>(-(s.S32(block + settings::kClassDepthStep) / 10));
    w[kWordDepthMode] = s.S16(block + settings::kClassDepthMode);
    w[kWordColourMode] = s.S16(block + settings::kClassColourMode);
    w[kWordAi] = s.S16(block + settings::kClassAi);
    w[kWordFr] = s.S16(second + settings::kClassFr);
    const uint16_t slCode = s.U16(second + settings::kClassSlCode);
    w[kWordSl] = slCode == 0 ? 1 : (slCode == 1 ? 2 : 0);
  }
  int16_t* white = ctx.classParams[8];
  std::memset(white, 0, sizeof ctx.classParams[8]);
  white[kWordSpeed] = 1000;
  white[kWordPasses] = 1;
}

// Reads "VectorSpeed" and "VectorSpeedValue"; true when the vector parameters were taken from them.
bool LoadPrinterVectorParams(Job& job, void* printer) {
  platform::Spooler& spooler = platform::spooler();
  uint8_t flag[4] = {};
  uint32_t needed = 0;
  if (!spooler.GetPrinterData(printer, "VectorSpeed", flag, sizeof flag, &needed)) return false;
  if (View(flag).U32(0) != 1) return false;
  uint8_t block[36] = {};
  if (!spooler.GetPrinterData(printer, "VectorSpeedValue", block, sizeof block, &needed)) return false;
  job.cornerTable.params = DecodeVectorParams(block);
  return true;
}

void LoadBuiltInVectorTables(const Context& ctx, Job& job, const View& s) {
  const uint16_t model = s.U16(settings::kModel);
  const bool tc = s.U16(settings::kTcFlag) != 0;
  const bool fast = s.U16(settings::kFastFlag) != 0;
  if (ctx.controllerFlag == 0) {
    const OstrelinCornerTable* table = &AngleLsStd;
    if (tc) {
      table = &AngleLsTc;
    } else if (IsXpModel(model)) {
      table = fast ? &AngleLsXpFast : &AngleLsXp;
    } else if (IsFastModel(model) && fast) {
      table = &AngleLsFast;
    }
    job.cornerTable = *table;
    return;
  }
  if (tc) {
    job.cornerTable.params = ParamVitVectTc;
    const uint32_t tcSpeed = s.U32(settings::kTcSpeed) / 10;
    int16_t minimum = 3;
    if (tcSpeed < 1500) {
      minimum = 1;
    } else if (tcSpeed < 2000) {
      minimum = 2;
    }
    job.cornerTable.params.penUpMinSpeed = minimum;
    job.cornerTable.params.penDownMinSpeed = minimum;
  } else if (IsXpModel(model) && fast) {
    job.cornerTable.params = ParamVitVectXpFast;
  } else if (IsFastModel(model) && fast) {
    job.cornerTable.params = ParamVitVectFast;
  } else {
    job.cornerTable.params = ParamVitVectStd;
  }
}

// Refuses resolutions and plate sizes that would divide by zero or size buffers absurdly.
void CheckLimits(Context& ctx, const View& s) {
  for (size_t offset : {settings::kEngineRes, settings::kEngravingResX, settings::kEngravingResY}) {
    const uint16_t dpi = s.U16(offset);
    if (dpi == 0 || dpi > kMaxResolutionDpi) Fail(ctx, ErrorKind::kDpi);
  }
  if (ctx.scalingFrameFlag != 0 && (ctx.vectorResolution <= 0.0 || ctx.vectorResolution > kMaxResolutionDpi)) {
    Fail(ctx, ErrorKind::kDpi);
  }
  for (size_t offset : {settings::kPlateWidthUm, settings::kPlateHeightUm}) {
    const uint32_t micrometres = s.U32(offset);
    if (micrometres < kMinPlateUm || micrometres > kMaxPlateUm) Fail(ctx, ErrorKind::kPlateSize);
  }
}

}  // namespace

OstrelinVectorParams DecodeVectorParams(const uint8_t* bytes) {
  const View v(bytes);
  auto f32 = [&v](size_t offset) {
    const uint32_t bits = v.U32(offset);
    float value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
  };
  OstrelinVectorParams p{};
  p.variantFlag = v.S32(0);
  p.penUpMinSpeed = v.S16(4);
  p.penDownMinSpeed = v.S16(6);
  p.penUpAccelLong = v.S16(8);
  p.penUpAccelShort = v.S16(10);
  p.penDownAccel = v.S16(12);
  p.penUpMaxSpeed = v.S16(14);
  p.penDownMaxSpeed = v.S16(16);
  p.cornerToleranceBase = f32(20);
  p.cornerToleranceAtMax = f32(24);
  p.prePassCount = v.S16(28);
  p.prePassWidthMm = f32(32);
  return p;
}

void LoadSettings(Context& ctx, Job& job, uint8_t* record, void* printer) {
  // The message table first, so that every later failure speaks the chosen language.
  const View s(record);
  const char* const* texts = MessageTable(s.U16(settings::kLanguage));
  for (int i = 0; i < 16; ++i) ctx.messages[i] = texts[i];

  ConvertSpeedsOnce(record);
  const int32_t machineKind = s.U16(settings::kMachineKind);
  FillJobHeader(ctx, s, machineKind);
  FillClassParameters(ctx, s);

  for (int i = 0; i < 8; ++i) ctx.rasterOptionsA[i] = s.U16(settings::kRasterOptionsA + 2 * i);
  for (int i = 0; i < 6; ++i) ctx.rasterOptionsB[i] = s.U16(settings::kRasterOptionsB + 2 * i);
  ctx.rasterOptionsB[2] = static_cast<uint16_t>(ctx.rasterOptionsB[2] / 10);
  ctx.rasterOptionsB[3] = static_cast<uint16_t>(ctx.rasterOptionsB[3] / 10);
  ctx.greyPipelineFlag = (ctx.rasterOptionsB[0] != 0 || ctx.rasterOptionsA[3] != 0 ||
                          ctx.rasterOptionsA[5] != 0 || ctx.rasterOptionsA[1] != 0)
                             ? 1
                             : 0;

  ctx.controllerFlag = (s.U16(settings::kMotionWord) >> 8) != 0 ? 1 : 0;
  if (printer == nullptr || !LoadPrinterVectorParams(job, printer)) LoadBuiltInVectorTables(ctx, job, s);

  ctx.scalingFrameFlag = (machineKind == 0 || machineKind == 1 || machineKind == 4) ? 1 : 0;
  ctx.kind5or11Flag = (machineKind == 5 || machineKind == 11) ? 1 : 0;

  const uint16_t flags = s.U16(settings::kFlagWord);
  const uint32_t override = s.U32(settings::kVectorResOverride);
  ctx.vectorWord = ((flags & settings::kFlagVectorResOverride) != 0 && override != 0)
                       ? static_cast<int32_t>(override)
                       : s.U16(settings::kEngravingResX);
  ctx.vectorResolution = static_cast<double>(s.U32(settings::kVectorRes));

  ctx.engineResolution = s.U16(settings::kEngineRes);
  ctx.engravingResX = s.U16(settings::kEngravingResX);
  ctx.engravingResY = s.U16(settings::kEngravingResY);
  ctx.plateWidthHmm = static_cast<int32_t>(s.U32(settings::kPlateWidthUm) / 10);
  ctx.plateHeightHmm = static_cast<int32_t>(s.U32(settings::kPlateHeightUm) / 10);
  ctx.orientation = s.U16(settings::kOrientation);
  ctx.brightness = ctx.rasterOptionsA[6];
  ctx.firstDotMode = s.U16(settings::kFirstDotMode);
  ctx.bottomUpFlag = (flags & settings::kFlagBottomUp) != 0 ? 1 : 0;
  ctx.oneWayFlag = (flags & settings::kFlagOneWay) != 0 ? 1 : 0;
  ctx.sectionSplitFlag = (flags & settings::kFlagSectionSplit) != 0 ? 1 : 0;
  ctx.fileOrderFlag = (flags & settings::kFlagFileOrder) != 0 ? 1 : 0;
  ctx.layoutSpare[0] = 0;
  ctx.layoutSpare[1] = 0;

  job.outputToFile = s.U16(settings::kOutputToFile);
  job.estimateOnly = (flags & settings::kFlagEstimateOnly) != 0 ? 1 : 0;
  job.machineKind = machineKind;

  CheckLimits(ctx, s);
}

void StorePrinterData(void* printer, const char* valueName, uint32_t type, const void* data, uint32_t size) {
  platform::Spooler& spooler = platform::spooler();
  std::string name;
  if (!spooler.GetPrinterName(printer, &name)) return;
  void* byName = spooler.OpenPrinter(name.c_str(), platform::kPrinterAllAccess);
  if (byName == nullptr) return;
  spooler.SetPrinterData(byName, valueName, type, data, size);
  spooler.ClosePrinter(byName);
}

}  // namespace ostrelin
