// Rendering-road and spool-road jobs for the cross-platform comparison. Every input is made with integer
// arithmetic (no library mathematics), so both platforms hand the engine exactly the same bits; whatever
// differs in the streams comes from the engine or its platform layer.
#include "tests/windows/rendering_jobs.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <utility>

#include "engine/settings_layout.h"

namespace ostrelin::crosscheck {
namespace {

namespace s = settings;

using Settings = std::vector<uint8_t>;

void SetU16(Settings& record, size_t offset, uint16_t value) {
  record[offset] = static_cast<uint8_t>(value);
  record[offset + 1] = static_cast<uint8_t>(value >> 8);
}

void SetU32(Settings& record, size_t offset, uint32_t value) {
  for (int i = 0; i < 4; ++i) record[offset + i] = static_cast<uint8_t>(value >> (8 * i));
}

// A deterministic pseudo-random sequence (xorshift32).
class Sequence {
 public:
  explicit Sequence(uint32_t seed) : state_(seed != 0 ? seed : 1) {}
  uint32_t Next() {
    state_ ^= state_ << 13;
    state_ ^= state_ >> 17;
    state_ ^= state_ << 5;
    return state_;
  }
  // A value in [0, bound).
  uint32_t Below(uint32_t bound) { return Next() % bound; }

 private:
  uint32_t state_;
};

// The three records of one job, sized by the engine and zero-filled as a host allocates them.
class Records {
 public:
  explicit Records(const EngineExports& engine) {
    int32_t spoolSize = 0, contextSize = 0, jobSize = 0;
    engine.recordSizes(&spoolSize, &contextSize, &jobSize);
    if (spoolSize > 0 && contextSize > 0 && jobSize > 0) {
      spool_ = static_cast<OstrelinSpool*>(std::calloc(1, static_cast<size_t>(spoolSize)));
      context_ = static_cast<OstrelinContext*>(std::calloc(1, static_cast<size_t>(contextSize)));
      job_ = static_cast<OstrelinJob*>(std::calloc(1, static_cast<size_t>(jobSize)));
    }
  }
  ~Records() {
    std::free(spool_);
    std::free(context_);
    std::free(job_);
  }
  Records(const Records&) = delete;
  Records& operator=(const Records&) = delete;
  bool Ready() const { return spool_ != nullptr && context_ != nullptr && job_ != nullptr; }
  OstrelinContext* ctx() const { return context_; }
  OstrelinSpool* spool() const { return spool_; }
  OstrelinJob* job() const { return job_; }

