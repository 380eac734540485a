// What the engraver does with a job stream, worked out from the stream alone: where the head engraves
// raster rows and with what power, where it moves between them, and where the vector pen travels and
// draws. The walker listens to the decoder's elements and reports machine actions in plate units, so
// the preview, the SVG and the job summary share one reading of the stream and need memory for one
// row at a time.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "tools/job_decoder.h"

namespace ostrelin::tools {

// The job header's values that place the work on the plate, as the machine sees them (plate and
// resolutions are already exchanged in the header for the turned orientations).
struct JobGeometry {
  int32_t model = 0;
  int32_t plateWidthHmm = 0;   // along the head's x axis, hundredths of a millimetre
  int32_t plateHeightHmm = 0;  // along y
  int32_t resolutionXDpi = 0;  // raster dots per inch along x
  int32_t resolutionYDpi = 0;  // raster rows per inch along y
  int32_t orientation = 0;
  int32_t class0PowerPercent = 0;
  int32_t firstDotMode = 0;
  bool bottomUp = false;  // raster rows follow one another towards smaller y
  int32_t controllerKind = 0;
  int32_t motionTableSelector = 0;
  int motionRecordBytes = 8;    // 8: motor steps; 12: hundredths of a millimetre
  double motionDivisor = 5550;  // a motor step is motionDivisor / 1600 hundredths of a millimetre

  double DotPitchMm() const;    // width of one raster dot along x, mm (0 without a resolution)
  double RowPitchMm() const;    // height of one raster row along y, mm
  double MotionUnitMm() const;  // length of one unit of a motion record's dx, dy, mm
  // The plate in raster dots along x and rows along y, rounded to the nearest.
  int64_t PlateDots() const;
  int64_t PlateRows() const;
  double PlateWidthMm() const { return plateWidthHmm / 100.0; }
  double PlateHeightMm() const { return plateHeightHmm / 100.0; }
};

// The motion divisor of a motion table selector: 5550, 6000, or 5400 for any other selector.
double MotionDivisorOfSelector(int32_t selector);

// The machine settings in force while work is done. The stream names no colour class: work done under
// equal settings is one group, numbered in the order the job first uses it.
struct SettingsGroup {
  int32_t powerPercent =
      0;  // "PW" of a colour layer or of vectors; the header's class 0 power for the grey layer
  int32_t speedWord = 0;  // "vd"; "VD" = speedWord / 10 mm/s
  int32_t ai = 0;
  int32_t fr = 0;
  int32_t sl = 0;
  bool operator==(const SettingsGroup&) const = default;
};

// One raster row record as engraved: the head is at (xDot, yRow) and the row covers dots
// [xDot, xDot + dots).
struct RasterRow {
  int group = 0;
  int layer = 0;  // raster layer of the job, 0 for the first; each layer starts with its class records
  bool greyLayer = false;
  bool bits = false;  // "C1"/"C2": one bit per dot at one power; "C3"/"C4": one power byte per dot
  bool reversed = false;
  int64_t xDot = 0;
  int64_t yRow = 0;
  int64_t dots = 0;
  int64_t engravedDots = 0;
  bool malformed = false;
};

// Consecutive engraved dots of one row at one power.
struct RasterSpan {
  int group = 0;
  int layer = 0;
  bool greyLayer = false;
  int64_t yRow = 0;
  int64_t xDot = 0;
  int64_t dots = 0;
  double powerPercent = 0;  // bit rows: the "PW" in force; byte rows: the byte / 1.28
  uint8_t level = 0;        // byte rows: the power byte as sent (128 = 100 %); bit rows: 0
};

// A relative head move of the raster part ("RX" or "RY").
struct HeadMove {
  bool alongX = true;
  int64_t count = 0;  // dots along x, rows along y
  double fromXMm = 0, fromYMm = 0, toXMm = 0, toYMm = 0;
};

// One motion record of the vector part, from where the previous one ended.
struct PenMove {
  int group = -1;  // -1 for pen-up travel, which may come before the settings of the work it leads to
  bool penDown = false;
  int form = 8;
  int64_t fromX = 0, fromY = 0, toX = 0, toY = 0;  // motion units: motor steps or hundredths of a millimetre
  double fromXMm = 0, fromYMm = 0, toXMm = 0, toYMm = 0;
};

// Receives the machine actions of the selected job in stream order.
class JobActions {
 public:
  virtual ~JobActions() = default;
  virtual void OnJob(const JobGeometry& geometry) { (void)geometry; }
  virtual void OnRasterRow(const RasterRow& row) { (void)row; }
  virtual void OnRasterSpan(const RasterSpan& span) { (void)span; }
  virtual void OnHeadMove(const HeadMove& move) { (void)move; }
  virtual void OnPenMove(const PenMove& move) { (void)move; }
};

// Turns decoded elements into machine actions. Only the job numbered selectedJob (1 for the first
// "!LA" header of the stream) is reported; the others are counted.
class JobWalker : public ElementSink {
 public:
  explicit JobWalker(JobActions& actions, int selectedJob = 1);

