// Raster transfer decoders: round trips through the test encoders for every method on random
// rows (also rows longer than a plane), and data that lies about its length.
#include "engine/hpgl/rtl_decode.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <stdexcept>
#include <vector>

#include "hpgl/rtl_encoders.h"
#include "support/test_support.h"

namespace ostrelin::test {
namespace {

using hpgl::rtl::ByteSource;
using hpgl::rtl::DecodeTransfer;
using hpgl::rtl::RowKind;
using hpgl::rtl::RowSink;
using Bytes = std::vector<uint8_t>;

constexpr size_t kPlane = OSTRELIN_PLANE_BYTES;

struct DataEnd : std::runtime_error {
  DataEnd() : std::runtime_error("data end") {}
};

class VectorSource final : public ByteSource {
 public:
  explicit VectorSource(Bytes data) : data_(std::move(data)) {}
  int Next() override {
    if (pos_ >= data_.size()) throw DataEnd();
    return data_[pos_++];
  }
  void Skip(int64_t count) override {
    if (count <= 0) return;
    if (static_cast<uint64_t>(count) > data_.size() - pos_) {
      pos_ = data_.size();
      throw DataEnd();
    }
    pos_ += static_cast<size_t>(count);
  }
  size_t Left() const { return data_.size() - pos_; }

 private:
  Bytes data_;
  size_t pos_ = 0;
};

// Keeps every delivered row: the planes of the row, each cut to the row length within a plane.
class RecordingSink final : public RowSink {
 public:
  void Deliver(Spool& spool, RowKind kind) override {
    const size_t bytes = std::clamp<int32_t>(spool.rowBytes, 0, OSTRELIN_PLANE_BYTES);
    const int planes = kind == RowKind::kPlanes ? 3 : 1;
    std::vector<Bytes> row;
    for (int p = 0; p < planes; ++p) row.emplace_back(spool.rowBuffer[p], spool.rowBuffer[p] + bytes);
    rows.push_back(row);
    kinds.push_back(kind);
    spool.pendingPlane = -1;
  }
  std::vector<std::vector<Bytes>> rows;
  std::vector<RowKind> kinds;
};

// Random rows with runs, so that every encoder has both runs and literals to write.
Bytes RandomRow(std::mt19937& rng, size_t length) {
  Bytes row(length);
  std::uniform_int_distribution<int> byte(0, 255), runLength(1, 300), kind(0, 2);
  for (size_t i = 0; i < length;) {
    const size_t run = std::min<size_t>(static_cast<size_t>(runLength(rng)), length - i);
    const int k = kind(rng);
    const uint8_t value = static_cast<uint8_t>(byte(rng));
    for (size_t j = 0; j < run; ++j) row[i + j] = k == 0 ? value : static_cast<uint8_t>(byte(rng));
    i += run;
  }
  return row;
}

// A row as a plane holds it: cut to the plane.
Bytes InPlane(const Bytes& row) { return Bytes(row.begin(), row.begin() + static_cast<ptrdiff_t>(std::min(row.size(), kPlane))); }

class RtlDecodeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    spool().pendingPlane = -1;
    spool().rasterLastPlane = 0;
  }
  Spool& spool() { return *set_.spool; }
  // One transfer of the pending plane + 1, as the escape reader starts it.
  void Transfer(int method, const Bytes& data, int32_t count = -1) {
    spool().pendingPlane = std::clamp(spool().pendingPlane + 1, 0, hpgl::rtl::EffectiveLastPlane(spool()));
    VectorSource source(data);
    DecodeTransfer(spool(), source, sink_, method, count < 0 ? static_cast<int32_t>(data.size()) : count);
  }
  RecordSet set_;
  RecordingSink sink_;
};