 private:
  OstrelinSpool* spool_ = nullptr;
  OstrelinContext* context_ = nullptr;
  OstrelinJob* job_ = nullptr;
};

// A 600 x 300 mm plate at 500 dots per inch, the classic controller, English messages; class c at
// power 40 + 7c percent, speed 80 + 30c mm/s, in the colour mode given for it.
Settings BaseSettings(const int (&colourModes)[8]) {
  Settings record(s::kRecordSize, 0);
  SetU16(record, s::kVersion, 1000);
  SetU16(record, s::kMachineKind, 1);
  SetU16(record, s::kLanguage, 1);
  SetU16(record, s::kModel, 260);
  SetU32(record, s::kPlateWidthUm, 600000);
  SetU32(record, s::kPlateHeightUm, 300000);
  SetU16(record, s::kEngravingResX, 500);
  SetU16(record, s::kEngravingResY, 500);
  SetU16(record, s::kEngineRes, 500);
  SetU16(record, s::kRasterOptionsA + 12, 50);  // A7, brightness
  for (int c = 0; c < 8; ++c) {
    const size_t block = s::ClassBlock(c);
    SetU16(record, block + s::kClassPower, static_cast<uint16_t>(40 + 7 * c));
    SetU16(record, block + s::kClassSpeed, static_cast<uint16_t>(80 + 30 * c));
    SetU16(record, block + s::kClassPasses, 1);
    SetU16(record, block + s::kClassColourMode, static_cast<uint16_t>(colourModes[c]));
  }
  SetU32(record, s::kVectorRes, 500);
  return record;
}

constexpr int kRasterModes[8] = {1, 4, 5, 7, 1, 4, 5, 7};
constexpr int kVectorModes[8] = {4, 2, 6, 2, 7, 3, 2, 5};

// Strokes in dots at the vector resolution: a rectangle, a zigzag with many angles, an integer
// (midpoint) circle, scattered short segments and long travel moves, in several colour classes.
void FeedStrokes(const EngineExports& e, const Records& r, uint32_t seed) {
  OstrelinContext* c = r.ctx();
  OstrelinSpool* s = r.spool();
  OstrelinJob* j = r.job();
  const auto up = [&](int x, int y) { e.penUp(c, s, j, static_cast<float>(x), static_cast<float>(y)); };
  const auto down = [&](int x, int y) { e.penDown(c, s, j, static_cast<float>(x), static_cast<float>(y)); };

  e.setColour(c, s, j, 0);
  up(394, 394);
  down(2362, 394);
  down(2362, 1575);
  down(394, 1575);
  down(394, 394);

  e.setColour(c, s, j, 1);
  up(3000, 400);
  for (int i = 1; i <= 40; ++i) down(3000 + 60 * i, 400 + (i % 2 == 0 ? 0 : 40 + 25 * (i % 7)));

  // A circle of radius 700 dots around (8000, 3000), its octants traced in drawing order.
  e.setColour(c, s, j, 2);
  std::vector<std::pair<int, int>> octant;
  for (int x = 0, y = 700, d = 1 - 700; x <= y; ++x) {
    octant.emplace_back(x, y);
    if (d < 0) {
      d += 2 * x + 3;
    } else {
      d += 2 * (x - y) + 5;
      --y;
    }
  }
  // A quarter from (0, 700) to (700, 0), then its mirror images around the centre.
  std::vector<std::pair<int, int>> quarter;
  for (size_t i = 0; i < octant.size(); i += 3) quarter.push_back(octant[i]);
  for (size_t i = octant.size(); i-- > 0;) {
    if (i % 3 == 0) quarter.emplace_back(octant[i].second, octant[i].first);
  }
  std::vector<std::pair<int, int>> circle;
  for (const auto& [x, y] : quarter) circle.emplace_back(8000 + x, 3000 + y);
  for (size_t i = quarter.size(); i-- > 0;)
    circle.emplace_back(8000 + quarter[i].first, 3000 - quarter[i].second);
  for (const auto& [x, y] : quarter) circle.emplace_back(8000 - x, 3000 - y);
  for (size_t i = quarter.size(); i-- > 0;)
    circle.emplace_back(8000 - quarter[i].first, 3000 + quarter[i].second);
  up(circle.front().first, circle.front().second);
  for (const auto& [x, y] : circle) down(x, y);

  Sequence random(seed);
  for (int stroke = 0; stroke < 30; ++stroke) {
    e.setColour(c, s, j, static_cast<int32_t>(stroke % 5 == 4 ? 3 + 256 * (stroke % 3) : stroke % 4));
    int x = static_cast<int>(random.Below(11000)) + 300;
    int y = static_cast<int>(random.Below(5400)) + 250;
    up(x, y);
    const int points = 1 + static_cast<int>(random.Below(12));
    for (int p = 0; p < points; ++p) {
      x += static_cast<int>(random.Below(301)) - 150;
      y += static_cast<int>(random.Below(301)) - 150;
      down(x, y);
    }
  }
  // Long travel moves across the plate, with a fractional end point.
  e.setColour(c, s, j, 1);
  e.penUp(c, s, j, 11000.5f, 5600.25f);
  e.penDown(c, s, j, 11200.75f, 5650.5f);
  up(200, 200);
  down(260, 230);
  e.endStrokes(c, s, j);
}

// One-bit rows of width pixels at (x, y) millimetres in a colour class: a frame, diagonal bands and
// noise, most significant bit first.
void FeedBitRows(const EngineExports& e, const Records& r, double x, double y, uint32_t width, uint32_t rows,
                 uint8_t colourClass, uint32_t seed) {
  e.bitInit(r.ctx(), r.spool(), r.job(), x, y, width, colourClass);
  Sequence random(seed);
  std::vector<uint8_t> row((width + 7) / 8);
  for (uint32_t y0 = 0; y0 < rows; ++y0) {
    std::fill(row.begin(), row.end(), 0);
    for (uint32_t x0 = 0; x0 < width; ++x0) {
      const bool frame = y0 == 0 || y0 + 1 == rows || x0 == 0 || x0 + 1 == width;
      const bool band = (x0 + y0) % 23 < 7;
      const bool noise = random.Below(9) == 0;
      if (frame || band || noise) row[x0 / 8] |= static_cast<uint8_t>(0x80u >> (x0 % 8));
    }
    // Bits beyond the row's width are set too: the intake must ignore them.
    if (width % 8 != 0) row.back() |= static_cast<uint8_t>(0xFFu >> (width % 8));
    e.bitRow(r.ctx(), r.spool(), r.job(), row.data());
  }
}

// Colour rows (red, green, blue per pixel) of width pixels at (x, y) millimetres: a horizontal grey
// ramp, a vertical colour ramp, a dark disc and noise.
void FeedColourRows(const EngineExports& e, const Records& r, double x, double y, uint32_t width,
                    uint32_t rows, uint32_t seed) {
  e.octetInit(r.ctx(), r.spool(), r.job(), x, y, width);
  Sequence random(seed);
  std::vector<uint8_t> row(3 * static_cast<size_t>(width));
  const int64_t cx = width / 2, cy = rows / 2, radius = (rows < width ? rows : width) / 4;
  for (uint32_t y0 = 0; y0 < rows; ++y0) {
    for (uint32_t x0 = 0; x0 < width; ++x0) {
      uint8_t* pixel = &row[3 * static_cast<size_t>(x0)];
      const int64_t dx = static_cast<int64_t>(x0) - cx, dy = static_cast<int64_t>(y0) - cy;
      const uint32_t noise = random.Below(24);
      if (dx * dx + dy * dy < radius * radius) {
        pixel[0] = static_cast<uint8_t>(20 + noise);
        pixel[1] = static_cast<uint8_t>(10 + noise);
        pixel[2] = static_cast<uint8_t>(30 + noise);
      } else {
        const uint32_t ramp = 255 * x0 / (width > 1 ? width - 1 : 1);
        pixel[0] = static_cast<uint8_t>(ramp);
        pixel[1] = static_cast<uint8_t>((ramp + 255 * y0 / (rows > 1 ? rows - 1 : 1)) / 2);
        pixel[2] = static_cast<uint8_t>(ramp > noise ? ramp - noise : 0);
      }
    }
    e.octetRow(r.ctx(), r.spool(), r.job(), row.data());
  }
}

// HPGL for the spool road: pens, line types, polylines with relative and absolute pairs, a scaled
// frame, labels in two sizes and directions, and an embedded one-bit raster image (run-length and
// PackBits rows), ending with a page end.
std::string SpoolPage(uint32_t seed) {
  std::string page = "IN;SP1;PU400,400;PD8400,400,8400,4400,400,4400,400,400;";
  page += "SP2;LT2,4;PU1000,1000;PD3000,1800,5000,1000,7000,1800;LT;";
  page += "SP3;LT-3,2;PU1000,2500;PR500,0,0,500,-500,0,0,-500;LT;PA;";
  Sequence random(seed);
  for (int line = 0; line < 25; ++line) {
    page += "SP" + std::to_string(1 + line % 4) + ";PU" + std::to_string(600 + random.Below(7000)) + "," +
            std::to_string(600 + random.Below(3400)) + ";PD";
    const int points = 1 + static_cast<int>(random.Below(9));
    for (int p = 0; p < points; ++p) {
      if (p > 0) page += ",";
      page += std::to_string(600 + random.Below(7000)) + "," + std::to_string(600 + random.Below(3400));
    }
    page += ";";
  }
  page += "SP1;SI0.4,0.6;PU5000,3000;LBOSTRELIN 2026\x03;DI0,1;SI0.2,0.3;PU7800,800;LBplate\x03;DI;";
  page += "IP0,0,8000,4000;SC0,100,0,50;PU10,10;PD90,10,90,40,10,40,10,10;IP;SC;";
  // A 32 x 6 one-bit image at (2000, 3000): two run-length rows, two PackBits rows, two unencoded.
  page += "PU2000,3000;\x1b%1A\x1b*r32S\x1b*r1A";
  page += "\x1b*b1m2W\x03\xF0";
  page += "\x1b*b1m4W\x01\xFF\x01\x0F";
  page += "\x1b*b2m2W\xFD\xAA";
  page += std::string("\x1b*b2m5W\x03\x81\x42\x24\x18", 12);
  page += std::string("\x1b*b0m4W\x00\xFF\x00\xFF", 11);
  page += "\x1b*b0m4W\xC3\xC3\xC3\xC3";
  page += "\x1b*rC\x1b%1BPU;SP0;PG;";
  return page;
}

// HPGL polygons for the spool road, filled into the layers through the graphics service: a ring of two
// subpolygons replayed as strokes, filled rectangles, a fill cropped by a window, and self-crossing
// random polygons in several pens.
std::string PolygonPage(uint32_t seed) {
  // Everything within 5,500 dots both ways: the spool road turns x into rows, and the plate has 6,004.
  std::string page = "IN;SP1;PA400,400;PM0;PD2400,400,2400,2400,400,2400,400,400;PM1;";
  page += "PA1000,1000;PD1800,1000,1800,1800,1000,1800,1000,1000;PM2;FP;EP;";
  page += "SP2;PA3000,500;RR1500,900;PA3200,1800;RR-300,1200;";
  page += "SP3;IW3000,3000,5000,4500;PA2800,2800;PM0;PD5400,3200,3200,5400;PM2;FP;IW;";
  Sequence random(seed);
  for (int polygon = 0; polygon < 6; ++polygon) {
    page += "SP" + std::to_string(1 + polygon % 4) + ";PA" + std::to_string(400 + random.Below(5000)) + "," +
            std::to_string(400 + random.Below(5000)) + ";PM0;PD";
    const int points = 3 + static_cast<int>(random.Below(8));
    for (int p = 0; p < points; ++p) {
      if (p > 0) page += ",";
      page += std::to_string(400 + random.Below(5000)) + "," + std::to_string(400 + random.Below(5000));
    }
    page += ";PM2;FP;";
  }
  page += "PU;SP0;PG;";
  return page;
}

struct JobDefinition {
  using MakeSettings = std::function<Settings()>;
  using Feed = std::function<void(const EngineExports&, const Records&)>;
  // A rendering-road job: settings, then the export calls of the feed.
  JobDefinition(MakeSettings makeSettings, Feed feedCalls)
      : settings(std::move(makeSettings)), feed(std::move(feedCalls)) {}
  // A spool-road job: settings, then the HPGL handed to debut in chunks of chunkBytes.
  JobDefinition(MakeSettings makeSettings, std::function<std::string()> page, uint32_t chunk)
      : settings(std::move(makeSettings)), hpgl(std::move(page)), chunkBytes(chunk) {}

