// Pictures of a job stream: a PNG of the plate and an SVG of the vector moves.
#include "tools/preview.h"

#include <png.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <iostream>
#include <memory>
#include <sstream>

#include "tools/file_io.h"
#include "tools/tool_error.h"

namespace ostrelin::tools {
namespace {

constexpr std::array<std::array<uint8_t, 3>, 8> kGroupColours = {{
    {0, 0, 0},      // black
    {220, 0, 0},    // red
    {0, 150, 0},    // green
    {200, 160, 0},  // yellow, darkened to show on white
    {0, 0, 220},    // blue
    {200, 0, 200},  // magenta
    {0, 170, 190},  // cyan
    {255, 128, 0},  // orange
}};
constexpr std::array<uint8_t, 3> kTravelColour = {40, 120, 230};
constexpr std::array<uint8_t, 3> kPlateEdge = {200, 200, 200};
// Ink a travel line leaves per pixel of length, against 1 for a pen-down line.
constexpr double kTravelInk = 0.5;
// Travel lines are dashed: this many pixels drawn, as many left out.
constexpr double kDashPixels = 3.0;

bool Inside(double value, double limit, double tolerance) {
  return value >= -tolerance && value <= limit + tolerance;
}

// Accumulates the light that engraved dots and lines take out of the white plate, per pixel and
// colour channel: a dot engraved at power p over a fraction f of a pixel, in a colour c, takes out
// p * f * (1 - c / 255) of each channel. Pixels saturate at full absorption when the picture is made.
class InkCanvas {
 public:
  InkCanvas(const JobGeometry& geometry, const PreviewFrame& frame)
      : geometry_(geometry),
        frame_(frame),
        ink_(static_cast<size_t>(frame.width) * static_cast<size_t>(frame.height) * 3, 0.0f) {}

  // Folds a run of dots of one row into the pixels it covers; returns the dots that lie beyond the plate.
  uint64_t AddSpan(const RasterSpan& span, const std::array<uint8_t, 3>& colour) {
    const double dotPx = geometry_.DotPitchMm() * frame_.pixelsPerMm;
    const double rowPx = geometry_.RowPitchMm() * frame_.pixelsPerMm;
    // Dots and rows within the plate, with one dot of tolerance for the rounding of the plate to dots.
    const int64_t plateDots = geometry_.PlateDots() + 1;
    const int64_t plateRows = geometry_.PlateRows() + 1;
    const int64_t first = std::max<int64_t>(span.xDot, 0);
    const int64_t last = std::min<int64_t>(span.xDot + span.dots, plateDots);
    if (span.yRow < 0 || span.yRow >= plateRows) return static_cast<uint64_t>(span.dots);
    const uint64_t outside = static_cast<uint64_t>(span.dots - std::max<int64_t>(last - first, 0));
    if (last <= first) return outside;
    const double strength = std::clamp(span.powerPercent / 100.0, 0.0, 1.0);
    const double x0 = static_cast<double>(first) * dotPx, x1 = static_cast<double>(last) * dotPx;
    const double y0 = static_cast<double>(span.yRow) * rowPx, y1 = y0 + rowPx;
    for (int py = std::max(0, static_cast<int>(y0)); py < frame_.height && py < y1; ++py) {
      const double wy = std::min<double>(py + 1, y1) - std::max<double>(py, y0);
      if (wy <= 0) continue;
      for (int px = std::max(0, static_cast<int>(x0)); px < frame_.width && px < x1; ++px) {
        const double wx = std::min<double>(px + 1, x1) - std::max<double>(px, x0);
        if (wx > 0) Deposit(px, py, strength * wx * wy, colour);
      }
    }
    return outside;
  }

  // A line between two plate points (mm), one pixel wide: points every half pixel along it each spread
  // over the four nearest pixels. Dashed lines leave every other kDashPixels out.
  void AddLine(double x0Mm, double y0Mm, double x1Mm, double y1Mm, const std::array<uint8_t, 3>& colour,
               double ink, bool dashed) {
    const double s = frame_.pixelsPerMm;
    const double x0 = x0Mm * s, y0 = y0Mm * s, dx = (x1Mm - x0Mm) * s, dy = (y1Mm - y0Mm) * s;
    const double length = std::hypot(dx, dy);
    const int steps = std::max(1, static_cast<int>(std::ceil(length / 0.5)));
    const double share = ink * std::max(length, 0.5) / steps;
    for (int i = 0; i <= steps; ++i) {
      const double t = static_cast<double>(i) / steps;
      if (dashed && static_cast<int64_t>(std::floor(dashPhase_ + t * length / kDashPixels)) % 2 != 0)
        continue;
      const double weight = (i == 0 || i == steps) ? share / 2 : share;
      Splat(x0 + t * dx, y0 + t * dy, weight, colour);
    }
    if (dashed) dashPhase_ += length / kDashPixels;
  }

