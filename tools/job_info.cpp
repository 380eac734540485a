// The operator's summary of a job stream.
#include "tools/job_info.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <iostream>

#include "tools/file_io.h"
#include "tools/tool_error.h"

namespace ostrelin::tools {
namespace {

constexpr const char* kColourNames[8] = {"black", "red",     "green", "yellow",
                                         "blue",  "magenta", "cyan",  "orange"};

// A group's first row and first pen-down move; every pass engraves them again.
struct PassMarks {
  bool hasRow = false;
  int64_t rowX = 0, rowY = 0;
  int rowCount = 0;
  bool hasMove = false;
  int64_t moveKey[4] = {};
  int moveCount = 0;
};

bool Inside(double value, double limit, double tolerance) {
  return value >= -tolerance && value <= limit + tolerance;
}

class SummaryActions : public JobActions {
 public:
  explicit SummaryActions(JobSummary& summary) : summary_(summary) {}

  void OnJob(const JobGeometry& geometry) override {
    summary_.geometry = geometry;
    // One dot and one row of tolerance for the rounding of the plate to dots.
    plateDots_ = geometry.PlateDots() + 1;
    plateRows_ = geometry.PlateRows() + 1;
  }
  void OnRasterRow(const RasterRow& row) override {
    GroupSummary& group = Group(row.group);
    ++group.rasterRows;
    PassMarks& marks = marks_[static_cast<size_t>(row.group)];
    if (!marks.hasRow) {
      marks.hasRow = true;
      marks.rowX = row.xDot;
      marks.rowY = row.yRow;
    }
    if (row.xDot == marks.rowX && row.yRow == marks.rowY) ++marks.rowCount;
  }
  void OnRasterSpan(const RasterSpan& span) override {
    GroupSummary& group = Group(span.group);
    group.rasterDots += static_cast<uint64_t>(span.dots);
    group.rasterAreaMm2 +=
        static_cast<double>(span.dots) * summary_.geometry.DotPitchMm() * summary_.geometry.RowPitchMm();
    const int64_t first = std::max<int64_t>(span.xDot, 0);
    const int64_t last = std::min<int64_t>(span.xDot + span.dots, plateDots_);
    if (span.yRow < 0 || span.yRow >= plateRows_) {
      summary_.dotsOutside += static_cast<uint64_t>(span.dots);
    } else {
      summary_.dotsOutside += static_cast<uint64_t>(span.dots - std::max<int64_t>(last - first, 0));
    }
  }
  void OnHeadMove(const HeadMove& move) override {
    summary_.rasterTravelMm += std::hypot(move.toXMm - move.fromXMm, move.toYMm - move.fromYMm);
  }
  void OnPenMove(const PenMove& move) override {
    const JobGeometry& g = summary_.geometry;
    const double length = std::hypot(move.toXMm - move.fromXMm, move.toYMm - move.fromYMm);
    const double slack = g.MotionUnitMm();
    if (!Inside(move.toXMm, g.PlateWidthMm(), slack) || !Inside(move.toYMm, g.PlateHeightMm(), slack)) {
      ++summary_.pointsOutside;
    }
    if (!move.penDown) {
      summary_.vectorTravelMm += length;
      return;
    }
    GroupSummary& group = Group(move.group);
    ++group.penDownMoves;
    group.vectorLengthMm += length;
    PassMarks& marks = marks_[static_cast<size_t>(move.group)];
    const int64_t key[4] = {move.fromX, move.fromY, move.toX, move.toY};
    if (!marks.hasMove) {
      marks.hasMove = true;
      std::copy(std::begin(key), std::end(key), marks.moveKey);
    }
    if (std::equal(std::begin(key), std::end(key), marks.moveKey)) ++marks.moveCount;
  }

  void Finish(const std::vector<SettingsGroup>& settings) {
    for (size_t i = 0; i < settings.size(); ++i) {
      GroupSummary& group = Group(static_cast<int>(i));
      group.settings = settings[i];
      group.passes = std::max(marks_[i].rowCount, marks_[i].moveCount);
    }
  }

 private:
  GroupSummary& Group(int index) {
    const auto at = static_cast<size_t>(index);
    if (summary_.groups.size() <= at) {
      summary_.groups.resize(at + 1);
      marks_.resize(at + 1);
    }
    return summary_.groups[at];
  }

