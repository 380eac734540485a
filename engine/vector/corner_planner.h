// The corner-table planner of the classic controller: 8-byte motion records in motor steps whose
// speed codes come from the corner table by how sharply the path turns.
#pragma once

#include <cstddef>
#include <cstdint>

#include "engine/records.h"
#include "engine/vector/motion_record.h"
#include "engine/vector/planner_buffer.h"
#include "engine/vector/plate_geometry.h"

namespace ostrelin::vector {

struct CornerPlanner {
  explicit CornerPlanner(Context& ctx, const Job& job);

  PlannerArray<CornerRecord> records;  // kPlannerRecords + kPlannerSlack, zero-filled
  size_t count = 0;                    // records held
  int32_t currentX = 0;                // motor steps, end of the last record built
  int32_t currentY = 0;                // motor steps
  double divisor;                      // hundredths of a millimetre per 1600 motor steps
  int32_t shortSteps;                  // records shorter than this (5 mm) get a limit code
  int32_t farLimitSteps;               // largest coordinate placed, motor steps
  FileUnit unit;                       // unit of the plot command file
  float vectorResolution;              // dots per inch, single precision
  DotsMemo stepsOfDots;                // motor steps of whole dots (plot command file in dots)
  uint8_t endCodeOfCorner[256];        // speed code of the corner speed of each corner byte
  uint8_t limitCodeOfZero;             // first speed code of at least 15 mm/s
};

// Starts at the head position (dots at the output's engraving resolutions resX, resY).
void StartCorner(CornerPlanner& planner, int32_t headX, int32_t headY, int32_t resX, int32_t resY);

// Places a point of the plot command file, appends its records and flushes when fewer than 10 free
// record slots remain.
void AddCornerPoint(Context& ctx, Job& job, CornerPlanner& planner, float x, float y);

// Gives the records held their codes, writes them and empties the buffer.
void FlushCorner(Context& ctx, Job& job, CornerPlanner& planner);

// The flush's code assignment alone, in place (exposed for tests).
void AssignCornerCodes(const CornerPlanner& planner, CornerRecord* records, size_t count);

}  // namespace ostrelin::vector
