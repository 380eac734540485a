// Constant tables chosen by the settings loader: corner tables, vector parameter sets, source ratings.
#include "engine/settings_tables.h"

#include <array>

namespace ostrelin {
namespace {

// A corner table: entry 0, then the listed entries, then `rest` up to entry 25; every second word is
// `spare`. The vector parameters behind it: pen-down minimum and both pen-up accelerations `spare`,
// pen-down acceleration p, pen-up maximum q.
constexpr OstrelinCornerTable MakeCornerTable(std::initializer_list<int16_t> leading, int16_t rest,
                                              int16_t spare, int16_t p, int16_t q) {
  OstrelinCornerTable table{};
  int index = 0;
  for (int16_t speed : leading) table.corner[index++][0] = speed;
  for (; index < 26; ++index) table.corner[index][0] = rest;
  for (auto& entry : table.corner) entry[1] = spare;
  table.params.penDownMinSpeed = spare;
  table.params.penUpAccelLong = spare;
  table.params.penUpAccelShort = spare;
  table.params.penDownAccel = p;
  table.params.penUpMaxSpeed = q;
  return table;
}

constexpr OstrelinCornerTable MakeStd() {
  OstrelinCornerTable table = MakeCornerTable({500, 40, 20}, 15, 2400, 500, 200);
  for (int i = 16; i < 26; ++i) table.corner[i][0] = 10;
  return table;
}

constexpr OstrelinVectorParams MakeParams(int16_t accelLong, int16_t accelShort, int16_t accelDown,
                                          int16_t maxUp, int16_t maxDown) {
  OstrelinVectorParams params{};
  params.penUpMinSpeed = 3;
  params.penDownMinSpeed = 3;
  params.penUpAccelLong = accelLong;
  params.penUpAccelShort = accelShort;
  params.penDownAccel = accelDown;
  params.penUpMaxSpeed = maxUp;
  params.penDownMaxSpeed = maxDown;
  params.cornerToleranceBase = 0.01f;
  params.cornerToleranceAtMax = 0.01f;
  params.prePassCount = 3;
  params.prePassWidthMm = 0.005f;
  return params;
}

constexpr std::array<std::array<int32_t, 19>, 2> kRatings = {{
    {10, 20, 40, 60, 25, 30, 80, 55, 35, 70, 12, 20, 30, 100, 120, 150, 50, 30, 50},
    {10, 20, 40, 60, 25, 30, 80, 55, 35, 70, 12, 30, 30, 100, 120, 150, 30, 30, 30},
}};
constexpr int32_t kOtherRating = 30;

}  // namespace

const OstrelinCornerTable AngleLsStd = MakeStd();
const OstrelinCornerTable AngleLsFast = MakeCornerTable({500, 200, 100, 50}, 25, 2400, 500, 300);
const OstrelinCornerTable AngleLsTc = MakeCornerTable({500, 40, 20}, 10, 1000, 500, 200);
const OstrelinCornerTable AngleLsXp = MakeCornerTable({500, 40, 20}, 15, 2400, 500, 200);
const OstrelinCornerTable AngleLsXpFast = MakeCornerTable({750, 500, 400, 300, 200, 100}, 50, 2400, 750, 750);

const OstrelinVectorParams ParamVitVectStd = MakeParams(1000, 400, 400, 500, 200);
const OstrelinVectorParams ParamVitVectFast = MakeParams(1500, 1000, 1000, 500, 300);
const OstrelinVectorParams ParamVitVectTc = MakeParams(400, 400, 400, 40, 40);
const OstrelinVectorParams ParamVitVectXpFast = MakeParams(2000, 1500, 1500, 750, 300);

int32_t SourceRating(int row, uint16_t code) {
  return code < kRatings[row].size() ? kRatings[row][code] : kOtherRating;
}

bool IsXpModel(uint16_t model) { return model == 267 || model == 268; }

bool IsFastModel(uint16_t model) {
  switch (model) {
    case 265: case 266: case 270: case 271: case 272: case 274: case 275: case 277: case 278:
    case 279: case 280:
      return true;
    default:
      return false;
  }
}

}  // namespace ostrelin
