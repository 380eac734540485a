// POSIX files: scratch streams and layer files unlinked at creation, positioned transfers with
// pread/pwrite, the named output file and host file handles.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/platform.h"
#include "platform/posix/handles.h"
#include "platform/posix/posix.h"

namespace ostrelin::platform {
namespace posix {

bool WriteAll(int fd, const void* data, size_t size) {
  const auto* bytes = static_cast<const uint8_t*>(data);
  while (size > 0) {
    const ssize_t done = ::write(fd, bytes, size);
    if (done < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    bytes += done;
    size -= static_cast<size_t>(done);
  }
  return true;
}

FileHandle* AsFile(void* handle) {
  auto* file = static_cast<FileHandle*>(handle);
  return file != nullptr && file->tag == kFileTag ? file : nullptr;
}

namespace {

bool UsableDirectory(const char* path) {
  struct stat info {};
  return path != nullptr && path[0] != '\0' && ::stat(path, &info) == 0 && S_ISDIR(info.st_mode) &&
         ::access(path, W_OK | X_OK) == 0;
}

// A stdio stream; inserts the repositioning that C requires between writing and reading.
class FileStream final : public Stream {
 public:
  explicit FileStream(FILE* file) : file_(file) {}
  ~FileStream() override {
    if (file_ != nullptr) std::fclose(file_);
  }
  size_t Write(const void* data, size_t size) override {
    if (lastRead_) std::fseek(file_, 0, SEEK_CUR);
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
    return ::fseeko(file_, static_cast<off_t>(offset), origin == kSeekEnd ? SEEK_END : SEEK_SET) == 0;
  }
  int64_t Tell() override { return static_cast<int64_t>(::ftello(file_)); }
  bool Close() override {
    FILE* file = file_;
    file_ = nullptr;
    return file != nullptr && std::fclose(file) == 0;
  }

 private:
  FILE* file_;
  bool lastRead_ = false;
};

Stream* StreamFromDescriptor(int fd) {
  if (fd < 0) return nullptr;
  FILE* file = ::fdopen(fd, "w+b");
  if (file == nullptr) {
    ::close(fd);
    return nullptr;
  }
  return new FileStream(file);
}

// A descriptor of a new file that no name reaches: O_TMPFILE where the file system has it, else a
// unique name that is removed at once.
int AnonymousDescriptor(const std::string& directory, const char* prefix, bool allowTmpfile) {
#ifdef O_TMPFILE
  if (allowTmpfile) {
    const int fd = ::open(directory.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (fd >= 0) return fd;
  }
#endif
  std::string pattern = directory + "/" + prefix + "XXXXXX";
  const int fd = ::mkostemp(pattern.data(), O_CLOEXEC);
  if (fd < 0) return -1;
  ::unlink(pattern.c_str());
  return fd;
}

class LayerFileImpl final : public LayerFile {
 public:
  explicit LayerFileImpl(int fd) : fd_(fd) {}
  ~LayerFileImpl() override { ::close(fd_); }
  bool WriteAt(const void* data, uint32_t size, uint64_t offset) override {
    const auto* bytes = static_cast<const uint8_t*>(data);
    while (size > 0) {
      const ssize_t done = ::pwrite(fd_, bytes, size, static_cast<off_t>(offset));
      if (done < 0 && errno == EINTR) continue;
      if (done <= 0) return false;
      bytes += done;
      size -= static_cast<uint32_t>(done);
      offset += static_cast<uint64_t>(done);
    }
    return true;
  }
  bool ReadAt(void* data, uint32_t size, uint64_t offset) override {
    auto* bytes = static_cast<uint8_t*>(data);
    while (size > 0) {
      const ssize_t done = ::pread(fd_, bytes, size, static_cast<off_t>(offset));
      if (done < 0 && errno == EINTR) continue;
      if (done <= 0) return false;
      bytes += done;
      size -= static_cast<uint32_t>(done);
      offset += static_cast<uint64_t>(done);
    }
    return true;
  }

 private:
  int fd_;
};

class PosixFiles final : public Files {
 public:
  Stream* OpenAnonymousStream() override {
#ifdef O_TMPFILE
    const int fd = ::open(TemporaryDirectory().c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    return StreamFromDescriptor(fd);
#else
    return nullptr;
#endif
  }
  Stream* OpenNamedScratchStream(const char* prefix) override {
    return StreamFromDescriptor(AnonymousDescriptor(TemporaryDirectory(), prefix, false));
  }
  LayerFile* CreateLayerFile(const char* prefix) override {
    const int fd = AnonymousDescriptor(TemporaryDirectory(), prefix, true);
    return fd < 0 ? nullptr : new LayerFileImpl(fd);
  }
  Stream* OpenOutputFile(const char* name) override {
    FILE* file = std::fopen(name, "wb");
    return file == nullptr ? nullptr : new FileStream(file);
  }
  bool WriteFileHandle(void* handle, const void* data, uint32_t size) override {
    FileHandle* file = AsFile(handle);
    return file != nullptr && WriteAll(file->fd, data, size);
  }
};

}  // namespace

std::string TemporaryDirectory() {
  for (const char* variable : {"TMPDIR", "TMP"}) {
    const char* value = std::getenv(variable);
    if (UsableDirectory(value)) return value;
  }
  return "/tmp";
}

}  // namespace posix

Files& NativeFiles() {
  static posix::PosixFiles files;
  return files;
}

}  // namespace ostrelin::platform
