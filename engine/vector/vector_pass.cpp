// The vector pass: colour sort, colour walk with passes and depth steps, and the command records
// around the motion blocks of the selected planner.
#include "engine/vector/vector_pass.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>

#include "engine/error.h"
#include "engine/hpgl/plot_file.h"
#include "engine/job_stream.h"
#include "engine/scratch.h"
#include "engine/settings.h"
#include "engine/settings_tables.h"
#include "engine/vector/corner_planner.h"
#include "engine/vector/pre_pass.h"
#include "engine/vector/profile_planner.h"
#include "platform/platform.h"

namespace ostrelin::vector {
namespace {

constexpr int kColourClasses = 8;
constexpr int kWhite = 8;
// A point field that holds no point.
constexpr float kNoPoint = FLT_MAX;

struct PointF {
  float x = kNoPoint;
  float y = kNoPoint;
  bool Holds() const { return x != kNoPoint; }
};

using StreamHandle = std::unique_ptr<platform::Stream, bool (*)(platform::Stream*)>;

StreamHandle OpenScratch(Context& ctx) {
  StreamHandle stream(OpenScratchStream(ctx), platform::CloseStream);
  if (stream == nullptr) Fail(ctx, ErrorKind::kTemporaryFile);
  return stream;
}

void Put(Context& ctx, platform::Stream& stream, const void* data, size_t size) {
  if (stream.Write(data, size) != size) Fail(ctx, ErrorKind::kTemporaryFile);
}

// Records on their way to one scratch stream, written a block at a time instead of one write per
// record; Flush writes what is held. A short write is a "Temporary file error".
class BlockAppender {
 public:
  void Append(Context& ctx, platform::Stream& stream, const void* data, size_t size) {
    if (held_ + size > kBlockBytes) Flush(ctx, stream);
    if (block_ == nullptr) block_.reset(new uint8_t[kBlockBytes]);
    std::memcpy(block_.get() + held_, data, size);
    held_ += size;
  }
  void AppendPoint(Context& ctx, platform::Stream& stream, uint8_t opcode, PointF p) {
    uint8_t record[9];
    record[0] = opcode;
    std::memcpy(record + 1, &p.x, 4);
    std::memcpy(record + 5, &p.y, 4);
    Append(ctx, stream, record, sizeof record);
  }
  void Flush(Context& ctx, platform::Stream& stream) {
    if (held_ == 0) return;
    const size_t size = held_;
    held_ = 0;
    Put(ctx, stream, block_.get(), size);
  }

 private:
  static constexpr size_t kBlockBytes = 16384;
  std::unique_ptr<uint8_t[]> block_;
  size_t held_ = 0;
};

void Rewind(Context& ctx, platform::Stream& stream) {
  if (!stream.Seek(0, platform::kSeekSet)) Fail(ctx, ErrorKind::kTemporaryFile);
}

void Trace(const char* text) { platform::trace().Trace(text); }

bool IsV2Mode(int colourMode) { return colourMode == 6 || colourMode == 7; }
bool IsStampMode(int colourMode) { return colourMode == 3 || colourMode == 5; }
bool IsSkippedMode(int colourMode) { return colourMode == 0 || colourMode == 1; }

// Reader of the colour scratch files: opcode bytes, points and four-byte colour records, taken from
// blocks read ahead (the records are a few bytes each). A short point read leaves the point as it
// was; a missing opcode is the end of the data.
class ColourReader {
 public:
  ColourReader(Context& ctx, platform::Stream& stream) : ctx_(ctx), stream_(stream) {}
  // Goes to a position (bytes from the start of the stream).
  void Seek(int64_t position) {
    if (!stream_.Seek(position, platform::kSeekSet)) Fail(ctx_, ErrorKind::kTemporaryFile);
    blockStart_ = position;
    next_ = 0;
    end_ = 0;
  }
  // The position of the next byte to read.
  int64_t Tell() const { return blockStart_ + static_cast<int64_t>(next_); }
  uint8_t NextOpcode() {
    uint8_t opcode = hpgl::kOpEnd;
    if (Take(&opcode, 1) != 1) return hpgl::kOpEnd;
    return opcode;
  }
  void ReadPoint(PointF& p) {
    uint8_t payload[8];
    if (Take(payload, sizeof payload) != sizeof payload) return;
    std::memcpy(&p.x, payload, 4);
    std::memcpy(&p.y, payload + 4, 4);
  }
  int32_t ReadClass() {
    uint8_t bytes[4] = {};
    Take(bytes, sizeof bytes);
    return static_cast<int32_t>(static_cast<uint32_t>(bytes[0]) | static_cast<uint32_t>(bytes[1]) << 8 |
                                static_cast<uint32_t>(bytes[2]) << 16 |
                                static_cast<uint32_t>(bytes[3]) << 24);
  }

