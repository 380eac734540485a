// The driver settings record as readable JSON, and back.
//
// Every field the engine reads has a name (units in the name where the field has one); fields of one
// kind are grouped: "motion" (the motion word's two bytes), "flags" (the flag word's bits as booleans),
// "rasterOptions" (A1..A8 and B1..B6), "classes" (8 objects merging each class's two blocks), "factor"
// and "passThrough" (values the engine only forwards to the job header, keyed by their byte offset).
// The identification bytes are a hex string, the output file name a string ("outputFileName"). A name
// that has no text form (no terminating zero within its 260 UTF-16 units, or units that are not valid
// UTF-16) is given instead as "outputFileNameHex": the field's 520 bytes as they stand in the record
// (each unit little-endian), 1040 hex digits; that form is accepted back only for such a name, so that
// every record has exactly one JSON form.
//
// The round trip is exact for the whole record: bytes the engine ignores are kept in "unusedBytes", a
// list of {"offset", "hex"} entries, one per stretch of ignored bytes that holds something other than
// zero (from its first to its last non-zero byte); flag bits without a meaning are kept in
// "flags.unusedBits". Both are left out when zero, and default to zero when absent.
// SettingsToJson(SettingsFromJson(j)) == j for every JSON that SettingsToJson produces, and
// SettingsFromJson(SettingsToJson(r)) == r for every record r.
#pragma once

#include <cstdint>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

namespace ostrelin::tools {

using Json = nlohmann::ordered_json;

// The JSON form of a record of settings::kRecordSize bytes; every record has one.
Json SettingsToJson(const uint8_t* record);

// The record described by json. Every named field is required (the output file name in one of its two
// forms); unknown fields, values outside the field's type, and unusedBytes entries that overlap a field
// or each other are refused with a UsageError naming the field.
std::vector<uint8_t> SettingsFromJson(const Json& json);

// The settings of a sensible machine (see the comment on the definition).
std::vector<uint8_t> DefaultSettingsRecord();

// True when the bytes hold JSON text rather than a raw record: the first byte that is not white space
// is '{', and a file of exactly the record's size also parses as JSON.
bool LooksLikeSettingsJson(const std::vector<uint8_t>& bytes);

// Parses JSON text, refusing malformed text and duplicate keys; name is used in messages.
Json ParseJsonText(const std::vector<uint8_t>& bytes, const std::string& name);

// A settings file in either form: JSON, or a raw record of exactly settings::kRecordSize bytes.
// Throws UsageError for malformed content, Failure when the file cannot be read.
std::vector<uint8_t> SettingsFromBytes(const std::vector<uint8_t>& bytes, const std::string& name);
std::vector<uint8_t> LoadSettingsFile(const std::string& path);

}  // namespace ostrelin::tools
