// Linux reference for the Windows test host: the same rendering-road and spool-road jobs through the
// exports of the Linux shared library, their streams written to files for the byte-for-byte comparison.
// Usage: ostrelin_win_reference OUTPUT_DIRECTORY SCRATCH_DIRECTORY
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "tests/windows/rendering_jobs.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s OUTPUT_DIRECTORY SCRATCH_DIRECTORY\n", argc > 0 ? argv[0] : "reference");
    return 2;
  }
  const std::string scratchDirectory = argv[2];
  std::filesystem::create_directories(scratchDirectory);
  ::setenv("TMPDIR", scratchDirectory.c_str(), 1);

  ostrelin::crosscheck::EngineExports engine;
  engine.init = &ostrelinInit;
  engine.bitInit = &ostrelinGnfToHmapBitInit;
  engine.bitRow = &ostrelinGnfToHmapBit;
  engine.octetInit = &ostrelinGnfToHmapOctetInit;
  engine.octetRow = &ostrelinGnfToHmapOctet;
  engine.penUp = &ostrelinGnfToTdPu2dA;
  engine.penDown = &ostrelinGnfToTdPd2dA;
  engine.setColour = &ostrelinGnfToTdSetIndexColor;
  engine.endStrokes = &ostrelinGnfToTdEof;
  engine.doBinary = &ostrelinDoBinary;
  engine.getBinarySize = &ostrelinGetBinarySize;
  engine.getBinary = &ostrelinGetBinary;
  engine.clean = &ostrelinClean;
  engine.recordSizes = &RechercheTailleDePiPgPo;
  engine.spoolChunk = &debut;
  return ostrelin::crosscheck::RunAllJobs(engine, argv[1], scratchDirectory) == 0 ? 0 : 1;
}
