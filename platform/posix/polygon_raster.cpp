// The POSIX polygon bitmap: drawing calls are kept and rasterised into the caller's rows on reading.
#include "platform/posix/polygon_raster.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <new>
#include <utility>
#include <vector>

namespace ostrelin::platform::posix {
namespace {

// count elements of T from the memory service, released when it goes out of scope; empty when the
// memory service refuses.
template <class T>
class Block {
 public:
  Block() = default;
  explicit Block(size_t count)
      : data_(count != 0 && count <= SIZE_MAX / sizeof(T)
                  ? static_cast<T*>(memory().Allocate(count * sizeof(T), false))
                  : nullptr),
        count_(data_ != nullptr ? count : 0) {}
  ~Block() {
    if (data_ != nullptr) memory().Free(data_);
  }
  Block(Block&& other) noexcept
      : data_(std::exchange(other.data_, nullptr)), count_(std::exchange(other.count_, 0)) {}
  Block& operator=(Block&& other) noexcept {
    std::swap(data_, other.data_);
    std::swap(count_, other.count_);
    return *this;
  }
  Block(const Block&) = delete;
  Block& operator=(const Block&) = delete;
  T* get() const { return data_; }
  size_t size() const { return count_; }
  T& operator[](size_t i) const { return data_[i]; }

 private:
  T* data_ = nullptr;
  size_t count_ = 0;
};

// Floor division and the matching non-negative remainder, for a positive divisor.
int64_t FloorDiv(int64_t a, int64_t b) { return a >= 0 ? a / b : -((-a + b - 1) / b); }
int64_t FloorMod(int64_t a, int64_t b) { return a - FloorDiv(a, b) * b; }

// An edge as the fill sees it on its rows top <= j < bottom: x = xi + r / dy exactly, 0 <= r < dy,
// advanced by q + m / dy per row.
struct FillEdge {
  int32_t top;
  int32_t bottom;
  int32_t dy;
  int32_t q;
  int32_t m;
  int32_t r;
  int64_t xi;
};

bool CrossesLeftOf(const FillEdge& a, const FillEdge& b) {
  if (a.xi != b.xi) return a.xi < b.xi;
  return static_cast<int64_t>(a.r) * b.dy < static_cast<int64_t>(b.r) * a.dy;
}

// Sets pixels first..last (inclusive, already clipped) of a row.
void SetSpan(uint8_t* row, int64_t first, int64_t last) {
  const int64_t firstByte = first >> 3;
  const int64_t lastByte = last >> 3;
  const auto head = static_cast<uint8_t>(0xFF >> (first & 7));
  const auto tail = static_cast<uint8_t>(0xFF00 >> ((last & 7) + 1));
  if (firstByte == lastByte) {
    row[firstByte] |= static_cast<uint8_t>(head & tail);
    return;
  }
  row[firstByte] |= head;
  if (lastByte > firstByte + 1)
    std::memset(row + firstByte + 1, 0xFF, static_cast<size_t>(lastByte - firstByte - 1));
  row[lastByte] |= tail;
}

// One drawing call: its points and the point count of each of its polygons.
struct DrawCall {
  Block<PolygonPoint> points;
  Block<int32_t> counts;
  int32_t polygons = 0;

  size_t TotalPoints() const {
    size_t total = 0;
    for (int32_t p = 0; p < polygons; ++p) total += static_cast<size_t>(counts[static_cast<size_t>(p)]);
    return total;
  }
  // Calls edge(a, b) for every edge of every ring, the last point of a ring joined to its first.
  template <class Edge>
  void ForEachEdge(Edge edge) const {
    size_t first = 0;
    for (int32_t p = 0; p < polygons; ++p) {
      const auto count = static_cast<size_t>(counts[static_cast<size_t>(p)]);
      const PolygonPoint* ring = points.get() + first;
      for (size_t k = 0; k < count; ++k) edge(ring[k], ring[k + 1 == count ? 0 : k + 1]);
      first += count;
    }
  }
};

class Raster {
 public:
  Raster(uint8_t* bits, int32_t width, int32_t height, int64_t rowBytes)
      : bits_(bits), width_(width), height_(height), rowBytes_(rowBytes) {}

