// Encoded polylines.
#include "engine/hpgl/encoded_polyline.h"

#include <cmath>
#include <cstdint>

#include "engine/hpgl/labels.h"
#include "engine/hpgl/plotter_state.h"

namespace ostrelin::hpgl {
namespace {

constexpr int kTerminator = ';';

/* The decoder of one PE command. A number is a run of digits, least significant first: in 8-bit mode
 * bytes 63 to 126 carry 6 bits each and are followed by more, bytes 191 to 254 carry the last 6 bits;
 * in 7-bit mode the eighth bit is dropped, 63 to 94 carry 5 bits and are followed by more, 95 to 126
 * carry the last 5 bits. Bit 0 of the whole is the sign, the rest the magnitude. Flags ("7", ":", "<",
 * "=", ">", with or without the eighth bit) and ";" are looked at before digits. Every other byte
 * (spaces, control characters, other printable characters below 63, DEL, and in 8-bit mode 127 to 190
 * and 255, whose values would overlap the next digit's bits) is passed over wherever it stands, also
 * inside a number. A number that ";" or a flag cuts short keeps the digits it has. */
class Decoder {
 public:
  explicit Decoder(Interp& in) : in_(in) {}

  void Run() {
    Context& ctx = in_.ctx;
    for (;;) {
      const int c = in_.Next();
      if (c == kTerminator) return;
      if (IsFlag(c)) {
        Flag(c & 0x7F);
        continue;
      }
      if (!IsDigit(c)) continue;
      const double x = Coordinate(c);
      const double y = Coordinate(in_.Next());
      ctx.penDownFlag = penUpNext_ ? 0 : 1;
      float targetX = static_cast<float>(x);
      float targetY = static_cast<float>(y);
      if (!absoluteNext_) {
        targetX += ctx.userX;
        targetY += ctx.userY;
      }
      PlotTarget(ctx, in_.job, targetX, targetY);
      SetLabelLineStart(ctx);
      penUpNext_ = false;
      absoluteNext_ = false;
    }
  }

 private:
  static bool IsFlag(int c) {
    const int plain = c & 0x7F;
    return plain == '7' || plain == ':' || plain == '<' || plain == '=' || plain == '>';
  }

  void Flag(int flag) {
    switch (flag) {
      case '7':
        sevenBit_ = true;
        return;
      case '<':
        penUpNext_ = true;
        return;
      case '=':
        absoluteNext_ = true;
        return;
      case '>': {
        // The fraction bits come from the one character that follows: bit 0 the sign, the rest the
        // magnitude. A ";" there still ends the command.
        const int c = in_.Next();
        bool last = false;
        const int digit = Digit(c, &last);
        if (digit < 0 && c == kTerminator) in_.PutBack();
        const int value = digit < 0 ? 0 : digit;
        fractionBits_ = (value & 1) != 0 ? -(value >> 1) : value >> 1;
        return;
      }
      default: {  // ':' pen selection, as SP selects
        const double pen = Integer(in_.Next());
        SelectPen(in_.ctx, in_.job, static_cast<float>(pen), true);
        return;
      }
    }
  }

  // Digit value of byte c in the current mode and whether it ends a number; -1 when c is no digit.
  int Digit(int c, bool* last) const {
    if (sevenBit_) {
      c &= 0x7F;
      *last = c >= 95;
      if (c >= 63 && c <= 94) return c - 63;
      if (c >= 95 && c <= 126) return c - 95;
      return -1;
    }
    *last = c >= 191;
    if (c >= 63 && c <= 126) return c - 63;
    if (c >= 191 && c <= 254) return c - 191;
    return -1;
  }

  bool IsDigit(int c) const {
    bool last;
    return Digit(c, &last) >= 0;
  }

  // Decodes the number whose first byte is c, as a signed integer (exact up to 2^53; digits beyond
  // 64 bits are read and dropped).
  double Integer(int c) {
    const int bitsPerDigit = sevenBit_ ? 5 : 6;
    uint64_t value = 0;
    int shift = 0;
    for (;; c = in_.Next()) {
      bool last = false;
      const int digit = Digit(c, &last);
      if (digit < 0) {
        if (c == kTerminator || IsFlag(c)) {
          in_.PutBack();
          break;
        }
        continue;
      }
      if (shift < 64) {
        value |= static_cast<uint64_t>(digit) << shift;
        shift += bitsPerDigit;
      }
      if (last) break;
    }
    const double magnitude = static_cast<double>(value >> 1);
    return (value & 1) != 0 ? -magnitude : magnitude;
  }

  // A coordinate: the integer shifted left by the fraction bits taken modulo 32 (a count of 2
  // doubles the coordinates; a negative count wraps to a large shift). The shift is made in double
  // precision, where every result is exact and nothing overflows.
  double Coordinate(int c) { return std::ldexp(Integer(c), fractionBits_ & 31); }

  Interp& in_;
  bool sevenBit_ = false;
  bool penUpNext_ = false;
  bool absoluteNext_ = false;
  int fractionBits_ = 0;
};

}  // namespace

void EncodedPolyline(Interp& in) { Decoder(in).Run(); }

}  // namespace ostrelin::hpgl
