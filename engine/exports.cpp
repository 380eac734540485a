// The exported entry points: each establishes its own error frame and never lets an exception or a
// null record reach the host.
#include <climits>
#include <cstring>

#include "engine/error.h"
#include "engine/export_guard.h"
#include "engine/hpgl/plot_file.h"
#include "engine/hpgl/plotter_state.h"
#include "engine/job_assembly.h"
#include "engine/job_reset.h"
#include "engine/messages.h"
#include "engine/scratch.h"
#include "engine/settings.h"
#include "ostrelin/ostrelin.h"
#include "platform/platform.h"

namespace ostrelin {
namespace {

// Closes whatever a rendering-road job of these records still holds and forgets it.
bool ReleaseRenderingJob(Context& ctx, Spool& spool, Job& job) {
  ResetBoundingBox(spool);
  CloseStreamField(&ctx.plotFile);
  ReleaseJobBuffers(ctx, spool, job);
  for (auto& layer : job.colourLayers) {
    if (layer != nullptr) CloseLayerFile(&layer);
  }
  if (job.workRow != nullptr) platform::memory().Free(job.workRow);
  job.workRow = nullptr;
  hpgl::ReleaseHpglState(ctx);
  bool closed = true;
  if (job.toScratch != 0) closed = CloseStreamField(&job.outputSink);
  job.toScratch = 0;
  job.renderingRoad = 0;
  return closed;
}

void WriteStroke(Context* ctx, Spool* spool, Job* job, uint8_t opcode, const void* payload, uint32_t bytes) {
  if (!RecordsGiven(ctx, spool, job)) return;
  UnderFrame(*ctx, [&] { hpgl::WriteRecordDirect(*ctx, opcode, payload, bytes); });
}

void WritePointStroke(Context* ctx, Spool* spool, Job* job, uint8_t opcode, float x, float y) {
  uint8_t payload[8];
  std::memcpy(payload, &x, 4);
  std::memcpy(payload + 4, &y, 4);
  if constexpr (__BYTE_ORDER__ == __ORDER_BIG_ENDIAN__) {
    std::swap(payload[0], payload[3]);
    std::swap(payload[1], payload[2]);
    std::swap(payload[4], payload[7]);
    std::swap(payload[5], payload[6]);
  }
  WriteStroke(ctx, spool, job, opcode, payload, sizeof payload);
}

}  // namespace
}  // namespace ostrelin

using namespace ostrelin;

