// Runs HPGL text through the page driver on records prepared as for a job, and reads back the plot
// command file as a list of records.
#pragma once

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/error.h"
#include "engine/hpgl/page_driver.h"
#include "engine/hpgl/plot_file.h"
#include "engine/hpgl/plotter_state.h"
#include "engine/scratch.h"
#include "ostrelin/ostrelin.h"
#include "support/fakes.h"
#include "support/test_support.h"

namespace ostrelin::test {

// One record of the plot command file.
struct PlotRecord {
  uint8_t opcode = 0;
  float x = 0, y = 0, z = 0;  // points
  float value = 0;            // value opcodes
  int colour = -1;            // opcode 4
  std::string text;           // opcode 8
};

inline PlotRecord Pt(uint8_t opcode, float x, float y) {
  PlotRecord r;
  r.opcode = opcode;
  r.x = x;
  r.y = y;
  return r;
}

inline PlotRecord Op(uint8_t opcode) {
  PlotRecord r;
  r.opcode = opcode;
  return r;
}

inline PlotRecord Pt3(float x, float y, float z) {
  PlotRecord r = Pt(hpgl::kOpPoint3d, x, y);
  r.z = z;
  return r;
}

inline PlotRecord Val(uint8_t opcode, float value) {
  PlotRecord r;
  r.opcode = opcode;
  r.value = value;
  return r;
}

inline PlotRecord Colour(int colourClass) {
  PlotRecord r;
  r.opcode = hpgl::kOpColour;
  r.colour = colourClass;
  return r;
}

inline PlotRecord Text(const std::string& text) {
  PlotRecord r;
  r.opcode = hpgl::kOpText;
  r.text = text;
  return r;
}

inline bool operator==(const PlotRecord& a, const PlotRecord& b) {
  return a.opcode == b.opcode && a.x == b.x && a.y == b.y && a.z == b.z && a.value == b.value &&
         a.colour == b.colour && a.text == b.text;
}

inline std::ostream& operator<<(std::ostream& out, const PlotRecord& r) {
  out << "{op " << int(r.opcode);
  switch (r.opcode) {
    case 1:
    case 2:
    case 3:
      out << " (" << r.x << ", " << r.y << ")";
      break;
    case 15:
      out << " (" << r.x << ", " << r.y << ", " << r.z << ")";
      break;
    case 4:
      out << " class " << r.colour;
      break;
    case 8:
      out << " \"" << r.text << "\"";
      break;
    case 0:
    case 5:
    case 11:
      break;
    default:
      out << " " << r.value;
  }
  return out << "}";
}

class HpglTest : public ScratchDirTest {
 protected:
  void SetUp() override {
    ScratchDirTest::SetUp();
    auto record = DefaultSettings();
    ostrelinInit(set_.ctx, set_.spool, set_.job, record.data());
    ASSERT_NE(set_.ctx->plotFile, nullptr);
    set_.ctx->scalingFrameFlag = 0;  // plotter units; the scaling frame is tested on its own
  }
  void TearDown() override {
    TearDownRecords();
    ScratchDirTest::TearDown();
  }

  // Puts text in the spool buffer and runs the page driver once; the kind of a fatal error, if any.
  std::optional<ErrorKind> Run(std::string_view text, bool pageComplete = true) {
    buffer_.assign(text.begin(), text.end());
    return RunBuffer(pageComplete);
  }

  // Runs the page driver on buffer_ from its start.
  std::optional<ErrorKind> RunBuffer(bool pageComplete) {
    set_.spool->spoolBuffer = buffer_.data();
    set_.spool->readPos = buffer_.data();
    set_.spool->dataEnd = buffer_.data() + buffer_.size();
    set_.spool->pageComplete = pageComplete ? 1 : 0;
    return Continue();
  }

  // Runs the page driver again from the current read position.
  std::optional<ErrorKind> Continue() {
    try {
      hpgl::RunPageDriver(*set_.ctx, *set_.spool, *set_.job);
    } catch (const EngineAbort& abort) {
      return abort.kind;
    }
    return std::nullopt;
  }

  // Every record written so far; the file keeps its write position.
  std::vector<PlotRecord> Records() {
    platform::Stream& stream = *AsStream(set_.ctx->plotFile);
    const int64_t end = stream.Tell();
    stream.Seek(0, platform::kSeekSet);
    std::vector<PlotRecord> records;
    hpgl::Reader reader(*set_.ctx, stream, end);
    for (uint8_t op = reader.NextOpcode(); op != hpgl::kOpEnd; op = reader.NextOpcode()) {
      PlotRecord r;
      r.opcode = op;
      if (op >= 1 && op <= 3) {
        reader.ReadPoint(&r.x, &r.y);
      } else if (op == hpgl::kOpPoint3d) {
        reader.ReadPoint3d(&r.x, &r.y, &r.z);
      } else if (op == hpgl::kOpColour) {
        r.colour = reader.ReadColourClass();
      } else if (op == hpgl::kOpText) {
        r.text = reader.ReadText();
      } else if (hpgl::PayloadBytes(op) == 4) {
        r.value = reader.ReadValue();
      }
      records.push_back(r);
    }
    stream.Seek(end, platform::kSeekSet);
    return records;
  }

  // Starts over with records prepared as for a new job and an empty plot command file.
  void Restart() {
    TearDownRecords();
    auto record = DefaultSettings();
    ostrelinInit(set_.ctx, set_.spool, set_.job, record.data());
    ASSERT_NE(set_.ctx->plotFile, nullptr);
    set_.ctx->scalingFrameFlag = 0;
  }

  void TearDownRecords() {
    hpgl::ReleaseHpglState(*set_.ctx);
    ostrelinClean(set_.ctx, set_.spool, set_.job);
  }

  // Records of one text run on fresh records.
  std::vector<PlotRecord> RecordsOf(std::string_view text) {
    Restart();
    const auto error = Run(text);
    EXPECT_FALSE(error.has_value()) << text;
    return Records();
  }

  RecordSet set_;
  std::vector<uint8_t> buffer_;
};

}  // namespace ostrelin::test
