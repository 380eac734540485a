// Windows spooler: the printer's name from its level-2 information, printer data, the print job of a
// printer handle and the printer's device context, each a direct call of the system's interface.
#include <string>
#include <vector>

#include "platform/platform.h"
// The spooler header needs the Windows types first.
// clang-format off
#include "platform/win32/win32.h"
#include <winspool.h>
// clang-format on

// The spooler header maps these names to their A or W forms; the service's own methods keep them.
#undef GetPrinterData
#undef SetPrinterData
#undef OpenPrinter

namespace ostrelin::platform {
namespace {

class Win32Spooler final : public Spooler {
 public:
  // Two calls: the first learns the size of the information, the second fills a zeroed block of it.
  bool GetPrinterName(void* printer, std::string* name) override {
    if (printer == nullptr) return false;
    DWORD needed = 0;
    GetPrinterA(static_cast<HANDLE>(printer), 2, nullptr, 0, &needed);
    if (needed < sizeof(PRINTER_INFO_2A)) return false;
    std::vector<BYTE> information(needed, 0);
    if (!GetPrinterA(static_cast<HANDLE>(printer), 2, information.data(), needed, &needed)) return false;
    const auto* level2 = reinterpret_cast<const PRINTER_INFO_2A*>(information.data());
    if (level2->pPrinterName == nullptr) return false;
    *name = level2->pPrinterName;
    return true;
  }
  bool GetPrinterData(void* printer, const char* valueName, void* data, uint32_t size,
                      uint32_t* needed) override {
    DWORD type = 0;
    DWORD realSize = 0;
    const DWORD result = GetPrinterDataA(static_cast<HANDLE>(printer), const_cast<char*>(valueName), &type,
                                         static_cast<BYTE*>(data), size, &realSize);
    if (needed != nullptr) *needed = realSize;
    return result == ERROR_SUCCESS;
  }
  bool SetPrinterData(void* printer, const char* valueName, uint32_t type, const void* data,
                      uint32_t size) override {
    return SetPrinterDataA(static_cast<HANDLE>(printer), const_cast<char*>(valueName), type,
                           static_cast<BYTE*>(const_cast<void*>(data)), size) == ERROR_SUCCESS;
  }
  // No data type and no device mode, only the access rights.
  void* OpenPrinter(const char* name, uint32_t access) override {
    PRINTER_DEFAULTSA defaults{nullptr, nullptr, access};
    HANDLE printer = nullptr;
    if (!OpenPrinterA(const_cast<char*>(name), &printer, &defaults)) return nullptr;
    return printer;
  }
  bool ClosePrinter(void* printer) override { return ::ClosePrinter(static_cast<HANDLE>(printer)) != 0; }
  bool WritePrinter(void* printer, const void* data, uint32_t size, uint32_t* written) override {
    DWORD done = 0;
    const BOOL ok = ::WritePrinter(static_cast<HANDLE>(printer), const_cast<void*>(data), size, &done);
    if (written != nullptr) *written = done;
    return ok != 0;
  }
  bool AbortPrinter(void* printer) override { return ::AbortPrinter(static_cast<HANDLE>(printer)) != 0; }
  void* CreatePrinterDC(const char* name) override {
    if (name == nullptr) return nullptr;
    return CreateDCA(nullptr, name, nullptr, nullptr);
  }
  void DeletePrinterDC(void* dc) override {
    if (dc != nullptr) DeleteDC(static_cast<HDC>(dc));
  }
};

}  // namespace

Spooler& NativeSpooler() {
  static Win32Spooler spooler;
  return spooler;
}

}  // namespace ostrelin::platform
