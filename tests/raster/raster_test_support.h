// Helpers of the raster tests (header only): a rendering-road record set with editable settings,
// small layer files built from bytes, and the job stream read back.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <vector>

#include "engine/records.h"
#include "engine/scratch.h"
#include "ostrelin/ostrelin.h"
#include "support/test_support.h"

namespace ostrelin::test {

class RasterTest : public ScratchDirTest {
 protected:
  void SetUp() override {
    ScratchDirTest::SetUp();
    settings_ = DefaultSettings();
  }
  void TearDown() override {
    if (initialised_) ostrelinClean(set_.ctx, set_.spool, set_.job);
    ScratchDirTest::TearDown();
  }
  // Opens the rendering-road job with settings_.
  void Init() {
    ostrelinInit(set_.ctx, set_.spool, set_.job, settings_.data());
    initialised_ = true;
    ASSERT_TRUE(messages_.texts.empty()) << messages_.texts.front();
  }
  // A new layer file holding bytes.
  void* MakeLayer(const std::vector<uint8_t>& bytes) {
    void* handle = CreateLayerFile(*set_.ctx);
    WriteAtOffset(*set_.ctx, &handle, static_cast<uint32_t>(bytes.size()), bytes.data(), 0);
    return handle;
  }
  // count bytes of a layer file from offset 0.
  std::vector<uint8_t> ReadLayer(void* handle, size_t count) {
    std::vector<uint8_t> bytes(count);
    ReadAtOffset(*set_.ctx, &handle, static_cast<uint32_t>(count), bytes.data(), 0);
    return bytes;
  }
  // Makes a grey layer of stride x rows the job's grey layer and current geometry.
  void SetGreyLayer(const std::vector<uint8_t>& bytes, int32_t stride, int32_t rows) {
    set_.job->greyLayer = MakeLayer(bytes);
    set_.job->greyStride = stride;
    set_.job->greyRows = rows;
    set_.job->currentStride = stride;
    set_.job->currentRows = rows;
  }
  // The stream written so far.
  std::vector<uint8_t> Stream() { return ReadBack(set_); }

  std::vector<uint8_t> settings_;
  RecordSet set_;
  CapturedMessages messages_;
  bool initialised_ = false;
};

// Concatenation of byte vectors.
inline std::vector<uint8_t> Bytes(std::initializer_list<std::vector<uint8_t>> parts) {
  std::vector<uint8_t> all;
  for (const auto& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

}  // namespace ostrelin::test
