// Escape sequences embedded in HPGL: the mode switches, and the raster groups whose settings live in
// the spool record and whose row data is decoded into the row buffer and handed to the raster intake.
#include "engine/hpgl/raster_escape.h"

#include <algorithm>
#include <cstring>

#include "engine/hpgl/plotter_state.h"
#include "engine/hpgl/rtl_decode.h"
#include "engine/raster/bitmap_intake.h"
#include "platform/platform.h"

namespace ostrelin::hpgl {
namespace {

constexpr int32_t kSrcCopy = 0xCC0020;

// The data bytes of a transfer, taken inside the command: the data end is a "Syntax error".
class InterpSource final : public rtl::ByteSource {
 public:
  explicit InterpSource(Interp& in) : in_(in) {}
  int Next() override { return in_.Next(); }
  void Skip(int64_t count) override { in_.Skip(count); }

 private:
  Interp& in_;
};

// Complete rows go to the raster intake.
class IntakeSink final : public rtl::RowSink {
 public:
  IntakeSink(Context& ctx, Job& job) : ctx_(ctx), job_(job) {}
  void Deliver(Spool& spool, rtl::RowKind kind) override {
    switch (kind) {
      case rtl::RowKind::kBits:
        raster::PutBitRow(ctx_, spool, job_);
        return;
      case rtl::RowKind::kPlanes:
        raster::PutPlaneRow(ctx_, spool, job_);
        return;
      case rtl::RowKind::kBytes:
        raster::PutGreyRow(ctx_, spool, job_, raster::SourceKind::kBytes);
        return;
    }
  }

 private:
  Context& ctx_;
  Job& job_;
};

int32_t Saturate(int64_t value) {
  return static_cast<int32_t>(std::clamp<int64_t>(value, INT32_MIN, INT32_MAX));
}

void ClearSeedRows(Spool& spool) { std::memset(spool.seedRows, 0, sizeof spool.seedRows); }

// Row width from a pixel count: one byte per pixel in the byte colour space, else one bit. Negative
// counts give an empty row.
void SetRowWidth(Spool& spool, int32_t pixels) {
  const int32_t n = std::max(pixels, 0);
  spool.rowPixels = n;
  spool.rowBytes = spool.rasterColourSpace == rtl::kByteColourSpace ? n : Saturate((int64_t{n} + 7) / 8);
}

void SetPaletteEntry(Context& ctx, int index, uint8_t red, uint8_t green, uint8_t blue) {
  ctx.rasterPalette[index][0] = blue;
  ctx.rasterPalette[index][1] = green;
  ctx.rasterPalette[index][2] = red;
  ctx.rasterPalette[index][3] = 0;
}

// Image configuration: colour space, an unused byte, bits per index, then bytes not looked at.
void ConfigureImage(Interp& in, int32_t count) {
  in.spool.rasterColourSpace = in.Next();
  in.Next();
  const int bitsPerIndex = in.Next();
  if (bitsPerIndex == 1) {
    SetPaletteEntry(in.ctx, 0, 255, 255, 255);
    SetPaletteEntry(in.ctx, 1, 0, 0, 0);
  } else {
    for (int i = 0; i < 8; ++i) {
      SetPaletteEntry(in.ctx, i, (i & 1) ? 255 : 0, (i & 2) ? 255 : 0, (i & 4) ? 255 : 0);
    }
  }
  in.spool.rasterLastPlane = bitsPerIndex - 1;
  in.spool.pendingPlane = -1;
  in.Skip(static_cast<int64_t>(count) - 3);
}

// Row data of the next plane. Data of an unknown method is skipped and fills no plane.
void TransferRow(Interp& in, int32_t count) {
  Spool& spool = in.spool;
  const int32_t method = spool.rasterCompression;
  if (method >= 0 && method <= 5) {
    spool.pendingPlane = std::clamp(spool.pendingPlane + 1, 0, rtl::EffectiveLastPlane(spool));
  } else {
    Trace("Raster data of unknown compression method %d skipped\n", method);
  }
  InterpSource source(in);
  IntakeSink sink(in.ctx, in.job);
  rtl::DecodeTransfer(spool, source, sink, method, count);
}

void ModeSwitch(Interp& in, int letter) {
  if (letter == 'a') {
    in.job.currentClass = 0;
    in.spool.hpgl2Mode = 0;
  } else if (letter == 'b') {
    in.job.currentClass = in.job.secondClass;
    in.spool.hpgl2Mode = 1;
  }
}

void ColourGroup(Interp& in, int letter, int32_t n) {
  Spool& spool = in.spool;
  switch (letter) {
    case 'a':
      spool.rasterRed = n;
      return;
    case 'b':
      spool.rasterGreen = n;
      return;
    case 'c':
      spool.rasterBlue = n;
      return;
    case 'i': {
      if (n < 0 || n > 7) return;
      const auto red = static_cast<uint8_t>(spool.rasterRed);
      const auto green = static_cast<uint8_t>(spool.rasterGreen);
      const auto blue = static_cast<uint8_t>(spool.rasterBlue);
      SetPaletteEntry(in.ctx, n, red, green, blue);
      in.job.currentClass = ColourClass(red, green, blue);
      spool.rasterRed = spool.rasterGreen = spool.rasterBlue = 0;
      return;
    }
    case 'n':
      spool.opaqueSource = n;
      return;
    case 'w':
      ConfigureImage(in, n);
      return;
    default:
      return;
  }
}

void ActOn(Interp& in, int group, int letter, float value) {
  const int32_t n = TruncToInt(value);
  switch (group) {
    case '%':
      ModeSwitch(in, letter);
      return;
    case 'b':
      if (letter == 'm') {
        in.spool.rasterCompression = n;
      } else if (letter == 'v' || letter == 'w') {
        TransferRow(in, n);
      }
      return;
    case 'l':
      if (letter == 'o') in.ctx.rasterOperation = RasterOperationCode(n);
      return;
    case 'r':
      if (letter == 's') {
        SetRowWidth(in.spool, n);
      } else if (letter == 'c') {
        ClearSeedRows(in.spool);
        in.spool.rasterCompression = 0;
        SetRowWidth(in.spool, n);
      }
      return;
    case 'v':
      ColourGroup(in, letter, n);
      return;
    default:
      return;  // group t: read and ignored
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

// Position group: a number with a sign moves the row origin or the current row by it, a number
// without one sets it. A new row clears the seed rows.
void PositionLoop(Interp& in) {
  for (;;) {
    const int first = in.Next();
    in.PutBack();
    const bool relative = first == '+' || first == '-';
    float value = 0.0f;
    if (!in.ReadNumber(&value)) value = 0.0f;
    const int32_t n = TruncToInt(value);
    const int c = in.Next();
    if (c < 64 || c == 95 || c > 126) return;
    if ((c | 0x20) == 'x') {
      in.job.rowOriginX = relative ? Saturate(int64_t{in.job.rowOriginX} + n) : n;
    } else if ((c | 0x20) == 'y') {
      in.job.currentRow = relative ? Saturate(int64_t{in.job.currentRow} + n) : n;
      ClearSeedRows(in.spool);
    }
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
      ParameterLoop(in, group);
      return;
    case 'p':
      PositionLoop(in);
      return;
    default:
      Trace("Escape sequence ignored: ESC *%d\n", group);
      return;
  }
}

}  // namespace ostrelin::hpgl
