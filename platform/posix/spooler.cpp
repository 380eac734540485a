// POSIX spooler stand-in: printers known by name, each with an output and a printer-data store kept
// as a small text file (one value per line: name, type and hexadecimal bytes, tab-separated).
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <mutex>
#include <new>
#include <sstream>
#include <string>
#include <vector>

#include "ostrelin/ostrelin_posix.h"
#include "platform/platform.h"
#include "platform/posix/handles.h"

namespace ostrelin::platform {
namespace posix {

PrinterHandle* AsPrinter(void* handle) {
  auto* printer = static_cast<PrinterHandle*>(handle);
  return printer != nullptr && printer->tag == kPrinterTag ? printer : nullptr;
}

bool FlushPrinter(PrinterHandle& printer) {
  if (printer.pending.empty()) return true;
  const bool flushed = WriteAll(printer.fd, printer.pending.data(), printer.pending.size());
  printer.pending.clear();
  return flushed;
}

namespace {

struct Value {
  uint32_t type = 0;
  std::vector<uint8_t> bytes;
};
using ValueMap = std::map<std::string, Value>;

// Printers by name, with their data path; values of printers without a path live here.
struct Registry {
  std::mutex lock;
  std::map<std::string, std::string> dataPaths;
  std::map<std::string, ValueMap> memoryValues;
};

Registry& registry() {
  static Registry instance;
  return instance;
}

ValueMap ReadValues(const std::string& path) {
  ValueMap values;
  std::ifstream in(path);
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    std::string name, type, hex;
    if (!std::getline(fields, name, '\t') || !std::getline(fields, type, '\t')) continue;
    std::getline(fields, hex);
    Value value;
    value.type = static_cast<uint32_t>(std::strtoul(type.c_str(), nullptr, 10));
    for (size_t i = 0; i + 1 < hex.size(); i += 2) {
      value.bytes.push_back(static_cast<uint8_t>(std::strtoul(hex.substr(i, 2).c_str(), nullptr, 16)));
    }
    values[name] = value;
  }
  return values;
}

bool WriteValues(const std::string& path, const ValueMap& values) {
  const std::string temporary = path + ".tmp";
  {
    std::ofstream out(temporary, std::ios::trunc);
    for (const auto& [name, value] : values) {
      out << name << '\t' << value.type << '\t';
      char hex[3];
      for (uint8_t byte : value.bytes) {
        std::snprintf(hex, sizeof hex, "%02x", byte);
        out << hex;
      }
      out << '\n';
    }
    if (!out.flush()) return false;
  }
  return std::rename(temporary.c_str(), path.c_str()) == 0;
}

bool ValidValueName(const char* name) {
  return name != nullptr && name[0] != '\0' && std::strpbrk(name, "\t\r\n") == nullptr;
}

class PosixSpooler final : public Spooler {
 public:
  bool GetPrinterName(void* handle, std::string* name) override {
    PrinterHandle* printer = AsPrinter(handle);
    if (printer == nullptr) return false;
    *name = printer->name;
    return true;
  }
  bool GetPrinterData(void* handle, const char* valueName, void* data, uint32_t size,
                      uint32_t* needed) override {
    PrinterHandle* printer = AsPrinter(handle);
    if (printer == nullptr || !ValidValueName(valueName)) return false;
    std::lock_guard<std::mutex> guard(registry().lock);
    const ValueMap values =
        printer->dataPath.empty() ? registry().memoryValues[printer->name] : ReadValues(printer->dataPath);
    const auto found = values.find(valueName);
    if (found == values.end()) return false;
    const auto& bytes = found->second.bytes;
    if (needed != nullptr) *needed = static_cast<uint32_t>(bytes.size());
    if (bytes.size() > size) return false;
    if (!bytes.empty()) std::memcpy(data, bytes.data(), bytes.size());
    return true;
  }
  bool SetPrinterData(void* handle, const char* valueName, uint32_t type, const void* data,
                      uint32_t size) override {
    PrinterHandle* printer = AsPrinter(handle);
    if (printer == nullptr || !ValidValueName(valueName)) return false;
    std::lock_guard<std::mutex> guard(registry().lock);
    Value value;
    value.type = type;
    const auto* bytes = static_cast<const uint8_t*>(data);
    value.bytes.assign(bytes, bytes + size);
    if (printer->dataPath.empty()) {
      registry().memoryValues[printer->name][valueName] = value;
      return true;
    }
    ValueMap values = ReadValues(printer->dataPath);
    values[valueName] = value;
    return WriteValues(printer->dataPath, values);
  }
  void* OpenPrinter(const char* name, uint32_t) override {
    if (name == nullptr) return nullptr;
    std::lock_guard<std::mutex> guard(registry().lock);
    const auto found = registry().dataPaths.find(name);
    if (found == registry().dataPaths.end()) return nullptr;
    auto* printer = new PrinterHandle();
    printer->tag = kPrinterTag;
    printer->name = name;
    printer->dataPath = found->second;
    return printer;
  }
  bool ClosePrinter(void* handle) override {
    PrinterHandle* printer = AsPrinter(handle);
    if (printer == nullptr) return false;
    bool closed = printer->fd < 0 || FlushPrinter(*printer);
    if (printer->ownsFd && ::close(printer->fd) != 0) closed = false;
    printer->tag = 0;
    delete printer;
    return closed;
  }
  bool WritePrinter(void* handle, const void* data, uint32_t size, uint32_t* written) override {
    PrinterHandle* printer = AsPrinter(handle);
    if (written != nullptr) *written = 0;
    if (printer == nullptr || printer->fd < 0) return false;
    if (printer->pending.size() + size > PrinterHandle::kBlockBytes && !FlushPrinter(*printer)) return false;
    if (size >= PrinterHandle::kBlockBytes) {
      if (!WriteAll(printer->fd, data, size)) return false;
    } else {
      const auto* bytes = static_cast<const uint8_t*>(data);
      printer->pending.insert(printer->pending.end(), bytes, bytes + size);
    }
    if (written != nullptr) *written = size;
    return true;
  }
  bool AbortPrinter(void* handle) override {
    // Discards the current print job by cutting the output back to where the job began; an output
    // that cannot be cut (a pipe) cannot take back what it has received.
    PrinterHandle* printer = AsPrinter(handle);
    if (printer == nullptr || printer->fd < 0) return false;
    printer->pending.clear();
    if (::ftruncate(printer->fd, printer->jobStart) != 0) return false;
    return ::lseek(printer->fd, printer->jobStart, SEEK_SET) == printer->jobStart;
  }
  // A device context exists for the printers opened here, as CreateDC finds only installed printers.
  void* CreatePrinterDC(const char* name) override {
    if (name == nullptr) return nullptr;
    {
      std::lock_guard<std::mutex> guard(registry().lock);
      if (registry().dataPaths.count(name) == 0) return nullptr;
    }
    auto* dc = new (std::nothrow) DeviceContext();
    if (dc == nullptr) return nullptr;
    dc->tag = kDeviceTag;
    dc->printerName = name;
    return dc;
  }
  void DeletePrinterDC(void* handle) override {
    auto* dc = static_cast<DeviceContext*>(handle);
    if (dc == nullptr || dc->tag != kDeviceTag) return;
    dc->tag = 0;
    delete dc;
  }
};

void* NewPrinter(const char* name, int fd, bool ownsFd, const char* dataPath) {
  auto* printer = new PrinterHandle();
  printer->tag = kPrinterTag;
  printer->name = name;
  printer->fd = fd;
  printer->pending.reserve(PrinterHandle::kBlockBytes);
  printer->ownsFd = ownsFd;
  const off_t position = ::lseek(fd, 0, SEEK_CUR);
  printer->jobStart = position > 0 ? position : 0;
  printer->dataPath = dataPath != nullptr ? dataPath : "";
  std::lock_guard<std::mutex> guard(registry().lock);
  registry().dataPaths[name] = printer->dataPath;
  return printer;
}

}  // namespace
}  // namespace posix