  // Draws one call; false when the work memory cannot be had.
  bool Draw(const DrawCall& call) { return Fill(call) && Outlines(call); }

 private:
  // Rows of the bitmap an outline band covers: small enough to stay in the processor's caches while
  // the edges crossing it are drawn, since an upright edge touches a new row at every pixel.
  static constexpr int64_t kBandRows = 64;

  // An edge of the outline, and the rows its pixels lie on (its ends' rows, both included).
  struct Segment {
    int32_t x0, y0, x1, y1;
    int32_t top, bottom;
  };

  void Set(int64_t x, int64_t y) {
    if (x < 0 || x >= width_ || y < bandFirst_ || y > bandLast_) return;
    bits_[y * rowBytes_ + (x >> 3)] |= static_cast<uint8_t>(0x80 >> (x & 7));
  }

  /* The outlines, band by band from the top: the segments are sorted by their top row, and each band
   * draws the part of every segment that crosses it. */
  bool Outlines(const DrawCall& call) {
    const size_t total = call.TotalPoints();
    Block<Segment> segments(total);
    Block<Segment> active(total);
    if (segments.get() == nullptr || active.get() == nullptr) return false;
    size_t count = 0;
    call.ForEachEdge([&](const PolygonPoint& a, const PolygonPoint& b) {
      const Segment segment{a.x, a.y, b.x, b.y, std::min(a.y, b.y), std::max(a.y, b.y)};
      if (segment.bottom < 0 || segment.top >= height_) return;
      segments[count++] = segment;
    });
    std::sort(segments.get(), segments.get() + count,
              [](const Segment& a, const Segment& b) { return a.top < b.top; });
    size_t next = 0;
    size_t live = 0;
    for (int64_t band = 0; band < height_ && (next < count || live > 0); band += kBandRows) {
      if (live == 0) band = std::max<int64_t>(band, segments[next].top / kBandRows * kBandRows);
      bandFirst_ = band;
      bandLast_ = std::min(band + kBandRows, height_) - 1;
      while (next < count && segments[next].top <= bandLast_) active[live++] = segments[next++];
      size_t kept = 0;
      for (size_t i = 0; i < live; ++i) {
        const Segment& segment = active[i];
        Outline(segment.x0, segment.y0, segment.x1, segment.y1);
        if (segment.bottom > bandLast_) active[kept++] = segment;
      }
      live = kept;
    }
    return true;
  }

  /* Outline of one edge within the band: along the longer axis u (the other axis v), each u from the
   * edge's lower end to its upper end gets the pixel at v = v0 + round((u - u0) dv / du), ties down.
   * With t = (u - u0) dv, that is ceil((2t - du) / 2du) = floor((2t + du - 1) / 2du): the numerator
   * grows by 2dv per step, and since |dv| <= du the quotient moves by at most one, so it is kept as a
   * quotient and remainder without any division. Only the u inside the bitmap whose v may fall in the
   * band are walked. An edge of length 0 sets nothing. */
  void Outline(int64_t x0, int64_t y0, int64_t x1, int64_t y1) {
    const bool xMajor = std::abs(x1 - x0) >= std::abs(y1 - y0);
    int64_t u0 = xMajor ? x0 : y0, v0 = xMajor ? y0 : x0;
    int64_t u1 = xMajor ? x1 : y1, v1 = xMajor ? y1 : x1;
    if (u1 < u0) {
      std::swap(u0, u1);
      std::swap(v0, v1);
    }
    const int64_t du = u1 - u0;
    const int64_t dv = v1 - v0;
    if (du == 0) return;
    int64_t uFirst = std::max<int64_t>(u0, 0);
    int64_t uLast = std::min(u1, (xMajor ? width_ : height_) - 1);
    if (xMajor && dv != 0) {
      // The columns where the edge is within a row of the band, widened by a pixel each way.
      const double a = static_cast<double>(u0) + static_cast<double>(bandFirst_ - 1 - v0) * du / dv;
      const double b = static_cast<double>(u0) + static_cast<double>(bandLast_ + 1 - v0) * du / dv;
      uFirst = std::max(uFirst, static_cast<int64_t>(std::floor(std::min(a, b))) - 1);
      uLast = std::min(uLast, static_cast<int64_t>(std::ceil(std::max(a, b))) + 1);
    } else if (!xMajor) {
      uFirst = std::max(uFirst, bandFirst_);
      uLast = std::min(uLast, bandLast_);
    }
    if (uFirst > uLast) return;
    const int64_t divisor = 2 * du;
    const int64_t numerator = 2 * (uFirst - u0) * dv + du - 1;
    int64_t quotient = FloorDiv(numerator, divisor);
    int64_t remainder = FloorMod(numerator, divisor);
    const int64_t step = 2 * dv;
    for (int64_t u = uFirst;; ++u) {
      const int64_t v = v0 + quotient;
      if (xMajor) {
        Set(u, v);
      } else {
        Set(v, u);
      }
      if (u == uLast) break;
      remainder += step;
      if (remainder >= divisor) {
        remainder -= divisor;
        ++quotient;
      } else if (remainder < 0) {
        remainder += divisor;
        --quotient;
      }
    }
  }

