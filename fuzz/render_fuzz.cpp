// Fuzz target for the rendering road: the input is a script of export calls, made in the order the
// script gives (any order, not only the host's). Any crash, leak, sanitizer report, engine block,
// descriptor or scratch file left after the final ostrelinClean is a finding.
//
// Script: one header byte, then the settings, then calls until the input ends.
//   header bit 0 set: the settings record is the next 1828 bytes as they stand (short input: zeros);
//   clear: the small default record below, then a count byte and that many patches, each a 2-byte
//   offset (modulo the record size), a 4-byte little-endian value and a width byte (bit 0: 16 bits,
//   else 32 bits) written at the offset.
//   Every call is an opcode byte (modulo the number of calls) followed by its arguments; numbers are
//   little-endian and taken whole from the input (so doubles and floats may be NaN or infinite).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "engine/settings_layout.h"
#include "fuzz/fuzz_platform.h"
#include "ostrelin/ostrelin.h"

namespace {

using namespace ostrelin;

// Reads the script front to back; past its end every value is zero.
class Script {
 public:
  Script(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  bool done() const { return at_ >= size_; }
  uint8_t U8() { return at_ < size_ ? data_[at_++] : 0; }
  template <class T>
  T Take() {
    uint8_t bytes[sizeof(T)] = {};
    for (auto& byte : bytes) byte = U8();
    T value;
    std::memcpy(&value, bytes, sizeof value);
    return value;
  }
  // Copies up to size bytes of the script into out (the rest stays as it was).
  void Fill(uint8_t* out, size_t size) {
    const size_t available = at_ < size_ ? size_ - at_ : 0;
    const size_t taken = size < available ? size : available;
    if (taken > 0) std::memcpy(out, data_ + at_, taken);
    at_ += taken;
  }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t at_ = 0;
};

// A plate of 40 x 20 mm at 254 dots per inch with every class engraved by both passes: big enough for
// every step to have work, small enough for thousands of inputs a second.
std::vector<uint8_t> SmallSettings() {
  namespace s = settings;
  std::vector<uint8_t> record(s::kRecordSize, 0);
  s::Editor e(record.data());
  e.SetU16(s::kVersion, 1000);
  e.SetU16(s::kMachineKind, 1);
  e.SetU16(s::kLanguage, 1);
  e.SetU16(s::kModel, 260);
  e.SetU32(s::kPlateWidthUm, 40000);
  e.SetU32(s::kPlateHeightUm, 20000);
  e.SetU16(s::kEngravingResX, 254);
  e.SetU16(s::kEngravingResY, 254);
  e.SetU16(s::kEngineRes, 254);
  e.SetU32(s::kVectorRes, 254);
  e.SetU16(s::kRasterOptionsA + 12, 50);
  for (int c = 0; c < 8; ++c) {
    e.SetU16(s::ClassBlock(c) + s::kClassPower, 50);
    e.SetU16(s::ClassBlock(c) + s::kClassSpeed, 100);
    e.SetU16(s::ClassBlock(c) + s::kClassPasses, 1);
    e.SetU16(s::ClassBlock(c) + s::kClassColourMode, 4);
  }
  return record;
}

std::vector<uint8_t> SettingsFrom(Script& script, uint8_t header) {
  if ((header & 1) != 0) {
    std::vector<uint8_t> record(settings::kRecordSize, 0);
    script.Fill(record.data(), record.size());
    return record;
  }
  std::vector<uint8_t> record = SmallSettings();
  settings::Editor e(record.data());
  const int patches = script.U8() % 16;
  for (int i = 0; i < patches; ++i) {
    const size_t offset = script.Take<uint16_t>() % (settings::kRecordSize - 3);
    const auto value = script.Take<uint32_t>();
    if ((script.U8() & 1) != 0) {
      e.SetU16(offset, static_cast<uint16_t>(value));
    } else {
      e.SetU32(offset, value);
    }
  }
  return record;
}

// Rows handed to the engine are as long as the host's own bookkeeping says they must be (the engine
// must never read beyond them); longer rows than this are not made, since the engine refuses them.
constexpr size_t kLongestRow = 1u << 20;

enum Call : uint8_t {
  kInit,
  kBitInit,
  kBitRow,
  kOctetInit,
  kOctetRow,
  kPenUp,
  kPenDown,
  kColour,
  kEof,
  kDoBinary,
  kGetSize,
  kGetBinary,
  kClean,
  kRepeatRow,
  kStrokeRun,
  kCallCount,
};

struct Host {
  OstrelinContext* ctx;
  OstrelinSpool* spool;
  OstrelinJob* job;
  std::vector<uint8_t> settings;
  std::vector<uint8_t> row;  // the current bitmap's row, as the host sizes it
  bool octet = false;
};

void SizeRow(Host& host, uint32_t pixels, bool octet) {
  const uint64_t bytes = octet ? 3ull * pixels : (static_cast<uint64_t>(pixels) + 7) / 8;
  host.row.assign(static_cast<size_t>(bytes < kLongestRow ? bytes : kLongestRow), 0);
  host.octet = octet;
}

void SendRow(Host& host) {
  if (host.octet) {
    ostrelinGnfToHmapOctet(host.ctx, host.spool, host.job, host.row.data());
  } else {
    ostrelinGnfToHmapBit(host.ctx, host.spool, host.job, host.row.data());
  }
}

void RunCall(Host& host, Script& script) {
  OstrelinContext* ctx = host.ctx;
  OstrelinSpool* spool = host.spool;
  OstrelinJob* job = host.job;
  switch (static_cast<Call>(script.U8() % kCallCount)) {
    case kInit:
      ostrelinInit(ctx, spool, job, host.settings.data());
      break;
    case kBitInit: {
      const auto x = script.Take<double>();
      const auto y = script.Take<double>();
      const auto pixels = script.Take<uint32_t>();
      const uint8_t colour = script.U8();
      SizeRow(host, pixels, false);
      ostrelinGnfToHmapBitInit(ctx, spool, job, x, y, pixels, colour);
      break;
    }
    case kOctetInit: {
      const auto x = script.Take<double>();
      const auto y = script.Take<double>();
      const auto pixels = script.Take<uint32_t>();
      SizeRow(host, pixels, true);
      ostrelinGnfToHmapOctetInit(ctx, spool, job, x, y, pixels);
      break;
    }
    case kBitRow:
    case kOctetRow:
      if (host.row.empty()) host.row.assign(1, 0);
      script.Fill(host.row.data(), host.row.size());
      SendRow(host);
      break;
    case kRepeatRow: {
      if (host.row.empty()) host.row.assign(1, 0);
      const int rows = 1 + script.U8();
      for (int i = 0; i < rows; ++i) SendRow(host);
      break;
    }
    case kPenUp: {
      const auto x = script.Take<float>();
      const auto y = script.Take<float>();
      ostrelinGnfToTdPu2dA(ctx, spool, job, x, y);
      break;
    }
    case kPenDown: {
      const auto x = script.Take<float>();
      const auto y = script.Take<float>();
      ostrelinGnfToTdPd2dA(ctx, spool, job, x, y);
      break;
    }
    case kColour:
      ostrelinGnfToTdSetIndexColor(ctx, spool, job, script.Take<int32_t>());
      break;
    case kEof:
      ostrelinGnfToTdEof(ctx, spool, job);
      break;
    case kDoBinary:
      ostrelinDoBinary(ctx, spool, job);
      break;
    case kGetSize:
      ostrelinGetBinarySize(ctx, spool, job);
      break;
    case kGetBinary: {
      const uint32_t count = script.Take<uint16_t>();
      std::vector<uint8_t> buffer(count);
      const int32_t read = ostrelinGetBinary(ctx, spool, job, buffer.data(), count);
      if (read < 0 || static_cast<uint32_t>(read) > count) std::abort();
      break;
    }
    case kClean:
      ostrelinClean(ctx, spool, job);
      break;
    case kStrokeRun: {
      // A pen-up point and a run of pen-down steps from it: long strokes from a short script.
      float x = script.Take<float>();
      float y = script.Take<float>();
      ostrelinGnfToTdPu2dA(ctx, spool, job, x, y);
      const int steps = 1 + script.U8();
      for (int i = 0; i < steps; ++i) {
        x += static_cast<int8_t>(script.U8());
        y += static_cast<int8_t>(script.U8());
        ostrelinGnfToTdPd2dA(ctx, spool, job, x, y);
      }
      break;
    }
    case kCallCount:
      break;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static fuzz::Platform platform;
  if (size < 1) return 0;
  const int descriptors = fuzz::OpenDescriptors();
  Script script(data, size);
  const uint8_t header = script.U8();
  Host host{};
  host.settings = SettingsFrom(script, header);
  host.ctx = static_cast<OstrelinContext*>(std::calloc(1, sizeof(OstrelinContext)));
  host.spool = static_cast<OstrelinSpool*>(std::calloc(1, sizeof(OstrelinSpool)));
  host.job = static_cast<OstrelinJob*>(std::calloc(1, sizeof(OstrelinJob)));
  // Scripts that do not open the job themselves get the host's first call.
  if ((header & 2) == 0) ostrelinInit(host.ctx, host.spool, host.job, host.settings.data());
  while (!script.done()) RunCall(host, script);
  ostrelinClean(host.ctx, host.spool, host.job);
  std::free(host.ctx);
  std::free(host.spool);
  std::free(host.job);
  platform.CheckClean(descriptors);
  return 0;
}
