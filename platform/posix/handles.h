// Handle objects of the POSIX stand-ins for the spooler's printer handles and host file handles.
// A tag lets the services refuse a handle of the wrong kind, as the system would.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace ostrelin::platform::posix {

constexpr uint32_t kPrinterTag = 0x4F505254;  // "OPRT"
constexpr uint32_t kFileTag = 0x4F46494C;     // "OFIL"
constexpr uint32_t kDeviceTag = 0x4F444354;   // "ODCT"

struct HandleBase {
  uint32_t tag;
};

// A printer: its name, its output descriptor (-1 for a handle opened only for its data) and the file
// that keeps its printer data. Its writes are gathered in `pending` and reach the descriptor in blocks
// (the engine sends most records a few bytes at a time), at the latest when the print job ends or the
// printer is closed.
struct PrinterHandle : HandleBase {
  static constexpr size_t kBlockBytes = 65536;
  std::string name;
  int fd = -1;
  bool ownsFd = false;
  int64_t jobStart = 0;  // output offset where the current print job began
  std::string dataPath;
  std::vector<uint8_t> pending;  // written by the engine, not yet handed to the descriptor
};

// Hands a printer's pending bytes to its descriptor; false when the descriptor refused them (they are
// then dropped: the print job is incomplete either way).
bool FlushPrinter(PrinterHandle& printer);

// A file handle supplied by the host for machines that are written through plain file writes.
struct FileHandle : HandleBase {
  int fd = -1;
  bool ownsFd = false;
};

// A printer's device context: the graphics here draw alike on every device, so it only names its printer.
struct DeviceContext : HandleBase {
  std::string printerName;
};

PrinterHandle* AsPrinter(void* handle);
FileHandle* AsFile(void* handle);

// Writes the whole buffer to a descriptor, retrying after interruptions and partial writes.
bool WriteAll(int fd, const void* data, size_t size);

}  // namespace ostrelin::platform::posix