  // The picture: white where nothing was engraved, a light plate edge, or a transparent background.
  PreviewImage Image(bool transparent) const {
    PreviewImage image;
    image.width = frame_.width;
    image.height = frame_.height;
    image.alpha = transparent;
    const size_t channels = transparent ? 4 : 3;
    image.pixels.resize(static_cast<size_t>(frame_.width) * static_cast<size_t>(frame_.height) * channels);
    for (int y = 0; y < frame_.height; ++y) {
      for (int x = 0; x < frame_.width; ++x) {
        const size_t at = static_cast<size_t>(y) * static_cast<size_t>(frame_.width) + static_cast<size_t>(x);
        uint8_t* out = image.pixels.data() + at * channels;
        const float* ink = ink_.data() + at * 3;
        const bool edge = x == 0 || y == 0 || x == frame_.width - 1 || y == frame_.height - 1;
        float strongest = 0;
        for (int c = 0; c < 3; ++c) {
          const float a = std::min(ink[c], 1.0f);
          strongest = std::max(strongest, a);
          const float background = !transparent && edge ? kPlateEdge[static_cast<size_t>(c)] : 255.0f;
          out[c] = static_cast<uint8_t>(std::lround(background * (1.0f - a)));
        }
        if (transparent) {
          // Over a white page the colour c with opacity o shows as 255 - o (255 - c); keep that look.
          out[3] = static_cast<uint8_t>(std::lround(255.0f * strongest));
          if (strongest > 0) {
            for (int c = 0; c < 3; ++c) {
              const float a = std::min(ink[c], 1.0f);
              out[c] = static_cast<uint8_t>(std::lround(255.0f * (1.0f - a / strongest)));
            }
          }
        }
      }
    }
    return image;
  }

 private:
  void Deposit(int px, int py, double amount, const std::array<uint8_t, 3>& colour) {
    float* ink = ink_.data() +
                 (static_cast<size_t>(py) * static_cast<size_t>(frame_.width) + static_cast<size_t>(px)) * 3;
    for (size_t c = 0; c < 3; ++c) ink[c] += static_cast<float>(amount * (1.0 - colour[c] / 255.0));
  }

  void Splat(double x, double y, double amount, const std::array<uint8_t, 3>& colour) {
    const double fx = x - 0.5, fy = y - 0.5;
    const int ix = static_cast<int>(std::floor(fx)), iy = static_cast<int>(std::floor(fy));
    const double tx = fx - ix, ty = fy - iy;
    const double weights[4] = {(1 - tx) * (1 - ty), tx * (1 - ty), (1 - tx) * ty, tx * ty};
    for (int k = 0; k < 4; ++k) {
      const int px = ix + (k & 1), py = iy + (k >> 1);
      if (px < 0 || py < 0 || px >= frame_.width || py >= frame_.height) continue;
      Deposit(px, py, amount * weights[k], colour);
    }
  }

  JobGeometry geometry_;
  PreviewFrame frame_;
  std::vector<float> ink_;
  double dashPhase_ = 0;
};

// Draws the machine actions of one job onto an ink canvas made when the job header arrives.
class CanvasActions : public JobActions {
 public:
  CanvasActions(const PreviewOptions& options, PreviewStats& stats) : options_(options), stats_(stats) {}

