// Fake platform services for fault injection: each is installed for the lifetime of the object.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace ostrelin::test {

// Native files, except that chosen operations fail.
class FailingFiles : public platform::Files {
 public:
  FailingFiles();
  ~FailingFiles() override;
  platform::Stream* OpenAnonymousStream() override;
  platform::Stream* OpenNamedScratchStream(const char* prefix) override;
  platform::LayerFile* CreateLayerFile(const char* prefix) override;
  platform::Stream* OpenOutputFile(const char* name) override;
  bool WriteFileHandle(void* handle, const void* data, uint32_t size) override;

  bool failAnonymous = false;
  bool failNamed = false;
  int streamsBeforeFailure = -1;  // streams that still open before every later one fails (-1: all)
  bool failLayerCreate = false;
  int layerWritesBeforeFailure = -1;  // layer block writes that succeed before every later one fails
  int streamWritesBeforeFailure = -1;  // stream writes that succeed before every later one fails
  std::vector<uint32_t> layerWriteSizes;  // size of every layer block write
  std::vector<uint8_t> fileHandleBytes;   // what was written through host file handles
  int fileHandleWrites = 0;

 private:
  platform::Stream* Count(platform::Stream* stream);
  platform::Files* previous_;
};

// A spooler that keeps everything in memory: printers "Engraver" (handle printerHandle) and any
// printer opened by that name, with their data and the bytes of the current print job.
class MemorySpooler : public platform::Spooler {
 public:
  MemorySpooler();
  ~MemorySpooler() override;
  bool GetPrinterName(void* printer, std::string* name) override;
  bool GetPrinterData(void* printer, const char* valueName, void* data, uint32_t size,
                      uint32_t* needed) override;
  bool SetPrinterData(void* printer, const char* valueName, uint32_t type, const void* data,
                      uint32_t size) override;
  void* OpenPrinter(const char* name, uint32_t access) override;
  bool ClosePrinter(void* printer) override;
  bool WritePrinter(void* printer, const void* data, uint32_t size, uint32_t* written) override;
  bool AbortPrinter(void* printer) override;

  void* printerHandle;
  std::map<std::string, std::vector<uint8_t>> data;
  std::map<std::string, uint32_t> types;
  std::vector<uint8_t> job;
  bool failWrites = false;
  bool failAbort = false;
  int opened = 0;
  int closed = 0;
  uint32_t lastAccess = 0;

 private:
  int printerTag_ = 0;
  platform::Spooler* previous_;
};

// Native memory, except that allocations of at least minimumSize bytes fail.
class FailingMemory : public platform::Memory {
 public:
  explicit FailingMemory(size_t minimumSize);
  ~FailingMemory() override;
  void* Allocate(size_t size, bool zeroFill) override;
  void Free(void* block) override;
  uint64_t AvailablePhysical() override;
  size_t minimumSize;
  int outstanding = 0;

 private:
  platform::Memory* previous_;
};

// Collects the trace hook's texts.
class CapturedTrace : public platform::TraceHook {
 public:
  CapturedTrace();
  ~CapturedTrace() override;
  void Trace(const char* text) override;
  std::vector<std::string> texts;

 private:
  platform::TraceHook* previous_;
};

}  // namespace ostrelin::test
