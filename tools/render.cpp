// The rendering road driven from PNG images and a stroke script.
#include "tools/render.h"

#include "tools/preview.h"
#include "tools/stderr_trace.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <memory>
#include <string>

#include "ostrelin/ostrelin.h"
#include "platform/platform.h"
#include "tools/file_io.h"
#include "tools/settings_json.h"
#include "tools/tool_error.h"

namespace ostrelin::tools {
namespace {

constexpr uint32_t kReadChunkBytes = 1u << 20;

struct FreeDeleter {
  void operator()(void* block) const { std::free(block); }
};

// The three records, allocated zero-filled at the sizes the engine asks for, and released after
// ostrelinClean has closed what hangs from them.
class EngineRecords {
 public:
  EngineRecords() {
    int32_t spoolSize = 0, contextSize = 0, jobSize = 0;
    RechercheTailleDePiPgPo(&spoolSize, &contextSize, &jobSize);
    ctx_.reset(std::calloc(1, static_cast<size_t>(contextSize)));
    spool_.reset(std::calloc(1, static_cast<size_t>(spoolSize)));
    job_.reset(std::calloc(1, static_cast<size_t>(jobSize)));
    if (!ctx_ || !spool_ || !job_) throw Failure("not enough memory for the engine's records");
  }
  ~EngineRecords() {
    if (open_) ostrelinClean(ctx(), spool(), job());
  }
  EngineRecords(const EngineRecords&) = delete;
  EngineRecords& operator=(const EngineRecords&) = delete;

  OstrelinContext* ctx() { return static_cast<OstrelinContext*>(ctx_.get()); }
  OstrelinSpool* spool() { return static_cast<OstrelinSpool*>(spool_.get()); }
  OstrelinJob* job() { return static_cast<OstrelinJob*>(job_.get()); }

  void Opened() { open_ = true; }
  // Ends the job; false when closing the stream failed.
  bool Clean() {
    open_ = false;
    return ostrelinClean(ctx(), spool(), job()) == 0;
  }

  // Throws when the last call ended through the engine's error frame.
  void Check(const std::string& call) {
    if (ctx()->lastError != 0) {
      throw Failure("no job written: the engine stopped in " + call + " (error kind " +
                    std::to_string(ctx()->lastError - 1) + ")");
    }
  }

 private:
  std::unique_ptr<void, FreeDeleter> ctx_;
  std::unique_ptr<void, FreeDeleter> spool_;
  std::unique_ptr<void, FreeDeleter> job_;
  bool open_ = false;
};

std::string CallName(const StrokeCommand& command) {
  const std::string at = command.line > 0 ? " (script line " + std::to_string(command.line) + ")" : "";
  switch (command.kind) {
    case StrokeCommand::Kind::kColour:
      return "ostrelinGnfToTdSetIndexColor" + at;
    case StrokeCommand::Kind::kPenUp:
      return "ostrelinGnfToTdPu2dA" + at;
    case StrokeCommand::Kind::kPenDown:
      return "ostrelinGnfToTdPd2dA" + at;
    case StrokeCommand::Kind::kEof:
      return "ostrelinGnfToTdEof" + at;
  }
  return "?";
}

// Image pixels from which a job counts as large enough for a progress bar.
constexpr uint64_t kProgressPixels = 4000000;

// A bar on standard error: "ostrelin: <label> [=====     ]  50%", redrawn when the percentage changes.
class ProgressBar {
 public:
  ProgressBar(bool enabled, uint64_t total) : enabled_(enabled && total > 0), total_(total) {}
  ~ProgressBar() { Done(); }
  ProgressBar(const ProgressBar&) = delete;
  ProgressBar& operator=(const ProgressBar&) = delete;

  void Advance(uint64_t units) {
    if (!enabled_) return;
    done_ += units;
    const auto percent = static_cast<int>(done_ * 100 / total_);
    if (percent == shown_) return;
    shown_ = percent;
    constexpr int kWidth = 40;
    const int filled = percent * kWidth / 100;
    std::fprintf(stderr, "\rostrelin: image rows [%.*s%*s] %3d%%", filled,
                 "========================================", kWidth - filled, "", percent);
    std::fflush(stderr);
  }
  // Ends the bar's line; later messages start on a line of their own.
  void Done() {
    if (!enabled_ || shown_ < 0) return;
    std::fputc('\n', stderr);
    shown_ = -1;
    enabled_ = false;
  }

