// The look-ahead flush of the profile planner and its per-axis junction speed search.
#pragma once

#include <cstddef>

#include "engine/vector/profile_planner.h"

namespace ostrelin::vector {

// Fills start, end and peak speeds of the planner's records (default or variant flush).
void PlanSpeeds(ProfilePlanner& planner);

// The speed of one axis just before a junction, lowered in steps of 0.1 mm/s while the speed just
// after it (speed * ratio) differs from it by more than vmin: the plain loop, and the same result
// computed in whole runs of steps.
double LowerAxisSpeedPlain(double speed, double ratio, double vmin);
double LowerAxisSpeed(double speed, double ratio, double vmin);

}  // namespace ostrelin::vector
