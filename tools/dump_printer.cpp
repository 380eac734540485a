// Printing the elements of a decoded job stream.
#include "tools/dump_printer.h"

#include <cinttypes>
#include <cstdarg>
#include <cstdio>
#include <string>

namespace ostrelin::tools {
namespace {

std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string Format(const char* format, ...) {
  char text[512];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  return text;
}

std::string HexBytes(const uint8_t* bytes, size_t size, const char* separator) {
  std::string text;
  for (size_t i = 0; i < size; ++i) {
    if (i > 0) text += separator;
    text += Format("%02x", bytes[i]);
  }
  return text;
}

std::string HexBytes(const std::vector<uint8_t>& bytes, const char* separator) {
  return HexBytes(bytes.data(), bytes.size(), separator);
}

bool Printable(const std::string& code) {
  for (char c : code) {
    if (c < 0x21 || c > 0x7E) return false;
  }
  return true;
}

// The code of a record as text: its two letters, or their bytes when they are not printable.
std::string CodeLabel(const std::string& code) {
  if (Printable(code)) return code;
  return "<" + HexBytes(reinterpret_cast<const uint8_t*>(code.data()), code.size(), " ") + ">";
}

// The job header's version word: major times 65536 plus minor.
std::string VersionText(int32_t word) { return Format("%d.%02d", word >> 16, word & 0xFFFF); }

std::string AsciiMeaning(const Element& element) {
  if (!element.known) return "unknown ASCII command";
  if (element.text.compare(1, 2, "LB") == 0) return "file start";
  if (element.text.compare(1, 2, "LA") == 0)
    return Format("job header of %" PRId64 " bytes follows", element.number);
  return Format("series header of %" PRId64 " bytes follows", element.number);
}

std::string RowText(const Element& element) {
  const RowSummary& row = element.row;
  const bool bits = element.text == "C1" || element.text == "C2";
  std::string text = Format("%s: %" PRIu64 " data bytes -> %u bytes", element.code->meaning,
                            element.length - 6, row.decodedBytes);
  if (bits) {
    text += Format(" (%u dots), %u dots on", row.decodedBytes * 8, row.setBits);
  } else {
    text += Format(", %u non-zero, highest %u", row.nonZeroBytes, row.maxByte);
  }
  if (row.malformed) text += "; MALFORMED run-length data";
  return text;
}

std::string MotionText(const MotionRecord& m) {
  if (m.form == 8) {
    return Format("motion  limit %3u end %3u  dx %6d dy %6d length %6d (motor steps)", m.limitCode, m.endCode,
                  m.dx, m.dy, m.lengthSteps);
  }
  return Format("motion  start %5d end %5d peak %5d mm/s  accel %5d mm/s2  dx %6d dy %6d (0.01 mm)",
                m.startSpeed, m.endSpeed, m.peakSpeed, m.acceleration, m.dx, m.dy);
}

// An extra note for header words that read better with their unit.
std::string HeaderWordNote(const std::string& name, int32_t value) {
  if (name == "version") return " (" + VersionText(value) + ")";
  if (name == "plateWidthHmm" || name == "plateHeightHmm") return Format(" (%.2f mm)", value / 100.0);
  if (name == "constant20") return Format(" (0x%08x)", static_cast<uint32_t>(value));
  return "";
}

class TextPrinter : public DumpPrinter {
 public:
  TextPrinter(std::ostream& out, bool withElements) : out_(out), withElements_(withElements) {}

  void OnElement(const Element& element) override {
    if (!withElements_) return;
    const std::string at = Format("%08" PRIx64 "  ", element.offset);
    switch (element.kind) {
      case ElementKind::kAscii:
        out_ << at << Format("%-18s ", element.text.c_str()) << AsciiMeaning(element) << '\n';
        break;
      case ElementKind::kJobHeader:
      case ElementKind::kSeriesHeader:
        Header(at, element);
        break;
      case ElementKind::kBlock:
        out_ << at << "block of " << element.length << " bytes: " << HexBytes(element.preview, " ")
             << (element.length > element.preview.size() ? " ..." : "") << '\n';
        break;
      case ElementKind::kCommand:
        out_ << at << Command(element) << '\n';
        break;
      case ElementKind::kRow:
        out_ << at << Format("%-2s %15" PRId64 "  ", element.text.c_str(), element.value) << RowText(element)
             << '\n';
        break;
      case ElementKind::kMotion:
        out_ << at << "  " << MotionText(element.motion) << '\n';
        break;
      case ElementKind::kVectorBlockEnd:
        out_ << Format("%08" PRIx64 "  ", element.offset)
             << Format("end of vector block: %" PRIu64 " records from %08" PRIx64 ", dx %" PRId64
                       " dy %" PRId64,
                       element.blockRecords, element.blockOffset, element.sumDx, element.sumDy)
             << '\n';
        break;
      case ElementKind::kUnknown:
        out_ << at << "UNKNOWN " << element.length << " bytes: " << HexBytes(element.preview, " ")
             << (element.length > element.preview.size() ? " ..." : "") << '\n';
        break;
      case ElementKind::kTruncated:
        out_ << at << "TRUNCATED " << element.text << ": the stream ends after " << element.length << " bytes"
             << (element.preview.empty() ? "" : ": " + HexBytes(element.preview, " ")) << '\n';
        break;
    }
  }