  void OnElement(const Element& element) override;
  void OnRowData(const uint8_t* data, size_t size) override;

  int jobs() const { return jobs_; }
  bool sawSelectedJob() const { return jobs_ >= selectedJob_; }
  const JobGeometry& geometry() const { return geometry_; }
  const std::vector<SettingsGroup>& groups() const { return groups_; }
  // Depth moved by "RF" records and not returned by the end of the selected job.
  int64_t depthLeft() const { return depthLeft_; }
  // Row and motion records met before any job header (they cannot be placed).
  uint64_t unplacedRecords() const { return unplaced_; }
  // Whether the selected job closed with "JF".
  bool jobClosed() const { return jobClosed_; }
  // The last "TE" pair of the selected job, seconds.
  const std::optional<uint32_t>& estimatedSeconds() const { return estimatedSeconds_; }
  // Where the raster part left the head (dots, rows).
  int64_t headXDot() const { return headX_; }
  int64_t headYRow() const { return headY_; }

 private:
  bool Reporting() const { return jobs_ == selectedJob_; }
  void StartJob(const Element& header);
  void Command(const Element& element);
  void Row(const Element& element);
  void Motion(const Element& element);
  void StartVectorPart();
  int CurrentGroup();
  double HeadXMm() const { return static_cast<double>(headX_) * geometry_.DotPitchMm(); }
  double HeadYMm() const { return static_cast<double>(headY_) * geometry_.RowPitchMm(); }

  JobActions& actions_;
  const int selectedJob_;
  int jobs_ = 0;
  JobGeometry geometry_;
  std::vector<SettingsGroup> groups_;

  // raster part
  int64_t headX_ = 0;  // dots
  int64_t headY_ = 0;  // rows
  int layer_ = -1;
  bool greyLayer_ = false;
  int32_t layerPower_ = 0;
  // settings records
  int32_t power_ = 0;  // last "PW"
  int32_t speedWord_ = 0;
  int32_t ai_ = 0;
  int32_t fr_ = 0;
  int32_t sl_ = 0;
  bool previousWasPower_ = false;
  int group_ = -1;  // resolved group, -1 when the settings changed since
  int64_t depthLeft_ = 0;
  // vector part
  bool vectorPart_ = false;
  bool penDown_ = false;
  int64_t penX_ = 0;  // motion units
  int64_t penY_ = 0;
  int penForm_ = 0;  // form of the units penX_, penY_ are in; 0 before the first motion record
  uint64_t unplaced_ = 0;
  std::optional<uint32_t> estimatedSeconds_;
  bool jobClosed_ = false;

  std::vector<uint8_t> rowData_;   // run-length coded data of the row being read
  std::vector<uint8_t> rowBytes_;  // the same row decoded
};

// Expands run-length coded row data: a header byte 0..127 is followed by that many + 1 literal bytes,
// -1..-127 by one byte repeated 1 - header times; 0x80 pads. Returns false when a run or literal is cut
// short (what could be read is kept).
bool ExpandRow(const uint8_t* data, size_t size, std::vector<uint8_t>& out);

}  // namespace ostrelin::tools