TEST_F(RtlDecodeTest, RoundTripOfEveryRowMethodOnRandomRows) {
  std::mt19937 rng(7);
  for (int method = 0; method <= 3; ++method) {
    SCOPED_TRACE(method);
    std::memset(spool().seedRows, 0, sizeof spool().seedRows);
    sink_.rows.clear();
    // Lengths: short, odd, exactly a plane, longer than a plane.
    const std::vector<size_t> lengths = {1, 13, 500, 4097, kPlane, kPlane + 1, kPlane + 3000};
    Bytes seed(kPlane, 0);  // what the seed row holds: the plane part of each row received
    std::vector<Bytes> sent;
    for (size_t length : lengths) {
      for (int repeat = 0; repeat < 2; ++repeat) {
        Bytes row = RandomRow(rng, length);
        if (repeat == 1) {  // a row close to the one before, for the delta rows
          row = seed;
          row.resize(length);
          for (size_t i = 0; i < length; i += 1 + (i * 7919) % 97) row[i] ^= 0x5A;
        }
        spool().rowBytes = static_cast<int32_t>(length);
        spool().rowPixels = static_cast<int32_t>(length * 8);
        Transfer(method, EncodeRow(method, row, seed));
        sent.push_back(row);
        std::copy_n(row.begin(), std::min(length, kPlane), seed.begin());
      }
    }
    ASSERT_EQ(sink_.rows.size(), sent.size());
    for (size_t r = 0; r < sent.size(); ++r) {
      ASSERT_EQ(sink_.rows[r][0], InPlane(sent[r])) << "row " << r;
      EXPECT_EQ(sink_.kinds[r], RowKind::kBits);
    }
  }
}

TEST_F(RtlDecodeTest, CountedRowsRoundTripOverThreePlanes) {
  std::mt19937 rng(11);
  spool().rasterLastPlane = 2;
  for (size_t length : {size_t{5}, size_t{777}, kPlane + 10}) {
    sink_.rows.clear();
    spool().rowBytes = static_cast<int32_t>(length);
    std::vector<std::vector<Bytes>> sent;
    Bytes data = BigEndian32(static_cast<uint32_t>(length * 8 - 3));  // bits round up to length
    for (int r = 0; r < 3; ++r) {
      std::vector<Bytes> planes;
      for (int p = 0; p < 3; ++p) {
        planes.push_back(RandomRow(rng, length));
        data.insert(data.end(), planes.back().begin(), planes.back().end());
      }
      sent.push_back(planes);
    }
    Transfer(4, data);
    ASSERT_EQ(sink_.rows.size(), 3u) << length;
    for (int r = 0; r < 3; ++r) {
      EXPECT_EQ(sink_.kinds[r], RowKind::kPlanes);
      for (int p = 0; p < 3; ++p) EXPECT_EQ(sink_.rows[r][p], InPlane(sent[r][p])) << r << " " << p;
    }
  }
}

TEST_F(RtlDecodeTest, AdaptiveBlocksRoundTrip) {
  std::mt19937 rng(5);
  const size_t length = 3000;
  spool().rowBytes = static_cast<int32_t>(length);
  Bytes data, seed(length, 0);
  std::vector<Bytes> sent;
  std::uniform_int_distribution<int> pick(0, 5);
  for (int r = 0; r < 40; ++r) {
    const int command = pick(rng);
    Bytes row;
    uint16_t count;
    Bytes block;
    if (command <= 3) {
      row = RandomRow(rng, length);
      block = EncodeRow(command, row, seed);
      count = static_cast<uint16_t>(block.size());
      sent.push_back(row);
    } else if (command == 4) {
      count = 2;
      row = Bytes(length, 0);
      sent.push_back(row);
      sent.push_back(row);
    } else {
      count = 3;
      row = seed;
      for (int i = 0; i < 3; ++i) sent.push_back(row);
    }
    data.push_back(static_cast<uint8_t>(command));
    data.push_back(static_cast<uint8_t>(count >> 8));
    data.push_back(static_cast<uint8_t>(count));
    data.insert(data.end(), block.begin(), block.end());
    seed = row;
  }
  Transfer(5, data);
  ASSERT_EQ(sink_.rows.size(), sent.size());
  for (size_t r = 0; r < sent.size(); ++r) EXPECT_EQ(sink_.rows[r][0], sent[r]) << "row " << r;
}

struct Example {
  const char* name;
  int method;
  Bytes data;
  int32_t rowBytes;
  Bytes seed;
  Bytes row;
};

