// Windows graphics: bitmaps resampled with GDI on memory contexts compatible with the printer's device
// context, then packed into the destination's format; polygons filled into one-bit memory bitmaps.
#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "platform/platform.h"
#include "platform/win32/gdi_stretch.h"
#include "platform/win32/win32.h"

namespace ostrelin::platform {
namespace win32 {
namespace {

// A BITMAPINFO with room for a full palette.
struct BitmapInfo {
  BITMAPINFOHEADER header;
  RGBQUAD colours[256];
};

bool Describable(const BitmapHeader& header) {
  return header.width > 0 && header.height != 0 && header.paletteEntries <= 256 &&
         BitmapRowBytes(header.width, header.bitsPerPixel) != 0;
}

int32_t Rows(const BitmapHeader& header) { return header.height < 0 ? -header.height : header.height; }

// The GDI description of a bitmap; palette depths carry their palette entries.
std::unique_ptr<BitmapInfo> Describe(const BitmapHeader& header, int32_t height) {
  auto info = std::make_unique<BitmapInfo>();
  std::memset(info.get(), 0, sizeof(BitmapInfo));
  info->header.biSize = sizeof(BITMAPINFOHEADER);
  info->header.biWidth = header.width;
  info->header.biHeight = height;
  info->header.biPlanes = 1;
  info->header.biBitCount = header.bitsPerPixel;
  info->header.biCompression = BI_RGB;
  if (header.bitsPerPixel <= 8) {
    info->header.biClrUsed = header.paletteEntries;
    for (int i = 0; i < header.paletteEntries; ++i) {
      const PaletteEntry& entry = header.palette[i];
      info->colours[i] = RGBQUAD{entry.blue, entry.green, entry.red, 0};
    }
  }
  return info;
}

// A memory context compatible with a device, with one bitmap selected into it until it goes.
class MemoryContext {
 public:
  explicit MemoryContext(HDC device) : dc_(CreateCompatibleDC(device)) {}
  ~MemoryContext() {
    Deselect();
    if (dc_ != nullptr) DeleteDC(dc_);
  }
  MemoryContext(const MemoryContext&) = delete;
  MemoryContext& operator=(const MemoryContext&) = delete;
  HDC get() const { return dc_; }
  bool Select(HBITMAP bitmap) {
    if (dc_ == nullptr || bitmap == nullptr) return false;
    const HGDIOBJ previous = SelectObject(dc_, bitmap);
    if (previous == nullptr || previous == HGDI_ERROR) return false;
    if (previous_ == nullptr) previous_ = previous;
    return true;
  }
  // Puts the context's own bitmap back, so that the selected one may be read or deleted.
  void Deselect() {
    if (dc_ != nullptr && previous_ != nullptr) SelectObject(dc_, previous_);
    previous_ = nullptr;
  }

