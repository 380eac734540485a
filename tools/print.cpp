// The spool road driven from an HPGL file.
#include "tools/print.h"

#include <cstdlib>
#include <cstring>
#include <iostream>
#include <memory>
#include <vector>

#include "engine/records.h"
#include "engine/settings_layout.h"
#include "engine/spool_intake.h"
#include "ostrelin/ostrelin.h"
#include "ostrelin/ostrelin_posix.h"
#include "platform/platform.h"
#include "tools/file_io.h"
#include "tools/preview.h"
#include "tools/settings_json.h"
#include "tools/stderr_trace.h"
#include "tools/tool_error.h"

namespace ostrelin::tools {
namespace {

struct FreeDeleter {
  void operator()(void* block) const { std::free(block); }
};

// Puts name into the record's output file name (UTF-16, one unit per byte of the name).
void SetOutputFileName(std::vector<uint8_t>& record, const std::string& name) {
  if (name.size() >= settings::kOutputFileNameUnits) {
    throw UsageError("output file name longer than " + std::to_string(settings::kOutputFileNameUnits - 1) +
                     " characters: " + name);
  }
  settings::Editor editor(record.data());
  for (size_t i = 0; i < settings::kOutputFileNameUnits; ++i) {
    editor.SetU16(settings::kOutputFileName + 2 * i,
                  i < name.size() ? static_cast<uint8_t>(name[i]) : static_cast<uint16_t>(0));
  }
  editor.SetU16(settings::kOutputToFile, 1);
}

}  // namespace

int Print(const PrintArguments& arguments) {
  if (arguments.chunkBytes == 0) throw UsageError("--chunk must be at least 1 byte");
  if (arguments.input == "-" && arguments.settings == "-") {
    throw UsageError("the HPGL input and the settings cannot both come from standard input");
  }
  std::vector<uint8_t> record =
      arguments.settings.empty() ? DefaultSettingsRecord() : LoadSettingsFile(arguments.settings);
  const bool throughPrinter = !arguments.printer.empty() || arguments.output == "-";
  void* printer = nullptr;
  if (throughPrinter) {
    settings::Editor(record.data()).SetU16(settings::kOutputToFile, 0);
    const std::string name = arguments.printer.empty() ? "Ostrelin" : arguments.printer;
    const char* data = arguments.printerData.empty() ? nullptr : arguments.printerData.c_str();
    printer = arguments.output == "-" ? ostrelinPosixOpenPrinterFd(name.c_str(), 1, data)
                                      : ostrelinPosixOpenPrinter(name.c_str(), arguments.output.c_str(), data);
    if (printer == nullptr) throw Failure("cannot open the output " + arguments.output);
  } else {
    SetOutputFileName(record, arguments.output);
  }

  int32_t spoolSize = 0, contextSize = 0, jobSize = 0;
  RechercheTailleDePiPgPo(&spoolSize, &contextSize, &jobSize);
  std::unique_ptr<void, FreeDeleter> spoolBlock(std::calloc(1, static_cast<size_t>(spoolSize)));
  std::unique_ptr<void, FreeDeleter> contextBlock(std::calloc(1, static_cast<size_t>(contextSize)));
  std::unique_ptr<void, FreeDeleter> jobBlock(std::calloc(1, static_cast<size_t>(jobSize)));
  if (!spoolBlock || !contextBlock || !jobBlock) throw Failure("out of memory for the engine's records");
  auto* spool = static_cast<OstrelinSpool*>(spoolBlock.get());
  auto* ctx = static_cast<OstrelinContext*>(contextBlock.get());
  auto* job = static_cast<OstrelinJob*>(jobBlock.get());

  const StderrTrace trace(arguments.trace);

  InputFile input(arguments.input);
  std::vector<uint8_t> chunk(arguments.chunkBytes);
  int jobsWritten = 0;
  int jobsAborted = 0;
  bool outputFailed = false;  // the printer's output refused bytes it held back
  uint64_t bytesIn = 0;
  while (input.stream()) {
    input.stream().read(reinterpret_cast<char*>(chunk.data()), static_cast<std::streamsize>(chunk.size()));
    const auto got = static_cast<uint32_t>(input.stream().gcount());
    if (got == 0) break;
    bytesIn += got;
    const int32_t wasOpen = ctx->jobOpenFlag;
    debut(printer, chunk.data(), got, record.data(), spool, ctx, job);
    if (ctx->lastError != 0) {
      ++jobsAborted;
      ctx->lastError = 0;
    } else if (ctx->jobOpenFlag == 0 && (wasOpen != 0 || got > 0)) {
      ++jobsWritten;
      if (printer != nullptr && ostrelinPosixEndDocPrinter(printer) != 0) outputFailed = true;
    }
  }
  if (input.stream().bad()) throw Failure(input.path() + ": read error");
  if (arguments.appendPageEnd && ctx->jobOpenFlag != 0) {
    // Some programs end their files without a page end; a driver host adds one, as here.
    const uint8_t pageEnd[] = {'P', 'G', ';'};
    debut(printer, pageEnd, sizeof pageEnd, record.data(), spool, ctx, job);
    if (ctx->lastError != 0) {
      ++jobsAborted;
    } else if (ctx->jobOpenFlag == 0) {
      ++jobsWritten;
      if (printer != nullptr && ostrelinPosixEndDocPrinter(printer) != 0) outputFailed = true;
    }
  }
  bool unfinished = false;
  if (ctx->jobOpenFlag != 0) {
    // The data ended before a page end: the job cannot be completed and ends as an aborted one.
    AbortSpoolJob(*ctx, *spool, *job, printer);
    unfinished = true;
  }
  if (printer != nullptr && ostrelinPosixClosePrinter(printer) != 0) outputFailed = true;

  std::cerr << "ostrelin: " << bytesIn << " bytes of HPGL, " << jobsWritten << " job(s) written";
  if (jobsAborted > 0) std::cerr << ", " << jobsAborted << " aborted";
  std::cerr << '\n';
  if (unfinished) {
    std::cerr << "ostrelin: the input ended without a page end (\"PG;\"): the last job was aborted\n";
  }
  if (outputFailed) {
    std::cerr << "ostrelin: the output " << arguments.output << " did not take every byte of the jobs\n";
    return kExitFailed;
  }
  if (!arguments.preview.empty() && jobsWritten > 0) {
    if (arguments.output == "-") throw UsageError("--preview needs the job in a file (-o FILE)");
    WritePreviewFile(arguments.output, arguments.preview);
  }
  return jobsAborted > 0 || unfinished ? kExitFailed : kExitOk;
}

}  // namespace ostrelin::tools
