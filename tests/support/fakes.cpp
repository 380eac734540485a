// Fake platform services for fault injection.
#include "support/fakes.h"

#include <dirent.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace ostrelin::test {
namespace {

// Passes through to a native stream until a write budget is spent.
class BudgetStream : public platform::Stream {
 public:
  BudgetStream(platform::Stream* inner, FailingFiles* owner, int number)
      : inner_(inner), owner_(owner), number_(number) {}
  ~BudgetStream() override { delete inner_; }
  size_t Write(const void* data, size_t size) override {
    if (!owner_->TakeWrite(&owner_->streamWritesBeforeFailure, number_, size)) return 0;
    return inner_->Write(data, size);
  }
  size_t Read(void* data, size_t size) override { return inner_->Read(data, size); }
  bool Seek(int64_t offset, int origin) override { return inner_->Seek(offset, origin); }
  int64_t Tell() override { return inner_->Tell(); }
  bool Close() override { return inner_->Close(); }

 private:
  platform::Stream* inner_;
  FailingFiles* owner_;
  int number_;
};

class BudgetLayer : public platform::LayerFile {
 public:
  BudgetLayer(platform::LayerFile* inner, FailingFiles* owner) : inner_(inner), owner_(owner) {}
  ~BudgetLayer() override { delete inner_; }
  bool WriteAt(const void* data, uint32_t size, uint64_t offset) override {
    owner_->layerWriteSizes.push_back(size);
    if (!owner_->TakeWrite(&owner_->layerWritesBeforeFailure, -1, size)) return false;
    return inner_->WriteAt(data, size, offset);
  }
  bool ReadAt(void* data, uint32_t size, uint64_t offset) override {
    if (!FailingFiles::TakeRead(&owner_->layerReadsBeforeFailure)) return false;
    return inner_->ReadAt(data, size, offset);
  }

 private:
  platform::LayerFile* inner_;
  FailingFiles* owner_;
};

}  // namespace

FailingFiles::FailingFiles() : previous_(platform::InstallFiles(this)) {}
FailingFiles::~FailingFiles() { platform::InstallFiles(previous_); }

bool FailingFiles::TakeWrite(int* ownBudget, int target, uint64_t size) {
  ++diskWrites;
  diskWriteTargets.push_back(target);
  if (diskCapacity != 0 && diskBytesWritten + size > diskCapacity) diskWritesBeforeFull = 0;
  if (*ownBudget == 0 || diskWritesBeforeFull == 0) return false;
  diskBytesWritten += size;
  if (*ownBudget > 0) --*ownBudget;
  if (diskWritesBeforeFull > 0) --diskWritesBeforeFull;
  return true;
}

bool FailingFiles::TakeRead(int* budget) {
  if (*budget == 0) return false;
  if (*budget > 0) --*budget;
  return true;
}

platform::Stream* FailingFiles::Count(platform::Stream* stream) {
  if (stream == nullptr) return nullptr;
  if (streamsBeforeFailure == 0) {
    platform::CloseStream(stream);
    return nullptr;
  }
  if (streamsBeforeFailure > 0) --streamsBeforeFailure;
  return new BudgetStream(stream, this, streamsOpened_++);
}

platform::Stream* FailingFiles::OpenAnonymousStream() {
  return failAnonymous ? nullptr : Count(platform::NativeFiles().OpenAnonymousStream());
}
platform::Stream* FailingFiles::OpenNamedScratchStream(const char* prefix) {
  return failNamed ? nullptr : Count(platform::NativeFiles().OpenNamedScratchStream(prefix));
}
platform::LayerFile* FailingFiles::CreateLayerFile(const char* prefix) {
  if (failLayerCreate) return nullptr;
  platform::LayerFile* inner = platform::NativeFiles().CreateLayerFile(prefix);
  return inner == nullptr ? nullptr : new BudgetLayer(inner, this);
}
platform::Stream* FailingFiles::OpenOutputFile(const char* name) {
  return Count(platform::NativeFiles().OpenOutputFile(name));
}
bool FailingFiles::WriteFileHandle(void*, const void* data, uint32_t size) {
  ++fileHandleWrites;
  if (streamWritesBeforeFailure == 0) return false;
  if (streamWritesBeforeFailure > 0) --streamWritesBeforeFailure;
  const auto* bytes = static_cast<const uint8_t*>(data);
  fileHandleBytes.insert(fileHandleBytes.end(), bytes, bytes + size);
  return true;
}

MemorySpooler::MemorySpooler() : printerHandle(&printerTag_), previous_(platform::InstallSpooler(this)) {}
MemorySpooler::~MemorySpooler() { platform::InstallSpooler(previous_); }

