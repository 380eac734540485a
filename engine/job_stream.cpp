// Writers of the machine job stream and the four sinks.
#include "engine/job_stream.h"

#include <algorithm>
#include <cstring>

#include "engine/error.h"
#include "engine/scratch.h"
#include "platform/platform.h"

namespace ostrelin {

namespace {

// Hands bytes to the job's sink; false, with the kind of the failure in *failure, when the sink did not
// take every byte.
bool PutToSink(Job& job, const void* data, size_t size, ErrorKind* failure) {
  if (job.estimateOnly != 0) return true;
  // The engine's own streams (scratch sink, named output file, series stream) are always written as
  // streams, whatever the machine kind: only a host-supplied sink is a file or printer handle.
  if (job.toScratch != 0 || job.outputToFile == 1 || job.seriesFlag != 0) {
    platform::Stream* stream = AsStream(job.outputSink);
    *failure = ErrorKind::kWriteFile;
    return stream != nullptr && stream->Write(data, size) == size;
  }
  const auto* bytes = static_cast<const uint8_t*>(data);
  while (size > 0) {
    const auto piece = static_cast<uint32_t>(std::min<size_t>(size, 0x40000000u));
    if (job.machineKind == 5) {
      *failure = ErrorKind::kWriteFile;
      if (!platform::files().WriteFileHandle(job.outputSink, bytes, piece)) return false;
    } else {
      uint32_t written = 0;
      *failure = ErrorKind::kPrinter;
      if (!platform::spooler().WritePrinter(job.outputSink, bytes, piece, &written) || written != piece) {
        return false;
      }
    }
    bytes += piece;
    size -= piece;
  }
  return true;
}

}  // namespace

void WriteBytes(Context& ctx, Job& job, const void* data, size_t size) {
  ErrorKind failure = ErrorKind::kWriteFile;
  if (!PutToSink(job, data, size, &failure)) Fail(ctx, failure);
}

bool WriteRecordQuietly(Job& job, const char* code, int32_t value) {
  uint8_t record[kRecordBytes];
  EncodeRecord(record, code, static_cast<uint16_t>(value));
  ErrorKind failure = ErrorKind::kWriteFile;
  return PutToSink(job, record, sizeof record, &failure);
}

void WriteWords16(Context& ctx, Job& job, void* buffer, size_t size) {
  auto* bytes = static_cast<uint8_t*>(buffer);
  // Four words at a time: the two bytes of every 16-bit lane of a 64-bit block change places.
  size_t i = 0;
  for (; i + 8 <= size; i += 8) {
    uint64_t block;
    std::memcpy(&block, bytes + i, sizeof block);
    block = ((block & 0x00FF00FF00FF00FFull) << 8) | ((block >> 8) & 0x00FF00FF00FF00FFull);
    std::memcpy(bytes + i, &block, sizeof block);
  }
  for (; i + 1 < size; i += 2) std::swap(bytes[i], bytes[i + 1]);
  WriteBytes(ctx, job, buffer, size);
}

void WriteWords32(Context& ctx, Job& job, void* buffer, size_t size) {
  auto* bytes = static_cast<uint8_t*>(buffer);
  for (size_t i = 0; i + 3 < size; i += 4) {
    std::swap(bytes[i], bytes[i + 3]);
    std::swap(bytes[i + 1], bytes[i + 2]);
  }
  WriteBytes(ctx, job, buffer, size);
}

void EncodeRecord(uint8_t out[kRecordBytes], const char* code, uint16_t value) {
  out[0] = 0xFF;
  out[1] = 0xFD;
  out[2] = static_cast<uint8_t>(code[0]);
  out[3] = static_cast<uint8_t>(code[1]);
  out[4] = static_cast<uint8_t>(value >> 8);
  out[5] = static_cast<uint8_t>(value);
}

void WriteRecord(Context& ctx, Job& job, const char* code, int32_t value) {
  uint8_t record[kRecordBytes];
  EncodeRecord(record, code, static_cast<uint16_t>(value));
  WriteBytes(ctx, job, record, sizeof record);
}

void WriteRecord32(Context& ctx, Job& job, const char* code, uint32_t value) {
  uint8_t records[2 * kRecordBytes];
  EncodeRecord(records, code, static_cast<uint16_t>(value >> 16));
  EncodeRecord(records + kRecordBytes, code, static_cast<uint16_t>(value));
  WriteBytes(ctx, job, records, sizeof records);
}

void WriteText(Context& ctx, Job& job, const char* text) { WriteBytes(ctx, job, text, std::strlen(text)); }

}  // namespace ostrelin
