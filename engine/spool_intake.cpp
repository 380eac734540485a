// The spool road: debut, series, capture and replay, closing and aborting jobs.
#include "engine/spool_intake.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "engine/error.h"
#include "engine/export_guard.h"
#include "engine/hpgl/page_driver.h"
#include "engine/hpgl/plot_file.h"
#include "engine/hpgl/plotter_state.h"
#include "engine/job_assembly.h"
#include "engine/job_reset.h"
#include "engine/job_stream.h"
#include "engine/scratch.h"
#include "engine/settings.h"
#include "engine/settings_layout.h"
#include "ostrelin/ostrelin.h"
#include "platform/platform.h"

namespace ostrelin {
namespace {

bool StartsWith(const uint8_t* chunk, uint32_t length, const char* text) {
  const size_t size = std::strlen(text);
  return chunk != nullptr && length >= size && std::memcmp(chunk, text, size) == 0;
}

bool SinkIsPrinter(const Job& job) {
  return job.outputToFile != 1 && job.seriesFlag == 0 && job.machineKind != 5 && job.toScratch == 0;
}

void FreeBlock(void* block) {
  if (block != nullptr) platform::memory().Free(block);
}

// Releases what a spool job holds, apart from the sink. Used by the closing and the abort path.
void ReleaseSpoolJob(Context& ctx, Spool& spool, Job& job) {
  ResetBoundingBox(spool);
  FreeBlock(spool.spoolBuffer);
  spool.spoolBuffer = nullptr;
  spool.readPos = nullptr;
  spool.dataEnd = nullptr;
  CloseStreamField(&ctx.plotFile);
  if (ctx.printerDC != nullptr) platform::spooler().DeletePrinterDC(ctx.printerDC);
  ctx.printerDC = nullptr;
  FreeBlock(job.workRow);
  job.workRow = nullptr;
  for (auto& layer : job.colourLayers) {
    if (layer != nullptr) CloseLayerFile(&layer);
  }
  ReleaseJobBuffers(ctx, spool, job);
  FreeBlock(job.captured);
  job.captured = nullptr;
  job.capturedCount = 0;
  if (job.outputToFile == 1) CloseStreamField(&job.outputSink);
  hpgl::ReleaseHpglState(ctx);
  ctx.jobOpenFlag = 0;
  ctx.pageEndFlag = 0;
}

// Opens the file named in the settings (UTF-16, the low byte of every unit kept) for the job and writes
// the file start. A name that does not end within its 260 units is refused.
void OpenOutputFile(Context& ctx, Job& job, const uint8_t* settings) {
  const settings::View view(settings);
  char name[settings::kOutputFileNameUnits];
  size_t length = 0;
  for (; length < settings::kOutputFileNameUnits; ++length) {
    name[length] = static_cast<char>(view.U16(settings::kOutputFileName + 2 * length) & 0xFF);
    if (name[length] == '\0') break;
  }
  if (length == settings::kOutputFileNameUnits || length == 0) Fail(ctx, ErrorKind::kCreateFile);
  platform::Stream* file = platform::files().OpenOutputFile(name);
  if (file == nullptr) Fail(ctx, ErrorKind::kCreateFile);
  job.outputSink = file;
  WriteText(ctx, job, "!LB 1;");
}

// The first chunk of a job: settings, reset, spool buffer, sink, plot command file, interpreter state.
void TakeFirstChunk(Context& ctx, Spool& spool, Job& job, void* printer, const uint8_t* chunk, uint32_t length,
                    uint8_t* settings) {
  ctx.jobOpenFlag = 1;
  job.toScratch = 0;
  job.renderingRoad = 0;
  LoadSettings(ctx, job, settings, printer);
  ResetJob(ctx, spool, job);
  // A series keeps its stream: a job inside a series never replaces it by a named file.
  if (job.seriesFlag != 0) job.outputToFile = 0;
  auto* buffer = static_cast<uint8_t*>(platform::memory().Allocate(kSpoolBufferBytes, true));
  if (buffer == nullptr) Fail(ctx, ErrorKind::kMemory);
  spool.spoolBuffer = buffer;
  std::memcpy(buffer, chunk, length);
  spool.readPos = buffer;
  spool.dataEnd = buffer + length;
  if (job.outputToFile == 1) {
    job.outputSink = nullptr;
    OpenOutputFile(ctx, job, settings);
  } else if (job.seriesFlag == 0) {
    job.outputSink = printer;
  }
  platform::Stream* plot = OpenScratchStream(ctx);
  if (plot == nullptr) throw EngineAbort{ErrorKind::kTemporaryFile};
  ctx.plotFile = plot;
  hpgl::PrepareHpglState(ctx, spool, job);
  AllocateUnderlay(ctx);
  // The printer's device context, on which fills make their bitmaps; without one they use the screen's.
  ctx.printerDC = nullptr;
  std::string printerName;
  if (printer != nullptr && platform::spooler().GetPrinterName(printer, &printerName)) {
    ctx.printerDC = platform::spooler().CreatePrinterDC(printerName.c_str());
  }
}

// A later chunk: the unread bytes move to the start of the buffer and the chunk follows them.
void TakeLaterChunk(Context& ctx, Spool& spool, const uint8_t* chunk, uint32_t length) {
  if (spool.readPos > spool.spoolBuffer) {
    const size_t pending = static_cast<size_t>(spool.dataEnd - spool.readPos);
    std::memmove(spool.spoolBuffer, spool.readPos, pending);
    spool.readPos = spool.spoolBuffer;
    spool.dataEnd = spool.spoolBuffer + pending;
  }
  const size_t held = static_cast<size_t>(spool.dataEnd - spool.spoolBuffer);
  if (held + length > kSpoolBufferBytes) Fail(ctx, ErrorKind::kMemory);
  std::memcpy(spool.dataEnd, chunk, length);
  spool.dataEnd += length;
}

// Capture: the points of the plot command file become the host's array of coordinate pairs.
void Capture(Context& ctx, Job& job) {
  platform::Stream* plot = AsStream(ctx.plotFile);
  ctx.endLength = plot->Tell();
  if (ctx.endLength < 0 || !plot->Seek(0, platform::kSeekSet)) Fail(ctx, ErrorKind::kTemporaryFile);
  FreeBlock(job.captured);
  job.captured = nullptr;
  job.capturedCount = 0;
  auto* pairs = static_cast<float*>(platform::memory().Allocate(static_cast<size_t>(ctx.endLength) + 8, false));
  if (pairs == nullptr) Fail(ctx, ErrorKind::kMemory);
  job.captured = pairs;
  hpgl::Reader reader(ctx, *plot, ctx.endLength);
  size_t floats = 0;
  for (uint8_t op = reader.NextOpcode(); op != hpgl::kOpEnd; op = reader.NextOpcode()) {
    if (op == hpgl::kOpPenUp || op == hpgl::kOpPenDown || op == hpgl::kOpDot) {
      reader.ReadPoint(&pairs[floats], &pairs[floats + 1]);
      floats += 2;
    } else if (op == hpgl::kOpColour) {
      reader.ReadColourClass();
    } else {
      reader.SkipPayload(op);
    }
  }
  job.capturedCount = static_cast<int32_t>(floats / 2);
}

void PutRecord(Context& ctx, platform::Stream& out, const uint8_t* bytes, size_t size) {
  if (out.Write(bytes, size) != size) Fail(ctx, ErrorKind::kTemporaryFile);
}

// Replay: a new plot command file whose points are the captured pairs, in order; the "!" records are
// dropped. When the host's pairs run out, the remaining points keep their own coordinates.
void Replay(Context& ctx, Job& job) {
  platform::Stream* old = AsStream(ctx.plotFile);
  if (old == nullptr || !old->Seek(0, platform::kSeekSet)) Fail(ctx, ErrorKind::kTemporaryFile);
  platform::Stream* fresh = OpenScratchStream(ctx);
  if (fresh == nullptr) throw EngineAbort{ErrorKind::kTemporaryFile};
  try {
    hpgl::Reader reader(ctx, *old, ctx.endLength);
    int32_t next = 0;
    for (uint8_t op = reader.NextOpcode();; op = reader.NextOpcode()) {
      uint8_t record[9] = {op};
      if (op == hpgl::kOpEnd) {
        PutRecord(ctx, *fresh, record, 1);
        break;
      }
      if (op == hpgl::kOpNop) {
        PutRecord(ctx, *fresh, record, 1);
      } else if (op == hpgl::kOpPenUp || op == hpgl::kOpPenDown || op == hpgl::kOpDot) {
        float xy[2];
        reader.ReadPoint(&xy[0], &xy[1]);
        if (job.captured != nullptr && next < job.capturedCount) {
          xy[0] = job.captured[2 * next];
          xy[1] = job.captured[2 * next + 1];
        }
        ++next;
        std::memcpy(record + 1, xy, sizeof xy);
        PutRecord(ctx, *fresh, record, sizeof record);
      } else if (op == hpgl::kOpColour) {
        record[1] = reader.ReadColourClass();
        PutRecord(ctx, *fresh, record, 2);
      } else {
        reader.SkipPayload(op);
      }
    }
  } catch (...) {
    platform::CloseStream(fresh);
    throw;
  }
  CloseStreamField(&ctx.plotFile);
  ctx.plotFile = fresh;
  FreeBlock(job.captured);
  job.captured = nullptr;
  job.capturedCount = 0;
}

void CloseSpoolJob(Context& ctx, Spool& spool, Job& job) {
  if (job.passMode == 2) Replay(ctx, job);
  WriteJobHeader(ctx, spool, job);
  AssembleJob(ctx, spool, job);
  ReleaseSpoolJob(ctx, spool, job);
}

// Takes one piece of a chunk; runs the interpreter when a page is complete or enough is pending.
void TakePiece(Context& ctx, Spool& spool, Job& job, void* printer, const uint8_t* chunk, uint32_t length,
               uint8_t* settings) {
  if (ctx.jobOpenFlag == 0) {
    TakeFirstChunk(ctx, spool, job, printer, chunk, length, settings);
  } else {
    TakeLaterChunk(ctx, spool, chunk, length);
  }
  spool.readPos = spool.spoolBuffer;
  const size_t held = static_cast<size_t>(spool.dataEnd - spool.spoolBuffer);
  spool.pageComplete = 0;
  if (held >= 3 && (std::memcmp(spool.dataEnd - 3, "PG;", 3) == 0 || std::memcmp(spool.dataEnd - 3, "pg;", 3) == 0)) {
    spool.pageComplete = 1;
    ++ctx.pageCounter;
  }
  if (spool.pageComplete == 0 && held < kProcessThreshold) return;
  hpgl::RunPageDriver(ctx, spool, job);
  if (ctx.pageEndFlag == 0) return;
  if (job.passMode == 1) {
    Capture(ctx, job);
    return;
  }
  CloseSpoolJob(ctx, spool, job);
}

// Runs work under the error frame; a failure ends the open job through the abort path.
template <class Work>
void UnderSpoolFrame(Context& ctx, Spool& spool, Job& job, void* printer, Work&& work) {
  bool failed = false;
  UnderFrame(ctx, [&] {
    try {
      work();
    } catch (const EngineAbort& abort) {
      // Failures whose message was shown by a non-fatal opener arrive here without a recorded kind.
      if (ctx.lastError == 0) ctx.lastError = static_cast<int32_t>(abort.kind) + 1;
      failed = true;
      throw;
    } catch (...) {
      failed = true;
      throw;
    }
  });
  if (failed && ctx.jobOpenFlag != 0) AbortSpoolJob(ctx, spool, job, printer);
}

void StartSeries(Context& ctx, Job& job, const uint8_t* settings) {
  // Without the series bit the escape opens nothing; an open series simply goes on.
  if (job.seriesFlag != 0 || ctx.jobOpenFlag != 0) return;
  if ((settings::View(settings).U16(settings::kFlagWord) & settings::kFlagSeries) == 0) return;
  ctx.pageCounter = 0;
  platform::Stream* stream = OpenScratchStream(ctx);
  if (stream == nullptr) {
    ShowError(ctx, ErrorKind::kCreateFile);
    return;
  }
  job.outputSink = stream;
  job.seriesFlag = 1;
  job.toScratch = 0;
  job.estimateOnly = 0;
  UnderFrame(ctx, [&] {
    WriteText(ctx, job, "!RA32;");
    uint8_t reserved[32] = {};
    WriteWords32(ctx, job, reserved, sizeof reserved);
  });
}

// Sends the whole series stream to the printer (or the machine's file handle) in blocks of 2,048 bytes.
bool CopyToPrinter(platform::Stream& stream, int64_t length, void* printer, int machineKind) {
  uint8_t block[2048];
  bool sent = true;
  while (length > 0) {
    const auto size = static_cast<uint32_t>(std::min<int64_t>(length, sizeof block));
    if (stream.Read(block, size) != size) return false;
    uint32_t written = 0;
    const bool ok = machineKind == 5 ? platform::files().WriteFileHandle(printer, block, size)
                                     : platform::spooler().WritePrinter(printer, block, size, &written) &&
                                           written == size;
    sent = sent && ok;
    length -= size;
  }
  return sent;
}

void EndSeries(Context& ctx, Spool& spool, Job& job, void* printer, const uint8_t* settings) {
  if (job.seriesFlag == 0) return;
  // A job still waiting for its page end cannot outlive its series: it ends as an aborted job.
  if (ctx.jobOpenFlag != 0) AbortSpoolJob(ctx, spool, job, printer);
  const settings::View view(settings);
  uint32_t header[8] = {view.U16(settings::kModel),
                        view.U32(settings::kPlateWidthUm) / 10,
                        view.U32(settings::kPlateHeightUm) / 10,
                        static_cast<uint32_t>(ctx.pageCounter),
                        static_cast<uint32_t>(ctx.pageCounter),
                        0x05000600u,
                        0,
                        2};
  platform::Stream* stream = AsStream(job.outputSink);
  const uint16_t estimateOnly = job.estimateOnly;
  job.estimateOnly = 0;
  bool sent = false;
  UnderFrame(ctx, [&] {
    if (!stream->Seek(6, platform::kSeekSet)) Fail(ctx, ErrorKind::kWriteFile);
    WriteWords32(ctx, job, header, sizeof header);
    if (!stream->Seek(0, platform::kSeekEnd)) Fail(ctx, ErrorKind::kWriteFile);
    const int64_t length = stream->Tell();
    if (length < 0 || !stream->Seek(0, platform::kSeekSet)) Fail(ctx, ErrorKind::kReadFile);
    sent = CopyToPrinter(*stream, length, printer, job.machineKind);
    if (!sent) Fail(ctx, ErrorKind::kPrinter);
  });
  job.estimateOnly = estimateOnly;
  CloseStreamField(&job.outputSink);
  job.seriesFlag = 0;
}

}  // namespace

void AbortSpoolJob(Context& ctx, Spool& spool, Job& job, void* printer) {
  // When the sink itself has failed, its failure has been shown once already: the closing records
  // go without a message of their own.
  if (job.outputSink != nullptr && WriteRecordQuietly(job, "AI", 0)) WriteRecordQuietly(job, "JF", 0);
  if (SinkIsPrinter(job) && job.outputSink != nullptr) {
    if (!platform::spooler().AbortPrinter(printer != nullptr ? printer : job.outputSink)) {
      ShowError(ctx, ErrorKind::kSpooler);
    }
  }
  ReleaseSpoolJob(ctx, spool, job);
}

}  // namespace ostrelin

