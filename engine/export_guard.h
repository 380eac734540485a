// The error frame of the exports: runs an export's work so that a fatal error ends the call there,
// and refuses null records, so that no exception or null record ever reaches past the C boundary.
#pragma once

#include <type_traits>

#include "engine/error.h"

namespace ostrelin {

// Shows "Bad pointer" (in English: no context to choose a language) and returns false when one of
// the records is missing.
bool RecordsGiven(const void* ctx, const void* spool, const void* job);

// Runs the body of an export under an error frame; a fatal error has shown its message and recorded
// its kind in the context when the body ends early.
void RunUnderFrame(Context& ctx, void (*body)(void*), void* closure) noexcept;

template <class Body>
void UnderFrame(Context& ctx, Body&& body) noexcept {
  using Callable = std::remove_reference_t<Body>;
  RunUnderFrame(ctx, [](void* closure) { (*static_cast<Callable*>(closure))(); }, &body);
}

}  // namespace ostrelin
