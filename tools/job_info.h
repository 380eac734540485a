// The summary of a job stream an operator reads before engraving: machine, plate, resolutions, the
// estimated time, per settings group its power, speed, passes, raster area and vector length, the
// travel, the record counts, and warnings for whatever looks wrong.
#pragma once

#include <cstdint>
#include <istream>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "tools/job_model.h"
#include "tools/settings_json.h"

namespace ostrelin::tools {

struct GroupSummary {
  SettingsGroup settings;
  int passes = 0;  // how often the group's first row or first pen-down move is engraved
  uint64_t rasterRows = 0;
  uint64_t rasterDots = 0;   // every pass counted
  double rasterAreaMm2 = 0;  // the dots' area, every pass counted
  uint64_t penDownMoves = 0;
  double vectorLengthMm = 0;  // pen-down path, every pass counted
};

struct JobSummary {
  uint64_t fileBytes = 0;
  int jobs = 0;  // job headers in the stream
  int job = 1;   // the job summarised
  JobGeometry geometry;
  std::optional<uint32_t> estimatedSeconds;
  std::vector<GroupSummary> groups;
  double vectorTravelMm = 0;  // pen-up motion
  double rasterTravelMm = 0;  // "RX" and "RY" head moves
  uint64_t dotsOutside = 0;
  uint64_t pointsOutside = 0;
  DecodeSummary decode;
  std::vector<std::string> warnings;
};

// Reads the stream and summarises its job number job (1 for the first). Throws Failure when the
// stream holds no job header, UsageError when it holds fewer jobs than job.
JobSummary SummariseJob(std::istream& in, int job = 1);

// The readable form, and the JSON form of the same values.
void PrintJobSummary(const JobSummary& summary, const std::string& name, std::ostream& out);
Json JobSummaryToJson(const JobSummary& summary);

// Name of a group's colour ("black", "red", ...).
const char* GroupColourName(int group);

struct InfoArguments {
  std::string job;
  bool json = false;
  int jobIndex = 1;
};
// ostrelin info: exit status 0, also with warnings (they are part of the summary).
int Info(const InfoArguments& arguments);

}  // namespace ostrelin::tools