 private:
  bool enabled_;
  uint64_t total_;
  uint64_t done_ = 0;
  int shown_ = -1;
};

// An image checked before the engine is called: its size and how its rows go.
struct CheckedImage {
  ImagePlacement placement;
  uint32_t width = 0;
  uint32_t height = 0;
  bool bits = false;
};

CheckedImage CheckImage(const ImagePlacement& placement, ImageRows rows) {
  CheckedImage image{placement};
  {
    PngReader reader(placement.path);
    image.width = reader.width();
    image.height = reader.height();
  }
  image.bits = rows == ImageRows::kBits || (rows == ImageRows::kAuto && IsBlackAndWhite(placement.path));
  const uint32_t limit = image.bits ? kMaxBitRowPixels : kMaxGreyRowPixels;
  if (image.width > limit) {
    throw Failure(placement.path + ": " + std::to_string(image.width) + " pixels wide; the engine takes " +
                  (image.bits ? "one-bit" : "grey") + " rows of at most " + std::to_string(limit) +
                  " pixels");
  }
  return image;
}

// One-bit row of an RGB row: a pixel is engraved (bit set) when its grey is below 128.
void ThresholdRow(const uint8_t* rgb, uint32_t width, uint8_t* bits) {
  std::memset(bits, 0, (width + 7) / 8);
  for (uint32_t x = 0; x < width; ++x) {
    if (GreyOf(rgb + 3 * static_cast<size_t>(x)) < 128) bits[x / 8] |= static_cast<uint8_t>(0x80 >> (x % 8));
  }
}

// The image's rows through the bitmap exports, placed at its position in millimetres.
void FeedImage(EngineRecords& records, const CheckedImage& image, uint8_t colourClass,
               ProgressBar& progress) {
  const std::string& path = image.placement.path;
  if (image.bits) {
    ostrelinGnfToHmapBitInit(records.ctx(), records.spool(), records.job(), image.placement.xMm,
                             image.placement.yMm, image.width, colourClass);
    records.Check("ostrelinGnfToHmapBitInit (" + path + ")");
  } else {
    ostrelinGnfToHmapOctetInit(records.ctx(), records.spool(), records.job(), image.placement.xMm,
                               image.placement.yMm, image.width);
    records.Check("ostrelinGnfToHmapOctetInit (" + path + ")");
  }
  PngReader reader(path);
  std::vector<uint8_t> bits(image.bits ? (image.width + 7) / 8 : 0);
  for (uint32_t y = 0; y < image.height; ++y) {
    const uint8_t* rgb = reader.NextRow();
    if (image.bits) {
      ThresholdRow(rgb, image.width, bits.data());
      ostrelinGnfToHmapBit(records.ctx(), records.spool(), records.job(), bits.data());
      records.Check("ostrelinGnfToHmapBit (" + path + " row " + std::to_string(y) + ")");
    } else {
      ostrelinGnfToHmapOctet(records.ctx(), records.spool(), records.job(), rgb);
      records.Check("ostrelinGnfToHmapOctet (" + path + " row " + std::to_string(y) + ")");
    }
    progress.Advance(image.width);
  }
}

}  // namespace

uint64_t RenderPageJob(const std::vector<uint8_t>& settings, const RenderPage& page, std::ostream& out,
                       const RenderOptions& options) {
  if (options.colourClass > 8)
    throw UsageError("colour class " + std::to_string(options.colourClass) + ": 0 to 8");
  std::vector<CheckedImage> images;
  uint64_t pixels = 0;
  for (const ImagePlacement& placement : page.images) {
    images.push_back(CheckImage(placement, options.rows));
    pixels += static_cast<uint64_t>(images.back().width) * images.back().height;
  }

  const StderrTrace trace(options.trace);
  EngineRecords records;
  std::vector<uint8_t> record = settings;
  ostrelinInit(records.ctx(), records.spool(), records.job(), record.data());
  records.Opened();
  records.Check("ostrelinInit");

  const bool large = options.progress && pixels >= kProgressPixels;
  {
    ProgressBar progress(large, pixels);
    for (const CheckedImage& image : images) FeedImage(records, image, options.colourClass, progress);
  }

  for (const StrokeCommand& command : page.strokes) {
    switch (command.kind) {
      case StrokeCommand::Kind::kColour:
        ostrelinGnfToTdSetIndexColor(records.ctx(), records.spool(), records.job(), command.colour);
        break;
      case StrokeCommand::Kind::kPenUp:
        ostrelinGnfToTdPu2dA(records.ctx(), records.spool(), records.job(), command.x, command.y);
        break;
      case StrokeCommand::Kind::kPenDown:
        ostrelinGnfToTdPd2dA(records.ctx(), records.spool(), records.job(), command.x, command.y);
        break;
      case StrokeCommand::Kind::kEof:
        ostrelinGnfToTdEof(records.ctx(), records.spool(), records.job());
        break;
    }
    records.Check(CallName(command));
  }

  if (large) std::fprintf(stderr, "ostrelin: assembling the job\n");
  ostrelinDoBinary(records.ctx(), records.spool(), records.job());
  records.Check("ostrelinDoBinary");

  const int32_t size = ostrelinGetBinarySize(records.ctx(), records.spool(), records.job());
  if (size < 0) throw Failure("no job written: the job is larger than 2 GiB and cannot be read back");
  std::vector<uint8_t> chunk(kReadChunkBytes);
  uint64_t written = 0;
  while (written < static_cast<uint64_t>(size)) {
    const int32_t got =
        ostrelinGetBinary(records.ctx(), records.spool(), records.job(), chunk.data(), kReadChunkBytes);
    if (got <= 0) break;
    out.write(reinterpret_cast<const char*>(chunk.data()), got);
    written += static_cast<uint64_t>(got);
  }
  if (written != static_cast<uint64_t>(size)) {
    throw Failure("no job written: read back " + std::to_string(written) + " of " + std::to_string(size) +
                  " bytes");
  }
  if (!records.Clean()) throw Failure("no job written: closing the engine's job stream failed");
  return written;
}

uint64_t RenderJob(const std::vector<uint8_t>& settings, const std::vector<StrokeCommand>& commands,
                   std::ostream& out, const RenderOptions& options) {
  return RenderPageJob(settings, RenderPage{{}, commands}, out, options);
}

int RenderCommand(const RenderCommandArguments& arguments) {
  if (arguments.images.empty() && arguments.script.empty()) {
    throw UsageError("render needs --strokes FILE, --image FILE.png, or both");
  }
  if (arguments.script == "-" && arguments.settings == "-") {
    throw UsageError("the script and the settings cannot both come from standard input");
  }
  RenderPage page;
  for (const std::string& image : arguments.images) {
    page.images.push_back(ParseImagePlacement(image));
    if (page.images.back().path == "-")
      throw UsageError("--image: images are read from files, not standard input");
  }
  if (!arguments.script.empty()) {
    InputFile script(arguments.script);
    page.strokes = ParseStrokeScript(script.stream(), script.path());
  }
  const std::vector<uint8_t> settings =
      arguments.settings.empty() ? DefaultSettingsRecord() : LoadSettingsFile(arguments.settings);
  RenderOptions options;
  options.trace = arguments.trace;
  options.progress = ::isatty(STDERR_FILENO) != 0;
  options.rows = arguments.rows;
  options.colourClass = static_cast<uint8_t>(arguments.colourClass);
  if (arguments.colourClass < 0 || arguments.colourClass > 8) {
    throw UsageError("--class " + std::to_string(arguments.colourClass) + ": colour classes are 0 to 8");
  }
  OutputFile out(arguments.output);
  const uint64_t bytes = RenderPageJob(settings, page, out.stream(), options);
  out.Commit();
  std::cerr << "ostrelin: wrote " << bytes << " bytes to "
            << (arguments.output == "-" ? std::string("standard output") : arguments.output) << '\n';
  if (!arguments.preview.empty()) {
    if (arguments.output == "-") throw UsageError("--preview needs the job in a file (-o FILE)");
    WritePreviewFile(arguments.output, arguments.preview);
  }
  return kExitOk;
}

}  // namespace ostrelin::tools