bool MemorySpooler::GetPrinterName(void* printer, std::string* name) {
  if (printer != printerHandle) return false;
  *name = "Engraver";
  return true;
}
bool MemorySpooler::GetPrinterData(void*, const char* valueName, void* out, uint32_t size, uint32_t* needed) {
  if (failDataReads) return false;
  const auto found = data.find(valueName);
  if (found == data.end()) return false;
  if (needed != nullptr) *needed = static_cast<uint32_t>(found->second.size());
  if (found->second.size() > size) return false;
  std::memcpy(out, found->second.data(), found->second.size());
  return true;
}
bool MemorySpooler::SetPrinterData(void* printer, const char* valueName, uint32_t type, const void* bytes,
                                   uint32_t size) {
  // Only a handle opened by name may change the data.
  if (printer == printerHandle || failDataWrites) return false;
  const auto* begin = static_cast<const uint8_t*>(bytes);
  data[valueName].assign(begin, begin + size);
  types[valueName] = type;
  return true;
}
void* MemorySpooler::OpenPrinter(const char* name, uint32_t access) {
  if (std::strcmp(name, "Engraver") != 0) return nullptr;
  lastAccess = access;
  ++opened;
  return reinterpret_cast<void*>(static_cast<uintptr_t>(0x1000 + opened));
}
bool MemorySpooler::ClosePrinter(void*) {
  ++closed;
  return true;
}
bool MemorySpooler::WritePrinter(void*, const void* bytes, uint32_t size, uint32_t* written) {
  ++writeCalls;
  if (writesBeforeFailure == 0) failWrites = true;
  if (writesBeforeFailure > 0) --writesBeforeFailure;
  if (failWrites) {
    *written = 0;
    return false;
  }
  const auto* begin = static_cast<const uint8_t*>(bytes);
  job.insert(job.end(), begin, begin + size);
  *written = size;
  return true;
}
bool MemorySpooler::AbortPrinter(void*) {
  if (failAbort) return false;
  job.clear();
  return true;
}

void* MemorySpooler::CreatePrinterDC(const char* name) {
  if (name == nullptr || std::strcmp(name, "Engraver") != 0) return nullptr;
  void* dc = reinterpret_cast<void*>(static_cast<uintptr_t>(0x2000 + ++dcsMade));
  liveDCs.push_back(dc);
  return dc;
}
void MemorySpooler::DeletePrinterDC(void* dc) {
  const auto found = std::find(liveDCs.begin(), liveDCs.end(), dc);
  if (found == liveDCs.end()) {
    ++unknownDCDeletes;
    return;
  }
  liveDCs.erase(found);
}

FailingMemory::FailingMemory(size_t minimum)
    : minimumSize(minimum), previous_(platform::InstallMemory(this)) {}
FailingMemory::~FailingMemory() { platform::InstallMemory(previous_); }
void* FailingMemory::Allocate(size_t size, bool zeroFill) {
  sizes.push_back(size);
  if (size >= minimumSize || static_cast<int>(sizes.size()) - 1 == failOnly) return nullptr;
  void* block = platform::NativeMemory().Allocate(size, zeroFill);
  if (block != nullptr) ++outstanding;
  return block;
}
void FailingMemory::Free(void* block) {
  if (block != nullptr) --outstanding;
  platform::NativeMemory().Free(block);
}
uint64_t FailingMemory::AvailablePhysical() {
  return reportedPhysical != 0 ? reportedPhysical : platform::NativeMemory().AvailablePhysical();
}

CapturedTrace::CapturedTrace() : previous_(platform::InstallTrace(this)) {}
CapturedTrace::~CapturedTrace() { platform::InstallTrace(previous_); }
void CapturedTrace::Trace(const char* text) { texts.emplace_back(text); }

std::vector<std::string> OpenDescriptors() {
  std::vector<std::string> open;
  DIR* dir = ::opendir("/proc/self/fd");
  if (dir == nullptr) return open;
  const int own = ::dirfd(dir);
  while (const dirent* entry = ::readdir(dir)) {
    if (entry->d_name[0] == '.' || std::atoi(entry->d_name) == own) continue;
    char target[512] = {};
    const std::string link = std::string("/proc/self/fd/") + entry->d_name;
    const ssize_t length = ::readlink(link.c_str(), target, sizeof target - 1);
    open.push_back(std::string(entry->d_name) + " -> " + (length > 0 ? std::string(target, length) : "?"));
  }
  ::closedir(dir);
  std::sort(open.begin(), open.end());
  return open;
}

}  // namespace ostrelin::test
