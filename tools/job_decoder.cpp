// Decoding a machine job stream into its elements.
#include "tools/job_decoder.h"

#include <algorithm>
#include <bit>
#include <cstdio>
#include <cstring>

namespace ostrelin::tools {
namespace {

// Every command code the engine writes.
constexpr CommandCode kCommandCodes[] = {
    {"AI", false, false, false, "AI setting"},
    {"C1", false, false, true, "row of dots, forward"},
    {"C2", false, false, true, "row of dots, reverse"},
    {"C3", false, false, true, "row of grey bytes, forward"},
    {"C4", false, false, true, "row of grey bytes, reverse"},
    {"C5", false, false, false, "end of one-way row"},
    {"DP", true, true, false, "DP value"},
    {"FR", false, false, false, "FR setting"},
    {"JF", false, false, false, "end of job"},
    {"OP", false, false, false, "OP"},
    {"PD", false, false, false, "pen down"},
    {"PU", false, false, false, "pen up"},
    {"PW", false, false, false, "power, percent"},
    {"R5", false, false, false, "end of section"},
    {"RF", true, false, false, "depth step"},
    {"RX", true, true, false, "relative move x, dots"},
    {"RY", true, true, false, "relative move y, rows"},
    {"SL", false, false, false, "SL value"},
    {"TE", false, true, false, "estimated time, seconds"},
    {"V2", false, false, false, "V2 mode"},
    {"VD", true, false, false, "speed, mm/s"},
    {"vd", false, false, false, "speed word, tenths of mm/s"},
    {"ZA", false, false, false, "first dot"},
};

constexpr uint8_t kMarkerHigh = 0xFF;
constexpr uint8_t kMarkerLow = 0xFD;
constexpr size_t kRecord = 6;
constexpr size_t kPreviewBytes = 16;
// Longest ASCII command looked at: '!', two letters, up to 3 spaces, up to 9 digits, ';'.
constexpr size_t kAsciiLookahead = 16;
// The buffer holds at least a whole job header, the largest element looked at in one piece.
constexpr size_t kMinBuffer = 256;

int16_t S16(const uint8_t* p) { return static_cast<int16_t>((p[0] << 8) | p[1]); }
uint16_t U16(const uint8_t* p) { return static_cast<uint16_t>((p[0] << 8) | p[1]); }
int32_t S32(const uint8_t* p) {
  return static_cast<int32_t>((static_cast<uint32_t>(p[0]) << 24) | (static_cast<uint32_t>(p[1]) << 16) |
                              (static_cast<uint32_t>(p[2]) << 8) | p[3]);
}

bool IsUpper(uint8_t c) { return c >= 'A' && c <= 'Z'; }
bool IsDigit(uint8_t c) { return c >= '0' && c <= '9'; }

// The stream seen through a window of fixed size.
class ByteReader {
 public:
  ByteReader(std::istream& in, size_t capacity) : in_(in), buffer_(std::max(capacity, kMinBuffer)) {}

  // Makes at least wanted bytes (at most the capacity) available unless the stream ends first;
  // returns how many are available.
  size_t Fill(size_t wanted) {
    wanted = std::min(wanted, buffer_.size());
    if (end_ - begin_ >= wanted || atEnd_) return end_ - begin_;
    if (begin_ > 0) {
      std::memmove(buffer_.data(), buffer_.data() + begin_, end_ - begin_);
      end_ -= begin_;
      begin_ = 0;
    }
    while (end_ < wanted && !atEnd_) {
      in_.read(reinterpret_cast<char*>(buffer_.data() + end_),
               static_cast<std::streamsize>(buffer_.size() - end_));
      const auto got = static_cast<size_t>(in_.gcount());
      if (got == 0) atEnd_ = true;
      end_ += got;
    }
    return end_ - begin_;
  }
  const uint8_t* Data() const { return buffer_.data() + begin_; }
  void Consume(size_t count) {
    begin_ += count;
    offset_ += count;
  }
  uint64_t Offset() const { return offset_; }
  size_t Capacity() const { return buffer_.size(); }