 private:
  HDC dc_;
  HGDIOBJ previous_ = nullptr;
};

struct BitmapDeleter {
  void operator()(HBITMAP__* bitmap) const { DeleteObject(bitmap); }
};
using Bitmap = std::unique_ptr<HBITMAP__, BitmapDeleter>;

// The palette entry nearest to a colour (squared distance; the lowest index on a tie).
uint8_t NearestEntry(const BitmapHeader& header, uint8_t blue, uint8_t green, uint8_t red) {
  int best = 0;
  int bestDistance = INT32_MAX;
  const int entries =
      header.paletteEntries < (1 << header.bitsPerPixel) ? header.paletteEntries : (1 << header.bitsPerPixel);
  for (int i = 0; i < entries; ++i) {
    const PaletteEntry& entry = header.palette[i];
    const int db = entry.blue - blue, dg = entry.green - green, dr = entry.red - red;
    const int distance = db * db + dg * dg + dr * dr;
    if (distance < bestDistance) {
      best = i;
      bestDistance = distance;
    }
  }
  return static_cast<uint8_t>(best);
}

// One row of 32-bit pixels (blue, green, red, unused) in the destination's format. Palette depths take
// the nearest entry of the destination's own palette: reading a palette format back with GetDIBits
// would replace that palette with a synthesised one, and blitting into a palette bitmap matches
// colours only approximately. 16 bits keep the top five bits of each component.
void PackRow(const BitmapHeader& header, const uint8_t* pixels, uint8_t* row) {
  std::memset(row, 0, BitmapRowBytes(header.width, header.bitsPerPixel));
  uint8_t cache[3] = {0, 0, 0};
  uint8_t cachedEntry = header.bitsPerPixel <= 8 ? NearestEntry(header, 0, 0, 0) : 0;
  for (int32_t x = 0; x < header.width; ++x) {
    const uint8_t* pixel = pixels + 4 * static_cast<size_t>(x);
    if (header.bitsPerPixel <= 8 && std::memcmp(pixel, cache, 3) != 0) {
      std::memcpy(cache, pixel, 3);
      cachedEntry = NearestEntry(header, pixel[0], pixel[1], pixel[2]);
    }
    switch (header.bitsPerPixel) {
      case 1:
        row[x / 8] |= static_cast<uint8_t>((cachedEntry & 1u) << (7 - x % 8));
        break;
      case 4:
        row[x / 2] |= static_cast<uint8_t>((cachedEntry & 0x0Fu) << (x % 2 == 0 ? 4 : 0));
        break;
      case 8:
        row[x] = cachedEntry;
        break;
      case 16: {
        const uint32_t value = (pixel[2] >> 3) << 10 | (pixel[1] >> 3) << 5 | pixel[0] >> 3;
        row[2 * x] = static_cast<uint8_t>(value);
        row[2 * x + 1] = static_cast<uint8_t>(value >> 8);
        break;
      }
      default: {
        uint8_t* out = row + static_cast<size_t>(x) * (header.bitsPerPixel / 8);
        out[0] = pixel[0];
        out[1] = pixel[1];
        out[2] = pixel[2];
        break;
      }
    }
  }
}

}  // namespace

bool StretchOnDevice(HDC device, const BitmapHeader& source, const void* sourceBits,
                     const BitmapHeader& destination, void* destinationBits, StretchMode mode) {
  if (device == nullptr || sourceBits == nullptr || destinationBits == nullptr || !Describable(source) ||
      !Describable(destination) || destination.height < 0) {
    return false;
  }
  const int32_t sourceRows = Rows(source);
  const int32_t width = destination.width;
  const int32_t rows = destination.height;
  const auto sourceInfo = Describe(source, source.height);

  // The source as a device bitmap, initialised from its bits.
  MemoryContext sourceContext(device);
  Bitmap sourceBitmap(CreateDIBitmap(device, &sourceInfo->header, CBM_INIT, sourceBits,
                                     reinterpret_cast<const BITMAPINFO*>(sourceInfo.get()), DIB_RGB_COLORS));
  if (!sourceContext.Select(sourceBitmap.get())) return false;

  // The resampled picture at the destination's size, in 32 bits.
  BitmapHeader full{};
  full.width = width;
  full.height = rows;
  full.bitsPerPixel = 32;
  const auto fullInfo = Describe(full, rows);
  MemoryContext pictureContext(device);
  void* picturePixels = nullptr;
  Bitmap picture(CreateDIBSection(device, reinterpret_cast<const BITMAPINFO*>(fullInfo.get()), DIB_RGB_COLORS,
                                  &picturePixels, nullptr, 0));
  if (!pictureContext.Select(picture.get())) return false;

  if (mode == StretchMode::kHalftoneInverted) {
    MemoryContext middleContext(device);
    void* middlePixels = nullptr;
    Bitmap middle(CreateDIBSection(device, reinterpret_cast<const BITMAPINFO*>(fullInfo.get()),
                                   DIB_RGB_COLORS, &middlePixels, nullptr, 0));
    if (!middleContext.Select(middle.get())) return false;
    if (SetStretchBltMode(middleContext.get(), HALFTONE) == 0) return false;
    SetBrushOrgEx(middleContext.get(), 0, 0, nullptr);  // HALFTONE needs the brush origin set after it
    if (!StretchBlt(middleContext.get(), 0, 0, width, rows, sourceContext.get(), 0, 0, source.width,
                    sourceRows, SRCCOPY) ||
        !BitBlt(pictureContext.get(), 0, 0, width, rows, middleContext.get(), 0, 0, NOTSRCCOPY)) {
      return false;
    }
  } else {
    if (SetStretchBltMode(pictureContext.get(), COLORONCOLOR) == 0) return false;
    if (!StretchBlt(pictureContext.get(), 0, 0, width, rows, sourceContext.get(), 0, 0, source.width,
                    sourceRows, SRCCOPY)) {
      return false;
    }
  }
  GdiFlush();

  // The picture's rows (bottom row first); the bitmap may not stay selected while it is read.
  pictureContext.Deselect();
  std::vector<uint8_t> pixels(static_cast<size_t>(width) * 4 * static_cast<size_t>(rows));
  if (GetDIBits(device, picture.get(), 0, static_cast<UINT>(rows), pixels.data(),
                reinterpret_cast<BITMAPINFO*>(fullInfo.get()), DIB_RGB_COLORS) != rows) {
    return false;
  }
  const uint32_t rowBytes = BitmapRowBytes(width, destination.bitsPerPixel);
  auto* out = static_cast<uint8_t*>(destinationBits);
  for (int32_t y = 0; y < rows; ++y) {
    PackRow(destination, &pixels[static_cast<size_t>(y) * width * 4],
            out + static_cast<size_t>(y) * rowBytes);
  }
  return true;
}

}  // namespace win32

namespace {

struct DeviceContextDeleter {
  void operator()(HDC__* dc) const { DeleteDC(dc); }
};

static_assert(sizeof(POINT) == sizeof(PolygonPoint) && offsetof(POINT, x) == offsetof(PolygonPoint, x) &&
                  offsetof(POINT, y) == offsetof(PolygonPoint, y),
              "a polygon point is laid out as a GDI point");
static_assert(sizeof(INT) == sizeof(int32_t), "polygon counts are GDI integers");

/* A monochrome device bitmap selected into a memory context made from the printer's context (or the
 * screen's), with a white pen of width 0 (one pixel) and the white stock brush, alternate filling, and
 * the whole bitmap cleared to black first: on a monochrome bitmap white is 1 and black 0. The rows are
 * read with GetBitmapBits, word-aligned and top row first. */
class GdiPolygonBitmap final : public PolygonBitmap {
 public:
  GdiPolygonBitmap(HDC screen, HDC memory, int32_t width, int32_t height)
      : screen_(screen), memory_(memory), width_(width), height_(height) {}
  ~GdiPolygonBitmap() override {
    if (oldPen_ != nullptr) SelectObject(memory_, oldPen_);
    if (oldBrush_ != nullptr) SelectObject(memory_, oldBrush_);
    if (oldBitmap_ != nullptr) SelectObject(memory_, oldBitmap_);
    if (pen_ != nullptr) DeleteObject(pen_);
    if (bitmap_ != nullptr) DeleteObject(bitmap_);
    if (memory_ != nullptr) DeleteDC(memory_);
    if (screen_ != nullptr) ReleaseDC(nullptr, screen_);
  }
  GdiPolygonBitmap(const GdiPolygonBitmap&) = delete;
  GdiPolygonBitmap& operator=(const GdiPolygonBitmap&) = delete;

