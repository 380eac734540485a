// Line types: dashes, gaps and dots of the pen-down lines, and tick marks.
#include "engine/hpgl/line_types.h"

#include <cmath>

#include "engine/hpgl/plot_file.h"
#include "engine/hpgl/plotter_state.h"

namespace ostrelin::hpgl {
namespace {

// Patterns of line types -6 to 7: dash, gap, dash, ... as fractions of one period; -1 ends a list.
constexpr double kPatterns[14][8] = {
    {0.25, 0.1, 0.1, 0.1, 0.1, 0.1, 0.25, -1},  // -6
    {0.35, 0.1, 0.1, 0.1, 0.35, -1},            // -5
    {0.4, 0.1, 0, 0.1, 0.4, -1},                // -4
    {0.35, 0.3, 0.35, -1},                      // -3
    {0.25, 0.5, 0.25, -1},                      // -2
    {0, 1.0, -1},                               // -1
    {0, 1.0, -1},                               // 0 (drawn as end-point dots instead)
    {0.01, 0.99, -1},                           // 1
    {0.5, 0.5, -1},                             // 2
    {0.7, 0.3, -1},                             // 3
    {0.8, 0.1, 0, 0.1, -1},                     // 4
    {0.7, 0.1, 0.1, 0.1, -1},                   // 5
    {0.5, 0.1, 0.1, 0.1, 0.1, 0.1, -1},         // 6
    {1.0, -1},                                  // 7 (drawn as one solid line instead)
};

// Writes the pieces of a patterned line. Every piece moves the running point along the period
// vector and leaves one record at the new place; a record is held back until the next one so that
// the last of the line can be put exactly on the line's end point.
class PieceWriter {
 public:
  PieceWriter(Context& ctx, double startX, double startY, double periodX, double periodY)
      : ctx_(ctx), startX_(startX), startY_(startY), periodX_(periodX), periodY_(periodY) {}

  void Move(double fraction, uint8_t opcode) {
    Flush();
    travelled_ += fraction;
    pendingX_ = static_cast<float>(startX_ + travelled_ * periodX_);
    pendingY_ = static_cast<float>(startY_ + travelled_ * periodY_);
    pendingOpcode_ = opcode;
  }

  void Finish(float endX, float endY) {
    pendingX_ = endX;
    pendingY_ = endY;
    Flush();
  }

 private:
  void Flush() {
    if (pendingOpcode_ != 0) WritePointRecord(ctx_, pendingOpcode_, pendingX_, pendingY_);
    pendingOpcode_ = 0;
  }

