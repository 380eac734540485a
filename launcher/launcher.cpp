// The setup launcher's logic.
#include "launcher/launcher.h"

#include <algorithm>
#include <array>
#include <string>

#include "launcher/launcher_texts.h"

namespace ostrelin::launcher {
namespace {

// Supported Windows versions and their installer folders.
struct VersionRow {
  uint32_t major;
  uint32_t minor;
  VersionChoice choice;
};

constexpr std::array<VersionRow, 8> kVersions = {{
    {5, 0, {u"\\Win_Xp", false}},
    {5, 1, {u"\\Win_Xp", false}},
    {5, 2, {u"\\Win_Xp", false}},
    {6, 0, {u"\\Win_Vista", false}},
    {6, 1, {u"\\Win_7", true}},
    {6, 2, {u"\\Win_8", true}},
    {6, 3, {u"\\Win_8", true}},
    {10, 0, {u"\\Win_8", true}},
}};

// Sets the security level under the hive's Windows key; a key that does not open is passed over.
void WriteSecurityLevel(System& system, Hive hive) {
  const KeyHandle key = system.OpenKeyForWriting(hive, kWindowsKey);
  if (key == 0) return;
  if (!system.SetDwordValue(key, kSecurityLevelValue, kSecurityLevel)) {
    system.ShowMessage(kSecurityLevelWarning, kWarningCaption, kStyleWarning);
  }
  system.CloseKey(key);
}

// The folder of a full file name: everything before its last backslash (nothing when it has none).
std::u16string FolderOf(const std::u16string& fileName) {
  const size_t slash = fileName.rfind(u'\\');
  return slash == std::u16string::npos ? std::u16string() : fileName.substr(0, slash);
}

std::u16string StartFailedText(uint32_t lastError) {
  const std::string number = std::to_string(static_cast<int32_t>(lastError));
  return std::u16string(kStartFailedPrefix) + std::u16string(number.begin(), number.end());
}

}  // namespace

std::optional<VersionChoice> ChooseFolder(uint32_t major, uint32_t minor) {
  for (const VersionRow& row : kVersions) {
    if (row.major == major && row.minor == minor) return row.choice;
  }
  return std::nullopt;
}

std::u16string BuildCommandLine(const std::u16string& launcherFolder, const char16_t* versionFolder,
                                const char* arguments) {
  std::u16string line = launcherFolder + versionFolder + kInstallerPath + u' ';
  // Each byte is widened on its own: a byte above 127 becomes a character with the high byte set.
  for (const char* p = arguments; p != nullptr && *p != '\0'; ++p) {
    line += static_cast<char16_t>(static_cast<int16_t>(static_cast<signed char>(*p)));
  }
  return line.size() < kPathChars ? line : std::u16string();
}

int RunLauncher(System& system, const char* arguments) {
  uint32_t major = 0;
  uint32_t minor = 0;
  if (!system.QueryVersion(&major, &minor)) major = minor = 0;
  const std::optional<VersionChoice> choice = ChooseFolder(major, minor);
  if (!choice) {
    system.ShowMessage(kUnsupportedSystem, nullptr, kStyleOk);
    return 0;
  }

  // The command line is built before anything is changed, so that a refused one changes nothing.
  const std::u16string line = BuildCommandLine(FolderOf(system.ModuleFileName()), choice->folder, arguments);
  if (line.empty()) {
    system.ShowMessage(kCommandLineTooLong, nullptr, kStyleOk);
    return 0;
  }

  if (choice->setSecurityLevel) {
    WriteSecurityLevel(system, Hive::kLocalMachine);
    WriteSecurityLevel(system, Hive::kCurrentUser);
  }

  std::array<char16_t, kPathChars> commandLine{};
  std::copy(line.begin(), line.end(), commandLine.begin());
  StartedProcess started;
  uint32_t lastError = 0;
  if (!system.StartProcess(commandLine.data(), &started, &lastError)) {
    system.ShowMessage(StartFailedText(lastError).c_str(), nullptr, kStyleOk);
    return 0;
  }
  system.WaitForExit(started);
  system.CloseProcessHandles(started);
  return 0;
}

}  // namespace ostrelin::launcher
