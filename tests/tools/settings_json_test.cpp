// The JSON form of the driver settings record: field placement, exact round trips, refusals.
#include "tools/settings_json.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <random>
#include <sstream>

#include "support/test_support.h"
#include "tools/tool_error.h"

namespace ostrelin::tools {
namespace {

constexpr size_t kRecordBytes = 1828;

enum class Width { kU8, kU16, kS16, kU32, kS32 };

void Put(std::vector<uint8_t>& record, size_t offset, Width width, int64_t value) {
  const size_t bytes = width == Width::kU8 ? 1 : (width == Width::kU16 || width == Width::kS16) ? 2 : 4;
  for (size_t i = 0; i < bytes; ++i)
    record[offset + i] = static_cast<uint8_t>(static_cast<uint64_t>(value) >> (8 * i));
}

// A record whose output file name is the empty string.
std::vector<uint8_t> ZeroRecord() { return std::vector<uint8_t>(kRecordBytes, 0); }

// Where each field lives, by the byte offsets of the record's layout (written out here, not taken from
// the layout header, so that a wrong entry in the tool's table shows).
struct Placement {
  const char* pointer;
  size_t offset;
  Width width;
  int64_t value;
};

const Placement kPlacements[] = {
    {"/settingsVersion", 0, Width::kU16, 1234},
    {"/machineKind", 2, Width::kU16, 11},
    {"/language", 4, Width::kU16, 6},
    {"/model", 6, Width::kU16, 268},
    {"/plateWidthMicrometres", 8, Width::kU32, 4000000000},
    {"/plateHeightMicrometres", 12, Width::kU32, 300000},
    {"/passThrough/at16", 16, Width::kS32, -123456},
    {"/passThrough/at20", 20, Width::kS32, 2000000000},
    {"/firstDotMode", 24, Width::kU16, 2},
    {"/passThrough/at26", 26, Width::kU16, 65535},
    {"/passThrough/at28", 28, Width::kU16, 7},
    {"/passThrough/at30", 30, Width::kU16, 8},
    {"/tcFlag", 32, Width::kU16, 1},
    {"/tcSpeed", 36, Width::kU32, 17000},
    {"/engravingResolutionXDpi", 44, Width::kU16, 1000},
    {"/engravingResolutionYDpi", 46, Width::kU16, 500},
    {"/engineResolutionDpi", 48, Width::kU16, 254},
    {"/fastFlag", 50, Width::kU16, 1},
    {"/orientation", 52, Width::kU16, 5},
    {"/factor/at54", 54, Width::kU16, 3},
    {"/factor/at56", 56, Width::kU32, 123456789},
    {"/rasterOptions/a1", 60, Width::kU16, 1},
    {"/rasterOptions/a2GreyPower", 62, Width::kU16, 2},
    {"/rasterOptions/a5Negative", 68, Width::kU16, 5},
    {"/rasterOptions/a7Brightness", 72, Width::kU16, 50},
    {"/rasterOptions/a8", 74, Width::kU16, 8},
    {"/rasterOptions/b1Stamp", 76, Width::kU16, 1},
    {"/rasterOptions/b4ShoulderInnerWidthMicrometres", 82, Width::kU16, 300},
    {"/rasterOptions/b6", 86, Width::kU16, 6},
    {"/classes/0/powerPercent", 88, Width::kU16, 100},
    {"/classes/0/speedMmPerS", 90, Width::kU16, 3500},
    {"/classes/1/passes", 108 + 4, Width::kU16, 3},
    {"/classes/3/depthStep", 148 + 8, Width::kS32, -50},
    {"/classes/5/depthMode", 188 + 12, Width::kU16, 1},
    {"/classes/6/colourMode", 208 + 14, Width::kU16, 7},
    {"/classes/7/ai", 228 + 16, Width::kU16, 9},
    {"/firstSourceCode", 266, Width::kU16, 13},
    {"/motion/tableSelector", 268, Width::kU8, 3},
    {"/motion/controllerKind", 269, Width::kU8, 1},
    {"/passThrough/at270", 270, Width::kU16, 4},
    {"/outputToFile", 272, Width::kU16, 1},
    {"/passThrough/at280", 280, Width::kS16, -7},
    {"/passThrough/at284", 284, Width::kS16, -100},
    {"/passThrough/at286", 286, Width::kS16, 32767},
    {"/passThrough/at288", 288, Width::kU16, 12},
    {"/secondSourceCode", 290, Width::kU16, 11},
    {"/classes/0/fr", 292, Width::kU16, 5},
    {"/classes/7/slCode", 292 + 196 + 2, Width::kU16, 1},
    {"/vectorResolutionOverrideDpi", 516, Width::kU32, 1000},
    {"/vectorResolutionDpi", 520, Width::kU32, 500},
};

TEST(SettingsJson, EachFieldReadsAndWritesItsOwnBytes) {
  for (const Placement& p : kPlacements) {
    SCOPED_TRACE(p.pointer);
    std::vector<uint8_t> record = ZeroRecord();
    Put(record, p.offset, p.width, p.value);
    const Json json = SettingsToJson(record.data());
    EXPECT_EQ(json.at(Json::json_pointer(p.pointer)).get<int64_t>(), p.value);
    EXPECT_FALSE(json.contains("unusedBytes")) << "the field's bytes were taken for unused ones";
    EXPECT_EQ(SettingsFromJson(json), record);
  }
}

TEST(SettingsJson, FlagBitsHaveTheirNames) {
  const std::pair<const char*, int> kBits[] = {
      {"bottomUp", 0},     {"estimateOnly", 1},    {"oneWayRows", 2},
      {"sectionSplit", 3}, {"speedsConverted", 5}, {"vectorResolutionOverride", 6},
      {"fileOrder", 7},    {"series", 8},
  };
  for (const auto& [name, bit] : kBits) {
    SCOPED_TRACE(name);
    std::vector<uint8_t> record = ZeroRecord();
    Put(record, 282, Width::kU16, 1 << bit);
    const Json json = SettingsToJson(record.data());
    for (const auto& [other, otherBit] : kBits)
      EXPECT_EQ(json["flags"][other].get<bool>(), other == name) << other;
    EXPECT_FALSE(json["flags"].contains("unusedBits"));
    EXPECT_EQ(SettingsFromJson(json), record);
  }
  std::vector<uint8_t> record = ZeroRecord();
  Put(record, 282, Width::kU16, (1 << 4) | (1 << 15) | 1);
  const Json json = SettingsToJson(record.data());
  EXPECT_EQ(json["flags"]["unusedBits"], (1 << 4) | (1 << 15));
  EXPECT_EQ(SettingsFromJson(json), record);
}

TEST(SettingsJson, IdentificationAndUnusedBytesKeepEveryByte) {
  std::vector<uint8_t> record = ZeroRecord();
  for (int i = 0; i < 16; ++i) record[248 + i] = static_cast<uint8_t>(0xA0 + i);
  record[34] = 0x12;        // between the Tc flag and the Tc speed
  record[88 + 18] = 0x34;   // tail of class 0's first block
  record[292 + 10] = 0x56;  // inside class 0's second block
  record[292 + 14] = 0x78;
  record[1000] = 0x9A;  // between the vector resolution and the file name
  const Json json = SettingsToJson(record.data());
  EXPECT_EQ(json["identificationHex"], "a0a1a2a3a4a5a6a7a8a9aaabacadaeaf");
  const Json expected = Json::parse(R"([{"offset": 34, "hex": "12"}, {"offset": 106, "hex": "34"},
                                        {"offset": 302, "hex": "5600000078"}, {"offset": 1000, "hex": "9a"}])");
  EXPECT_EQ(json["unusedBytes"], expected);
  EXPECT_EQ(SettingsFromJson(json), record);
}

// Random records survive both round trips byte for byte: most with a terminated name, the others with
// whatever the name's units happen to be.
TEST(SettingsJson, RandomRecordsRoundTripExactly) {
  std::mt19937 random(20261211);
  for (int trial = 0; trial < 200; ++trial) {
    std::vector<uint8_t> record(kRecordBytes);
    for (uint8_t& byte : record) byte = static_cast<uint8_t>(random());
    if (trial % 4 != 0) {
      const size_t nameUnits = random() % 260;
      for (size_t i = 0; i < nameUnits; ++i)
        Put(record, 1308 + 2 * i, Width::kU16, 'a' + static_cast<int>(random() % 26));
      Put(record, 1308 + 2 * nameUnits, Width::kU16, 0);
    }
    const Json json = SettingsToJson(record.data());
    ASSERT_EQ(SettingsFromJson(json), record) << "trial " << trial;
    ASSERT_EQ(SettingsToJson(SettingsFromJson(json).data()), json) << "trial " << trial;
  }
}

TEST(SettingsJson, OutputFileNameIsUtf16) {
  std::vector<uint8_t> record = ZeroRecord();
  const uint16_t units[] = {'C', ':', 0x00E9, 0xD834, 0xDD1E, 0};  // "C:é𝄞"
  for (size_t i = 0; i < std::size(units); ++i) Put(record, 1308 + 2 * i, Width::kU16, units[i]);
  record[1308 + 2 * std::size(units) + 4] = 0xEE;  // after the terminator: unused
  const Json json = SettingsToJson(record.data());
  EXPECT_EQ(json["outputFileName"], "C:\u00e9\U0001D11E");
  EXPECT_EQ(json["unusedBytes"][0]["offset"], 1308 + 2 * std::size(units) + 4);
  EXPECT_EQ(SettingsFromJson(json), record);

  Json longest = json;
  longest.erase("unusedBytes");
  longest["outputFileName"] = std::string(259, 'x');
  const std::vector<uint8_t> encoded = SettingsFromJson(longest);
  EXPECT_EQ(encoded[1308 + 2 * 258], 'x');
  EXPECT_EQ(encoded[1308 + 2 * 259], 0);
  EXPECT_EQ(encoded[1308 + 2 * 259 + 1], 0);

  // 260 units leave no room for the terminator; a character outside the BMP takes two units.
  for (const std::string& name : {std::string(260, 'x'), std::string(258, 'x') + "\U0001D11E"}) {
    longest["outputFileName"] = name;
    try {
      SettingsFromJson(longest);
      ADD_FAILURE() << "accepted a name of " << name.size() << " bytes";
    } catch (const ToolError& error) {
      EXPECT_NE(std::string(error.what()).find("outputFileName: longer than 259"), std::string::npos)
          << error.what();
    }
  }
}

// A name without a text form is given as the field's raw bytes, which come back unchanged.
TEST(SettingsJson, NamesWithoutATextFormAreGivenAsHex) {
  std::vector<uint8_t> unterminated = ZeroRecord();
  for (size_t i = 0; i < 260; ++i) Put(unterminated, 1308 + 2 * i, Width::kU16, 'n' + (i % 3));
  std::vector<uint8_t> loneSurrogate = ZeroRecord();
  Put(loneSurrogate, 1308, Width::kU16, 0xDC00);
  loneSurrogate[1308 + 300] = 0x7F;  // after the terminator, but part of the raw field
  for (const auto& record : {unterminated, loneSurrogate}) {
    const Json json = SettingsToJson(record.data());
    EXPECT_FALSE(json.contains("outputFileName"));
    ASSERT_TRUE(json.contains("outputFileNameHex"));
    const std::string hex = json["outputFileNameHex"];
    ASSERT_EQ(hex.size(), 1040u);
    EXPECT_EQ(hex.substr(0, 4), record == unterminated ? "6e00" : "00dc");  // units little-endian
    EXPECT_FALSE(json.contains("unusedBytes"));                             // the whole field is the name's
    EXPECT_EQ(SettingsFromJson(json), record);
    EXPECT_EQ(SettingsToJson(SettingsFromJson(json).data()), json);
  }
  // The raw form of a name that has a text form is refused: each record has one JSON form.
  Json json = SettingsToJson(ZeroRecord().data());
  json.erase("outputFileName");
  json["outputFileNameHex"] = std::string(1040, '0');
  try {
    SettingsFromJson(json);
    ADD_FAILURE() << "accepted";
  } catch (const ToolError& error) {
    EXPECT_EQ(error.exitStatus(), kExitUsage);
    EXPECT_NE(std::string(error.what()).find("outputFileNameHex: holds a terminated name"), std::string::npos)
        << error.what();
  }
}

// Each case changes one thing in the default JSON; every change must be refused naming the field.
struct Refusal {
  const char* name;
  const char* patch;  // a JSON patch applied to the defaults
  const char* mentions;
};

const Refusal kRefusals[] = {
    {"unknown top field", R"([{"op": "add", "path": "/plateWidth", "value": 1}])", "\"plateWidth\""},
    {"unknown class field", R"([{"op": "add", "path": "/classes/2/power", "value": 1}])", "classes[2]"},
    {"unknown group field", R"([{"op": "add", "path": "/motion/kind", "value": 1}])", "motion"},
    {"missing field", R"([{"op": "remove", "path": "/model"}])", "model"},
    {"missing group", R"([{"op": "remove", "path": "/passThrough"}])", "passThrough"},
    {"missing class field", R"([{"op": "remove", "path": "/classes/4/fr"}])", "classes[4].fr"},
    {"u16 too large", R"([{"op": "replace", "path": "/model", "value": 65536}])", "model"},
    {"u16 negative", R"([{"op": "replace", "path": "/classes/1/powerPercent", "value": -1}])",
     "classes[1].powerPercent"},
    {"s16 too large", R"([{"op": "replace", "path": "/passThrough/at280", "value": 32768}])",
     "passThrough.at280"},
    {"u32 too large", R"([{"op": "replace", "path": "/plateWidthMicrometres", "value": 4294967296}])",
     "plateWidthMicrometres"},
    {"s32 too small", R"([{"op": "replace", "path": "/classes/0/depthStep", "value": -2147483649}])",
     "classes[0].depthStep"},
    {"u8 too large", R"([{"op": "replace", "path": "/motion/controllerKind", "value": 256}])",
     "motion.controllerKind"},
    {"fraction", R"([{"op": "replace", "path": "/language", "value": 1.5}])", "language"},
    {"string number", R"([{"op": "replace", "path": "/language", "value": "1"}])", "language"},
    {"flag as number", R"([{"op": "replace", "path": "/flags/bottomUp", "value": 1}])", "flags.bottomUp"},
    {"unused bits with a name", R"([{"op": "add", "path": "/flags/unusedBits", "value": 1}])",
     "flags.unusedBits"},
    {"seven classes", R"([{"op": "remove", "path": "/classes/7"}])", "classes"},
    {"short identification", R"([{"op": "replace", "path": "/identificationHex", "value": "00"}])",
     "identificationHex"},
    {"identification not hex", R"([{"op": "replace", "path": "/identificationHex",
                                     "value": "zz000000000000000000000000000000"}])",
     "identificationHex"},
    {"name with a zero", R"([{"op": "replace", "path": "/outputFileName", "value": "a\u0000b"}])",
     "outputFileName"},
    {"no name", R"([{"op": "remove", "path": "/outputFileName"}])", "outputFileName"},
    {"name in both forms", R"([{"op": "add", "path": "/outputFileNameHex", "value": "00"}])", "not both"},
    {"short raw name",
     R"([{"op": "remove", "path": "/outputFileName"}, {"op": "add", "path": "/outputFileNameHex", "value": "6e00"}])",
     "outputFileNameHex: expected 1040 hex digits"},
    {"unused byte over a field",
     R"([{"op": "add", "path": "/unusedBytes", "value": [{"offset": 0, "hex": "01"}]}])", "unusedBytes[0]"},
    {"unused entries overlapping",
     R"([{"op": "add", "path": "/unusedBytes", "value": [{"offset": 40, "hex": "0102"}, {"offset": 41, "hex": "03"}]}])",
     "unusedBytes[1]"},
    {"unused entry past the end",
     R"([{"op": "add", "path": "/unusedBytes", "value": [{"offset": 1827, "hex": "0102"}]}])",
     "unusedBytes[0]"},
    {"not an object", R"([{"op": "replace", "path": "", "value": [1, 2]}])", "object"},
};

