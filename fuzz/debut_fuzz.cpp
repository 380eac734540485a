// Fuzz target for the spool road: arbitrary bytes cut into chunks and handed to debut, with settings
// taken from the input's first bytes, then the open job is ended. Any crash, leak, sanitizer report,
// engine block, descriptor or scratch file left behind is a finding.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "engine/settings_layout.h"
#include "engine/spool_intake.h"
#include "fuzz/fuzz_platform.h"
#include "ostrelin/ostrelin.h"

namespace {

using namespace ostrelin;

std::vector<uint8_t> Settings(uint8_t shape) {
  namespace s = settings;
  std::vector<uint8_t> record(s::kRecordSize, 0);
  settings::Editor e(record.data());
  e.SetU16(s::kLanguage, 1);
  e.SetU16(s::kMachineKind, static_cast<uint16_t>(shape % 12 == 5 ? 1 : shape % 12));
  e.SetU16(s::kModel, 260);
  e.SetU32(s::kPlateWidthUm, 300000);
  e.SetU32(s::kPlateHeightUm, 200000);
  e.SetU16(s::kEngravingResX, 254);
  e.SetU16(s::kEngravingResY, 254);
  e.SetU16(s::kEngineRes, 254);
  e.SetU32(s::kVectorRes, 254);
  e.SetU16(s::kOrientation, static_cast<uint16_t>((shape >> 4) & 7));
  e.SetU16(s::kMotionWord, static_cast<uint16_t>((shape & 0x80) != 0 ? 0x0100 : 0));
  for (int c = 0; c < 8; ++c) {
    e.SetU16(s::ClassBlock(c) + s::kClassPower, 50);
    e.SetU16(s::ClassBlock(c) + s::kClassSpeed, 100);
    e.SetU16(s::ClassBlock(c) + s::kClassPasses, 1);
    e.SetU16(s::ClassBlock(c) + s::kClassColourMode, static_cast<uint16_t>(c % 2 == 0 ? 4 : 2));
  }
  return record;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static fuzz::Platform platform;
  if (size < 2) return 0;
  const int descriptors = fuzz::OpenDescriptors();
  std::vector<uint8_t> record = Settings(data[0]);
  const size_t chunk = 1 + data[1] * 37u;
  data += 2;
  size -= 2;
  auto* ctx = static_cast<OstrelinContext*>(std::calloc(1, sizeof(OstrelinContext)));
  auto* spool = static_cast<OstrelinSpool*>(std::calloc(1, sizeof(OstrelinSpool)));
  auto* job = static_cast<OstrelinJob*>(std::calloc(1, sizeof(OstrelinJob)));
  int printer = 0;
  for (size_t at = 0; at < size; at += chunk) {
    const size_t piece = size - at < chunk ? size - at : chunk;
    debut(&printer, data + at, static_cast<uint32_t>(piece), record.data(), spool, ctx, job);
  }
  const uint8_t pageEnd[] = {'P', 'G', ';'};
  debut(&printer, pageEnd, sizeof pageEnd, record.data(), spool, ctx, job);
  if (ctx->jobOpenFlag != 0) AbortSpoolJob(*ctx, *spool, *job, &printer);
  std::free(ctx);
  std::free(spool);
  std::free(job);
  platform.CheckClean(descriptors);
  return 0;
}
