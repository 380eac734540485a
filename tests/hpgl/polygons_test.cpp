// Polygons: the polygon buffer (PM, EP), fills into the colour layers (FP, RR), their units, crops
// and placement, bad input, and the printer's device context on the spool road.
#include "engine/hpgl/polygons.h"

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "engine/raster/bitmap_intake.h"
#include "engine/settings_layout.h"
#include "engine/spool_intake.h"
#include "hpgl/hpgl_test_support.h"

namespace ostrelin::test {
namespace {

using Picture = std::vector<std::string>;  // rows from the top, 'X' for an engraved dot
using hpgl::kOpPenDown;
using hpgl::kOpPenUp;

const std::string kSquare = "PM0;PA0,0;PD100,0,100,100,0,100,0,0;PM2;";  // 0..49 dots at 500 dpi

// A picture of width x height dots: 'X' where x0 <= x <= x1 and y0 <= y <= y1.
Picture Block(int width, int height, int x0, int y0, int x1, int y1) {
  Picture picture(static_cast<size_t>(height), std::string(static_cast<size_t>(width), '.'));
  for (int y = std::max(y0, 0); y <= y1 && y < height; ++y) {
    for (int x = std::max(x0, 0); x <= x1 && x < width; ++x) picture[y][x] = 'X';
  }
  return picture;
}

class Polygons : public HpglTest {
 protected:
  // The top-left width x height dots of the colour layer of class 0; empty without the layer.
  Picture Layer(int width, int height, int colourClass = 0) {
    void* layer = set_.job->colourLayers[colourClass];
    if (layer == nullptr) return {};
    const auto stride = static_cast<size_t>(set_.job->colourStride);
    std::vector<uint8_t> rows(stride * static_cast<size_t>(height));
    ReadAtOffset(*set_.ctx, &layer, static_cast<uint32_t>(rows.size()), rows.data(), 0);
    Picture picture(static_cast<size_t>(height), std::string(static_cast<size_t>(width), '.'));
    for (int y = 0; y < height; ++y) {
      for (int x = 0; x < width; ++x) {
        if ((rows[y * stride + x / 8] >> (7 - x % 8)) & 1) picture[y][x] = 'X';
      }
    }
    return picture;
  }
  bool AnyLayer() const {
    return std::any_of(std::begin(set_.job->colourLayers), std::end(set_.job->colourLayers),
                       [](void* layer) { return layer != nullptr; });
  }
  CapturedMessages messages_;
};

TEST_F(Polygons, FilledSquareReachesTheLayerAndNotThePlotFile) {
  ASSERT_FALSE(Run(kSquare).has_value());
  const auto before = Records();
  ASSERT_FALSE(Run("FP;").has_value());
  EXPECT_EQ(Records(), before);
  // 100 plotter units are 49 dots: the outline runs through dots 0 and 49.
  EXPECT_EQ(Layer(56, 54), Block(56, 54, 0, 0, 49, 49));
  EXPECT_EQ(set_.ctx->usedWidth, 50);
  EXPECT_EQ(set_.ctx->usedHeight, 50);
  // The buffer is kept: a second fill finds the same polygon.
  EXPECT_EQ(set_.job->subpolygonCount, 1);
  EXPECT_EQ(set_.job->pointCount, 6);
}

TEST_F(Polygons, EdgeReplaysTheBufferAsStrokes) {
  ASSERT_FALSE(Run(kSquare + "EP;").has_value());
  const std::vector<PlotRecord> expected = {Pt(kOpPenUp, 0, 0),     Pt(kOpPenUp, 0, 0),
                                            Pt(kOpPenDown, 100, 0), Pt(kOpPenDown, 100, 100),
                                            Pt(kOpPenDown, 0, 100), Pt(kOpPenDown, 0, 0)};
  EXPECT_EQ(Records(), expected);
  EXPECT_FALSE(AnyLayer());
  // The buffer stays and the position does not move.
  EXPECT_EQ(set_.job->pointCount, 6);
  EXPECT_EQ(set_.ctx->plotterX, 0.0f);
  ASSERT_FALSE(Run("EP;").has_value());
  EXPECT_EQ(Records().size(), 2 * expected.size());
}

TEST_F(Polygons, SubpolygonsCloseOrAreDropped) {
  // "PM1" right after "PM0" drops the one stored point.
  ASSERT_FALSE(Run("PA5,5;PM0;PM1;").has_value());
  EXPECT_EQ(set_.job->pointCount, 0);
  EXPECT_EQ(set_.job->subpolygonCount, 0);
  EXPECT_EQ(set_.job->polygonMode, 1);
  ASSERT_FALSE(Run("PA0,0;PD10,0,10,10;PM1;PD20,20;PM1;PA30,30;PD40,40;PM2;").has_value());
  // The single point after the first close is dropped.
  ASSERT_EQ(set_.job->subpolygonCount, 2);
  EXPECT_EQ(set_.job->subpolygonCounts[0], 3);
  EXPECT_EQ(set_.job->subpolygonCounts[1], 2);
  EXPECT_EQ(set_.job->pointCount, 5);
  EXPECT_EQ(set_.job->polygonMode, 0);
  // Other values do nothing.
  ASSERT_FALSE(Run("PM7;").has_value());
  EXPECT_EQ(set_.job->pointCount, 5);
  EXPECT_EQ(set_.job->polygonMode, 0);
}

TEST_F(Polygons, TwoSubpolygonsOneInsideTheOtherFillAsARing) {
  ASSERT_FALSE(Run("PM0;PA0,0;PD200,0,200,200,0,200,0,0;PM1;PA60,60;PD140,60,140,140,60,140,60,60;PM2;FP;")
                   .has_value());
  // 200, 60 and 140 plotter units are 98, 30 and 69 dots: the hole is 31..68 both ways.
  Picture expected = Block(100, 100, 0, 0, 98, 98);
  for (int y = 31; y <= 68; ++y) {
    for (int x = 31; x <= 68; ++x) expected[y][x] = '.';
  }
  EXPECT_EQ(Layer(100, 100), expected);
}

TEST_F(Polygons, RectangleFillsOrOutlinesByMachineKind) {
  // Machines 2, 3, 5 and 11 draw the four sides; the others fill without writing a stroke.
  for (int kind : {2, 3, 5, 11}) {
    Restart();
    set_.job->machineKind = kind;
    ASSERT_FALSE(Run("PA10,20;RR30,40;").has_value());
    EXPECT_EQ(Records(),
              (std::vector<PlotRecord>{Pt(kOpPenUp, 10, 20), Pt(kOpPenDown, 40, 20), Pt(kOpPenDown, 40, 60),
                                       Pt(kOpPenDown, 10, 60), Pt(kOpPenDown, 10, 20)}))
        << kind;
    EXPECT_FALSE(AnyLayer()) << kind;
  }
  Restart();
  ASSERT_FALSE(Run("PA10,20;RR30,40;").has_value());
  EXPECT_EQ(Records(), (std::vector<PlotRecord>{Pt(kOpPenUp, 10, 20)}));
  // From dot 5 (10 units) 15 dots across, from row 10 (20 units) 20 rows down.
  EXPECT_EQ(Layer(26, 34), Block(26, 34, 5, 10, 20, 30));
  EXPECT_EQ(set_.job->polygonMode, 0);
  ASSERT_EQ(set_.job->subpolygonCount, 1);
  EXPECT_EQ(set_.job->subpolygonCounts[0], 5);
  // Without dy: polygon mode off, nothing drawn.
  Restart();
  ASSERT_FALSE(Run("PM0;PA10,20;RR30;").has_value());
  EXPECT_EQ(set_.job->polygonMode, 0);
  EXPECT_FALSE(AnyLayer());
}

TEST_F(Polygons, PolygonsNarrowerThanADotFillNothing) {
  struct Case {
    const char* name;
    bool frame;
    std::string text;
    Picture expected;  // empty: nothing filled
  };
  const std::vector<Case> cases = {
      {"plotter units, under half a dot both ways", false, "PM0;PA0,0;PD0.9,0,0.9,0.9,0,0.9,0,0;PM2;FP;", {}},
      {"plotter units, flat", false, "PM0;PA0,0;PD100,0,50,0,0,0;PM2;FP;", {}},
      {"plotter units, upright", false, "PA10,0;PM0;PD10,100,10,0;PM2;FP;", {}},
      {"scaling frame, under one engine dot both ways",
       true,
       "PM0;PA0,0;PD1.5,0,1.5,1.5,0,1.5,0,0;PM2;FP;",
       {}},
      {"scaling frame, narrow one way only", true, "PM0;PA0,0;PD1.5,0,1.5,100,0,100,0,0;PM2;FP;",
       Block(4, 53, 0, 0, 1, 50)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Restart();
    // With the scaling frame the buffer holds dots at the vector resolution, here twice the engine's.
    set_.ctx->scalingFrameFlag = c.frame ? 1 : 0;
    set_.ctx->vectorResolution = 1000.0;
    ASSERT_FALSE(Run(c.text).has_value());
    if (c.expected.empty()) {
      EXPECT_FALSE(AnyLayer());
    } else {
      EXPECT_EQ(Layer(4, 53), c.expected);
    }
  }
}

TEST_F(Polygons, ScalingFrameTakesVectorDotsToEngineDots) {
  set_.ctx->scalingFrameFlag = 1;
  set_.ctx->vectorResolution = 1000.0;
  // A triangle from (100, 40) to (300, 240) vector dots (the position "PM0" stores is its first
  // corner): (50, 20) to (150, 120) engine dots.
  ASSERT_FALSE(Run("PA100,40;PM0;PD300,40,100,240,100,40;PM2;FP;").has_value());
  const Picture layer = Layer(160, 125);
  Picture expected(125, std::string(160, '.'));
  for (int y = 20; y <= 120; ++y) {
    for (int x = 50; x <= 150 - (y - 20); ++x) expected[y][x] = 'X';
  }
  EXPECT_EQ(layer, expected);
}

TEST_F(Polygons, ClippingWindowCropsTheRows) {
  // The window 20..60 plotter units is dots 10..30; the bits of the first byte left of it are cleared.
  ASSERT_FALSE(Run(kSquare + "IW20,20,60,60;FP;").has_value());
  EXPECT_EQ(Layer(56, 54), Block(56, 54, 10, 10, 30, 30));
  // A window beside the box fills nothing.
  Restart();
  ASSERT_FALSE(Run(kSquare + "IW200,0,300,100;FP;").has_value());
  EXPECT_FALSE(AnyLayer());
  // With user scaling the window is in user units: 0..10 user units are 0..100 plotter units here,
  // so 2..6 is dots 10..30 again.
  Restart();
  ASSERT_FALSE(Run("IP0,0,100,100;SC0,10,0,10;" + std::string("PM0;PA0,0;PD10,0,10,10,0,10,0,0;PM2;") +
                   "IW2,2,6,6;FP;")
                   .has_value());
  EXPECT_EQ(Layer(56, 54), Block(56, 54, 10, 10, 30, 30));
}

TEST_F(Polygons, SpoolRoadPlacementTurnsTheFill) {
  // Without a plot size (A = B = 0) the spool road swaps x and y; with A < B x becomes B - x.
  set_.job->renderingRoad = 0;
  ASSERT_FALSE(Run("PM0;PA0,0;PD100,0,100,40,0,40,0,0;PM2;FP;").has_value());
  EXPECT_EQ(Layer(30, 56), Block(30, 56, 0, 0, 20, 49));
  Restart();
  set_.job->renderingRoad = 0;
  set_.job->workValues[0] = 0.0f;
  set_.job->workValues[1] = 200.0f;
  ASSERT_FALSE(Run("PM0;PA0,0;PD100,0,100,40,0,40,0,0;PM2;FP;").has_value());
  // x 0..100 becomes 100..200: dots 49..98.
  EXPECT_EQ(Layer(104, 24), Block(104, 24, 49, 0, 98, 20));
}

TEST_F(Polygons, TheFillGivesBackTheRowStateItBorrows) {
  Spool& spool = *set_.spool;
  Job& job = *set_.job;
  spool.rowPixels = 77;
  spool.rowBytes = 10;
  spool.opaqueSource = 1;
  spool.pendingPlane = 2;
  job.rowOriginX = 5;
  job.currentRow = 9;
  ASSERT_FALSE(Run(kSquare + "FP;").has_value());
  EXPECT_EQ(spool.rowPixels, 77);
  EXPECT_EQ(spool.rowBytes, 10);
  EXPECT_EQ(spool.opaqueSource, 1);
  EXPECT_EQ(spool.pendingPlane, 2);
  EXPECT_EQ(job.rowOriginX, 5);
  EXPECT_EQ(job.currentRow, 9);
  EXPECT_FALSE(Layer(56, 54).empty());
}

TEST_F(Polygons, NothingIsFilledWithoutAClosedPolygonAfterThePageOrInWhite) {
  const std::vector<std::string> texts = {
      "FP;",                                    // an empty buffer
      "PM0;PA0,0;PD100,0,100,100,0,100;FP;",    // the subpolygon is still open
      kSquare + "PG;FP;",                       // after the page end
      "PM0;PA0,0;PD0,0;PM1;PD0,0,0,0;PM2;FP;",  // subpolygons of one point, repeated
  };
  for (const std::string& text : texts) {
    Restart();
    ASSERT_FALSE(Run(text).has_value()) << text;
    EXPECT_FALSE(AnyLayer()) << text;
  }
  Restart();
  set_.job->currentClass = 8;  // a white pen engraves nothing
  ASSERT_FALSE(Run(kSquare + "FP;").has_value());
  EXPECT_FALSE(AnyLayer());
  EXPECT_EQ(set_.ctx->usedWidth, 0);
}

TEST_F(Polygons, AFillOffThePlateIsAPlateSizeErrorBeforeAnyBitmap) {
  // 100,000 plotter units are 2.54 m, beyond the 600 mm plate: a bitmap of that size (300 MB and more)
  // would be refused by this memory, so the error comes before any.
  FailingMemory memory(64u << 20);
  const std::vector<std::string> texts = {
      "PM0;PA0,0;PD100000,0,100000,100,0,100,0,0;PM2;FP;",
      "PM0;PA0,0;PD100,0,100,100000,0,100000,0,0;PM2;FP;",
      "PA0,0;RR100000,100000;",
  };
  for (const std::string& text : texts) {
    Restart();
    messages_.texts.clear();
    EXPECT_EQ(Run(text), ErrorKind::kPlateSize) << text;
    EXPECT_EQ(messages_.texts, std::vector<std::string>{"Plate size error"}) << text;
  }
  // Cropped to a window on the plate, the same polygon fills the window with a bitmap of its size.
  Restart();
  ASSERT_FALSE(Run("PM0;PA0,0;PD100000,0,100000,100000,0,100000,0,0;PM2;IW20,20,60,60;FP;").has_value());
  EXPECT_EQ(Layer(56, 54), Block(56, 54, 10, 10, 30, 30));
}

TEST_F(Polygons, AFullBufferIsAMemoryError) {
  Job& job = *set_.job;
  ASSERT_FALSE(Run("PM0;").has_value());
  job.pointCount = OSTRELIN_MAX_POINTS - 1;
  ASSERT_FALSE(Run("PD1,1;").has_value());  // the last place
  EXPECT_EQ(Run("PD2,2;"), ErrorKind::kMemory);
  EXPECT_EQ(job.pointCount, OSTRELIN_MAX_POINTS);
  Restart();
  ASSERT_FALSE(Run("PM0;PD1,1;").has_value());
  set_.job->subpolygonCount = OSTRELIN_MAX_SUBPOLYGONS;
  EXPECT_EQ(Run("PM1;"), ErrorKind::kMemory);
  EXPECT_EQ(set_.job->subpolygonCount, OSTRELIN_MAX_SUBPOLYGONS);
}

// The graphics service with the native polygon bitmaps, recording the device context of every
// bitmap asked for, or refusing them all.
class WatchingGraphics : public platform::Graphics {
 public:
  WatchingGraphics() : previous_(platform::InstallGraphics(this)) {}
  ~WatchingGraphics() override { platform::InstallGraphics(previous_); }
  bool StretchBitmap(const char*, const platform::BitmapHeader&, const void*, const platform::BitmapHeader&,
                     void*, platform::StretchMode) override {
    return false;
  }
  platform::PolygonBitmap* CreatePolygonBitmap(void* dc, int32_t width, int32_t height) override {
    contexts.push_back(dc);
    return refuse ? nullptr : platform::NativeGraphics().CreatePolygonBitmap(dc, width, height);
  }
  std::vector<void*> contexts;
  bool refuse = false;

 private:
  platform::Graphics* previous_;
};

TEST_F(Polygons, NoBitmapIsABitmapError) {
  WatchingGraphics graphics;
  graphics.refuse = true;
  EXPECT_EQ(Run(kSquare + "FP;"), ErrorKind::kBitmap);
  EXPECT_EQ(messages_.texts, std::vector<std::string>{"Bitmap error"});
}

class PolygonsOnTheSpoolRoad : public ScratchDirTest {
 protected:
  void SetUp() override {
    ScratchDirTest::SetUp();
    settings_ = DefaultSettings();
  }
  void TearDown() override {
    if (set_.ctx->jobOpenFlag != 0) AbortSpoolJob(*set_.ctx, *set_.spool, *set_.job, spooler_.printerHandle);
    ScratchDirTest::TearDown();
  }
  void Send(void* printer, const std::string& text) {
    debut(printer, reinterpret_cast<const uint8_t*>(text.data()), static_cast<uint32_t>(text.size()),
          settings_.data(), set_.spool, set_.ctx, set_.job);
  }
  MemorySpooler spooler_;
  WatchingGraphics graphics_;
  CapturedMessages messages_;
  RecordSet set_;
  std::vector<uint8_t> settings_;
};

TEST_F(PolygonsOnTheSpoolRoad, FillsDrawOnThePrintersDeviceContextWhichEveryJobReleases) {
  Send(spooler_.printerHandle, "IN;SP1;" + kSquare + "FP;PG;");
  EXPECT_TRUE(messages_.texts.empty());
  EXPECT_EQ(set_.ctx->jobOpenFlag, 0);
  ASSERT_EQ(spooler_.dcsMade, 1);
  EXPECT_EQ(graphics_.contexts, std::vector<void*>(1, reinterpret_cast<void*>(uintptr_t{0x2001})));
  EXPECT_TRUE(spooler_.liveDCs.empty());
  EXPECT_EQ(set_.ctx->printerDC, nullptr);
  // A job that fails in a fill releases it on the abort path.
  Send(spooler_.printerHandle, "IN;SP1;PM0;PA0,0;PD100000,0,100000,100,0,0;PM2;FP;PG;");
  EXPECT_EQ(messages_.texts, std::vector<std::string>{"Plate size error"});
  EXPECT_EQ(set_.ctx->jobOpenFlag, 0);
  EXPECT_EQ(spooler_.dcsMade, 2);
  EXPECT_TRUE(spooler_.liveDCs.empty());
  EXPECT_EQ(spooler_.unknownDCDeletes, 0);
  // Without a printer handle the fill takes the screen's context.
  graphics_.contexts.clear();
  Send(nullptr, "IN;SP1;" + kSquare + "FP;PG;");
  EXPECT_EQ(spooler_.dcsMade, 2);
  EXPECT_EQ(graphics_.contexts, std::vector<void*>(1, nullptr));
}

TEST_F(PolygonsOnTheSpoolRoad, AJobStillOpenAtTheAbortHoldsItsContextUntilThen) {
  Send(spooler_.printerHandle, "IN;" + kSquare);  // no page end: the job stays open
  ASSERT_EQ(set_.ctx->jobOpenFlag, 1);
  EXPECT_EQ(spooler_.liveDCs.size(), 1u);
  AbortSpoolJob(*set_.ctx, *set_.spool, *set_.job, spooler_.printerHandle);
  EXPECT_TRUE(spooler_.liveDCs.empty());
}

}  // namespace
}  // namespace ostrelin::test
