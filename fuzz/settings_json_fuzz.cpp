// Fuzz target for the settings decoder: arbitrary bytes as a settings file (JSON or raw record) are
// refused with an error or give a record that round-trips through its JSON form exactly, and that form
// through the record again. Every record has a JSON form.
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
  const auto json = ostrelin::tools::SettingsToJson(record.data());
  if (ostrelin::tools::SettingsFromJson(json) != record) std::abort();
  if (ostrelin::tools::SettingsToJson(ostrelin::tools::SettingsFromJson(json).data()) != json) std::abort();
  return 0;
}