  void Finish(const DecodeSummary& summary) override {
    out_ << Format("summary: %" PRIu64 " bytes; job headers %" PRIu64 ", command records %" PRIu64
                   ", row records %" PRIu64 ", motion records %" PRIu64 " (%d bytes each) in %" PRIu64
                   " vector blocks\n",
                   summary.bytes, summary.jobHeaders, summary.commandRecords, summary.rowRecords,
                   summary.motionRecords, summary.motionRecordBytes, summary.vectorBlocks);
    if (summary.estimatedSeconds) {
      out_ << "estimated time: " << *summary.estimatedSeconds << " s ("
           << FormatDuration(*summary.estimatedSeconds) << ")\n";
    } else {
      out_ << "estimated time: none (no TE pair)\n";
    }
    out_ << "ends with JF: " << (summary.endsWithJf ? "yes" : "no") << '\n';
    if (!summary.Clean()) out_ << "problems: " << summary.Problems() << '\n';
  }

 private:
  std::string Command(const Element& element) {
    std::string text = Format("%-2s %15" PRId64 "  ", CodeLabel(element.text).c_str(), element.value);
    if (element.code == nullptr) return text + "UNKNOWN command code";
    text += element.code->meaning;
    if (element.code->pair32 && element.records == 2) text += " (2 records)";
    if (element.code->pair32 && element.records == 1) text += " (UNPAIRED: the second record is missing)";
    if (element.text == "TE" && element.records == 2) {
      text += " = " + FormatDuration(static_cast<uint32_t>(element.value));
    }
    return text;
  }

  void Header(const std::string& at, const Element& element) {
    const bool job = element.kind == ElementKind::kJobHeader;
    out_ << at << (job ? "job header" : "series header") << " (" << element.length << " bytes)\n";
    const char* indent = "            ";
    if (job)
      out_ << indent << Format("%-24s ", "identification") << HexBytes(element.ident.data(), 16, "") << '\n';
    const char* const* names = job ? kJobHeaderWordNames : kSeriesHeaderWordNames;
    for (size_t i = 0; i < element.words.size(); ++i) {
      out_ << indent << Format("%-24s %d", names[i], element.words[i])
           << HeaderWordNote(names[i], element.words[i]) << '\n';
    }
  }

  std::ostream& out_;
  bool withElements_;
};

class JsonPrinter : public DumpPrinter {
 public:
  JsonPrinter(std::ostream& out, bool withElements) : out_(out), withElements_(withElements) {
    out_ << (withElements_ ? "{\"elements\": [" : "{");
  }

  void OnElement(const Element& element) override {
    if (!withElements_) return;
    out_ << (first_ ? "\n" : ",\n") << Dump(ElementToJson(element));
    first_ = false;
  }

  void Finish(const DecodeSummary& summary) override {
    if (withElements_) out_ << "\n],\n";
    out_ << "\"summary\": " << Dump(SummaryToJson(summary)) << "}\n";
  }

 private:
  static std::string Dump(const Json& json) {
    return json.dump(-1, ' ', false, Json::error_handler_t::replace);
  }

