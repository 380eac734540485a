// Shared test helpers: heap-allocated zero-filled records, a settings record builder, a private
// scratch directory checked for leftovers, a captured message sink, and job stream helpers.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/records.h"
#include "platform/platform.h"

namespace ostrelin::test {

// The three records, zero-filled as a host allocates them.
struct RecordSet {
  RecordSet();
  ~RecordSet();
  RecordSet(const RecordSet&) = delete;
  RecordSet& operator=(const RecordSet&) = delete;
  Context* ctx;
  Spool* spool;
  Job* job;
  Records records() { return Records{*ctx, *spool, *job}; }
};

// A driver settings record describing a sensible machine: 600 x 300 mm plate, 500 dpi everywhere,
// standard model, English messages, every class engraved in raster mode 1 at power 50, speed 100.
std::vector<uint8_t> DefaultSettings();
void SetU16(std::vector<uint8_t>& record, size_t offset, uint16_t value);
void SetU32(std::vector<uint8_t>& record, size_t offset, uint32_t value);

// Collects every message shown while installed.
class CapturedMessages : public platform::MessageSink {
 public:
  CapturedMessages();
  ~CapturedMessages() override;
  void Show(const char* text, uint32_t style) override;
  std::vector<std::string> texts;
  std::vector<uint32_t> styles;

 private:
  platform::MessageSink* previous_;
};

// Gives the test its own scratch directory (TMPDIR) and fails if anything is left in it at the end.
class ScratchDirTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
  std::vector<std::string> LeftoverFiles() const;
  std::string dir_;

 private:
  std::string previousTmpdir_;
  bool hadTmpdir_ = false;
};

// The bytes of a command record.
std::vector<uint8_t> Record(const char* code, uint16_t value);

// Reads back the whole stream of a finished rendering-road job through the exports.
std::vector<uint8_t> ReadBack(RecordSet& set);

// Finds needle in haystack; npos when absent.
size_t Find(const std::vector<uint8_t>& haystack, const std::vector<uint8_t>& needle, size_t from = 0);

}  // namespace ostrelin::test