TEST_F(RtlDecodeTest, SmallExamples) {
  const std::vector<Example> examples = {
      {"packbits repeat", 2, {0xFE, 0x55}, 3, {}, {0x55, 0x55, 0x55}},
      {"packbits literal", 2, {0x01, 0x10, 0x20}, 3, {}, {0x10, 0x20, 0x00}},
      {"packbits no-op", 2, {0x80, 0x00, 0x07}, 2, {}, {0x07, 0x00}},
      {"run length", 1, {0x02, 0xAA}, 3, {}, {0xAA, 0xAA, 0xAA}},
      {"run length two pairs", 1, {0x00, 0x01, 0x01, 0x02}, 4, {}, {0x01, 0x02, 0x02, 0x00}},
      {"delta on zero seed", 3, {0x20, 0x11, 0x22}, 4, {0, 0, 0, 0}, {0x11, 0x22, 0, 0}},
      {"delta keeps the seed", 3, {0x02, 0x99}, 4, {1, 2, 3, 4}, {1, 2, 0x99, 4}},
      {"delta relative offsets", 3, {0x01, 0xA0, 0x00, 0xB0}, 4, {0, 0, 0, 0}, {0, 0xA0, 0xB0, 0}},
      {"delta offset 31 plus 0", 3, {0x1F, 0x00, 0x77}, 33, Bytes(33, 1),
       [] { Bytes b(33, 1); b[31] = 0x77; return b; }()},
      {"delta offset 31 + 255 + 2", 3, {0x1F, 0xFF, 0x02, 0x66}, 300, Bytes(300, 0),
       [] { Bytes b(300, 0); b[288] = 0x66; return b; }()},
      {"unencoded short of the row", 0, {0x12}, 3, {}, {0x12, 0x00, 0x00}},
  };
  for (const Example& e : examples) {
    SCOPED_TRACE(e.name);
    sink_.rows.clear();
    std::memset(spool().rowBuffer, 0xEE, sizeof spool().rowBuffer);
    if (!e.seed.empty()) std::memcpy(spool().seedRows[0], e.seed.data(), e.seed.size());
    spool().rowBytes = e.rowBytes;
    Transfer(e.method, e.data);
    ASSERT_EQ(sink_.rows.size(), 1u);
    EXPECT_EQ(sink_.rows[0][0], e.row);
    EXPECT_EQ(Bytes(spool().seedRows[0], spool().seedRows[0] + e.rowBytes), e.row);
  }
}

TEST_F(RtlDecodeTest, AdaptiveEmptyRowsBlock) {
  spool().rowBytes = 4;
  std::memset(spool().rowBuffer[0], 0xEE, 4);
  Transfer(5, {0x04, 0x00, 0x02});
  ASSERT_EQ(sink_.rows.size(), 2u);
  EXPECT_EQ(sink_.rows[0][0], Bytes(4, 0));
  EXPECT_EQ(sink_.rows[1][0], Bytes(4, 0));
}

TEST_F(RtlDecodeTest, ByteColourSpaceDeliversEveryMethodAsByteRows) {
  spool().rasterColourSpace = hpgl::rtl::kByteColourSpace;
  spool().rasterLastPlane = 7;
  spool().rowBytes = 3;
  Transfer(0, {1, 2, 3});
  Transfer(2, {0xFE, 9});
  Transfer(1, {2, 4});
  ASSERT_EQ(sink_.rows.size(), 3u);
  for (RowKind kind : sink_.kinds) EXPECT_EQ(kind, RowKind::kBytes);
  EXPECT_EQ(sink_.rows[0][0], (Bytes{1, 2, 3}));
  EXPECT_EQ(sink_.rows[1][0], (Bytes{9, 9, 9}));
  EXPECT_EQ(sink_.rows[2][0], (Bytes{4, 4, 4}));
}

TEST_F(RtlDecodeTest, PlanesCompleteWithTheLastPlane) {
  spool().rasterLastPlane = 2;
  spool().rowBytes = 1;
  Transfer(0, {0x81});
  Transfer(0, {0x42});
  EXPECT_TRUE(sink_.rows.empty());
  Transfer(0, {0x24});
  ASSERT_EQ(sink_.rows.size(), 1u);
  EXPECT_EQ(sink_.kinds[0], RowKind::kPlanes);
  EXPECT_EQ(sink_.rows[0], (std::vector<Bytes>{{0x81}, {0x42}, {0x24}}));
}

