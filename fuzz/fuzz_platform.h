// Platform services for the engine's fuzz targets: silent message boxes and printer, a small disk and
// a small memory, so that an input asking for a huge plate ends in a quick "Write file error" or
// "Memory error" rather than filling the machine; and the checks every input must pass afterwards (no
// engine memory, no descriptor and no scratch file left behind).
#pragma once

#include <dirent.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/platform.h"

namespace ostrelin::fuzz {

// Bytes the small disk and memory hold: enough for a plate of a few hundred millimetres at a few
// hundred dots per inch, far below what an input could otherwise ask for.
constexpr uint64_t kDiskBytes = 16u << 20;
constexpr size_t kLargestBlock = 16u << 20;
constexpr uint64_t kReportedPhysical = 8u << 20;

class Quiet : public platform::MessageSink {
 public:
  void Show(const char*, uint32_t) override { ++shown; }
  int shown = 0;
};

class NullSpooler : public platform::Spooler {
 public:
  bool GetPrinterName(void*, std::string* name) override {
    *name = "Fuzz";
    return true;
  }
  bool GetPrinterData(void*, const char*, void*, uint32_t, uint32_t*) override { return false; }
  bool SetPrinterData(void*, const char*, uint32_t, const void*, uint32_t) override { return true; }
  void* OpenPrinter(const char*, uint32_t) override { return this; }
  bool ClosePrinter(void*) override { return true; }
  bool WritePrinter(void*, const void*, uint32_t size, uint32_t* written) override {
    *written = size;
    return true;
  }
  bool AbortPrinter(void*) override { return true; }
};

// Native memory that refuses blocks above kLargestBlock and counts what is outstanding.
class SmallMemory : public platform::Memory {
 public:
  void* Allocate(size_t size, bool zeroFill) override {
    if (size > kLargestBlock) return nullptr;
    void* block = platform::NativeMemory().Allocate(size, zeroFill);
    if (block != nullptr) ++outstanding;
    return block;
  }
  void Free(void* block) override {
    if (block != nullptr) --outstanding;
    platform::NativeMemory().Free(block);
  }
  uint64_t AvailablePhysical() override { return kReportedPhysical; }
  long outstanding = 0;
};

// A layer file on the small disk: writes that reach beyond kDiskBytes fail as on a full disk.
class SmallLayer : public platform::LayerFile {
 public:
  explicit SmallLayer(platform::LayerFile* inner) : inner_(inner) {}
  ~SmallLayer() override { delete inner_; }
  bool WriteAt(const void* data, uint32_t size, uint64_t offset) override {
    return offset + size <= kDiskBytes && inner_->WriteAt(data, size, offset);
  }
  bool ReadAt(void* data, uint32_t size, uint64_t offset) override {
    return inner_->ReadAt(data, size, offset);
  }

 private:
  platform::LayerFile* inner_;
};

// A stream on the small disk.
class SmallStream : public platform::Stream {
 public:
  explicit SmallStream(platform::Stream* inner) : inner_(inner) {}
  ~SmallStream() override { delete inner_; }
  size_t Write(const void* data, size_t size) override {
    const int64_t at = inner_->Tell();
    if (at < 0 || static_cast<uint64_t>(at) + size > kDiskBytes) return 0;
    return inner_->Write(data, size);
  }
  size_t Read(void* data, size_t size) override { return inner_->Read(data, size); }
  bool Seek(int64_t offset, int origin) override { return inner_->Seek(offset, origin); }
  int64_t Tell() override { return inner_->Tell(); }
  bool Close() override { return inner_->Close(); }

 private:
  platform::Stream* inner_;
};

class SmallDisk : public platform::Files {
 public:
  platform::Stream* OpenAnonymousStream() override {
    return Wrap(platform::NativeFiles().OpenAnonymousStream());
  }
  platform::Stream* OpenNamedScratchStream(const char* prefix) override {
    return Wrap(platform::NativeFiles().OpenNamedScratchStream(prefix));
  }
  platform::LayerFile* CreateLayerFile(const char* prefix) override {
    platform::LayerFile* inner = platform::NativeFiles().CreateLayerFile(prefix);
    return inner == nullptr ? nullptr : new SmallLayer(inner);
  }
  // Named output files would land wherever the input points: refused, as an unwritable path is.
  platform::Stream* OpenOutputFile(const char*) override { return nullptr; }
  bool WriteFileHandle(void*, const void*, uint32_t) override { return true; }

 private:
  static platform::Stream* Wrap(platform::Stream* stream) {
    return stream == nullptr ? nullptr : new SmallStream(stream);
  }
};

inline int OpenDescriptors() {
  int count = 0;
  if (DIR* dir = ::opendir("/proc/self/fd")) {
    while (::readdir(dir) != nullptr) ++count;
    ::closedir(dir);
  }
  return count;
}

// Installs the services once and gives the process its own scratch directory.
struct Platform {
  Platform() {
    const char* base = std::getenv("TMPDIR");
    std::string pattern =
        std::string(base != nullptr && base[0] != '\0' ? base : "/tmp") + "/ostrelin-fuzz-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) std::abort();
    scratchDir = pattern;
    ::setenv("TMPDIR", scratchDir.c_str(), 1);
    platform::InstallMessages(&quiet);
    platform::InstallSpooler(&spooler);
    platform::InstallMemory(&memory);
    platform::InstallFiles(&disk);
  }

  // What every input must leave as it found: engine memory, descriptors, the scratch directory.
  void CheckClean(int descriptorsBefore) {
    if (memory.outstanding != 0) {
      std::fprintf(stderr, "%ld engine blocks left\n", memory.outstanding);
      std::abort();
    }
    if (OpenDescriptors() != descriptorsBefore) {
      std::fprintf(stderr, "descriptors: %d before, %d after\n", descriptorsBefore, OpenDescriptors());
      std::abort();
    }
    if (DIR* dir = ::opendir(scratchDir.c_str())) {
      int entries = 0;
      while (const dirent* entry = ::readdir(dir)) {
        if (std::string(entry->d_name) != "." && std::string(entry->d_name) != "..") ++entries;
      }
      ::closedir(dir);
      if (entries != 0) {
        std::fprintf(stderr, "%d scratch files left in %s\n", entries, scratchDir.c_str());
        std::abort();
      }
    }
  }

  Quiet quiet;
  NullSpooler spooler;
  SmallMemory memory;
  SmallDisk disk;
  std::string scratchDir;
};

}  // namespace ostrelin::fuzz