extern "C" {

OSTRELIN_API void ostrelinInit(OstrelinContext* ctx, OstrelinSpool* spool, OstrelinJob* job,
                               uint8_t* settings) noexcept {
  if (!RecordsGiven(ctx, spool, job)) return;
  if (settings == nullptr) {
    ShowError(*ctx, ErrorKind::kBadPointer);
    return;
  }
  ReleaseRenderingJob(*ctx, *spool, *job);
  ctx->lastError = 0;
  UnderFrame(*ctx, [&] {
    LoadSettings(*ctx, *job, settings, nullptr);
    ResetJob(*ctx, *spool, *job);
    hpgl::PrepareHpglState(*ctx, *spool, *job);
    AllocateUnderlay(*ctx);
    platform::Stream* sink = OpenScratchStream(*ctx);
    if (sink == nullptr) {
      ShowError(*ctx, ErrorKind::kCreateFile);
      ctx->lastError = static_cast<int32_t>(ErrorKind::kCreateFile) + 1;
      return;
    }
    job->outputSink = sink;
    job->toScratch = 1;
    job->renderingRoad = 1;
    platform::Stream* plot = OpenScratchStream(*ctx);
    if (plot == nullptr) {
      ShowError(*ctx, ErrorKind::kCreateFile);
      ctx->lastError = static_cast<int32_t>(ErrorKind::kCreateFile) + 1;
      return;
    }
    ctx->plotFile = plot;
  });
}

OSTRELIN_API void ostrelinGnfToTdPu2dA(OstrelinContext* ctx, OstrelinSpool* spool, OstrelinJob* job, float x,
                                       float y) noexcept {
  WritePointStroke(ctx, spool, job, hpgl::kOpPenUp, x, y);
}

OSTRELIN_API void ostrelinGnfToTdPd2dA(OstrelinContext* ctx, OstrelinSpool* spool, OstrelinJob* job, float x,
                                       float y) noexcept {
  WritePointStroke(ctx, spool, job, hpgl::kOpPenDown, x, y);
}

OSTRELIN_API void ostrelinGnfToTdSetIndexColor(OstrelinContext* ctx, OstrelinSpool* spool, OstrelinJob* job,
                                               int32_t index) noexcept {
  const auto colour = static_cast<uint8_t>(index & 0xFF);
  WriteStroke(ctx, spool, job, hpgl::kOpColour, &colour, 1);
}

OSTRELIN_API void ostrelinGnfToTdEof(OstrelinContext* ctx, OstrelinSpool* spool, OstrelinJob* job) noexcept {
  WriteStroke(ctx, spool, job, hpgl::kOpEnd, nullptr, 0);
}

OSTRELIN_API void ostrelinDoBinary(OstrelinContext* ctx, OstrelinSpool* spool, OstrelinJob* job) noexcept {
  if (!RecordsGiven(ctx, spool, job)) return;
  UnderFrame(*ctx, [&] {
    // Without the scratch sink of a successful ostrelinInit there is nowhere to assemble the job.
    if (job->toScratch == 0 || job->outputSink == nullptr) Fail(*ctx, ErrorKind::kCreateFile);
    WriteJobHeader(*ctx, *spool, *job);
    AssembleJob(*ctx, *spool, *job);
  });
}

OSTRELIN_API int32_t ostrelinGetBinarySize(OstrelinContext* ctx, OstrelinSpool* spool,
                                           OstrelinJob* job) noexcept {
  if (!RecordsGiven(ctx, spool, job) || job->toScratch == 0) return 0;
  platform::Stream* sink = AsStream(job->outputSink);
  if (sink == nullptr || !sink->Seek(0, platform::kSeekEnd)) return 0;
  const int64_t length = sink->Tell();
  sink->Seek(0, platform::kSeekSet);
  if (length < 0) return 0;
  return length > INT32_MAX ? -1 : static_cast<int32_t>(length);
}

OSTRELIN_API int32_t ostrelinGetBinary(OstrelinContext* ctx, OstrelinSpool* spool, OstrelinJob* job,
                                       void* buffer, uint32_t count) noexcept {
  if (!RecordsGiven(ctx, spool, job) || job->toScratch == 0 || buffer == nullptr) return 0;
  platform::Stream* sink = AsStream(job->outputSink);
  if (sink == nullptr) return 0;
  const size_t wanted = count > static_cast<uint32_t>(INT32_MAX) ? static_cast<size_t>(INT32_MAX) : count;
  return static_cast<int32_t>(sink->Read(buffer, wanted));
}

OSTRELIN_API int32_t ostrelinClean(OstrelinContext* ctx, OstrelinSpool* spool, OstrelinJob* job) noexcept {
  if (!RecordsGiven(ctx, spool, job)) return -1;
  return ReleaseRenderingJob(*ctx, *spool, *job) ? 0 : -1;
}

OSTRELIN_API void RechercheTailleDePiPgPo(int32_t* spoolSize, int32_t* contextSize, int32_t* jobSize) noexcept {
  if (spoolSize != nullptr) *spoolSize = static_cast<int32_t>(sizeof(OstrelinSpool));
  if (contextSize != nullptr) *contextSize = static_cast<int32_t>(sizeof(OstrelinContext));
  if (jobSize != nullptr) *jobSize = static_cast<int32_t>(sizeof(OstrelinJob));
}

}  // extern "C"
