// The spool road driven from an HPGL file: chunks handed to debut as a spooler hands them over.
#pragma once

#include <cstdint>
#include <string>

namespace ostrelin::tools {

struct PrintArguments {
  std::string input;          // HPGL file, "-" for standard input
  std::string output = "-";   // job file, "-" for standard output
  std::string settings;       // empty: the defaults
  std::string printer;        // when set: the job goes through a printer of this name
  std::string printerData;    // file keeping that printer's data (empty: in memory)
  uint32_t chunkBytes = 65536;
  bool trace = false;
  bool appendPageEnd = false;
  std::string preview;        // when set: a PNG or SVG preview of the job file written there  // end the input with "PG;" when it does not end with a page end
};

// Feeds the input to debut in chunks. Without --printer and with an output file, the engine writes each
// job to that file itself (its output-to-file setting; the file holds the last job); otherwise jobs go
// to a printer whose output is the output file or standard output. Returns the exit status: 1 when a
// job was aborted or the input ended without a page end.
int Print(const PrintArguments& arguments);

}  // namespace ostrelin::tools
