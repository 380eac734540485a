// The profile planner of controllers that take profiled motion: 12-byte motion records with
// displacement in hundredths of a millimetre and acceleration, pen-up travel shaped as an S-curve,
// speeds filled in by the look-ahead flush.
#pragma once

#include <cstddef>
#include <cstdint>

#include "engine/records.h"
#include "engine/vector/motion_record.h"
#include "engine/vector/planner_buffer.h"
#include "engine/vector/plate_geometry.h"

namespace ostrelin::vector {

// Absolute point, hundredths of a millimetre.
struct PlanePoint {
  double x;
  double y;
};

struct ProfilePlanner {
  // params: the vector parameters the run plans with (the job's, or those of the estimating run).
  ProfilePlanner(Context& ctx, const Job& job, const OstrelinVectorParams& params);

  OstrelinVectorParams params;
  bool variant;                  // variant builder and flush (params.variantFlag not 0)
  bool placeOnPlate;             // spool-road placement and orientation apply (not machine kinds 5, 11)
  FileUnit unit;                 // unit of the plot command file
  double vectorResolution;       // dots per inch
  bool penDown = false;          // the buffer holds pen-down work (else one travel move)
  int32_t penSpeedValue = 1000;  // the colour's speed word as last sent in "vd"; 1000 = full speed
  int32_t currentX = 0;          // hundredths of a millimetre, end of the last record built
  int32_t currentY = 0;
  size_t count = 0;                     // records held
  PlannerArray<ProfileRecord> records;  // kPlannerRecords + kPlannerSlack
  PlannerArray<PlanePoint> absolute;    // absolute end point of each record
  // Work arrays of the look-ahead flush, allocated once with the planner. Each value is computed
  // once per flush and read wherever the flush needs it.
  PlannerArray<PlanePoint> relative;  // smoothed displacement of each record
  PlannerArray<double> relativeHmm;   // length of that displacement, hundredths of a millimetre
  PlannerArray<double> angle;         // direction folded into the first quadrant, radians
  PlannerArray<double> cosAngle;      // cos angle[k]
  PlannerArray<double> sinAngle;      // sin angle[k]
  PlannerArray<double> junction;      // speed at the end of each record, mm/s
  PlannerArray<double> lengthMm;      // each record's own length (dx, dy), millimetres
  bool sCurveWarned = false;          // "S curve error" already shown in this run
  DotsMemo hundredthsOfDots;          // rounded hundredths of whole dots (plot command file in dots)
};

// Starts at the head position (dots at the output's engraving resolutions resX, resY).
void StartProfile(ProfilePlanner& planner, int32_t headX, int32_t headY, int32_t resX, int32_t resY);

// Appends the records of one move to (x, y) of the plot command file: pen-down work, or a travel
// move (which the caller flushes at once). Flushes when fewer than 100 free record slots remain.
void PlanProfilePoint(Context& ctx, Job& job, ProfilePlanner& planner, bool penDown, float x, float y);

// The "S curve error" check of the travel move whose records begin at first: their dx and dy must
// add up to (dx, dy). When they do not it shows the warning (once per planner) and returns false.
bool CheckSCurve(ProfilePlanner& planner, size_t first, int64_t dx, int64_t dy);

// The look-ahead flush: speeds into the records, their time into the estimate, the records to the
// stream, the buffer emptied.
void FlushProfile(Context& ctx, Job& job, ProfilePlanner& planner);

}  // namespace ostrelin::vector