  MakeSettings settings;
  Feed feed;
  std::function<std::string()> hpgl;
  uint32_t chunkBytes = 0;
};

// The settings of a spool-road job that writes its output to a named file: the name is filled in when
// the job runs.
Settings SpoolSettings() {
  Settings record = BaseSettings(kVectorModes);
  SetU16(record, s::ClassBlock(0) + s::kClassColourMode, 4);
  SetU16(record, s::kOutputToFile, 1);
  return record;
}

const std::map<std::string, JobDefinition>& Definitions() {
  static const std::map<std::string, JobDefinition> definitions = {
      {"01-empty", {[] { return BaseSettings(kRasterModes); }, [](const EngineExports&, const Records&) {}}},
      {"02-strokes-corner-table",
       {[] {
          Settings record = BaseSettings(kVectorModes);
          SetU16(record, s::ClassBlock(1) + s::kClassPasses, 2);
          SetU32(record, s::ClassBlock(2) + s::kClassDepthStep, static_cast<uint32_t>(-150));
          SetU16(record, s::ClassBlock(2) + s::kClassPasses, 3);
          SetU16(record, s::ClassBlock(2) + s::kClassDepthMode, 1);
          return record;
        },
        [](const EngineExports& e, const Records& r) { FeedStrokes(e, r, 7); }}},
      {"03-strokes-profile",
       {[] {
          Settings record = BaseSettings(kVectorModes);
          SetU16(record, s::kModel, 265);
          SetU16(record, s::kFastFlag, 1);
          SetU16(record, s::kMotionWord, 0x0100);  // a profiling controller
          SetU16(record, s::ClassBlock(3) + s::kClassPasses, 2);
          return record;
        },
        [](const EngineExports& e, const Records& r) { FeedStrokes(e, r, 11); }}},
      {"04-strokes-tc-kind-11",
       {[] {
          Settings record = BaseSettings(kVectorModes);
          SetU16(record, s::kMachineKind, 11);
          SetU16(record, s::kTcFlag, 1);
          SetU32(record, s::kTcSpeed, 17000);
          SetU16(record, s::kMotionWord, 0x0201);
          SetU16(record, s::kFlagWord, s::kFlagFileOrder);
          return record;
        },
        [](const EngineExports& e, const Records& r) { FeedStrokes(e, r, 13); }}},
      {"05-bit-rows",
       {[] { return BaseSettings(kRasterModes); },
        [](const EngineExports& e, const Records& r) {
          FeedBitRows(e, r, 10.0, 10.0, 13, 9, 0, 1);
          FeedBitRows(e, r, 25.5, 12.25, 400, 120, 0, 2);
          FeedBitRows(e, r, 40.0, 30.0, 1000, 60, 3, 3);
          FeedBitRows(e, r, 120.0, 5.0, 257, 200, 5, 4);
          FeedBitRows(e, r, 300.0, 200.0, 64, 64, 7, 5);
        }}},
      {"06-bit-rows-rotated",
       {[] {
          Settings record = BaseSettings(kRasterModes);
          SetU16(record, s::kOrientation, 1);
          SetU16(record, s::kEngravingResX, 254);
          SetU16(record, s::kEngravingResY, 254);
          SetU16(record, s::kFlagWord, s::kFlagBottomUp | s::kFlagOneWay);
          return record;
        },
        [](const EngineExports& e, const Records& r) {
          FeedBitRows(e, r, 15.0, 20.0, 600, 150, 0, 6);
          FeedBitRows(e, r, 50.0, 40.0, 333, 77, 4, 7);
        }}},
      {"07-grey-rows-power",
       {[] {
          Settings record = BaseSettings(kRasterModes);
          SetU16(record, s::kRasterOptionsA + 2, 1);    // A2, grey power
          SetU16(record, s::kRasterOptionsA + 12, 62);  // A7, brightness
          return record;
        },
        [](const EngineExports& e, const Records& r) { FeedColourRows(e, r, 20.0, 15.0, 640, 240, 8); }}},
      {"08-grey-rows-diffusion",
       {[] {
          Settings record = BaseSettings(kRasterModes);
          SetU16(record, s::kRasterOptionsA + 10, 1);  // A6, error diffusion
          SetU16(record, s::kEngravingResX, 333);
          SetU16(record, s::kEngravingResY, 250);
          SetU16(record, s::kOrientation, 3);
          return record;
        },
        [](const EngineExports& e, const Records& r) { FeedColourRows(e, r, 5.0, 5.0, 500, 300, 9); }}},
      {"09-grey-rows-halftone",
       {[] {
          Settings record = BaseSettings(kRasterModes);
          SetU16(record, s::kRasterOptionsA + 6, 1);  // A4, halftone screen
          SetU16(record, s::kFirstDotMode, 2);
          return record;
        },
        [](const EngineExports& e, const Records& r) { FeedColourRows(e, r, 30.0, 30.0, 420, 260, 10); }}},
      {"10-grey-rows-stamp",
       {[] {
          Settings record = BaseSettings(kRasterModes);
          SetU16(record, s::kRasterOptionsA + 4, 128);  // A3, stamp threshold
          SetU16(record, s::kRasterOptionsB + 0, 1);    // B1, stamp
          SetU16(record, s::kRasterOptionsB + 2, 40);   // B2, shoulder power percent
          SetU16(record, s::kRasterOptionsB + 4, 300);  // B3, shoulder width
          SetU16(record, s::kRasterOptionsB + 6, 100);  // B4, shoulder inner width
          return record;
        },
        [](const EngineExports& e, const Records& r) { FeedColourRows(e, r, 12.0, 8.0, 360, 200, 11); }}},
      {"11-grey-rows-large",
       {[] {
          Settings record = BaseSettings(kRasterModes);
          SetU16(record, s::kRasterOptionsA + 2, 1);
          SetU16(record, s::kFlagWord, s::kFlagBottomUp | s::kFlagSectionSplit);
          return record;
        },
        // 1,800 x 700 grey dots: the layer transfers cross the 1,000,000-byte block size.
        [](const EngineExports& e, const Records& r) { FeedColourRows(e, r, 2.0, 3.0, 1800, 700, 12); }}},
      {"12-mixed",
       {[] {
          Settings record = BaseSettings(kVectorModes);
          SetU16(record, s::ClassBlock(0) + s::kClassColourMode, 4);
          SetU16(record, s::ClassBlock(3) + s::kClassColourMode, 5);
          SetU16(record, s::kOrientation, 2);
          SetU16(record, s::kMotionWord, 0x0100);
          SetU16(record, s::kRasterOptionsA + 10, 1);
          return record;
        },
        [](const EngineExports& e, const Records& r) {
          FeedBitRows(e, r, 30.0, 25.0, 300, 80, 3, 14);
          FeedColourRows(e, r, 100.0, 60.0, 200, 150, 15);
          FeedStrokes(e, r, 16);
          FeedBitRows(e, r, 200.0, 100.0, 120, 40, 0, 17);
        }}},
      {"13-spool-corner-table", {SpoolSettings, [] { return SpoolPage(21); }, 1021}},
      {"14-spool-profile",
       {[] {
          Settings record = SpoolSettings();
          SetU16(record, s::kMotionWord, 0x0100);
          SetU16(record, s::kOrientation, 5);
          return record;
        },
        [] { return SpoolPage(22); }, 4096}},
      {"15-spool-polygons",
       {[] {
          Settings record = BaseSettings(kRasterModes);
          SetU16(record, s::kOutputToFile, 1);
          return record;
        },
        [] { return PolygonPage(23); }, 777}},
  };
  return definitions;
}

}  // namespace

const std::vector<std::string>& SpecifiedExportNames() {
  static const std::vector<std::string> names = {"ostrelinInit",           "ostrelinGnfToHmapBitInit",
                                                 "ostrelinGnfToHmapBit",   "ostrelinGnfToHmapOctetInit",
                                                 "ostrelinGnfToHmapOctet", "ostrelinGnfToTdPu2dA",
                                                 "ostrelinGnfToTdPd2dA",   "ostrelinGnfToTdSetIndexColor",
                                                 "ostrelinGnfToTdEof",     "ostrelinDoBinary",
                                                 "ostrelinGetBinarySize",  "ostrelinGetBinary",
                                                 "ostrelinClean",          "debut",
                                                 "StretchMaison",          "RechercheTailleDePiPgPo"};
  return names;
}

std::vector<std::string> JobNames() {
  std::vector<std::string> names;
  for (const auto& entry : Definitions()) names.push_back(entry.first);
  return names;
}

namespace {

// Runs a spool-road job: the settings name outputPath as the output file; the HPGL goes to debut in
// chunks, and the file is read back and removed.
std::string RunSpoolJob(const EngineExports& engine, const JobDefinition& definition, const Records& records,
                        Settings settings, const std::string& outputPath, std::vector<uint8_t>* stream) {
  if (engine.spoolChunk == nullptr) return "debut is missing";
  if (outputPath.size() + 1 > s::kOutputFileNameUnits) return "the output path is too long: " + outputPath;
  for (size_t i = 0; i < outputPath.size(); ++i) {
    SetU16(settings, s::kOutputFileName + 2 * i, static_cast<uint8_t>(outputPath[i]));
  }
  const std::string page = definition.hpgl();
  const auto* bytes = reinterpret_cast<const uint8_t*>(page.data());
  OstrelinContext* c = records.ctx();
  for (size_t at = 0; at < page.size(); at += definition.chunkBytes) {
    const size_t length = std::min<size_t>(definition.chunkBytes, page.size() - at);
    engine.spoolChunk(nullptr, bytes + at, static_cast<uint32_t>(length), settings.data(), records.spool(), c,
                      records.job());
    if (c->lastError != 0) return "the spool job ended with error " + std::to_string(c->lastError - 1);
  }
  if (c->jobOpenFlag != 0) return "the job is still open after its page end";
  std::ifstream in(outputPath, std::ios::binary);
  stream->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  in.close();
  std::error_code error;
  std::filesystem::remove(outputPath, error);
  if (stream->empty()) return "the output file " + outputPath + " is empty or missing";
  return std::string();
}

}  // namespace

std::string RunJob(const EngineExports& engine, const std::string& name, const std::string& workDirectory,
                   std::vector<uint8_t>* stream) {
  const auto found = Definitions().find(name);
  if (found == Definitions().end()) return "no job named " + name;
  Records records(engine);
  if (!records.Ready()) return "the records could not be allocated";
  Settings settings = found->second.settings();
  if (found->second.hpgl) {
    const std::string outputPath = (std::filesystem::path(workDirectory) / (name + ".out")).string();
    return RunSpoolJob(engine, found->second, records, std::move(settings), outputPath, stream);
  }
  OstrelinContext* c = records.ctx();
  OstrelinSpool* s = records.spool();
  OstrelinJob* j = records.job();

  engine.init(c, s, j, settings.data());
  found->second.feed(engine, records);
  engine.doBinary(c, s, j);
  const int32_t size = engine.getBinarySize(c, s, j);
  stream->clear();
  // Read in pieces of an odd size, so that reads end inside records.
  uint8_t piece[4093];
  for (;;) {
    const int32_t read = engine.getBinary(c, s, j, piece, sizeof piece);
    if (read <= 0) break;
    stream->insert(stream->end(), piece, piece + read);
  }
  const int32_t closed = engine.clean(c, s, j);
  if (size <= 0) return "the stream is empty";
  if (static_cast<size_t>(size) != stream->size()) {
    return "read " + std::to_string(stream->size()) + " bytes of a stream of " + std::to_string(size);
  }
  if (closed != 0) return "closing the sink returned " + std::to_string(closed);
  return std::string();
}

int RunAllJobs(const EngineExports& engine, const std::string& outputDirectory,
               const std::string& scratchDirectory) {
  namespace fs = std::filesystem;
  std::ofstream report(fs::path(outputDirectory) / "report.txt", std::ios::binary | std::ios::trunc);
  int failures = 0;
  for (const std::string& name : JobNames()) {
    std::vector<uint8_t> stream;
    std::string problem = RunJob(engine, name, outputDirectory, &stream);
    if (problem.empty()) {
      std::ofstream out(fs::path(outputDirectory) / (name + ".job"), std::ios::binary | std::ios::trunc);
      out.write(reinterpret_cast<const char*>(stream.data()), static_cast<std::streamsize>(stream.size()));
      if (!out.flush()) problem = "the stream could not be written to " + outputDirectory;
    }
    if (problem.empty()) {
      report << name << "\tok\t" << stream.size() << "\n";
    } else {
      report << name << "\tfailed\t" << problem << "\n";
      ++failures;
    }
  }
  std::error_code error;
  for (const auto& entry : fs::directory_iterator(scratchDirectory, error)) {
    report << "leftover\t" << entry.path().filename().string() << "\n";
    ++failures;
  }
  if (error) {
    report << "scratch\tfailed\t" << scratchDirectory << " cannot be listed\n";
    ++failures;
  }
  report.flush();
  return failures;
}

}  // namespace ostrelin::crosscheck
