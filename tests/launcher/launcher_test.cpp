// The setup launcher's logic against a fake system: version table, registry writes, command line,
// messages, start and wait.
#include "launcher/launcher.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "launcher/launcher_texts.h"

namespace ostrelin::launcher {
namespace {

// Readable form of a wide text: ASCII as is, other characters as \x{....}.
std::string Narrow(const std::u16string& text) {
  std::string out;
  for (char16_t c : text) {
    if (c >= 0x20 && c < 0x7F) {
      out += static_cast<char>(c);
    } else {
      char code[12];
      std::snprintf(code, sizeof code, "\\x{%04X}", static_cast<unsigned>(c));
      out += code;
    }
  }
  return out;
}

const char* HiveName(Hive hive) { return hive == Hive::kLocalMachine ? "HKLM" : "HKCU"; }

// A system that answers from its fields and logs every call in order.
class FakeSystem : public System {
 public:
  bool QueryVersion(uint32_t* major, uint32_t* minor) override {
    *major = majorVersion;
    *minor = minorVersion;
    return versionKnown;
  }
  std::u16string ModuleFileName() override { return moduleFileName; }
  KeyHandle OpenKeyForWriting(Hive hive, const char16_t* subKey) override {
    log.push_back(std::string("open ") + HiveName(hive) + " " + Narrow(subKey));
    const bool opens = hive == Hive::kLocalMachine ? machineKeyOpens : userKeyOpens;
    return opens ? (hive == Hive::kLocalMachine ? 1 : 2) : 0;
  }
  bool SetDwordValue(KeyHandle key, const char16_t* name, uint32_t data) override {
    log.push_back("set " + std::to_string(key) + " " + Narrow(name) + "=" + std::to_string(data));
    return key == 1 ? machineValueSets : userValueSets;
  }
  void CloseKey(KeyHandle key) override { log.push_back("close " + std::to_string(key)); }
  bool StartProcess(char16_t* commandLine, StartedProcess* started, uint32_t* lastError) override {
    commandLines.emplace_back(commandLine);
    log.push_back("start");
    if (startError != 0) {
      *lastError = startError;
      return false;
    }
    *started = StartedProcess{77, 78};
    return true;
  }
  void WaitForExit(const StartedProcess& started) override {
    log.push_back("wait " + std::to_string(started.process));
  }
  void CloseProcessHandles(const StartedProcess& started) override {
    log.push_back("close process " + std::to_string(started.process) + " " + std::to_string(started.thread));
  }
  void ShowMessage(const char16_t* text, const char16_t* caption, uint32_t style) override {
    log.push_back("message " + Narrow(text) + " | " + (caption != nullptr ? Narrow(caption) : "(default)") +
                  " | " + std::to_string(style));
  }

