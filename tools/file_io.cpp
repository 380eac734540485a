// Files of the command-line tool.
#include "tools/file_io.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <iterator>

#include "tools/tool_error.h"

namespace ostrelin::tools {
namespace {

std::string SystemReason() { return std::strerror(errno); }

}  // namespace

std::vector<uint8_t> ReadWholeFile(const std::string& path, size_t maxBytes) {
  InputFile input(path);
  std::vector<uint8_t> bytes;
  char chunk[65536];
  std::istream& in = input.stream();
  while (in) {
    in.read(chunk, sizeof chunk);
    const auto got = static_cast<size_t>(in.gcount());
    if (bytes.size() + got > maxBytes) {
      throw Failure(path + ": larger than " + std::to_string(maxBytes) + " bytes");
    }
    bytes.insert(bytes.end(), chunk, chunk + got);
  }
  if (in.bad()) throw Failure(path + ": read error");
  return bytes;
}

InputFile::InputFile(const std::string& path) : path_(path == "-" ? "<stdin>" : path), stream_(&std::cin) {
  if (path == "-") return;
  file_ = std::make_unique<std::ifstream>(path, std::ios::binary);
  if (!*file_) throw Failure(path + ": cannot open: " + SystemReason());
  stream_ = file_.get();
}

OutputFile::OutputFile(const std::string& path) : path_(path), stream_(&std::cout) {
  if (path == "-") return;
  temporaryPath_ = path + ".partial-" + std::to_string(::getpid());
  file_ = std::make_unique<std::ofstream>(temporaryPath_, std::ios::binary | std::ios::trunc);
  if (!*file_) throw Failure(path + ": cannot create: " + SystemReason());
  stream_ = file_.get();
}

OutputFile::~OutputFile() {
  if (file_ == nullptr || committed_) return;
  file_->close();
  std::error_code ignored;
  std::filesystem::remove(temporaryPath_, ignored);
}

void OutputFile::Commit() {
  stream_->flush();
  if (file_ == nullptr) {
    if (!*stream_) throw Failure("write error on standard output");
    committed_ = true;
    return;
  }
  file_->close();
  if (!*file_) throw Failure(path_ + ": write error");
  std::error_code error;
  std::filesystem::rename(temporaryPath_, path_, error);
  if (error) throw Failure(path_ + ": cannot write: " + error.message());
  committed_ = true;
}

}  // namespace ostrelin::tools