 private:
  static constexpr size_t kBlockBytes = 65536;

  // Copies up to size bytes; fewer at the end of the stream's data.
  size_t Take(void* out, size_t size) {
    auto* bytes = static_cast<uint8_t*>(out);
    size_t taken = 0;
    while (taken < size) {
      if (next_ == end_) {
        blockStart_ += static_cast<int64_t>(end_);
        next_ = 0;
        end_ = stream_.Read(block_.get(), kBlockBytes);
        if (end_ == 0) break;
      }
      const size_t piece = std::min(size - taken, end_ - next_);
      std::memcpy(bytes + taken, block_.get() + next_, piece);
      next_ += piece;
      taken += piece;
    }
    return taken;
  }

  Context& ctx_;
  platform::Stream& stream_;
  std::unique_ptr<uint8_t[]> block_{new uint8_t[kBlockBytes]};
  int64_t blockStart_ = 0;  // stream position of block_[0]
  size_t next_ = 0;         // next byte of block_ to take
  size_t end_ = 0;          // bytes of block_ that hold data
};

// The planner selected by the controller flag, behind the four operations the pass uses.
class Motion {
 public:
  Motion(Context& ctx, Job& job, bool profiled, const OstrelinVectorParams& params) : ctx_(ctx), job_(job) {
    if (profiled) {
      profile_.emplace(ctx, job, params);
    } else {
      corner_.emplace(ctx, job);
    }
  }
  void Start() {
    const bool turned = ctx_.orientation > 3;
    const int32_t resX = turned ? ctx_.engravingResY : ctx_.engravingResX;
    const int32_t resY = turned ? ctx_.engravingResX : ctx_.engravingResY;
    if (profile_) {
      StartProfile(*profile_, job_.headX, job_.headY, resX, resY);
    } else {
      StartCorner(*corner_, job_.headX, job_.headY, resX, resY);
    }
  }
  void PenDown(PointF p) {
    if (profile_) {
      PlanProfilePoint(ctx_, job_, *profile_, true, p.x, p.y);
    } else {
      AddCornerPoint(ctx_, job_, *corner_, p.x, p.y);
    }
  }
  void Travel(PointF p) {
    if (profile_) {
      PlanProfilePoint(ctx_, job_, *profile_, false, p.x, p.y);
    } else {
      AddCornerPoint(ctx_, job_, *corner_, p.x, p.y);
    }
    Flush();
  }
  void Flush() {
    if (profile_) {
      FlushProfile(ctx_, job_, *profile_);
    } else {
      FlushCorner(ctx_, job_, *corner_);
    }
  }
  void SetPenSpeed(int32_t speed) {
    if (profile_) profile_->penSpeedValue = speed;
  }

