// The commands of the `ostrelin` program. Each returns its exit status or throws a ToolError.
#pragma once

#include <string>

namespace ostrelin::tools {

// settings defaults|show|decode|encode: input and output are file names, "-" for standard streams.
int SettingsDefaults(const std::string& output);
int SettingsShow(const std::string& input, const std::string& output);
int SettingsDecode(const std::string& input, const std::string& output);
int SettingsEncode(const std::string& input, const std::string& output);

struct DumpArguments {
  std::string job;
  bool json = false;
  bool summaryOnly = false;
  int motionRecordBytes = 0;  // 0: from the job header
};
// Exit status 1 when the stream holds bytes that fit no element, unknown codes or truncated elements.
int Dump(const DumpArguments& arguments);

}  // namespace ostrelin::tools
