// Plotter state of the HPGL interpreter.
#include "engine/hpgl/plotter_state.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "engine/hpgl/labels.h"
#include "engine/hpgl/line_types.h"
#include "engine/hpgl/plot_file.h"
#include "engine/raster/layer_io.h"
#include "platform/platform.h"

namespace ostrelin::hpgl {
namespace {

constexpr double kDegreesToRadians = 3.141592654 / 180.0;

void WidenExtent(Context& ctx, float x, float y) {
  ctx.drawMinX = std::min(ctx.drawMinX, x);
  ctx.drawMaxX = std::max(ctx.drawMaxX, x);
  ctx.drawMinY = std::min(ctx.drawMinY, y);
  ctx.drawMaxY = std::max(ctx.drawMaxY, y);
}

// Scale factors from P1, P2 and the user scaling rectangle.
void ComputeScaleFactors(Context& ctx) {
  ctx.scaleX = (ctx.p2X - ctx.p1X) / (ctx.userMaxX - ctx.userMinX);
  ctx.scaleY = (ctx.p2Y - ctx.p1Y) / (ctx.userMaxY - ctx.userMinY);
}

// Diagonal and pattern lengths from P1, P2.
void ComputeDiagonal(Context& ctx) {
  ctx.diagonal = std::hypot(static_cast<double>(ctx.p2X - ctx.p1X), static_cast<double>(ctx.p2Y - ctx.p1Y));
  ctx.patternLength = 0.04 * ctx.diagonal;
  ctx.currentPatternLength = ctx.patternLength;
}

// Keeps the label character size in proportion to the P1-P2 extents when P1 or P2 move. An extent
// of 0 (P1 and P2 on one line) leaves the size as it was rather than making it infinite.
void RescaleLabelSize(Context& ctx, float oldWidth, float oldHeight) {
  const float width = ctx.p2X - ctx.p1X;
  const float height = ctx.p2Y - ctx.p1Y;
  if (oldWidth != 0.0f) ctx.labelWidth = ctx.labelWidth / oldWidth * width;
  if (oldHeight != 0.0f) ctx.labelHeight = ctx.labelHeight / oldHeight * height;
}

// Corner of a plot size in plotter units: scaled when scaling is on, rotated when asked and on.
void PlotSizeCorner(const Context& ctx, float x, float y, bool rotate, float* outX, float* outY) {
  if (ctx.scalingFlag != 0) ToPlotter(ctx, &x, &y);
  if (rotate && ctx.rotationFlag != 0) Rotate(ctx, &x, &y);
  *outX = x;
  *outY = y;
}

void AppendPolygonPoint(Context& ctx, Job& job, int kind, float x, float y) {
  // A full buffer ends the job: a polygon missing points would be filled as another shape.
  if (job.pointCount >= OSTRELIN_MAX_POINTS) {
    Trace("Polygon buffer full at point (%g, %g)\n", static_cast<double>(x), static_cast<double>(y));
    Fail(ctx, ErrorKind::kMemory);
  }
  float* point = job.points[job.pointCount++];
  point[0] = kind == kPointPenUp ? x + kPolygonPenUpMark : x;
  point[1] = y;
  job.polygonMinX = std::min(job.polygonMinX, x);
  job.polygonMinY = std::min(job.polygonMinY, y);
  job.polygonMaxX = std::max(job.polygonMaxX, x);
  job.polygonMaxY = std::max(job.polygonMaxY, y);
}

}  // namespace

void PrepareHpglState(Context& ctx, Spool& spool, Job& job) {
  ctx.selectedLineType = 7;
  ctx.effectiveLineType = 7;
  ctx.plotterX = ctx.plotterUnrotatedX = 0.0f;
  ctx.plotterY = ctx.plotterUnrotatedY = 0.0f;
  ctx.previousX = 0.0f;
  ctx.previousY = 0.0f;
  ctx.p1X = ctx.clipX1 = ctx.userMinX = kDefaultP1X;
  ctx.p1Y = ctx.clipY1 = ctx.userMinY = kDefaultP1Y;
  ctx.p2X = ctx.clipX2 = ctx.userMaxX = kDefaultP2X;
  ctx.p2Y = ctx.clipY2 = ctx.userMaxY = kDefaultP2Y;
  ctx.clippingFlag = 0;
  ctx.userX = kUnsetPosition;
  ctx.userY = kUnsetPosition;
  ctx.userZ = 0.0f;
  ctx.plotSizeFlag = 0;
  ctx.scalingFlag = 0;
  ctx.movedLastFlag = 0;
  ctx.penNumber = -1;
  ctx.penDownFlag = 0;
  ctx.relativeFlag = 0;
  ctx.labelTerminator = kEtx;
  ReleaseLabelText(ctx);
  ctx.symbolCharacter = 0;
  ctx.label.verticalFlag = 0;
  spool.rasterColourSpace = 0;
  spool.rasterCompression = 0;
  spool.rasterLastPlane = 0;
  spool.rasterRed = 0;
  spool.rasterGreen = 0;
  spool.rasterBlue = 0;
  spool.hpgl2Mode = 0;

  ctx.drawMinX = static_cast<float>(spool.bboxMinX);
  ctx.drawMaxX = static_cast<float>(spool.bboxMaxX);
  ctx.drawMinY = static_cast<float>(spool.bboxMinY);
  ctx.drawMaxY = static_cast<float>(spool.bboxMaxY);
  ctx.pageEndFlag = 0;
  ctx.rotationFlag = 0;
  ctx.cumulativeRotation = 0.0;
  ctx.rotationCos = 1.0f;
  ctx.rotationSin = 0.0f;

  // Pens beyond the eight of the job's palette are black until PC gives them a colour.
  std::memset(ctx.penPalette[8], 0, sizeof ctx.penPalette - sizeof ctx.penPalette[0] * 8);

  ResetPlotter(ctx, job);
  raster::WorkRow(ctx, job);
}

void ReleaseHpglState(Context& ctx) { ReleaseLabelText(ctx); }

void ResetPlotter(Context& ctx, Job& job) {
  ctx.userX = kUnsetPosition;
  ctx.userY = kUnsetPosition;
  ctx.userZ = 0.0f;
  ctx.penDownFlag = 0;
  ctx.relativeFlag = 0;
  ctx.penNumber = -1;
  ctx.movedLastFlag = 0;
  job.polygonMode = 0;
  job.pointCount = 0;
  job.subpolygonCount = 0;
  ctx.selectedLineType = 7;
  ctx.effectiveLineType = 7;
  ctx.labelTerminator = kEtx;
  // The label text buffer is allocated when a text is first read; a reset empties it.
  ctx.labelLength = 0;
  if (ctx.labelText != nullptr) ctx.labelText[0] = 0;
  ctx.p1X = ctx.userMinX = kDefaultP1X;
  ctx.p1Y = ctx.userMinY = kDefaultP1Y;
  ctx.p2X = ctx.userMaxX = kDefaultP2X;
  ctx.p2Y = ctx.userMaxY = kDefaultP2Y;
  ComputeDiagonal(ctx);
  ctx.patternPhase = 0.0;
  ctx.scalingFlag = 0;
  ctx.scaleX = 1.0f;
  ctx.scaleY = 1.0f;
  ctx.plotterX = ctx.plotterUnrotatedX = 0.0f;
  ctx.plotterY = ctx.plotterUnrotatedY = 0.0f;
  ctx.tickPositive = 0.005f;
  ctx.tickNegative = 0.005f;
  ctx.symbolCharacter = 0;
  ResetLabels(ctx);
}

void ToPlotter(const Context& ctx, float* x, float* y) {
  *x = ctx.p1X + (*x - ctx.userMinX) * ctx.scaleX;
  *y = ctx.p1Y + (*y - ctx.userMinY) * ctx.scaleY;
}

void ToUser(const Context& ctx, float* x, float* y) {
  *x = ctx.userMinX + (*x - ctx.p1X) / ctx.scaleX;
  *y = ctx.userMinY + (*y - ctx.p1Y) / ctx.scaleY;
}

void Rotate(const Context& ctx, float* x, float* y) {
  const float c = ctx.rotationCos;
  const float s = ctx.rotationSin;
  const float rx = c * *x - s * *y;
  const float ry = s * *x + c * *y;
  *x = rx;
  *y = ry;
}

void OutputPoint(Context& ctx, Job& job, int kind, float x, float y, bool scale) {
  if (ctx.pageEndFlag != 0) return;
  if (scale) ToPlotter(ctx, &x, &y);
  const float unrotatedX = x;
  const float unrotatedY = y;
  if (ctx.rotationFlag != 0) Rotate(ctx, &x, &y);
  if (job.polygonMode != 0) {
    AppendPolygonPoint(ctx, job, kind, x, y);
  } else {
    ctx.plotterX = x;
    ctx.plotterY = y;
    ctx.plotterUnrotatedX = unrotatedX;
    ctx.plotterUnrotatedY = unrotatedY;
    if (kind == kPointPenUp) {
      WritePointRecord(ctx, kOpPenUp, x, y);
    } else {
      DrawLine(ctx, x, y);
    }
  }
  ctx.movedLastFlag = kind == kPointPenUp ? 1 : 0;
  ctx.previousX = x;
  ctx.previousY = y;
}

/* Clipping of a segment to a window, parametric form: the segment is start + t (dx, dy) for t in
 * 0..1. For each edge crossed, t at the crossing either raises the entry parameter (the segment comes
 * in through that edge, denominator < 0) or lowers the leaving one (denominator >= 0); the segment is
 * invisible once entry passes leaving, or when it only touches an edge at its start (|t| < 1e-5).
 * Units are those of the window (user units); all arithmetic in doubles. */
bool ClipSegment(double xmin, double ymin, double xmax, double ymax, double* x1, double* y1, double* x2,
                 double* y2) {
  auto outcode = [&](double x, double y) {
    int code = x < xmin ? 8 : (x > xmax ? 1 : 0);
    code += y < ymin ? 2 : (y > ymax ? 4 : 0);
    return code;
  };
  const int code1 = outcode(*x1, *y1);
  const int code2 = outcode(*x2, *y2);
  if (code1 == 0 && code2 == 0) return true;
  if ((code1 & code2) != 0) return false;
  const double dx = *x2 - *x1;
  const double dy = *y2 - *y1;
  const bool dxZero = std::fabs(dx) < 1e-10;
  const bool dyZero = std::fabs(dy) < 1e-10;
  double tEnter = 0.0;
  double tLeave = 1.0;
  auto edge = [&](double d, double n) {
    const double t = n / d;
    if (std::fabs(t) < 1e-5) return false;
    if (d < 0.0) {
      if (t > tLeave) return false;
      tEnter = std::max(tEnter, t);
    } else {
      if (t < tEnter) return false;
      tLeave = std::min(tLeave, t);
    }
    return true;
  };
  if (!dxZero && !edge(-dx, *x1 - xmin)) return false;
  if (!dyZero && !edge(dy, ymax - *y1)) return false;
  if (!dxZero && !edge(dx, xmax - *x1)) return false;
  if (!dyZero && !edge(-dy, *y1 - ymin)) return false;
  const double startX = *x1;
  const double startY = *y1;
  *x2 = startX + tLeave * dx;
  *y2 = startY + tLeave * dy;
  *x1 = startX + tEnter * dx;
  *y1 = startY + tEnter * dy;
  return true;
}

uint8_t ColourClass(uint8_t red, uint8_t green, uint8_t blue) {
  if (red >= 246 && green >= 119 && green <= 137 && blue <= 9) return 7;
  const int colourClass = (red > 128 ? 1 : 0) + (green > 128 ? 2 : 0) + (blue > 128 ? 4 : 0);
  return static_cast<uint8_t>(colourClass == 7 ? 8 : colourClass);
}

void SelectPen(Context& ctx, Job& job, float value, bool given) {
  int32_t pen = given ? TruncToInt(value) : 0;
  if (pen < 0 || pen > std::min(ctx.numberOfPens, 256)) {
    ShowError(ctx, ErrorKind::kSyntax);
    pen = 0;
  }
  if (pen == ctx.penNumber) return;
  ctx.penNumber = static_cast<int16_t>(pen);
  ctx.currentPen = pen;
  const uint8_t* colour = ctx.penPalette[pen];  // blue, green, red
  const uint8_t colourClass = ColourClass(colour[2], colour[1], colour[0]);
  job.secondClass = colourClass;
  job.currentClass = colourClass;
  WriteRecordDirect(ctx, kOpColour, &colourClass, 1);
}

void PlotPairs(Interp& in, int command) {
  Context& ctx = in.ctx;
  switch (command) {
    case 'A':
      ctx.relativeFlag = 0;
      break;
    case 'R':
      ctx.relativeFlag = 1;
      break;
    case 'D':
      ctx.penDownFlag = 1;
      break;
    default:
      ctx.penDownFlag = 0;
      break;
  }
  for (;;) {
    float x;
    float y;
    if (!in.ReadNumber(&x)) return;
    if (!in.ReadNumber(&y)) Fail(ctx, ErrorKind::kSyntax2);
    if (ctx.relativeFlag != 0) {
      x += ctx.userX;
      y += ctx.userY;
    }
    PlotTarget(ctx, in.job, x, y);
  }
}

void PlotTarget(Context& ctx, Job& job, float x, float y) {
  const int drawKind = ctx.penDownFlag != 0 ? kPointPenDown : kPointPenUp;
  const bool scale = ctx.scalingFlag != 0;
  if (ctx.clippingFlag != 0) {
    double x1 = ctx.userX;
    double y1 = ctx.userY;
    double x2 = x;
    double y2 = y;
    const double wx1 = ctx.clipX1;
    const double wx2 = ctx.clipX2;
    const double wy1 = ctx.clipY1;
    const double wy2 = ctx.clipY2;
    if (!ClipSegment(std::min(wx1, wx2), std::min(wy1, wy2), std::max(wx1, wx2), std::max(wy1, wy2), &x1, &y1,
                     &x2, &y2)) {
      OutputPoint(ctx, job, kPointPenUp, x, y, scale);
    } else {
      if (x1 != static_cast<double>(ctx.userX) || y1 != static_cast<double>(ctx.userY)) {
        OutputPoint(ctx, job, kPointPenUp, static_cast<float>(x1), static_cast<float>(y1), scale);
      }
      OutputPoint(ctx, job, drawKind, static_cast<float>(x2), static_cast<float>(y2), scale);
    }
  } else {
    OutputPoint(ctx, job, drawKind, x, y, scale);
  }
  ctx.userX = x;
  ctx.userY = y;
  if (ctx.symbolCharacter != 0) DrawSymbol(ctx, job, ctx.symbolCharacter);
}

void InputP1P2(Interp& in) {
  Context& ctx = in.ctx;
  float v[4];
  const int count = in.ReadNumbers(v, 4);
  if (count == 1) Fail(ctx, ErrorKind::kSyntax2);
  if (count == 3) Fail(ctx, ErrorKind::kSyntax4);
  const float oldWidth = ctx.p2X - ctx.p1X;
  const float oldHeight = ctx.p2Y - ctx.p1Y;
  if (count == 0) {
    ctx.p1X = kDefaultP1X;
    ctx.p1Y = kDefaultP1Y;
    ctx.p2X = kDefaultP2X;
    ctx.p2Y = kDefaultP2Y;
  } else if (count == 2) {
    ctx.p2X += v[0] - ctx.p1X;
    ctx.p2Y += v[1] - ctx.p1Y;
    ctx.p1X = v[0];
    ctx.p1Y = v[1];
  } else {
    ctx.p1X = v[0];
    ctx.p1Y = v[1];
    ctx.p2X = v[2];
    ctx.p2Y = v[3];
  }
  ComputeScaleFactors(ctx);
  ComputeDiagonal(ctx);
  RescaleLabelSize(ctx, oldWidth, oldHeight);
  RecomputeLabelGeometry(ctx);
}

void Scale(Interp& in) {
  Context& ctx = in.ctx;
  if (ctx.scalingFlag != 0) ToPlotter(ctx, &ctx.userX, &ctx.userY);
  float v[4];
  const int count = in.ReadNumbers(v, 4);
  if (count == 0) {
    ctx.userMinX = kDefaultP1X;
    ctx.userMinY = kDefaultP1Y;
    ctx.userMaxX = kDefaultP2X;
    ctx.userMaxY = kDefaultP2Y;
    ctx.scalingFlag = 0;
    ctx.scaleX = 1.0f;
    ctx.scaleY = 1.0f;
    return;
  }
  if (count < 4)
    Fail(ctx, count == 1 ? ErrorKind::kSyntax2 : (count == 2 ? ErrorKind::kSyntax3 : ErrorKind::kSyntax4));
  ctx.userMinX = v[0];
  ctx.userMaxX = v[1];
  ctx.userMinY = v[2];
  ctx.userMaxY = v[3];
  ComputeScaleFactors(ctx);
  ctx.scalingFlag = 1;
  ToUser(ctx, &ctx.userX, &ctx.userY);
  if (ctx.scalingFrameFlag == 0) return;
  // The scaling frame: P1 and P2 move onto the user rectangle, turned so that the plot's long side
  // follows the plate.
  const float oldWidth = ctx.p2X - ctx.p1X;
  const float oldHeight = ctx.p2Y - ctx.p1Y;
  if (in.job.workValues[0] < in.job.workValues[1]) {
    ctx.p1X = ctx.userMaxX;
    ctx.p1Y = ctx.userMinY;
    ctx.p2X = ctx.userMinX;
    ctx.p2Y = ctx.userMaxY;
  } else {
    ctx.p1X = ctx.userMinX;
    ctx.p1Y = ctx.userMaxY;
    ctx.p2X = ctx.userMaxX;
    ctx.p2Y = ctx.userMinY;
  }
  ComputeScaleFactors(ctx);
  in.job.workValues[0] = ctx.p2Y;
  in.job.workValues[1] = ctx.p2X;
  ComputeDiagonal(ctx);
  RescaleLabelSize(ctx, oldWidth, oldHeight);
  RecomputeLabelGeometry(ctx);
}

void InputWindow(Interp& in) {
  Context& ctx = in.ctx;
  float v[4];
  const int count = in.ReadNumbers(v, 4);
  if (count == 0) {
    ctx.clippingFlag = 0;
    ctx.clipX1 = ctx.p1X;
    ctx.clipY1 = ctx.p1Y;
    ctx.clipX2 = ctx.p2X;
    ctx.clipY2 = ctx.p2Y;
    return;
  }
  if (count < 4)
    Fail(ctx, count == 1 ? ErrorKind::kSyntax2 : (count == 2 ? ErrorKind::kSyntax3 : ErrorKind::kSyntax4));
  ctx.clippingFlag = 1;
  ctx.clipX1 = v[0];
  ctx.clipY1 = v[1];
  ctx.clipX2 = v[2];
  ctx.clipY2 = v[3];
}

void RotateCoordinates(Interp& in) {
  Context& ctx = in.ctx;
  float angle;
  if (!in.ReadNumber(&angle)) return;
  std::fprintf(stderr, "RO encountered, rotating P1,P2 by %f\n", static_cast<double>(angle));
  ctx.rotationFlag = 1;
  ctx.cumulativeRotation += angle;
  const int32_t whole = TruncToInt(angle);
  if (whole == 90 || whole == 270) std::swap(ctx.plotSizeLength, ctx.plotSizeWidth);
  std::fprintf(stderr, "cumulative rot_ang now %f\n", ctx.cumulativeRotation);
  const double radians = ctx.cumulativeRotation * kDegreesToRadians;
  ctx.rotationCos = static_cast<float>(std::cos(radians));
  ctx.rotationSin = static_cast<float>(std::sin(radians));
  if (ctx.plotSizeFlag == 0) return;
  // The drawing extent restarts from the rotated corners of the plot size.
  ctx.drawMinX = 1e10f;
  ctx.drawMinY = 1e10f;
  ctx.drawMaxX = 1e-10f;
  ctx.drawMaxY = 1e-10f;
  const float corners[2][2] = {{0.0f, 0.0f}, {ctx.plotSizeLength, ctx.plotSizeWidth}};
  for (const auto& corner : corners) {
    float x;
    float y;
    PlotSizeCorner(ctx, corner[0], corner[1], false, &x, &y);
    ctx.plotterX = ctx.plotterUnrotatedX = x;
    ctx.plotterY = ctx.plotterUnrotatedY = y;
    Rotate(ctx, &x, &y);
    WidenExtent(ctx, x, y);
  }
}

void PlotSize(Interp& in) {
  Context& ctx = in.ctx;
  float v[2];
  const int count = in.ReadNumbers(v, 2);
  if (count == 0) return;
  if (count == 1) {
    // Without a width the page takes the width drawn so far; with nothing drawn yet, the length
    // (a square plot, which the vector pass places as it would without a plot size).
    v[1] = ctx.drawMaxX >= ctx.drawMinX ? ctx.drawMaxX : v[0];
  }
  ctx.plotSizeFlag = 1;
  ctx.plotSizeLength = v[0];
  ctx.plotSizeWidth = v[1];
  in.job.workValues[0] = v[0];
  in.job.workValues[1] = v[1];
  float x;
  float y;
  PlotSizeCorner(ctx, 0.0f, 0.0f, true, &x, &y);
  WidenExtent(ctx, x, y);
  PlotSizeCorner(ctx, v[0], v[1], true, &x, &y);
  WidenExtent(ctx, x, y);
}

void SelectPenCommand(Interp& in) {
  float pen = 0.0f;
  const bool given = in.ReadNumber(&pen);
  SelectPen(in.ctx, in.job, pen, given);
}

void PenColour(Interp& in) {
  Context& ctx = in.ctx;
  float v[4];
  const int count = in.ReadNumbers(v, 4);
  if (count == 0) return;
  const int32_t pen = TruncToInt(v[0]);
  if (pen < 0 || pen > std::min(ctx.numberOfPens, 256)) return;
  auto component = [&](int i) { return static_cast<uint8_t>(i < count ? TruncToInt(v[i]) & 0xFF : 0); };
  ctx.penPalette[pen][0] = component(3);
  ctx.penPalette[pen][1] = component(2);
  ctx.penPalette[pen][2] = component(1);
}

void NumberOfPens(Interp& in) {
  float n;
  if (in.ReadNumber(&n) && n <= 256.0f) in.ctx.numberOfPens = TruncToInt(n);
}

}  // namespace ostrelin::hpgl
