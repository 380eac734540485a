// Jobs that a host runs through the engine's exports, the same on every platform, so that the streams of
// the Windows DLL and of the Linux library can be compared byte for byte: rendering-road jobs, and
// spool-road jobs whose HPGL goes through debut with the output written to a named file.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "ostrelin/ostrelin.h"

namespace ostrelin::crosscheck {

// The exports a rendering-road host calls, however it found them.
struct EngineExports {
  decltype(&ostrelinInit) init = nullptr;
  decltype(&ostrelinGnfToHmapBitInit) bitInit = nullptr;
  decltype(&ostrelinGnfToHmapBit) bitRow = nullptr;
  decltype(&ostrelinGnfToHmapOctetInit) octetInit = nullptr;
  decltype(&ostrelinGnfToHmapOctet) octetRow = nullptr;
  decltype(&ostrelinGnfToTdPu2dA) penUp = nullptr;
  decltype(&ostrelinGnfToTdPd2dA) penDown = nullptr;
  decltype(&ostrelinGnfToTdSetIndexColor) setColour = nullptr;
  decltype(&ostrelinGnfToTdEof) endStrokes = nullptr;
  decltype(&ostrelinDoBinary) doBinary = nullptr;
  decltype(&ostrelinGetBinarySize) getBinarySize = nullptr;
  decltype(&ostrelinGetBinary) getBinary = nullptr;
  decltype(&ostrelinClean) clean = nullptr;
  decltype(&RechercheTailleDePiPgPo) recordSizes = nullptr;
  decltype(&debut) spoolChunk = nullptr;
};

// The names of every export the engine's interface specifies, in the order of its documentation.
const std::vector<std::string>& SpecifiedExportNames();

// The names of the jobs, in the order they run.
std::vector<std::string> JobNames();

// Runs the named job on freshly allocated, zero-filled records and reads its stream back. A spool-road
// job writes its output file in workDirectory, which is read back and removed. Returns an empty string
// on success, else what went wrong (a stream that could not be read completely, a sink that did not
// close, a spool job that ended with an error).
std::string RunJob(const EngineExports& engine, const std::string& name, const std::string& workDirectory,
                   std::vector<uint8_t>* stream);

// Runs every job and writes each stream to outputDirectory/NAME.job, then, in report.txt, one line per
// job ("NAME<TAB>ok<TAB>BYTES" or "NAME<TAB>failed<TAB>WHY") and one per file left in
// scratchDirectory ("leftover<TAB>FILE"). Returns the number of failures (a leftover is one).
int RunAllJobs(const EngineExports& engine, const std::string& outputDirectory,
               const std::string& scratchDirectory);

}  // namespace ostrelin::crosscheck