  // Makes and selects the bitmap, the pen and the brush; false when any of them cannot be had.
  bool Prepare() {
    bitmap_ = CreateCompatibleBitmap(memory_, width_, height_);
    if (bitmap_ == nullptr) return false;
    oldBitmap_ = Select(bitmap_);
    if (oldBitmap_ == nullptr) return false;
    BITMAP header{};
    if (GetObjectA(bitmap_, sizeof header, &header) != sizeof header || header.bmBitsPixel != 1 ||
        header.bmPlanes != 1) {
      return false;
    }
    pen_ = CreatePen(PS_SOLID, 0, RGB(255, 255, 255));
    if (pen_ == nullptr) return false;
    oldPen_ = Select(pen_);
    oldBrush_ = Select(GetStockObject(WHITE_BRUSH));
    if (oldPen_ == nullptr || oldBrush_ == nullptr) return false;
    return SetPolyFillMode(memory_, ALTERNATE) != 0 && PatBlt(memory_, 0, 0, width_, height_, BLACKNESS) != 0;
  }

  bool Polygon(const PolygonPoint* points, int32_t count) override {
    if (points == nullptr || count < 2 || !Within(points, count)) return false;
    return ::Polygon(memory_, reinterpret_cast<const POINT*>(points), count) != 0;
  }