  void OnJob(const JobGeometry& geometry) override {
    geometry_ = geometry;
    frame_ = FramePreview(geometry, options_.pixelsPerMm);
    canvas_ = std::make_unique<InkCanvas>(geometry, frame_);
  }
  void OnRasterRow(const RasterRow& row) override {
    if (Drawn(row.group)) ++stats_.rasterRows;
  }
  void OnRasterSpan(const RasterSpan& span) override {
    if (!Drawn(span.group)) return;
    stats_.engravedDots += static_cast<uint64_t>(span.dots);
    stats_.dotsOutside += canvas_->AddSpan(span, GroupColour(span.group));
  }
  void OnHeadMove(const HeadMove& move) override {
    if (options_.travel && options_.group < 0) {
      canvas_->AddLine(move.fromXMm, move.fromYMm, move.toXMm, move.toYMm, kTravelColour, kTravelInk, true);
    }
  }
  void OnPenMove(const PenMove& move) override {
    if (!Drawn(move.group)) return;
    ++stats_.penMoves;
    const double slack = geometry_.MotionUnitMm();
    if (!Inside(move.toXMm, geometry_.PlateWidthMm(), slack) ||
        !Inside(move.toYMm, geometry_.PlateHeightMm(), slack)) {
      ++stats_.pointsOutside;
    }
    if (!drawVectors_) return;
    if (move.penDown) {
      canvas_->AddLine(move.fromXMm, move.fromYMm, move.toXMm, move.toYMm, GroupColour(move.group), 1.0,
                       false);
    } else if (options_.travel) {
      canvas_->AddLine(move.fromXMm, move.fromYMm, move.toXMm, move.toYMm, kTravelColour, kTravelInk, true);
    }
  }

  // Leaves the motion records out of the canvas (they are drawn elsewhere); they are still counted.
  void KeepVectorsOff() { drawVectors_ = false; }
  const InkCanvas& canvas() const { return *canvas_; }
  const JobGeometry& geometry() const { return geometry_; }

 private:
  bool Drawn(int group) const { return options_.group < 0 || options_.group == group; }

  const PreviewOptions& options_;
  PreviewStats& stats_;
  JobGeometry geometry_;
  PreviewFrame frame_;
  std::unique_ptr<InkCanvas> canvas_;
  bool drawVectors_ = true;
};

// Decodes the stream with the walker feeding actions; throws when no job header was found.
void Walk(std::istream& job, int jobIndex, JobActions& actions, PreviewStats& stats) {
  JobWalker walker(actions, jobIndex);
  stats.decode = DecodeJobStream(job, walker);
  if (!walker.sawSelectedJob()) {
    if (walker.jobs() == 0) throw Failure("no job header (\"!LA 192;\") in the stream");
    throw UsageError("the stream holds " + std::to_string(walker.jobs()) + " job(s), not " +
                     std::to_string(jobIndex));
  }
  stats.groups = static_cast<int>(walker.groups().size());
}

void PngWrite(png_structp png, png_bytep data, png_size_t length) {
  auto* out = static_cast<std::ostream*>(png_get_io_ptr(png));
  out->write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(length));
}
void PngFlush(png_structp png) { static_cast<std::ostream*>(png_get_io_ptr(png))->flush(); }
[[noreturn]] void PngError(png_structp, png_const_charp message) {
  throw Failure(std::string("PNG: ") + message);
}
void PngWarning(png_structp, png_const_charp) {}

std::string Base64(const std::string& bytes) {
  static constexpr char kDigits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string text;
  text.reserve((bytes.size() + 2) / 3 * 4);
  for (size_t i = 0; i < bytes.size(); i += 3) {
    uint32_t v = static_cast<uint8_t>(bytes[i]) << 16;
    if (i + 1 < bytes.size()) v |= static_cast<uint32_t>(static_cast<uint8_t>(bytes[i + 1])) << 8;
    if (i + 2 < bytes.size()) v |= static_cast<uint8_t>(bytes[i + 2]);
    text += kDigits[(v >> 18) & 63];
    text += kDigits[(v >> 12) & 63];
    text += i + 1 < bytes.size() ? kDigits[(v >> 6) & 63] : '=';
    text += i + 2 < bytes.size() ? kDigits[v & 63] : '=';
  }
  return text;
}

std::string Hex(const std::array<uint8_t, 3>& colour) {
  char text[8];
  std::snprintf(text, sizeof text, "#%02x%02x%02x", colour[0], colour[1], colour[2]);
  return text;
}

std::string Mm(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.3f", value);
  std::string s = text;
  while (s.back() == '0') s.pop_back();
  if (s.back() == '.') s.pop_back();
  return s == "-0" ? "0" : s;
}

// Writes the vector moves as polylines while they arrive, and the raster rows, folded into a canvas,
// as a transparent image at the end.
class SvgActions : public CanvasActions {
 public:
  SvgActions(const PreviewOptions& options, PreviewStats& stats, std::ostream& out)
      : CanvasActions(options, stats), options_(options), out_(out), stats_(stats) {
    KeepVectorsOff();
  }

