// The byte reader of the HPGL interpreter: next character with the stop rule, numbers, label text,
// and the trace hook's formatting.
#pragma once

#include <cstddef>
#include <cstdint>

#include "engine/error.h"
#include "engine/records.h"

namespace ostrelin::hpgl {

// Without a page end at the data end, the page driver returns once fewer unread bytes than this
// remain, so that the next chunks can complete the commands near the end.
constexpr ptrdiff_t kPendingThreshold = 5000000;

// Characters of a number that are kept; the rest of a longer number is consumed and dropped.
constexpr int kMaxNumberChars = 79;

// Initial capacity of the label text buffer.
constexpr int32_t kLabelInitialCapacity = 151;

constexpr int kEsc = 27;
constexpr int kEtx = 3;

inline bool IsLetter(int c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

// A float truncated toward zero, saturated to the 32-bit range; NaN gives 0.
int32_t TruncToInt(float value);

// Hands a printf-style diagnostic to the trace hook.
void Trace(const char* format, ...) __attribute__((format(printf, 1, 2)));

// One call of the page driver: the records and the read position, which is kept in a local pointer
// while the call runs and stored back into the spool record when it ends (also through the error
// frame).
class Interp {
 public:
  Interp(Context& context, Spool& spoolRecord, Job& jobRecord);
  ~Interp() { spool.readPos = const_cast<uint8_t*>(pos_); }
  Interp(const Interp&) = delete;
  Interp& operator=(const Interp&) = delete;

  Context& ctx;
  Spool& spool;
  Job& job;

  // The next byte at command level; at the data end the stop flag rises and the result is 0.
  int NextAtCommandLevel() {
    if (pos_ < quiet_) return *pos_++;
    if (pos_ == end_) {
      spool.stopFlag = 1;
      return 0;
    }
    spool.stopFlag = 1;
    return *pos_++;
  }

  // The next byte inside a command; the data end there is a "Syntax error".
  int Next() {
    if (pos_ < quiet_) return *pos_++;
    if (pos_ == end_) Fail(ctx, ErrorKind::kSyntax);
    spool.stopFlag = 1;
    return *pos_++;
  }

  void PutBack() { --pos_; }

  // Takes count bytes inside a command without looking at them.
  void Skip(int64_t count);

  // Reads one number: false (no number) at ";" (consumed), before a letter, ESC or "!" (left
  // unread), or for a text that does not convert ("-", "."); other characters before the number are
  // skipped. After its first character a number takes only digits and ".".
  bool ReadNumber(float* value) {
    bool malformed;
    return ReadNumber(value, &malformed);
  }

  // As ReadNumber; *malformed tells a text that does not convert ("-", ".") from an absent number.
  bool ReadNumber(float* value, bool* malformed);

  // Reads up to count numbers into values; returns how many were read before the first missing one.
  int ReadNumbers(float* values, int count);

  // Reads characters up to the label terminator into the label text buffer (the terminator is kept
  // unless it is ETX; a NUL follows).
  void ReadText();

 private:
  const uint8_t* pos_;
  const uint8_t* end_;
  const uint8_t* stopFrom_;  // taking a byte at or after this raises the stop flag
  const uint8_t* quiet_;     // bytes before this are taken without either check

  bool ReadNumberText(int first, float* value);
};

// Frees the label text buffer of the context.
void ReleaseLabelText(Context& ctx);

}  // namespace ostrelin::hpgl