  Context& ctx_;
  double startX_, startY_;    // plotter units
  double periodX_, periodY_;  // one period, plotter units
  double travelled_ = 0.0;    // periods from the start
  uint8_t pendingOpcode_ = 0;
  float pendingX_ = 0.0f, pendingY_ = 0.0f;
};

// The pieces of one period between phases c and d (0 <= c <= d <= 1).
void DrawWindow(PieceWriter& writer, const double* pattern, double c, double d) {
  double pos = 0.0;
  for (int i = 0; pattern[i] >= 0.0; ++i) {
    const double length = pattern[i];
    const double end = pos + length;
    if (end > c) {
      if (i % 2 == 0) {  // dash
        if (pos < c) {
          if (d < end) {
            writer.Move(d - c, d == c ? kOpDot : kOpPenDown);
            return;
          }
          writer.Move(end - c, length == 0.0 ? kOpDot : kOpPenDown);
        } else {
          if (d < end) {
            writer.Move(d - pos, length == 0.0 ? kOpPenUp : kOpPenDown);
            return;
          }
          writer.Move(length, length == 0.0 ? kOpDot : kOpPenDown);
        }
      } else {  // gap
        if (pos < c) {
          if (d < end) {
            if (d != c) writer.Move(d - c, kOpPenUp);
            return;
          }
          writer.Move(end - c, kOpPenUp);
        } else {
          if (d < end) {
            writer.Move(d - pos, kOpPenUp);
            return;
          }
          writer.Move(length, kOpPenUp);
        }
      }
    }
    pos = end;
  }
}

}  // namespace

/* Line patterns. A line of length L (plotter units) is cut into periods of the current pattern
 * length. Adaptive types (< 0) fit a whole number n = ceil(L / period) of periods into every line,
 * each period drawn in full from its own list. Fixed types (1..6) run continuously along a polyline:
 * the phase (0..1 of a period) where a line ends is where the next one starts, unless a pen-up move
 * came between; the line is drawn as the rest of the current period, whole periods, and the start of
 * a last one. */
void DrawLine(Context& ctx, float x, float y) {
  const int type = ctx.effectiveLineType;
  if (type == 0) {
    WritePointRecord(ctx, kOpDot, x, y);
    return;
  }
  if (type == 7 || type < -6 || type > 7) {
    WritePointRecord(ctx, kOpPenDown, x, y);
    return;
  }
  const double dx = static_cast<double>(x) - ctx.previousX;
  const double dy = static_cast<double>(y) - ctx.previousY;
  // Differences of floats: their squares cannot overflow a double, so the plain root is exact enough.
  const double length = std::sqrt(dx * dx + dy * dy);
  if (length == 0.0) {
    Trace("Warning: Zero line segment length -- skipped\n");
    return;
  }
  const double periods = length / ctx.currentPatternLength;
  if (!(ctx.currentPatternLength > 0.0) || !std::isfinite(length) || !(periods <= kMaxPatternPeriods)) {
    // A pattern too fine for the line (a pattern length of 0 included) would never end or would
    // flood the file: the line is drawn solid.
    Trace("Pattern length %g too small for a line of %g -- drawn solid\n", ctx.currentPatternLength, length);
    ctx.patternPhase = 0.0;
    WritePointRecord(ctx, kOpPenDown, x, y);
    return;
  }
  const double* pattern = kPatterns[type + 6];
  if (type < 0) {
    ctx.patternPhase = 0.0;
    const int n = static_cast<int>(std::ceil(periods));
    PieceWriter writer(ctx, ctx.previousX, ctx.previousY, dx / n, dy / n);
    for (int k = 0; k < n; ++k) {
      for (int i = 0; pattern[i] >= 0.0; ++i) {
        const bool dash = i % 2 == 0;
        writer.Move(pattern[i], dash ? (pattern[i] == 0.0 ? kOpDot : kOpPenDown) : kOpPenUp);
      }
    }
    writer.Finish(x, y);
    return;
  }
  double phase = ctx.movedLastFlag != 0 ? 0.0 : ctx.patternPhase;
  double n = periods;
  PieceWriter writer(ctx, ctx.previousX, ctx.previousY, dx / n, dy / n);
  while (n >= 1.0) {
    DrawWindow(writer, pattern, phase, 1.0);
    n -= 1.0 - phase;
    phase = 0.0;
  }
  n += phase;
  if (n >= 1.0) {
    DrawWindow(writer, pattern, phase, 1.0);
    n -= 1.0;
    phase = 0.0;
  }
  DrawWindow(writer, pattern, phase, n);
  ctx.patternPhase = n;
  writer.Finish(x, y);
}

void LineType(Interp& in) {
  Context& ctx = in.ctx;
  float v[2];
  const int count = in.ReadNumbers(v, 2);
  if (count == 0) {
    ctx.selectedLineType = 7;
  } else {
    const int32_t type = TruncToInt(v[0]);
    if (type >= -6 && type <= 6) {
      ctx.selectedLineType = type;
    } else {
      Trace("Illegal line type:\t%d\n", type);
    }
  }
  if (count == 2) {
    if (v[1] >= 0.0f) {
      ctx.patternLength = ctx.diagonal * v[1] / 100.0;
    } else {
      Trace("Illegal pattern length:\t%g\n", static_cast<double>(v[1]));
    }
  }
  ctx.effectiveLineType = ctx.selectedLineType;
  ctx.currentPatternLength = ctx.patternLength;
}

void TickLength(Interp& in) {
  Context& ctx = in.ctx;
  float v[2];
  const int count = in.ReadNumbers(v, 2);
  if (count == 0) {
    ctx.tickPositive = 0.005f;
    ctx.tickNegative = 0.005f;
    return;
  }
  ctx.tickPositive = v[0] / 100.0f;
  ctx.tickNegative = count == 2 ? v[1] / 100.0f : 0.0f;
}

void Tick(Interp& in, bool xTick) {
  Context& ctx = in.ctx;
  ctx.effectiveLineType = 7;
  const float px = ctx.userX;
  const float py = ctx.userY;
  const bool scale = ctx.scalingFlag != 0;
  if (xTick) {
    const float ty = ctx.p2Y - ctx.p1Y;
    OutputPoint(ctx, in.job, kPointPenUp, px, py - ctx.tickNegative * ty, scale);
    OutputPoint(ctx, in.job, kPointPenDown, px, py + ctx.tickPositive * ty, scale);
  } else {
    const float tx = ctx.p2X - ctx.p1X;
    OutputPoint(ctx, in.job, kPointPenUp, px - ctx.tickNegative * tx, py, scale);
    OutputPoint(ctx, in.job, kPointPenDown, px + ctx.tickPositive * tx, py, scale);
  }
  OutputPoint(ctx, in.job, kPointPenUp, px, py, scale);
  ctx.effectiveLineType = ctx.selectedLineType;
}

}  // namespace ostrelin::hpgl