 private:
  std::istream& in_;
  std::vector<uint8_t> buffer_;
  size_t begin_ = 0;
  size_t end_ = 0;
  uint64_t offset_ = 0;
  bool atEnd_ = false;
};

class Decoder {
 public:
  Decoder(std::istream& in, ElementSink& sink, const DecoderOptions& options)
      : reader_(in, options.bufferBytes), sink_(sink), forcedMotionBytes_(options.motionRecordBytes) {
    summary_.motionRecordBytes = forcedMotionBytes_ != 0 ? forcedMotionBytes_ : 8;
  }

  DecodeSummary Run() {
    while (reader_.Fill(1) > 0) Step();
    FlushUnknown();
    EndVectorBlock();
    summary_.bytes = reader_.Offset();
    return summary_;
  }

 private:
  void Step() {
    const size_t available = reader_.Fill(2);
    const uint8_t* p = reader_.Data();
    if (p[0] == kMarkerHigh && available >= 2 && p[1] == kMarkerLow) return CommandRecord();
    // In a vector block every byte that can open a motion record does: a record's first byte is a
    // speed code (never 0xFF) or the high byte of a speed from 0 to 32767.
    if (motionMode_) {
      const bool opensMotion = summary_.motionRecordBytes == 8 ? p[0] != kMarkerHigh : p[0] < 0x80;
      if (opensMotion) return Motion();
    } else if (p[0] == '!' && AsciiCommand()) {
      return;
    }
    Unknown();
  }

  // ---- elements ----

  // Hands over an element other than a motion record or unknown bytes: it ends what was pending.
  void Emit(const Element& element) {
    FlushUnknown();
    EndVectorBlock();
    summary_.endsWithJf = element.kind == ElementKind::kCommand && element.text == "JF";
    sink_.OnElement(element);
  }

  Element Start(ElementKind kind) {
    Element element;
    element.kind = kind;
    element.offset = reader_.Offset();
    return element;
  }

  // The rest of the stream, shorter than the element that starts here.
  void Truncated(Element element, const std::string& what) {
    element.kind = ElementKind::kTruncated;
    element.text = what;
    const size_t available = reader_.Fill(reader_.Capacity());
    if (element.preview.empty()) {
      element.preview.assign(reader_.Data(), reader_.Data() + std::min(available, kPreviewBytes));
    }
    uint64_t length = 0;
    for (size_t got = available; got > 0; got = reader_.Fill(reader_.Capacity())) {
      reader_.Consume(got);
      length += got;
    }
    element.length += length;
    ++summary_.truncatedElements;
    Emit(element);
  }

  void CommandRecord() {
    Element element = Start(ElementKind::kCommand);
    const size_t available = reader_.Fill(2 * kRecord);
    if (available < kRecord) return Truncated(element, "command record");
    const uint8_t* p = reader_.Data();
    element.text.assign(reinterpret_cast<const char*>(p + 2), 2);
    element.code = FindCommandCode(p[2], p[3]);
    element.known = element.code != nullptr;
    element.raw = U16(p + 4);
    element.length = kRecord;
    if (element.code == nullptr) {
      element.value = element.raw;
      ++summary_.unknownCodes;
    } else if (element.code->rowRecord) {
      return Row(element);
    } else if (element.code->pair32) {
      const bool paired = available >= 2 * kRecord && p[6] == kMarkerHigh && p[7] == kMarkerLow &&
                          p[8] == p[2] && p[9] == p[3];
      if (paired) {
        const uint32_t joined = (static_cast<uint32_t>(element.raw) << 16) | U16(p + 10);
        element.value = element.code->isSigned ? static_cast<int64_t>(static_cast<int32_t>(joined)) : joined;
        element.records = 2;
        element.length = 2 * kRecord;
      } else {
        element.value = element.code->isSigned ? static_cast<int16_t>(element.raw) : element.raw;
        ++summary_.unpairedRecords;
      }
    } else {
      element.value = element.code->isSigned ? static_cast<int16_t>(element.raw) : element.raw;
    }
    reader_.Consume(element.length);
    summary_.commandRecords += static_cast<uint64_t>(element.records);
    NoteCommand(element);
    Emit(element);
  }

