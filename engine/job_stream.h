// The machine job stream: command records, word writers, ASCII commands, and the choice of sink.
#pragma once

#include <cstddef>
#include <cstdint>

#include "engine/records.h"

namespace ostrelin {

// Size in bytes of one command record: marker FF FD, two code letters, a 16-bit value.
constexpr size_t kRecordBytes = 6;

// Writes bytes unchanged to the job's sink. Nothing is written while the estimate-only flag is set.
// A sink that does not take every byte shows "Write file error" (streams and file handles) or
// "Printer error" (printer handles) and ends through the error frame.
void WriteBytes(Context& ctx, Job& job, const void* data, size_t size);

// Turns every 16-bit (32-bit) word of buffer to big-endian in place, then writes it.
void WriteWords16(Context& ctx, Job& job, void* buffer, size_t size);
void WriteWords32(Context& ctx, Job& job, void* buffer, size_t size);

// Builds a command record: code is two ASCII letters, value the 16-bit value.
void EncodeRecord(uint8_t out[kRecordBytes], const char* code, uint16_t value);

// Writes one command record; a 32-bit value as two records (high 16 bits, then low).
void WriteRecord(Context& ctx, Job& job, const char* code, int32_t value);
void WriteRecord32(Context& ctx, Job& job, const char* code, uint32_t value);

// Writes one command record without showing anything: false when the sink did not take it. For the
// abort path, whose sink may have failed already and must not report that failure a second time.
bool WriteRecordQuietly(Job& job, const char* code, int32_t value);

// Writes ASCII text without terminator.
void WriteText(Context& ctx, Job& job, const char* text);

}  // namespace ostrelin