TEST(SettingsJson, MalformedJsonSettingsAreRefusedNamingTheField) {
  const Json defaults = SettingsToJson(DefaultSettingsRecord().data());
  for (const Refusal& refusal : kRefusals) {
    SCOPED_TRACE(refusal.name);
    const Json changed = defaults.patch(Json::parse(refusal.patch));
    try {
      SettingsFromJson(changed);
      ADD_FAILURE() << "accepted";
    } catch (const ToolError& error) {
      EXPECT_EQ(error.exitStatus(), kExitUsage);
      EXPECT_NE(std::string(error.what()).find(refusal.mentions), std::string::npos) << error.what();
    }
  }
}

std::vector<uint8_t> Bytes(const std::string& text) { return {text.begin(), text.end()}; }

TEST(SettingsJson, FilesAreTakenAsJsonOrRawBySizeAndContent) {
  const std::vector<uint8_t> defaults = DefaultSettingsRecord();
  const std::string jsonText = "  \n" + SettingsToJson(defaults.data()).dump(2);
  EXPECT_EQ(SettingsFromBytes(Bytes(jsonText), "s.json"), defaults);
  EXPECT_EQ(SettingsFromBytes(defaults, "s.bin"), defaults);

  // A raw record may begin with the byte '{' (a settings version of 123): it is still a record.
  std::vector<uint8_t> braced = defaults;
  Put(braced, 0, Width::kU16, '{');
  EXPECT_EQ(SettingsFromBytes(braced, "s.bin"), braced);

  const struct {
    const char* name;
    std::vector<uint8_t> bytes;
    const char* mentions;
  } kBad[] = {
      {"short record", std::vector<uint8_t>(1827, 0), "1827 bytes"},
      {"long record", std::vector<uint8_t>(1829, 0), "1829 bytes"},
      {"empty file", {}, "0 bytes"},
      {"malformed JSON", Bytes("{\"model\": }"), "malformed JSON"},
      {"duplicate key", Bytes("{\"model\": 1, \"model\": 2}"), "\"model\" appears twice"},
      {"bad field", Bytes("{\"model\": 1}"), "x.json: "},
  };
  for (const auto& bad : kBad) {
    SCOPED_TRACE(bad.name);
    try {
      SettingsFromBytes(bad.bytes, "x.json");
      ADD_FAILURE() << "accepted";
    } catch (const ToolError& error) {
      EXPECT_EQ(error.exitStatus(), kExitUsage);
      EXPECT_NE(std::string(error.what()).find(bad.mentions), std::string::npos) << error.what();
    }
  }
}

