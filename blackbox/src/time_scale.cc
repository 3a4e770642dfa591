#include <gcuproto/blackbox/time_scale.h>

#include <limits>

namespace gcuproto {
namespace blackbox {
namespace {

__extension__ using Wide = unsigned __int128;

constexpr int kMaxExponent = 40;
constexpr Wide kWideMax = ~Wide{0};

// A non-negative decimal with an optional fraction and exponent, as
// digits * 10^exponent with the trailing zeros of digits moved to the exponent.
bool ParseDecimal(std::string_view text, std::uint64_t* digits_out, int* exponent_out) {
  std::uint64_t digits = 0;
  int exponent = 0;
  bool any_digit = false;
  bool fraction = false;
  std::size_t i = 0;
  for (; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '.' && !fraction) {
      fraction = true;
      continue;
    }
    if (c < '0' || c > '9') break;
    any_digit = true;
    if (digits == 0 && c == '0') {
      if (fraction) --exponent;
      continue;
    }
    if (digits > (std::numeric_limits<std::uint64_t>::max() - 9) / 10) return false;
    digits = digits * 10 + static_cast<std::uint64_t>(c - '0');
    if (fraction) --exponent;
  }
  if (!any_digit) return false;
  if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
    ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    int value = 0;
    const std::size_t first = i;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
      if (value > 1000) return false;
      value = value * 10 + (text[i] - '0');
    }
    if (i == first) return false;
    exponent += negative ? -value : value;
  }
  if (i != text.size()) return false;
  if (digits == 0) exponent = 0;
  while (digits != 0 && digits % 10 == 0) {
    digits /= 10;
    ++exponent;
  }
  *digits_out = digits;
  *exponent_out = exponent;
  return true;
}

// 10^n, or nothing when it does not fit.
bool PowerOfTen(int n, Wide* power) {
  Wide value = 1;
  for (int i = 0; i < n; ++i) {
    if (value > kWideMax / 10) return false;
    value *= 10;
  }
  *power = value;
  return true;
}

}  // namespace

bool TimeScale::Parse(std::string_view text, TimeScale* scale) {
  std::uint64_t digits;
  int exponent;
  if (!ParseDecimal(text, &digits, &exponent) || digits == 0) return false;
  if (exponent < -kMaxExponent || exponent > kMaxExponent) return false;
  scale->digits_ = digits;
  scale->exponent_ = exponent;
  return true;
}

std::uint64_t TimeScale::Microseconds(std::uint32_t ticks) const {
  Wide value = static_cast<Wide>(ticks) * digits_;  // below 2^96
  const int shift = exponent_ + 6;
  if (shift >= 0) {
    const Wide limit = std::numeric_limits<std::uint64_t>::max();
    for (int i = 0; i < shift && value != 0; ++i) {
      if (value > limit) break;
      value *= 10;
    }
    return value > limit ? std::numeric_limits<std::uint64_t>::max()
                         : static_cast<std::uint64_t>(value);
  }
  // 10^30 is more than twice any value: everything rounds to zero beyond.
  if (-shift > 30) return 0;
  Wide divisor = 1;
  for (int i = 0; i < -shift; ++i) divisor *= 10;
  return static_cast<std::uint64_t>((value + divisor / 2) / divisor);
}

bool TimeScale::FirstTickAtOrAfter(std::string_view seconds, std::uint64_t* tick) const {
  std::uint64_t digits;
  int exponent;
  if (!ParseDecimal(seconds, &digits, &exponent)) return false;
  constexpr std::uint64_t kMax = std::numeric_limits<std::uint64_t>::max();
  if (digits == 0) {
    *tick = 0;
    return true;
  }
  // ticks = ceil(digits * 10^exponent / (digits_ * 10^exponent_)).
  Wide numerator = digits;
  Wide denominator = digits_;
  const int shift = exponent - exponent_;
  Wide power;
  if (shift >= 0) {
    if (!PowerOfTen(shift, &power) || numerator > kWideMax / power) {
      *tick = kMax;
      return true;
    }
    numerator *= power;
  } else {
    if (!PowerOfTen(-shift, &power) || denominator > kWideMax / power) {
      *tick = 1;  // a positive time far below one tick
      return true;
    }
    denominator *= power;
  }
  const Wide ticks = numerator / denominator + (numerator % denominator != 0 ? 1 : 0);
  *tick = ticks > kMax ? kMax : static_cast<std::uint64_t>(ticks);
  return true;
}

}  // namespace blackbox
}  // namespace gcuproto
