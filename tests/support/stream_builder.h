// A machine job stream written record by record, for tests of the programs that read streams: the job
// header with the fields those readers take, command records, row records and motion records, all
// big-endian as the engraver reads them.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace ostrelin::test {

// The job header fields the readers use; the rest of the header is zero.
struct HeaderFields {
  int32_t model = 260;
  int32_t widthHmm = 60000;
  int32_t heightHmm = 30000;
  int32_t resX = 500;
  int32_t resY = 500;
  int32_t class0Power = 50;
  int32_t selector = 0;
  int32_t controller = 0;
  bool bottomUp = false;
};

class StreamBuilder {
 public:
  StreamBuilder& Header(const HeaderFields& f) {
    bytes_ += "!LA 192;";
    bytes_ += std::string(16, 'I');
    int32_t words[44] = {};
    auto set = [&](size_t offset, int32_t value) { words[(offset - 16) / 4] = value; };
    set(28, f.model);
    set(40, f.resX);
    set(44, f.resY);
    set(48, f.class0Power);
    set(56, f.widthHmm);
    set(60, f.heightHmm);
    set(100, f.selector);
    set(112, f.controller);
    set(124, f.bottomUp ? 1 : 0);
    for (int32_t w : words) Be32(w);
    return *this;
  }
  StreamBuilder& Rec(const char* code, int32_t value) {
    Be16(0xFFFD);
    bytes_ += code[0];
    bytes_ += code[1];
    Be16(static_cast<uint16_t>(value));
    return *this;
  }
  StreamBuilder& Rec32(const char* code, int32_t value) {
    Rec(code, static_cast<int32_t>(static_cast<uint32_t>(value) >> 16));
    return Rec(code, value & 0xFFFF);
  }
  // A row record with its data already coded.
  StreamBuilder& RowCoded(const char* code, const std::vector<uint8_t>& coded) {
    Rec(code, static_cast<int32_t>(coded.size() / 2));
    bytes_.append(coded.begin(), coded.end());
    return *this;
  }
  // A row record whose data is coded as literals of at most 128 bytes, padded to an even length.
  StreamBuilder& Row(const char* code, const std::vector<uint8_t>& data) {
    std::vector<uint8_t> coded;
    for (size_t i = 0; i < data.size(); i += 128) {
      const size_t n = std::min<size_t>(128, data.size() - i);
      coded.push_back(static_cast<uint8_t>(n - 1));
      coded.insert(coded.end(), data.begin() + static_cast<std::ptrdiff_t>(i),
                   data.begin() + static_cast<std::ptrdiff_t>(i + n));
    }
    if (coded.size() % 2 != 0) coded.push_back(0x80);
    return RowCoded(code, coded);
  }
  // A motion record of the corner-table controller (8 bytes: code word, dx, dy, length).
  StreamBuilder& Motion8(int16_t dx, int16_t dy) {
    bytes_ += '\x00';
    bytes_ += '\x00';
    Be16(static_cast<uint16_t>(dx));
    Be16(static_cast<uint16_t>(dy));
    Be16(static_cast<uint16_t>(std::lround(std::hypot(dx, dy))));
    return *this;
  }
  // A motion record of the profiling controller (12 bytes: speeds, acceleration, dx, dy).
  StreamBuilder& Motion12(int16_t dx, int16_t dy) {
    for (int16_t v : {int16_t{3}, int16_t{3}, int16_t{50}, int16_t{400}, dx, dy})
      Be16(static_cast<uint16_t>(v));
    return *this;
  }
  StreamBuilder& Raw(const std::string& bytes) {
    bytes_ += bytes;
    return *this;
  }
  std::string str() const { return bytes_; }

 private:
  void Be16(uint16_t v) {
    bytes_ += static_cast<char>(v >> 8);
    bytes_ += static_cast<char>(v & 0xFF);
  }
  void Be32(int32_t v) {
    Be16(static_cast<uint16_t>(static_cast<uint32_t>(v) >> 16));
    Be16(static_cast<uint16_t>(v & 0xFFFF));
  }
  std::string bytes_;
};

}  // namespace ostrelin::test
