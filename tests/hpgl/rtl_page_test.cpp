// An HP-GL/2 page with vector text, an embedded one-bit logo, a grey image and a three-plane colour
// strip, written by a generator with the test encoders and pushed through the spool road to a finished
// job: the job must hold both vector and raster work, and the raster rows must carry what was encoded.
// Also the greys that three-plane rows leave in the grey layer, and examples/rtl-page.hpgl, which is
// this page.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "engine/scratch.h"
#include "engine/settings_layout.h"
#include "engine/spool_intake.h"
#include "hpgl/hpgl_test_support.h"
#include "hpgl/rtl_encoders.h"
#include "ostrelin/ostrelin.h"
#include "tools/job_decoder.h"
#include "tools/job_model.h"

namespace ostrelin::test {
namespace {

using Bytes = std::vector<uint8_t>;
using Dot = std::pair<int64_t, int64_t>;  // (x dot, row) on the layer

// Where the images go, in dots at the engine resolution, and their sizes in pixels.
constexpr int kLogoX = 120;
constexpr int kLogoY = 80;
constexpr int kLogoWidth = 64;
constexpr int kLogoRows = 32;
constexpr int kGreyX = 220;
constexpr int kGreyY = 84;
constexpr int kGreyWidth = 48;
constexpr int kGreyRows = 24;
constexpr int kStripX = 120;
constexpr int kStripY = 130;
constexpr int kStripBand = 8;  // pixels per palette index; 8 indices
constexpr int kStripRows = 6;

// The greys of the palette of a three-bit image (index bit 0 red, bit 1 green, bit 2 blue), as 30 %
// red + 59 % green + 11 % blue, truncated: black, red, green, yellow, blue, magenta, cyan, white.
constexpr int kPaletteGreys[8] = {0, 76, 150, 226, 28, 104, 178, 255};

// The page and what it encodes.
struct RtlPage {
  std::string hpgl;
  std::set<Dot> logo;        // dots of the one-bit logo: the colour layer of class 0
  std::map<Dot, int> greys;  // grey layer dots, 0 black to 255 white
};

// Appends HPGL text, escape sequences and raster transfers.
class PageWriter {
 public:
  void Text(const std::string& text) { page_ += text; }
  void Escape(const std::string& sequence) {
    page_ += '\x1b';
    page_ += sequence;
  }
  // One transfer of a plane: "V" for a plane that more planes follow, "W" for the row's last.
  void Transfer(int method, const Bytes& data, char letter) {
    Escape("*b" + std::to_string(method) + "m" + std::to_string(data.size()) + letter);
    page_.append(data.begin(), data.end());
  }
  // Image configuration: colour space and bits per index, then three bytes not looked at.
  void Configure(int colourSpace, int bitsPerIndex) {
    Escape("*v6W");
    const char bytes[] = {static_cast<char>(colourSpace), 0, static_cast<char>(bitsPerIndex), 8, 8, 8};
    page_.append(bytes, sizeof bytes);
  }
  void Place(int x, int y) { Escape("*p" + std::to_string(x) + "x" + std::to_string(y) + "Y"); }
  const std::string& page() const { return page_; }