  // What a command record changes in the decoder: motion records follow the pen records and the
  // vector pass's first record, and end with the job.
  void NoteCommand(const Element& element) {
    if (element.text == "PU" || element.text == "PD" || element.text == "V2") motionMode_ = true;
    if (element.text == "JF") motionMode_ = false;
    if (element.text == "TE" && element.records == 2)
      summary_.estimatedSeconds = static_cast<uint32_t>(element.value);
  }

  void Row(Element element) {
    element.kind = ElementKind::kRow;
    element.value = element.raw;
    reader_.Consume(kRecord);
    uint64_t remaining = 2ull * element.raw;
    RowRunDecoder decoder;
    while (remaining > 0) {
      const size_t available =
          reader_.Fill(static_cast<size_t>(std::min<uint64_t>(remaining, reader_.Capacity())));
      if (available == 0)
        return Truncated(element, "row data (" + std::to_string(2ull * element.raw) + " bytes)");
      const auto take = static_cast<size_t>(std::min<uint64_t>(remaining, available));
      decoder.Feed(reader_.Data(), take);
      sink_.OnRowData(reader_.Data(), take);
      reader_.Consume(take);
      element.length += take;
      remaining -= take;
    }
    element.row = decoder.Finish();
    if (element.row.malformed) ++summary_.malformedRows;
    ++summary_.rowRecords;
    ++summary_.commandRecords;
    Emit(element);
  }

  void Motion() {
    const int form = summary_.motionRecordBytes;
    Element element = Start(ElementKind::kMotion);
    const size_t available = reader_.Fill(static_cast<size_t>(form));
    if (available < static_cast<size_t>(form)) return Truncated(element, "motion record");
    const uint8_t* p = reader_.Data();
    MotionRecord& m = element.motion;
    m.form = form;
    if (form == 8) {
      m.limitCode = p[0];
      m.endCode = p[1];
      m.dx = S16(p + 2);
      m.dy = S16(p + 4);
      m.lengthSteps = S16(p + 6);
    } else {
      m.startSpeed = S16(p);
      m.endSpeed = S16(p + 2);
      m.peakSpeed = S16(p + 4);
      m.acceleration = S16(p + 6);
      m.dx = S16(p + 8);
      m.dy = S16(p + 10);
    }
    element.length = static_cast<uint64_t>(form);
    reader_.Consume(element.length);
    FlushUnknown();
    if (!blockOpen_) {
      blockOpen_ = true;
      block_ = Element{};
      block_.kind = ElementKind::kVectorBlockEnd;
      block_.blockOffset = element.offset;
    }
    ++block_.blockRecords;
    block_.offset = element.offset + element.length;
    block_.sumDx += m.dx;
    block_.sumDy += m.dy;
    ++summary_.motionRecords;
    summary_.endsWithJf = false;
    sink_.OnElement(element);
  }

  void EndVectorBlock() {
    if (!blockOpen_) return;
    blockOpen_ = false;
    ++summary_.vectorBlocks;
    sink_.OnElement(block_);
  }