  void OnJob(const JobGeometry& geometry) override {
    CanvasActions::OnJob(geometry);
    const std::string w = Mm(geometry.PlateWidthMm()), h = Mm(geometry.PlateHeightMm());
    lineWidth_ = std::max(0.1, std::max(geometry.PlateWidthMm(), geometry.PlateHeightMm()) / 1500.0);
    out_ << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
         << "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" << w << "mm\" height=\"" << h
         << "mm\" viewBox=\"0 0 " << w << ' ' << h << "\">\n"
         << "<rect x=\"0\" y=\"0\" width=\"" << w << "\" height=\"" << h << "\" fill=\"white\" stroke=\""
         << Hex(kPlateEdge) << "\" stroke-width=\"" << Mm(lineWidth_) << "\"/>\n";
  }
  void OnHeadMove(const HeadMove& move) override {
    if (options_.travel && options_.group < 0)
      Add(move.fromXMm, move.fromYMm, move.toXMm, move.toYMm, -1, true);
  }
  void OnPenMove(const PenMove& move) override {
    CanvasActions::OnPenMove(move);
    if (options_.group >= 0 && move.group != options_.group) return;
    if (move.penDown || options_.travel) {
      Add(move.fromXMm, move.fromYMm, move.toXMm, move.toYMm, move.penDown ? move.group : -1, !move.penDown);
    } else {
      Flush();
    }
  }

  void Finish() {
    Flush();
    if (stats_.engravedDots > 0) {
      std::ostringstream png;
      WritePng(canvas().Image(true), png);
      out_ << "<image x=\"0\" y=\"0\" width=\"" << Mm(geometry().PlateWidthMm()) << "\" height=\""
           << Mm(geometry().PlateHeightMm())
           << "\" preserveAspectRatio=\"none\" href=\"data:image/png;base64," << Base64(png.str())
           << "\"/>\n";
    }
    out_ << "</svg>\n";
  }

 private:
  // Adds a move to the open polyline when it continues it, else starts a new one.
  void Add(double x0, double y0, double x1, double y1, int group, bool travel) {
    const bool continues = !points_.empty() && group == group_ && travel == travel_ && x0 == lastX_ &&
                           y0 == lastY_ && points_.size() < kMaxPoints;
    if (!continues) {
      Flush();
      group_ = group;
      travel_ = travel;
      points_ = Mm(x0) + "," + Mm(y0);
    }
    points_ += " " + Mm(x1) + "," + Mm(y1);
    lastX_ = x1;
    lastY_ = y1;
  }
  void Flush() {
    if (points_.empty()) return;
    if (travel_) {
      out_ << "<polyline class=\"travel\" points=\"" << points_ << "\" fill=\"none\" stroke=\""
           << Hex(kTravelColour) << "\" stroke-width=\"" << Mm(lineWidth_ / 2) << "\" stroke-dasharray=\""
           << Mm(lineWidth_ * 4) << "\"/>\n";
    } else {
      out_ << "<polyline data-group=\"" << group_ << "\" points=\"" << points_ << "\" fill=\"none\" stroke=\""
           << Hex(GroupColour(group_)) << "\" stroke-width=\"" << Mm(lineWidth_)
           << "\" stroke-linecap=\"round\" stroke-linejoin=\"round\"/>\n";
    }
    points_.clear();
  }

  static constexpr size_t kMaxPoints = 64 * 1024;  // characters of one polyline's points
  const PreviewOptions& options_;
  std::ostream& out_;
  double lineWidth_ = 0.25;
  const PreviewStats& stats_;
  std::string points_;
  int group_ = 0;
  bool travel_ = false;
  double lastX_ = 0, lastY_ = 0;
};

bool EndsWith(const std::string& text, const std::string& tail) {
  if (text.size() < tail.size()) return false;
  return std::equal(tail.rbegin(), tail.rend(), text.rbegin(),
                    [](char a, char b) { return std::tolower(static_cast<unsigned char>(a)) == b; });
}

void Report(const std::string& name, const PreviewStats& stats) {
  if (stats.dotsOutside > 0 || stats.pointsOutside > 0) {
    std::cerr << "ostrelin: " << name << ": " << stats.dotsOutside << " raster dots and "
              << stats.pointsOutside << " motion end points lie beyond the plate (not drawn)\n";
  }
  if (!stats.decode.Clean()) std::cerr << "ostrelin: " << name << ": " << stats.decode.Problems() << '\n';
}

}  // namespace

