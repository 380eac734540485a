// The setup launcher's logic: picks the installer folder for the running Windows version, relaxes the
// user-mode printer-driver security level, and starts the installer with the launcher's own arguments.
// Everything it asks of the system goes through System, so the logic runs anywhere.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace ostrelin::launcher {

// Characters of the command-line buffer, terminating zero included.
constexpr size_t kPathChars = 260;

// Message box styles.
constexpr uint32_t kStyleOk = 0x00000000;
constexpr uint32_t kStyleWarning = 0x00000030;

// Registry hives the security level is written in, in this order.
enum class Hive { kLocalMachine, kCurrentUser };

// A registry key opened for writing; 0 means none.
using KeyHandle = uintptr_t;

// The process and thread handles of a started process.
struct StartedProcess {
  uintptr_t process = 0;
  uintptr_t thread = 0;
};

// What the launcher needs from Windows.
class System {
 public:
  virtual ~System() = default;
  // The running version (major, minor) from the extended version-information record; false when it
  // cannot be queried.
  virtual bool QueryVersion(uint32_t* major, uint32_t* minor) = 0;
  // The launcher's own full file name.
  virtual std::u16string ModuleFileName() = 0;
  // Opens subKey of the hive for writing in the 64-bit registry view; 0 when it does not open.
  virtual KeyHandle OpenKeyForWriting(Hive hive, const char16_t* subKey) = 0;
  // Sets a REG_DWORD value; false when it cannot be set.
  virtual bool SetDwordValue(KeyHandle key, const char16_t* name, uint32_t data) = 0;
  virtual void CloseKey(KeyHandle key) = 0;
  // Starts commandLine (a writable buffer, as the system may change it) with no separate application
  // name, no inherited handles, no creation flags, the launcher's environment and directory and
  // zeroed startup information. false, with the system's last-error code, when it does not start.
  virtual bool StartProcess(char16_t* commandLine, StartedProcess* started, uint32_t* lastError) = 0;
  // Waits without time limit until the process ends.
  virtual void WaitForExit(const StartedProcess& started) = 0;
  virtual void CloseProcessHandles(const StartedProcess& started) = 0;
  // A modal message box; caption nullptr gives the system's default caption.
  virtual void ShowMessage(const char16_t* text, const char16_t* caption, uint32_t style) = 0;
};

// The installer folder for a Windows version, and whether the security level is set for it.
struct VersionChoice {
  const char16_t* folder;  // appended to the launcher's folder
  bool setSecurityLevel;
};

// The choice for major.minor, or none when the version is not supported.
std::optional<VersionChoice> ChooseFolder(uint32_t major, uint32_t minor);

// The whole command line: the installer path under folder, one space and the arguments, each
// argument byte sign-extended to a 16-bit character. Empty when it does not fit kPathChars
// characters with its terminating zero.
std::u16string BuildCommandLine(const std::u16string& launcherFolder, const char16_t* versionFolder,
                                const char* arguments);

// Runs the launcher with its arguments (after its own program name, as 8-bit text; nullptr is no
// arguments). Returns 0 on every path.
int RunLauncher(System& system, const char* arguments);

}  // namespace ostrelin::launcher