  // "!", two capital letters, optional spaces, a decimal number and ";". Known commands are "!LB n;"
  // (nothing follows), "!LA n;" (a job header of n bytes) and "!RA n;" (a series header of n bytes).
  bool AsciiCommand() {
    const size_t available = reader_.Fill(kAsciiLookahead);
    const uint8_t* p = reader_.Data();
    if (available < 5 || !IsUpper(p[1]) || !IsUpper(p[2])) return false;
    size_t i = 3;
    while (i < available && i < 6 && p[i] == ' ') ++i;
    const size_t digitsStart = i;
    int64_t number = 0;
    while (i < available && i - digitsStart < 9 && IsDigit(p[i])) number = number * 10 + (p[i++] - '0');
    if (i == digitsStart || i >= available || p[i] != ';') return false;

    Element element = Start(ElementKind::kAscii);
    element.text.assign(reinterpret_cast<const char*>(p), i + 1);
    element.number = number;
    element.length = i + 1;
    const std::string letters(reinterpret_cast<const char*>(p + 1), 2);
    element.known = letters == "LA" || letters == "RA" || letters == "LB";
    if (!element.known) ++summary_.unknownCodes;
    reader_.Consume(element.length);
    ++summary_.asciiCommands;
    motionMode_ = false;
    Emit(element);
    if (letters == "LA" || letters == "RA") HeaderBlock(letters == "LA", static_cast<uint64_t>(number));
    return true;
  }

  void HeaderBlock(bool jobHeader, uint64_t length) {
    Element element = Start(ElementKind::kBlock);
    element.number = static_cast<int64_t>(length);
    const size_t expected = jobHeader ? kJobHeaderBytes : kSeriesHeaderBytes;
    if (length == expected) {
      if (reader_.Fill(expected) < expected)
        return Truncated(element, jobHeader ? "job header" : "series header");
      const uint8_t* p = reader_.Data();
      size_t first = 0;
      if (jobHeader) {
        std::copy(p, p + 16, element.ident.begin());
        first = 16;
      }
      for (size_t at = first; at < expected; at += 4) element.words.push_back(S32(p + at));
      element.kind = jobHeader ? ElementKind::kJobHeader : ElementKind::kSeriesHeader;
      element.length = expected;
      reader_.Consume(expected);
      if (jobHeader) {
        ++summary_.jobHeaders;
        if (forcedMotionBytes_ == 0) {
          summary_.motionRecordBytes = element.words[kJobHeaderControllerKindWord] != 0 ? 12 : 8;
        }
      }
      Emit(element);
      return;
    }
    // A block of a length whose layout is not known: shown raw.
    const size_t firstBytes = reader_.Fill(kPreviewBytes);
    element.preview.assign(
        reader_.Data(),
        reader_.Data() + std::min<uint64_t>(firstBytes, std::min<uint64_t>(length, kPreviewBytes)));
    uint64_t remaining = length;
    while (remaining > 0) {
      const size_t available =
          reader_.Fill(static_cast<size_t>(std::min<uint64_t>(remaining, reader_.Capacity())));
      if (available == 0) return Truncated(element, "block of " + std::to_string(length) + " bytes");
      const auto take = static_cast<size_t>(std::min<uint64_t>(remaining, available));
      reader_.Consume(take);
      element.length += take;
      remaining -= take;
    }
    Emit(element);
  }

  // One byte that fits no element, merged with its unknown neighbours.
  void Unknown() {
    if (unknown_.length == 0) {
      EndVectorBlock();
      unknown_ = Start(ElementKind::kUnknown);
    }
    if (unknown_.preview.size() < kPreviewBytes) unknown_.preview.push_back(reader_.Data()[0]);
    ++unknown_.length;
    reader_.Consume(1);
  }

  void FlushUnknown() {
    if (unknown_.length == 0) return;
    ++summary_.unknownRanges;
    summary_.unknownBytes += unknown_.length;
    summary_.endsWithJf = false;
    sink_.OnElement(unknown_);
    unknown_ = Element{};
  }

