// Bitmap stretch: the export's bitmap descriptions and palettes, its failure handling, and the POSIX
// resampler's two branches.
#include "engine/raster/stretch.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "ostrelin/ostrelin.h"
#include "ostrelin/ostrelin_posix.h"
#include "platform/platform.h"

namespace ostrelin::test {
namespace {

using platform::BitmapHeader;
using platform::StretchMode;

constexpr uint8_t kSentinel = 0xA5;

// A spooler that knows one printer, "Engraver", by its handle.
class OnePrinterSpooler : public platform::Spooler {
 public:
  OnePrinterSpooler() : previous_(platform::InstallSpooler(this)) {}
  ~OnePrinterSpooler() override { platform::InstallSpooler(previous_); }
  bool GetPrinterName(void* printer, std::string* name) override {
    if (printer != handle()) return false;
    *name = "Engraver";
    return true;
  }
  bool GetPrinterData(void*, const char*, void*, uint32_t, uint32_t*) override { return false; }
  bool SetPrinterData(void*, const char*, uint32_t, const void*, uint32_t) override { return false; }
  void* OpenPrinter(const char*, uint32_t) override { return nullptr; }
  bool ClosePrinter(void*) override { return false; }
  bool WritePrinter(void*, const void*, uint32_t, uint32_t*) override { return false; }
  bool AbortPrinter(void*) override { return false; }
  void* handle() { return &tag_; }

 private:
  int tag_ = 0;
  platform::Spooler* previous_;
};

// Native memory that counts its blocks and can fail the allocation numbered failAt (from 0).
class CountingMemory : public platform::Memory {
 public:
  CountingMemory() : previous_(platform::InstallMemory(this)) {}
  ~CountingMemory() override { platform::InstallMemory(previous_); }
  void* Allocate(size_t size, bool zeroFill) override {
    if (allocations++ == failAt) return nullptr;
    void* block = platform::NativeMemory().Allocate(size, zeroFill);
    if (block != nullptr) ++outstanding;
    return block;
  }
  void Free(void* block) override {
    --outstanding;
    platform::NativeMemory().Free(block);
  }
  uint64_t AvailablePhysical() override { return platform::NativeMemory().AvailablePhysical(); }
  int failAt = -1;
  int allocations = 0;
  int outstanding = 0;

 private:
  platform::Memory* previous_;
};

// Graphics that record what they are asked, fill the work bitmap with a mark and may then fail or throw.
class RecordingGraphics : public platform::Graphics {
 public:
  RecordingGraphics() : previous_(platform::InstallGraphics(this)) {}
  ~RecordingGraphics() override { platform::InstallGraphics(previous_); }
  bool StretchBitmap(const char* printerName, const BitmapHeader& source, const void*,
                     const BitmapHeader& destination, void* destinationBits, StretchMode mode) override {
    ++calls;
    name = printerName;
    sourceHeader = source;
    destinationHeader = destination;
    this->mode = mode;
    const size_t bytes = platform::BitmapRowBytes(destination.width, destination.bitsPerPixel) *
                         static_cast<size_t>(destination.height);
    std::memset(destinationBits, 0x3C, bytes);
    if (fail == Fail::kThrow) throw std::runtime_error("graphics");
    return fail == Fail::kNo;
  }
  enum class Fail { kNo, kReturn, kThrow } fail = Fail::kNo;
  int calls = 0;
  std::string name;
  BitmapHeader sourceHeader{};
  BitmapHeader destinationHeader{};
  StretchMode mode = StretchMode::kColourOnColour;

 private:
  platform::Graphics* previous_;
};

// A device-independent bitmap addressed by column and row counted from the top.
struct Dib {
  Dib(int32_t width, int32_t height, uint16_t bitsPerPixel, bool topDown, uint8_t fill = 0)
      : width(width),
        height(height),
        bitsPerPixel(bitsPerPixel),
        topDown(topDown),
        rowBytes(platform::BitmapRowBytes(width, bitsPerPixel)),
        bits(static_cast<size_t>(rowBytes) * height, fill) {}

