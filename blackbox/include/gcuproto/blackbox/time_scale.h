// The length of a time-stamp tick in seconds, which only the unit knows.
#ifndef GCUPROTO_BLACKBOX_TIME_SCALE_H
#define GCUPROTO_BLACKBOX_TIME_SCALE_H

#include <gcuproto/blackbox/export.h>

#include <cstdint>
#include <string_view>

namespace gcuproto {
namespace blackbox {

// A number of seconds per time-stamp tick, held as an exact decimal so that
// every machine rounds a time the same way.
class GCUPROTO_BLACKBOX_EXPORT TimeScale {
 public:
  // 0.001 s: the unit counts milliseconds.
  TimeScale() = default;
  // Accepts a positive decimal such as "0.001", "1", "2.5e-4", from 1e-40 to
  // 1e40; false otherwise.
  static bool Parse(std::string_view text, TimeScale* scale);
  // `ticks` in whole microseconds, rounded half up.
  std::uint64_t Microseconds(std::uint32_t ticks) const;
  // The first tick at or after `seconds`, a non-negative decimal ("36000",
  // "1.5", "2e3"): a time stamp t is at or after the given time exactly when
  // t >= the result. Saturates at the largest 64-bit value; false when
  // `seconds` is no such number.
  bool FirstTickAtOrAfter(std::string_view seconds, std::uint64_t* tick) const;

  // The value is digits() * 10^exponent(), with digits() not divisible by 10.
  std::uint64_t digits() const { return digits_; }
  int exponent() const { return exponent_; }

 private:
  std::uint64_t digits_ = 1;
  int exponent_ = -3;
};

}  // namespace blackbox
}  // namespace gcuproto

#endif  // GCUPROTO_BLACKBOX_TIME_SCALE_H