  /* Even-odd interior, one scan line per row j at the pixel centres. The edges that meet row j are
   * those with top <= j < bottom; each meets it at an exact rational x kept as an integer part and a
   * remainder. The active edges are kept sorted by that x with an insertion sort (their order changes
   * little from one row to the next), and between the crossings 2k and 2k + 1 the pixels from
   * ceil(x) to floor(x) are set. */
  bool Fill(const DrawCall& call) {
    const size_t total = call.TotalPoints();
    if (total == 0) return true;
    Block<FillEdge> edges(total);
    if (edges.get() == nullptr) return false;
    size_t edgeCount = 0;
    call.ForEachEdge([&](PolygonPoint a, PolygonPoint b) {
      if (a.y == b.y) return;
      if (b.y < a.y) std::swap(a, b);
      if (a.y >= height_ || b.y <= 0) return;  // no row of the bitmap meets it
      FillEdge& edge = edges[edgeCount++];
      edge.top = a.y;
      edge.bottom = b.y;
      edge.dy = b.y - a.y;
      const int64_t dx = static_cast<int64_t>(b.x) - a.x;
      edge.q = static_cast<int32_t>(FloorDiv(dx, edge.dy));
      edge.m = static_cast<int32_t>(FloorMod(dx, edge.dy));
      // Placed at its first row inside the bitmap.
      const int64_t start = std::max<int64_t>(a.y, 0);
      const int64_t along = (start - a.y) * dx;
      edge.xi = a.x + FloorDiv(along, edge.dy);
      edge.r = static_cast<int32_t>(FloorMod(along, edge.dy));
      edge.top = static_cast<int32_t>(start);
    });
    if (edgeCount == 0) return true;
    std::sort(edges.get(), edges.get() + edgeCount,
              [](const FillEdge& a, const FillEdge& b) { return a.top < b.top; });
    Block<FillEdge> active(edgeCount);
    if (active.get() == nullptr) return false;
    size_t activeCount = 0;
    size_t next = 0;
    for (int64_t j = edges[0].top; j < height_; ++j) {
      if (activeCount == 0) {
        if (next == edgeCount) break;
        j = std::max<int64_t>(j, edges[next].top);
      }
      // Edges that end above this row leave; the rest move down one row (those placed on this row
      // already are).
      size_t kept = 0;
      for (size_t i = 0; i < activeCount; ++i) {
        FillEdge edge = active[i];
        if (edge.bottom <= j) continue;
        edge.xi += edge.q;
        edge.r += edge.m;
        if (edge.r >= edge.dy) {
          edge.r -= edge.dy;
          ++edge.xi;
        }
        active[kept++] = edge;
      }
      activeCount = kept;
      while (next < edgeCount && edges[next].top == j) active[activeCount++] = edges[next++];
      for (size_t i = 1; i < activeCount; ++i) {
        const FillEdge edge = active[i];
        size_t k = i;
        for (; k > 0 && CrossesLeftOf(edge, active[k - 1]); --k) active[k] = active[k - 1];
        active[k] = edge;
      }
      uint8_t* row = bits_ + j * rowBytes_;
      for (size_t i = 0; i + 1 < activeCount; i += 2) {
        const FillEdge& left = active[i];
        const FillEdge& right = active[i + 1];
        const int64_t from = std::max<int64_t>(left.xi + (left.r != 0 ? 1 : 0), 0);
        const int64_t to = std::min<int64_t>(right.xi, width_ - 1);
        if (from <= to) SetSpan(row, from, to);
      }
    }
    return true;
  }

