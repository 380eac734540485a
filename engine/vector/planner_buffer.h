// Record buffers of the motion planners: allocated once per run of the vector pass through the
// platform's memory service, zero-filled, released when the run ends; and their dot conversion tables.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <memory>
#include <new>

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

/* Conversions of whole dots to the planner's unit, each computed once per run: entry d keeps the
 * result for d dots, for d from 0 to the plate's larger extent in dots (points are placed on the
 * plate, so nearly all of them fall inside); other values are converted every time. The entries are
 * the very values of the conversion, so the results are the same bits either way. Nothing is
 * allocated when the plot command file is not in dots. The table only saves time: without memory
 * for it every value is converted each time, and the job does not fail for it. */
class DotsMemo {
 public:
  DotsMemo(const Context& ctx, bool used) {
    if (!used) return;
    const int64_t extent = std::max<int64_t>(ctx.plateExtentWidth, ctx.plateExtentHeight);
    if (extent < 0) return;
    const auto count = static_cast<uint32_t>(std::min<int64_t>(extent + 1, kMaxEntries));
    table_.reset(new (std::nothrow) int32_t[count]);
    if (table_ == nullptr) return;
    count_ = count;
    std::fill(table_.get(), table_.get() + count_, kUnknown);
  }

  // convert(dots), from the table when it holds it.
  template <class Convert>
  int32_t Get(int32_t dots, Convert convert) {
    if (static_cast<uint32_t>(dots) >= count_) return convert(dots);
    int32_t& entry = table_[dots];
    if (entry == kUnknown) entry = convert(dots);
    return entry;
  }

 private:
  // Marks an entry not computed yet (a result equal to it is simply computed again each time).
  static constexpr int32_t kUnknown = std::numeric_limits<int32_t>::min();
  // Largest table: 4 MiB, enough for the largest plate (10 m) at up to 2540 dots per inch.
  static constexpr int64_t kMaxEntries = int64_t{1} << 20;
  std::unique_ptr<int32_t[]> table_;
  uint32_t count_ = 0;
};

// Largest coordinate (hundredths of a millimetre) a planner places: the largest plate the settings
// accept, 10 metres. Points beyond it are held at it, so that a move never makes more records than
// kPlannerSlack and never overflows the planners' integer arithmetic.
constexpr double kFarLimitHmm = 1000000.0;

}  // namespace ostrelin::vector
