// Windows graphics: bitmaps resampled with GDI on memory contexts compatible with the printer's device
// context, then packed into the destination's format.
#include <climits>
#include <cstdint>
#include <cstring>
#include <memory>
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

class GdiGraphics final : public Graphics {
 public:
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