  uint8_t* bits_;
  int64_t width_;
  int64_t height_;
  int64_t rowBytes_;
  int64_t bandFirst_ = 0;  // rows the outline draws on
  int64_t bandLast_ = -1;
};

bool Within(const PolygonPoint& point) {
  return point.x >= -kPolygonCoordinateLimit && point.x <= kPolygonCoordinateLimit &&
         point.y >= -kPolygonCoordinateLimit && point.y <= kPolygonCoordinateLimit;
}

class RasterBitmap final : public PolygonBitmap {
 public:
  RasterBitmap(int32_t width, int32_t height) : width_(width), height_(height) {}

  bool Polygon(const PolygonPoint* points, int32_t count) override { return PolyPolygon(points, &count, 1); }

  bool PolyPolygon(const PolygonPoint* points, const int32_t* counts, int32_t polygons) override {
    if (points == nullptr || counts == nullptr || polygons < 1) return false;
    size_t total = 0;
    for (int32_t p = 0; p < polygons; ++p) {
      if (counts[p] < 2) return false;
      total += static_cast<size_t>(counts[p]);
      if (total > static_cast<size_t>(INT32_MAX)) return false;
    }
    if (!std::all_of(points, points + total, Within)) return false;
    DrawCall call;
    call.points = Block<PolygonPoint>(total);
    call.counts = Block<int32_t>(static_cast<size_t>(polygons));
    if (call.points.get() == nullptr || call.counts.get() == nullptr) return false;
    std::memcpy(call.points.get(), points, total * sizeof(PolygonPoint));
    std::memcpy(call.counts.get(), counts, static_cast<size_t>(polygons) * sizeof(int32_t));
    call.polygons = polygons;
    try {
      calls_.push_back(std::move(call));
    } catch (const std::bad_alloc&) {
      return false;
    }
    return true;
  }

  int32_t RowBytes() const override { return static_cast<int32_t>(PolygonRowBytes(width_)); }

  bool ReadBits(void* bits, size_t size) override {
    const auto rowBytes = static_cast<size_t>(RowBytes());
    const size_t needed = rowBytes * static_cast<size_t>(height_);
    if (bits == nullptr || size < needed) return false;
    auto* rows = static_cast<uint8_t*>(bits);
    std::memset(rows, 0, needed);
    Raster raster(rows, width_, height_, static_cast<int64_t>(rowBytes));
    for (const DrawCall& call : calls_) {
      if (!raster.Draw(call)) return false;
    }
    return true;
  }

 private:
  int32_t width_;
  int32_t height_;
  std::vector<DrawCall> calls_;
};

}  // namespace

PolygonBitmap* NewPolygonBitmap(int32_t width, int32_t height) {
  if (width <= 0 || height <= 0 || width > kPolygonCoordinateLimit || height > kPolygonCoordinateLimit) {
    return nullptr;
  }
  if (PolygonRowBytes(width) * height > INT32_MAX) return nullptr;
  return new (std::nothrow) RasterBitmap(width, height);
}

}  // namespace ostrelin::platform::posix
