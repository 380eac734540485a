// Polygon fills of the graphics service on both platforms: the same random integer polygons are filled
// by the Windows build (GDI, run under Windows or Wine) and written out, then filled again by the Linux
// build (the scan-line rasteriser) and compared pixel by pixel.
// Usage: ostrelin_polygon_crosscheck write RESULT_FILE    (fills every case, writes the bitmaps)
//        ostrelin_polygon_crosscheck compare RESULT_FILE  (fills every case, compares with the file)
// The result file holds one line "case INDEX WIDTH HEIGHT" per case followed by its rows, top first,
// as hexadecimal bytes (RowBytes per row), and a last line "done". compare prints one line per case
// that differs and a last line "compared N cases, M differ"; its exit status is 0 when none differ.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace {

using ostrelin::platform::PolygonPoint;

struct Case {
  int32_t width = 0;
  int32_t height = 0;
  std::vector<PolygonPoint> points;
  std::vector<int32_t> counts;  // one polygon: Polygon; more: PolyPolygon
};

// Segments and small shapes whose pixels depend on the rule at edge ends and at exact half-way points,
// in every direction.
void AddRuleCases(std::vector<Case>& cases) {
  const std::vector<std::vector<PolygonPoint>> shapes = {
      {{0, 0}, {2, 1}},
      {{2, 1}, {0, 0}},
      {{0, 1}, {2, 0}},
      {{2, 0}, {0, 1}},
      {{0, 0}, {1, 2}},
      {{1, 2}, {0, 0}},
      {{1, 0}, {0, 2}},
      {{0, 2}, {1, 0}},
      {{0, 0}, {4, 1}},
      {{0, 0}, {6, 3}},
      {{0, 0}, {3, 0}},
      {{0, 0}, {0, 3}},
      {{0, 0}, {3, 3}},
      {{3, 0}, {0, 3}},
      {{1, 1}, {1, 1}},
      {{0, 0}, {4, 0}, {0, 4}},
      {{0, 0}, {0, 4}, {4, 0}},
      {{0, 0}, {4, 4}, {4, 0}, {0, 4}},
      {{0, 0}, {5, 0}, {5, 3}, {0, 3}},
      {{1, 0}, {6, 2}, {0, 5}},
      {{0, 0}, {7, 1}, {0, 1}},
  };
  for (const auto& shape : shapes) {
    Case c;
    c.width = 8;
    c.height = 6;
    c.points = shape;
    c.counts.push_back(static_cast<int32_t>(shape.size()));
    cases.push_back(c);
  }
}

// Random polygons of 2 to 15 points, some reaching outside the bitmap; one to three of them together.
void AddRandomCases(std::vector<Case>& cases) {
  for (uint32_t seed = 1; seed <= 300; ++seed) {
    std::mt19937 random(seed);
    Case c;
    c.width = 1 + static_cast<int32_t>(random() % 70);
    c.height = 1 + static_cast<int32_t>(random() % 50);
    const int32_t margin = seed % 3 == 0 ? 0 : static_cast<int32_t>(random() % 15);
    const int polygons = 1 + static_cast<int>(random() % 3);
    for (int p = 0; p < polygons; ++p) {
      const int count = 2 + static_cast<int>(random() % 14);
      for (int k = 0; k < count; ++k) {
        c.points.push_back(
            {static_cast<int32_t>(random() % static_cast<uint32_t>(c.width + 2 * margin)) - margin,
             static_cast<int32_t>(random() % static_cast<uint32_t>(c.height + 2 * margin)) - margin});
      }
      c.counts.push_back(count);
    }
    cases.push_back(c);
  }
}

std::vector<Case> Cases() {
  std::vector<Case> cases;
  AddRuleCases(cases);
  AddRandomCases(cases);
  return cases;
}

// The case's bitmap, RowBytes x height bytes; empty when the service failed.
std::vector<uint8_t> Fill(const Case& c, int32_t* rowBytes) {
  std::unique_ptr<ostrelin::platform::PolygonBitmap> bitmap(
      ostrelin::platform::graphics().CreatePolygonBitmap(nullptr, c.width, c.height));
  if (bitmap == nullptr) return {};
  const bool drawn = c.counts.size() == 1 ? bitmap->Polygon(c.points.data(), c.counts[0])
                                          : bitmap->PolyPolygon(c.points.data(), c.counts.data(),
                                                                static_cast<int32_t>(c.counts.size()));
  *rowBytes = bitmap->RowBytes();
  std::vector<uint8_t> bits(static_cast<size_t>(*rowBytes) * static_cast<size_t>(c.height));
  if (!drawn || !bitmap->ReadBits(bits.data(), bits.size())) return {};
  return bits;
}

