// Decoding machine job streams: byte fixtures for every kind of element, damaged and random input, and
// a job made by the engine itself.
#include "tools/job_decoder.h"

#include <gtest/gtest.h>

#include <map>
#include <random>
#include <set>
#include <sstream>

#include "ostrelin/ostrelin.h"
#include "support/test_support.h"
#include "tools/dump_printer.h"

namespace ostrelin::tools {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes Cat(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const Bytes& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

Bytes Rec(const char* code, uint16_t value) { return test::Record(code, value); }
Bytes Text(const std::string& text) { return Bytes(text.begin(), text.end()); }

// "!LA 192;" and a job header with the given 32-bit values at their byte offsets (16 to 188).
Bytes JobHeader(const std::map<int, int32_t>& words, uint8_t identFill = 0) {
  Bytes header(192, 0);
  for (int i = 0; i < 16; ++i) header[static_cast<size_t>(i)] = static_cast<uint8_t>(identFill + i);
  for (const auto& [offset, value] : words) {
    for (int i = 0; i < 4; ++i) {
      header[static_cast<size_t>(offset + i)] =
          static_cast<uint8_t>(static_cast<uint32_t>(value) >> (24 - 8 * i));
    }
  }
  return Cat({Text("!LA 192;"), header});
}

// The closing records of every job: "PU" 0, "AI" 0, "OP" 0, "TE" 0 0, "JF" 0.
Bytes Closing() {
  return Cat({Rec("PU", 0), Rec("AI", 0), Rec("OP", 0), Rec("TE", 0), Rec("TE", 0), Rec("JF", 0)});
}

struct Collector : ElementSink {
  void OnElement(const Element& element) override { elements.push_back(element); }
  std::vector<Element> elements;
  // The elements that cover bytes (vector block ends left out).
  std::vector<Element> Covering() const {
    std::vector<Element> covering;
    for (const Element& e : elements) {
      if (e.kind != ElementKind::kVectorBlockEnd) covering.push_back(e);
    }
    return covering;
  }
};

DecodeSummary Decode(const Bytes& bytes, Collector& collector, DecoderOptions options = {}) {
  std::istringstream in(std::string(bytes.begin(), bytes.end()));
  return DecodeJobStream(in, collector, options);
}

// Every byte belongs to exactly one element, in order. Only a truncated element may be empty: the
// header that an ASCII command announced is missing altogether.
void ExpectTiling(const Collector& collector, uint64_t size) {
  uint64_t next = 0;
  for (const Element& e : collector.Covering()) {
    ASSERT_EQ(e.offset, next);
    if (e.kind != ElementKind::kTruncated) {
      ASSERT_GT(e.length, 0u);
    }
    next += e.length;
  }
  EXPECT_EQ(next, size);
}

// The codes of the command and row elements, with the value: "PU=0 TE=70000".
std::string Commands(const Collector& collector) {
  std::string text;
  for (const Element& e : collector.elements) {
    if (e.kind != ElementKind::kCommand && e.kind != ElementKind::kRow) continue;
    if (!text.empty()) text += ' ';
    text += e.text + "=" + std::to_string(e.value);
  }
  return text;
}

TEST(JobDecoder, ClosingSequence) {
  const Bytes closing = Closing();
  ASSERT_EQ(closing.size(), 36u);
  Collector collector;
  const DecodeSummary summary = Decode(closing, collector);
  EXPECT_EQ(Commands(collector), "PU=0 AI=0 OP=0 TE=0 JF=0");
  EXPECT_EQ(collector.elements[3].records, 2);
  EXPECT_EQ(collector.elements[3].length, 12u);
  EXPECT_EQ(summary.commandRecords, 6u);
  EXPECT_EQ(summary.bytes, 36u);
  ASSERT_TRUE(summary.estimatedSeconds.has_value());
  EXPECT_EQ(*summary.estimatedSeconds, 0u);
  EXPECT_TRUE(summary.endsWithJf);
  EXPECT_TRUE(summary.Clean()) << summary.Problems();
  ExpectTiling(collector, 36);
}

TEST(JobDecoder, ValuesReadAsTheirCodeSays) {
  const struct {
    const char* name;
    Bytes bytes;
    const char* commands;
    int records;
  } kCases[] = {
      {"relative move joined and signed", Cat({Rec("RX", 0xFFFF), Rec("RX", 0xFFFB)}), "RX=-5", 2},
      {"rows joined", Cat({Rec("RY", 0), Rec("RY", 10)}), "RY=10", 2},
      {"time joined", Cat({Rec("TE", 1), Rec("TE", 4464)}), "TE=70000", 2},
      {"time unsigned", Cat({Rec("TE", 0xFFFF), Rec("TE", 0xFFFF)}), "TE=4294967295", 2},
      {"DP joined", Cat({Rec("DP", 0), Rec("DP", 500)}), "DP=500", 2},
      {"VD signed", Rec("VD", 0xF413), "VD=-3053", 1},
      {"vd unsigned", Rec("vd", 35000), "vd=35000", 1},
      {"RF signed", Rec("RF", 0xFFF6), "RF=-10", 1},
      {"PW unsigned", Rec("PW", 100), "PW=100", 1},
      {"pair code alone", Cat({Rec("RX", 0xFFFF), Rec("RY", 3)}), "RX=-1 RY=3", 1},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    Collector collector;
    const DecodeSummary summary = Decode(c.bytes, collector);
    EXPECT_EQ(Commands(collector), c.commands);
    ASSERT_FALSE(collector.elements.empty());
    EXPECT_EQ(collector.elements[0].records, c.records);
    EXPECT_EQ(summary.unpairedRecords, c.records == 1 && collector.elements[0].code->pair32 ? 2u : 0u);
    ExpectTiling(collector, c.bytes.size());
  }
}

TEST(JobDecoder, JobHeaderWordsByName) {
  // Offsets as the job header places them, and the names the dump gives them.
  const std::map<int, std::pair<const char*, int32_t>> kWords = {
      {16, {"passThrough16Div10", -5}},  {28, {"model", 268}},
      {40, {"resolutionXDpi", 1000}},    {44, {"resolutionYDpi", 500}},
      {56, {"plateWidthHmm", 20000}},    {60, {"plateHeightHmm", 30000}},
      {80, {"orientation", 4}},          {92, {"greyNegative", -1}},
      {112, {"controllerKind", 1}},      {128, {"firstSourceRating", 100}},
      {176, {"class0SpeedWord", 35000}}, {180, {"version", 65559}},
      {184, {"minusOne184", -1}},        {188, {"secondSourceRating", 30}},
  };
  std::map<int, int32_t> values;
  for (const auto& [offset, word] : kWords) values[offset] = word.second;
  Collector collector;
  const DecodeSummary summary = Decode(Cat({JobHeader(values, 0xA0), Closing()}), collector);
  ASSERT_GE(collector.elements.size(), 2u);
  EXPECT_EQ(collector.elements[0].kind, ElementKind::kAscii);
  EXPECT_EQ(collector.elements[0].text, "!LA 192;");
  const Element& header = collector.elements[1];
  ASSERT_EQ(header.kind, ElementKind::kJobHeader);
  EXPECT_EQ(header.offset, 8u);
  EXPECT_EQ(header.length, 192u);
  const Json json = ElementToJson(header);
  EXPECT_EQ(json["identificationHex"], "a0a1a2a3a4a5a6a7a8a9aaabacadaeaf");
  for (const auto& [offset, word] : kWords) EXPECT_EQ(json["fields"][word.first], word.second) << word.first;
  EXPECT_EQ(json["fields"].size(), 44u);
  EXPECT_EQ(json["version"], "1.23");
  EXPECT_EQ(summary.jobHeaders, 1u);
  EXPECT_EQ(summary.motionRecordBytes, 12) << "controller kind 1 sends 12-byte motion records";
  EXPECT_TRUE(summary.Clean()) << summary.Problems();
}

TEST(JobDecoder, FileStartAndSeriesHeader) {
  Bytes series(32, 0);
  const int32_t words[8] = {260, 60000, 30000, 3, 3, 0x05000600, 0, 2};
  for (int w = 0; w < 8; ++w) {
    for (int i = 0; i < 4; ++i)
      series[static_cast<size_t>(4 * w + i)] = static_cast<uint8_t>(words[w] >> (24 - 8 * i));
  }
  Collector collector;
  const DecodeSummary summary = Decode(Cat({Text("!RA32;"), series, Text("!LB 1;"), Closing()}), collector);
  ASSERT_GE(collector.elements.size(), 3u);
  EXPECT_EQ(collector.elements[0].text, "!RA32;");
  ASSERT_EQ(collector.elements[1].kind, ElementKind::kSeriesHeader);
  const Json json = ElementToJson(collector.elements[1]);
  EXPECT_EQ(json["fields"]["pages"], 3);
  EXPECT_EQ(json["fields"]["plateHeightHmm"], 30000);
  EXPECT_EQ(json["fields"]["constant20"], 0x05000600);
  EXPECT_EQ(collector.elements[2].kind, ElementKind::kAscii);
  EXPECT_EQ(collector.elements[2].text, "!LB 1;");
  EXPECT_EQ(collector.elements[2].number, 1);
  EXPECT_EQ(summary.asciiCommands, 2u);
  EXPECT_TRUE(summary.Clean()) << summary.Problems();
}

TEST(JobDecoder, RowRecordsAndTheirRunLengthData) {
  const struct {
    const char* name;
    Bytes bytes;
    uint32_t decodedBytes;
    uint32_t setBits;
    uint32_t nonZero;
    uint8_t maxByte;
    bool malformed;
  } kCases[] = {
      {"forward bits", Cat({Rec("C1", 1), {0x00, 0xF0}}), 1, 4, 1, 0xF0, false},
      {"reversed bits", Cat({Rec("C2", 1), {0x00, 0x0F}}), 1, 4, 1, 0x0F, false},
      {"run then literal", Cat({Rec("C3", 2), {0xFE, 0x05, 0x00, 0x07}}), 4, 9, 4, 7, false},
      {"130 zero bytes", Cat({Rec("C3", 2), {0x81, 0x00, 0xFF, 0x00}}), 130, 0, 0, 0, false},
      {"padded literal", Cat({Rec("C4", 2), {0x01, 0x01, 0x02, 0x80}}), 2, 2, 2, 2, false},
      {"literal past the row end", Cat({Rec("C1", 1), {0x05, 0x01}}), 1, 1, 1, 1, true},
      {"data after padding", Cat({Rec("C3", 1), {0x80, 0x01}}), 0, 0, 0, 0, true},
      {"empty row", Rec("C1", 0), 0, 0, 0, 0, false},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    Collector collector;
    const DecodeSummary summary = Decode(Cat({c.bytes, Rec("R5", 0)}), collector);
    ASSERT_EQ(collector.elements.size(), 2u);
    const Element& row = collector.elements[0];
    ASSERT_EQ(row.kind, ElementKind::kRow);
    EXPECT_EQ(row.length, c.bytes.size());
    EXPECT_EQ(row.row.decodedBytes, c.decodedBytes);
    EXPECT_EQ(row.row.setBits, c.setBits);
    EXPECT_EQ(row.row.nonZeroBytes, c.nonZero);
    EXPECT_EQ(row.row.maxByte, c.maxByte);
    EXPECT_EQ(row.row.malformed, c.malformed);
    EXPECT_EQ(summary.malformedRows, c.malformed ? 1u : 0u);
    EXPECT_EQ(collector.elements[1].text, "R5");
  }
}

// A vector pass with two blocks: the travel after "PU" and the stroke after "PD".
Bytes VectorPass(const Bytes& travel, const Bytes& stroke) {
  return Cat({Rec("V2", 0), Rec("PU", 0), travel, Rec("PD", 0), stroke, Closing()});
}

TEST(JobDecoder, VectorBlocksOfEightByteRecords) {
  // The first record's dy is -3, so its bytes hold FF FD: still one record, not a command.
  const Bytes travel = {0x00, 0x0C, 0x00, 0x64, 0xFF, 0xFD, 0x00, 0x64};
  const Bytes stroke = {0x05, 0x0A, 0x01, 0x00, 0x00, 0x00, 0x01, 0x00,   // limit 5, end 10, dx 256
                        0x00, 0x00, 0xFF, 0x00, 0x00, 0x02, 0x01, 0x00};  // dx -256, dy 2
  const Bytes stream = Cat({JobHeader({{112, 0}}), VectorPass(travel, stroke)});
  Collector collector;
  const DecodeSummary summary = Decode(stream, collector);
  EXPECT_TRUE(summary.Clean()) << summary.Problems();
  EXPECT_EQ(summary.motionRecords, 3u);
  EXPECT_EQ(summary.vectorBlocks, 2u);
  EXPECT_EQ(summary.motionRecordBytes, 8);
  std::vector<const Element*> motions, blocks;
  for (const Element& e : collector.elements) {
    if (e.kind == ElementKind::kMotion) motions.push_back(&e);
    if (e.kind == ElementKind::kVectorBlockEnd) blocks.push_back(&e);
  }
  ASSERT_EQ(motions.size(), 3u);
  EXPECT_EQ(motions[0]->motion.endCode, 12);
  EXPECT_EQ(motions[0]->motion.dx, 100);
  EXPECT_EQ(motions[0]->motion.dy, -3);
  EXPECT_EQ(motions[0]->motion.lengthSteps, 100);
  EXPECT_EQ(motions[1]->motion.limitCode, 5);
  EXPECT_EQ(motions[1]->motion.endCode, 10);
  EXPECT_EQ(motions[2]->motion.dx, -256);
  ASSERT_EQ(blocks.size(), 2u);
  EXPECT_EQ(blocks[0]->blockRecords, 1u);
  EXPECT_EQ(blocks[0]->blockOffset, motions[0]->offset);
  EXPECT_EQ(blocks[1]->blockRecords, 2u);
  EXPECT_EQ(blocks[1]->sumDx, 0);
  EXPECT_EQ(blocks[1]->sumDy, 2);
  EXPECT_EQ(blocks[1]->offset, motions[2]->offset + 8) << "a block ends where the next record starts";
  ExpectTiling(collector, stream.size());
}

TEST(JobDecoder, VectorBlocksOfTwelveByteRecords) {
  const Bytes travel = {0x00, 0x00, 0x00, 0x00, 0x00, 0xC8, 0x03, 0xE8, 0x05, 0xDC, 0xFF, 0x38};
  const Bytes stroke = {0x00, 0x03, 0x00, 0x03, 0x00, 0x64, 0x01, 0x90, 0x00, 0x0A, 0x00, 0x00};
  Collector withHeader;
  const DecodeSummary summary = Decode(Cat({JobHeader({{112, 1}}), VectorPass(travel, stroke)}), withHeader);
  EXPECT_TRUE(summary.Clean()) << summary.Problems();
  EXPECT_EQ(summary.motionRecords, 2u);

  // Without a header the form must be given.
  Collector forced;
  DecoderOptions options;
  options.motionRecordBytes = 12;
  const DecodeSummary forcedSummary = Decode(VectorPass(travel, stroke), forced, options);
  EXPECT_TRUE(forcedSummary.Clean()) << forcedSummary.Problems();
  for (const Collector* collector : {&withHeader, &forced}) {
    std::vector<MotionRecord> motions;
    for (const Element& e : collector->elements) {
      if (e.kind == ElementKind::kMotion) motions.push_back(e.motion);
    }
    ASSERT_EQ(motions.size(), 2u);
    EXPECT_EQ(motions[0].form, 12);
    EXPECT_EQ(motions[0].peakSpeed, 200);
    EXPECT_EQ(motions[0].acceleration, 1000);
    EXPECT_EQ(motions[0].dx, 1500);
    EXPECT_EQ(motions[0].dy, -200);
    EXPECT_EQ(motions[1].startSpeed, 3);
    EXPECT_EQ(motions[1].endSpeed, 3);
    EXPECT_EQ(motions[1].dx, 10);
  }
}

TEST(JobDecoder, BytesThatFitNoElementAreReportedWhereTheyAre) {
  const struct {
    const char* name;
    Bytes bytes;
    uint64_t unknownOffset;
    uint64_t unknownLength;
    const char* commands;
  } kCases[] = {
      {"junk before a record", Cat({{0x01, 0x02, 0x03}, Rec("JF", 0)}), 0, 3, "JF=0"},
      {"junk after the end", Cat({Rec("JF", 0), {0x00}}), 6, 1, "JF=0"},
      {"marker without its second byte", Cat({{0xFF, 0x00}, Rec("JF", 0)}), 0, 2, "JF=0"},
      {"exclamation mark that starts nothing", Cat({Text("!LAx"), Rec("OP", 0)}), 0, 4, "OP=0"},
      {"0x80 where a 12-byte record must start",
       Cat({JobHeader({{112, 1}}), Rec("PU", 0), {0x80}, Bytes(12, 0), Rec("JF", 0)}), 206, 1, "PU=0 JF=0"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    Collector collector;
    const DecodeSummary summary = Decode(c.bytes, collector);
    EXPECT_EQ(Commands(collector), c.commands);
    const Element* unknown = nullptr;
    for (const Element& e : collector.elements) {
      if (e.kind == ElementKind::kUnknown) unknown = &e;
    }
    ASSERT_NE(unknown, nullptr);
    EXPECT_EQ(unknown->offset, c.unknownOffset);
    EXPECT_EQ(unknown->length, c.unknownLength);
    EXPECT_EQ(summary.unknownRanges, 1u);
    EXPECT_EQ(summary.unknownBytes, c.unknownLength);
    EXPECT_FALSE(summary.Clean());
    ExpectTiling(collector, c.bytes.size());
  }
}

TEST(JobDecoder, CodesTheEngineNeverWritesAreMarked) {
  Collector collector;
  const DecodeSummary summary = Decode(Cat({Rec("ZZ", 1), Text("!XY 5;"), Rec("JF", 0)}), collector);
  ASSERT_EQ(collector.elements.size(), 3u);
  EXPECT_EQ(collector.elements[0].kind, ElementKind::kCommand);
  EXPECT_FALSE(collector.elements[0].known);
  EXPECT_EQ(collector.elements[1].kind, ElementKind::kAscii);
  EXPECT_FALSE(collector.elements[1].known);
  EXPECT_EQ(summary.unknownCodes, 2u);
  EXPECT_TRUE(summary.endsWithJf);
  EXPECT_FALSE(summary.Clean());
}

// A stream with one element of every kind.
Bytes FullStream() {
  const Bytes travel = {0x00, 0x0C, 0x00, 0x64, 0x00, 0x00, 0x00, 0x64};
  return Cat({Text("!LB 1;"),
              JobHeader({{112, 0}, {56, 60000}}),
              Rec("PW", 50),
              Rec("RX", 0),
              Rec("RX", 100),
              Rec("C1", 1),
              {0x00, 0xF0},
              Rec("C4", 2),
              {0xFE, 0x05, 0x00, 0x07},
              Rec("R5", 0),
              VectorPass(travel, travel)});
}

// Cut anywhere, the stream still decodes into elements that cover every byte; it is clean exactly when
// the cut falls between two elements.
TEST(JobDecoder, TruncatedStreamsAreReportedNotMisread) {
  const Bytes full = FullStream();
  Collector whole;
  ASSERT_TRUE(Decode(full, whole).Clean());
  // Between two elements, except between an ASCII command and the header it announces.
  std::set<uint64_t> boundaries{0};
  const std::vector<Element> elements = whole.Covering();
  for (size_t i = 0; i < elements.size(); ++i) {
    const bool announces = i + 1 < elements.size() && elements[i].kind == ElementKind::kAscii &&
                           elements[i + 1].kind != ElementKind::kAscii &&
                           elements[i + 1].kind != ElementKind::kCommand;
    if (!announces) boundaries.insert(elements[i].offset + elements[i].length);
  }
  for (size_t cut = 0; cut <= full.size(); ++cut) {
    SCOPED_TRACE("cut at " + std::to_string(cut));
    Collector collector;
    const DecodeSummary summary =
        Decode(Bytes(full.begin(), full.begin() + static_cast<ptrdiff_t>(cut)), collector);
    ExpectTiling(collector, cut);
    EXPECT_EQ(summary.Clean(), boundaries.count(cut) == 1) << summary.Problems();
  }
}

TEST(JobDecoder, DeclaredLengthBeyondTheEndIsTruncated) {
  Collector collector;
  const Bytes stream = Cat({Text("!LA 999999999;"), Bytes(10, 0x41)});
  const DecodeSummary summary = Decode(stream, collector);
  ASSERT_EQ(collector.elements.size(), 2u);
  EXPECT_EQ(collector.elements[0].number, 999999999);
  EXPECT_EQ(collector.elements[1].kind, ElementKind::kTruncated);
  EXPECT_EQ(collector.elements[1].length, 10u);
  EXPECT_EQ(summary.truncatedElements, 1u);
  ExpectTiling(collector, stream.size());
}

// Random bytes, rich in markers and record letters, never crash the decoder or leave a byte out.
TEST(JobDecoder, ArbitraryBytesAlwaysTile) {
  std::mt19937 random(7);
  const uint8_t kAlphabet[] = {0xFF, 0xFD, 'C', '1', '3', 'R', 'X',  'T',  'E',  'P',  'U', 'D',
                               '!',  'L',  'A', ' ', '9', ';', 0x00, 0x80, 0x7F, 0x01, 0x02};
  for (int trial = 0; trial < 2000; ++trial) {
    Bytes bytes(random() % 400);
    for (uint8_t& b : bytes)
      b = random() % 3 == 0 ? static_cast<uint8_t>(random()) : kAlphabet[random() % std::size(kAlphabet)];
    Collector collector;
    DecoderOptions options;
    options.bufferBytes = 4096;
    options.motionRecordBytes = trial % 3 == 0 ? 0 : (trial % 3 == 1 ? 8 : 12);
    const DecodeSummary summary = Decode(bytes, collector, options);
    ASSERT_NO_FATAL_FAILURE(ExpectTiling(collector, bytes.size())) << "trial " << trial;
    ASSERT_EQ(summary.bytes, bytes.size());
  }
}

TEST(JobDecoder, TheSmallestBufferGivesTheSameElements) {
  Bytes longRow = Rec("C3", 300);
  for (int i = 0; i < 300; ++i) longRow.insert(longRow.end(), {0x00, static_cast<uint8_t>(i)});
  const Bytes stream = Cat({FullStream(), longRow, Text("!LA 300;"), Bytes(300, 7), FullStream()});
  std::vector<std::string> results;
  for (size_t bufferBytes : {size_t{1}, size_t{256}, size_t{1} << 20}) {
    Collector collector;
    DecoderOptions options;
    options.bufferBytes = bufferBytes;
    const DecodeSummary summary = Decode(stream, collector, options);
    std::string text = SummaryToJson(summary).dump();
    for (const Element& e : collector.elements) text += ElementToJson(e).dump();
    results.push_back(text);
  }
  EXPECT_EQ(results[0], results[2]);
  EXPECT_EQ(results[1], results[2]);
}

class JobDecoderOnEngineOutput : public test::ScratchDirTest {};

// The engine's own empty job: "!LA 192;", the header built from the settings, the closing records.
TEST_F(JobDecoderOnEngineOutput, EmptyJob) {
  test::RecordSet set;
  std::vector<uint8_t> settings = test::DefaultSettings();
  ostrelinInit(set.ctx, set.spool, set.job, settings.data());
  ostrelinDoBinary(set.ctx, set.spool, set.job);
  ASSERT_EQ(set.ctx->lastError, 0);
  const Bytes job = test::ReadBack(set);
  EXPECT_EQ(ostrelinClean(set.ctx, set.spool, set.job), 0);

  Collector collector;
  const DecodeSummary summary = Decode(job, collector);
  EXPECT_EQ(summary.bytes, 8u + 192u + 36u);
  EXPECT_TRUE(summary.Clean()) << summary.Problems();
  EXPECT_TRUE(summary.endsWithJf);
  ASSERT_TRUE(summary.estimatedSeconds.has_value());
  EXPECT_EQ(*summary.estimatedSeconds, 0u);
  ASSERT_EQ(collector.elements.size(), 7u);
  EXPECT_EQ(collector.elements[0].text, "!LA 192;");
  const Json header = ElementToJson(collector.elements[1]);
  EXPECT_EQ(header["fields"]["plateWidthHmm"], 60000);
  EXPECT_EQ(header["fields"]["plateHeightHmm"], 30000);
  EXPECT_EQ(header["fields"]["resolutionXDpi"], 500);
  EXPECT_EQ(header["fields"]["model"], 260);
  EXPECT_EQ(header["fields"]["minusOne184"], -1);
  EXPECT_EQ(header["version"], "1.00");
  EXPECT_EQ(Commands(collector), "PU=0 AI=0 OP=0 TE=0 JF=0");
}

}  // namespace
}  // namespace ostrelin::tools
