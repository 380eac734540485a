// The look-ahead flush of the profile planner and its per-axis junction speed search.
#pragma once

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

// Angle smoothing of the default flush (n >= 5), in place: angles[k] for k from n - 3 down to 2
// moves halfway to the mean of angles[k - 2] to angles[k + 2], by at most the turn of relative[k]
// when 1 hundredth is added to its smaller component, and by at most 0.1 radian. The plain form
// computes that turn for every angle; the other only where it can change the result.
void SmoothAnglesPlain(double* angles, const PlanePoint* relative, size_t n);
void SmoothAngles(double* angles, const PlanePoint* relative, size_t n);

}  // namespace ostrelin::vector