 private:
  std::string page_;
};

// A ring with a bar under it; the last rows repeat the bar once and end in two empty rows, which the
// adaptive method sends as a duplicate and as empty rows.
std::vector<Bytes> LogoRows() {
  std::vector<Bytes> rows(kLogoRows, Bytes(kLogoWidth / 8, 0));
  for (int y = 0; y < 28; ++y) {
    for (int x = 0; x < kLogoWidth; ++x) {
      const double dx = x - 31.5;
      const double dy = y - 13.5;
      const double r = std::hypot(dx, dy);
      if ((r >= 9.5 && r <= 13.5) || (std::abs(dy) <= 1.5 && std::abs(dx) <= 20)) {
        rows[static_cast<size_t>(y)][static_cast<size_t>(x / 8)] |= static_cast<uint8_t>(0x80 >> (x % 8));
      }
    }
  }
  rows[28] = Bytes(kLogoWidth / 8, 0xFF);
  rows[28].front() = 0x0F;
  rows[28].back() = 0xF0;
  rows[29] = rows[28];
  return rows;
}

// A grey pattern with black, white and every level between.
int GreyPixel(int x, int y) {
  if (x < 4) return 255;
  return (x * 11 + y * 37) % 256;
}

RtlPage MakeRtlPage() {
  RtlPage result;
  PageWriter w;
  // The vector part: a frame and a title in pen 2 (class 1), plotter units.
  w.Text("IN;SP2;PU200,200;PD1800,200,1800,1200,200,1200,200,200;PU;SI0.25,0.35;PA300,1000;LBRTL PAGE\x03");

  // The logo: one bit per pixel, filed under class 0 in raster mode; rows in methods 0 to 3 by turns,
  // the last four rows in one adaptive transfer.
  w.Escape("%1A");
  w.Configure(0, 1);
  w.Escape("*r" + std::to_string(kLogoWidth) + "S");
  w.Place(kLogoX, kLogoY);
  const std::vector<Bytes> logo = LogoRows();
  Bytes seed(kLogoWidth / 8, 0);
  for (int y = 0; y < 28; ++y) {
    const int method = y % 4;
    w.Transfer(method, EncodeRow(method, logo[static_cast<size_t>(y)], seed), 'W');
    seed = logo[static_cast<size_t>(y)];
  }
  Bytes adaptive = {2, 0, 0};
  const Bytes packed = EncodePackBits(logo[28]);
  adaptive[2] = static_cast<uint8_t>(packed.size());
  adaptive.insert(adaptive.end(), packed.begin(), packed.end());
  adaptive.insert(adaptive.end(), {5, 0, 1, 4, 0, 2});  // the row again; two empty rows
  w.Transfer(5, adaptive, 'W');
  w.Escape("*rC");
  for (int y = 0; y < kLogoRows; ++y) {
    for (int x = 0; x < kLogoWidth; ++x) {
      if ((logo[static_cast<size_t>(y)][static_cast<size_t>(x / 8)] >> (7 - x % 8)) & 1) {
        result.logo.insert({kLogoX + x, kLogoY + y});
      }
    }
  }

  // The grey image: one byte per pixel, rows in methods 0 to 3 by turns.
  w.Configure(10, 8);
  w.Escape("*r" + std::to_string(kGreyWidth) + "S");
  w.Place(kGreyX, kGreyY);
  seed.assign(kGreyWidth, 0);
  for (int y = 0; y < kGreyRows; ++y) {
    Bytes row(kGreyWidth);
    for (int x = 0; x < kGreyWidth; ++x) {
      row[static_cast<size_t>(x)] = static_cast<uint8_t>(GreyPixel(x, y));
      result.greys[{kGreyX + x, kGreyY + y}] = GreyPixel(x, y);
    }
    const int method = (y + 1) % 4;
    w.Transfer(method, EncodeRow(method, row, seed), 'W');
    seed = row;
  }
  w.Escape("*rC");

  // The colour strip: three planes index the palette, bands of indices 0 to 7.
  w.Configure(0, 3);
  w.Escape("*r" + std::to_string(8 * kStripBand) + "S");
  w.Place(kStripX, kStripY);
  for (int y = 0; y < kStripRows; ++y) {
    for (int plane = 0; plane < 3; ++plane) {
      Bytes bits(kStripBand, 0);
      for (int index = 0; index < 8; ++index) {
        if ((index >> plane) & 1) bits[static_cast<size_t>(index)] = 0xFF;  // a band is one byte
      }
      const int method = plane == 0 ? 2 : (plane == 1 ? 1 : 0);
      w.Transfer(method, EncodeRow(method, bits, {}), plane < 2 ? 'V' : 'W');
    }
    for (int x = 0; x < 8 * kStripBand; ++x)
      result.greys[{kStripX + x, kStripY + y}] = kPaletteGreys[x / kStripBand];
  }
  w.Escape("*rC");

  // Back to the pen's class for a last line, then the page end.
  w.Escape("%1B");
  w.Text("PU200,1300;PD1800,1300;PU;SP0;PG;");
  result.hpgl = w.page();
  return result;
}

// The power byte of a grey with the direct power mapping: P sqrt(255 - g) / sqrt(255), rounded, at the
// neutral brightness; P is the class 0 power of 50 % on the scale where 128 is 100 %.
int PowerOfGrey(int grey) {
  const double p = std::round(50 * 1.28);
  return static_cast<int>(std::round(p * std::sqrt(255.0 - grey) / std::sqrt(255.0)));
}

// What the job engraves: the raster dots of each layer with their power byte (bit rows: 1 in colour
// layers, their "PW" on the power scale in the grey layer), and the pen-down moves.
struct Engraved : tools::JobActions {
  void OnRasterSpan(const tools::RasterSpan& span) override {
    for (int64_t i = 0; i < span.dots; ++i) {
      const Dot at{span.xDot + i, span.yRow};
      if (!span.greyLayer) {
        colour[span.layer].insert(at);
      } else {
        grey[at] = span.level != 0 ? span.level : static_cast<int>(std::lround(span.powerPercent * 1.28));
      }
    }
  }
  void OnPenMove(const tools::PenMove& move) override {
    if (move.penDown) ++penDownMoves;
  }
  std::map<int, std::set<Dot>> colour;
  std::map<Dot, int> grey;
  int penDownMoves = 0;
};

class RtlPageThroughTheSpoolRoad : public ScratchDirTest {
 protected:
  void SetUp() override {
    ScratchDirTest::SetUp();
    settings_ = DefaultSettings();
    for (int c = 0; c < 8; ++c) SetU16(settings_, settings::ClassBlock(c) + settings::kClassColourMode, 4);
  }
  void TearDown() override {
    if (set_.ctx->jobOpenFlag != 0) AbortSpoolJob(*set_.ctx, *set_.spool, *set_.job, spooler_.printerHandle);
    ScratchDirTest::TearDown();
  }

