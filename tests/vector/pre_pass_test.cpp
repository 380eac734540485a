// The pre-pass run step and the variant flush.
#include "engine/vector/pre_pass.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <optional>
#include <vector>

#include "engine/vector/look_ahead.h"
#include "engine/vector/profile_planner.h"
#include "vector/vector_test_support.h"

namespace ostrelin::vector {
namespace {

using test::PlannerRecords;

class RunStepTest : public ostrelin::test::ScratchDirTest {
 protected:
  void AppendRun(platform::Stream& runs, const std::vector<std::pair<float, float>>& points) {
    for (auto [x, y] : points) {
      uint8_t payload[8];
      std::memcpy(payload, &x, 4);
      std::memcpy(payload + 4, &y, 4);
      ASSERT_EQ(runs.Write(payload, 8), 8u);
    }
  }
  // Records appended to output since `from`, as (opcode, x, y).
  static std::vector<std::tuple<int, float, float>> Records(platform::Stream& output, int64_t from) {
    const int64_t end = output.Tell();
    output.Seek(from, platform::kSeekSet);
    std::vector<std::tuple<int, float, float>> out;
    for (int64_t at = from; at + 9 <= end; at += 9) {
      uint8_t r[9];
      output.Read(r, 9);
      float x;
      float y;
      std::memcpy(&x, r + 1, 4);
      std::memcpy(&y, r + 5, 4);
      out.emplace_back(r[0], x, y);
    }
    output.Seek(end, platform::kSeekSet);
    return out;
  }
};

TEST_F(RunStepTest, SmoothsWithinTheWidthAndReadsOnlyTheNewRun) {
  PlannerRecords r;
  platform::Stream* runs = OpenScratchStream(r.ctx);
  platform::Stream* output = OpenScratchStream(r.ctx);
  ASSERT_NE(runs, nullptr);
  ASSERT_NE(output, nullptr);
  RunCursor cursor;
  // A zig-zag of 1-unit steps along x: smoothing pulls the teeth toward the middle line.
  AppendRun(*runs, {{0, 0}, {10, 1}, {20, 0}, {30, 1}, {40, 0}});
  RunStep(r.ctx, *runs, cursor, 0.2, 3, *output);
  auto first = Records(*output, 0);
  ASSERT_EQ(first.size(), 5u);
  EXPECT_EQ(first.front(), std::make_tuple(2, 0.0f, 0.0f));  // ends stay
  EXPECT_EQ(first.back(), std::make_tuple(2, 40.0f, 0.0f));
  for (size_t i = 1; i < 4; ++i) {
    const float original = i % 2 == 1 ? 1.0f : 0.0f;
    const float y = std::get<2>(first[i]);
    EXPECT_LE(std::fabs(y - original), 3 * 0.2 + 1e-6) << i;  // at most count * width
    EXPECT_GT(std::fabs(y - original), 0.0f) << i;            // and it did move
    EXPECT_EQ(std::get<1>(first[i]), 10.0f * static_cast<float>(i));
  }
  // A second run: only its own points come out.
  const int64_t mark = output->Tell();
  AppendRun(*runs, {{5, 5}, {6, 6}});
  RunStep(r.ctx, *runs, cursor, 0.2, 3, *output);
  const auto second = Records(*output, mark);
  ASSERT_EQ(second.size(), 2u);
  EXPECT_EQ(second[0], std::make_tuple(2, 5.0f, 5.0f));
  EXPECT_EQ(second[1], std::make_tuple(2, 6.0f, 6.0f));
  platform::CloseStream(runs);
  platform::CloseStream(output);
}

class VariantFlush : public ostrelin::test::ScratchDirTest {
 protected:
  std::vector<ProfileRecord> Plan(bool penDown, const std::vector<std::pair<int, int>>& points) {
    OstrelinVectorParams params = r.job.cornerTable.params;
    params.variantFlag = 1;
    params.cornerToleranceBase = 0.01f;
    params.cornerToleranceAtMax = 0.05f;
    planner.emplace(r.ctx, r.job, params);
    StartProfile(*planner, 0, 0, 500, 500);
    for (auto [x, y] : points) {
      PlanProfilePoint(r.ctx, r.job, *planner, penDown, static_cast<float>(x / 2.5),
                       static_cast<float>(y / 2.5));
    }
    PlanSpeeds(*planner);
    return {planner->records.get(), planner->records.get() + planner->count};
  }
  PlannerRecords r;
  std::optional<ProfilePlanner> planner;
};

TEST_F(VariantFlush, StartsAndEndsAtZero) {
  const auto lone = Plan(true, {{1000, 0}});
  ASSERT_EQ(lone.size(), 1u);
  EXPECT_EQ(lone[0].startSpeed, 0);
  EXPECT_EQ(lone[0].endSpeed, 0);
  // A right angle: the junction speed comes from the corner tolerance, sqrt(2 * 0.01 * 0.01)
  // divided by the cosine, far below the maximum.
  const auto corner = Plan(true, {{5000, 0}, {5000, 5000}});
  ASSERT_EQ(corner.size(), 2u);
  EXPECT_EQ(corner[0].startSpeed, 0);
  EXPECT_LE(corner[0].endSpeed, 1);
  EXPECT_EQ(corner[1].endSpeed, 0);
  // The halves of a 400 mm pen-down move are one move: no junction slows the head between them.
  const auto halves = Plan(true, {{40000, 0}});
  ASSERT_EQ(halves.size(), 2u);
  EXPECT_EQ(halves[0].endSpeed, 200);
  EXPECT_EQ(halves[1].startSpeed, 200);
  EXPECT_EQ(halves[1].endSpeed, 0);
}

}  // namespace
}  // namespace ostrelin::vector
