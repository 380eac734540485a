// Polygon buffer commands and polygon fills.
#include "engine/hpgl/polygons.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <vector>

#include "engine/error.h"
#include "engine/hpgl/plot_file.h"
#include "engine/hpgl/plotter_state.h"
#include "engine/raster/bitmap_intake.h"
#include "engine/raster/layer_io.h"
#include "engine/scratch.h"
#include "engine/vector/plate_geometry.h"
#include "platform/platform.h"

namespace ostrelin::hpgl {
namespace {

using platform::PolygonPoint;

// Machines that draw RR as an outline instead of filling it.
bool OutlinesRectangles(int32_t machineKind) {
  return machineKind == 2 || machineKind == 3 || machineKind == 5 || machineKind == 11;
}

int32_t StoredPoints(const Job& job) { return std::clamp(job.pointCount, 0, OSTRELIN_MAX_POINTS); }

// Empties the buffer and stores (x, y) as its first point, marked pen-up when asked; polygon mode on.
void StartBuffer(Context& ctx, Job& job, float x, float y, bool penUp) {
  job.polygonMode = 1;
  job.subpolygonCount = 0;
  ctx.subpolygonStart = 0;
  job.points[0][0] = penUp ? x + kPolygonPenUpMark : x;
  job.points[0][1] = y;
  job.pointCount = 1;
  job.polygonMinX = job.polygonMaxX = x;
  job.polygonMinY = job.polygonMaxY = y;
}

// Closes the points from the subpolygon start to the point count as one subpolygon. A full list of
// subpolygons is a "Memory error": dropping a part would fill a different shape without a word.
void AppendSubpolygon(Context& ctx, Job& job, int32_t length) {
  const int32_t count = std::clamp(job.subpolygonCount, 0, OSTRELIN_MAX_SUBPOLYGONS);
  if (count == OSTRELIN_MAX_SUBPOLYGONS) {
    Trace("Polygon buffer: more than %d subpolygons\n", OSTRELIN_MAX_SUBPOLYGONS);
    Fail(ctx, ErrorKind::kMemory);
  }
  job.subpolygonCounts[count] = length;
  job.subpolygonCount = count + 1;
  ctx.subpolygonStart = StoredPoints(job);
}

// PM1 and PM2: the open subpolygon is closed, or dropped when it holds fewer than 2 points.
void CloseSubpolygon(Context& ctx, Job& job) {
  const int32_t count = StoredPoints(job);
  const int32_t start = std::clamp(ctx.subpolygonStart, 0, count);
  if (count - start < 2) {
    job.pointCount = start;
    ctx.subpolygonStart = start;
    return;
  }
  AppendSubpolygon(ctx, job, count - start);
}

// A stored point without its pen-up mark.
void StoredPoint(const Job& job, int32_t i, float* x, float* y) {
  *x = job.points[i][0];
  *y = job.points[i][1];
  if (*x > kPolygonPenUpThreshold) *x -= kPolygonPenUpMark;
}

// Buffer coordinates to engine dots. Without the scaling frame the buffer holds plotter units; with
// it, dots at the vector resolution, f of them to one engine dot.
struct Units {
  bool frame;
  double f;
  float resolution;
  int64_t Dots(double value) const {
    return frame ? RoundHalfAway(value / f) : DotsFromPlu(value, resolution);
  }
};

// One axis of the fill box: its first dot and its size in dots; narrow when, in the scaling frame,
// the box is thinner than one engine dot.
struct Axis {
  int64_t origin = 0;
  int64_t size = 0;
  bool narrow = false;
};

/* The box from v0 to v1 on one axis. Without the scaling frame the size is the dots of v1 - v0. In
 * the scaling frame the span v1 - v0 in vector dots becomes round(span / f) engine dots, at least 1,
 * and one more when the rounded end lies beyond the rounded start plus that size, so that the box
 * reaches the dot where its end falls. */
Axis BoxAxis(const Units& units, double v0, double v1) {
  Axis axis;
  axis.origin = units.Dots(v0);
  if (!units.frame) {
    axis.size = units.Dots(v1 - v0);
    return axis;
  }
  const double span = v1 - v0;
  if (span == 0.0) return axis;
  axis.narrow = span < units.f;
  axis.size = std::max<int64_t>(RoundHalfAway(span / units.f), 1);
  if (RoundHalfAway(v1 / units.f) > axis.origin + axis.size) axis.size += 1;
  return axis;
}

// A pixel coordinate for the graphics service, which refuses those beyond its coordinate limit.
int32_t Pixel(int64_t value) {
  return static_cast<int32_t>(std::clamp<int64_t>(value, INT32_MIN, INT32_MAX));
}

// A closed subpolygon of the buffer: the index of its first point and its length.
struct Part {
  int32_t first;
  int32_t length;
};

// The closed subpolygons of at least 2 points. A list of lengths that reaches past the stored points
// ends there.
std::vector<Part> ClosedParts(const Job& job) {
  std::vector<Part> parts;
  const int32_t stored = StoredPoints(job);
  const int32_t count = std::clamp(job.subpolygonCount, 0, OSTRELIN_MAX_SUBPOLYGONS);
  int64_t first = 0;
  for (int32_t k = 0; k < count; ++k) {
    const int32_t length = job.subpolygonCounts[k];
    if (length < 0 || first + length > stored) break;
    if (length >= 2) parts.push_back(Part{static_cast<int32_t>(first), length});
    first += length;
  }
  return parts;
}

// Rows of the fill that must lie on the layer of the current colour class (or the grey layer), as
// the raster intake would require them row by row; checked before any bitmap is made.
void CheckOnLayer(Context& ctx, int64_t originX, int64_t rowPixels, int64_t rowBytes, int64_t firstRow,
                  int64_t lastRow) {
  if (rowBytes > OSTRELIN_PLANE_BYTES) Fail(ctx, ErrorKind::kBitmap);
  bool fits = originX >= 0 && firstRow >= 0 && lastRow < raster::LayerRows(ctx);
  if (ctx.greyPipelineFlag != 0) {
    fits = fits && originX + rowPixels <= raster::GreyLayerStride(ctx);
  } else {
    fits = fits && originX / 8 + (originX % 8 != 0 ? 1 : 0) + rowBytes <= raster::ColourLayerStride(ctx);
  }
  if (!fits) Fail(ctx, ErrorKind::kPlateSize);
}

// The row state of the records that a fill borrows, put back when it ends, whichever way it ends.
class BorrowedRowState {
 public:
  BorrowedRowState(Spool& spool, Job& job)
      : spool_(spool),
        job_(job),
        opaqueSource_(spool.opaqueSource),
        rowPixels_(spool.rowPixels),
        rowBytes_(spool.rowBytes),
        pendingPlane_(spool.pendingPlane),
        rowOriginX_(job.rowOriginX),
        currentRow_(job.currentRow) {}
  ~BorrowedRowState() {
    spool_.opaqueSource = opaqueSource_;
    spool_.rowPixels = rowPixels_;
    spool_.rowBytes = rowBytes_;
    spool_.pendingPlane = pendingPlane_;
    job_.rowOriginX = rowOriginX_;
    job_.currentRow = currentRow_;
  }
  BorrowedRowState(const BorrowedRowState&) = delete;
  BorrowedRowState& operator=(const BorrowedRowState&) = delete;