 private:
  Context& ctx_;
  Job& job_;
  std::optional<CornerPlanner> corner_;
  std::optional<ProfilePlanner> profile_;
};

// The settings of one colour as the pass sends them.
struct ColourValues {
  int32_t colourMode;
  int32_t dp;     // "DP", sent as two records
  int16_t pw;     // "PW", percent
  int16_t speed;  // "VD" (divided by 10) and "vd"
  int16_t ai;
  int16_t fr;
  int16_t sl;
  int16_t stepWord;  // "RF" of each depth step
  int16_t passes;
  bool stepFirst;  // depth mode 0: a step before the first pass too
};

ColourValues LoadColour(const Context& ctx, int colourClass) {
  const int16_t* w = ctx.classParams[colourClass];
  ColourValues v{};
  v.colourMode = w[kWordColourMode];
  const bool stamp = IsStampMode(v.colourMode);
  int32_t pw = RoundHalfAway(w[kWordPower] / 1.28);
  if (stamp && pw > 80) pw = 80;
  v.pw = static_cast<int16_t>(pw);
  v.dp = stamp ? 50 : ctx.vectorWord;
  v.speed = w[kWordSpeed];
  v.ai = w[kWordAi];
  v.fr = w[kWordFr];
  v.sl = w[kWordSl];
  v.stepWord = w[kWordDepthStep];
  v.passes = w[kWordPasses];
  v.stepFirst = w[kWordDepthMode] == 0;
  return v;
}

// State of the colour walk; the last-sent values persist across colours.
class Walk {
 public:
  Walk(Context& ctx, Job& job, Motion& motion) : ctx_(ctx), job_(job), motion_(motion) {}

  void StartV2(int value) {
    WriteRecord(ctx_, job_, "V2", value);
    v2_ = value;
  }

  // "V2" change before a colour of the given mode.
  void SwitchV2(int colourMode) {
    const int wanted = IsV2Mode(colourMode) ? 1 : 0;
    if (wanted == v2_) return;
    LiftPen();
    StartV2(wanted);
  }

  void BeginColour(const ColourValues& values) {
    colour_ = values;
    passesLeft_ = values.passes;
    stepPending_ = values.stepFirst;
  }

  // Reads one pass of a colour's records until the end of its data or a colour record; returns the
  // opcode that ended it.
  uint8_t ReadPass(ColourReader& reader) {
    for (;;) {
      const uint8_t opcode = reader.NextOpcode();
      switch (opcode) {
        case hpgl::kOpPenUp:
        case hpgl::kOpDot:
          reader.ReadPoint(penUpTarget_);
          break;
        case hpgl::kOpPenDown: {
          PointF p = lastPenDown_;
          reader.ReadPoint(p);
          Stroke(p);
          break;
        }
        case hpgl::kOpColour:
        case hpgl::kOpEnd:
          return opcode;
        default:
          return hpgl::kOpEnd;
      }
    }
  }

  // After a pass: true when another pass of the colour follows.
  bool EndPass() {
    motion_.Flush();
    --passesLeft_;
    if (passesLeft_ > 0) {
      stepPending_ = true;
      return true;
    }
    stepPending_ = false;
    if (stepTotal_ != 0) {
      LiftPen();
      WriteRecord(ctx_, job_, "RF", -stepTotal_);
      stepTotal_ = 0;
    }
    return false;
  }

 private:
  void LiftPen() {
    if (penUp_) return;
    WriteRecord(ctx_, job_, "PU", 0);
    penUp_ = true;
  }

  template <class T>
  bool Changed(T& last, T value) {
    if (last == value) return false;
    motion_.Flush();
    last = value;
    return true;
  }

  void Stroke(PointF p) {
    if (penUpTarget_.Holds() && (penUpTarget_.x != lastPenDown_.x || penUpTarget_.y != lastPenDown_.y)) {
      motion_.Flush();
      WriteRecord(ctx_, job_, "PU", 0);
      motion_.Travel(penUpTarget_);
      penUp_ = true;
    }
    penUpTarget_ = PointF{};

    if (Changed(lastDp_, colour_.dp)) WriteRecord32(ctx_, job_, "DP", static_cast<uint32_t>(colour_.dp));
    if (Changed(lastPw_, colour_.pw)) WriteRecord(ctx_, job_, "PW", colour_.pw);
    if (Changed(lastSpeed_, colour_.speed)) {
      WriteRecord(ctx_, job_, "VD", colour_.speed / 10);
      WriteRecord(ctx_, job_, "vd", colour_.speed);
      motion_.SetPenSpeed(colour_.speed);
    }
    if (Changed(lastAi_, colour_.ai)) WriteRecord(ctx_, job_, "AI", colour_.ai);
    if (Changed(lastFr_, colour_.fr)) WriteRecord(ctx_, job_, "FR", colour_.fr);
    if (Changed(lastSl_, colour_.sl)) WriteRecord(ctx_, job_, "SL", colour_.sl);

    if (stepPending_) {
      if (colour_.stepWord != 0) {
        motion_.Flush();
        LiftPen();
        WriteRecord(ctx_, job_, "RF", colour_.stepWord);
        stepTotal_ = static_cast<int16_t>(stepTotal_ + colour_.stepWord);
      }
      stepPending_ = false;
    }

    if (penUp_) {
      motion_.Flush();
      WriteRecord(ctx_, job_, "PD", 0);
      penUp_ = false;
    }
    lastPenDown_ = p;
    motion_.PenDown(p);
  }

