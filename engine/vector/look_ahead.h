// The look-ahead flush of the profile planner and its per-axis junction speed search.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>

#include "engine/vector/profile_planner.h"

namespace ostrelin::vector {

// Fills start, end and peak speeds of the planner's records (default or variant flush), and leaves
// each record's own length in planner.lengthMm for the time estimate.
void PlanSpeeds(ProfilePlanner& planner);

// The speed of one axis just before a junction, lowered in steps of 0.1 mm/s while the speed just
// after it (speed * ratio) differs from it by more than vmin: the plain loop, and the same result
// computed in whole runs of steps.
double LowerAxisSpeedPlain(double speed, double ratio, double vmin);
double LowerAxisSpeed(double speed, double ratio, double vmin);

/* min(bound, sqrt(t)), bound kept on a tie as std::min keeps its first argument, without the square
 * root where t certainly reaches bound^2: the square root is correctly rounded and monotone, so
 * t >= bound^2 (the exact square) gives sqrt(t) >= bound. The rounded square is within a factor
 * 1 +- 2^-53 of the exact one, and its product by 1 + 2^-51, rounded, is still above the exact
 * square; bound is kept far from the subnormal range. */
inline double MinRoot(double bound, double t) {
  if (bound >= 1e-100 && t >= bound * bound * (1.0 + 0x1p-51)) return bound;
  return std::min(bound, std::sqrt(t));
}

// Angle smoothing of the default flush (n >= 5), in place: angles[k] for k from n - 3 down to 2
// moves halfway to the mean of angles[k - 2] to angles[k + 2], by at most the turn of relative[k]
// when 1 hundredth is added to its smaller component, and by at most 0.1 radian. The plain form
// computes that turn for every angle; the other only where it can change the result.
void SmoothAnglesPlain(double* angles, const PlanePoint* relative, size_t n);
void SmoothAngles(double* angles, const PlanePoint* relative, size_t n);

}  // namespace ostrelin::vector
