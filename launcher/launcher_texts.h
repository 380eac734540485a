// Every text the launcher shows or writes, in one place.
#pragma once

#include <cstdint>

namespace ostrelin::launcher {

inline constexpr char16_t kUnsupportedSystem[] = u"This operating system is not supported";
inline constexpr char16_t kSecurityLevelWarning[] = u"Unable to set UMPDSecurityLevel";
inline constexpr char16_t kWarningCaption[] = u"Warning";
// Followed by the system's last-error code as a signed decimal number.
inline constexpr char16_t kStartFailedPrefix[] = u"Setup process error = ";
// Shown when the installer path, the space and the arguments do not fit the command-line buffer.
inline constexpr char16_t kCommandLineTooLong[] = u"The setup command line is too long";

inline constexpr char16_t kWindowsKey[] = u"Software\\Microsoft\\Windows NT\\CurrentVersion\\Windows";
inline constexpr char16_t kSecurityLevelValue[] = u"UMPDSecurityLevel";
inline constexpr uint32_t kSecurityLevel = 2;
inline constexpr char16_t kInstallerPath[] = u"\\Systems\\Install.exe";

}  // namespace ostrelin::launcher
