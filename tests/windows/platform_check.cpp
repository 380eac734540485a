// Checks of the Windows platform layer, run under Windows or Wine: scratch streams and layer files
// (positioned transfers, deletion on close, the fallback directory), memory, the GDI resampling and
// polygon bitmaps, and the spooler.
// Usage: ostrelin_win_platform_check RESULT_FILE SCRATCH_DIRECTORY
// RESULT_FILE receives one line per check ("PASS name" or "FAIL name: why") and a last line
// "done N failures".
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/win32/gdi_stretch.h"
#include "platform/win32/win32.h"

namespace {

namespace fs = std::filesystem;
using namespace ostrelin::platform;

std::ofstream gResults;
int gFailures = 0;

void Check(bool passed, const std::string& name, const std::string& why = std::string()) {
  if (passed) {
    gResults << "PASS " << name << "\n";
  } else {
    gResults << "FAIL " << name << (why.empty() ? "" : ": " + why) << "\n";
    ++gFailures;
  }
  gResults.flush();
}

// Files in a directory whose names start with prefix (all files for an empty prefix).
std::vector<std::string> FilesIn(const std::string& directory, const std::string& prefix) {
  std::vector<std::string> names;
  std::error_code error;
  for (const auto& entry : fs::directory_iterator(directory, error)) {
    const std::string name = entry.path().filename().string();
    if (name.rfind(prefix, 0) == 0) names.push_back(name);
  }
  return names;
}

std::vector<uint8_t> Pattern(size_t size, uint32_t seed) {
  std::vector<uint8_t> bytes(size);
  uint32_t state = seed;
  for (auto& byte : bytes) {
    state = state * 1664525u + 1013904223u;
    byte = static_cast<uint8_t>(state >> 24);
  }
  return bytes;
}

void SetTmp(const std::string& value) {
  SetEnvironmentVariableA("TMP", value.c_str());
  _putenv_s("TMP", value.c_str());
}

// A stream: what is written reads back after seeking, the end position is its length, and closing it
// leaves nothing in the directory it lived in.
void CheckStream(Stream* stream, const std::string& name, const std::string& directory,
                 const std::string& prefix) {
  if (stream == nullptr) {
    Check(false, name + " opens");
    return;
  }
  Check(true, name + " opens");
  const std::vector<uint8_t> data = Pattern(3'000'001, 17);
  Check(stream->Write(data.data(), data.size()) == data.size(), name + " writes 3,000,001 bytes");
  Check(stream->Seek(0, kSeekEnd) && stream->Tell() == 3'000'001, name + " ends at its length",
        "position " + std::to_string(stream->Tell()));
  std::vector<uint8_t> back(data.size());
  Check(stream->Seek(0, kSeekSet) && stream->Read(back.data(), back.size()) == back.size() && back == data,
        name + " reads back what was written");
  // Writing after reading, then reading the overwritten part again.
  Check(stream->Seek(1000, kSeekSet) && stream->Write("abc", 3) == 3 && stream->Seek(999, kSeekSet) &&
            stream->Read(back.data(), 5) == 5 && std::memcmp(back.data() + 1, "abc", 3) == 0 &&
            back[0] == data[999] && back[4] == data[1003],
        name + " overwrites in place");
  if (!directory.empty()) {
    Check(!FilesIn(directory, prefix).empty(), name + " lives in " + directory);
  }
  Check(CloseStream(stream), name + " closes");
  if (!directory.empty()) {
    Check(FilesIn(directory, prefix).empty(), name + " is deleted when closed");
  }
}

void CheckScratchStreams(const std::string& scratch) {
  SetTmp(scratch);
  CheckStream(files().OpenAnonymousStream(), "anonymous stream", "", "");
  Check(FilesIn(scratch, "").empty(), "anonymous stream leaves nothing in TMP");
  CheckStream(files().OpenNamedScratchStream("osn"), "named scratch stream in TMP", scratch, "osn");

  // TMP unusable: the name is made in the fallback directory, and only when that exists.
  SetTmp(scratch + "\\missing");
  Stream* none = files().OpenNamedScratchStream("osn");
  Check(none == nullptr, "no named scratch stream without TMP and the fallback directory");
  CloseStream(none);
  const std::string fallback = "c:\\T_Atelier";
  const bool created = CreateDirectoryA(fallback.c_str(), nullptr) != 0;
  if (created) {
    CheckStream(files().OpenNamedScratchStream("osn"), "named scratch stream in the fallback directory",
                fallback, "osn");
    RemoveDirectoryA(fallback.c_str());
  } else {
    Check(false, "the fallback directory can be made for the check", std::to_string(GetLastError()));
  }
  SetTmp(scratch);
}

void CheckLayerFiles(const std::string& scratch) {
  SetTmp(scratch);
  std::unique_ptr<LayerFile> file(files().CreateLayerFile("okl"));
  Check(file != nullptr, "layer file is created");
  if (file == nullptr) return;
  Check(FilesIn(scratch, "okl").size() == 1, "layer file lives in the temporary directory");

  const std::vector<uint8_t> first = Pattern(2'500'000, 3);
  const std::vector<uint8_t> second = Pattern(1'000'000, 4);
  Check(file->WriteAt(first.data(), static_cast<uint32_t>(first.size()), 0), "2,500,000 bytes written at 0");
  Check(file->WriteAt(second.data(), static_cast<uint32_t>(second.size()), 4'000'000),
        "1,000,000 bytes written at 4,000,000");
  Check(file->WriteAt(nullptr, 0, 123), "an empty transfer succeeds");
  std::vector<uint8_t> back(first.size());
  Check(file->ReadAt(back.data(), static_cast<uint32_t>(back.size()), 0) && back == first,
        "2,500,000 bytes read back at 0");
  back.assign(1000, 0xAA);
  Check(file->ReadAt(back.data(), 1000, 2'499'500) &&
            std::memcmp(back.data(), first.data() + 2'499'500, 500) == 0 &&
            std::all_of(back.begin() + 500, back.end(), [](uint8_t b) { return b == 0; }),
        "a read across the end of a write sees the gap as zeros");
  back.assign(second.size(), 0);
  Check(file->ReadAt(back.data(), static_cast<uint32_t>(back.size()), 4'000'000) && back == second,
        "1,000,000 bytes read back at 4,000,000");
  Check(!file->ReadAt(back.data(), 10, 4'999'995), "a read beyond the end fails");
  // Offsets beyond 4 GiB reach the file through the high word of the transfer description.
  const uint64_t high = (uint64_t{1} << 32) + 77;
  const char marker[] = "above 4 GiB";
  char markerBack[sizeof marker] = {};
  Check(file->WriteAt(marker, sizeof marker, high) && file->ReadAt(markerBack, sizeof marker, high) &&
            std::memcmp(marker, markerBack, sizeof marker) == 0,
        "a transfer at 4 GiB + 77 is positioned there");
  char low[sizeof marker] = {};
  Check(file->ReadAt(low, sizeof marker, 77) && std::memcmp(low, first.data() + 77, sizeof marker) == 0,
        "the transfer above 4 GiB did not land at 77");
  file.reset();
  Check(FilesIn(scratch, "okl").empty(), "layer file is deleted when closed");

  // No temporary directory: the layer file cannot be made in a directory that does not exist.
  SetTmp(scratch + "\\missing");
  std::unique_ptr<LayerFile> none(files().CreateLayerFile("okl"));
  Check(none == nullptr, "no layer file in a TMP directory that does not exist");
  SetTmp(scratch);
}

void CheckMemory() {
  void* block = memory().Allocate(10'000'000, true);
  Check(block != nullptr, "10,000,000 bytes of global memory");
  if (block != nullptr) {
    const auto* bytes = static_cast<const uint8_t*>(block);
    Check(std::all_of(bytes, bytes + 10'000'000, [](uint8_t b) { return b == 0; }), "zero-filled as asked");
    memory().Free(block);
  }
  Check(memory().AvailablePhysical() > 16u * 1024 * 1024, "available physical memory is reported",
        std::to_string(memory().AvailablePhysical()));
}

BitmapHeader Header(int32_t width, int32_t height, uint16_t bitsPerPixel) {
  BitmapHeader header{};
  header.width = width;
  header.height = height;
  header.bitsPerPixel = bitsPerPixel;
  header.paletteEntries = bitsPerPixel <= 8 ? static_cast<uint16_t>(1u << bitsPerPixel) : 0;
  return header;
}

// Grey ramps as the engine builds them: descending for sources, ascending for destinations.
void Ramp(BitmapHeader& header, bool descending) {
  const int step = 255 / (header.paletteEntries - 1);
  for (int i = 0; i < header.paletteEntries; ++i) {
    const auto level = static_cast<uint8_t>(descending ? 255 - step * i : step * i);
    header.palette[i] = {level, level, level, 0};
  }
}

void CheckGraphics() {
  // A device context of a real device (not a memory context, whose compatible bitmaps are one-bit).
  HDC screen = CreateDCA("DISPLAY", nullptr, nullptr, nullptr);
  Check(screen != nullptr, "a display device context for the resampling");
  if (screen == nullptr) return;

  // An 8-bit source of index 200 everywhere, enlarged through the halftone branch, stays 200.
  {
    BitmapHeader source = Header(5, 4, 8), destination = Header(17, 13, 8);
    Ramp(source, true);
    Ramp(destination, false);
    std::vector<uint8_t> in(BitmapRowBytes(5, 8) * 4, 200), out(BitmapRowBytes(17, 8) * 13, 0);
    const bool done = win32::StretchOnDevice(screen, source, in.data(), destination, out.data(),
                                             StretchMode::kHalftoneInverted);
    bool all200 = true;
    for (int y = 0; y < 13; ++y) {
      for (int x = 0; x < 17; ++x)
        all200 = all200 && out[static_cast<size_t>(y) * BitmapRowBytes(17, 8) + x] == 200;
    }
    Check(done && all200, "8-bit index 200 enlarged through the halftone branch stays 200",
          done ? "first pixel " + std::to_string(out[0]) : "the stretch failed");
  }
  // A 1-bit source: index 1 (black in the default source palette) comes out as index 1 (white in the
  // destination palette), index 0 as 0.
  {
    BitmapHeader source = Header(16, 2, 1), destination = Header(32, 4, 1);
    Ramp(source, true);
    Ramp(destination, false);
    std::vector<uint8_t> in(BitmapRowBytes(16, 1) * 2, 0), out(BitmapRowBytes(32, 1) * 4, 0x55);
    for (int y = 0; y < 2; ++y) in[static_cast<size_t>(y) * 4] = 0xFF;  // the left 8 pixels are index 1
    const bool done = win32::StretchOnDevice(screen, source, in.data(), destination, out.data(),
                                             StretchMode::kHalftoneInverted);
    // Away from the edge between the two halves, which the halftone filter blends.
    bool kept = true;
    for (int y = 0; y < 4; ++y) {
      const uint8_t* row = &out[static_cast<size_t>(y) * 4];
      for (int x = 0; x < 32; ++x) {
        const int index = (row[x / 8] >> (7 - x % 8)) & 1;
        if (x < 14) kept = kept && index == 1;
        if (x >= 18) kept = kept && index == 0;
      }
    }
    char seen[40];
    std::snprintf(seen, sizeof seen, "top row %02x %02x %02x %02x", out[12], out[13], out[14], out[15]);
    Check(done && kept, "1-bit indices keep their index through the halftone branch", seen);
  }
  // 24 bits through the colour-on-colour branch: an enlargement by 2 repeats every pixel, and a
  // top-down source comes out the same way up as the bottom-up one.
  {
    const int32_t sw = 3, sh = 2;
    BitmapHeader bottomUp = Header(sw, sh, 24), topDown = Header(sw, -sh, 24), destination = Header(6, 4, 24);
    const uint32_t sourceRow = BitmapRowBytes(sw, 24), destinationRow = BitmapRowBytes(6, 24);
    std::vector<uint8_t> up(sourceRow * sh, 0), down(sourceRow * sh, 0);
    // Picture row 0 (top) and row 1; pixel (x, y) has blue 10x + 1, green 50y + 2, red 7 + x + y.
    for (int y = 0; y < sh; ++y) {
      for (int x = 0; x < sw; ++x) {
        const uint8_t pixel[3] = {static_cast<uint8_t>(10 * x + 1), static_cast<uint8_t>(50 * y + 2),
                                  static_cast<uint8_t>(7 + x + y)};
        std::memcpy(&up[(sh - 1 - y) * sourceRow + 3 * x], pixel, 3);
        std::memcpy(&down[y * sourceRow + 3 * x], pixel, 3);
      }
    }
    std::vector<uint8_t> fromUp(destinationRow * 4, 0), fromDown(destinationRow * 4, 0);
    const bool done = win32::StretchOnDevice(screen, bottomUp, up.data(), destination, fromUp.data(),
                                             StretchMode::kColourOnColour) &&
                      win32::StretchOnDevice(screen, topDown, down.data(), destination, fromDown.data(),
                                             StretchMode::kColourOnColour);
    bool repeated = true;
    for (int y = 0; y < 4; ++y) {  // destination picture row, from the top
      for (int x = 0; x < 6; ++x) {
        const uint8_t* pixel = &fromUp[(3 - y) * destinationRow + 3 * x];
        repeated = repeated && pixel[0] == 10 * (x / 2) + 1 && pixel[1] == 50 * (y / 2) + 2 &&
                   pixel[2] == 7 + x / 2 + y / 2;
      }
    }
    Check(done && repeated, "24-bit enlargement by 2 repeats every pixel");
    Check(done && fromUp == fromDown, "a top-down source comes out as the bottom-up one");
  }
  // A polygon bitmap on a device's context (as on a printer's): a filled square reads back as 1s, the
  // rest of the bitmap as 0s, rows word-aligned.
  {
    std::unique_ptr<PolygonBitmap> bitmap(graphics().CreatePolygonBitmap(screen, 20, 3));
    const PolygonPoint square[] = {{2, 0}, {9, 0}, {9, 2}, {2, 2}};
    std::vector<uint8_t> bits(4 * 3, 0x5A);
    const bool done = bitmap != nullptr && bitmap->RowBytes() == 4 && bitmap->Polygon(square, 4) &&
                      !bitmap->ReadBits(bits.data(), bits.size() - 1) &&
                      bitmap->ReadBits(bits.data(), bits.size());
    bool expected = true;
    for (int y = 0; y < 3; ++y) {
      const uint8_t row[4] = {0x3F, 0xC0, 0, 0};
      expected = expected && std::memcmp(&bits[static_cast<size_t>(y) * 4], row, 4) == 0;
    }
    Check(done && expected, "a polygon bitmap on a device's context fills a square and nothing else");
  }
  DeleteDC(screen);

  // The service itself needs the printer's device context: a printer that does not exist has none.
  BitmapHeader source = Header(2, 2, 24), destination = Header(4, 4, 24);
  std::vector<uint8_t> in(BitmapRowBytes(2, 24) * 2, 9), out(BitmapRowBytes(4, 24) * 4, 0);
  Check(!graphics().StretchBitmap("no such printer", source, in.data(), destination, out.data(),
                                  StretchMode::kColourOnColour),
        "no stretch without the printer's device context");
}

void CheckSpooler() {
  Check(spooler().OpenPrinter("no such printer", kPrinterAllAccess) == nullptr,
        "a printer that does not exist does not open");
  std::string name;
  Check(!spooler().GetPrinterName(nullptr, &name), "no printer name without a printer handle");
  Check(spooler().CreatePrinterDC("no such printer") == nullptr,
        "no device context for a printer that does not exist");
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s RESULT_FILE SCRATCH_DIRECTORY\n", argc > 0 ? argv[0] : "check");
    return 2;
  }
  gResults.open(argv[1], std::ios::binary | std::ios::trunc);
  const std::string scratch = argv[2];
  fs::create_directories(scratch);
  CheckScratchStreams(scratch);
  CheckLayerFiles(scratch);
  CheckMemory();
  CheckGraphics();
  CheckSpooler();
  Check(FilesIn(scratch, "").empty(), "nothing is left in the scratch directory");
  gResults << "done " << gFailures << " failures\n";
  gResults.flush();
  return gFailures == 0 ? 0 : 1;
}