// The default machine is the one the engine's own tests use (plate, resolutions, model, kind,
// language, brightness, vector resolution), so what the tool renders matches what they check.
TEST(SettingsJson, DefaultsDescribeTheReferenceMachine) {
  const std::vector<uint8_t> record = DefaultSettingsRecord();
  const std::vector<uint8_t> reference = test::DefaultSettings();
  for (size_t offset : {0u, 2u, 4u, 6u, 8u, 10u, 12u, 14u, 44u, 46u, 48u, 72u, 520u, 522u}) {
    EXPECT_EQ(record[offset], reference[offset]) << "offset " << offset;
    EXPECT_EQ(record[offset + 1], reference[offset + 1]) << "offset " << offset;
  }
}

// examples/sample-settings.json is the defaults, so the example and the program cannot drift apart.
TEST(SettingsJson, SampleSettingsFileIsTheDefaults) {
  std::ifstream file(std::string(OSTRELIN_SOURCE_DIR) + "/examples/sample-settings.json", std::ios::binary);
  ASSERT_TRUE(file) << "examples/sample-settings.json is missing";
  std::stringstream text;
  text << file.rdbuf();
  EXPECT_EQ(SettingsFromBytes(Bytes(text.str()), "sample-settings.json"), DefaultSettingsRecord());
}

}  // namespace
}  // namespace ostrelin::tools