  uint32_t majorVersion = 10;
  uint32_t minorVersion = 0;
  bool versionKnown = true;
  std::u16string moduleFileName = u"C:\\Kit\\setup.exe";
  bool machineKeyOpens = true;
  bool userKeyOpens = true;
  bool machineValueSets = true;
  bool userValueSets = true;
  uint32_t startError = 0;
  std::vector<std::u16string> commandLines;
  std::vector<std::string> log;
};

const std::string kOpenMachine = "open HKLM Software\\Microsoft\\Windows NT\\CurrentVersion\\Windows";
const std::string kOpenUser = "open HKCU Software\\Microsoft\\Windows NT\\CurrentVersion\\Windows";
const std::string kSetMachine = "set 1 UMPDSecurityLevel=2";
const std::string kSetUser = "set 2 UMPDSecurityLevel=2";
const std::string kWarning = "message Unable to set UMPDSecurityLevel | Warning | 48";
const std::string kUnsupported = "message This operating system is not supported | (default) | 0";
const std::string kTooLong = "message The setup command line is too long | (default) | 0";
const std::vector<std::string> kStartAndWait = {"start", "wait 77", "close process 77 78"};

std::vector<std::string> Concat(std::vector<std::string> first, const std::vector<std::string>& second) {
  first.insert(first.end(), second.begin(), second.end());
  return first;
}

// Each supported version starts the installer of its folder; from 6.1 on, the security level is set
// first in the machine hive, then in the user hive.
TEST(Launcher, SupportedVersions) {
  struct Case {
    uint32_t major, minor;
    const char16_t* commandLine;
    bool setsSecurityLevel;
  };
  const Case cases[] = {
      {5, 0, u"C:\\Kit\\Win_Xp\\Systems\\Install.exe ", false},
      {5, 1, u"C:\\Kit\\Win_Xp\\Systems\\Install.exe ", false},
      {5, 2, u"C:\\Kit\\Win_Xp\\Systems\\Install.exe ", false},
      {6, 0, u"C:\\Kit\\Win_Vista\\Systems\\Install.exe ", false},
      {6, 1, u"C:\\Kit\\Win_7\\Systems\\Install.exe ", true},
      {6, 2, u"C:\\Kit\\Win_8\\Systems\\Install.exe ", true},
      {6, 3, u"C:\\Kit\\Win_8\\Systems\\Install.exe ", true},
      {10, 0, u"C:\\Kit\\Win_8\\Systems\\Install.exe ", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.major << "." << c.minor);
    FakeSystem system;
    system.majorVersion = c.major;
    system.minorVersion = c.minor;
    EXPECT_EQ(RunLauncher(system, ""), 0);
    const std::vector<std::string> registry = {kOpenMachine, kSetMachine, "close 1",
                                               kOpenUser,    kSetUser,    "close 2"};
    EXPECT_EQ(system.log, Concat(c.setsSecurityLevel ? registry : std::vector<std::string>{}, kStartAndWait));
    ASSERT_EQ(system.commandLines.size(), 1u);
    EXPECT_EQ(system.commandLines[0], c.commandLine);
  }
}

// Other versions, and a version that cannot be queried, are refused: one message, nothing written,
// nothing started.
TEST(Launcher, UnsupportedVersionsAreRefused) {
  const std::pair<uint32_t, uint32_t> versions[] = {{5, 3}, {6, 4}, {10, 1}, {4, 0}, {7, 0}, {11, 0}, {0, 0}};
  for (auto [major, minor] : versions) {
    FakeSystem system;
    system.majorVersion = major;
    system.minorVersion = minor;
    EXPECT_EQ(RunLauncher(system, "/quiet"), 0);
    EXPECT_EQ(system.log, std::vector<std::string>{kUnsupported}) << major << "." << minor;
  }
  FakeSystem unknown;
  unknown.versionKnown = false;
  unknown.majorVersion = 6;
  unknown.minorVersion = 1;
  RunLauncher(unknown, nullptr);
  EXPECT_EQ(unknown.log, std::vector<std::string>{kUnsupported});
}

// A key that does not open is passed over silently; a value that cannot be set gives one warning per
// hive; the installer starts in every case.
TEST(Launcher, RegistryFailuresDoNotStopTheInstallation) {
  struct Case {
    const char* what;
    bool machineOpens, userOpens, machineSets, userSets;
    std::vector<std::string> registryLog;
  };
  const Case cases[] = {
      {"machine key closed", false, true, true, true, {kOpenMachine, kOpenUser, kSetUser, "close 2"}},
      {"no key opens", false, false, true, true, {kOpenMachine, kOpenUser}},
      {"machine value refused",
       true,
       true,
       false,
       true,
       {kOpenMachine, kSetMachine, kWarning, "close 1", kOpenUser, kSetUser, "close 2"}},
      {"both values refused",
       true,
       true,
       false,
       false,
       {kOpenMachine, kSetMachine, kWarning, "close 1", kOpenUser, kSetUser, kWarning, "close 2"}},
  };
  for (const Case& c : cases) {
    FakeSystem system;
    system.machineKeyOpens = c.machineOpens;
    system.userKeyOpens = c.userOpens;
    system.machineValueSets = c.machineSets;
    system.userValueSets = c.userSets;
    EXPECT_EQ(RunLauncher(system, ""), 0);
    EXPECT_EQ(system.log, Concat(c.registryLog, kStartAndWait)) << c.what;
  }
}

// The arguments follow the installer's path and one space, byte for byte: bytes above 127 are
// sign-extended (0xE9 becomes U+FFE9), not converted from a code page. The path is not quoted.
TEST(Launcher, CommandLine) {
  struct Case {
    std::u16string moduleFileName;
    const char* arguments;
    std::u16string commandLine;
  };
  const Case cases[] = {
      {u"C:\\Kit\\setup.exe", nullptr, u"C:\\Kit\\Win_8\\Systems\\Install.exe "},
      {u"C:\\Kit\\setup.exe", "", u"C:\\Kit\\Win_8\\Systems\\Install.exe "},
      {u"C:\\Kit\\setup.exe", "/S  /v\"x y\"", u"C:\\Kit\\Win_8\\Systems\\Install.exe /S  /v\"x y\""},
      {u"C:\\Kit\\setup.exe", "caf\xE9 \x7F\x80",
       u"C:\\Kit\\Win_8\\Systems\\Install.exe caf\xFFE9 \x7F\xFF80"},
      {u"C:\\Program Files\\My Kit\\setup.exe", "-x",
       u"C:\\Program Files\\My Kit\\Win_8\\Systems\\Install.exe -x"},
      {u"setup.exe", "", u"\\Win_8\\Systems\\Install.exe "},
  };
  for (const Case& c : cases) {
    FakeSystem system;
    system.moduleFileName = c.moduleFileName;
    RunLauncher(system, c.arguments);
    ASSERT_EQ(system.commandLines.size(), 1u);
    EXPECT_EQ(Narrow(system.commandLines[0]), Narrow(c.commandLine));
  }
}

// The command line and its terminating zero must fit 260 characters; one that does not is refused
// with a message before anything is written or started.
TEST(Launcher, CommandLineMustFitTheBuffer) {
  const std::u16string folder = u"C:\\Kit";
  const size_t fixedChars = BuildCommandLine(folder, u"\\Win_8", "").size();  // path and space
  const size_t room = kPathChars - 1 - fixedChars;

  FakeSystem fits;
  const std::string longest(room, 'a');
  RunLauncher(fits, longest.c_str());
  ASSERT_EQ(fits.commandLines.size(), 1u);
  EXPECT_EQ(fits.commandLines[0].size(), kPathChars - 1);

  for (const std::u16string& module :
       {folder + u"\\setup.exe", folder + std::u16string(300, u'k') + u"\\s.exe"}) {
    FakeSystem tooLong;
    tooLong.moduleFileName = module;
    const std::string arguments(room + 1, 'a');
    RunLauncher(tooLong, arguments.c_str());
    EXPECT_EQ(tooLong.log, std::vector<std::string>{kTooLong});
  }
  EXPECT_TRUE(BuildCommandLine(folder, u"\\Win_8", std::string(room + 1, 'a').c_str()).empty());
}

// An installer that cannot be started gives "Setup process error = " and the last-error code as a
// signed number, and nothing is waited for.
TEST(Launcher, StartFailure) {
  const std::pair<uint32_t, const char*> cases[] = {{2, "2"}, {740, "740"}, {0xFFFFFFFFu, "-1"}};
  for (auto [code, text] : cases) {
    FakeSystem system;
    system.majorVersion = 6;
    system.minorVersion = 0;
    system.startError = code;
    EXPECT_EQ(RunLauncher(system, ""), 0);
    EXPECT_EQ(system.log, (std::vector<std::string>{"start", std::string("message Setup process error = ") +
                                                                 text + " | (default) | 0"}));
  }
}

}  // namespace
}  // namespace ostrelin::launcher
