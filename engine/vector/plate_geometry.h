// Where a point of the plot command file lands on the plate: spool-road placement, orientation
// transform, and the conversions to motor steps and to hundredths of a millimetre.
#pragma once

#include <cstdint>

#include "engine/records.h"

namespace ostrelin::vector {

// Unit of the plot command file's coordinates, fixed by the machine kind.
enum class FileUnit {
  kHundredths,  // hundredths of a millimetre (machine kinds 5 and 11)
  kDots,        // dots at the vector resolution (the scaling frame of kinds 0, 1 and 4)
  kPlotter,     // plotter units of 0.025 mm
};
FileUnit PlotFileUnit(const Context& ctx);

// Spool-road placement: turns an HPGL point toward the engraver's axes by the plot size of the job
// record (machine kind 3 keeps the point), negative results becoming 0. The rendering road's points are
// left as they are. Single precision throughout.
void PlaceSpoolPoint(const Job& job, float& x, float& y);

// The spool-road placement, then the mirror or rotation of the orientation; negative results become 0.
// The frame of the orientation is the plate in the file's unit. Single precision throughout.
void PlaceOnPlate(const Context& ctx, const Job& job, float& x, float& y);

// A coordinate truncated toward zero to an integer, saturated to the 32-bit range; NaN gives 0.
int32_t TruncToInt32(double value);

// Motor steps (motion divisor / 1600 hundredths of a millimetre each), rounded half away from zero.
int32_t StepsFromPlotter(double plotterUnits, double divisor);
int32_t StepsFromDots(int32_t dots, float resolutionDpi, double divisor);
int32_t StepsFromHundredths(double hundredths, double divisor);

}  // namespace ostrelin::vector