  size_t RowOffset(int32_t y) const { return static_cast<size_t>(topDown ? y : height - 1 - y) * rowBytes; }
  uint8_t* Row(int32_t y) { return bits.data() + RowOffset(y); }
  const uint8_t* Row(int32_t y) const { return bits.data() + RowOffset(y); }

  void SetIndex(int32_t x, int32_t y, uint32_t index) {
    uint8_t* row = Row(y);
    if (bitsPerPixel == 8) {
      row[x] = static_cast<uint8_t>(index);
    } else if (bitsPerPixel == 4) {
      const int shift = x % 2 == 0 ? 4 : 0;
      row[x / 2] = static_cast<uint8_t>((row[x / 2] & ~(0x0F << shift)) | (index << shift));
    } else {
      const int shift = 7 - x % 8;
      row[x / 8] = static_cast<uint8_t>((row[x / 8] & ~(1 << shift)) | (index << shift));
    }
  }
  uint32_t Index(int32_t x, int32_t y) const {
    const uint8_t* row = Row(y);
    if (bitsPerPixel == 8) return row[x];
    if (bitsPerPixel == 4) return x % 2 == 0 ? row[x / 2] >> 4 : row[x / 2] & 0x0F;
    return (row[x / 8] >> (7 - x % 8)) & 1;
  }
  // Bytes of the pixel at (x, y) in a true-colour bitmap.
  std::vector<uint8_t> Pixel(int32_t x, int32_t y) const {
    const uint8_t* pixel = Row(y) + static_cast<size_t>(x) * (bitsPerPixel / 8);
    return {pixel, pixel + bitsPerPixel / 8};
  }
  void SetPixel(int32_t x, int32_t y, std::vector<uint8_t> bytes) {
    std::memcpy(Row(y) + static_cast<size_t>(x) * (bitsPerPixel / 8), bytes.data(), bytes.size());
  }

  int32_t width, height;
  uint16_t bitsPerPixel;
  bool topDown;
  uint32_t rowBytes;
  std::vector<uint8_t> bits;
};

class StretchTest : public ::testing::Test {
 protected:
  // Stretches source into a new destination that starts filled with the sentinel.
  Dib Stretch(const Dib& source, int32_t width, int32_t height, uint16_t bitsPerPixel,
              const uint8_t* palette = nullptr) {
    Dib destination(width, height, bitsPerPixel, false, kSentinel);
    StretchMaison(spooler_.handle(), OstrelinSize{source.width, source.height}, OstrelinSize{width, height},
                  source.bitsPerPixel, bitsPerPixel, source.bits.data(), destination.bits.data(),
                  source.topDown ? 1 : 0, palette);
    return destination;
  }
  static bool Untouched(const Dib& destination) {
    for (uint8_t byte : destination.bits) {
      if (byte != kSentinel) return false;
    }
    return true;
  }

