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
  int layerWritesBeforeFailure = -1;   // layer block writes that succeed before every later one fails
  int layerReadsBeforeFailure = -1;    // layer block reads that succeed before every later one fails
  int streamWritesBeforeFailure = -1;  // stream writes that succeed before every later one fails
  // A disk that fills up: layer block writes and stream writes together that succeed before every
  // later one fails (-1: never full). diskWrites counts the writes tried, failed ones included.
  int diskWritesBeforeFull = -1;
  int diskWrites = 0;
  // A disk of diskCapacity bytes (0: unlimited): a write that would take the bytes written by layer and
  // stream writes beyond it fails, and so does every later one.
  uint64_t diskCapacity = 0;
  uint64_t diskBytesWritten = 0;
  // What each of those writes went to: -1 for a layer file, else the number of the stream (0 for the
  // first stream opened, the named output file included).
  std::vector<int> diskWriteTargets;

  // Spends one write of ownBudget and of the disk; false when the write must fail. Used by the
  // streams and layer files this service hands out.
  bool TakeWrite(int* ownBudget, int target, uint64_t size);
  // Spends one read of budget; false when the read must fail.
  static bool TakeRead(int* budget);
  std::vector<uint32_t> layerWriteSizes;  // size of every layer block write
  std::vector<uint8_t> fileHandleBytes;   // what was written through host file handles
  int fileHandleWrites = 0;

 private:
  platform::Stream* Count(platform::Stream* stream);
  int streamsOpened_ = 0;
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
  // Device contexts of "Engraver": distinct tokens, each kept in liveDCs until it is deleted.
  void* CreatePrinterDC(const char* name) override;
  void DeletePrinterDC(void* dc) override;

  void* printerHandle;
  std::map<std::string, std::vector<uint8_t>> data;
  std::map<std::string, uint32_t> types;
  std::vector<uint8_t> job;
  bool failWrites = false;
  int writesBeforeFailure = -1;  // WritePrinter calls that succeed before every later one fails
  int writeCalls = 0;
  bool failAbort = false;
  bool failDataReads = false;   // every printer-data value is unreadable
  bool failDataWrites = false;  // no printer-data value can be set
  int opened = 0;
  int closed = 0;
  uint32_t lastAccess = 0;
  int dcsMade = 0;
  std::vector<void*> liveDCs;
  int unknownDCDeletes = 0;  // deletions of a context that was not live

 private:
  int printerTag_ = 0;
  platform::Spooler* previous_;
};

// Native memory, except that allocations of at least minimumSize bytes fail, and so does the one
// allocation numbered failOnly (0 for the first) when it is not -1.
class FailingMemory : public platform::Memory {
 public:
  explicit FailingMemory(size_t minimumSize);
  ~FailingMemory() override;
  void* Allocate(size_t size, bool zeroFill) override;
  void Free(void* block) override;
  uint64_t AvailablePhysical() override;
  size_t minimumSize;
  int failOnly = -1;
  uint64_t reportedPhysical = 0;  // the available physical memory reported; 0: the machine's
  int outstanding = 0;
  std::vector<size_t> sizes;  // of every allocation asked for, in order, failed ones included

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

// The open file descriptors of the process, as "number -> target" lines.
std::vector<std::string> OpenDescriptors();

}  // namespace ostrelin::test
