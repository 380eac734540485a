// Arcs, circles, wedges and rectangles, and the three-point arc.
#include "engine/hpgl/arcs.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "engine/hpgl/plotter_state.h"

namespace ostrelin::hpgl {
namespace {

// Degrees to radians with the factor kept as a float, as every HPGL angle is converted.
constexpr double kRadiansPerDegree = static_cast<double>(0.017453292f);
// One whole turn, radians, as the curve loops compare it.
constexpr double kFullTurn = 6.283185308;
// Angle step of the three-point arc: one degree, radians.
constexpr double kThreePointStep = 0.017453292522222223;

// The chord parameter: 5 degrees when absent, a "Syntax error" when its text does not convert. The
// result is in radians, by magnitude and at least kMinChordDegrees.
double ReadChord(Interp& in) {
  float degrees = kDefaultChordDegrees;
  bool malformed = false;
  if (!in.ReadNumber(&degrees, &malformed)) {
    if (malformed) Fail(in.ctx, ErrorKind::kSyntax);
    degrees = kDefaultChordDegrees;
  }
  double magnitude = std::fabs(static_cast<double>(degrees));
  if (!(magnitude >= kMinChordDegrees)) {
    Trace("Chord angle %g raised to %g degrees\n", static_cast<double>(degrees), kMinChordDegrees);
    magnitude = kMinChordDegrees;
  }
  return magnitude * kRadiansPerDegree;
}

// A sweep in degrees, with whole turns beyond kMaxSweepTurns taken off; the end angle stays.
double BoundedSweepDegrees(double sweep) {
  const double limit = 360.0 * kMaxSweepTurns;
  if (std::fabs(sweep) <= limit) return sweep;
  Trace("Sweep %g reduced to %g turns\n", sweep, kMaxSweepTurns);
  return std::copysign(limit - 360.0 + std::fmod(std::fabs(sweep), 360.0), sweep);
}

// Whether every point of the circle fits a float, so that none of its points is infinite.
bool CircleFits(double cx, double cy, double r) {
  constexpr double kMax = std::numeric_limits<float>::max();
  return std::isfinite(cx) && std::isfinite(cy) && std::isfinite(r) && std::fabs(cx) + std::fabs(r) <= kMax &&
         std::fabs(cy) + std::fabs(r) <= kMax;
}

// While a curve is drawn with an adaptive line type, one pattern period is the length of the radius
// vector one chord from the x axis, in plotter units (scaled as a vector, not placed as a point): any
// chord up to 60 degrees is shorter, so each chord holds whole periods of its own.
void AdaptPatternLength(Context& ctx, double r, double chord) {
  if (ctx.selectedLineType >= 0) return;
  double vx = r * std::cos(chord);
  double vy = r * std::sin(chord);
  if (ctx.scalingFlag != 0) {
    vx *= ctx.scaleX;
    vy *= ctx.scaleY;
  }
  const double length = std::hypot(vx, vy);
  if (std::isfinite(length) && length > 0.0) ctx.currentPatternLength = length;
}

void RestorePatternLength(Context& ctx) { ctx.currentPatternLength = ctx.patternLength; }

// A point of the circle at angle t, as stored: a float.
void CirclePoint(double cx, double cy, double r, double t, float* x, float* y) {
  *x = static_cast<float>(cx + r * std::cos(t));
  *y = static_cast<float>(cy + r * std::sin(t));
}

// One point of an arc: drawn when the pen is down and the point inside the window, else a move
// (none at all onto the current position); it becomes the current user position.
void ArcPoint(Context& ctx, Job& job, double cx, double cy, double r, double t) {
  float x;
  float y;
  CirclePoint(cx, cy, r, t, &x, &y);
  const bool scale = ctx.scalingFlag != 0;
  if (ctx.penDownFlag == 0 || OutsideWindow(ctx, x, y)) {
    if (x != ctx.userX || y != ctx.userY) OutputPoint(ctx, job, kPointPenUp, x, y, scale);
  } else {
    OutputPoint(ctx, job, kPointPenDown, x, y, scale);
  }
  ctx.userX = x;
  ctx.userY = y;
}

// One point of a circle or a wedge's arc: drawn whatever the pen, moved to when outside the window.
void OutlinePoint(Context& ctx, Job& job, double cx, double cy, double r, double t) {
  float x;
  float y;
  CirclePoint(cx, cy, r, t, &x, &y);
  OutputPoint(ctx, job, OutsideWindow(ctx, x, y) ? kPointPenUp : kPointPenDown, x, y, ctx.scalingFlag != 0);
}

// The current plotter position in user units: rotation undone, then scaling.
void PlotterPositionInUserUnits(const Context& ctx, double* x, double* y) {
  float px = ctx.plotterX;
  float py = ctx.plotterY;
  if (ctx.rotationFlag != 0) {
    const float c = ctx.rotationCos;
    const float s = ctx.rotationSin;
    const float ux = c * px + s * py;
    const float uy = -s * px + c * py;
    px = ux;
    py = uy;
  }
  if (ctx.scalingFlag != 0) ToUser(ctx, &px, &py);
  *x = px;
  *y = py;
}

// Direction from the centre to a point, in [0, 2 pi).
double Direction(double cx, double cy, double x, double y) {
  const double a = std::atan2(y - cy, x - cx);
  return a < 0.0 ? a + kFullTurn : a;
}

// Whether the ordering (p, q, s) lets the centre be computed from the slopes p-q and q-s.
bool UsableOrdering(double px, double py, double qx, double qy, double sx, double sy) {
  if (std::fabs(qx - px) <= 1e-9 && std::fabs(sy - qy) <= 1e-9) return true;
  return !(std::fabs(qy - py) <= 1e-7 || std::fabs(sy - qy) <= 1e-7 || std::fabs(qx - px) <= 1e-9 ||
           std::fabs(sx - qx) <= 1e-9);
}

}  // namespace

bool OutsideWindow(const Context& ctx, double x, double y) {
  if (ctx.clippingFlag == 0) return false;
  const double x1 = ctx.clipX1;
  const double x2 = ctx.clipX2;
  const double y1 = ctx.clipY1;
  const double y2 = ctx.clipY2;
  return x > std::max(x1, x2) || x < std::min(x1, x2) || y > std::max(y1, y2) || y < std::min(y1, y2);
}

/* Circle through three points: the centre is where the perpendicular bisectors of p-q and q-s meet.
 * With the slopes ma of p-q and mb of q-s, cx = (ma mb (py - sy) + mb (px + qx) - ma (qx + sx)) /
 * (2 (mb - ma)), and cy follows from the bisector of p-q. The orderings of the three points are tried
 * until neither slope is vertical nor horizontal; when p-q is vertical and q-s horizontal the corner
 * is a right angle and the centre is the middle of p and s. Equal slopes mean a line: no centre. */
bool CircleThroughThreePoints(double ax, double ay, double bx, double by, double cx, double cy,
                              double* centreX, double* centreY) {
  const double points[3][2] = {{ax, ay}, {bx, by}, {cx, cy}};
  constexpr int kOrderings[6][3] = {{0, 1, 2}, {0, 2, 1}, {1, 0, 2}, {1, 2, 0}, {2, 1, 0}, {2, 0, 1}};
  for (const auto& order : kOrderings) {
    const double px = points[order[0]][0];
    const double py = points[order[0]][1];
    const double qx = points[order[1]][0];
    const double qy = points[order[1]][1];
    const double sx = points[order[2]][0];
    const double sy = points[order[2]][1];
    if (!UsableOrdering(px, py, qx, qy, sx, sy)) continue;
    double x;
    double y;
    if (std::fabs(qx - px) <= 1e-9 && std::fabs(sy - qy) <= 1e-9) {
      x = 0.5 * (qx + sx);
      y = 0.5 * (py + qy);
    } else {
      const double ma = (qy - py) / (qx - px);
      const double mb = (sy - qy) / (sx - qx);
      if (std::fabs(ma - mb) <= 1e-9) return false;
      x = (ma * mb * (py - sy) + mb * (px + qx) - ma * (qx + sx)) / (2.0 * (mb - ma));
      y = -(x - (px + qx) / 2.0) / ma + (py + qy) / 2.0;
    }
    if (!std::isfinite(x) || !std::isfinite(y)) return false;
    *centreX = x;
    *centreY = y;
    return true;
  }
  return false;
}

/* AA, AR: an arc from the pen around a centre, through the sweep (degrees, counter-clockwise when
 * positive). The first step is the chord or the whole sweep if smaller; the angle then advances one
 * chord at a time while it is short of the end, and the end angle itself is drawn last, so the arc
 * ends exactly at its end point. */
void Arc(Interp& in, bool relative) {
  Context& ctx = in.ctx;
  float v[3];
  const int count = in.ReadNumbers(v, 3);
  if (count == 0) return;
  if (count == 1) Fail(ctx, ErrorKind::kSyntax2);
  if (count == 2) Fail(ctx, ErrorKind::kSyntax3);
  const double chord = ReadChord(in);
  const double px = ctx.userX;
  const double py = ctx.userY;
  const double cx = relative ? px + v[0] : v[0];
  const double cy = relative ? py + v[1] : v[1];
  const double r = std::hypot(cx - px, cy - py);
  if (r == 0.0 || v[2] == 0.0f) return;
  if (!CircleFits(cx, cy, r) || !std::isfinite(v[2])) {
    Trace("Arc out of range -- skipped\n");
    return;
  }
  const double a0 = std::atan2(-(cy - py), -(cx - px));
  const double sweep = BoundedSweepDegrees(v[2]) * kRadiansPerDegree;
  const double end = a0 + sweep;
  AdaptPatternLength(ctx, r, chord);
  if (sweep > 0.0) {
    for (double t = a0 + std::min(sweep, chord); t < end; t += chord) ArcPoint(ctx, in.job, cx, cy, r, t);
  } else {
    for (double t = a0 - std::min(-sweep, chord); t > end; t -= chord) ArcPoint(ctx, in.job, cx, cy, r, t);
  }
  ArcPoint(ctx, in.job, cx, cy, r, end);
  RestorePatternLength(ctx);
}

// CI radius [, chord]: a whole circle around the pen, which stays at the centre.
void Circle(Interp& in) {
  Context& ctx = in.ctx;
  float radius;
  if (!in.ReadNumber(&radius)) return;
  const double chord = ReadChord(in);
  if (radius == 0.0f) return;
  const double cx = ctx.userX;
  const double cy = ctx.userY;
  const double r = radius;
  if (!CircleFits(cx, cy, r)) {
    Trace("Circle out of range -- skipped\n");
    return;
  }
  const bool scale = ctx.scalingFlag != 0;
  const auto startX = static_cast<float>(cx + r);
  const auto startY = static_cast<float>(cy);
  OutputPoint(ctx, in.job, kPointPenUp, startX, startY, scale);
  AdaptPatternLength(ctx, r, chord);
  for (double t = chord; t < kFullTurn; t += chord) OutlinePoint(ctx, in.job, cx, cy, r, t);
  OutputPoint(ctx, in.job, kPointPenDown, startX, startY, scale);
  OutputPoint(ctx, in.job, kPointPenUp, ctx.userX, ctx.userY, scale);
  RestorePatternLength(ctx);
}

/* EW radius, start, sweep [, chord]: a wedge from the pen, its centre: the first side, the arc in
 * whole chords from the start angle (its last point is the last whole chord within the sweep), and
 * the second side back to the centre. */
void EdgeWedge(Interp& in) {
  Context& ctx = in.ctx;
  float v[3];
  if (in.ReadNumbers(v, 3) < 3) return;
  const double chord = ReadChord(in);
  if (v[0] == 0.0f) return;
  const double cx = ctx.userX;
  const double cy = ctx.userY;
  const double r = v[0];
  if (!CircleFits(cx, cy, r) || !std::isfinite(v[1]) || !std::isfinite(v[2])) {
    Trace("Wedge out of range -- skipped\n");
    return;
  }
  const double start = v[1] * kRadiansPerDegree;
  const double sweep = BoundedSweepDegrees(v[2]) * kRadiansPerDegree;
  const bool scale = ctx.scalingFlag != 0;
  float x;
  float y;
  CirclePoint(cx, cy, r, start, &x, &y);
  OutputPoint(ctx, in.job, kPointPenDown, x, y, scale);
  AdaptPatternLength(ctx, r, chord);
  if (sweep > 0.0) {
    for (double k = chord; k <= sweep; k += chord) OutlinePoint(ctx, in.job, cx, cy, r, start + k);
  } else if (sweep < 0.0) {
    for (double k = -chord; k >= sweep; k -= chord) OutlinePoint(ctx, in.job, cx, cy, r, start + k);
  }
  OutputPoint(ctx, in.job, kPointPenDown, ctx.userX, ctx.userY, scale);
  RestorePatternLength(ctx);
}

// EA x, y [, x, y ...]: rectangles between the pen, which stays, and each corner given.
void EdgeRectangle(Interp& in) {
  Context& ctx = in.ctx;
  for (;;) {
    float x;
    float y;
    if (!in.ReadNumber(&x)) return;
    if (!in.ReadNumber(&y)) Fail(ctx, ErrorKind::kSyntax2);
    const float px = ctx.userX;
    const float py = ctx.userY;
    const bool scale = ctx.scalingFlag != 0;
    OutputPoint(ctx, in.job, kPointPenDown, px, y, scale);
    OutputPoint(ctx, in.job, kPointPenDown, x, y, scale);
    OutputPoint(ctx, in.job, kPointPenDown, x, py, scale);
    OutputPoint(ctx, in.job, kPointPenDown, px, py, scale);
  }
}

/* ZC x1, y1, x2, y2: the arc from the current plotter position through (x1, y1) to (x2, y2), in steps
 * of one degree. The directions a0, a1, a2 from the centre (in [0, 2 pi)) in cyclic counter-clockwise
 * order mean a counter-clockwise arc from a0 to a2, else a clockwise one; an arc that passes the
 * direction 0 runs to the full turn (or down to 0) first and continues from the other side. The
 * plotter position is taken back to user units so that all three points are in the same units. */
void ThreePointArc(Interp& in) {
  Context& ctx = in.ctx;
  float v[4];
  if (in.ReadNumbers(v, 4) < 4) return;
  double x0;
  double y0;
  PlotterPositionInUserUnits(ctx, &x0, &y0);
  double cx;
  double cy;
  if (!CircleThroughThreePoints(x0, y0, v[0], v[1], v[2], v[3], &cx, &cy)) return;
  const double r = std::hypot(x0 - cx, y0 - cy);
  if (!CircleFits(cx, cy, r)) {
    Trace("Three-point arc out of range -- skipped\n");
    return;
  }
  const double a0 = Direction(cx, cy, x0, y0);
  const double a1 = Direction(cx, cy, v[0], v[1]);
  const double a2 = Direction(cx, cy, v[2], v[3]);
  const bool scale = ctx.scalingFlag != 0;
  auto draw = [&](double t) {
    float x;
    float y;
    CirclePoint(cx, cy, r, t, &x, &y);
    OutputPoint(ctx, in.job, kPointPenDown, x, y, scale);
  };
  const bool counterClockwise = (a0 < a1 && a1 < a2) || (a1 < a2 && a2 < a0) || (a2 < a0 && a0 < a1);
  if (counterClockwise) {
    double t = a0 + kThreePointStep;
    if (a2 < a0) {
      for (; t < kFullTurn; t += kThreePointStep) draw(t);
      t -= kFullTurn;
    }
    for (; t < a2; t += kThreePointStep) draw(t);
  } else {
    double t = a0 - kThreePointStep;
    if (a2 > a0) {
      for (; t > 0.0; t -= kThreePointStep) draw(t);
      t += kFullTurn;
    }
    for (; t > a2; t -= kThreePointStep) draw(t);
  }
  OutputPoint(ctx, in.job, kPointPenDown, v[2], v[3], scale);
}

}  // namespace ostrelin::hpgl
