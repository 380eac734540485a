// Helpers of the vector tests: records set up for the planners, writing into a scratch sink that
// the test reads back.
#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

#include "engine/motion_tables.h"
#include "engine/records.h"
#include "engine/scratch.h"
#include "engine/settings_tables.h"
#include "engine/vector/motion_record.h"
#include "platform/platform.h"
#include "support/test_support.h"

namespace ostrelin::vector::test {

// Records for the rendering road with coordinates in plotter units (0.025 mm), orientation 0, a
// 600 x 300 mm plate, the standard corner table with the standard profile parameters, and the
// first motion table, writing into a scratch stream.
struct PlannerRecords {
  PlannerRecords() : ctx(*set.ctx), job(*set.job) {
    job.renderingRoad = 1;
    job.machineKind = 2;
    job.cornerTable = AngleLsStd;
    job.cornerTable.params = ParamVitVectStd;
    std::memcpy(job.motionTable, kMotionTables[0].data(), sizeof job.motionTable);
    job.motionDivisor = kMotionDivisors[0];
    ctx.plateWidthHmm = 60000;
    ctx.plateHeightHmm = 30000;
    ctx.engravingResX = 500;
    ctx.engravingResY = 500;
    ctx.vectorResolution = 500;
    job.outputSink = OpenScratchStream(ctx);
    job.toScratch = 1;
  }
  ~PlannerRecords() { CloseStreamField(&job.outputSink); }
  PlannerRecords(const PlannerRecords&) = delete;
  PlannerRecords& operator=(const PlannerRecords&) = delete;

  // Bytes written to the sink so far.
  std::vector<uint8_t> Written() {
    auto* stream = AsStream(job.outputSink);
    const int64_t end = stream->Tell();
    std::vector<uint8_t> bytes(static_cast<size_t>(end));
    stream->Seek(0, platform::kSeekSet);
    if (end > 0) stream->Read(bytes.data(), bytes.size());
    stream->Seek(end, platform::kSeekSet);
    return bytes;
  }

  ostrelin::test::RecordSet set;
  Context& ctx;
  Job& job;
};

// Decodes big-endian 12-byte profile records.
inline std::vector<ProfileRecord> DecodeProfile(const std::vector<uint8_t>& bytes, size_t from = 0) {
  std::vector<ProfileRecord> records((bytes.size() - from) / 12);
  for (size_t i = 0; i < records.size(); ++i) {
    int16_t w[6];
    for (size_t k = 0; k < 6; ++k) {
      const size_t at = from + 12 * i + 2 * k;
      w[k] = static_cast<int16_t>(bytes[at] << 8 | bytes[at + 1]);
    }
    records[i] = ProfileRecord{w[0], w[1], w[2], w[3], w[4], w[5]};
  }
  return records;
}

}  // namespace ostrelin::vector::test
