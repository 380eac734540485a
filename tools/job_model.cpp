// Machine actions of a job stream: raster rows, head moves and pen moves placed on the plate.
#include "tools/job_model.h"

#include <cmath>

namespace ostrelin::tools {
namespace {

// Job header words by their byte offset after "!LA 192;".
constexpr size_t Word(size_t offset) { return (offset - 16) / 4; }

// Half away from zero, as the engine rounds.
int64_t RoundHalfAway(double value) { return static_cast<int64_t>(std::llround(value)); }

}  // namespace

double MotionDivisorOfSelector(int32_t selector) {
  if (selector == 0) return 5550.0;
  if (selector == 1) return 6000.0;
  return 5400.0;
}

double JobGeometry::DotPitchMm() const { return resolutionXDpi > 0 ? 25.4 / resolutionXDpi : 0.0; }
double JobGeometry::RowPitchMm() const { return resolutionYDpi > 0 ? 25.4 / resolutionYDpi : 0.0; }
double JobGeometry::MotionUnitMm() const {
  return motionRecordBytes == 12 ? 0.01 : motionDivisor / 1600.0 / 100.0;
}

int64_t JobGeometry::PlateDots() const {
  return RoundHalfAway(plateWidthHmm * static_cast<double>(resolutionXDpi) / 2540.0);
}
int64_t JobGeometry::PlateRows() const {
  return RoundHalfAway(plateHeightHmm * static_cast<double>(resolutionYDpi) / 2540.0);
}

bool ExpandRow(const uint8_t* data, size_t size, std::vector<uint8_t>& out) {
  out.clear();
  size_t i = 0;
  while (i < size) {
    const auto header = static_cast<int8_t>(data[i++]);
    if (header == -128) return i == size;  // padding ends the row
    if (header >= 0) {
      const size_t count = static_cast<size_t>(header) + 1;
      if (size - i < count) {
        out.insert(out.end(), data + i, data + size);
        return false;
      }
      out.insert(out.end(), data + i, data + i + count);
      i += count;
    } else {
      if (i == size) return false;
      out.insert(out.end(), static_cast<size_t>(1 - header), data[i++]);
    }
  }
  return true;
}

JobWalker::JobWalker(JobActions& actions, int selectedJob) : actions_(actions), selectedJob_(selectedJob) {}

void JobWalker::OnRowData(const uint8_t* data, size_t size) {
  rowData_.insert(rowData_.end(), data, data + size);
}

void JobWalker::OnElement(const Element& element) {
  switch (element.kind) {
    case ElementKind::kJobHeader:
      StartJob(element);
      break;
    case ElementKind::kCommand:
      if (Reporting()) Command(element);
      break;
    case ElementKind::kRow:
      if (jobs_ == 0) ++unplaced_;
      if (Reporting()) Row(element);
      rowData_.clear();
      break;
    case ElementKind::kTruncated:
      rowData_.clear();
      break;
    case ElementKind::kMotion:
      if (jobs_ == 0) ++unplaced_;
      if (Reporting()) Motion(element);
      break;
    default:
      break;
  }
}

void JobWalker::StartJob(const Element& header) {
  ++jobs_;
  if (!Reporting()) return;
  const std::vector<int32_t>& w = header.words;
  JobGeometry g;
  g.model = w[Word(28)];
  g.resolutionXDpi = w[Word(40)];
  g.resolutionYDpi = w[Word(44)];
  g.class0PowerPercent = w[Word(48)];
  g.plateWidthHmm = w[Word(56)];
  g.plateHeightHmm = w[Word(60)];
  g.firstDotMode = w[Word(76)];
  g.orientation = w[Word(80)];
  g.motionTableSelector = w[Word(100)];
  g.controllerKind = w[Word(112)];
  g.bottomUp = w[Word(124)] != 0;
  g.motionRecordBytes = g.controllerKind != 0 ? 12 : 8;
  g.motionDivisor = MotionDivisorOfSelector(g.motionTableSelector);
  geometry_ = g;
  actions_.OnJob(geometry_);
}

// The group of the settings in force: for a raster layer the power its class records carried (the
// grey layer's own "PW" records are zone powers, not class settings); for vectors the last "PW".
int JobWalker::CurrentGroup() {
  if (group_ >= 0) return group_;
  const SettingsGroup settings{vectorPart_ ? power_ : layerPower_, speedWord_, ai_, fr_, sl_};
  for (size_t i = 0; i < groups_.size(); ++i) {
    if (groups_[i] == settings) return group_ = static_cast<int>(i);
  }
  groups_.push_back(settings);
  return group_ = static_cast<int>(groups_.size() - 1);
}

void JobWalker::Command(const Element& element) {
  const std::string& code = element.text;
  const bool wasPower = previousWasPower_;
  previousWasPower_ = code == "PW";
  const auto value = static_cast<int32_t>(element.value);
  if (code == "PW") {
    power_ = value;
    if (vectorPart_) group_ = -1;
  } else if (code == "VD") {
    // Job assembly opens every raster layer with its class records; a colour layer's begin with "PW".
    if (!vectorPart_) {
      ++layer_;
      greyLayer_ = !wasPower;
      layerPower_ = greyLayer_ ? geometry_.class0PowerPercent : power_;
    }
    group_ = -1;
  } else if (code == "vd") {
    speedWord_ = value;
    group_ = -1;
  } else if (code == "AI") {
    ai_ = value;
    group_ = -1;
  } else if (code == "FR") {
    fr_ = value;
    group_ = -1;
  } else if (code == "SL") {
    sl_ = value;
    group_ = -1;
  } else if (code == "RX" || code == "RY") {
    HeadMove move;
    move.alongX = code == "RX";
    move.count = element.value;
    move.fromXMm = HeadXMm();
    move.fromYMm = HeadYMm();
    (move.alongX ? headX_ : headY_) += element.value;
    move.toXMm = HeadXMm();
    move.toYMm = HeadYMm();
    actions_.OnHeadMove(move);
  } else if (code == "JF") {
    jobClosed_ = true;
  } else if (code == "TE") {
    if (element.records == 2) estimatedSeconds_ = static_cast<uint32_t>(element.value);
  } else if (code == "RF") {
    depthLeft_ += static_cast<int16_t>(element.raw);
  } else if (code == "V2" || code == "PU" || code == "PD") {
    if (!vectorPart_ && code == "V2") StartVectorPart();
    if (code == "PU") penDown_ = false;
    if (code == "PD") {
      if (!vectorPart_) StartVectorPart();
      penDown_ = true;
    }
  }
}

void JobWalker::StartVectorPart() {
  vectorPart_ = true;
  group_ = -1;
  penForm_ = 0;
}

void JobWalker::Row(const Element& element) {
  const std::string& code = element.text;
  RasterRow row;
  row.group = CurrentGroup();
  row.layer = layer_;
  row.greyLayer = greyLayer_;
  row.bits = code == "C1" || code == "C2";
  row.reversed = code == "C2" || code == "C4";
  row.xDot = headX_;
  row.yRow = headY_;
  row.malformed = !ExpandRow(rowData_.data(), rowData_.size(), rowBytes_);
  const auto bytes = static_cast<int64_t>(rowBytes_.size());
  row.dots = row.bits ? bytes * 8 : bytes;

  // Dot j of the row (from the head's x) is bit or byte j of the data as sent forward, and bit or byte
  // dots - 1 - j of a row sent in reverse: reversed rows are mirrored dot by dot, padding included.
  const int64_t n = row.dots;
  auto valueAt = [&](int64_t j) -> uint8_t {
    const int64_t k = row.reversed ? n - 1 - j : j;
    if (!row.bits) return rowBytes_[static_cast<size_t>(k)];
    return static_cast<uint8_t>((rowBytes_[static_cast<size_t>(k >> 3)] >> (7 - (k & 7))) & 1);
  };
  RasterSpan span;
  span.group = row.group;
  span.layer = row.layer;
  span.greyLayer = row.greyLayer;
  span.yRow = row.yRow;
  int64_t j = 0;
  while (j < n) {
    // Whole zero bytes of the data are skipped at once.
    if (row.bits && ((row.reversed ? n - 1 - j : j) & 7) == (row.reversed ? 7 : 0) &&
        rowBytes_[static_cast<size_t>((row.reversed ? n - 1 - j : j) >> 3)] == 0 && j + 8 <= n) {
      j += 8;
      continue;
    }
    const uint8_t value = valueAt(j);
    if (value == 0) {
      ++j;
      continue;
    }
    int64_t end = j + 1;
    while (end < n && valueAt(end) == value) ++end;
    span.xDot = row.xDot + j;
    span.dots = end - j;
    span.level = row.bits ? 0 : value;
    span.powerPercent = row.bits ? power_ : value / 1.28;
    row.engravedDots += span.dots;
    actions_.OnRasterSpan(span);
    j = end;
  }
  actions_.OnRasterRow(row);
  headY_ += geometry_.bottomUp ? -1 : 1;
}

void JobWalker::Motion(const Element& element) {
  const MotionRecord& m = element.motion;
  if (!vectorPart_) StartVectorPart();
  if (penForm_ != m.form) {
    // The pen starts where the raster part left the head, in the units of the motion records.
    penForm_ = m.form;
    if (m.form == 12) {
      auto hundredths = [](int64_t dots, int32_t dpi) {
        return dpi > 0 ? RoundHalfAway(static_cast<float>(dots * 2540) / static_cast<float>(dpi)) : 0;
      };
      penX_ = hundredths(headX_, geometry_.resolutionXDpi);
      penY_ = hundredths(headY_, geometry_.resolutionYDpi);
    } else {
      auto steps = [&](int64_t dots, int32_t dpi) {
        return dpi > 0 ? RoundHalfAway(static_cast<double>(dots) * 25.4 * 20000 * 8 /
                                       geometry_.motionDivisor / static_cast<float>(dpi))
                       : 0;
      };
      penX_ = steps(headX_, geometry_.resolutionXDpi);
      penY_ = steps(headY_, geometry_.resolutionYDpi);
    }
  }
  const double unit = m.form == 12 ? 0.01 : geometry_.motionDivisor / 160000.0;
  PenMove move;
  move.group = penDown_ ? CurrentGroup() : -1;
  move.penDown = penDown_;
  move.form = m.form;
  move.fromX = penX_;
  move.fromY = penY_;
  penX_ += m.dx;
  penY_ += m.dy;
  move.toX = penX_;
  move.toY = penY_;
  move.fromXMm = static_cast<double>(move.fromX) * unit;
  move.fromYMm = static_cast<double>(move.fromY) * unit;
  move.toXMm = static_cast<double>(move.toX) * unit;
  move.toYMm = static_cast<double>(move.toY) * unit;
  actions_.OnPenMove(move);
}

}  // namespace ostrelin::tools