using namespace ostrelin;

extern "C" OSTRELIN_API void debut(void* printer, const uint8_t* chunk, uint32_t length, uint8_t* settings,
                                   OstrelinSpool* spool, OstrelinContext* ctx, OstrelinJob* job) noexcept {
  if (!RecordsGiven(ctx, spool, job)) return;
  if (settings == nullptr || (chunk == nullptr && length != 0)) {
    ShowError(*ctx, ErrorKind::kBadPointer);
    return;
  }
  if (StartsWith(chunk, length, kSeriesStart)) {
    StartSeries(*ctx, *job, settings);
    return;
  }
  if (StartsWith(chunk, length, kSeriesEnd)) {
    EndSeries(*ctx, *spool, *job, printer, settings);
    return;
  }
  if (job->passMode == 2 && ctx->jobOpenFlag != 0) {
    UnderSpoolFrame(*ctx, *spool, *job, printer, [&] { CloseSpoolJob(*ctx, *spool, *job); });
    return;
  }
  if (length == 0) return;  // nothing to take in
  if (ctx->jobOpenFlag == 0) ctx->lastError = 0;
  // A chunk longer than the spool buffer can take at once is taken in pieces.
  uint32_t offset = 0;
  do {
    const uint32_t piece = std::min(length - offset, kLargestChunk);
    UnderSpoolFrame(*ctx, *spool, *job, printer,
                    [&] { TakePiece(*ctx, *spool, *job, printer, chunk + offset, piece, settings); });
    offset += piece;
  } while (offset < length && ctx->lastError == 0);
}
