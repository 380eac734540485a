// Files of the command-line tool: whole small inputs, streamed large inputs and outputs, where the
// name "-" stands for standard input or standard output.
#pragma once

#include <cstddef>
#include <cstdint>
#include <fstream>
#include <istream>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

namespace ostrelin::tools {

// Reads a whole file (or standard input for "-"); refuses files larger than maxBytes.
// Throws Failure when the file cannot be read.
std::vector<uint8_t> ReadWholeFile(const std::string& path, size_t maxBytes);

// An input stream on a file or on standard input.
class InputFile {
 public:
  explicit InputFile(const std::string& path);
  std::istream& stream() { return *stream_; }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
  std::unique_ptr<std::ifstream> file_;
  std::istream* stream_;
};

// An output that appears only when complete: bytes go to a temporary file beside the target, which
// Commit renames over it. Without Commit the temporary file is removed, so a failed command leaves no
// partial output behind. "-" writes standard output directly.
class OutputFile {
 public:
  explicit OutputFile(const std::string& path);
  ~OutputFile();
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  std::ostream& stream() { return *stream_; }
  // Flushes and puts the output in place; throws Failure when a write or the rename failed.
  void Commit();

 private:
  std::string path_;
  std::string temporaryPath_;
  std::unique_ptr<std::ofstream> file_;
  std::ostream* stream_;
  bool committed_ = false;
};

}  // namespace ostrelin::tools
