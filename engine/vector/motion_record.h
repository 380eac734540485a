// The two motion records of the vector data blocks as the planners hold them in memory, and the
// triangular-peak rule shared by the look-ahead flush and the time estimate.
#pragma once

#include <cmath>
#include <cstdint>

namespace ostrelin::vector {

// 8-byte record of the corner-table planner. In memory the two code bytes sit in the opposite order
// to the stream: the 16-bit writer swaps them into limit code (offset 0), end code (offset 1).
struct CornerRecord {
  uint8_t cornerByte;  // while building: 255 piece of a longer move, else 0; written: end code
  uint8_t limitByte;   // written: limit code, 0 or a speed code capping the speed inside the record
  int16_t dx;          // motor steps
  int16_t dy;          // motor steps
  int16_t length;      // motor steps, 0 to 32767
};
static_assert(sizeof(CornerRecord) == 8);

// 12-byte record of the profile planner, written as six big-endian 16-bit words.
struct ProfileRecord {
  int16_t startSpeed;  // mm/s
  int16_t endSpeed;    // mm/s; while building: -1 more records of the same move follow, 0 the last
  int16_t peakSpeed;   // mm/s
  int16_t accel;       // mm/s^2
  int16_t dx;          // hundredths of a millimetre
  int16_t dy;          // hundredths of a millimetre
};
static_assert(sizeof(ProfileRecord) == 12);

// Length (mm) of a profiled record's own displacement.
inline double RecordLengthMm(const ProfileRecord& r) {
  return std::sqrt(static_cast<double>(r.dx) * r.dx + static_cast<double>(r.dy) * r.dy) / 100.0;
}

/* Peak speed (mm/s) of a record of lengthMm from vs to ve at accel (mm/s^2) with the planned peak p:
 * when the record is too short to reach p and come back down, the peak of the triangular profile
 * plus one, else p. Evaluated in double precision: accel 0 makes both ramp distances infinite.
 * The speeds and the acceleration are whole numbers of 16 bits (record fields), so the squares, their
 * differences n1 = p^2 - vs^2 and n2 = p^2 - ve^2 and d = 2 accel are exact. With n1, n2 >= 0 and d > 0 the
 * ramp sum as rounded is at most (n1 + n2) / d (1 + u)^2 (u = 2^-53), and lengthMm d at least its rounded
 * product / (1 + u); so a product of at least (n1 + n2) (1 + 2^-50), itself rounded down by at most
 * u, proves the record long enough, and the two divisions are left out. */
inline double PeakSpeed(double vs, double ve, double p, double accel, double lengthMm) {
  const double d = 2.0 * accel;
  const double n1 = p * p - vs * vs;
  const double n2 = p * p - ve * ve;
  if (d > 0.0 && n1 >= 0.0 && n2 >= 0.0 && lengthMm * d >= (n1 + n2) * (1.0 + 0x1p-50)) return p;
  const double rampUp = n1 / d;
  const double rampDown = n2 / d;
  if (lengthMm < rampUp + rampDown) {
    return std::trunc(std::sqrt((2.0 * accel * lengthMm + vs * vs + ve * ve) / 2.0)) + 1.0;
  }
  return p;
}

// A double as a 16-bit record field: truncated toward zero, saturated to the field's range, NaN 0.
inline int16_t TruncToInt16(double value) {
  if (!(value == value)) return 0;
  if (value >= 32767.0) return 32767;
  if (value <= -32768.0) return -32768;
  return static_cast<int16_t>(value);
}

}  // namespace ostrelin::vector
