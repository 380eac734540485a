// The commands of the `ostrelin` program.
#include "tools/commands.h"

#include <iostream>

#include "engine/settings_layout.h"
#include "tools/dump_printer.h"
#include "tools/file_io.h"
#include "tools/render.h"
#include "tools/settings_json.h"
#include "tools/stroke_script.h"
#include "tools/tool_error.h"

namespace ostrelin::tools {
namespace {

constexpr size_t kMaxSettingsFileBytes = 1 << 20;

std::string DisplayName(const std::string& path) { return path == "-" ? "<stdin>" : path; }

int WriteJson(const Json& json, const std::string& output) {
  OutputFile out(output);
  out.stream() << json.dump(2) << '\n';
  out.Commit();
  return kExitOk;
}

// The JSON form of a record read from name, messages naming the file.
Json JsonOfRecord(const std::vector<uint8_t>& record, const std::string& name) {
  try {
    return SettingsToJson(record.data());
  } catch (const ToolError& error) {
    throw ToolError(error.exitStatus(), name + ": " + error.what());
  }
}

}  // namespace

int SettingsDefaults(const std::string& output) {
  return WriteJson(SettingsToJson(DefaultSettingsRecord().data()), output);
}

int SettingsShow(const std::string& input, const std::string& output) {
  return WriteJson(JsonOfRecord(LoadSettingsFile(input), DisplayName(input)), output);
}

int SettingsDecode(const std::string& input, const std::string& output) {
  const std::vector<uint8_t> bytes = ReadWholeFile(input, kMaxSettingsFileBytes);
  const std::string name = DisplayName(input);
  if (LooksLikeSettingsJson(bytes)) throw UsageError(name + ": holds JSON, not a raw settings record");
  return WriteJson(JsonOfRecord(SettingsFromBytes(bytes, name), name), output);
}

int SettingsEncode(const std::string& input, const std::string& output) {
  const std::vector<uint8_t> bytes = ReadWholeFile(input, kMaxSettingsFileBytes);
  const std::string name = DisplayName(input);
  if (!LooksLikeSettingsJson(bytes)) throw UsageError(name + ": not JSON settings");
  const std::vector<uint8_t> record = SettingsFromBytes(bytes, name);
  OutputFile out(output);
  out.stream().write(reinterpret_cast<const char*>(record.data()),
                     static_cast<std::streamsize>(record.size()));
  out.Commit();
  return kExitOk;
}

int Dump(const DumpArguments& arguments) {
  InputFile input(arguments.job);
  const std::unique_ptr<DumpPrinter> printer = arguments.json
                                                   ? MakeJsonPrinter(std::cout, !arguments.summaryOnly)
                                                   : MakeTextPrinter(std::cout, !arguments.summaryOnly);
  DecoderOptions options;
  options.motionRecordBytes = arguments.motionRecordBytes;
  const DecodeSummary summary = DecodeJobStream(input.stream(), *printer, options);
  if (input.stream().bad()) throw Failure(input.path() + ": read error");
  printer->Finish(summary);
  std::cout.flush();
  if (!summary.Clean()) {
    std::cerr << "ostrelin: " << input.path() << ": " << summary.Problems() << '\n';
    return kExitFailed;
  }
  return kExitOk;
}

}  // namespace ostrelin::tools
