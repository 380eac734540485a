// The byte reader of the HPGL interpreter.
#include "engine/hpgl/reader.h"

#include <charconv>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <limits>
#include <vector>

#include "platform/platform.h"

namespace ostrelin::hpgl {
namespace {

bool StartsNumber(int c) { return (c >= '0' && c <= '9') || c == '.' || c == '+' || c == '-'; }

// Converts the collected text of a number: an optional sign, digits, an optional point and digits;
// whatever follows the longest such prefix ("1.2.3") is ignored. Values beyond the float range become
// infinities and tiny ones zero, as a decimal conversion to float does.
bool ConvertNumber(const char* text, int length, float* value) {
  const char* p = text;
  const char* end = text + length;
  bool negative = false;
  if (*p == '+' || *p == '-') {
    negative = *p == '-';
    ++p;
  }
  float result = 0.0f;
  const auto converted = std::from_chars(p, end, result);
  if (converted.ptr == p) return false;
  if (converted.ec == std::errc::result_out_of_range) {
    // At most 79 characters: always within the double range.
    double wide = 0.0;
    std::from_chars(p, end, wide);
    result = std::fabs(wide) > std::numeric_limits<float>::max() ? std::numeric_limits<float>::infinity()
                                                                 : static_cast<float>(wide);
  }
  *value = negative ? -result : result;
  return true;
}

}  // namespace

int32_t TruncToInt(float value) {
  if (std::isnan(value)) return 0;
  if (value >= 2147483647.0f) return INT32_MAX;
  if (value <= -2147483648.0f) return INT32_MIN;
  return static_cast<int32_t>(value);
}

void Trace(const char* format, ...) {
  char text[512];
  va_list args;
  va_start(args, format);
  const int needed = std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  if (needed < 0) return;
  if (static_cast<size_t>(needed) < sizeof text) {
    platform::trace().Trace(text);
    return;
  }
  std::vector<char> longer(static_cast<size_t>(needed) + 1);
  va_start(args, format);
  std::vsnprintf(longer.data(), longer.size(), format, args);
  va_end(args);
  platform::trace().Trace(longer.data());
}

Interp::Interp(Context& context, Spool& spoolRecord, Job& jobRecord)
    : ctx(context), spool(spoolRecord), job(jobRecord) {
  pos_ = spool.readPos;
  end_ = spool.dataEnd;
  if (pos_ == nullptr || end_ == nullptr || end_ < pos_) {
    pos_ = end_ = spool.readPos;
    stopFrom_ = quiet_ = pos_;
    return;
  }
  // The stop rule: the unread count before a byte is taken, end - pos, is below the threshold from
  // pos = end - (threshold - 1) on. A complete page is read to its end.
  if (spool.pageComplete != 0) {
    stopFrom_ = end_;  // never reached by a byte that is taken
  } else if (end_ - pos_ <= kPendingThreshold - 1) {
    stopFrom_ = pos_;
  } else {
    stopFrom_ = end_ - (kPendingThreshold - 1);
  }
  quiet_ = stopFrom_ < end_ ? stopFrom_ : end_;
}

void Interp::Skip(int64_t count) {
  if (count <= 0) return;
  if (count > end_ - pos_) {
    pos_ = end_;
    Fail(ctx, ErrorKind::kSyntax);
  }
  pos_ += count;
  if (pos_ - 1 >= stopFrom_) spool.stopFlag = 1;
}

bool Interp::ReadNumber(float* value, bool* malformed) {
  *malformed = false;
  int c;
  for (;;) {
    c = Next();
    if (StartsNumber(c)) break;
    if (c == ';') return false;
    if (IsLetter(c) || c == kEsc || c == '!') {
      PutBack();
      return false;
    }
  }
  // Whole numbers of up to nine digits (nearly every coordinate) are converted on the way, exactly;
  // anything else is read again as text.
  const uint8_t* start = pos_ - 1;
  bool negative = false;
  int digit = c;
  if (c == '-' || c == '+') {
    negative = c == '-';
    digit = Next();
  }
  int32_t whole = 0;
  int digits = 0;
  while (digit >= '0' && digit <= '9' && digits < 9) {
    whole = whole * 10 + (digit - '0');
    ++digits;
    digit = Next();
  }
  if (digits > 0 && !(digit >= '0' && digit <= '9') && digit != '.') {
    PutBack();
    const float magnitude = static_cast<float>(whole);
    *value = negative ? -magnitude : magnitude;
    return true;
  }
  pos_ = start + 1;
  if (ReadNumberText(c, value)) return true;
  *malformed = true;
  return false;
}

bool Interp::ReadNumberText(int first, float* value) {
  char text[kMaxNumberChars];
  int length = 0;
  text[length++] = static_cast<char>(first);
  for (;;) {
    const int c = Next();
    if (!((c >= '0' && c <= '9') || c == '.')) break;
    if (length < kMaxNumberChars) text[length++] = static_cast<char>(c);
  }
  PutBack();
  return ConvertNumber(text, length, value);
}

int Interp::ReadNumbers(float* values, int count) {
  for (int i = 0; i < count; ++i) {
    if (!ReadNumber(&values[i])) return i;
  }
  return count;
}

void Interp::ReadText() {
  const uint8_t terminator = ctx.labelTerminator;
  const void* found = std::memchr(pos_, terminator, static_cast<size_t>(end_ - pos_));
  if (found == nullptr) {
    Skip(end_ - pos_);
    Fail(ctx, ErrorKind::kSyntax);
  }
  const auto* stop = static_cast<const uint8_t*>(found);
  const int64_t textBytes = stop - pos_;
  const int64_t stored = textBytes + (terminator != kEtx ? 1 : 0);
  // The buffer doubles whenever a character would be stored past half its capacity; the NUL after
  // the text is placed under the same rule.
  int64_t capacity = ctx.labelText != nullptr ? ctx.labelCapacity : kLabelInitialCapacity;
  while (stored > capacity / 2) capacity *= 2;
  if (capacity > INT32_MAX) Fail(ctx, ErrorKind::kMemory);
  if (ctx.labelText == nullptr || capacity > ctx.labelCapacity) {
    auto* grown = static_cast<uint8_t*>(platform::memory().Allocate(static_cast<size_t>(capacity), false));
    if (grown == nullptr) Fail(ctx, ErrorKind::kMemory);
    if (ctx.labelText != nullptr) platform::memory().Free(ctx.labelText);
    ctx.labelText = grown;
    ctx.labelCapacity = static_cast<int32_t>(capacity);
  }
  std::memcpy(ctx.labelText, pos_, static_cast<size_t>(textBytes));
  if (terminator != kEtx) ctx.labelText[textBytes] = terminator;
  ctx.labelText[stored] = 0;
  ctx.labelLength = static_cast<int32_t>(stored);
  Skip(textBytes + 1);
}

void ReleaseLabelText(Context& ctx) {
  if (ctx.labelText != nullptr) platform::memory().Free(ctx.labelText);
  ctx.labelText = nullptr;
  ctx.labelCapacity = kLabelInitialCapacity;
  ctx.labelLength = 0;
}

}  // namespace ostrelin::hpgl