  Context& ctx_;
  Job& job_;
  Motion& motion_;
  ColourValues colour_{};
  PointF penUpTarget_;  // pt_pu
  PointF lastPenDown_;  // pt_last_pd
  bool penUp_ = true;
  int v2_ = 0;
  int32_t lastDp_ = -1;
  int16_t lastPw_ = -1;
  int16_t lastSpeed_ = -1;
  int16_t lastAi_ = -1;
  int16_t lastFr_ = -1;
  int16_t lastSl_ = -1;
  int16_t passesLeft_ = 0;
  bool stepPending_ = false;
  int16_t stepTotal_ = 0;
};

bool IsFinitePoint(float x, float y) { return std::isfinite(x) && std::isfinite(y); }

void TraceDropped(float x, float y) {
  char text[128];
  std::snprintf(text, sizeof text, "vector pass: point (%g, %g) is not a position and is dropped\n",
                static_cast<double>(x), static_cast<double>(y));
  Trace(text);
}

// A colour record of a class the engine has no colour for (the host passes any index and keeps its
// low byte): such strokes are not engraved, like white ones.
int32_t CheckedClass(uint8_t colourClass) {
  if (colourClass <= kWhite) return colourClass;
  char text[96];
  std::snprintf(text, sizeof text, "vector pass: colour class %d is not engraved\n", colourClass);
  Trace(text);
  return kWhite;
}

}  // namespace

// What a colour sort leaves: the colour scratch files (or the single stream of file order) and the
// bytes each holds.
struct SortResult {
  StreamHandle files[kColourClasses] = {{nullptr, platform::CloseStream}, {nullptr, platform::CloseStream},
                                        {nullptr, platform::CloseStream}, {nullptr, platform::CloseStream},
                                        {nullptr, platform::CloseStream}, {nullptr, platform::CloseStream},
                                        {nullptr, platform::CloseStream}, {nullptr, platform::CloseStream}};
  int64_t bytes[kColourClasses] = {};
  StreamHandle single{nullptr, platform::CloseStream};
  int64_t singleBytes = 0;
  int64_t plotPosition = -1;  // where the sort left the plot command file's position
};

namespace {

/* The colour sort. Points are copied, in the plot command file's encoding, to the colour scratch
 * file of their class (or, in file order, to one stream with four-byte colour records between the
 * colours). White (and unknown classes) drop everything; a class whose colour mode is 0 or 1 keeps
 * its pen-up records but drops its pen-down points. A colour's first pen-down point is preceded by
 * a pen-up to the last point read, so that the stroke starts where the pen was. Points that are not
 * positions (NaN, infinite) are dropped with a trace. */
void SortByColour(Context& ctx, SortResult& out, platform::Stream& plot, int64_t endLength) {
  hpgl::Reader reader(ctx, plot, endLength);
  const bool fileOrder = ctx.fileOrderFlag != 0;
  int32_t current = 0;
  bool skip = false;
  PointF courant;
  if (fileOrder) {
    out.single = OpenScratch(ctx);
  } else {
    out.files[0] = OpenScratch(ctx);
  }
  // One appender per colour scratch file (the last one for the single stream of file order).
  BlockAppender appenders[kColourClasses + 1];
  auto target = [&]() -> platform::Stream& { return fileOrder ? *out.single : *out.files[current]; };
  auto appender = [&]() -> BlockAppender& { return appenders[fileOrder ? kColourClasses : current]; };
  auto written = [&]() -> int64_t& { return fileOrder ? out.singleBytes : out.bytes[current]; };
  auto append = [&](uint8_t opcode, PointF p) {
    appender().AppendPoint(ctx, target(), opcode, p);
    written() += 9;
  };

  for (;;) {
    const uint8_t opcode = reader.NextOpcode();
    if (opcode == hpgl::kOpEnd) break;
    switch (opcode) {
      case hpgl::kOpPenUp:
      case hpgl::kOpDot: {
        PointF p;
        reader.ReadPoint(&p.x, &p.y);
        if (!IsFinitePoint(p.x, p.y)) {
          TraceDropped(p.x, p.y);
          break;
        }
        courant = p;
        if (current != kWhite) append(opcode, p);
        break;
      }
      case hpgl::kOpPenDown: {
        PointF p;
        reader.ReadPoint(&p.x, &p.y);
        if (current == kWhite) break;
        if (!IsFinitePoint(p.x, p.y)) {
          TraceDropped(p.x, p.y);
          break;
        }
        if (written() == 0 && !skip && courant.Holds()) append(hpgl::kOpPenUp, courant);
        courant = p;
        if (!skip) append(hpgl::kOpPenDown, p);
        break;
      }
      case hpgl::kOpColour: {
        current = CheckedClass(reader.ReadColourClass());
        if (current == kWhite) break;
        skip = IsSkippedMode(ctx.classParams[current][kWordColourMode]);
        if (fileOrder) {
          if (skip) break;
          uint8_t record[5] = {hpgl::kOpColour, static_cast<uint8_t>(current), 0, 0, 0};
          appender().Append(ctx, *out.single, record, sizeof record);
          out.singleBytes += 5;
          if (courant.Holds()) append(hpgl::kOpPenUp, courant);
        } else if (out.files[current] == nullptr) {
          out.files[current] = OpenScratch(ctx);
        }
        break;
      }
      case hpgl::kOpNop:
        break;
      default:
        reader.SkipPayload(opcode);
        break;
    }
  }
  for (int c = 0; c < kColourClasses; ++c) {
    if (out.files[c] != nullptr) appenders[c].Flush(ctx, *out.files[c]);
  }
  if (out.single != nullptr) appenders[kColourClasses].Flush(ctx, *out.single);
}

// Vector parameters a profiling controller of this model gets built in.
OstrelinVectorParams BuiltInProfilingParams(const Context& ctx) {
  const int32_t model = HeaderWord(ctx, 28);
  const bool tc = HeaderWord(ctx, 32) != 0;
  const bool fast = HeaderWord(ctx, 104) != 0;
  if (tc) {
    OstrelinVectorParams params = ParamVitVectTc;
    const int32_t tcSpeed = HeaderWord(ctx, 36);
    const int16_t minimum = tcSpeed < 1500 ? 1 : (tcSpeed < 2000 ? 2 : 3);
    params.penUpMinSpeed = minimum;
    params.penDownMinSpeed = minimum;
    return params;
  }
  const auto m = static_cast<uint16_t>(model);
  if (IsXpModel(m) && fast) return ParamVitVectXpFast;
  if (IsFastModel(m) && fast) return ParamVitVectFast;
  return ParamVitVectStd;
}

void WriteColours(Context& ctx, Job& job, SortResult& sorted, Motion& motion) {
  Walk walk(ctx, job, motion);
  walk.StartV2(0);
  for (int c = 0; c < kColourClasses; ++c) {
    if (sorted.files[c] == nullptr || sorted.bytes[c] == 0) continue;
    const ColourValues values = LoadColour(ctx, c);
    walk.SwitchV2(values.colourMode);
    walk.BeginColour(values);
    ColourReader reader(ctx, *sorted.files[c]);
    do {
      reader.Seek(0);
      walk.ReadPass(reader);
    } while (walk.EndPass());
  }
}

void WriteColoursInFileOrder(Context& ctx, Job& job, SortResult& sorted, Motion& motion) {
  if (sorted.singleBytes == 0) return;
  Walk walk(ctx, job, motion);
  walk.StartV2(IsV2Mode(ctx.classParams[0][kWordColourMode]) ? 1 : 0);
  ColourReader reader(ctx, *sorted.single);
  reader.Seek(0);
  walk.BeginColour(LoadColour(ctx, 0));
  int64_t sectionStart = 0;
  for (;;) {
    const uint8_t ended = walk.ReadPass(reader);
    if (ended == hpgl::kOpColour) {
      if (walk.EndPass()) {
        reader.Seek(sectionStart);
        continue;
      }
      const int32_t next = reader.ReadClass();
      sectionStart = reader.Tell();
      const int32_t colourClass = next >= 0 && next < kColourClasses ? next : 0;
      const ColourValues values = LoadColour(ctx, colourClass);
      walk.SwitchV2(values.colourMode);
      walk.BeginColour(values);
      continue;
    }
    if (walk.EndPass()) {
      reader.Seek(sectionStart);
      continue;
    }
    break;
  }
}

}  // namespace

OstrelinVectorParams EstimatingParams(const Context& ctx, const Job& job) {
  OstrelinVectorParams params = job.cornerTable.params;
  const OstrelinVectorParams profiling = BuiltInProfilingParams(ctx);
  // A pen-up minimum speed of 0 (the built-in corner tables) makes every junction of a travel move 0
  // and leaves its constant-speed middle at 1 mm/s: a 100 mm move would count 88 s instead of 0.6 s.
  if (params.penUpMinSpeed <= 0) params.penUpMinSpeed = profiling.penUpMinSpeed;
  const bool usable = params.penDownMaxSpeed > 0 && params.penDownAccel > 0 && params.penDownMinSpeed >= 0 &&
                      params.penDownMinSpeed <= params.penDownMaxSpeed;
  if (usable) return params;
  params.penDownMinSpeed = profiling.penDownMinSpeed;
  params.penDownAccel = profiling.penDownAccel;
  params.penDownMaxSpeed = profiling.penDownMaxSpeed;
  return params;
}

SortedStrokes::SortedStrokes() = default;
SortedStrokes::~SortedStrokes() = default;

void RunVectorPass(Context& ctx, Spool&, Job& job, PassRole role, SortedStrokes* keep) {
  const OstrelinVectorParams params =
      role == PassRole::kEstimate ? EstimatingParams(ctx, job) : job.cornerTable.params;
  const bool profiled = ctx.controllerFlag != 0;
  platform::Stream* plot = AsStream(ctx.plotFile);
  if (plot == nullptr) Fail(ctx, ErrorKind::kTemporaryFile);
  // Without pre-pass every run sorts the plot command file as it stands, up to the same end length,
  // so a sort left by an earlier run of this job is the one this run would make.
  const bool plainSort = !PrePassApplies(params);
  std::unique_ptr<SortResult> sorted;
  if (plainSort && keep != nullptr) sorted = std::move(keep->held);
  if (sorted != nullptr) {
    // The plot command file is left where the sort would have left it.
    if (sorted->plotPosition >= 0 && !plot->Seek(sorted->plotPosition, platform::kSeekSet))
      Fail(ctx, ErrorKind::kTemporaryFile);
  } else {
    sorted = std::make_unique<SortResult>();
    if (role == PassRole::kEstimate && !plainSort) {
      // The estimating run plans the strokes as the real run will engrave them, smoothed once, but
      // from a copy: rewriting the plot command file here would make the real run smooth them a
      // second time, and its output would depend on whether an estimate was made first.
      StreamHandle smoothed = OpenScratch(ctx);
      WritePrePass(ctx, params, *smoothed);
      const int64_t length = smoothed->Tell();
      Rewind(ctx, *smoothed);
      SortByColour(ctx, *sorted, *smoothed, length);
    } else {
      RunPrePass(ctx, params);
      SortByColour(ctx, *sorted, *plot, ctx.endLength);
      sorted->plotPosition = plot->Tell();
    }
  }
  Motion motion(ctx, job, profiled, params);
  motion.Start();
  if (ctx.fileOrderFlag != 0) {
    WriteColoursInFileOrder(ctx, job, *sorted, motion);
  } else {
    WriteColours(ctx, job, *sorted, motion);
  }
  motion.Flush();
  if (role == PassRole::kEstimate && plainSort && keep != nullptr) keep->held = std::move(sorted);
}

}  // namespace ostrelin::vector
