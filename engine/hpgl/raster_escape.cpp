// Escape sequences embedded in HPGL. The sequences are read whole, binary row data included, so
// that nothing of them is taken for HPGL; decoding the rows into raster layers comes later, and the
// trace hook notes each sequence that has no effect yet.
#include "engine/hpgl/raster_escape.h"

#include "platform/platform.h"

namespace ostrelin::hpgl {
namespace {

constexpr int32_t kSrcCopy = 0xCC0020;

// Skips the data of one raster transfer of count bytes with the given compression method. Methods 0
// to 3 carry exactly count bytes; method 4 a 4-byte row length in bits, then whole rows of every plane
// until count - 4 bytes are used; method 5 blocks of a 3-byte header (command, 16-bit big-endian
// length) followed by that many bytes for commands 0 to 3. Other methods carry nothing.
void SkipRasterData(Interp& in, int32_t method, int32_t count) {
  switch (method) {
    case 0:
    case 1:
    case 2:
    case 3:
      in.Skip(count);
      return;
    case 4: {
      uint32_t bits = 0;
      for (int i = 0; i < 4; ++i) bits = (bits << 8) | static_cast<uint32_t>(in.Next());
      const int64_t rowBytes = (static_cast<int64_t>(bits) + 7) / 8;
      const int64_t perRow = rowBytes * (static_cast<int64_t>(in.spool.rasterLastPlane) + 1);
      if (perRow <= 0) return;  // rows of no bytes would never use the count up
      for (int64_t used = 0; used < static_cast<int64_t>(count) - 4; used += perRow) in.Skip(perRow);
      return;
    }
    case 5: {
      int64_t used = 0;
      while (used < count) {
        const int command = in.Next();
        const int high = in.Next();
        const int length = (high << 8) | in.Next();
        used += 3;
        if (command <= 3) {
          in.Skip(length);
          used += length;
        }
      }
      return;
    }
    default:
      return;
  }
}

void ActOn(Interp& in, int group, int letter, float value) {
  const int32_t n = TruncToInt(value);
  switch (group) {
    case 'b':
      if (letter == 'm') {
        in.spool.rasterCompression = n;
      } else if (letter == 'v' || letter == 'w') {
        SkipRasterData(in, in.spool.rasterCompression, n);
      }
      return;
    case 'l':
      if (letter == 'o') in.ctx.rasterOperation = RasterOperationCode(n);
      return;
    case 'v':
      if (letter == 'w') {
        in.spool.rasterColourSpace = in.Next();
        in.Next();
        in.spool.rasterLastPlane = in.Next() - 1;
        in.Skip(static_cast<int64_t>(n) - 3);
      }
      return;
    default:
      return;
  }
}

// Parameters of a mode switch and of the groups b, l, r, t and v: numbers each followed by a
// letter; a lower-case letter continues the sequence, an upper-case one ends it.
void ParameterLoop(Interp& in, int group) {
  for (;;) {
    float value = 0.0f;
    if (!in.ReadNumber(&value)) value = 0.0f;
    const int c = in.Next();
    if (c < 64 || c == 95 || c > 126) return;
    ActOn(in, group, c | 0x20, value);
    if (c <= 94) return;
  }
}

// Position group: each number may carry a sign that makes it relative.
void PositionLoop(Interp& in) {
  for (;;) {
    in.Next();
    in.PutBack();
    float value = 0.0f;
    if (!in.ReadNumber(&value)) value = 0.0f;
    const int c = in.Next();
    if (c < 64 || c == 95 || c > 126) return;
    if (c <= 94) return;
  }
}

}  // namespace

int32_t RasterOperationCode(int32_t number) {
  switch (number) {
    case 0:
      return 0x000042;
    case 17:
      return 0x1100A6;
    case 51:
      return 0x330008;
    case 68:
      return 0x440328;
    case 85:
      return 0x550009;
    case 90:
    case 102:
      return 0x660046;
    case 136:
      return 0x8800C6;
    case 187:
    case 251:
      return 0xBB0226;
    case 238:
      return 0xEE0086;
    case 255:
      return 0xFF0062;
    default:
      return kSrcCopy;
  }
}

void ReadEscape(Interp& in) {
  const int c = in.Next();
  if (c == '%') {
    Trace("Escape sequence not supported yet: ESC %%\n");
    ParameterLoop(in, '%');
    return;
  }
  if (c != '*') {
    Trace("Escape sequence ignored: ESC %d\n", c);
    return;
  }
  const int group = in.Next();
  switch (group) {
    case 'b':
    case 'l':
    case 'r':
    case 't':
    case 'v':
      if (group != 'l') Trace("Escape sequence not supported yet: ESC *%c\n", group);
      ParameterLoop(in, group);
      return;
    case 'p':
      Trace("Escape sequence not supported yet: ESC *p\n");
      PositionLoop(in);
      return;
    default:
      Trace("Escape sequence ignored: ESC *%d\n", group);
      return;
  }
}

}  // namespace ostrelin::hpgl
