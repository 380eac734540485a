// Decoding a machine job stream into its elements: ASCII commands and their header blocks, command
// records (32-bit pairs joined), raster row records with a summary of their run-length data, and motion
// records grouped into vector blocks. The stream is read through a fixed buffer, so memory stays bounded
// whatever the size of the job, and every byte ends up in exactly one element: bytes that fit no element
// are reported as unknown, and an element cut short by the end of the stream as truncated.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <istream>
#include <optional>
#include <string>
#include <vector>

namespace ostrelin::tools {

// A command code: two letters, how its 16-bit value reads, and whether it is sent as a 32-bit pair.
struct CommandCode {
  char letters[3];
  bool isSigned;
  bool pair32;     // the value is 32 bits in two consecutive records (high 16 bits first)
  bool rowRecord;  // "C1".."C4": the value counts the 16-bit words of row data that follow
  const char* meaning;
};

// The code's entry, or nullptr for a code the engine never writes.
const CommandCode* FindCommandCode(uint8_t first, uint8_t second);

// Names of the 44 integers of the job header (offsets 16 to 188) and of the 8 of the series header.
extern const char* const kJobHeaderWordNames[44];
extern const char* const kSeriesHeaderWordNames[8];
constexpr size_t kJobHeaderBytes = 192;
constexpr size_t kSeriesHeaderBytes = 32;
// Index of the controller kind among the job header words (offset 112): not 0 selects 12-byte motion records.
constexpr size_t kJobHeaderControllerKindWord = (112 - 16) / 4;
constexpr size_t kJobHeaderVersionWord = (180 - 16) / 4;

// What the run-length data of one row decodes to.
struct RowSummary {
  uint32_t decodedBytes = 0;
  uint32_t nonZeroBytes = 0;
  uint32_t setBits = 0;    // engraved dots of a row of bits
  uint8_t maxByte = 0;     // highest power level of a row of grey bytes
  bool malformed = false;  // a run or literal crosses the end of the row, or data follows the padding byte
};

// Decodes run-length coded row data fed in pieces: a header byte 0..127 is followed by that many + 1
// literal bytes, -1..-127 by one byte repeated 1 - header times, and 0x80 pads the row to an even length.
class RowRunDecoder {
 public:
  void Feed(const uint8_t* data, size_t size);
  RowSummary Finish();

 private:
  enum class State { kHeader, kLiteral, kRepeat, kPadded };
  void Emit(uint8_t value, uint32_t count);
  State state_ = State::kHeader;
  uint32_t remaining_ = 0;
  RowSummary summary_;
};

// One motion record of a vector block, 8-byte or 12-byte form.
struct MotionRecord {
  int form = 8;
  // 8-byte form: speed codes and lengths in motor steps
  uint8_t limitCode = 0;
  uint8_t endCode = 0;
  int16_t lengthSteps = 0;
  // 12-byte form: speeds in mm/s, acceleration in mm/s^2, moves in hundredths of a millimetre
  int16_t startSpeed = 0;
  int16_t endSpeed = 0;
  int16_t peakSpeed = 0;
  int16_t acceleration = 0;
  // both forms: motor steps (8-byte form) or hundredths of a millimetre (12-byte form)
  int16_t dx = 0;
  int16_t dy = 0;
};

enum class ElementKind {
  kAscii,           // "!LB 1;", "!LA 192;", "!RA32;" or an unknown "!XX n;"
  kJobHeader,       // the 192 bytes after "!LA 192;"
  kSeriesHeader,    // the 32 bytes after "!RA32;"
  kBlock,           // the block after "!LA n;" or "!RA n;" of another length, shown raw
  kCommand,         // a command record, or a pair of them for a 32-bit value
  kRow,             // a row record and its row data
  kMotion,          // one motion record
  kVectorBlockEnd,  // the end of a run of motion records (covers no bytes)
  kUnknown,         // bytes that fit no element
  kTruncated,       // an element cut short by the end of the stream
};

struct Element {
  ElementKind kind = ElementKind::kUnknown;
  uint64_t offset = 0;
  uint64_t length = 0;  // bytes of the stream this element covers
  std::string text;     // ASCII command text; the code of a record; what was cut short
  bool known = true;    // ASCII command or command code that the engine writes
  // kAscii: the number of the command; kBlock: its declared length
  int64_t number = 0;
  // kJobHeader, kSeriesHeader
  std::array<uint8_t, 16> ident{};
  std::vector<int32_t> words;
  // kCommand
  const CommandCode* code = nullptr;
  uint16_t raw = 0;  // value of the (first) record
  int64_t value = 0;
  int records = 1;  // 2 for a joined 32-bit pair; 1 for a pair code that came alone
  // kRow
  RowSummary row;
  // kMotion
  MotionRecord motion;
  // kVectorBlockEnd: records of the block, first record's offset, sums of the moves
  uint64_t blockRecords = 0;
  uint64_t blockOffset = 0;
  int64_t sumDx = 0;
  int64_t sumDy = 0;
  // kUnknown, kBlock, kTruncated: the first bytes
  std::vector<uint8_t> preview;
};

// Receives the elements in stream order.
class ElementSink {
 public:
  virtual ~ElementSink() = default;
  virtual void OnElement(const Element& element) = 0;
  // The run-length coded data of a row record, in the pieces in which it is read, before the row's
  // element (or the truncated element that ends it). Sinks that only need the summary ignore it.
  virtual void OnRowData(const uint8_t* data, size_t size) {
    (void)data;
    (void)size;
  }
};

struct DecodeSummary {
  uint64_t bytes = 0;
  uint64_t commandRecords = 0;  // 6-byte records, both records of a pair counted
  uint64_t rowRecords = 0;
  uint64_t motionRecords = 0;
  uint64_t vectorBlocks = 0;
  uint64_t asciiCommands = 0;
  uint64_t jobHeaders = 0;
  uint64_t unknownRanges = 0;
  uint64_t unknownBytes = 0;
  uint64_t unknownCodes = 0;     // command records and ASCII commands the engine never writes
  uint64_t unpairedRecords = 0;  // a pair code without its second record
  uint64_t malformedRows = 0;
  uint64_t truncatedElements = 0;
  std::optional<uint32_t> estimatedSeconds;  // the last "TE" pair
  bool endsWithJf = false;
  int motionRecordBytes = 8;  // the form in use at the end of the stream

  // True when every byte belongs to a well-formed element of known kind.
  bool Clean() const;
  // A short description of what is wrong, empty when clean.
  std::string Problems() const;
};

struct DecoderOptions {
  // 8 or 12 forces the motion record form; 0 takes it from the controller kind of the last job header
  // (8 before any header).
  int motionRecordBytes = 0;
  // Size of the read buffer (at least 256 bytes).
  size_t bufferBytes = size_t{1} << 20;
};

// Decodes the whole stream, handing every element to sink in order.
DecodeSummary DecodeJobStream(std::istream& in, ElementSink& sink, const DecoderOptions& options = {});

// "1h 02m 03s" for 3723 seconds.
std::string FormatDuration(uint32_t seconds);

}  // namespace ostrelin::tools
