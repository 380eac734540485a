// The pre-pass and its run step.
#include "engine/vector/pre_pass.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <vector>

#include "engine/error.h"
#include "engine/hpgl/plot_file.h"
#include "engine/scratch.h"
#include "engine/vector/plate_geometry.h"

namespace ostrelin::vector {
namespace {

// Points of a run smoothed together; longer runs are smoothed in windows of this many points whose
// end points stay where they are, so memory stays bounded whatever the length of a stroke.
constexpr size_t kRunWindow = 65536;
// Bytes copied at a time from the rewritten file back over the plot command file (`tampon`).
constexpr size_t kCopyChunk = 8192;

struct Point {
  float x;
  float y;
};

void Put(Context& ctx, platform::Stream& stream, const void* data, size_t size) {
  if (stream.Write(data, size) != size) Fail(ctx, ErrorKind::kTemporaryFile);
}

void PutPoint(Context& ctx, platform::Stream& stream, uint8_t opcode, float x, float y) {
  uint8_t record[9];
  record[0] = opcode;
  std::memcpy(record + 1, &x, 4);
  std::memcpy(record + 5, &y, 4);
  Put(ctx, stream, record, sizeof record);
}

/* One window of a run, smoothed in `count` rounds: every point but the window's first and last
 * moves toward the midpoint of its two neighbours (as they were before the round), by at most
 * `width` (file units). A run therefore never leaves its original path by more than count * width,
 * and jagged steps smaller than the width (such as those of coordinates rounded to a coarse grid)
 * are evened out before the planner turns them into junctions. */
void SmoothWindow(std::vector<Point>& points, double width, int32_t count) {
  if (points.size() < 3) return;
  std::vector<Point> before(points.size());
  for (int32_t round = 0; round < count; ++round) {
    before = points;
    for (size_t i = 1; i + 1 < points.size(); ++i) {
      const double mx = (static_cast<double>(before[i - 1].x) + before[i + 1].x) / 2.0;
      const double my = (static_cast<double>(before[i - 1].y) + before[i + 1].y) / 2.0;
      double sx = mx - before[i].x;
      double sy = my - before[i].y;
      const double shift = std::sqrt(sx * sx + sy * sy);
      if (shift > width) {
        sx *= width / shift;
        sy *= width / shift;
      }
      points[i] = Point{static_cast<float>(before[i].x + sx), static_cast<float>(before[i].y + sy)};
    }
  }
}

// Reads one run point; false at the end of the run stream.
bool ReadRunPoint(platform::Stream& runs, Point& point) {
  uint8_t payload[8];
  if (runs.Read(payload, sizeof payload) != sizeof payload) return false;
  std::memcpy(&point.x, payload, 4);
  std::memcpy(&point.y, payload + 4, 4);
  return true;
}

}  // namespace

void RunStep(Context& ctx, platform::Stream& runs, RunCursor& cursor, double width, int32_t count,
             platform::Stream& output) {
  const int64_t end = runs.Tell();
  if (end < 0 || !runs.Seek(cursor.consumed, platform::kSeekSet)) Fail(ctx, ErrorKind::kTemporaryFile);
  std::vector<Point> window;
  window.reserve(std::min<int64_t>((end - cursor.consumed) / 8, kRunWindow));
  Point point{};
  bool more = ReadRunPoint(runs, point);
  while (more) {
    window.clear();
    window.push_back(point);
    while (window.size() < kRunWindow && (more = ReadRunPoint(runs, point))) window.push_back(point);
    // The last point of a full window starts the next one, so that windows join without a gap.
    const bool full = window.size() == kRunWindow;
    if (full) more = true;
    SmoothWindow(window, width, count);
    const size_t written = full ? window.size() - 1 : window.size();
    for (size_t i = 0; i < written; ++i) PutPoint(ctx, output, hpgl::kOpPenDown, window[i].x, window[i].y);
    if (full) point = window.back();
  }
  cursor.consumed = end;
  if (!runs.Seek(end, platform::kSeekSet)) Fail(ctx, ErrorKind::kTemporaryFile);
}

bool PrePassApplies(const OstrelinVectorParams& params) {
  return params.variantFlag != 0 && params.prePassCount != 0 && params.prePassWidthMm != 0.0f;
}

void WritePrePass(Context& ctx, const OstrelinVectorParams& params, platform::Stream& output) {
  double width = params.prePassWidthMm;
  switch (PlotFileUnit(ctx)) {
    case FileUnit::kHundredths:
      width *= 100.0;
      break;
    case FileUnit::kDots:
      width *= ctx.vectorResolution / 25.4;
      break;
    case FileUnit::kPlotter:
      width /= 0.025;
      break;
  }
  platform::Stream* plot = AsStream(ctx.plotFile);
  if (plot == nullptr) Fail(ctx, ErrorKind::kTemporaryFile);
  std::unique_ptr<platform::Stream, bool (*)(platform::Stream*)> runs(OpenScratchStream(ctx),
                                                                      platform::CloseStream);
  if (runs == nullptr) Fail(ctx, ErrorKind::kTemporaryFile);

  RunCursor cursor;
  bool runOpen = false;
  auto endRun = [&] {
    if (!runOpen) return;
    RunStep(ctx, *runs, cursor, width, params.prePassCount, output);
    runOpen = false;
  };
  hpgl::Reader reader(ctx, *plot, ctx.endLength);
  for (;;) {
    const uint8_t opcode = reader.NextOpcode();
    if (opcode == hpgl::kOpEnd) {
      endRun();
      const uint8_t end = hpgl::kOpEnd;
      Put(ctx, output, &end, 1);
      break;
    }
    float x = 0.0f;
    float y = 0.0f;
    switch (opcode) {
      case hpgl::kOpNop: {
        endRun();
        Put(ctx, output, &opcode, 1);
        break;
      }
      case hpgl::kOpPenUp:
      case hpgl::kOpDot:
        endRun();
        reader.ReadPoint(&x, &y);
        PutPoint(ctx, output, hpgl::kOpPenUp, x, y);
        break;
      case hpgl::kOpPenDown: {
        reader.ReadPoint(&x, &y);
        runOpen = true;
        uint8_t payload[8];
        std::memcpy(payload, &x, 4);
        std::memcpy(payload + 4, &y, 4);
        Put(ctx, *runs, payload, sizeof payload);
        break;
      }
      case hpgl::kOpColour: {
        endRun();
        const uint8_t record[2] = {hpgl::kOpColour, reader.ReadColourClass()};
        Put(ctx, output, record, sizeof record);
        break;
      }
      default:
        reader.SkipPayload(opcode);
        break;
    }
  }
}

void RunPrePass(Context& ctx, const OstrelinVectorParams& params) {
  if (!PrePassApplies(params)) return;
  std::unique_ptr<platform::Stream, bool (*)(platform::Stream*)> output(OpenScratchStream(ctx),
                                                                        platform::CloseStream);
  if (output == nullptr) Fail(ctx, ErrorKind::kTemporaryFile);
  WritePrePass(ctx, params, *output);

  // Copy the rewritten file back over the plot command file.
  platform::Stream* plot = AsStream(ctx.plotFile);
  if (!plot->Seek(0, platform::kSeekSet) || !output->Seek(0, platform::kSeekSet))
    Fail(ctx, ErrorKind::kTemporaryFile);
  uint8_t tampon[kCopyChunk];
  int64_t copied = 0;
  for (;;) {
    const size_t got = output->Read(tampon, sizeof tampon);
    if (got == 0) break;
    Put(ctx, *plot, tampon, got);
    copied += static_cast<int64_t>(got);
  }
  ctx.endLength = copied;
  if (!plot->Seek(0, platform::kSeekSet)) Fail(ctx, ErrorKind::kTemporaryFile);
}

}  // namespace ostrelin::vector
