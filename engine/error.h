// The error frame: a fatal error shows its message in the chosen language and unwinds to the export.
#pragma once

#include <cstdint>

#include "engine/records.h"

namespace ostrelin {

// The sixteen error kinds of the message table, in table order.
enum class ErrorKind : int32_t {
  kBitmap = 0,
  kCreateFile = 1,
  kPlateSize = 2,
  kDpi = 3,
  kWriteFile = 4,
  kTemporaryFile = 5,
  kPrinter = 6,
  kReadFile = 7,
  kMemory = 8,
  kBadPointer = 9,
  kSpooler = 10,
  kSyntax = 11,
  kSyntax1 = 12,
  kSyntax2 = 13,
  kSyntax3 = 14,
  kSyntax4 = 15,
};

// Carries the kind of a fatal error from the failing function to the export that catches it.
struct EngineAbort {
  ErrorKind kind;
};

// Shows the message of kind through the platform's message sink, in the context's language (English
// while no table has been loaded), without ending anything.
void ShowError(const Context& ctx, ErrorKind kind);

// Shows the message of kind and ends through the error frame.
[[noreturn]] void Fail(Context& ctx, ErrorKind kind);

}  // namespace ostrelin
