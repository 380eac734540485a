// Services the engine needs from the operating system, behind narrow interfaces.
// posix/ implements them for Linux; tests install fakes to inject faults.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace ostrelin::platform {

// A read-write binary stream: scratch streams and the named output file.
class Stream {
 public:
  virtual ~Stream() = default;
  // Writes size bytes; returns the number written (short on failure).
  virtual size_t Write(const void* data, size_t size) = 0;
  // Reads up to size bytes; returns the number read (0 at the end or on failure).
  virtual size_t Read(void* data, size_t size) = 0;
  // Moves to offset from the start (origin 0) or from the end (origin 2).
  virtual bool Seek(int64_t offset, int origin) = 0;
  // Current position, or -1.
  virtual int64_t Tell() = 0;
  // Flushes and closes the stream; returns false when the flush or close failed. The object is then
  // no longer usable; CloseStream deletes it.
  virtual bool Close() = 0;
};

constexpr int kSeekSet = 0;
constexpr int kSeekEnd = 2;

// Closes and deletes a stream; returns the result of closing it.
bool CloseStream(Stream* stream);

// A file of layer rows with positioned transfers; the file keeps no position of its own.
class LayerFile {
 public:
  virtual ~LayerFile() = default;
  // Transfers exactly size bytes at offset; false when the whole transfer did not happen.
  virtual bool WriteAt(const void* data, uint32_t size, uint64_t offset) = 0;
  virtual bool ReadAt(void* data, uint32_t size, uint64_t offset) = 0;
};

// Files: scratch streams, layer files, the named output file and host-supplied file handles.
class Files {
 public:
  virtual ~Files() = default;
  // An anonymous read-write stream in the temporary directory, deleted when closed; nullptr if none.
  virtual Stream* OpenAnonymousStream() = 0;
  // A read-write stream under a unique name with the prefix in the temporary directory (or the
  // fallback directory), deleted when closed; nullptr if none.
  virtual Stream* OpenNamedScratchStream(const char* prefix) = 0;
  // A new layer file with the prefix in the temporary directory, deleted when closed; nullptr if none.
  virtual LayerFile* CreateLayerFile(const char* prefix) = 0;
  // Opens name for binary writing, replacing its content; nullptr if it cannot be opened.
  virtual Stream* OpenOutputFile(const char* name) = 0;
  // Plain synchronous write to a file handle supplied by the host (machine kind 5).
  virtual bool WriteFileHandle(void* handle, const void* data, uint32_t size) = 0;
};

// Large buffers and the memory status.
class Memory {
 public:
  virtual ~Memory() = default;
  // A block of size bytes (zero-filled when asked), or nullptr.
  virtual void* Allocate(size_t size, bool zeroFill) = 0;
  virtual void Free(void* block) = 0;
  // Available physical memory in bytes.
  virtual uint64_t AvailablePhysical() = 0;
};

// The print spooler: printer handles, printer data and print jobs.
class Spooler {
 public:
  virtual ~Spooler() = default;
  // The printer's name from its level-2 information.
  virtual bool GetPrinterName(void* printer, std::string* name) = 0;
  // Reads a printer-data value into data (size bytes); needed receives its real size.
  virtual bool GetPrinterData(void* printer, const char* valueName, void* data, uint32_t size,
                              uint32_t* needed) = 0;
  virtual bool SetPrinterData(void* printer, const char* valueName, uint32_t type, const void* data,
                              uint32_t size) = 0;
  // Opens a printer by name with the given access rights; nullptr on failure.
  virtual void* OpenPrinter(const char* name, uint32_t access) = 0;
  virtual bool ClosePrinter(void* printer) = 0;
  // Sends bytes to the printer's current print job.
  virtual bool WritePrinter(void* printer, const void* data, uint32_t size, uint32_t* written) = 0;
  // Discards the printer's current print job.
  virtual bool AbortPrinter(void* printer) = 0;
  // A device context for the named printer (no driver name, no output, no device mode), or nullptr.
  // The native spooler's unless a replacement provides its own.
  virtual void* CreatePrinterDC(const char* name);
  // Deletes a device context made by CreatePrinterDC.
  virtual void DeletePrinterDC(void* dc);
};

// Message boxes: every fatal error shows its text here.
class MessageSink {
 public:
  virtual ~MessageSink() = default;
  // text is in Windows-1252; style is the message box style (0x30030 for every engine error).
  virtual void Show(const char* text, uint32_t style) = 0;
};

// The interpreter's diagnostics. Writes nothing unless a host enables it.
class TraceHook {
 public:
  virtual ~TraceHook() = default;
  virtual void Trace(const char* text) = 0;
};

constexpr uint32_t kMessageStyle = 0x30030;
constexpr uint32_t kPrinterAllAccess = 0xF000C;
constexpr uint32_t kRegDword = 4;

