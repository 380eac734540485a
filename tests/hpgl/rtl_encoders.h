// Encoders of raster transfer data for the tests, written from the format alone: run-length pairs,
// PackBits and delta rows, each turning a row (and, for delta rows, the seed row before it) into the
// data bytes of one transfer.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace ostrelin::test {

// Pairs of (repeat - 1, value), runs of at most 256.
inline std::vector<uint8_t> EncodeRunLength(const std::vector<uint8_t>& row) {
  std::vector<uint8_t> out;
  for (size_t i = 0; i < row.size();) {
    size_t run = 1;
    while (i + run < row.size() && run < 256 && row[i + run] == row[i]) ++run;
    out.push_back(static_cast<uint8_t>(run - 1));
    out.push_back(row[i]);
    i += run;
  }
  return out;
}

// Runs of 2 to 128 equal bytes as (1 - run, value); literals of up to 128 bytes as (length - 1, bytes).
inline std::vector<uint8_t> EncodePackBits(const std::vector<uint8_t>& row) {
  std::vector<uint8_t> out;
  size_t i = 0;
  while (i < row.size()) {
    size_t run = 1;
    while (i + run < row.size() && run < 128 && row[i + run] == row[i]) ++run;
    if (run >= 2) {
      out.push_back(static_cast<uint8_t>(static_cast<int8_t>(1 - static_cast<int>(run))));
      out.push_back(row[i]);
      i += run;
      continue;
    }
    size_t literal = 1;
    while (i + literal < row.size() && literal < 128 &&
           !(i + literal + 1 < row.size() && row[i + literal] == row[i + literal + 1]))
      ++literal;
    out.push_back(static_cast<uint8_t>(literal - 1));
    out.insert(out.end(), row.begin() + static_cast<ptrdiff_t>(i),
               row.begin() + static_cast<ptrdiff_t>(i + literal));
    i += literal;
  }
  return out;
}

// The bytes that differ from the seed, as replacements of up to 8 bytes at offsets counted from the
// end of the replacement before; an offset of 31 or more continues in bytes of 255 and a last one.
inline std::vector<uint8_t> EncodeDelta(const std::vector<uint8_t>& row, const std::vector<uint8_t>& seed) {
  std::vector<uint8_t> out;
  size_t last = 0;  // end of the last replacement
  size_t i = 0;
  while (i < row.size()) {
    const uint8_t before = i < seed.size() ? seed[i] : 0;
    if (row[i] == before) {
      ++i;
      continue;
    }
    size_t count = 1;
    while (count < 8 && i + count < row.size()) ++count;  // replace up to 8 bytes from here
    const size_t offset = i - last;
    const size_t small = std::min<size_t>(offset, 31);
    out.push_back(static_cast<uint8_t>(((count - 1) << 5) | small));
    if (small == 31) {
      size_t rest = offset - 31;
      while (rest >= 255) {
        out.push_back(255);
        rest -= 255;
      }
      out.push_back(static_cast<uint8_t>(rest));
    }
    out.insert(out.end(), row.begin() + static_cast<ptrdiff_t>(i),
               row.begin() + static_cast<ptrdiff_t>(i + count));
    i += count;
    last = i;
  }
  return out;
}

// One row in methods 0 to 3.
inline std::vector<uint8_t> EncodeRow(int method, const std::vector<uint8_t>& row,
                                      const std::vector<uint8_t>& seed) {
  switch (method) {
    case 0:
      return row;
    case 1:
      return EncodeRunLength(row);
    case 2:
      return EncodePackBits(row);
    default:
      return EncodeDelta(row, seed);
  }
}

inline std::vector<uint8_t> BigEndian32(uint32_t v) {
  return {static_cast<uint8_t>(v >> 24), static_cast<uint8_t>(v >> 16), static_cast<uint8_t>(v >> 8),
          static_cast<uint8_t>(v)};
}

}  // namespace ostrelin::test