  std::ostream& out_;
  bool withElements_;
  bool first_ = true;
};

const char* KindName(ElementKind kind) {
  switch (kind) {
    case ElementKind::kAscii:
      return "ascii";
    case ElementKind::kJobHeader:
      return "jobHeader";
    case ElementKind::kSeriesHeader:
      return "seriesHeader";
    case ElementKind::kBlock:
      return "block";
    case ElementKind::kCommand:
      return "command";
    case ElementKind::kRow:
      return "row";
    case ElementKind::kMotion:
      return "motion";
    case ElementKind::kVectorBlockEnd:
      return "vectorBlockEnd";
    case ElementKind::kUnknown:
      return "unknown";
    case ElementKind::kTruncated:
      return "truncated";
  }
  return "?";
}

}  // namespace

std::unique_ptr<DumpPrinter> MakeTextPrinter(std::ostream& out, bool withElements) {
  return std::make_unique<TextPrinter>(out, withElements);
}

std::unique_ptr<DumpPrinter> MakeJsonPrinter(std::ostream& out, bool withElements) {
  return std::make_unique<JsonPrinter>(out, withElements);
}

Json ElementToJson(const Element& element) {
  Json json = Json::object();
  json["offset"] = element.offset;
  json["length"] = element.length;
  json["kind"] = KindName(element.kind);
  switch (element.kind) {
    case ElementKind::kAscii:
      json["text"] = element.text;
      json["number"] = element.number;
      json["known"] = element.known;
      break;
    case ElementKind::kJobHeader:
    case ElementKind::kSeriesHeader: {
      const bool job = element.kind == ElementKind::kJobHeader;
      if (job) json["identificationHex"] = HexBytes(element.ident.data(), 16, "");
      const char* const* names = job ? kJobHeaderWordNames : kSeriesHeaderWordNames;
      Json fields = Json::object();
      for (size_t i = 0; i < element.words.size(); ++i) fields[names[i]] = element.words[i];
      json["fields"] = std::move(fields);
      if (job) json["version"] = VersionText(element.words[kJobHeaderVersionWord]);
      break;
    }
    case ElementKind::kBlock:
      json["declaredLength"] = element.number;
      json["previewHex"] = HexBytes(element.preview, "");
      break;
    case ElementKind::kCommand:
      if (Printable(element.text)) {
        json["code"] = element.text;
      } else {
        json["codeHex"] =
            HexBytes(reinterpret_cast<const uint8_t*>(element.text.data()), element.text.size(), "");
      }
      json["value"] = element.value;
      json["records"] = element.records;
      json["known"] = element.known;
      if (element.code != nullptr) json["meaning"] = element.code->meaning;
      break;
    case ElementKind::kRow:
      json["code"] = element.text;
      json["words"] = element.value;
      json["decodedBytes"] = element.row.decodedBytes;
      json["nonZeroBytes"] = element.row.nonZeroBytes;
      json["setBits"] = element.row.setBits;
      json["maxByte"] = element.row.maxByte;
      json["malformed"] = element.row.malformed;
      break;
    case ElementKind::kMotion: {
      const MotionRecord& m = element.motion;
      json["form"] = m.form;
      if (m.form == 8) {
        json["limitCode"] = m.limitCode;
        json["endCode"] = m.endCode;
        json["dxSteps"] = m.dx;
        json["dySteps"] = m.dy;
        json["lengthSteps"] = m.lengthSteps;
      } else {
        json["startSpeedMmPerS"] = m.startSpeed;
        json["endSpeedMmPerS"] = m.endSpeed;
        json["peakSpeedMmPerS"] = m.peakSpeed;
        json["accelerationMmPerS2"] = m.acceleration;
        json["dxHmm"] = m.dx;
        json["dyHmm"] = m.dy;
      }
      break;
    }
    case ElementKind::kVectorBlockEnd:
      json["firstOffset"] = element.blockOffset;
      json["records"] = element.blockRecords;
      json["sumDx"] = element.sumDx;
      json["sumDy"] = element.sumDy;
      break;
    case ElementKind::kUnknown:
      json["previewHex"] = HexBytes(element.preview, "");
      break;
    case ElementKind::kTruncated:
      json["what"] = element.text;
      json["previewHex"] = HexBytes(element.preview, "");
      break;
  }
  return json;
}

Json SummaryToJson(const DecodeSummary& summary) {
  Json json = Json::object();
  json["bytes"] = summary.bytes;
  json["jobHeaders"] = summary.jobHeaders;
  json["asciiCommands"] = summary.asciiCommands;
  json["commandRecords"] = summary.commandRecords;
  json["rowRecords"] = summary.rowRecords;
  json["motionRecords"] = summary.motionRecords;
  json["motionRecordBytes"] = summary.motionRecordBytes;
  json["vectorBlocks"] = summary.vectorBlocks;
  json["unknownRanges"] = summary.unknownRanges;
  json["unknownBytes"] = summary.unknownBytes;
  json["unknownCodes"] = summary.unknownCodes;
  json["unpairedRecords"] = summary.unpairedRecords;
  json["malformedRows"] = summary.malformedRows;
  json["truncatedElements"] = summary.truncatedElements;
  if (summary.estimatedSeconds) {
    json["estimatedSeconds"] = *summary.estimatedSeconds;
    json["estimatedTime"] = FormatDuration(*summary.estimatedSeconds);
  } else {
    json["estimatedSeconds"] = nullptr;
  }
  json["endsWithJf"] = summary.endsWithJf;
  json["clean"] = summary.Clean();
  return json;
}

}  // namespace ostrelin::tools