  MemorySpooler spooler_;
  CapturedMessages messages_;
  RecordSet set_;
  std::vector<uint8_t> settings_;
};

TEST_F(RtlPageThroughTheSpoolRoad, TheJobCarriesTheVectorsAndTheEncodedRows) {
  const RtlPage page = MakeRtlPage();
  debut(spooler_.printerHandle, reinterpret_cast<const uint8_t*>(page.hpgl.data()),
        static_cast<uint32_t>(page.hpgl.size()), settings_.data(), set_.spool, set_.ctx, set_.job);
  EXPECT_TRUE(messages_.texts.empty()) << messages_.texts.front();
  ASSERT_EQ(set_.ctx->jobOpenFlag, 0) << "the page end did not finish the job";

  Engraved engraved;
  tools::JobWalker walker(engraved, 1);
  std::istringstream in(std::string(spooler_.job.begin(), spooler_.job.end()));
  const tools::DecodeSummary summary = tools::DecodeJobStream(in, walker);
  ASSERT_TRUE(summary.Clean()) << summary.Problems();
  EXPECT_TRUE(walker.jobClosed());

  // Vectors: the frame, the title and the last line.
  EXPECT_GT(engraved.penDownMoves, 20);

  // The logo is the only colour layer, dot for dot.
  ASSERT_EQ(engraved.colour.size(), 1u);
  EXPECT_EQ(engraved.colour.begin()->second, page.logo);

  // The grey layer: every dot of the grey image and the strip with the power of its grey; white is
  // not engraved, and nothing else is.
  std::map<Dot, int> expected;
  for (const auto& [at, grey] : page.greys) {
    if (PowerOfGrey(grey) != 0) expected[at] = PowerOfGrey(grey);
  }
  ASSERT_EQ(engraved.grey.size(), expected.size());
  for (const auto& [at, power] : expected) {
    const auto found = engraved.grey.find(at);
    ASSERT_NE(found, engraved.grey.end()) << "dot " << at.first << ", " << at.second << " not engraved";
    EXPECT_NEAR(found->second, power, 1) << "dot " << at.first << ", " << at.second;
  }
}

// Three-plane rows: bit b of planes 0, 1 and 2 index the raster palette, and the layer takes the
// palette colour's grey, also for entries defined by the colour group.
class ThreePlaneRows : public HpglTest {};

TEST_F(ThreePlaneRows, LeaveTheGreyOfTheirPaletteEntry) {
  PageWriter w;
  w.Configure(0, 3);
  w.Escape("*v200a100b50c5I");  // entry 5 becomes (200, 100, 50)
  w.Escape("*r64S");
  w.Place(16, 3);
  for (int plane = 0; plane < 3; ++plane) {
    Bytes bits(8, 0);
    for (int index = 0; index < 8; ++index) {
      if ((index >> plane) & 1) bits[static_cast<size_t>(index)] = 0xFF;
    }
    w.Transfer(0, bits, plane < 2 ? 'V' : 'W');
  }
  ASSERT_FALSE(Run(w.page()).has_value());
  ASSERT_NE(set_.job->greyLayer, nullptr);
  ASSERT_EQ(set_.job->currentRow, 4);

  Bytes row(64);
  const uint64_t offset = 3 * static_cast<uint64_t>(set_.job->greyStride) + 16;
  ReadAtOffset(*set_.ctx, &set_.job->greyLayer, static_cast<uint32_t>(row.size()), row.data(), offset);
  for (int x = 0; x < 64; ++x) {
    const int index = x / 8;
    const int expected = index == 5 ? 124 : kPaletteGreys[index];  // (200 x 30 + 100 x 59 + 50 x 11) / 100
    EXPECT_EQ(row[static_cast<size_t>(x)], expected) << "pixel " << x << ", index " << index;
  }
}

// examples/rtl-page.hpgl is the generated page, so that `ostrelin print` can be shown on it. With
// OSTRELIN_UPDATE_EXAMPLES set the test writes it instead.
TEST(RtlPageExample, IsTheGeneratedPage) {
  const std::string path = std::string(OSTRELIN_SOURCE_DIR) + "/examples/rtl-page.hpgl";
  const RtlPage page = MakeRtlPage();
  if (std::getenv("OSTRELIN_UPDATE_EXAMPLES") != nullptr) {
    std::ofstream(path, std::ios::binary) << page.hpgl;
  }
  std::ifstream file(path, std::ios::binary);
  ASSERT_TRUE(file) << path << " is missing";
  const std::string saved((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  EXPECT_TRUE(saved == page.hpgl) << path
                                  << " differs from the generated page; run this test with "
                                     "OSTRELIN_UPDATE_EXAMPLES=1 to write it again";
  EXPECT_LT(saved.size(), 8192u);
}

}  // namespace
}  // namespace ostrelin::test