// One colour of a device-independent bitmap's palette.
struct PaletteEntry {
  uint8_t blue;
  uint8_t green;
  uint8_t red;
  uint8_t reserved;
};

// The description of a device-independent bitmap: its rows are padded to 4 bytes, and a negative
// height means the rows are stored top row first (else bottom row first). Depths of 1, 4 and 8 bits
// per pixel are palette indices into the paletteEntries first entries; 16 bits are 5-5-5 little-endian
// (blue in the low bits), 24 bits blue, green, red, 32 bits blue, green, red, unused.
struct BitmapHeader {
  int32_t width;
  int32_t height;
  uint16_t bitsPerPixel;
  uint16_t paletteEntries;
  PaletteEntry palette[256];
};

// Bytes of one row of a device-independent bitmap (padded to 4 bytes); 0 when it does not fit 32 bits.
constexpr uint32_t BitmapRowBytes(int32_t width, uint16_t bitsPerPixel) {
  const uint64_t bits = static_cast<uint64_t>(width < 0 ? 0 : width) * bitsPerPixel;
  const uint64_t bytes = (bits + 31) / 32 * 4;
  return bytes > UINT32_MAX ? 0 : static_cast<uint32_t>(bytes);
}

// How a bitmap is resampled from one size to another.
enum class StretchMode {
  // Area-averaged colours into a 32-bit intermediate, which reaches the destination inverted.
  kHalftoneInverted,
  // The nearest source pixel, straight into the destination.
  kColourOnColour,
};

// A vertex of a polygon in the pixels of a polygon bitmap: x to the right, y down from the top row.
struct PolygonPoint {
  int32_t x;
  int32_t y;
};

// Vertices lie within +-kPolygonCoordinateLimit on both axes (the device space of the graphics system).
constexpr int32_t kPolygonCoordinateLimit = 1 << 27;

// A one-bit bitmap on a memory context, all 0 when made, in which polygons are drawn with alternate
// (even-odd) filling and a one-pixel outline: pixels inside a polygon or on its outline become 1.
class PolygonBitmap {
 public:
  virtual ~PolygonBitmap() = default;
  // Draws one polygon of count points, closed from its last point back to its first.
  virtual bool Polygon(const PolygonPoint* points, int32_t count) = 0;
  // Draws polygons together (a point inside an even number of them stays 0): counts[i] points each,
  // taken from points one polygon after the other.
  virtual bool PolyPolygon(const PolygonPoint* points, const int32_t* counts, int32_t polygons) = 0;
  // Bytes of one row as ReadBits gives it: the width in bits rounded up to a multiple of 16.
  virtual int32_t RowBytes() const = 0;
  // Copies the whole bitmap into bits (size must be RowBytes() x height): top row first, the leftmost
  // pixel of each byte in its high bit.
  virtual bool ReadBits(void* bits, size_t size) = 0;
};

// Bytes of one row of a polygon bitmap of width pixels.
constexpr int64_t PolygonRowBytes(int32_t width) { return (static_cast<int64_t>(width) + 15) / 16 * 2; }

// The graphics of a printer's device contexts.
class Graphics {
 public:
  virtual ~Graphics() = default;
  // A polygon bitmap of width x height pixels on a memory context made from printerDC, or from the
  // screen's device context when printerDC is null; nullptr when a context, the bitmap or its pen
  // cannot be had. The native graphics' unless a replacement provides its own.
  virtual PolygonBitmap* CreatePolygonBitmap(void* printerDC, int32_t width, int32_t height);
  // Resamples the whole source bitmap into the whole destination bitmap on the device contexts of the
  // named printer. destinationBits receives every row of the destination (bottom row first); false,
  // with destinationBits in an unspecified state, when a context, bitmap or buffer cannot be had.
  virtual bool StretchBitmap(const char* printerName, const BitmapHeader& source, const void* sourceBits,
                             const BitmapHeader& destination, void* destinationBits, StretchMode mode) = 0;
};

// The services in use. Each getter returns the installed service or the native one.
Files& files();
Memory& memory();
Spooler& spooler();
MessageSink& messages();
TraceHook& trace();
Graphics& graphics();

// Installs a replacement (nullptr restores the native service); returns the previous replacement.
Files* InstallFiles(Files* service);
Memory* InstallMemory(Memory* service);
Spooler* InstallSpooler(Spooler* service);
MessageSink* InstallMessages(MessageSink* service);
TraceHook* InstallTrace(TraceHook* service);
Graphics* InstallGraphics(Graphics* service);

// The native implementations of this platform.
Files& NativeFiles();
Memory& NativeMemory();
Spooler& NativeSpooler();
MessageSink& NativeMessages();
TraceHook& NativeTrace();
Graphics& NativeGraphics();

}  // namespace ostrelin::platform
