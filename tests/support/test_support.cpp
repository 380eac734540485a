// Shared test helpers.
#include "support/test_support.h"

#include <dirent.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "engine/settings_layout.h"
#include "ostrelin/ostrelin.h"

namespace ostrelin::test {

RecordSet::RecordSet()
    : ctx(static_cast<Context*>(std::calloc(1, sizeof(Context)))),
      spool(static_cast<Spool*>(std::calloc(1, sizeof(Spool)))),
      job(static_cast<Job*>(std::calloc(1, sizeof(Job)))) {}

RecordSet::~RecordSet() {
  std::free(ctx);
  std::free(spool);
  std::free(job);
}

void SetU16(std::vector<uint8_t>& record, size_t offset, uint16_t value) {
  record[offset] = static_cast<uint8_t>(value);
  record[offset + 1] = static_cast<uint8_t>(value >> 8);
}

void SetU32(std::vector<uint8_t>& record, size_t offset, uint32_t value) {
  for (int i = 0; i < 4; ++i) record[offset + i] = static_cast<uint8_t>(value >> (8 * i));
}

std::vector<uint8_t> DefaultSettings() {
  namespace s = settings;
  std::vector<uint8_t> record(s::kRecordSize, 0);
  SetU16(record, s::kVersion, 1000);
  SetU16(record, s::kMachineKind, 1);
  SetU16(record, s::kLanguage, 1);
  SetU16(record, s::kModel, 260);
  SetU32(record, s::kPlateWidthUm, 600000);
  SetU32(record, s::kPlateHeightUm, 300000);
  SetU16(record, s::kEngravingResX, 500);
  SetU16(record, s::kEngravingResY, 500);
  SetU16(record, s::kEngineRes, 500);
  SetU16(record, s::kRasterOptionsA + 12, 50);
  for (int c = 0; c < 8; ++c) {
    const size_t block = s::ClassBlock(c);
    SetU16(record, block + s::kClassPower, 50);
    SetU16(record, block + s::kClassSpeed, 100);
    SetU16(record, block + s::kClassPasses, 1);
    SetU16(record, block + s::kClassColourMode, 1);
  }
  SetU32(record, s::kVectorRes, 500);
  return record;
}

CapturedMessages::CapturedMessages() : previous_(platform::InstallMessages(this)) {}
CapturedMessages::~CapturedMessages() { platform::InstallMessages(previous_); }
void CapturedMessages::Show(const char* text, uint32_t style) {
  texts.emplace_back(text);
  styles.push_back(style);
}

void ScratchDirTest::SetUp() {
  const char* current = std::getenv("TMPDIR");
  hadTmpdir_ = current != nullptr;
  if (hadTmpdir_) previousTmpdir_ = current;
  const std::string base = hadTmpdir_ ? previousTmpdir_ : std::string("/tmp");
  std::string pattern = base + "/ostrelin-test-XXXXXX";
  ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
  dir_ = pattern;
  ::setenv("TMPDIR", dir_.c_str(), 1);
}

std::vector<std::string> ScratchDirTest::LeftoverFiles() const {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(dir_)) names.push_back(entry.path().string());
  return names;
}

void ScratchDirTest::TearDown() {
  EXPECT_TRUE(LeftoverFiles().empty()) << "scratch files left in " << dir_;
  std::filesystem::remove_all(dir_);
  if (hadTmpdir_) {
    ::setenv("TMPDIR", previousTmpdir_.c_str(), 1);
  } else {
    ::unsetenv("TMPDIR");
  }
}

std::vector<uint8_t> Record(const char* code, uint16_t value) {
  return {0xFF,
          0xFD,
          static_cast<uint8_t>(code[0]),
          static_cast<uint8_t>(code[1]),
          static_cast<uint8_t>(value >> 8),
          static_cast<uint8_t>(value)};
}

std::vector<uint8_t> ReadBack(RecordSet& set) {
  const int32_t size = ostrelinGetBinarySize(set.ctx, set.spool, set.job);
  std::vector<uint8_t> bytes(static_cast<size_t>(size > 0 ? size : 0));
  if (size > 0) {
    const int32_t read =
        ostrelinGetBinary(set.ctx, set.spool, set.job, bytes.data(), static_cast<uint32_t>(size));
    bytes.resize(static_cast<size_t>(read > 0 ? read : 0));
  }
  return bytes;
}

size_t Find(const std::vector<uint8_t>& haystack, const std::vector<uint8_t>& needle, size_t from) {
  if (needle.empty() || haystack.size() < needle.size()) return std::string::npos;
  for (size_t i = from; i + needle.size() <= haystack.size(); ++i) {
    if (std::memcmp(haystack.data() + i, needle.data(), needle.size()) == 0) return i;
  }
  return std::string::npos;
}

}  // namespace ostrelin::test