Spooler& NativeSpooler() {
  static posix::PosixSpooler spooler;
  return spooler;
}

}  // namespace ostrelin::platform

using ostrelin::platform::posix::AsFile;
using ostrelin::platform::posix::AsPrinter;

extern "C" {

OSTRELIN_API void* ostrelinPosixOpenPrinter(const char* name, const char* outputPath, const char* dataPath) noexcept {
  if (name == nullptr || outputPath == nullptr) return nullptr;
  if (std::strcmp(outputPath, "-") == 0) return ostrelinPosixOpenPrinterFd(name, STDOUT_FILENO, dataPath);
  const int fd = ::open(outputPath, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return nullptr;
  return ostrelin::platform::posix::NewPrinter(name, fd, true, dataPath);
}

OSTRELIN_API void* ostrelinPosixOpenPrinterFd(const char* name, int fd, const char* dataPath) noexcept {
  if (name == nullptr || fd < 0) return nullptr;
  return ostrelin::platform::posix::NewPrinter(name, fd, false, dataPath);
}

OSTRELIN_API int ostrelinPosixEndDocPrinter(void* handle) noexcept {
  auto* printer = AsPrinter(handle);
  if (printer == nullptr) return -1;
  const bool flushed = printer->fd < 0 || ostrelin::platform::posix::FlushPrinter(*printer);
  const off_t position = ::lseek(printer->fd, 0, SEEK_CUR);
  printer->jobStart = position > 0 ? position : 0;
  return flushed ? 0 : -1;
}

OSTRELIN_API int ostrelinPosixClosePrinter(void* handle) noexcept {
  return ostrelin::platform::NativeSpooler().ClosePrinter(handle) ? 0 : -1;
}

OSTRELIN_API void* ostrelinPosixOpenFileHandle(const char* path) noexcept {
  if (path == nullptr) return nullptr;
  const int fd = ::open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return nullptr;
  auto* file = new (std::nothrow) ostrelin::platform::posix::FileHandle();
  file->tag = ostrelin::platform::posix::kFileTag;
  file->fd = fd;
  file->ownsFd = true;
  return file;
}

OSTRELIN_API int ostrelinPosixCloseFileHandle(void* handle) noexcept {
  auto* file = AsFile(handle);
  if (file == nullptr) return -1;
  const int result = file->ownsFd ? ::close(file->fd) : 0;
  file->tag = 0;
  delete file;
  return result == 0 ? 0 : -1;
}

}  // extern "C"