std::array<uint8_t, 3> GroupColour(int group) {
  return kGroupColours[static_cast<size_t>(group < 0 ? 0 : group) % kGroupColours.size()];
}

PreviewFrame FramePreview(const JobGeometry& geometry, double pixelsPerMm) {
  const double width = geometry.PlateWidthMm(), height = geometry.PlateHeightMm();
  if (width <= 0 || height <= 0 || geometry.resolutionXDpi <= 0 || geometry.resolutionYDpi <= 0) {
    throw Failure("the job header gives no plate size or resolution");
  }
  PreviewFrame frame;
  frame.pixelsPerMm = pixelsPerMm;
  if (frame.pixelsPerMm <= 0) {
    const double finest = std::max(geometry.resolutionXDpi, geometry.resolutionYDpi) / 25.4;
    frame.pixelsPerMm = std::min(kDefaultPreviewPixels / std::max(width, height), finest);
  }
  const double w = std::ceil(width * frame.pixelsPerMm), h = std::ceil(height * frame.pixelsPerMm);
  if (w * h > static_cast<double>(kMaxPreviewPixels)) {
    throw UsageError("a preview of " + Mm(width) + " x " + Mm(height) + " mm at " + Mm(frame.pixelsPerMm) +
                     " pixels per mm exceeds " + std::to_string(kMaxPreviewPixels / 1'000'000) +
                     " million pixels; choose a smaller --scale");
  }
  frame.width = std::max(1, static_cast<int>(w));
  frame.height = std::max(1, static_cast<int>(h));
  return frame;
}

PreviewImage RenderPreview(std::istream& job, const PreviewOptions& options, PreviewStats* stats) {
  PreviewStats local;
  PreviewStats& s = stats != nullptr ? *stats : local;
  CanvasActions actions(options, s);
  Walk(job, options.job, actions, s);
  return actions.canvas().Image(false);
}

void WritePng(const PreviewImage& image, std::ostream& out) {
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, PngError, PngWarning);
  if (png == nullptr) throw Failure("PNG: cannot start the writer");
  png_infop info = png_create_info_struct(png);
  struct Release {
    png_structp* png;
    png_infop* info;
    ~Release() { png_destroy_write_struct(png, info); }
  } release{&png, &info};
  if (info == nullptr) throw Failure("PNG: cannot start the writer");
  png_set_write_fn(png, &out, PngWrite, PngFlush);
  png_set_IHDR(png, info, static_cast<png_uint_32>(image.width), static_cast<png_uint_32>(image.height), 8,
               image.alpha ? PNG_COLOR_TYPE_RGB_ALPHA : PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_set_compression_level(png, 9);
  png_write_info(png, info);
  const size_t stride = static_cast<size_t>(image.width) * (image.alpha ? 4 : 3);
  for (int y = 0; y < image.height; ++y) {
    png_write_row(png, const_cast<png_bytep>(image.pixels.data() + static_cast<size_t>(y) * stride));
  }
  png_write_end(png, nullptr);
}

void WriteSvgPreview(std::istream& job, const PreviewOptions& options, std::ostream& out,
                     PreviewStats* stats) {
  PreviewStats local;
  PreviewStats& s = stats != nullptr ? *stats : local;
  SvgActions actions(options, s, out);
  Walk(job, options.job, actions, s);
  actions.Finish();
}

int Preview(const PreviewArguments& arguments) {
  const bool svg = EndsWith(arguments.output, ".svg");
  if (!svg && !EndsWith(arguments.output, ".png")) {
    throw UsageError(arguments.output + ": the preview is written as .png or .svg");
  }
  if (arguments.options.pixelsPerMm < 0) throw UsageError("--scale must be positive");
  InputFile input(arguments.job);
  PreviewStats stats;
  OutputFile out(arguments.output);
  if (svg) {
    WriteSvgPreview(input.stream(), arguments.options, out.stream(), &stats);
  } else {
    const PreviewImage image = RenderPreview(input.stream(), arguments.options, &stats);
    WritePng(image, out.stream());
  }
  if (input.stream().bad()) throw Failure(input.path() + ": read error");
  out.Commit();
  Report(input.path(), stats);
  return kExitOk;
}

void WritePreviewFile(const std::string& jobPath, const std::string& imagePath,
                      const PreviewOptions& options) {
  PreviewArguments arguments;
  arguments.job = jobPath;
  arguments.output = imagePath;
  arguments.options = options;
  Preview(arguments);
}

}  // namespace ostrelin::tools
