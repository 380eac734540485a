// Windows test host: loads Ostrelin.dll as the printer driver does, resolves every specified export by
// name, runs the rendering-road and spool-road jobs through them and writes the streams to files.
// Usage: ostrelin_win_host DLL OUTPUT_DIRECTORY SCRATCH_DIRECTORY
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "tests/windows/rendering_jobs.h"

namespace {

using ostrelin::crosscheck::EngineExports;

// Looks up name in the library and stores it in slot (left null when absent).
template <class Function>
void Resolve(HMODULE library, const char* name, Function* slot) {
  const FARPROC address = GetProcAddress(library, name);
  static_assert(sizeof address == sizeof *slot);
  std::memcpy(slot, &address, sizeof *slot);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: %s DLL OUTPUT_DIRECTORY SCRATCH_DIRECTORY\n", argc > 0 ? argv[0] : "host");
    return 2;
  }
  const std::string outputDirectory = argv[2];
  const std::string scratchDirectory = argv[3];
  // The engine's scratch files go to the scratch directory, where the jobs must leave nothing.
  std::filesystem::create_directories(scratchDirectory);
  for (const char* variable : {"TMP", "TEMP"}) {
    SetEnvironmentVariableA(variable, scratchDirectory.c_str());
    _putenv_s(variable, scratchDirectory.c_str());
  }

  HMODULE library = LoadLibraryA(argv[1]);
  std::ofstream exports(std::filesystem::path(outputDirectory) / "exports.txt",
                        std::ios::binary | std::ios::trunc);
  if (library == nullptr) {
    exports << "load\tfailed\t" << GetLastError() << "\n";
    return 1;
  }
  for (const std::string& name : ostrelin::crosscheck::SpecifiedExportNames()) {
    exports << name << (GetProcAddress(library, name.c_str()) != nullptr ? "\tresolved\n" : "\tmissing\n");
  }
  exports.flush();

  EngineExports engine;
  Resolve(library, "ostrelinInit", &engine.init);
  Resolve(library, "ostrelinGnfToHmapBitInit", &engine.bitInit);
  Resolve(library, "ostrelinGnfToHmapBit", &engine.bitRow);
  Resolve(library, "ostrelinGnfToHmapOctetInit", &engine.octetInit);
  Resolve(library, "ostrelinGnfToHmapOctet", &engine.octetRow);
  Resolve(library, "ostrelinGnfToTdPu2dA", &engine.penUp);
  Resolve(library, "ostrelinGnfToTdPd2dA", &engine.penDown);
  Resolve(library, "ostrelinGnfToTdSetIndexColor", &engine.setColour);
  Resolve(library, "ostrelinGnfToTdEof", &engine.endStrokes);
  Resolve(library, "ostrelinDoBinary", &engine.doBinary);
  Resolve(library, "ostrelinGetBinarySize", &engine.getBinarySize);
  Resolve(library, "ostrelinGetBinary", &engine.getBinary);
  Resolve(library, "ostrelinClean", &engine.clean);
  Resolve(library, "RechercheTailleDePiPgPo", &engine.recordSizes);
  Resolve(library, "debut", &engine.spoolChunk);
  if (!engine.init || !engine.bitInit || !engine.bitRow || !engine.octetInit || !engine.octetRow ||
      !engine.penUp || !engine.penDown || !engine.setColour || !engine.endStrokes || !engine.doBinary ||
      !engine.getBinarySize || !engine.getBinary || !engine.clean || !engine.recordSizes ||
      !engine.spoolChunk) {
    std::fprintf(stderr, "an export the jobs need is missing\n");
    return 1;
  }

  const int failures = ostrelin::crosscheck::RunAllJobs(engine, outputDirectory, scratchDirectory);
  FreeLibrary(library);
  return failures == 0 ? 0 : 1;
}
