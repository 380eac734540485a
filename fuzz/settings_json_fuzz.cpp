// Fuzz target for the settings decoder: arbitrary bytes as a settings file (JSON or raw record) are
// refused with an error or give a record that round-trips through its JSON form exactly. A raw record
// that has no JSON form (an output file name without its terminator) is refused by the conversion.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <exception>
#include <vector>

#include "tools/settings_json.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::vector<uint8_t> bytes(data, data + size);
  std::vector<uint8_t> record;
  try {
    record = ostrelin::tools::SettingsFromBytes(bytes, "fuzz");
  } catch (const std::exception&) {
    return 0;  // refused with a message: fine
  }
  std::vector<uint8_t> back;
  try {
    back = ostrelin::tools::SettingsFromJson(ostrelin::tools::SettingsToJson(record.data()));
  } catch (const std::exception&) {
    return 0;  // no JSON form: refused with a message
  }
  if (back != record) std::abort();
  return 0;
}
