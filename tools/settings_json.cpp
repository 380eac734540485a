// The driver settings record as readable JSON: a table of fields drives both directions, and the
// bytes no field covers are kept so that the round trip is exact.
#include "tools/settings_json.h"

#include <array>
#include <cctype>
#include <cstring>
#include <limits>
#include <set>
#include <string_view>

#include "engine/settings_layout.h"
#include "tools/file_io.h"
#include "tools/tool_error.h"

namespace ostrelin::tools {
namespace {

namespace s = settings;

enum class FieldType { kU8, kU16, kS16, kU32, kS32, kIdentification, kFileName, kFlags, kClasses, kUnused };

struct Field {
  const char* group;  // the enclosing object, or nullptr for a top-level field
  const char* name;
  size_t offset;
  FieldType type;
};

// Every field of the record, in the order of the JSON form. "unusedBytes" must stay last: it needs
// to know which bytes the other fields cover.
constexpr Field kFields[] = {
    {nullptr, "settingsVersion", s::kVersion, FieldType::kU16},
    {nullptr, "machineKind", s::kMachineKind, FieldType::kU16},
    {nullptr, "language", s::kLanguage, FieldType::kU16},
    {nullptr, "model", s::kModel, FieldType::kU16},
    {nullptr, "plateWidthMicrometres", s::kPlateWidthUm, FieldType::kU32},
    {nullptr, "plateHeightMicrometres", s::kPlateHeightUm, FieldType::kU32},
    {nullptr, "engravingResolutionXDpi", s::kEngravingResX, FieldType::kU16},
    {nullptr, "engravingResolutionYDpi", s::kEngravingResY, FieldType::kU16},
    {nullptr, "engineResolutionDpi", s::kEngineRes, FieldType::kU16},
    {nullptr, "vectorResolutionDpi", s::kVectorRes, FieldType::kU32},
    {nullptr, "vectorResolutionOverrideDpi", s::kVectorResOverride, FieldType::kU32},
    {nullptr, "orientation", s::kOrientation, FieldType::kU16},
    {nullptr, "firstDotMode", s::kFirstDotMode, FieldType::kU16},
    {nullptr, "fastFlag", s::kFastFlag, FieldType::kU16},
    {nullptr, "tcFlag", s::kTcFlag, FieldType::kU16},
    {nullptr, "tcSpeed", s::kTcSpeed, FieldType::kU32},
    {"motion", "tableSelector", s::kMotionWord, FieldType::kU8},       // low byte of the motion word
    {"motion", "controllerKind", s::kMotionWord + 1, FieldType::kU8},  // high byte
    {nullptr, "firstSourceCode", s::kFirstSource, FieldType::kU16},
    {nullptr, "secondSourceCode", s::kSecondSource, FieldType::kU16},
    {nullptr, "outputToFile", s::kOutputToFile, FieldType::kU16},
    {nullptr, "outputFileName", s::kOutputFileName, FieldType::kFileName},
    {nullptr, "flags", s::kFlagWord, FieldType::kFlags},
    {"rasterOptions", "a1", s::kRasterOptionsA + 0, FieldType::kU16},
    {"rasterOptions", "a2GreyPower", s::kRasterOptionsA + 2, FieldType::kU16},
    {"rasterOptions", "a3StampThreshold", s::kRasterOptionsA + 4, FieldType::kU16},
    {"rasterOptions", "a4Halftone", s::kRasterOptionsA + 6, FieldType::kU16},
    {"rasterOptions", "a5Negative", s::kRasterOptionsA + 8, FieldType::kU16},
    {"rasterOptions", "a6ErrorDiffusion", s::kRasterOptionsA + 10, FieldType::kU16},
    {"rasterOptions", "a7Brightness", s::kRasterOptionsA + 12, FieldType::kU16},
    {"rasterOptions", "a8", s::kRasterOptionsA + 14, FieldType::kU16},
    {"rasterOptions", "b1Stamp", s::kRasterOptionsB + 0, FieldType::kU16},
    {"rasterOptions", "b2ShoulderPowerPercent", s::kRasterOptionsB + 2, FieldType::kU16},
    {"rasterOptions", "b3ShoulderWidthMicrometres", s::kRasterOptionsB + 4, FieldType::kU16},
    {"rasterOptions", "b4ShoulderInnerWidthMicrometres", s::kRasterOptionsB + 6, FieldType::kU16},
    {"rasterOptions", "b5", s::kRasterOptionsB + 8, FieldType::kU16},
    {"rasterOptions", "b6", s::kRasterOptionsB + 10, FieldType::kU16},
    {nullptr, "classes", s::kClassBlocks, FieldType::kClasses},
    {nullptr, "identificationHex", s::kIdentification, FieldType::kIdentification},
    {"factor", "at54", s::kFactor16, FieldType::kU16},
    {"factor", "at56", s::kFactor32, FieldType::kU32},
    {"passThrough", "at16", s::kPassThrough16, FieldType::kS32},
    {"passThrough", "at20", s::kPassThrough20, FieldType::kS32},
    {"passThrough", "at26", s::kPassThrough26, FieldType::kU16},
    {"passThrough", "at28", s::kPassThrough28, FieldType::kU16},
    {"passThrough", "at30", s::kPassThrough30, FieldType::kU16},
    {"passThrough", "at270", s::kPassThrough270, FieldType::kU16},
    {"passThrough", "at280", s::kPassThrough280, FieldType::kS16},
    {"passThrough", "at284", s::kPassThrough284, FieldType::kS16},
    {"passThrough", "at286", s::kPassThrough286, FieldType::kS16},
    {"passThrough", "at288", s::kPassThrough288, FieldType::kU16},
    {nullptr, "unusedBytes", 0, FieldType::kUnused},
};

// Fields of one colour class: the first block (20 bytes) and the second block (28 bytes).
struct ClassField {
  const char* name;
  bool secondBlock;
  size_t offset;  // within the block
  FieldType type;
};

constexpr ClassField kClassFields[] = {
    {"powerPercent", false, s::kClassPower, FieldType::kU16},
    // mm/s as the host gives it; multiplied by 10 in place once flags.speedsConverted is set.
    {"speedMmPerS", false, s::kClassSpeed, FieldType::kU16},
    {"passes", false, s::kClassPasses, FieldType::kU16},
    {"depthStep", false, s::kClassDepthStep, FieldType::kS32},
    {"depthMode", false, s::kClassDepthMode, FieldType::kU16},
    {"colourMode", false, s::kClassColourMode, FieldType::kU16},
    {"ai", false, s::kClassAi, FieldType::kU16},
    {"fr", true, s::kClassFr, FieldType::kU16},
    {"slCode", true, s::kClassSlCode, FieldType::kU16},
};

struct FlagBit {
  const char* name;
  uint16_t bit;
};

constexpr FlagBit kFlagBits[] = {
    {"bottomUp", s::kFlagBottomUp},
    {"estimateOnly", s::kFlagEstimateOnly},
    {"oneWayRows", s::kFlagOneWay},
    {"sectionSplit", s::kFlagSectionSplit},
    {"speedsConverted", s::kFlagSpeedsConverted},
    {"vectorResolutionOverride", s::kFlagVectorResOverride},
    {"fileOrder", s::kFlagFileOrder},
    {"series", s::kFlagSeries},
};

constexpr uint16_t NamedFlagBits() {
  uint16_t bits = 0;
  for (const FlagBit& flag : kFlagBits) bits = static_cast<uint16_t>(bits | flag.bit);
  return bits;
}

constexpr const char* kUnusedBitsKey = "unusedBits";

// Which bytes of the record some field covers.
using Coverage = std::array<bool, s::kRecordSize>;

size_t ScalarBytes(FieldType type) {
  switch (type) {
    case FieldType::kU8:
      return 1;
    case FieldType::kU16:
    case FieldType::kS16:
      return 2;
    default:
      return 4;
  }
}

void Cover(Coverage& covered, size_t offset, size_t size) {
  for (size_t i = 0; i < size; ++i) covered[offset + i] = true;
}

int64_t ReadScalar(const s::View& view, size_t offset, FieldType type) {
  switch (type) {
    case FieldType::kU8:
      return view.U8(offset);
    case FieldType::kU16:
      return view.U16(offset);
    case FieldType::kS16:
      return view.S16(offset);
    case FieldType::kU32:
      return view.U32(offset);
    default:
      return view.S32(offset);
  }
}

void WriteScalar(s::Editor& editor, size_t offset, FieldType type, int64_t value) {
  switch (type) {
    case FieldType::kU8:
      editor.Bytes(offset)[0] = static_cast<uint8_t>(value);
      break;
    case FieldType::kU16:
    case FieldType::kS16:
      editor.SetU16(offset, static_cast<uint16_t>(value));
      break;
    default:
      editor.SetU32(offset, static_cast<uint32_t>(value));
      break;
  }
}

struct Range {
  int64_t low;
  int64_t high;
};

template <class T>
constexpr Range RangeOf() {
  return {std::numeric_limits<T>::min(), std::numeric_limits<T>::max()};
}

Range ScalarRange(FieldType type) {
  switch (type) {
    case FieldType::kU8:
      return RangeOf<uint8_t>();
    case FieldType::kU16:
      return RangeOf<uint16_t>();
    case FieldType::kS16:
      return RangeOf<int16_t>();
    case FieldType::kU32:
      return RangeOf<uint32_t>();
    default:
      return RangeOf<int32_t>();
  }
}

// An integer JSON value within [low, high]; anything else is refused naming the field.
int64_t IntegerIn(const Json& value, const std::string& path, Range range) {
  const int64_t low = range.low;
  const int64_t high = range.high;
  const std::string expected =
      path + ": expected an integer from " + std::to_string(low) + " to " + std::to_string(high);
  if (!value.is_number_integer()) throw UsageError(expected + ", got " + value.dump());
  if (value.is_number_unsigned()) {
    const auto unsignedValue = value.get<uint64_t>();
    if (unsignedValue > static_cast<uint64_t>(high)) throw UsageError(expected + ", got " + value.dump());
    return static_cast<int64_t>(unsignedValue);
  }
  const auto signedValue = value.get<int64_t>();
  if (signedValue < low || signedValue > high) throw UsageError(expected + ", got " + value.dump());
  return signedValue;
}

std::string Hex(const uint8_t* bytes, size_t size) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string text;
  text.reserve(2 * size);
  for (size_t i = 0; i < size; ++i) {
    text.push_back(kDigits[bytes[i] >> 4]);
    text.push_back(kDigits[bytes[i] & 15]);
  }
  return text;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// The bytes of a JSON hex string; refused unless it is an even number of hex digits.
std::vector<uint8_t> BytesFromHex(const Json& value, const std::string& path) {
  if (!value.is_string()) throw UsageError(path + ": expected a hex string, got " + value.dump());
  const auto& text = value.get_ref<const std::string&>();
  if (text.size() % 2 != 0) throw UsageError(path + ": odd number of hex digits");
  std::vector<uint8_t> bytes;
  for (size_t i = 0; i < text.size(); i += 2) {
    const int high = HexDigit(text[i]);
    const int low = HexDigit(text[i + 1]);
    if (high < 0 || low < 0) throw UsageError(path + ": not a hex string: \"" + text + "\"");
    bytes.push_back(static_cast<uint8_t>(high * 16 + low));
  }
  return bytes;
}

// UTF-16 code units to UTF-8; false for an unpaired surrogate.
bool Utf8FromUtf16(const std::vector<uint16_t>& units, std::string* text) {
  for (size_t i = 0; i < units.size(); ++i) {
    uint32_t code = units[i];
    if (code >= 0xD800 && code <= 0xDBFF) {
      if (i + 1 >= units.size() || units[i + 1] < 0xDC00 || units[i + 1] > 0xDFFF) return false;
      code = 0x10000 + ((code - 0xD800) << 10) + (units[++i] - 0xDC00);
    } else if (code >= 0xDC00 && code <= 0xDFFF) {
      return false;
    }
    if (code < 0x80) {
      text->push_back(static_cast<char>(code));
    } else if (code < 0x800) {
      text->push_back(static_cast<char>(0xC0 | (code >> 6)));
      text->push_back(static_cast<char>(0x80 | (code & 0x3F)));
    } else if (code < 0x10000) {
      text->push_back(static_cast<char>(0xE0 | (code >> 12)));
      text->push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
      text->push_back(static_cast<char>(0x80 | (code & 0x3F)));
    } else {
      text->push_back(static_cast<char>(0xF0 | (code >> 18)));
      text->push_back(static_cast<char>(0x80 | ((code >> 12) & 0x3F)));
      text->push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
      text->push_back(static_cast<char>(0x80 | (code & 0x3F)));
    }
  }
  return true;
}

// UTF-8 to UTF-16 code units; false for malformed UTF-8.
bool Utf16FromUtf8(std::string_view text, std::vector<uint16_t>* units) {
  for (size_t i = 0; i < text.size();) {
    const auto lead = static_cast<uint8_t>(text[i]);
    int extra = 0;
    uint32_t code = 0;
    if (lead < 0x80) {
      code = lead;
    } else if ((lead & 0xE0) == 0xC0) {
      extra = 1, code = lead & 0x1F;
    } else if ((lead & 0xF0) == 0xE0) {
      extra = 2, code = lead & 0x0F;
    } else if ((lead & 0xF8) == 0xF0) {
      extra = 3, code = lead & 0x07;
    } else {
      return false;
    }
    if (i + extra >= text.size() && extra > 0) return false;
    for (int k = 1; k <= extra; ++k) {
      const auto next = static_cast<uint8_t>(text[i + k]);
      if ((next & 0xC0) != 0x80) return false;
      code = (code << 6) | (next & 0x3F);
    }
    i += 1 + extra;
    constexpr uint32_t kShortest[] = {0, 0x80, 0x800, 0x10000};  // overlong forms are malformed
    if (code < kShortest[extra] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return false;
    if (code >= 0x10000) {
      code -= 0x10000;
      units->push_back(static_cast<uint16_t>(0xD800 + (code >> 10)));
      units->push_back(static_cast<uint16_t>(0xDC00 + (code & 0x3FF)));
    } else {
      units->push_back(static_cast<uint16_t>(code));
    }
  }
  return true;
}

// ---- record to JSON ----

constexpr const char* kFileNameKey = "outputFileName";
constexpr const char* kFileNameHexKey = "outputFileNameHex";
constexpr size_t kFileNameBytes = 2 * s::kOutputFileNameUnits;

// The units of the output file name before its terminating zero, and the name as UTF-8; false when the
// field holds no zero within its 260 units or the units are not valid UTF-16.
bool FileNameText(const s::View& view, std::vector<uint16_t>* units, std::string* text) {
  for (size_t i = 0;; ++i) {
    if (i == s::kOutputFileNameUnits) return false;
    const uint16_t unit = view.U16(s::kOutputFileName + 2 * i);
    if (unit == 0) break;
    units->push_back(unit);
  }
  return Utf8FromUtf16(*units, text);
}

// Adds the output file name to json: as text when it has a text form, else as the field's raw bytes.
void FileNameToJson(const s::View& view, Coverage& covered, Json& json) {
  std::vector<uint16_t> units;
  std::string text;
  if (FileNameText(view, &units, &text)) {
    json[kFileNameKey] = text;
    Cover(covered, s::kOutputFileName, 2 * (units.size() + 1));
    return;
  }
  json[kFileNameHexKey] = Hex(view.Bytes(s::kOutputFileName), kFileNameBytes);
  Cover(covered, s::kOutputFileName, kFileNameBytes);
}

Json FlagsToJson(const s::View& view, Coverage& covered) {
  const uint16_t word = view.U16(s::kFlagWord);
  Cover(covered, s::kFlagWord, 2);
  Json flags = Json::object();
  for (const FlagBit& flag : kFlagBits) flags[flag.name] = (word & flag.bit) != 0;
  const uint16_t unusedBits = word & static_cast<uint16_t>(~NamedFlagBits());
  if (unusedBits != 0) flags[kUnusedBitsKey] = unusedBits;
  return flags;
}

size_t ClassFieldOffset(int colourClass, const ClassField& field) {
  return (field.secondBlock ? s::SecondClassBlock(colourClass) : s::ClassBlock(colourClass)) + field.offset;
}

Json ClassesToJson(const s::View& view, Coverage& covered) {
  Json classes = Json::array();
  for (int c = 0; c < 8; ++c) {
    Json entry = Json::object();
    for (const ClassField& field : kClassFields) {
      const size_t offset = ClassFieldOffset(c, field);
      entry[field.name] = ReadScalar(view, offset, field.type);
      Cover(covered, offset, ScalarBytes(field.type));
    }
    classes.push_back(std::move(entry));
  }
  return classes;
}

// One entry per maximal stretch of uncovered bytes that holds a non-zero byte, trimmed of zeros.
Json UnusedToJson(const uint8_t* record, const Coverage& covered) {
  Json entries = Json::array();
  size_t i = 0;
  while (i < s::kRecordSize) {
    if (covered[i]) {
      ++i;
      continue;
    }
    size_t end = i;
    while (end < s::kRecordSize && !covered[end]) ++end;
    size_t first = i;
    while (first < end && record[first] == 0) ++first;
    size_t last = end;
    while (last > first && record[last - 1] == 0) --last;
    if (first < last) {
      Json entry = Json::object();
      entry["offset"] = first;
      entry["hex"] = Hex(record + first, last - first);
      entries.push_back(std::move(entry));
    }
    i = end;
  }
  return entries;
}

// ---- JSON to record ----

// Refuses keys of object that are not in allowed.
void CheckKeys(const Json& object, const std::set<std::string>& allowed, const std::string& where) {
  for (const auto& [key, value] : object.items()) {
    if (allowed.count(key) == 0) {
      throw UsageError((where.empty() ? "" : where + ": ") + "unknown field \"" + key + "\"");
    }
  }
}

const Json& Member(const Json& object, const char* key, const std::string& path) {
  const auto found = object.find(key);
  if (found == object.end()) throw UsageError(path + ": missing field");
  return *found;
}

const Json& ObjectAt(const Json& value, const std::string& path) {
  if (!value.is_object()) throw UsageError(path + ": expected an object, got " + value.dump());
  return value;
}

std::string Join(const char* group, const char* name) {
  return group == nullptr ? std::string(name) : std::string(group) + "." + name;
}

void FileNameTextFromJson(const Json& value, s::Editor& editor, Coverage& covered) {
  const std::string path = kFileNameKey;
  if (!value.is_string()) throw UsageError(path + ": expected a string, got " + value.dump());
  std::vector<uint16_t> units;
  if (!Utf16FromUtf8(value.get_ref<const std::string&>(), &units))
    throw UsageError(path + ": not valid UTF-8");
  if (units.size() >= s::kOutputFileNameUnits) {
    throw UsageError(path + ": longer than " + std::to_string(s::kOutputFileNameUnits - 1) + " UTF-16 units");
  }
  for (uint16_t unit : units) {
    if (unit == 0) throw UsageError(path + ": holds a zero character");
  }
  units.push_back(0);
  for (size_t i = 0; i < units.size(); ++i) editor.SetU16(s::kOutputFileName + 2 * i, units[i]);
  Cover(covered, s::kOutputFileName, 2 * units.size());
}

// The raw form, for names without a text form only, so that every record has exactly one JSON form.
void FileNameHexFromJson(const Json& value, s::Editor& editor, Coverage& covered) {
  const std::string path = kFileNameHexKey;
  const std::vector<uint8_t> bytes = BytesFromHex(value, path);
  if (bytes.size() != kFileNameBytes) {
    throw UsageError(path + ": expected " + std::to_string(2 * kFileNameBytes) + " hex digits (" +
                     std::to_string(kFileNameBytes) + " bytes), got " + std::to_string(2 * bytes.size()));
  }
  std::memcpy(editor.Bytes(s::kOutputFileName), bytes.data(), bytes.size());
  std::vector<uint16_t> units;
  std::string text;
  if (FileNameText(editor, &units, &text)) {
    throw UsageError(path + ": holds a terminated name that " + kFileNameKey + " can give as text");
  }
  Cover(covered, s::kOutputFileName, kFileNameBytes);
}

// Exactly one of the two forms of the output file name.
void FileNameFromJson(const Json& json, s::Editor& editor, Coverage& covered) {
  const auto text = json.find(kFileNameKey);
  const auto hex = json.find(kFileNameHexKey);
  if (text != json.end() && hex != json.end()) {
    throw UsageError(std::string(kFileNameKey) + ": give either " + kFileNameKey + " or " + kFileNameHexKey +
                     ", not both");
  }
  if (hex != json.end()) {
    FileNameHexFromJson(*hex, editor, covered);
  } else {
    FileNameTextFromJson(Member(json, kFileNameKey, kFileNameKey), editor, covered);
  }
}

void FlagsFromJson(const Json& value, s::Editor& editor, Coverage& covered) {
  const Json& flags = ObjectAt(value, "flags");
  std::set<std::string> allowed{kUnusedBitsKey};
  uint16_t word = 0;
  for (const FlagBit& flag : kFlagBits) {
    allowed.insert(flag.name);
    const std::string path = Join("flags", flag.name);
    const Json& bit = Member(flags, flag.name, path);
    if (!bit.is_boolean()) throw UsageError(path + ": expected true or false, got " + bit.dump());
    if (bit.get<bool>()) word = static_cast<uint16_t>(word | flag.bit);
  }
  CheckKeys(flags, allowed, "flags");
  const auto extra = flags.find(kUnusedBitsKey);
  if (extra != flags.end()) {
    const std::string path = Join("flags", kUnusedBitsKey);
    const auto bits = static_cast<uint16_t>(IntegerIn(*extra, path, RangeOf<uint16_t>()));
    if ((bits & NamedFlagBits()) != 0) throw UsageError(path + ": holds bits that have names");
    word = static_cast<uint16_t>(word | bits);
  }
  editor.SetU16(s::kFlagWord, word);
  Cover(covered, s::kFlagWord, 2);
}

void ClassesFromJson(const Json& value, s::Editor& editor, Coverage& covered) {
  if (!value.is_array() || value.size() != 8) {
    throw UsageError("classes: expected an array of 8 objects, got " + value.dump());
  }
  std::set<std::string> allowed;
  for (const ClassField& field : kClassFields) allowed.insert(field.name);
  for (int c = 0; c < 8; ++c) {
    const std::string where = "classes[" + std::to_string(c) + "]";
    const Json& entry = ObjectAt(value[static_cast<size_t>(c)], where);
    CheckKeys(entry, allowed, where);
    for (const ClassField& field : kClassFields) {
      const std::string path = where + "." + field.name;
      const size_t offset = ClassFieldOffset(c, field);
      WriteScalar(editor, offset, field.type,
                  IntegerIn(Member(entry, field.name, path), path, ScalarRange(field.type)));
      Cover(covered, offset, ScalarBytes(field.type));
    }
  }
}

void UnusedFromJson(const Json& value, uint8_t* record, Coverage& covered) {
  if (!value.is_array()) throw UsageError("unusedBytes: expected an array, got " + value.dump());
  for (size_t i = 0; i < value.size(); ++i) {
    const std::string where = "unusedBytes[" + std::to_string(i) + "]";
    const Json& entry = ObjectAt(value[i], where);
    CheckKeys(entry, {"offset", "hex"}, where);
    const auto offset = static_cast<size_t>(
        IntegerIn(Member(entry, "offset", where + ".offset"), where + ".offset", {0, s::kRecordSize - 1}));
    const std::vector<uint8_t> bytes = BytesFromHex(Member(entry, "hex", where + ".hex"), where + ".hex");
    if (offset + bytes.size() > s::kRecordSize) throw UsageError(where + ": runs past the end of the record");
    for (size_t k = 0; k < bytes.size(); ++k) {
      if (covered[offset + k]) {
        throw UsageError(where + ": byte " + std::to_string(offset + k) +
                         " belongs to a field or another entry");
      }
      covered[offset + k] = true;
      record[offset + k] = bytes[k];
    }
  }
}

}  // namespace

Json SettingsToJson(const uint8_t* record) {
  const s::View view(record);
  Coverage covered{};
  Json json = Json::object();
  for (const Field& field : kFields) {
    switch (field.type) {
      case FieldType::kIdentification:
        json[field.name] = Hex(view.Bytes(field.offset), 16);
        Cover(covered, field.offset, 16);
        break;
      case FieldType::kFileName:
        FileNameToJson(view, covered, json);
        break;
      case FieldType::kFlags:
        json[field.name] = FlagsToJson(view, covered);
        break;
      case FieldType::kClasses:
        json[field.name] = ClassesToJson(view, covered);
        break;
      case FieldType::kUnused: {
        Json unused = UnusedToJson(record, covered);
        if (!unused.empty()) json[field.name] = std::move(unused);
        break;
      }
      default: {
        const int64_t value = ReadScalar(view, field.offset, field.type);
        if (field.group == nullptr) {
          json[field.name] = value;
        } else {
          json[field.group][field.name] = value;
        }
        Cover(covered, field.offset, ScalarBytes(field.type));
        break;
      }
    }
  }
  return json;
}

std::vector<uint8_t> SettingsFromJson(const Json& json) {
  if (!json.is_object()) throw UsageError("expected a JSON object of settings");
  std::set<std::string> topLevel{kFileNameHexKey};
  for (const Field& field : kFields) topLevel.insert(field.group != nullptr ? field.group : field.name);
  CheckKeys(json, topLevel, "");
  for (const Field& field : kFields) {
    if (field.group == nullptr) continue;
    std::set<std::string> members;
    for (const Field& other : kFields) {
      if (other.group != nullptr && std::strcmp(other.group, field.group) == 0) members.insert(other.name);
    }
    CheckKeys(ObjectAt(Member(json, field.group, field.group), field.group), members, field.group);
  }

  std::vector<uint8_t> record(s::kRecordSize, 0);
  s::Editor editor(record.data());
  Coverage covered{};
  for (const Field& field : kFields) {
    const std::string path = Join(field.group, field.name);
    if (field.type == FieldType::kUnused) {
      const auto found = json.find(field.name);
      if (found != json.end()) UnusedFromJson(*found, record.data(), covered);
      continue;
    }
    if (field.type == FieldType::kFileName) {
      FileNameFromJson(json, editor, covered);
      continue;
    }
    const Json& value = field.group == nullptr ? Member(json, field.name, path)
                                               : Member(json.at(field.group), field.name, path);
    switch (field.type) {
      case FieldType::kIdentification: {
        const std::vector<uint8_t> bytes = BytesFromHex(value, path);
        if (bytes.size() != 16) throw UsageError(path + ": expected 32 hex digits (16 bytes)");
        std::memcpy(editor.Bytes(field.offset), bytes.data(), bytes.size());
        Cover(covered, field.offset, 16);
        break;
      }
      case FieldType::kFlags:
        FlagsFromJson(value, editor, covered);
        break;
      case FieldType::kClasses:
        ClassesFromJson(value, editor, covered);
        break;
      default: {
        WriteScalar(editor, field.offset, field.type, IntegerIn(value, path, ScalarRange(field.type)));
        Cover(covered, field.offset, ScalarBytes(field.type));
        break;
      }
    }
  }
  return record;
}

// A sensible machine for trying the tool: a 600 x 300 mm plate engraved at 500 dpi everywhere (layers,
// engraving and vector strokes, so one stroke unit is one engraved dot); standard model 260 on the
// corner-table controller (controller kind 0, motion table 0); machine kind 1, so stroke coordinates are
// dots at the vector resolution; English messages; neutral brightness (A7 = 50); settings version 1000,
// which the job header reads as 1.00. Every colour class engraves at 50 % power, 100 mm/s, one pass, no
// depth step, in colour mode 4, which both the raster pass and the vector pass take, so bitmaps and
// strokes of every colour reach the stream.
std::vector<uint8_t> DefaultSettingsRecord() {
  std::vector<uint8_t> record(s::kRecordSize, 0);
  s::Editor editor(record.data());
  editor.SetU16(s::kVersion, 1000);
  editor.SetU16(s::kMachineKind, 1);
  editor.SetU16(s::kLanguage, 1);
  editor.SetU16(s::kModel, 260);
  editor.SetU32(s::kPlateWidthUm, 600000);
  editor.SetU32(s::kPlateHeightUm, 300000);
  editor.SetU16(s::kEngravingResX, 500);
  editor.SetU16(s::kEngravingResY, 500);
  editor.SetU16(s::kEngineRes, 500);
  editor.SetU32(s::kVectorRes, 500);
  editor.SetU16(s::kRasterOptionsA + 12, 50);  // A7 brightness
  for (int c = 0; c < 8; ++c) {
    const size_t block = s::ClassBlock(c);
    editor.SetU16(block + s::kClassPower, 50);
    editor.SetU16(block + s::kClassSpeed, 100);
    editor.SetU16(block + s::kClassPasses, 1);
    editor.SetU16(block + s::kClassColourMode, 4);
  }
  return record;
}

namespace {

bool StartsWithBrace(const std::vector<uint8_t>& bytes) {
  for (uint8_t byte : bytes) {
    if (byte == ' ' || byte == '\t' || byte == '\r' || byte == '\n') continue;
    return byte == '{';
  }
  return false;
}

// The parser's message without its "[json.exception...] " prefix.
std::string ParseMessage(const char* what) {
  std::string text(what);
  const size_t end = text.find("] ");
  return text.rfind("[json.exception", 0) == 0 && end != std::string::npos ? text.substr(end + 2) : text;
}

}  // namespace

bool LooksLikeSettingsJson(const std::vector<uint8_t>& bytes) {
  if (!StartsWithBrace(bytes)) return false;
  if (bytes.size() != s::kRecordSize) return true;
  return Json::accept(bytes.begin(), bytes.end());
}

Json ParseJsonText(const std::vector<uint8_t>& bytes, const std::string& name) {
  std::vector<std::set<std::string>> openObjects;
  std::string duplicate;
  const Json::parser_callback_t noteKeys = [&](int, Json::parse_event_t event, Json& parsed) {
    if (event == Json::parse_event_t::object_start) {
      openObjects.emplace_back();
    } else if (event == Json::parse_event_t::object_end) {
      if (!openObjects.empty()) openObjects.pop_back();
    } else if (event == Json::parse_event_t::key && !openObjects.empty()) {
      const auto& key = parsed.get_ref<const std::string&>();
      if (!openObjects.back().insert(key).second && duplicate.empty()) duplicate = key;
    }
    return true;
  };
  Json json;
  try {
    json = Json::parse(bytes.begin(), bytes.end(), noteKeys);
  } catch (const Json::parse_error& error) {
    throw UsageError(name + ": malformed JSON: " + ParseMessage(error.what()));
  }
  if (!duplicate.empty()) throw UsageError(name + ": field \"" + duplicate + "\" appears twice");
  return json;
}

std::vector<uint8_t> SettingsFromBytes(const std::vector<uint8_t>& bytes, const std::string& name) {
  if (LooksLikeSettingsJson(bytes)) {
    const Json json = ParseJsonText(bytes, name);
    try {
      return SettingsFromJson(json);
    } catch (const ToolError& error) {
      throw ToolError(error.exitStatus(), name + ": " + error.what());
    }
  }
  if (bytes.size() != s::kRecordSize) {
    throw UsageError(name + ": neither JSON settings nor a settings record of " +
                     std::to_string(s::kRecordSize) + " bytes (" + std::to_string(bytes.size()) + " bytes)");
  }
  return bytes;
}

std::vector<uint8_t> LoadSettingsFile(const std::string& path) {
  // Generous for hand-written JSON; a raw record is far smaller.
  constexpr size_t kMaxSettingsFileBytes = 1 << 20;
  return SettingsFromBytes(ReadWholeFile(path, kMaxSettingsFileBytes), path == "-" ? "<stdin>" : path);
}

}  // namespace ostrelin::tools
