// The launcher program on Windows: the GUI entry point (no window of its own) runs the launcher's logic
// against the Windows version query, module name, registry, process and message box calls.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <string>

#include "launcher/launcher.h"

namespace ostrelin::launcher {
namespace {

static_assert(sizeof(wchar_t) == sizeof(char16_t));

const wchar_t* Wide(const char16_t* text) { return reinterpret_cast<const wchar_t*>(text); }

// The size the version query is told: the basic wide record, whose major and minor versions are all
// the launcher reads.
constexpr DWORD kVersionRecordBytes = 276;
static_assert(sizeof(OSVERSIONINFOW) == kVersionRecordBytes);

class WindowsSystem final : public System {
 public:
  bool QueryVersion(uint32_t* major, uint32_t* minor) override {
    OSVERSIONINFOEXW version{};
    version.dwOSVersionInfoSize = kVersionRecordBytes;
    if (!GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(&version))) return false;
    *major = version.dwMajorVersion;
    *minor = version.dwMinorVersion;
    return true;
  }
  std::u16string ModuleFileName() override {
    wchar_t name[kPathChars] = {};
    const DWORD length = GetModuleFileNameW(nullptr, name, kPathChars);
    if (length == 0 || length >= kPathChars) return std::u16string();
    return std::u16string(reinterpret_cast<const char16_t*>(name), length);
  }
  KeyHandle OpenKeyForWriting(Hive hive, const char16_t* subKey) override {
    HKEY key = nullptr;
    const HKEY root = hive == Hive::kLocalMachine ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
    if (RegOpenKeyExW(root, Wide(subKey), 0, KEY_WRITE | KEY_WOW64_64KEY, &key) != ERROR_SUCCESS) return 0;
    return reinterpret_cast<KeyHandle>(key);
  }
  bool SetDwordValue(KeyHandle key, const char16_t* name, uint32_t data) override {
    const DWORD value = data;
    return RegSetValueExW(reinterpret_cast<HKEY>(key), Wide(name), 0, REG_DWORD,
                          reinterpret_cast<const BYTE*>(&value), sizeof value) == ERROR_SUCCESS;
  }
  void CloseKey(KeyHandle key) override { RegCloseKey(reinterpret_cast<HKEY>(key)); }
  bool StartProcess(char16_t* commandLine, StartedProcess* started, uint32_t* lastError) override {
    STARTUPINFOW startup{};  // every field zero
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(nullptr, reinterpret_cast<wchar_t*>(commandLine), nullptr, nullptr, FALSE, 0, nullptr,
                        nullptr, &startup, &process)) {
      *lastError = GetLastError();
      return false;
    }
    started->process = reinterpret_cast<uintptr_t>(process.hProcess);
    started->thread = reinterpret_cast<uintptr_t>(process.hThread);
    return true;
  }
  void WaitForExit(const StartedProcess& started) override {
    WaitForSingleObject(reinterpret_cast<HANDLE>(started.process), INFINITE);
  }
  void CloseProcessHandles(const StartedProcess& started) override {
    CloseHandle(reinterpret_cast<HANDLE>(started.process));
    CloseHandle(reinterpret_cast<HANDLE>(started.thread));
  }
  void ShowMessage(const char16_t* text, const char16_t* caption, uint32_t style) override {
    MessageBoxW(nullptr, Wide(text), caption != nullptr ? Wide(caption) : nullptr, style);
  }
};

}  // namespace
}  // namespace ostrelin::launcher

// Only the command line (the arguments after the program's own name, as 8-bit text) is used.
int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR arguments, int) {
  ostrelin::launcher::WindowsSystem system;
  return ostrelin::launcher::RunLauncher(system, arguments);
}