  ByteReader reader_;
  ElementSink& sink_;
  const int forcedMotionBytes_;
  DecodeSummary summary_;
  bool motionMode_ = false;
  bool blockOpen_ = false;
  Element block_;
  Element unknown_;
};

}  // namespace

const CommandCode* FindCommandCode(uint8_t first, uint8_t second) {
  for (const CommandCode& code : kCommandCodes) {
    if (static_cast<uint8_t>(code.letters[0]) == first && static_cast<uint8_t>(code.letters[1]) == second) {
      return &code;
    }
  }
  return nullptr;
}

const char* const kJobHeaderWordNames[44] = {
    "passThrough16Div10",
    "passThrough20Div10",
    "zero24",
    "model",
    "tcFlag",
    "tcSpeedDiv10",
    "resolutionXDpi",
    "resolutionYDpi",
    "class0PowerPercent",
    "class0SpeedMmPerS",
    "plateWidthHmm",
    "plateHeightHmm",
    "passThrough26",
    "passThrough28",
    "zero72",
    "firstDotMode",
    "orientation",
    "brightness",
    "stampOption",
    "greyNegative",
    "factorProductDiv10",
    "motionTableSelector",
    "fastFlag",
    "passThrough30",
    "controllerKind",
    "passThrough270",
    "passThrough280",
    "bottomUp",
    "firstSourceRating",
    "passThrough284Plus100",
    "passThrough286",
    "passThrough288",
    "reserved144",
    "reserved148",
    "reserved152",
    "reserved156",
    "reserved160",
    "reserved164",
    "reserved168",
    "reserved172",
    "class0SpeedWord",
    "version",
    "minusOne184",
    "secondSourceRating",
};

const char* const kSeriesHeaderWordNames[8] = {
    "model",         "plateWidthHmm", "plateHeightHmm", "pages",
    "pagesRepeated", "constant20",    "reserved24",     "constant28",
};

void RowRunDecoder::Emit(uint8_t value, uint32_t count) {
  summary_.decodedBytes += count;
  if (value == 0) return;
  summary_.nonZeroBytes += count;
  summary_.setBits += static_cast<uint32_t>(std::popcount(value)) * count;
  summary_.maxByte = std::max(summary_.maxByte, value);
}

void RowRunDecoder::Feed(const uint8_t* data, size_t size) {
  for (size_t i = 0; i < size; ++i) {
    const uint8_t byte = data[i];
    switch (state_) {
      case State::kHeader: {
        const auto header = static_cast<int8_t>(byte);
        if (header >= 0) {
          state_ = State::kLiteral;
          remaining_ = static_cast<uint32_t>(header) + 1;
        } else if (header == -128) {
          state_ = State::kPadded;
        } else {
          state_ = State::kRepeat;
          remaining_ = static_cast<uint32_t>(1 - header);
        }
        break;
      }
      case State::kLiteral:
        Emit(byte, 1);
        if (--remaining_ == 0) state_ = State::kHeader;
        break;
      case State::kRepeat:
        Emit(byte, remaining_);
        state_ = State::kHeader;
        break;
      case State::kPadded:
        summary_.malformed = true;
        break;
    }
  }
}

RowSummary RowRunDecoder::Finish() {
  if (state_ == State::kLiteral || state_ == State::kRepeat) summary_.malformed = true;
  RowSummary result = summary_;
  *this = RowRunDecoder();
  return result;
}

bool DecodeSummary::Clean() const { return Problems().empty(); }

std::string DecodeSummary::Problems() const {
  std::string text;
  auto add = [&text](uint64_t count, const char* what) {
    if (count == 0) return;
    if (!text.empty()) text += ", ";
    text += std::to_string(count) + " " + what;
  };
  add(unknownRanges, unknownRanges == 1 ? "range of unknown bytes" : "ranges of unknown bytes");
  add(unknownCodes, unknownCodes == 1 ? "unknown command" : "unknown commands");
  add(unpairedRecords, unpairedRecords == 1 ? "unpaired 32-bit record" : "unpaired 32-bit records");
  add(malformedRows, malformedRows == 1 ? "malformed row" : "malformed rows");
  add(truncatedElements, "truncated element");
  return text;
}

DecodeSummary DecodeJobStream(std::istream& in, ElementSink& sink, const DecoderOptions& options) {
  Decoder decoder(in, sink, options);
  return decoder.Run();
}

std::string FormatDuration(uint32_t seconds) {
  char text[32];
  std::snprintf(text, sizeof text, "%uh %02um %02us", seconds / 3600, seconds / 60 % 60, seconds % 60);
  return text;
}

}  // namespace ostrelin::tools
