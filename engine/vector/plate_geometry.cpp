// Spool-road placement, orientation transform and unit conversions of the vector planners.
#include "engine/vector/plate_geometry.h"

#include "engine/scratch.h"

namespace ostrelin::vector {

FileUnit PlotFileUnit(const Context& ctx) {
  if (ctx.kind5or11Flag != 0) return FileUnit::kHundredths;
  if (ctx.scalingFrameFlag != 0) return FileUnit::kDots;
  return FileUnit::kPlotter;
}

void PlaceSpoolPoint(const Job& job, float& x, float& y) {
  if (job.renderingRoad != 0) return;
  // The job record's plot size (length A, width B) set by the HPGL interpreter.
  const float a = job.workValues[0];
  const float b = job.workValues[1];
  if (job.machineKind == 3) return;
  if (a >= b) {
    const float oldX = x;
    x = y;
    y = a + oldX;
  } else {
    x = b - x;
  }
  if (x < 0.0f) x = 0.0f;
  if (y < 0.0f) y = 0.0f;
}

void PlaceOnPlate(const Context& ctx, const Job& job, float& x, float& y) {
  PlaceSpoolPoint(job, x, y);

  float w = 0.0f;
  float h = 0.0f;
  switch (PlotFileUnit(ctx)) {
    case FileUnit::kDots:
      w = static_cast<float>(ctx.plateExtentWidth);
      h = static_cast<float>(ctx.plateExtentHeight);
      break;
    case FileUnit::kHundredths:
      w = static_cast<float>(ctx.plateWidthHmm);
      h = static_cast<float>(ctx.plateHeightHmm);
      break;
    case FileUnit::kPlotter:
      w = static_cast<float>(ctx.plateWidthHmm) / 2.5f;
      h = static_cast<float>(ctx.plateHeightHmm) / 2.5f;
      break;
  }
  const float px = x;
  const float py = y;
  switch (ctx.orientation) {
    case 1:
      x = w - px;
      break;
    case 2:
      y = h - py;
      break;
    case 3:
      x = w - px;
      y = h - py;
      break;
    case 4:
      x = py;
      y = px;
      break;
    case 5:
      x = h - py;
      y = px;
      break;
    case 6:
      x = py;
      y = w - px;
      break;
    case 7:
      x = h - py;
      y = w - px;
      break;
    default:
      break;
  }
  if (x < 0.0f) x = 0.0f;
  if (y < 0.0f) y = 0.0f;
}

int32_t TruncToInt32(double value) {
  if (!(value == value)) return 0;
  if (value >= 2147483647.0) return 2147483647;
  if (value <= -2147483648.0) return -2147483647 - 1;
  return static_cast<int32_t>(value);
}

int32_t StepsFromPlotter(double plotterUnits, double divisor) {
  return RoundHalfAway(plotterUnits * 2.5 * 200.0 * 8.0 / divisor);
}

int32_t StepsFromDots(int32_t dots, float resolutionDpi, double divisor) {
  return RoundHalfAway(dots * 25.4 * 20000.0 * 8.0 / divisor / static_cast<double>(resolutionDpi));
}

int32_t StepsFromHundredths(double hundredths, double divisor) {
  return RoundHalfAway(hundredths * 200.0 * 8.0 / divisor);
}

}  // namespace ostrelin::vector
