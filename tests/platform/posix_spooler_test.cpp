// The POSIX spooler stand-in: printers by name, persistent printer data, print jobs and aborts.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <iterator>
#include <string>

#include "ostrelin/ostrelin_posix.h"
#include "platform/platform.h"
#include "support/test_support.h"

namespace ostrelin::test {
namespace {

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

class PosixSpooler : public ScratchDirTest {
 protected:
  void TearDown() override {
    std::remove((dir_ + "/out.job").c_str());
    std::remove((dir_ + "/printer.data").c_str());
    std::remove((dir_ + "/kind5.job").c_str());
    ScratchDirTest::TearDown();
  }
  platform::Spooler& spooler = platform::NativeSpooler();
};

TEST_F(PosixSpooler, PrinterDataPersistAndAreReachedThroughAHandleOpenedByName) {
  const std::string data = dir_ + "/printer.data";
  void* printer = ostrelinPosixOpenPrinter("Bench engraver", (dir_ + "/out.job").c_str(), data.c_str());
  ASSERT_NE(printer, nullptr);
  std::string name;
  ASSERT_TRUE(spooler.GetPrinterName(printer, &name));
  EXPECT_EQ(name, "Bench engraver");
  void* byName = spooler.OpenPrinter(name.c_str(), platform::kPrinterAllAccess);
  ASSERT_NE(byName, nullptr);
  const uint8_t value[4] = {0x70, 0x11, 0x01, 0x00};
  EXPECT_TRUE(spooler.SetPrinterData(byName, "TempsEstime", platform::kRegDword, value, 4));
  EXPECT_TRUE(spooler.ClosePrinter(byName));
  uint8_t back[8] = {};
  uint32_t needed = 0;
  ASSERT_TRUE(spooler.GetPrinterData(printer, "TempsEstime", back, sizeof back, &needed));
  EXPECT_EQ(needed, 4u);
  EXPECT_EQ(back[2], 0x01);
  EXPECT_FALSE(spooler.GetPrinterData(printer, "TempsEstime", back, 2, &needed));  // too small a buffer
  EXPECT_FALSE(spooler.GetPrinterData(printer, "VectorSpeed", back, sizeof back, &needed));
  EXPECT_NE(ReadFile(data).find("TempsEstime\t4\t70110100"), std::string::npos);
  EXPECT_EQ(ostrelinPosixClosePrinter(printer), 0);
  EXPECT_EQ(spooler.OpenPrinter("No such printer", platform::kPrinterAllAccess), nullptr);
}

TEST_F(PosixSpooler, AbortDiscardsOnlyTheCurrentPrintJob) {
  const std::string out = dir_ + "/out.job";
  void* printer = ostrelinPosixOpenPrinter("Abort engraver", out.c_str(), nullptr);
  ASSERT_NE(printer, nullptr);
  uint32_t written = 0;
  EXPECT_TRUE(spooler.WritePrinter(printer, "first", 5, &written));
  EXPECT_EQ(written, 5u);
  EXPECT_EQ(ostrelinPosixEndDocPrinter(printer), 0);
  EXPECT_TRUE(spooler.WritePrinter(printer, "second", 6, &written));
  EXPECT_TRUE(spooler.AbortPrinter(printer));
  EXPECT_TRUE(spooler.WritePrinter(printer, "third", 5, &written));
  EXPECT_EQ(ostrelinPosixClosePrinter(printer), 0);
  EXPECT_EQ(ReadFile(out), "firstthird");
}

// Writes are held back in blocks: a job of many small records and one large piece reaches the output
// whole and in order by the end of its print job; an abort still cuts back to where the job began, also
// after blocks of it have reached the output.
TEST_F(PosixSpooler, HeldBackWritesReachTheOutputInOrderAndAbortsCutThemBack) {
  const std::string out = dir_ + "/out.job";
  void* printer = ostrelinPosixOpenPrinter("Block engraver", out.c_str(), nullptr);
  ASSERT_NE(printer, nullptr);
  std::string expected;
  uint32_t written = 0;
  auto write = [&](const std::string& bytes) {
    ASSERT_TRUE(spooler.WritePrinter(printer, bytes.data(), static_cast<uint32_t>(bytes.size()), &written));
    EXPECT_EQ(written, bytes.size());
  };
  for (int i = 0; i < 30000; ++i) {
    const std::string record = "rec" + std::to_string(100 + i % 900);
    write(record);
    expected += record;
    if (i == 20000) {
      const std::string large(100000, static_cast<char>('a' + i % 26));
      write(large);
      expected += large;
    }
  }
  EXPECT_EQ(ostrelinPosixEndDocPrinter(printer), 0);
  EXPECT_EQ(ReadFile(out), expected);
  for (int i = 0; i < 20000; ++i) write("discarded");
  EXPECT_TRUE(spooler.AbortPrinter(printer));
  write("last");
  EXPECT_EQ(ostrelinPosixClosePrinter(printer), 0);
  EXPECT_EQ(ReadFile(out), expected + "last");
}

// An output that refuses bytes is reported where they are handed over: by the write that fills a block,
// by the end of the print job, or by the close.
TEST_F(PosixSpooler, AnOutputThatRefusesBytesIsReported) {
  uint32_t written = 0;
  void* printer = ostrelinPosixOpenPrinter("Full engraver", "/dev/full", nullptr);
  ASSERT_NE(printer, nullptr);
  EXPECT_TRUE(spooler.WritePrinter(printer, "record", 6, &written));
  EXPECT_EQ(ostrelinPosixEndDocPrinter(printer), -1);
  EXPECT_TRUE(spooler.WritePrinter(printer, "record", 6, &written));
  EXPECT_EQ(ostrelinPosixClosePrinter(printer), -1);

  printer = ostrelinPosixOpenPrinter("Full engraver", "/dev/full", nullptr);
  ASSERT_NE(printer, nullptr);
  bool refused = false;
  for (int i = 0; i < 20000 && !refused; ++i) refused = !spooler.WritePrinter(printer, "record", 6, &written);
  EXPECT_TRUE(refused);
  EXPECT_EQ(written, 0u);
  EXPECT_EQ(ostrelinPosixClosePrinter(printer), 0);  // nothing held back any more
}

TEST_F(PosixSpooler, HandlesOfTheWrongKindAreRefused) {
  void* file = ostrelinPosixOpenFileHandle((dir_ + "/kind5.job").c_str());
  ASSERT_NE(file, nullptr);
  uint32_t written = 0;
  std::string name;
  EXPECT_FALSE(spooler.WritePrinter(file, "x", 1, &written));
  EXPECT_FALSE(spooler.GetPrinterName(file, &name));
  EXPECT_TRUE(platform::NativeFiles().WriteFileHandle(file, "kind5", 5));
  EXPECT_EQ(ostrelinPosixClosePrinter(file), -1);
  EXPECT_EQ(ostrelinPosixCloseFileHandle(file), 0);
  EXPECT_EQ(ReadFile(dir_ + "/kind5.job"), "kind5");
  void* printer = ostrelinPosixOpenPrinter("Kind engraver", (dir_ + "/out.job").c_str(), nullptr);
  EXPECT_FALSE(platform::NativeFiles().WriteFileHandle(printer, "x", 1));
  ostrelinPosixClosePrinter(printer);
}

TEST(PosixMessages, DefaultSinkConvertsWindows1252ToUtf8AndCallbacksReceiveTheRawText) {
  struct Seen {
    std::string text;
    uint32_t style = 0;
  } seen;
  ostrelinPosixSetMessageCallback(
      [](void* user, const char* text, uint32_t style) {
        static_cast<Seen*>(user)->text = text;
        static_cast<Seen*>(user)->style = style;
      },
      &seen);
  platform::NativeMessages().Show("Tempor\xE4rer Datei Fehler", 0x30030);
  ostrelinPosixSetMessageCallback(nullptr, nullptr);
  EXPECT_EQ(seen.text, "Tempor\xE4rer Datei Fehler");
  EXPECT_EQ(seen.style, 0x30030u);
  testing::internal::CaptureStderr();
  platform::NativeMessages().Show("Error creaci\xF3n archivo \x80", 0x30030);
  const std::string shown = testing::internal::GetCapturedStderr();
  EXPECT_NE(shown.find("Error creaci\xC3\xB3n archivo \xE2\x82\xAC\n"), std::string::npos) << shown;
}

}  // namespace
}  // namespace ostrelin::test