  OnePrinterSpooler spooler_;
};

// Palette indices survive the round trip through the inverted greys, for every palette depth, both
// row orders and whole-number enlargements (index 1 of a 1-bit source, black, comes out as index 1,
// white in the destination palette).
TEST_F(StretchTest, PaletteSourceKeepsItsIndicesWhenEnlarged) {
  struct Case {
    uint16_t bitsPerPixel;
    int32_t sourceWidth, sourceHeight, factorX, factorY;
  };
  const Case cases[] = {{1, 13, 5, 1, 1}, {1, 13, 5, 2, 3}, {1, 33, 4, 4, 1}, {4, 7, 6, 1, 1},
                        {4, 7, 6, 3, 2},  {8, 9, 5, 1, 1},  {8, 9, 5, 2, 2}};
  for (const Case& c : cases) {
    for (bool topDown : {false, true}) {
      SCOPED_TRACE(testing::Message()
                   << c.bitsPerPixel << " bits " << c.sourceWidth << "x" << c.sourceHeight << " by "
                   << c.factorX << "x" << c.factorY << (topDown ? " top-down" : ""));
      const uint32_t entries = 1u << c.bitsPerPixel;
      Dib source(c.sourceWidth, c.sourceHeight, c.bitsPerPixel, topDown);
      for (int32_t y = 0; y < c.sourceHeight; ++y) {
        for (int32_t x = 0; x < c.sourceWidth; ++x) source.SetIndex(x, y, (x * 7 + y * 3 + x * y) % entries);
      }
      Dib out = Stretch(source, c.sourceWidth * c.factorX, c.sourceHeight * c.factorY, c.bitsPerPixel);
      for (int32_t y = 0; y < out.height; ++y) {
        for (int32_t x = 0; x < out.width; ++x) {
          ASSERT_EQ(out.Index(x, y), source.Index(x / c.factorX, y / c.factorY)) << "at " << x << "," << y;
        }
      }
    }
  }
}

TEST_F(StretchTest, UniformIndex200StaysEverywhereWhenEnlarged) {
  Dib source(3, 2, 8, false, 200);
  const std::pair<int32_t, int32_t> sizes[] = {{3, 2}, {7, 5}, {30, 3}, {100, 41}};
  for (auto [width, height] : sizes) {
    Dib out = Stretch(source, width, height, 8);
    for (int32_t y = 0; y < height; ++y) {
      for (int32_t x = 0; x < width; ++x) ASSERT_EQ(out.Index(x, y), 200u) << width << "x" << height;
    }
  }
}

// The same picture stored top row first or bottom row first gives the same destination, whatever the
// depths and the scale.
TEST_F(StretchTest, TopDownSourceEqualsBottomUpSource) {
  struct Case {
    uint16_t sourceBits, destinationBits;
    int32_t width, height;
  };
  const Case cases[] = {{1, 1, 11, 3}, {8, 8, 7, 13},  {8, 16, 5, 9},
                        {4, 24, 3, 3}, {24, 24, 9, 4}, {24, 8, 6, 6}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.sourceBits << " -> " << c.destinationBits);
    Dib bottomUp(5, 4, c.sourceBits, false);
    Dib topDown(5, 4, c.sourceBits, true);
    for (int32_t y = 0; y < 4; ++y) {
      for (int32_t x = 0; x < 5; ++x) {
        const uint8_t value = static_cast<uint8_t>(x * 50 + y * 13);
        for (Dib* dib : {&bottomUp, &topDown}) {
          if (c.sourceBits == 24) {
            dib->SetPixel(x, y, {value, static_cast<uint8_t>(value / 2), static_cast<uint8_t>(255 - value)});
          } else {
            dib->SetIndex(x, y, value % (1u << c.sourceBits));
          }
        }
      }
    }
    const Dib fromBottomUp = Stretch(bottomUp, c.width, c.height, c.destinationBits);
    const Dib fromTopDown = Stretch(topDown, c.width, c.height, c.destinationBits);
    EXPECT_FALSE(Untouched(fromBottomUp));
    EXPECT_EQ(fromTopDown.bits, fromBottomUp.bits);
  }
}

TEST_F(StretchTest, DestinationDepthChoosesTheBranch) {
  RecordingGraphics graphics;
  const std::pair<uint16_t, StretchMode> cases[] = {
      {1, StretchMode::kHalftoneInverted}, {4, StretchMode::kHalftoneInverted},
      {8, StretchMode::kHalftoneInverted}, {16, StretchMode::kHalftoneInverted},
      {24, StretchMode::kColourOnColour},  {32, StretchMode::kColourOnColour}};
  Dib source(4, 4, 8, false, 7);
  for (auto [bitsPerPixel, mode] : cases) {
    Stretch(source, 4, 4, bitsPerPixel);
    EXPECT_EQ(graphics.mode, mode) << bitsPerPixel << " bits";
  }
  EXPECT_EQ(graphics.calls, 6);
}

// What each branch makes of a uniform index-200 grey (55 in the default palette) and of a black and a
// white pixel shrunk into one: colour on colour keeps the colour of one source pixel; halftone averages
// the two and inverts the result.
TEST_F(StretchTest, BranchesOnTheResampler) {
  Dib grey(2, 2, 8, false, 200);
  EXPECT_EQ(Stretch(grey, 3, 3, 24).Pixel(1, 1), (std::vector<uint8_t>{55, 55, 55}));
  EXPECT_EQ(Stretch(grey, 3, 3, 32).Pixel(2, 0), (std::vector<uint8_t>{55, 55, 55, 0}));
  // 200 >> 3 = 25 in each five-bit component.
  EXPECT_EQ(Stretch(grey, 3, 3, 16).Pixel(0, 2), (std::vector<uint8_t>{0x39, 0x67}));

  Dib whiteBlack(2, 1, 8, false);
  whiteBlack.SetIndex(0, 0, 0);    // white
  whiteBlack.SetIndex(1, 0, 255);  // black
  EXPECT_EQ(Stretch(whiteBlack, 1, 1, 24).Pixel(0, 0), (std::vector<uint8_t>{0, 0, 0}));
  // The mean 128 inverted is 127: 15 in each five-bit component.
  EXPECT_EQ(Stretch(whiteBlack, 1, 1, 16).Pixel(0, 0), (std::vector<uint8_t>{0xEF, 0x3D}));
  EXPECT_EQ(Stretch(whiteBlack, 1, 1, 8).Index(0, 0), 127u);
}

// Area averaging weighs each source pixel by the part of it a destination pixel covers: three pixels
// into two gives weights 2:1 and 1:2. Colour on colour takes the pixel under each destination centre.
TEST_F(StretchTest, ResamplingWeights) {
  Dib source(3, 1, 8, false);
  source.SetIndex(0, 0, 0);
  source.SetIndex(1, 0, 90);
  source.SetIndex(2, 0, 255);
  const Dib halftone = Stretch(source, 2, 1, 8);
  EXPECT_EQ(halftone.Index(0, 0), 30u);   // (2 x 0 + 90) / 3
  EXPECT_EQ(halftone.Index(1, 0), 200u);  // (90 + 2 x 255) / 3

  Dib shrunk = Stretch(source, 2, 1, 24);
  EXPECT_EQ(shrunk.Pixel(0, 0), (std::vector<uint8_t>{255, 255, 255}));  // source 0
  EXPECT_EQ(shrunk.Pixel(1, 0), (std::vector<uint8_t>{0, 0, 0}));        // source 2
  Dib enlarged = Stretch(source, 5, 1, 24);  // centres fall on sources 0, 0, 1, 2, 2
  const uint8_t expected[] = {255, 255, 165, 0, 0};
  for (int32_t x = 0; x < 5; ++x) EXPECT_EQ(enlarged.Pixel(x, 0)[0], expected[x]) << x;
}

// True-colour sources are read in their own formats: 16 bits as 5-5-5, 24 and 32 bits as blue, green,
// red; colour on colour writes them unchanged into a deeper destination.
TEST_F(StretchTest, TrueColourSources) {
  struct Case {
    uint16_t bitsPerPixel;
    std::vector<uint8_t> pixel;
    std::vector<uint8_t> expected;  // 24-bit blue, green, red
  };
  const Case cases[] = {{16, {0xFF, 0x7F}, {255, 255, 255}},
                        {16, {0x1F, 0x00}, {255, 0, 0}},
                        {16, {0x00, 0x7C}, {0, 0, 255}},
                        {24, {10, 20, 30}, {10, 20, 30}},
                        {32, {40, 50, 60, 99}, {40, 50, 60}}};
  for (const Case& c : cases) {
    Dib source(3, 2, c.bitsPerPixel, false);
    for (int32_t y = 0; y < 2; ++y) {
      for (int32_t x = 0; x < 3; ++x) source.SetPixel(x, y, c.pixel);
    }
    EXPECT_EQ(Stretch(source, 4, 3, 24).Pixel(3, 2), c.expected) << c.bitsPerPixel << " bits";
  }
}

// Rows are padded to 4 bytes: what the source holds in its padding changes nothing, and the
// destination's padding is written as zeros.
TEST_F(StretchTest, RowPadding) {
  for (uint16_t bitsPerPixel : {1, 4, 8, 16, 24}) {
    SCOPED_TRACE(bitsPerPixel);
    Dib clean(5, 3, 8, false, 0);
    Dib dirty(5, 3, 8, false, 0xEE);
    for (int32_t y = 0; y < 3; ++y) {
      for (int32_t x = 0; x < 5; ++x) {
        clean.SetIndex(x, y, static_cast<uint32_t>(x * 60));
        dirty.SetIndex(x, y, static_cast<uint32_t>(x * 60));
      }
    }
    const Dib fromClean = Stretch(clean, 5, 3, bitsPerPixel);
    EXPECT_EQ(Stretch(dirty, 5, 3, bitsPerPixel).bits, fromClean.bits);
    const uint32_t usedBytes = (5u * bitsPerPixel + 7) / 8;
    ASSERT_GT(fromClean.rowBytes, usedBytes);
    for (size_t row = 0; row < 3; ++row) {
      for (size_t i = usedBytes; i < fromClean.rowBytes; ++i) {
        EXPECT_EQ(fromClean.bits[row * fromClean.rowBytes + i], 0) << "row " << row << " byte " << i;
      }
    }
  }
}

// The resampler writes whole rows, padding included, over whatever its destination held.
TEST_F(StretchTest, ResamplerWritesWholeRows) {
  BitmapHeader source{};
  source.width = 5;
  source.height = 1;
  source.bitsPerPixel = 8;
  source.paletteEntries = 256;
  for (int i = 0; i < 256; ++i)
    source.palette[i] = {static_cast<uint8_t>(i), static_cast<uint8_t>(i), static_cast<uint8_t>(i), 0};
  BitmapHeader destination{};
  destination.width = 5;
  destination.height = 2;
  destination.bitsPerPixel = 1;
  destination.paletteEntries = 2;
  destination.palette[1] = {255, 255, 255, 0};
  const uint8_t pixels[8] = {255, 0, 255, 0, 255, 77, 77, 77};  // white, black, ... and padding
  std::vector<uint8_t> out(8, kSentinel);
  ASSERT_TRUE(platform::NativeGraphics().StretchBitmap("Engraver", source, pixels, destination, out.data(),
                                                       StretchMode::kColourOnColour));
  EXPECT_EQ(out, (std::vector<uint8_t>{0xA8, 0, 0, 0, 0xA8, 0, 0, 0}));  // 1 0 1 0 1, zero padding
}

// The default source palettes descend from white and the destination palettes ascend from black.
TEST_F(StretchTest, DefaultPalettes) {
  RecordingGraphics graphics;
  struct Case {
    uint16_t bitsPerPixel;
    uint16_t entries;
    int index;
    uint8_t sourceGrey, destinationGrey;
  };
  const Case cases[] = {{1, 2, 0, 255, 0},      {1, 2, 1, 0, 255},    {4, 16, 0, 255, 0},
                        {4, 16, 1, 238, 17},    {4, 16, 15, 0, 255},  {8, 256, 0, 255, 0},
                        {8, 256, 200, 55, 200}, {8, 256, 255, 0, 255}};
  const uint8_t noPaletteGiven[4 * 256] = {9, 9, 9, 0, 9, 9, 9, 9};  // colours but a flag of 0
  for (const Case& c : cases) {
    for (const uint8_t* palette : {static_cast<const uint8_t*>(nullptr), noPaletteGiven}) {
      Dib source(2, 2, c.bitsPerPixel, false);
      Stretch(source, 2, 2, c.bitsPerPixel, palette);
      SCOPED_TRACE(testing::Message() << c.bitsPerPixel << " bits, entry " << c.index);
      ASSERT_EQ(graphics.sourceHeader.paletteEntries, c.entries);
      ASSERT_EQ(graphics.destinationHeader.paletteEntries, c.entries);
      const platform::PaletteEntry& in = graphics.sourceHeader.palette[c.index];
      const platform::PaletteEntry& out = graphics.destinationHeader.palette[c.index];
      EXPECT_EQ(std::vector<int>({in.blue, in.green, in.red, in.reserved}),
                std::vector<int>({c.sourceGrey, c.sourceGrey, c.sourceGrey, 0}));
      EXPECT_EQ(std::vector<int>({out.blue, out.green, out.red, out.reserved}),
                std::vector<int>({c.destinationGrey, c.destinationGrey, c.destinationGrey, 0}));
    }
  }
}

// A palette whose entry 0 has a non-zero flag is copied, colours only, for as many entries as the
// depth has.
TEST_F(StretchTest, GivenPaletteIsCopied) {
  RecordingGraphics graphics;
  std::vector<uint8_t> palette(4 * 256);
  for (size_t i = 0; i < 256; ++i) {
    palette[4 * i] = static_cast<uint8_t>(i);
    palette[4 * i + 1] = static_cast<uint8_t>(i * 3);
    palette[4 * i + 2] = static_cast<uint8_t>(255 - i);
    palette[4 * i + 3] = static_cast<uint8_t>(i + 1);
  }
  for (uint16_t bitsPerPixel : {1, 4, 8}) {
    Dib source(2, 2, bitsPerPixel, false);
    Stretch(source, 2, 2, 24, palette.data());
    const uint16_t entries = static_cast<uint16_t>(1u << bitsPerPixel);
    ASSERT_EQ(graphics.sourceHeader.paletteEntries, entries);
    for (uint16_t i = 0; i < entries; ++i) {
      const platform::PaletteEntry& entry = graphics.sourceHeader.palette[i];
      ASSERT_EQ(std::vector<int>({entry.blue, entry.green, entry.red, entry.reserved}),
                std::vector<int>({palette[4 * i], palette[4 * i + 1], palette[4 * i + 2], 0}))
          << bitsPerPixel << " bits, entry " << i;
    }
  }
}

// The descriptions the graphics receive: the printer's name, sizes, depths, row order.
TEST_F(StretchTest, BitmapDescriptions) {
  RecordingGraphics graphics;
  for (bool topDown : {false, true}) {
    Dib source(6, 4, 24, topDown);
    Stretch(source, 9, 2, 16);
    EXPECT_EQ(graphics.name, "Engraver");
    EXPECT_EQ(graphics.sourceHeader.width, 6);
    EXPECT_EQ(graphics.sourceHeader.height, topDown ? -4 : 4);
    EXPECT_EQ(graphics.sourceHeader.bitsPerPixel, 24);
    EXPECT_EQ(graphics.sourceHeader.paletteEntries, 0);
    EXPECT_EQ(graphics.destinationHeader.width, 9);
    EXPECT_EQ(graphics.destinationHeader.height, 2);
    EXPECT_EQ(graphics.destinationHeader.bitsPerPixel, 16);
    EXPECT_EQ(graphics.destinationHeader.paletteEntries, 0);
  }
}

// Requests that cannot be met leave the destination as it was and never reach the graphics.
TEST_F(StretchTest, RefusedRequestsLeaveTheDestinationUntouched) {
  RecordingGraphics graphics;
  Dib source(4, 4, 8, false, 3);
  Dib destination(4, 4, 8, false, kSentinel);
  struct Case {
    const char* what;
    void* printer;
    OstrelinSize sourceSize, destinationSize;
    uint16_t sourceBits, destinationBits;
    const void* sourcePixels;
    void* destinationPixels;
  };
  void* printer = spooler_.handle();
  int unknownPrinter = 0;
  const Case cases[] = {
      {"unknown printer", &unknownPrinter, {4, 4}, {4, 4}, 8, 8, source.bits.data(), destination.bits.data()},
      {"no printer", nullptr, {4, 4}, {4, 4}, 8, 8, source.bits.data(), destination.bits.data()},
      {"no source", printer, {4, 4}, {4, 4}, 8, 8, nullptr, destination.bits.data()},
      {"zero source width", printer, {0, 4}, {4, 4}, 8, 8, source.bits.data(), destination.bits.data()},
      {"negative source height", printer, {4, -4}, {4, 4}, 8, 8, source.bits.data(), destination.bits.data()},
      {"zero destination height", printer, {4, 4}, {4, 0}, 8, 8, source.bits.data(), destination.bits.data()},
      {"negative destination width",
       printer,
       {4, 4},
       {-4, 4},
       8,
       8,
       source.bits.data(),
       destination.bits.data()},
      {"2-bit source", printer, {4, 4}, {4, 4}, 2, 8, source.bits.data(), destination.bits.data()},
      {"12-bit destination", printer, {4, 4}, {4, 4}, 8, 12, source.bits.data(), destination.bits.data()},
      {"0-bit source", printer, {4, 4}, {4, 4}, 0, 8, source.bits.data(), destination.bits.data()},
  };
  for (const Case& c : cases) {
    StretchMaison(c.printer, c.sourceSize, c.destinationSize, c.sourceBits, c.destinationBits, c.sourcePixels,
                  c.destinationPixels, 0, nullptr);
    EXPECT_TRUE(Untouched(destination)) << c.what;
  }
  EXPECT_EQ(graphics.calls, 0);
  StretchMaison(printer, {4, 4}, {4, 4}, 8, 8, source.bits.data(), nullptr, 0, nullptr);  // no destination
  EXPECT_EQ(graphics.calls, 0);
}

// Graphics that fail, or throw, after writing into their work bitmap leave the destination as it was.
TEST_F(StretchTest, FailedGraphicsLeaveTheDestinationUntouched) {
  RecordingGraphics graphics;
  Dib source(4, 4, 8, false, 3);
  for (auto fail : {RecordingGraphics::Fail::kReturn, RecordingGraphics::Fail::kThrow}) {
    graphics.fail = fail;
    EXPECT_TRUE(Untouched(Stretch(source, 5, 5, 8)));
  }
  graphics.fail = RecordingGraphics::Fail::kNo;
  EXPECT_EQ(Stretch(source, 5, 5, 8).bits, std::vector<uint8_t>(8 * 5, 0x3C));  // rows of 8 bytes
  EXPECT_EQ(graphics.calls, 3);
}

// Every allocation of the stretch and of the resampler is checked: failing each one in turn leaves the
// destination untouched and no block behind, for both branches.
TEST_F(StretchTest, EachFailedAllocationLeavesTheDestinationUntouched) {
  Dib source(6, 5, 8, true, 40);
  for (uint16_t destinationBits : {8, 24}) {
    int failures = 0;
    for (int failAt = 0;; ++failAt) {
      CountingMemory memory;
      memory.failAt = failAt;
      const Dib out = Stretch(source, 9, 7, destinationBits);
      EXPECT_EQ(memory.outstanding, 0) << "allocation " << failAt;
      if (memory.allocations <= failAt) {
        EXPECT_FALSE(Untouched(out));
        break;
      }
      EXPECT_TRUE(Untouched(out)) << destinationBits << " bits, allocation " << failAt;
      ++failures;
    }
    // Three blocks of the stretch itself, and at least the source row and output row of the resampler.
    EXPECT_GE(failures, 5) << destinationBits << " bits";
  }
}

// Without fakes, the printer's name comes from the POSIX spooler stand-in's handle.
TEST(StretchMaisonOnPosix, UsesAPrinterOfTheSpoolerStandIn) {
  const int fd = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  void* printer = ostrelinPosixOpenPrinterFd("Engraver", fd, nullptr);
  ASSERT_NE(printer, nullptr);
  Dib source(3, 2, 1, false);
  source.SetIndex(1, 0, 1);
  source.SetIndex(2, 1, 1);
  Dib destination(6, 4, 1, false, kSentinel);
  StretchMaison(printer, {3, 2}, {6, 4}, 1, 1, source.bits.data(), destination.bits.data(), 0, nullptr);
  for (int32_t y = 0; y < 4; ++y) {
    for (int32_t x = 0; x < 6; ++x)
      EXPECT_EQ(destination.Index(x, y), source.Index(x / 2, y / 2)) << x << "," << y;
  }
  EXPECT_EQ(ostrelinPosixClosePrinter(printer), 0);
  ::close(fd);
}

}  // namespace
}  // namespace ostrelin::test