// Data that claims more than the plane holds or more than the data has: the planes after the one
// written keep their bytes, and the decoder stops at the data end.
struct Overrun {
  const char* name;
  int method;
  Bytes data;
  int32_t count;
  bool reachesEnd;
};

TEST_F(RtlDecodeTest, NeitherPlaneNorDataOverrun) {
  Bytes manyRuns;
  for (int i = 0; i < 200; ++i) manyRuns.insert(manyRuns.end(), {0xFF, 0x33});  // 51,200 bytes
  Bytes manyRepeats;
  for (int i = 0; i < 300; ++i) manyRepeats.insert(manyRepeats.end(), {0x81, 0x44});  // 38,400 bytes
  Bytes farDelta = {0x1F};
  for (int i = 0; i < 200; ++i) farDelta.push_back(0xFF);  // offset far past the plane
  farDelta.insert(farDelta.end(), {0x00, 0x11});
  const std::vector<Overrun> cases = {
      {"run length past the plane", 1, manyRuns, static_cast<int32_t>(manyRuns.size()), false},
      {"packbits past the plane", 2, manyRepeats, static_cast<int32_t>(manyRepeats.size()), false},
      {"delta past the plane", 3, farDelta, static_cast<int32_t>(farDelta.size()), false},
      {"unencoded count beyond the data", 0, {1, 2, 3}, 1000, true},
      {"run length count beyond the data", 1, {1, 2}, 1000, true},
      {"packbits literal beyond the data", 2, {0x7F, 1}, 200, true},
      {"delta count beyond the data", 3, {0xE0, 1}, 50, true},
      {"counted rows beyond the data", 4, {0, 0, 0, 64, 1, 2}, 100, true},
      {"counted rows huge row length", 4, {0xFF, 0xFF, 0xFF, 0xFF, 1}, 10, true},
      {"adaptive block beyond the data", 5, {0x00, 0xFF, 0xFF, 1, 2}, 70000, true},
      {"unknown method skips its count", 9, {1, 2, 3}, 3, false},
      {"unknown method count beyond the data", 9, {1, 2, 3}, 4, true},
      {"negative count", 0, {}, -5, false},
      {"huge count", 2, {0x00, 0x01}, INT32_MAX, true},
  };
  for (const Overrun& c : cases) {
    SCOPED_TRACE(c.name);
    spool().rowBytes = 40000;
    spool().pendingPlane = -1;
    std::memset(spool().rowBuffer[1], 0xC3, kPlane);
    std::memset(spool().seedRows[2], 0x3C, kPlane);
    spool().directionFlag = 12345;
    bool ended = false;
    try {
      Transfer(c.method, c.data, c.count);
    } catch (const DataEnd&) {
      ended = true;
    }
    EXPECT_EQ(ended, c.reachesEnd);
    EXPECT_EQ(Bytes(spool().rowBuffer[1], spool().rowBuffer[1] + kPlane), Bytes(kPlane, 0xC3));
    EXPECT_EQ(Bytes(spool().seedRows[2], spool().seedRows[2] + kPlane), Bytes(kPlane, 0x3C));
    EXPECT_EQ(spool().directionFlag, 12345);
  }
}

TEST_F(RtlDecodeTest, RunsPastThePlaneKeepTheirFirstBytes) {
  Bytes data;
  for (int i = 0; i < 200; ++i) data.insert(data.end(), {0xFF, static_cast<uint8_t>(i)});
  spool().rowBytes = 60000;
  Transfer(1, data);
  ASSERT_EQ(sink_.rows.size(), 1u);
  const Bytes& row = sink_.rows[0][0];
  ASSERT_EQ(row.size(), kPlane);
  for (size_t i = 0; i < kPlane; i += 1000) EXPECT_EQ(row[i], i / 256) << i;
  EXPECT_EQ(row[kPlane - 1], (kPlane - 1) / 256);
}

}  // namespace
}  // namespace ostrelin::test
