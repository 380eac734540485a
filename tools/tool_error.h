// Errors of the command-line tool: a message for standard error and the exit status it leads to.
#pragma once

#include <stdexcept>
#include <string>

namespace ostrelin::tools {

// Exit statuses of every command.
constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;  // the work could not be done: unreadable file, engine error, damaged stream
constexpr int kExitUsage = 2;   // the command line or an input the user wrote is malformed

// Thrown by the toolkit; main prints "ostrelin: <what>" and exits with exitStatus.
class ToolError : public std::runtime_error {
 public:
  ToolError(int exitStatus, const std::string& message)
      : std::runtime_error(message), exitStatus_(exitStatus) {}
  int exitStatus() const { return exitStatus_; }

 private:
  int exitStatus_;
};

// A malformed input the user wrote (exit status 2).
inline ToolError UsageError(const std::string& message) { return ToolError(kExitUsage, message); }
// Work that could not be done (exit status 1).
inline ToolError Failure(const std::string& message) { return ToolError(kExitFailed, message); }

}  // namespace ostrelin::tools