std::string Describe(const Case& c) {
  std::ostringstream text;
  size_t first = 0;
  for (int32_t count : c.counts) {
    text << "[";
    for (int32_t k = 0; k < count; ++k) {
      text << (k == 0 ? "" : " ") << c.points[first + static_cast<size_t>(k)].x << ","
           << c.points[first + static_cast<size_t>(k)].y;
    }
    text << "]";
    first += static_cast<size_t>(count);
  }
  return text.str();
}

int Write(const char* path) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  const std::vector<Case> cases = Cases();
  for (size_t i = 0; i < cases.size(); ++i) {
    int32_t rowBytes = 0;
    const std::vector<uint8_t> bits = Fill(cases[i], &rowBytes);
    out << "case " << i << " " << cases[i].width << " " << cases[i].height << "\n";
    if (bits.empty()) {
      out << "failed\n";
      continue;
    }
    for (int32_t y = 0; y < cases[i].height; ++y) {
      char hex[3];
      for (int32_t b = 0; b < rowBytes; ++b) {
        std::snprintf(hex, sizeof hex, "%02x", bits[static_cast<size_t>(y) * rowBytes + b]);
        out << hex;
      }
      out << "\n";
    }
  }
  out << "done\n";
  return out.good() ? 0 : 1;
}

// One case as pictures side by side: 'X' set on both, '.' on neither, 'W' only in the file (Windows),
// 'L' only here (Linux).
std::string Picture(const Case& c, const std::vector<std::string>& theirs, const std::vector<uint8_t>& ours,
                    int32_t rowBytes) {
  std::string picture;
  for (int32_t y = 0; y < c.height; ++y) {
    picture += "    ";
    for (int32_t x = 0; x < c.width; ++x) {
      const int mine = (ours[static_cast<size_t>(y) * rowBytes + x / 8] >> (7 - x % 8)) & 1;
      const int other =
          std::stoi(theirs[static_cast<size_t>(y)].substr(static_cast<size_t>(x / 8) * 2, 2), nullptr, 16) >>
              (7 - x % 8) &
          1;
      picture += mine && other ? 'X' : (!mine && !other ? '.' : (other ? 'W' : 'L'));
    }
    picture += "\n";
  }
  return picture;
}

int Compare(const char* path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    std::printf("no result file %s\n", path);
    return 1;
  }
  const std::vector<Case> cases = Cases();
  size_t compared = 0;
  size_t differing = 0;
  std::string line;
  for (size_t i = 0; i < cases.size(); ++i) {
    const Case& c = cases[i];
    std::ostringstream expected;
    expected << "case " << i << " " << c.width << " " << c.height;
    if (!std::getline(in, line) || line != expected.str()) {
      std::printf("case %zu: the file has \"%s\"\n", i, line.c_str());
      return 1;
    }
    std::vector<std::string> rows;
    std::getline(in, line);
    if (line == "failed") {
      std::printf("case %zu: the fill failed on Windows: %s\n", i, Describe(c).c_str());
      ++differing;
      continue;
    }
    rows.push_back(line);
    for (int32_t y = 1; y < c.height && std::getline(in, line); ++y) rows.push_back(line);
    int32_t rowBytes = 0;
    const std::vector<uint8_t> ours = Fill(c, &rowBytes);
    ++compared;
    bool same = !ours.empty() && rows.size() == static_cast<size_t>(c.height);
    for (int32_t y = 0; same && y < c.height; ++y) {
      same = rows[static_cast<size_t>(y)].size() == static_cast<size_t>(rowBytes) * 2;
      for (int32_t b = 0; same && b < rowBytes; ++b) {
        same = std::stoi(rows[static_cast<size_t>(y)].substr(static_cast<size_t>(b) * 2, 2), nullptr, 16) ==
               ours[static_cast<size_t>(y) * rowBytes + b];
      }
    }
    if (!same) {
      ++differing;
      std::printf("case %zu (%d x %d) differs: %s\n", i, c.width, c.height, Describe(c).c_str());
      if (!ours.empty() && rows.size() == static_cast<size_t>(c.height)) {
        std::printf("%s", Picture(c, rows, ours, rowBytes).c_str());
      }
    }
  }
  if (!std::getline(in, line) || line != "done") {
    std::printf("the result file does not end after the last case\n");
    return 1;
  }
  std::printf("compared %zu cases, %zu differ\n", compared, differing);
  return differing == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::strcmp(argv[1], "write") == 0) return Write(argv[2]);
  if (argc == 3 && std::strcmp(argv[1], "compare") == 0) return Compare(argv[2]);
  std::fprintf(stderr, "usage: %s write|compare RESULT_FILE\n", argc > 0 ? argv[0] : "crosscheck");
  return 2;
}
