// Windows files: scratch streams deleted on close, layer files opened for overlapped transfers at
// explicit offsets and deleted on close, the named output file and host file handles.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/platform.h"
#include "platform/win32/win32.h"

namespace ostrelin::platform {
namespace {

// Directory of the named scratch streams when TMP names no usable directory.
constexpr const char* kFallbackScratchDirectory = "c:\\T_Atelier";
// Directory of the layer files when the system has no temporary directory.
constexpr const char* kFallbackLayerDirectory = "c:\\";
// Flags of a layer file: overlapped, deleted on close, normal attributes.
constexpr DWORD kLayerFileFlags = FILE_FLAG_OVERLAPPED | FILE_FLAG_DELETE_ON_CLOSE | FILE_ATTRIBUTE_NORMAL;
static_assert(kLayerFileFlags == 0x44000080);

bool IsDirectory(const char* path) {
  if (path == nullptr || path[0] == '\0') return false;
  const DWORD attributes = GetFileAttributesA(path);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// A C runtime stream; inserts the repositioning that C requires between writing and reading.
class FileStream final : public Stream {
 public:
  explicit FileStream(FILE* file) : file_(file) {}
  ~FileStream() override {
    if (file_ != nullptr) std::fclose(file_);
  }
  size_t Write(const void* data, size_t size) override {
    if (lastRead_) _fseeki64(file_, 0, SEEK_CUR);
    lastRead_ = false;
    return size == 0 ? 0 : std::fwrite(data, 1, size, file_);
  }
  size_t Read(void* data, size_t size) override {
    if (!lastRead_) std::fflush(file_);
    lastRead_ = true;
    return size == 0 ? 0 : std::fread(data, 1, size, file_);
  }
  bool Seek(int64_t offset, int origin) override {
    lastRead_ = false;
    return _fseeki64(file_, offset, origin == kSeekEnd ? SEEK_END : SEEK_SET) == 0;
  }
  int64_t Tell() override { return _ftelli64(file_); }
  bool Close() override {
    FILE* file = file_;
    file_ = nullptr;
    return file != nullptr && std::fclose(file) == 0;
  }

 private:
  FILE* file_;
  bool lastRead_ = false;
};

// A layer file: one overlapped transfer description per call, carrying the offset and no event; a
// transfer the system leaves pending is waited for before the call returns.
class LayerFileImpl final : public LayerFile {
 public:
  explicit LayerFileImpl(HANDLE file) : file_(file) {}
  ~LayerFileImpl() override { CloseHandle(file_); }
  bool WriteAt(const void* data, uint32_t size, uint64_t offset) override {
    const auto* bytes = static_cast<const uint8_t*>(data);
    while (size > 0) {
      OVERLAPPED transfer = At(offset);
      DWORD done = 0;
      if (!WriteFile(file_, bytes, size, &done, &transfer) && !Finish(&transfer, &done)) return false;
      if (done == 0) return false;
      bytes += done;
      size -= done;
      offset += done;
    }
    return true;
  }
  bool ReadAt(void* data, uint32_t size, uint64_t offset) override {
    auto* bytes = static_cast<uint8_t*>(data);
    while (size > 0) {
      OVERLAPPED transfer = At(offset);
      DWORD done = 0;
      if (!ReadFile(file_, bytes, size, &done, &transfer) && !Finish(&transfer, &done)) return false;
      if (done == 0) return false;  // the end of the file: the rows asked for were never written
      bytes += done;
      size -= done;
      offset += done;
    }
    return true;
  }

 private:
  static OVERLAPPED At(uint64_t offset) {
    OVERLAPPED transfer{};
    transfer.Offset = static_cast<DWORD>(offset);
    transfer.OffsetHigh = static_cast<DWORD>(offset >> 32);
    return transfer;
  }
  // After a transfer call that returned false: waits for a pending transfer's result.
  bool Finish(OVERLAPPED* transfer, DWORD* done) {
    if (GetLastError() != ERROR_IO_PENDING) return false;
    return GetOverlappedResult(file_, transfer, done, TRUE) != 0;
  }

  HANDLE file_;
};

class Win32Files final : public Files {
 public:
  Stream* OpenAnonymousStream() override {
    FILE* file = std::tmpfile();
    return file == nullptr ? nullptr : new FileStream(file);
  }
  // A unique name with the prefix in TMP (else the fallback directory), opened with "D" so that the
  // runtime deletes the file when the stream is closed.
  Stream* OpenNamedScratchStream(const char* prefix) override {
    const char* tmp = std::getenv("TMP");
    const char* directory = IsDirectory(tmp) ? tmp : kFallbackScratchDirectory;
    char name[MAX_PATH];
    if (GetTempFileNameA(directory, prefix, 0, name) == 0) return nullptr;
    FILE* file = std::fopen(name, "w+bD");
    if (file == nullptr) {
      DeleteFileA(name);
      return nullptr;
    }
    return new FileStream(file);
  }
  LayerFile* CreateLayerFile(const char* prefix) override {
    char directory[MAX_PATH];
    const DWORD length = GetTempPathA(MAX_PATH, directory);
    if (length == 0 || length >= MAX_PATH) lstrcpyA(directory, kFallbackLayerDirectory);
    char name[MAX_PATH];
    if (GetTempFileNameA(directory, prefix, 0, name) == 0) return nullptr;
    const HANDLE file = CreateFileA(name, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                    nullptr, CREATE_ALWAYS, kLayerFileFlags, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
      DeleteFileA(name);  // the empty file that GetTempFileNameA made
      return nullptr;
    }
    return new LayerFileImpl(file);
  }
  Stream* OpenOutputFile(const char* name) override {
    FILE* file = std::fopen(name, "wb");
    return file == nullptr ? nullptr : new FileStream(file);
  }
  bool WriteFileHandle(void* handle, const void* data, uint32_t size) override {
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE) return false;
    const auto* bytes = static_cast<const uint8_t*>(data);
    while (size > 0) {
      DWORD done = 0;
      if (!WriteFile(static_cast<HANDLE>(handle), bytes, size, &done, nullptr) || done == 0) return false;
      bytes += done;
      size -= done;
    }
    return true;
  }
};

}  // namespace

Files& NativeFiles() {
  static Win32Files files;
  return files;
}

}  // namespace ostrelin::platform