 private:
  Spool& spool_;
  Job& job_;
  int32_t opaqueSource_;
  int32_t rowPixels_;
  int32_t rowBytes_;
  int32_t pendingPlane_;
  int32_t rowOriginX_;
  int32_t currentRow_;
};

}  // namespace

/* The fill. The box of what is drawn, placed on the plate, is taken to engine dots; the points become
 * pixels from the box corner (in the scaling frame, each subpolygon is placed by its own minimum, so
 * that its shape does not depend on where the box starts). The drawing reaches one pixel beyond the
 * largest point (alternate filling, outline included). Its rows inside the clipping window go to the
 * raster intake, starting at the box corner plus the crops: the left crop is taken in whole bytes and
 * the bits of the first byte left of the window are cleared. The bitmap covers only those rows and
 * bytes, the polygons shifted onto it, so that a large polygon cropped to a small window needs no
 * large bitmap; the drawing rule does not change under a shift by whole pixels. */
void FillPolygonBuffer(Context& ctx, Spool& spool, Job& job, bool rectangle) {
  // After the page end nothing more reaches the job; a white pen engraves nothing.
  if (ctx.pageEndFlag != 0) return;
  if (ctx.greyPipelineFlag == 0 && job.currentClass >= 8) return;
  const std::vector<Part> parts = rectangle ? std::vector<Part>{} : ClosedParts(job);
  if (!rectangle && parts.empty()) return;

  Units units{ctx.scalingFrameFlag != 0, 1.0, static_cast<float>(ctx.engineResolution)};
  if (units.frame) {
    units.f = ctx.vectorResolution / ctx.engineResolution;
    if (!(units.f > 0.0) || !std::isfinite(units.f)) Fail(ctx, ErrorKind::kDpi);
  }

  // The box: of the stored box's corners for a rectangle, of the points drawn for a polygon.
  float x0 = 0.0f, y0 = 0.0f, x1 = 0.0f, y1 = 0.0f;
  if (rectangle) {
    float ax = job.polygonMinX, ay = job.polygonMinY, bx = job.polygonMaxX, by = job.polygonMaxY;
    vector::PlaceSpoolPoint(job, ax, ay);
    vector::PlaceSpoolPoint(job, bx, by);
    x0 = std::min(ax, bx);
    x1 = std::max(ax, bx);
    y0 = std::min(ay, by);
    y1 = std::max(ay, by);
  } else {
    bool firstPoint = true;
    for (const Part& part : parts) {
      for (int32_t i = part.first; i < part.first + part.length; ++i) {
        float x, y;
        StoredPoint(job, i, &x, &y);
        vector::PlaceSpoolPoint(job, x, y);
        x0 = firstPoint ? x : std::min(x0, x);
        x1 = firstPoint ? x : std::max(x1, x);
        y0 = firstPoint ? y : std::min(y0, y);
        y1 = firstPoint ? y : std::max(y1, y);
        firstPoint = false;
      }
    }
  }
  const Axis boxX = BoxAxis(units, x0, x1);
  const Axis boxY = BoxAxis(units, y0, y1);
  if (boxX.size == 0 || boxY.size == 0 || (boxX.narrow && boxY.narrow)) return;

  // The pixel of every point drawn, from the box corner, handed to visit(x, y); the polygons in turn.
  // In the scaling frame every subpolygon is converted from its own minimum.
  const auto forEachPixel = [&](auto&& visit) {
    if (rectangle) {
      const int64_t w = boxX.size;
      const int64_t h = boxY.size;
      visit(0, 0);
      visit(w, 0);
      visit(w, h);
      visit(0, h);
      visit(0, 0);
      return;
    }
    for (const Part& part : parts) {
      float mx = 0.0f, my = 0.0f;
      if (units.frame) {
        for (int32_t i = part.first; i < part.first + part.length; ++i) {
          float x, y;
          StoredPoint(job, i, &x, &y);
          vector::PlaceSpoolPoint(job, x, y);
          mx = i == part.first ? x : std::min(mx, x);
          my = i == part.first ? y : std::min(my, y);
        }
      }
      const int64_t ax = units.frame ? RoundHalfAway((static_cast<double>(mx) - x0) / units.f) : 0;
      const int64_t ay = units.frame ? RoundHalfAway((static_cast<double>(my) - y0) / units.f) : 0;
      for (int32_t i = part.first; i < part.first + part.length; ++i) {
        float x, y;
        StoredPoint(job, i, &x, &y);
        vector::PlaceSpoolPoint(job, x, y);
        if (units.frame) {
          visit(RoundHalfAway((static_cast<double>(x) - mx) / units.f) + ax,
                RoundHalfAway((static_cast<double>(y) - my) / units.f) + ay);
        } else {
          visit(units.Dots(static_cast<double>(x) - x0), units.Dots(static_cast<double>(y) - y0));
        }
      }
    }
  };
  // The drawing reaches one pixel beyond its largest point.
  int64_t width = 0, height = 0;
  forEachPixel([&](int64_t x, int64_t y) {
    width = std::max(width, x + 1);
    height = std::max(height, y + 1);
  });

  // The crops of the clipping window, in pixels from the box corner.
  const int64_t lastX = boxX.origin + width - 1;
  const int64_t lastY = boxY.origin + height - 1;
  int64_t left = 0, top = 0, right = 0, bottom = 0;
  if (ctx.clippingFlag != 0) {
    float corners[2][2] = {{ctx.clipX1, ctx.clipY1}, {ctx.clipX2, ctx.clipY2}};
    for (auto& corner : corners) {
      if (ctx.scalingFlag != 0) ToPlotter(ctx, &corner[0], &corner[1]);
      if (ctx.rotationFlag != 0) Rotate(ctx, &corner[0], &corner[1]);
      vector::PlaceSpoolPoint(job, corner[0], corner[1]);
    }
    const int64_t wx0 = units.Dots(std::min(corners[0][0], corners[1][0]));
    const int64_t wx1 = units.Dots(std::max(corners[0][0], corners[1][0]));
    const int64_t wy0 = units.Dots(std::min(corners[0][1], corners[1][1]));
    const int64_t wy1 = units.Dots(std::max(corners[0][1], corners[1][1]));
    if (wx1 < boxX.origin || wx0 > lastX || wy1 < boxY.origin || wy0 > lastY) return;
    left = std::max<int64_t>(wx0 - boxX.origin, 0);
    top = std::max<int64_t>(wy0 - boxY.origin, 0);
    right = std::max<int64_t>(lastX - wx1, 0);
    bottom = std::max<int64_t>(lastY - wy1, 0);
  }
  // The rows start at a whole byte of the drawing; the bits of the first byte left of the window are
  // cleared. Only the part of the drawing that these rows cover is made into a bitmap.
  const int64_t firstByte = left / 8;
  const int bitOffset = static_cast<int>(left % 8);
  const int64_t shiftX = firstByte * 8;
  const int64_t rowPixels = width - (shiftX + right);
  const int64_t rowBytes = (rowPixels + 7) / 8;
  const int64_t rowCount = height - top - bottom;
  const int64_t originX = boxX.origin + shiftX;
  const int64_t firstRow = boxY.origin + top;
  CheckOnLayer(ctx, originX, rowPixels, rowBytes, firstRow, firstRow + rowCount - 1);

  // The points in pixels of that bitmap (the drawing clips what lies outside it).
  size_t pointCount = rectangle ? 5 : 0;
  for (const Part& part : parts) pointCount += static_cast<size_t>(part.length);
  raster::Buffer pointBlock(ctx, pointCount * sizeof(PolygonPoint));
  raster::Buffer countBlock(ctx, std::max<size_t>(parts.size(), 1) * sizeof(int32_t));
  auto* points = reinterpret_cast<PolygonPoint*>(pointBlock.data());
  auto* counts = reinterpret_cast<int32_t*>(countBlock.data());
  size_t next = 0;
  forEachPixel([&](int64_t x, int64_t y) {
    points[next++] = PolygonPoint{Pixel(x - shiftX), Pixel(y - top)};
  });
  int32_t polygons = 0;
  if (rectangle) counts[polygons++] = 5;
  for (const Part& part : parts) counts[polygons++] = part.length;

  // The bitmap, on the printer's device context or the screen's.
  std::unique_ptr<platform::PolygonBitmap> bitmap(platform::graphics().CreatePolygonBitmap(
      ctx.printerDC, static_cast<int32_t>(rowPixels), static_cast<int32_t>(rowCount)));
  if (bitmap == nullptr) Fail(ctx, ErrorKind::kBitmap);
  const auto stride = static_cast<size_t>(bitmap->RowBytes());
  raster::Buffer rows(ctx, stride * static_cast<size_t>(rowCount), true);
  const bool drawn =
      polygons == 1 ? bitmap->Polygon(points, counts[0]) : bitmap->PolyPolygon(points, counts, polygons);
  if (!drawn || !bitmap->ReadBits(rows.data(), rows.size())) Fail(ctx, ErrorKind::kBitmap);
  bitmap.reset();

  // The rows to the raster intake.
  BorrowedRowState borrowed(spool, job);
  spool.opaqueSource = 0;
  spool.rowPixels = static_cast<int32_t>(rowPixels);
  spool.rowBytes = static_cast<int32_t>(rowBytes);
  job.rowOriginX = static_cast<int32_t>(originX);
  job.currentRow = static_cast<int32_t>(firstRow);
  const auto firstMask = static_cast<uint8_t>(0xFF >> bitOffset);
  for (int64_t y = 0; y < rowCount; ++y) {
    uint8_t* plane = spool.rowBuffer[0];
    std::memcpy(plane, rows.data() + static_cast<size_t>(y) * stride, static_cast<size_t>(rowBytes));
    plane[0] &= firstMask;
    spool.pendingPlane = 0;
    raster::FinishPlane(spool, static_cast<int32_t>(rowBytes));
    raster::PutBitRow(ctx, spool, job);
  }
}

void PolygonMode(Interp& in) {
  Context& ctx = in.ctx;
  Job& job = in.job;
  float n = 0.0f;
  in.ReadNumber(&n);
  switch (TruncToInt(n)) {
    case 0:
      StartBuffer(ctx, job, ctx.plotterX, ctx.plotterY, true);
      return;
    case 1:
      CloseSubpolygon(ctx, job);
      return;
    case 2:
      CloseSubpolygon(ctx, job);
      job.polygonMode = 0;
      return;
    default:
      return;
  }
}

void EdgePolygon(Interp& in) {
  Context& ctx = in.ctx;
  const Job& job = in.job;
  const int32_t count = StoredPoints(job);
  for (int32_t i = 0; i < count; ++i) {
    const float x = job.points[i][0];
    const float y = job.points[i][1];
    if (x > kPolygonPenUpThreshold) {
      WritePointRecord(ctx, kOpPenUp, x - kPolygonPenUpMark, y);
    } else {
      WritePointRecord(ctx, kOpPenDown, x, y);
    }
  }
}

void FillPolygon(Interp& in) { FillPolygonBuffer(in.ctx, in.spool, in.job, false); }

void FillRectangle(Interp& in) {
  Context& ctx = in.ctx;
  Job& job = in.job;
  float v[2];
  const int given = in.ReadNumbers(v, 2);
  const bool outline = OutlinesRectangles(job.machineKind);
  if (!outline) StartBuffer(ctx, job, ctx.plotterX, ctx.plotterY, false);
  if (given < 2) {
    job.polygonMode = 0;
    return;
  }
  const float px = ctx.userX;
  const float py = ctx.userY;
  const bool scale = ctx.scalingFlag != 0;
  OutputPoint(ctx, job, kPointPenDown, px + v[0], py, scale);
  OutputPoint(ctx, job, kPointPenDown, px + v[0], py + v[1], scale);
  OutputPoint(ctx, job, kPointPenDown, px, py + v[1], scale);
  OutputPoint(ctx, job, kPointPenDown, px, py, scale);
  if (outline) return;
  AppendSubpolygon(ctx, job, StoredPoints(job));
  job.polygonMode = 0;
  FillPolygonBuffer(ctx, in.spool, job, true);
}

}  // namespace ostrelin::hpgl