  bool PolyPolygon(const PolygonPoint* points, const int32_t* counts, int32_t polygons) override {
    if (points == nullptr || counts == nullptr || polygons < 1) return false;
    int64_t total = 0;
    for (int32_t p = 0; p < polygons; ++p) {
      if (counts[p] < 2) return false;
      total += counts[p];
      if (total > INT32_MAX) return false;
    }
    if (!Within(points, static_cast<int32_t>(total))) return false;
    return ::PolyPolygon(memory_, reinterpret_cast<const POINT*>(points),
                         reinterpret_cast<const INT*>(counts), polygons) != 0;
  }

  int32_t RowBytes() const override { return static_cast<int32_t>(PolygonRowBytes(width_)); }

  bool ReadBits(void* bits, size_t size) override {
    const int64_t needed = PolygonRowBytes(width_) * height_;
    if (bits == nullptr || static_cast<int64_t>(size) < needed) return false;
    GdiFlush();
    BITMAP header{};
    if (GetObjectA(bitmap_, sizeof header, &header) != sizeof header || header.bmWidthBytes != RowBytes()) {
      return false;
    }
    return GetBitmapBits(bitmap_, static_cast<LONG>(needed), bits) == needed;
  }

 private:
  HGDIOBJ Select(HGDIOBJ object) {
    const HGDIOBJ previous = SelectObject(memory_, object);
    return previous == HGDI_ERROR ? nullptr : previous;
  }
  static bool Within(const PolygonPoint* points, int32_t count) {
    for (int32_t i = 0; i < count; ++i) {
      if (points[i].x < -kPolygonCoordinateLimit || points[i].x > kPolygonCoordinateLimit ||
          points[i].y < -kPolygonCoordinateLimit || points[i].y > kPolygonCoordinateLimit) {
        return false;
      }
    }
    return true;
  }

  HDC screen_;
  HDC memory_;
  int32_t width_;
  int32_t height_;
  HBITMAP bitmap_ = nullptr;
  HPEN pen_ = nullptr;
  HGDIOBJ oldBitmap_ = nullptr;
  HGDIOBJ oldPen_ = nullptr;
  HGDIOBJ oldBrush_ = nullptr;
};

class GdiGraphics final : public Graphics {
 public:
  PolygonBitmap* CreatePolygonBitmap(void* printerDC, int32_t width, int32_t height) override {
    if (width <= 0 || height <= 0 || width > kPolygonCoordinateLimit || height > kPolygonCoordinateLimit ||
        PolygonRowBytes(width) * height > INT32_MAX) {
      return nullptr;
    }
    HDC screen = nullptr;
    HDC device = static_cast<HDC>(printerDC);
    if (device == nullptr) {
      screen = GetDC(nullptr);
      if (screen == nullptr) return nullptr;
      device = screen;
    }
    HDC memory = CreateCompatibleDC(device);
    if (memory == nullptr) {
      if (screen != nullptr) ReleaseDC(nullptr, screen);
      return nullptr;
    }
    auto* bitmap = new (std::nothrow) GdiPolygonBitmap(screen, memory, width, height);
    if (bitmap == nullptr) {
      DeleteDC(memory);
      if (screen != nullptr) ReleaseDC(nullptr, screen);
      return nullptr;
    }
    if (!bitmap->Prepare()) {
      delete bitmap;
      return nullptr;
    }
    return bitmap;
  }

  bool StretchBitmap(const char* printerName, const BitmapHeader& source, const void* sourceBits,
                     const BitmapHeader& destination, void* destinationBits, StretchMode mode) override {
    if (printerName == nullptr || printerName[0] == '\0') return false;
    std::unique_ptr<HDC__, DeviceContextDeleter> printer(CreateDCA(nullptr, printerName, nullptr, nullptr));
    if (printer == nullptr) return false;
    return win32::StretchOnDevice(printer.get(), source, sourceBits, destination, destinationBits, mode);
  }
};

}  // namespace

Graphics& NativeGraphics() {
  static GdiGraphics graphics;
  return graphics;
}

}  // namespace ostrelin::platform