  JobSummary& summary_;
  std::vector<PassMarks> marks_;
  int64_t plateDots_ = 0;
  int64_t plateRows_ = 0;
};

std::string Fixed(double value, int decimals) {
  char text[48];
  std::snprintf(text, sizeof text, "%.*f", decimals, value);
  return text;
}

std::string Plural(uint64_t count, const char* one, const char* many) {
  return std::to_string(count) + " " + (count == 1 ? one : many);
}

void Warn(JobSummary& summary, const JobWalker& walker) {
  std::vector<std::string>& w = summary.warnings;
  const JobGeometry& g = summary.geometry;
  if (summary.jobs > 1) {
    w.push_back("the stream holds " + std::to_string(summary.jobs) + " jobs; this is job " +
                std::to_string(summary.job));
  }
  if (!summary.decode.endsWithJf) w.push_back("the stream does not end with \"JF\"");
  if (!walker.jobClosed()) w.push_back("the job has no \"JF\" record: it was cut short or aborted");
  if (!summary.estimatedSeconds) w.push_back("the job carries no \"TE\" time estimate");
  if (!summary.decode.Clean()) w.push_back("damaged stream: " + summary.decode.Problems());
  if (summary.dotsOutside > 0) {
    w.push_back(Plural(summary.dotsOutside, "raster dot lies", "raster dots lie") + " outside the " +
                Fixed(g.PlateWidthMm(), 1) + " x " + Fixed(g.PlateHeightMm(), 1) + " mm plate");
  }
  if (summary.pointsOutside > 0) {
    w.push_back(Plural(summary.pointsOutside, "motion record ends", "motion records end") +
                " outside the plate");
  }
  if (walker.unplacedRecords() > 0) {
    w.push_back(Plural(walker.unplacedRecords(), "row or motion record comes", "row or motion records come") +
                " before any job header");
  }
  if (walker.depthLeft() != 0) {
    w.push_back("the depth steps (\"RF\") do not return to the start: " + std::to_string(walker.depthLeft()) +
                " left");
  }
  if (g.plateWidthHmm <= 0 || g.plateHeightHmm <= 0) w.push_back("the job header gives no plate size");
  if (g.resolutionXDpi <= 0 || g.resolutionYDpi <= 0) w.push_back("the job header gives no resolution");
  for (size_t i = 0; i < summary.groups.size(); ++i) {
    const SettingsGroup& s = summary.groups[i].settings;
    if (s.powerPercent > 100 || s.powerPercent < 0) {
      w.push_back("group " + std::to_string(i) + " has a power of " + std::to_string(s.powerPercent) + " %");
    }
    if (s.speedWord <= 0 && (summary.groups[i].rasterRows > 0 || summary.groups[i].penDownMoves > 0)) {
      w.push_back("group " + std::to_string(i) + " engraves with a speed of 0");
    }
  }
}

std::string ControllerText(const JobGeometry& g) {
  if (g.motionRecordBytes == 12)
    return "profiled motion (12-byte motion records, hundredths of a millimetre)";
  return "corner table (8-byte motion records, motor steps of " + Fixed(g.motionDivisor / 1600.0, 4) +
         " hundredths of a millimetre, table " + std::to_string(g.motionTableSelector) + ")";
}

}  // namespace

const char* GroupColourName(int group) {
  return kColourNames[static_cast<size_t>(group < 0 ? 0 : group) % 8];
}

JobSummary SummariseJob(std::istream& in, int job) {
  JobSummary summary;
  summary.job = job;
  SummaryActions actions(summary);
  JobWalker walker(actions, job);
  summary.decode = DecodeJobStream(in, walker);
  summary.fileBytes = summary.decode.bytes;
  summary.jobs = walker.jobs();
  if (walker.jobs() == 0) throw Failure("no job header (\"!LA 192;\") in the stream");
  if (!walker.sawSelectedJob()) {
    throw UsageError("the stream holds " + std::to_string(walker.jobs()) + " job(s), not " +
                     std::to_string(job));
  }
  summary.estimatedSeconds = walker.estimatedSeconds();
  actions.Finish(walker.groups());
  Warn(summary, walker);
  return summary;
}

void PrintJobSummary(const JobSummary& s, const std::string& name, std::ostream& out) {
  const JobGeometry& g = s.geometry;
  out << "job stream  " << name << ", " << s.fileBytes << " bytes";
  if (s.jobs > 1) out << ", job " << s.job << " of " << s.jobs;
  out << '\n';
  out << "machine     model " << g.model << ", " << ControllerText(g) << '\n';
  out << "plate       " << Fixed(g.PlateWidthMm(), 2) << " x " << Fixed(g.PlateHeightMm(), 2)
      << " mm, orientation " << g.orientation << (g.bottomUp ? ", rows bottom-up" : "") << '\n';
  out << "resolution  " << g.resolutionXDpi << " x " << g.resolutionYDpi << " dpi\n";
  out << "time        ";
  if (s.estimatedSeconds) {
    out << FormatDuration(*s.estimatedSeconds) << " (" << *s.estimatedSeconds << " s, estimated)\n";
  } else {
    out << "not given\n";
  }
  out << "travel      " << Fixed(s.vectorTravelMm + s.rasterTravelMm, 1) << " mm (pen up "
      << Fixed(s.vectorTravelMm, 1) << " mm, raster head moves " << Fixed(s.rasterTravelMm, 1) << " mm)\n";
  out << "records     " << s.decode.commandRecords << " command, " << s.decode.rowRecords << " row, "
      << s.decode.motionRecords << " motion in " << s.decode.vectorBlocks << " vector blocks\n";
  out << "groups      " << s.groups.size()
      << " (work under equal settings; the stream does not name colour classes)\n";
  for (size_t i = 0; i < s.groups.size(); ++i) {
    const GroupSummary& group = s.groups[i];
    const SettingsGroup& set = group.settings;
    out << "  " << i << ' ' << GroupColourName(static_cast<int>(i)) << ": power " << set.powerPercent
        << " %, speed " << Fixed(set.speedWord / 10.0, 1) << " mm/s, AI " << set.ai << ", FR " << set.fr
        << ", SL " << set.sl << ", " << Plural(static_cast<uint64_t>(group.passes), "pass", "passes") << '\n';
    out << "      raster " << Plural(group.rasterRows, "row", "rows") << ", " << group.rasterDots << " dots, "
        << Fixed(group.rasterAreaMm2, 1) << " mm2; vector " << Fixed(group.vectorLengthMm, 1) << " mm in "
        << Plural(group.penDownMoves, "move", "moves") << '\n';
  }
  out << "warnings    " << (s.warnings.empty() ? "none" : "") << '\n';
  for (const std::string& warning : s.warnings) out << "  " << warning << '\n';
}

Json JobSummaryToJson(const JobSummary& s) {
  const JobGeometry& g = s.geometry;
  Json groups = Json::array();
  for (size_t i = 0; i < s.groups.size(); ++i) {
    const GroupSummary& group = s.groups[i];
    groups.push_back({{"group", i},
                      {"colour", GroupColourName(static_cast<int>(i))},
                      {"powerPercent", group.settings.powerPercent},
                      {"speedWord", group.settings.speedWord},
                      {"speedMmPerS", group.settings.speedWord / 10.0},
                      {"ai", group.settings.ai},
                      {"fr", group.settings.fr},
                      {"sl", group.settings.sl},
                      {"passes", group.passes},
                      {"rasterRows", group.rasterRows},
                      {"rasterDots", group.rasterDots},
                      {"rasterAreaMm2", group.rasterAreaMm2},
                      {"penDownMoves", group.penDownMoves},
                      {"vectorLengthMm", group.vectorLengthMm}});
  }
  Json time = nullptr;
  if (s.estimatedSeconds)
    time = {{"seconds", *s.estimatedSeconds}, {"text", FormatDuration(*s.estimatedSeconds)}};
  return {{"fileBytes", s.fileBytes},
          {"jobs", s.jobs},
          {"job", s.job},
          {"machine",
           {{"model", g.model},
            {"controllerKind", g.controllerKind},
            {"motionRecordBytes", g.motionRecordBytes},
            {"motionTableSelector", g.motionTableSelector},
            {"motionDivisor", g.motionDivisor}}},
          {"plate",
           {{"widthMm", g.PlateWidthMm()},
            {"heightMm", g.PlateHeightMm()},
            {"orientation", g.orientation},
            {"bottomUp", g.bottomUp}}},
          {"resolution", {{"xDpi", g.resolutionXDpi}, {"yDpi", g.resolutionYDpi}}},
          {"estimatedTime", time},
          {"groups", groups},
          {"travel",
           {{"totalMm", s.vectorTravelMm + s.rasterTravelMm},
            {"penUpMm", s.vectorTravelMm},
            {"rasterHeadMm", s.rasterTravelMm}}},
          {"records",
           {{"command", s.decode.commandRecords},
            {"row", s.decode.rowRecords},
            {"motion", s.decode.motionRecords},
            {"vectorBlocks", s.decode.vectorBlocks}}},
          {"outside", {{"rasterDots", s.dotsOutside}, {"motionEndPoints", s.pointsOutside}}},
          {"warnings", s.warnings}};
}

int Info(const InfoArguments& arguments) {
  if (arguments.jobIndex < 1) throw UsageError("--job counts from 1");
  InputFile input(arguments.job);
  const JobSummary summary = SummariseJob(input.stream(), arguments.jobIndex);
  if (input.stream().bad()) throw Failure(input.path() + ": read error");
  if (arguments.json) {
    std::cout << JobSummaryToJson(summary).dump(2) << '\n';
  } else {
    PrintJobSummary(summary, input.path(), std::cout);
  }
  std::cout.flush();
  return kExitOk;
}

}  // namespace ostrelin::tools
