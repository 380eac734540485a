// The polygon bitmap of the graphics service: small pictures drawn by hand for the edge and vertex
// rules, and random integer polygons against a brute-force reference of the documented rule (even-odd
// at the pixel centres, plus the nearest pixel of every edge along its longer axis, ties to the smaller
// row or column, nothing for an edge of length 0).
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "support/fakes.h"

namespace ostrelin::test {
namespace {

using platform::PolygonPoint;
using Ring = std::vector<PolygonPoint>;
using Picture = std::vector<std::string>;  // rows from the top, 'X' for 1 and '.' for 0

// One drawing call: Polygon for a single ring unless asked, else PolyPolygon.
struct Call {
  std::vector<Ring> rings;
  bool polyPolygon = false;
};

std::unique_ptr<platform::PolygonBitmap> NewBitmap(int32_t width, int32_t height) {
  return std::unique_ptr<platform::PolygonBitmap>(
      platform::graphics().CreatePolygonBitmap(nullptr, width, height));
}

bool Draw(platform::PolygonBitmap& bitmap, const Call& call) {
  std::vector<PolygonPoint> points;
  std::vector<int32_t> counts;
  for (const Ring& ring : call.rings) {
    points.insert(points.end(), ring.begin(), ring.end());
    counts.push_back(static_cast<int32_t>(ring.size()));
  }
  if (call.rings.size() == 1 && !call.polyPolygon) return bitmap.Polygon(points.data(), counts[0]);
  return bitmap.PolyPolygon(points.data(), counts.data(), static_cast<int32_t>(counts.size()));
}

// Draws the calls into a new bitmap and reads it back as a picture.
Picture Render(int32_t width, int32_t height, const std::vector<Call>& calls) {
  auto bitmap = NewBitmap(width, height);
  EXPECT_NE(bitmap, nullptr);
  if (bitmap == nullptr) return {};
  for (const Call& call : calls) EXPECT_TRUE(Draw(*bitmap, call));
  const auto stride = static_cast<size_t>(bitmap->RowBytes());
  std::vector<uint8_t> bits(stride * static_cast<size_t>(height), 0xA5);
  EXPECT_TRUE(bitmap->ReadBits(bits.data(), bits.size()));
  Picture picture(static_cast<size_t>(height), std::string(static_cast<size_t>(width), '.'));
  for (int32_t y = 0; y < height; ++y) {
    for (int32_t x = 0; x < width; ++x) {
      if ((bits[static_cast<size_t>(y) * stride + static_cast<size_t>(x / 8)] >> (7 - x % 8)) & 1) {
        picture[static_cast<size_t>(y)][static_cast<size_t>(x)] = 'X';
      }
    }
    // Padding bits beyond the width stay 0.
    for (int32_t x = width; x < static_cast<int32_t>(stride * 8); ++x) {
      EXPECT_EQ((bits[static_cast<size_t>(y) * stride + static_cast<size_t>(x / 8)] >> (7 - x % 8)) & 1, 0)
          << "padding bit " << x << " of row " << y;
    }
  }
  return picture;
}

// Reference: is the pixel centre (i, j) inside the rings by the even-odd rule? Each edge that spans
// the row (half-open: one end at or above j, the other below) and meets it strictly right of i flips.
bool InsideEvenOdd(const std::vector<Ring>& rings, int64_t i, int64_t j) {
  bool inside = false;
  for (const Ring& ring : rings) {
    for (size_t k = 0; k < ring.size(); ++k) {
      const PolygonPoint a = ring[k];
      const PolygonPoint b = ring[(k + 1) % ring.size()];
      if ((a.y <= j) == (b.y <= j)) continue;
      // The crossing x = a.x + (j - a.y)(b.x - a.x) / (b.y - a.y) compared with i, without division.
      const int64_t dy = b.y - a.y;
      const int64_t beyond = (a.x - i) * dy + (j - a.y) * (int64_t{b.x} - a.x);
      if (dy > 0 ? beyond > 0 : beyond < 0) inside = !inside;
    }
  }
  return inside;
}

// Reference: is (i, j) the outline pixel of the edge a-b? Along the longer axis u, the pixel at u has
// v with v - 1/2 < exact v(u) <= v + 1/2, checked in integers scaled by 2|du|.
bool OnOutline(PolygonPoint a, PolygonPoint b, int64_t i, int64_t j) {
  const bool xMajor = std::llabs(int64_t{b.x} - a.x) >= std::llabs(int64_t{b.y} - a.y);
  const int64_t u = xMajor ? i : j, v = xMajor ? j : i;
  const int64_t u0 = xMajor ? a.x : a.y, v0 = xMajor ? a.y : a.x;
  const int64_t u1 = xMajor ? b.x : b.y, v1 = xMajor ? b.y : b.x;
  if (u < std::min(u0, u1) || u > std::max(u0, u1)) return false;
  const int64_t du = u1 - u0;
  if (du == 0) return false;
  const int64_t sign = du > 0 ? 1 : -1;
  const int64_t twiceExact = 2 * (v0 * du + (u - u0) * (v1 - v0)) * sign;  // 2 |du| v(u)
  const int64_t scale = du * sign;
  return (2 * v - 1) * scale < twiceExact && twiceExact <= (2 * v + 1) * scale;
}

Picture Reference(int32_t width, int32_t height, const std::vector<Call>& calls) {
  Picture picture(static_cast<size_t>(height), std::string(static_cast<size_t>(width), '.'));
  for (int32_t j = 0; j < height; ++j) {
    for (int32_t i = 0; i < width; ++i) {
      bool set = false;
      for (const Call& call : calls) {
        set = set || InsideEvenOdd(call.rings, i, j);
        for (const Ring& ring : call.rings) {
          for (size_t k = 0; k < ring.size() && !set; ++k)
            set = OnOutline(ring[k], ring[(k + 1) % ring.size()], i, j);
        }
      }
      if (set) picture[static_cast<size_t>(j)][static_cast<size_t>(i)] = 'X';
    }
  }
  return picture;
}

struct PictureCase {
  const char* name;
  std::vector<Call> calls;
  Picture expected;
};

TEST(PolygonRaster, EdgeAndVertexRules) {
  const Ring square3 = {{0, 0}, {3, 0}, {3, 3}, {0, 3}};
  const std::vector<PictureCase> cases = {
      {"a segment half-way between two rows takes the upper one",
       {{{{{0, 0}, {2, 1}}}}},
       {"XX.",  //
        "..X"}},
      {"the same going up",
       {{{{{0, 1}, {2, 0}}}}},
       {".XX",  //
        "X.."}},
      {"a segment half-way between two columns takes the left one",
       {{{{{0, 0}, {1, 2}}}}},
       {"X.",  //
        "X.",  //
        ".X"}},
      {"the same segment drawn the other way",
       {{{{{1, 2}, {0, 0}}}}},
       {"X.",  //
        "X.",  //
        ".X"}},
      {"two equal points draw nothing",
       {{{{{1, 1}, {1, 1}}}}},
       {"...",  //
        "...",  //
        "..."}},
      {"a triangle: its boundary and inside",
       {{{{{0, 0}, {4, 0}, {0, 4}}}}},
       {"XXXXX",  //
        "XXXX.",  //
        "XXX..",  //
        "XX...",  //
        "X...."}},
      {"a self-crossing bow: alternate filling",
       {{{{{0, 0}, {4, 4}, {4, 0}, {0, 4}}}}},
       {"X...X",  //
        "XX.XX",  //
        "XXXXX",  //
        "XX.XX",  //
        "X...X"}},
      {"a ring of two squares",
       {{{{{0, 0}, {6, 0}, {6, 6}, {0, 6}}, {{2, 2}, {4, 2}, {4, 4}, {2, 4}}}, true}},
       {"XXXXXXX",  //
        "XXXXXXX",  //
        "XXXXXXX",  //
        "XXX.XXX",  //
        "XXXXXXX",  //
        "XXXXXXX",  //
        "XXXXXXX"}},
      {"one square twice in one call: only its outline",
       {{{square3, square3}, true}},
       {"XXXX",  //
        "X..X",  //
        "X..X",  //
        "XXXX"}},
      {"one square in two calls: the calls add up",
       {{{square3}}, {{square3}}},
       {"XXXX",  //
        "XXXX",  //
        "XXXX",  //
        "XXXX"}},
      {"a polygon around the whole bitmap fills it",
       {{{{{-5, -5}, {20, -5}, {20, 20}, {-5, 20}}}}},
       {"XXX",  //
        "XXX"}},
      {"a polygon left of the bitmap sets nothing",
       {{{{{-10, -10}, {-2, -10}, {-2, 10}, {-10, 10}}}}},
       {"...",  //
        "..."}},
      {"a long thin sliver: one pixel per column",
       {{{{{0, 0}, {7, 1}, {0, 1}}}}},
       {"XXXX....",  //
        "XXXXXXXX"}},
  };
  for (const PictureCase& c : cases) {
    SCOPED_TRACE(c.name);
    const auto width = static_cast<int32_t>(c.expected[0].size());
    const auto height = static_cast<int32_t>(c.expected.size());
    EXPECT_EQ(Render(width, height, c.calls), c.expected);
    // The hand-drawn pictures follow the documented rule that the random polygons are checked against.
    EXPECT_EQ(Reference(width, height, c.calls), c.expected);
  }
}

// A random ring of count points within [-margin, size + margin) on both axes.
Ring RandomRing(std::mt19937& random, int32_t width, int32_t height, int count, int32_t margin) {
  std::uniform_int_distribution<int32_t> xs(-margin, width + margin - 1);
  std::uniform_int_distribution<int32_t> ys(-margin, height + margin - 1);
  Ring ring;
  for (int k = 0; k < count; ++k) ring.push_back({xs(random), ys(random)});
  return ring;
}

TEST(PolygonRaster, RandomPolygonsMatchTheReference) {
  for (uint32_t seed = 1; seed <= 400; ++seed) {
    std::mt19937 random(seed);
    const int32_t width = 1 + static_cast<int32_t>(random() % 70);
    const int32_t height =
        1 + static_cast<int32_t>(random() % (seed % 4 == 0 ? 200 : 50));  // several outline bands
    const int32_t margin = seed % 3 == 0 ? 0 : static_cast<int32_t>(random() % 15);
    std::vector<Call> calls(1 + random() % 2);
    for (Call& call : calls) {
      call.rings.resize(1 + random() % 3);
      call.polyPolygon = call.rings.size() > 1 || random() % 2 == 0;
      for (Ring& ring : call.rings)
        ring = RandomRing(random, width, height, 2 + static_cast<int>(random() % 14), margin);
    }
    const Picture got = Render(width, height, calls);
    const Picture want = Reference(width, height, calls);
    ASSERT_EQ(got, want) << "seed " << seed << ", " << width << " x " << height;
  }
}

TEST(PolygonRaster, LongEdgesAcrossALargeBitmap) {
  // Edges far longer than the bitmap, starting and ending well outside it, in every direction.
  for (uint32_t seed = 1; seed <= 40; ++seed) {
    std::mt19937 random(seed);
    const int32_t width = 100 + static_cast<int32_t>(random() % 200);
    const int32_t height = 100 + static_cast<int32_t>(random() % 120);
    std::vector<Call> calls(1);
    calls[0].rings.push_back(RandomRing(random, width, height, 3 + static_cast<int>(random() % 6), 3000));
    ASSERT_EQ(Render(width, height, calls), Reference(width, height, calls)) << "seed " << seed;
  }
}

TEST(PolygonRaster, VerticesAnywhereWithinTheLimit) {
  constexpr int32_t kLimit = platform::kPolygonCoordinateLimit;
  for (uint32_t seed = 1; seed <= 40; ++seed) {
    std::mt19937 random(seed);
    std::uniform_int_distribution<int32_t> anywhere(-kLimit, kLimit);
    std::vector<Call> calls(1);
    calls[0].rings.resize(1);
    for (int k = 0; k < 3 + static_cast<int>(seed % 5); ++k) {
      // Some vertices near the bitmap, so that edges cross it at every slope.
      const bool near = random() % 2 == 0;
      calls[0].rings[0].push_back({near ? static_cast<int32_t>(random() % 40) : anywhere(random),
                                   near ? static_cast<int32_t>(random() % 30) : anywhere(random)});
    }
    ASSERT_EQ(Render(40, 30, calls), Reference(40, 30, calls)) << "seed " << seed;
  }
}

TEST(PolygonRaster, RowsAreWordAligned) {
  const std::pair<int32_t, int32_t> widths[] = {{1, 2}, {16, 2}, {17, 4}, {33, 6}, {1000, 126}};
  for (const auto& [width, bytes] : widths) {
    auto bitmap = NewBitmap(width, 3);
    ASSERT_NE(bitmap, nullptr);
    EXPECT_EQ(bitmap->RowBytes(), bytes) << width;
    EXPECT_EQ(platform::PolygonRowBytes(width), bytes) << width;
  }
}

TEST(PolygonRaster, RefusesWhatItCannotDraw) {
  EXPECT_EQ(NewBitmap(0, 5), nullptr);
  EXPECT_EQ(NewBitmap(5, -1), nullptr);
  EXPECT_EQ(NewBitmap(platform::kPolygonCoordinateLimit + 1, 1), nullptr);
  EXPECT_EQ(NewBitmap(1 << 20, 1 << 20), nullptr);  // 2^37 bytes
  auto bitmap = NewBitmap(8, 8);
  ASSERT_NE(bitmap, nullptr);
  const PolygonPoint one[] = {{1, 1}};
  EXPECT_FALSE(bitmap->Polygon(one, 1));
  const PolygonPoint far[] = {{0, 0}, {platform::kPolygonCoordinateLimit + 1, 0}, {0, 5}};
  EXPECT_FALSE(bitmap->Polygon(far, 3));
  const PolygonPoint triangle[] = {{0, 0}, {7, 0}, {0, 7}, {1, 1}, {2, 2}};
  const int32_t badCounts[] = {3, 1};
  EXPECT_FALSE(bitmap->PolyPolygon(triangle, badCounts, 2));
  EXPECT_FALSE(bitmap->PolyPolygon(triangle, badCounts, 0));
  // Refused calls draw nothing, and a buffer smaller than the bitmap is refused.
  std::vector<uint8_t> bits(static_cast<size_t>(bitmap->RowBytes()) * 8, 0xFF);
  EXPECT_FALSE(bitmap->ReadBits(bits.data(), bits.size() - 1));
  ASSERT_TRUE(bitmap->ReadBits(bits.data(), bits.size()));
  EXPECT_EQ(bits, std::vector<uint8_t>(bits.size(), 0));
}

TEST(PolygonRaster, WorkMemoryComesFromTheMemoryService) {
  auto bitmap = NewBitmap(64, 64);
  ASSERT_NE(bitmap, nullptr);
  const PolygonPoint square[] = {{0, 0}, {63, 0}, {63, 63}, {0, 63}};
  {
    FailingMemory refuse(1);
    EXPECT_FALSE(bitmap->Polygon(square, 4));
  }
  ASSERT_TRUE(bitmap->Polygon(square, 4));
  std::vector<uint8_t> bits(static_cast<size_t>(bitmap->RowBytes()) * 64);
  {
    FailingMemory refuse(1);
    EXPECT_FALSE(bitmap->ReadBits(bits.data(), bits.size()));
    EXPECT_EQ(refuse.outstanding, 0);
  }
  ASSERT_TRUE(bitmap->ReadBits(bits.data(), bits.size()));
  EXPECT_EQ(bits[0], 0xFF);
  EXPECT_EQ(bits[bits.size() - 1], 0xFF);
}

}  // namespace
}  // namespace ostrelin::test
