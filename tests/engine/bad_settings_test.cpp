// Driver settings records with fields at their extremes, through both roads: each job ends with a clear
// message or is made soundly, never dividing by zero or overflowing (the sanitizer build runs these
// too), hanging, asking for a huge block or leaving anything behind.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <limits>
#include <string>

#include "engine/raster/layer_io.h"
#include "engine/settings_layout.h"
#include "ostrelin/ostrelin.h"
#include "support/fakes.h"
#include "support/sample_jobs.h"
#include "support/test_support.h"

namespace ostrelin::test {
namespace {

namespace s = settings;

// One field of the record set to a value (2 or 4 bytes, little-endian).
struct Patch {
  size_t offset;
  int bytes;
  uint32_t value;
};

// How a road's job ends: the first message shown (nullptr: none) and whether the stream was finished
// with its closing records.
struct Outcome {
  const char* message;
  bool finished;
};

constexpr Outcome kSound{nullptr, true};

struct BadSetting {
  const char* name;
  std::vector<Patch> patches;
  Outcome rendering;
  Outcome spool;
  Drawing drawing = Drawing::kBitmapsAndStrokes;
};

// The same field of every colour class.
std::vector<Patch> EveryClass(size_t field, int bytes, uint32_t value) {
  std::vector<Patch> patches;
  for (int c = 0; c < 8; ++c) patches.push_back({s::ClassBlock(c) + field, bytes, value});
  return patches;
}

std::vector<Patch> Join(std::vector<Patch> a, const std::vector<Patch>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

std::vector<Patch> AllResolutions(uint32_t dpi) {
  return {{s::kEngineRes, 2, dpi},
          {s::kEngravingResX, 2, dpi},
          {s::kEngravingResY, 2, dpi},
          {s::kVectorRes, 4, dpi}};
}

// A name of 260 units without the terminating zero.
std::vector<Patch> UnterminatedName() {
  std::vector<Patch> patches{{s::kOutputToFile, 2, 1}};
  for (size_t i = 0; i < s::kOutputFileNameUnits; ++i)
    patches.push_back({s::kOutputFileName + 2 * i, 2, 'n'});
  return patches;
}

constexpr uint32_t kMaxU16 = 0xFFFF;
constexpr uint32_t kMaxU32 = 0xFFFFFFFF;
constexpr uint32_t kPlateUm10Metres = 10000000;

const Outcome kDpiError{"DPI error", false};
const Outcome kPlateError{"Plate size error", false};

const BadSetting kBadSettings[] = {
    // Resolutions: 0 and the largest values the fields hold are refused before anything is made.
    {"engine resolution 0", {{s::kEngineRes, 2, 0}}, kDpiError, kDpiError},
    {"engine resolution 65535", {{s::kEngineRes, 2, kMaxU16}}, kDpiError, kDpiError},
    {"engraving resolution x 0", {{s::kEngravingResX, 2, 0}}, kDpiError, kDpiError},
    {"engraving resolution y 65535", {{s::kEngravingResY, 2, kMaxU16}}, kDpiError, kDpiError},
    {"vector resolution 0 for strokes in dots", {{s::kVectorRes, 4, 0}}, kDpiError, kDpiError},
    {"vector resolution 2^32 - 1", {{s::kVectorRes, 4, kMaxU32}}, kDpiError, kDpiError},
    // The largest resolution taken, on the smallest plate: the RGB bitmap beyond the plate and its
    // margin is refused, the rest engraved.
    {"20000 dpi on a 1 mm plate",
     Join(AllResolutions(20000), {{s::kPlateWidthUm, 4, 1000}, {s::kPlateHeightUm, 4, 1000}}),
     {"Plate size error", true},
     kSound},
    {"1 dpi", AllResolutions(1), {"Plate size error", true}, kPlateError},
    {"vector resolution override 2^32 - 1",
     {{s::kFlagWord, 2, s::kFlagVectorResOverride}, {s::kVectorResOverride, 4, kMaxU32}},
     kSound,
     kSound},
    // Plates: 0 is refused; 10 metres is engraved (layers of the whole plate, so at 10 dpi here).
    {"plate 0 wide", {{s::kPlateWidthUm, 4, 0}}, kPlateError, kPlateError},
    {"plate 0 high", {{s::kPlateHeightUm, 4, 0}}, kPlateError, kPlateError},
    {"plate 2^32 - 1 micrometres", {{s::kPlateWidthUm, 4, kMaxU32}}, kPlateError, kPlateError},
    {"plate 10 x 10 metres at 10 dpi",
     Join(AllResolutions(10),
          {{s::kPlateWidthUm, 4, kPlateUm10Metres}, {s::kPlateHeightUm, 4, kPlateUm10Metres}}),
     kSound, kSound},
    {"plate 10 x 10 metres, strokes at 300 dpi",
     {{s::kPlateWidthUm, 4, kPlateUm10Metres}, {s::kPlateHeightUm, 4, kPlateUm10Metres}},
     kSound,
     kSound,
     Drawing::kStrokes},
    // Machines, models, languages and orientations the engine does not know.
    {"machine kind 0", {{s::kMachineKind, 2, 0}}, kSound, kSound},
    {"machine kind 3", {{s::kMachineKind, 2, 3}}, kSound, kSound},
    {"machine kind 11", {{s::kMachineKind, 2, 11}}, kSound, kSound},
    {"machine kind 65535", {{s::kMachineKind, 2, kMaxU16}}, kSound, kSound},
    // Kind 5 writes the job to the host's handle as a file handle.
    {"machine kind 5", {{s::kMachineKind, 2, 5}}, kSound, kSound},
    {"model 0", {{s::kModel, 2, 0}}, kSound, kSound},
    {"model 65535 with the fast flag", {{s::kModel, 2, kMaxU16}, {s::kFastFlag, 2, kMaxU16}}, kSound, kSound},
    {"language 65535 speaks English",
     {{s::kLanguage, 2, kMaxU16}, {s::kEngineRes, 2, 0}},
     kDpiError,
     kDpiError},
    {"orientation 8", {{s::kOrientation, 2, 8}}, kSound, kSound},
    {"orientation 65535", {{s::kOrientation, 2, kMaxU16}}, kSound, kSound},
    {"orientation 7", {{s::kOrientation, 2, 7}}, kSound, kSound},
    {"first-dot mode 65535", {{s::kFirstDotMode, 2, kMaxU16}}, kSound, kSound},
    // Colour classes at their extremes.
    {"colour mode 0 everywhere", EveryClass(s::kClassColourMode, 2, 0), kSound, kSound},
    {"colour mode 65535", EveryClass(s::kClassColourMode, 2, kMaxU16), kSound, kSound},
    {"colour mode 8", EveryClass(s::kClassColourMode, 2, 8), kSound, kSound},
    {"passes 0", EveryClass(s::kClassPasses, 2, 0), kSound, kSound},
    {"passes 65535", EveryClass(s::kClassPasses, 2, kMaxU16), kSound, kSound},
    // The most passes, on the class with the fewest strokes.
    {"passes 32767", {{s::ClassBlock(0) + s::kClassPasses, 2, 32767}}, kSound, kSound, Drawing::kStrokes},
    {"depth step -2^31", EveryClass(s::kClassDepthStep, 4, 0x80000000u), kSound, kSound},
    {"depth step 2^31 - 1", EveryClass(s::kClassDepthStep, 4, 0x7FFFFFFFu), kSound, kSound},
    {"depth mode 65535 with a depth step",
     Join(EveryClass(s::kClassDepthMode, 2, kMaxU16), EveryClass(s::kClassDepthStep, 4, 1000)), kSound,
     kSound},
    {"power 65535", EveryClass(s::kClassPower, 2, kMaxU16), kSound, kSound},
    {"speed 0", EveryClass(s::kClassSpeed, 2, 0), kSound, kSound},
    {"speed 65535", EveryClass(s::kClassSpeed, 2, kMaxU16), kSound, kSound},
    {"AI 65535", EveryClass(s::kClassAi, 2, kMaxU16), kSound, kSound},
    // Controllers, tables and raster options.
    {"motion word 65535", {{s::kMotionWord, 2, kMaxU16}}, kSound, kSound},
    {"motion table 255, classic controller", {{s::kMotionWord, 2, 0x00FF}}, kSound, kSound},
    {"Tc with speed 2^32 - 1",
     {{s::kTcFlag, 2, 1}, {s::kTcSpeed, 4, kMaxU32}, {s::kMotionWord, 2, 0x0100}},
     kSound,
     kSound},
    {"Tc with speed 0",
     {{s::kTcFlag, 2, kMaxU16}, {s::kTcSpeed, 4, 0}, {s::kMotionWord, 2, 0x0100}},
     kSound,
     kSound},
    {"raster options A at 65535",
     {{s::kRasterOptionsA, 2, kMaxU16},
      {s::kRasterOptionsA + 2, 2, kMaxU16},
      {s::kRasterOptionsA + 4, 2, kMaxU16},
      {s::kRasterOptionsA + 6, 2, kMaxU16},
      {s::kRasterOptionsA + 8, 2, kMaxU16},
      {s::kRasterOptionsA + 10, 2, kMaxU16},
      {s::kRasterOptionsA + 12, 2, kMaxU16},
      {s::kRasterOptionsA + 14, 2, kMaxU16}},
     kSound,
     kSound},
    {"stamp with every shoulder option at 65535",
     {{s::kRasterOptionsB, 2, kMaxU16},
      {s::kRasterOptionsB + 2, 2, kMaxU16},
      {s::kRasterOptionsB + 4, 2, kMaxU16},
      {s::kRasterOptionsB + 6, 2, kMaxU16},
      {s::kRasterOptionsB + 8, 2, kMaxU16},
      {s::kRasterOptionsB + 10, 2, kMaxU16}},
     kSound,
     kSound},
    {"brightness 0 with error diffusion",
     {{s::kRasterOptionsA + 12, 2, 0}, {s::kRasterOptionsA + 10, 2, 1}},
     kSound,
     kSound},
    // Every flag: estimate only among them, so nothing reaches the sink and nothing is shown.
    {"flag word 65535", {{s::kFlagWord, 2, kMaxU16}}, {nullptr, false}, {nullptr, false}},
    {"pass-through values at their extremes",
     {{s::kVersion, 2, kMaxU16},
      {s::kPassThrough16, 4, 0x80000000u},
      {s::kPassThrough20, 4, kMaxU32},
      {s::kFactor16, 2, kMaxU16},
      {s::kFactor32, 4, kMaxU32},
      {s::kPassThrough284, 2, 0xFF9C},  // -100: the header's sum would be 0
      {s::kFirstSource, 2, kMaxU16},
      {s::kSecondSource, 2, kMaxU16}},
     kSound,
     kSound},
    // The output file name without its terminator: the spool road refuses to open it.
    {"output file name without its terminator", UnterminatedName(), kSound, {"Create file error", false}},
};

void PrintTo(const BadSetting& bad, std::ostream* out) { *out << bad.name; }

class BadSettings : public JobTest, public ::testing::WithParamInterface<BadSetting> {};

std::vector<uint8_t> Patched(const BadSetting& bad) {
  auto record = SmallPlateSettings();
  for (const Patch& patch : bad.patches) {
    if (patch.bytes == 2) {
      SetU16(record, patch.offset, static_cast<uint16_t>(patch.value));
    } else {
      SetU32(record, patch.offset, patch.value);
    }
  }
  return record;
}

// A machine that reports plenty of memory, so that nothing sized from the memory status goes
// unnoticed: no block of a gibibyte or more is asked for. And a disk of 256 MiB, far more than these
// small drawings need, even on a plate of 10 metres.
constexpr size_t kHugeBlock = size_t{1} << 30;
constexpr uint64_t kPlentyOfMemory = uint64_t{1} << 40;
constexpr uint64_t kDiskBytes = uint64_t{256} << 20;

// A record refused when it is loaded: nothing may be made for it, not even by the calls that follow.
bool RefusedOnLoad(const Outcome& outcome) { return outcome.message != nullptr && !outcome.finished; }

void ExpectOutcome(const Outcome& expected, const std::vector<std::string>& shown,
                   const std::vector<uint8_t>& stream, const std::string& where) {
  if (expected.message == nullptr) {
    EXPECT_TRUE(shown.empty()) << where << ": " << shown[0];
  } else {
    ASSERT_FALSE(shown.empty()) << where;
    EXPECT_EQ(shown[0], expected.message) << where;
  }
  EXPECT_EQ(EndsWithJobEnd(stream), expected.finished) << where;
}

TEST_P(BadSettings, RenderingRoad) {
  const BadSetting& bad = GetParam();
  RecordSet set;
  {
    CapturedMessages messages;
    FailingMemory memory(kHugeBlock);
    memory.reportedPhysical = kPlentyOfMemory;
    FailingFiles files;
    files.diskCapacity = kDiskBytes;
    const RenderingResult result = RunRenderingJob(set, Patched(bad), bad.drawing);
    ExpectOutcome(bad.rendering, messages.texts, result.stream, "rendering");
    if (RefusedOnLoad(bad.rendering)) {
      EXPECT_TRUE(files.layerWriteSizes.empty()) << "layer files for a refused record";
    }
    EXPECT_EQ(result.cleanResult, 0);
    EXPECT_EQ(memory.outstanding, 0);
    ExpectNothingLeft("rendering");
  }
  ExpectRecordsServeTheNextJob(set, false, "rendering");
}

TEST_P(BadSettings, SpoolRoad) {
  const BadSetting& bad = GetParam();
  RecordSet set;
  {
    MemorySpooler spooler;
    CapturedMessages messages;
    FailingMemory memory(kHugeBlock);
    memory.reportedPhysical = kPlentyOfMemory;
    FailingFiles files;
    files.diskCapacity = kDiskBytes;
    auto record = Patched(bad);
    SendChunk(set, spooler.printerHandle, SpoolPage(bad.drawing), record);
    // A machine of kind 5 takes the job through plain file writes, the others through the printer.
    const std::vector<uint8_t>& stream = spooler.job.empty() ? files.fileHandleBytes : spooler.job;
    ExpectOutcome(bad.spool, messages.texts, stream, "spool");
    if (bad.spool.message != nullptr) {
      EXPECT_TRUE(spooler.job.empty());  // the abort path ran
      EXPECT_TRUE(files.fileHandleBytes.empty());
    }
    EXPECT_EQ(set.ctx->jobOpenFlag, 0);
    EXPECT_EQ(memory.outstanding, 0);
    ExpectNothingLeft("spool");
  }
  ExpectRecordsServeTheNextJob(set, true, "spool");
}

// The case's name with every run of other characters than letters and digits as one underscore.
std::string CaseName(const ::testing::TestParamInfo<BadSetting>& info) {
  std::string name;
  for (const char* c = info.param.name; *c != '\0'; ++c) {
    if (std::isalnum(static_cast<unsigned char>(*c)) != 0) {
      name += *c;
    } else if (!name.empty() && name.back() != '_') {
      name += '_';
    }
  }
  while (!name.empty() && name.back() == '_') name.pop_back();
  return name;
}

INSTANTIATE_TEST_SUITE_P(FieldsAtTheirExtremes, BadSettings, ::testing::ValuesIn(kBadSettings), CaseName);

// Printer data that replaces the vector parameters with values at their extremes: the planners take
// them without dividing by zero, overflowing or hanging.
using PrinterData = JobTest;

TEST_F(PrinterData, VectorParametersAtTheirExtremes) {
  struct Params {
    const char* name;
    int16_t speedsAndAccelerations;  // every minimum and maximum speed and every acceleration
    float tolerance;                 // both corner tolerances
    int16_t prePassCount;
    float prePassWidthMm;
  };
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const float infinity = std::numeric_limits<float>::infinity();
  for (const Params& p :
       {Params{"zero", 0, 0.0f, 0, 0.0f}, Params{"negative", -32768, -1.0f, -32768, -1.0f},
        Params{"largest", 32767, 3e38f, 32767, 3e38f}, Params{"not numbers", 1, nan, 3, nan},
        Params{"infinite", 32767, infinity, 3, infinity}}) {
    for (int variant : {0, 1}) {
      for (uint16_t motionWord : {0x0000, 0x0100}) {
        const std::string where = std::string(p.name) + ", variant " + std::to_string(variant) +
                                  ", controller " + std::to_string(motionWord >> 8);
        std::vector<uint8_t> value(36, 0);
        std::memcpy(value.data(), &variant, 4);
        for (size_t offset = 4; offset <= 16; offset += 2)
          std::memcpy(&value[offset], &p.speedsAndAccelerations, 2);
        std::memcpy(&value[20], &p.tolerance, 4);
        std::memcpy(&value[24], &p.tolerance, 4);
        std::memcpy(&value[28], &p.prePassCount, 2);
        std::memcpy(&value[32], &p.prePassWidthMm, 4);
        MemorySpooler spooler;
        CapturedMessages messages;
        spooler.data["VectorSpeed"] = {1, 0, 0, 0};
        spooler.data["VectorSpeedValue"] = value;
        RecordSet set;
        auto record = SmallPlateSettings();
        SetU16(record, s::kMotionWord, motionWord);
        SendChunk(set, spooler.printerHandle, SpoolPage(Drawing::kStrokes), record);
        // The profile planner may warn that a curve could not be fitted; nothing else is shown.
        for (const std::string& text : messages.texts) EXPECT_EQ(text, "S curve error") << where;
        EXPECT_TRUE(EndsWithJobEnd(spooler.job)) << where;
        ExpectNothingLeft(where);
      }
    }
  }
}

// However much memory the machine reports, a block of layer rows stays movable in one transfer.
TEST(RowBlocks, StayWithinOneTransferHoweverMuchMemoryIsAvailable) {
  FailingMemory memory(SIZE_MAX);
  for (uint64_t available : {uint64_t{3} << 20, uint64_t{6} << 30, kPlentyOfMemory}) {
    memory.reportedPhysical = available;
    EXPECT_LT(raster::RowBlockBudget(), uint64_t{1} << 32) << available;
    EXPECT_LE(raster::RowBlockBudget(), 2 * available / 3) << available;
  }
}

}  // namespace
}  // namespace ostrelin::test
