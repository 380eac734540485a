// Record buffers of the motion planners: allocated once per run of the vector pass through the
// platform's memory service, zero-filled, released when the run ends.
#pragma once

#include <cstddef>

#include "engine/error.h"
#include "platform/platform.h"

namespace ostrelin::vector {

// Records a planner holds before it must flush. The look-ahead window of the profile planner is
// this buffer, so its size and the flush points decide the speeds written: do not change it.
constexpr size_t kPlannerRecords = 5000;

// Room beyond kPlannerRecords for the records of the one point that may arrive while the buffer is
// almost full: the flush tests leave 10 (corner table) or 100 (profile) free slots, while one point
// within the far limit can make up to 13 corner records, or 85 profile records (an S-curve: twenty
// acceleration steps twice, and a middle of at most 45 pieces of 32767 hundredths or less).
constexpr size_t kPlannerSlack = 256;

// A zero-filled array of count T from the platform's memory; "Memory error" when none is left.
template <class T>
class PlannerArray {
 public:
  PlannerArray(Context& ctx, size_t count)
      : data_(static_cast<T*>(platform::memory().Allocate(count * sizeof(T), true))) {
    if (data_ == nullptr) Fail(ctx, ErrorKind::kMemory);
  }
  ~PlannerArray() { platform::memory().Free(data_); }
  PlannerArray(const PlannerArray&) = delete;
  PlannerArray& operator=(const PlannerArray&) = delete;
  T* get() const { return data_; }
  T& operator[](size_t i) const { return data_[i]; }

 private:
  T* data_;
};

// Largest coordinate (hundredths of a millimetre) a planner places: the largest plate the settings
// accept, 10 metres. Points beyond it are held at it, so that a move never makes more records than
// kPlannerSlack and never overflows the planners' integer arithmetic.
constexpr double kFarLimitHmm = 1000000.0;

}  // namespace ostrelin::vector
