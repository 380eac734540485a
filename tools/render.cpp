// The rendering road driven from a stroke script.
#include "tools/render.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "ostrelin/ostrelin.h"
#include "platform/platform.h"
#include "tools/tool_error.h"

namespace ostrelin::tools {
namespace {

constexpr uint32_t kReadChunkBytes = 1u << 20;

struct FreeDeleter {
  void operator()(void* block) const { std::free(block); }
};

// The three records, allocated zero-filled at the sizes the engine asks for, and released after
// ostrelinClean has closed what hangs from them.
class EngineRecords {
 public:
  EngineRecords() {
    int32_t spoolSize = 0, contextSize = 0, jobSize = 0;
    RechercheTailleDePiPgPo(&spoolSize, &contextSize, &jobSize);
    ctx_.reset(std::calloc(1, static_cast<size_t>(contextSize)));
    spool_.reset(std::calloc(1, static_cast<size_t>(spoolSize)));
    job_.reset(std::calloc(1, static_cast<size_t>(jobSize)));
    if (!ctx_ || !spool_ || !job_) throw Failure("not enough memory for the engine's records");
  }
  ~EngineRecords() {
    if (open_) ostrelinClean(ctx(), spool(), job());
  }
  EngineRecords(const EngineRecords&) = delete;
  EngineRecords& operator=(const EngineRecords&) = delete;

  OstrelinContext* ctx() { return static_cast<OstrelinContext*>(ctx_.get()); }
  OstrelinSpool* spool() { return static_cast<OstrelinSpool*>(spool_.get()); }
  OstrelinJob* job() { return static_cast<OstrelinJob*>(job_.get()); }

  void Opened() { open_ = true; }
  // Ends the job; false when closing the stream failed.
  bool Clean() {
    open_ = false;
    return ostrelinClean(ctx(), spool(), job()) == 0;
  }

  // Throws when the last call ended through the engine's error frame.
  void Check(const std::string& call) {
    if (ctx()->lastError != 0) {
      throw Failure("no job written: the engine stopped in " + call + " (error kind " +
                    std::to_string(ctx()->lastError - 1) + ")");
    }
  }

 private:
  std::unique_ptr<void, FreeDeleter> ctx_;
  std::unique_ptr<void, FreeDeleter> spool_;
  std::unique_ptr<void, FreeDeleter> job_;
  bool open_ = false;
};

// Shows the engine's diagnostics on standard error while installed.
class StderrTrace : public platform::TraceHook {
 public:
  explicit StderrTrace(bool enabled) : enabled_(enabled) {
    if (enabled_) previous_ = platform::InstallTrace(this);
  }
  ~StderrTrace() override {
    if (enabled_) platform::InstallTrace(previous_);
  }
  void Trace(const char* text) override {
    const size_t length = std::strlen(text);
    const bool ended = length > 0 && text[length - 1] == '\n';
    std::fprintf(stderr, "ostrelin: trace: %s%s", text, ended ? "" : "\n");
  }

 private:
  bool enabled_;
  platform::TraceHook* previous_ = nullptr;
};

std::string CallName(const StrokeCommand& command) {
  const std::string at = command.line > 0 ? " (script line " + std::to_string(command.line) + ")" : "";
  switch (command.kind) {
    case StrokeCommand::Kind::kColour:
      return "ostrelinGnfToTdSetIndexColor" + at;
    case StrokeCommand::Kind::kPenUp:
      return "ostrelinGnfToTdPu2dA" + at;
    case StrokeCommand::Kind::kPenDown:
      return "ostrelinGnfToTdPd2dA" + at;
    case StrokeCommand::Kind::kEof:
      return "ostrelinGnfToTdEof" + at;
  }
  return "?";
}

}  // namespace

uint64_t RenderJob(const std::vector<uint8_t>& settings, const std::vector<StrokeCommand>& commands,
                   std::ostream& out, const RenderOptions& options) {
  const StderrTrace trace(options.trace);
  EngineRecords records;
  std::vector<uint8_t> record = settings;
  ostrelinInit(records.ctx(), records.spool(), records.job(), record.data());
  records.Opened();
  records.Check("ostrelinInit");

  for (const StrokeCommand& command : commands) {
    switch (command.kind) {
      case StrokeCommand::Kind::kColour:
        ostrelinGnfToTdSetIndexColor(records.ctx(), records.spool(), records.job(), command.colour);
        break;
      case StrokeCommand::Kind::kPenUp:
        ostrelinGnfToTdPu2dA(records.ctx(), records.spool(), records.job(), command.x, command.y);
        break;
      case StrokeCommand::Kind::kPenDown:
        ostrelinGnfToTdPd2dA(records.ctx(), records.spool(), records.job(), command.x, command.y);
        break;
      case StrokeCommand::Kind::kEof:
        ostrelinGnfToTdEof(records.ctx(), records.spool(), records.job());
        break;
    }
    records.Check(CallName(command));
  }

  ostrelinDoBinary(records.ctx(), records.spool(), records.job());
  records.Check("ostrelinDoBinary");

  const int32_t size = ostrelinGetBinarySize(records.ctx(), records.spool(), records.job());
  if (size < 0) throw Failure("no job written: the job is larger than 2 GiB and cannot be read back");
  std::vector<uint8_t> chunk(kReadChunkBytes);
  uint64_t written = 0;
  while (written < static_cast<uint64_t>(size)) {
    const int32_t got =
        ostrelinGetBinary(records.ctx(), records.spool(), records.job(), chunk.data(), kReadChunkBytes);
    if (got <= 0) break;
    out.write(reinterpret_cast<const char*>(chunk.data()), got);
    written += static_cast<uint64_t>(got);
  }
  if (written != static_cast<uint64_t>(size)) {
    throw Failure("no job written: read back " + std::to_string(written) + " of " + std::to_string(size) +
                  " bytes");
  }
  if (!records.Clean()) throw Failure("no job written: closing the engine's job stream failed");
  return written;
}

}  // namespace ostrelin::tools
