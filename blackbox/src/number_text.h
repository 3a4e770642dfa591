// Number formatting for the text exports: into a caller's buffer, no
// locale, no allocation. Hex comes from <gcuproto/codec/hex.h>.
#ifndef GCUPROTO_BLACKBOX_NUMBER_TEXT_H
#define GCUPROTO_BLACKBOX_NUMBER_TEXT_H

#include <gcuproto/codec/hex.h>

#include <charconv>
#include <cstdint>
#include <cstring>
#include <string_view>

namespace gcuproto {
namespace blackbox {

// Longest decimal text of a 32-bit number: "-2147483648", "4294967295".
constexpr std::size_t kMaxDecimal32 = 11;

// The decimal text of 0..9999, left-aligned in four bytes, and its length:
// samples are mostly small, and one table look-up beats digit loops.
struct SmallDecimals {
  char text[10000][4] = {};
  std::uint8_t size[10000] = {};

  constexpr SmallDecimals() {
    for (int value = 0; value < 10000; ++value) {
      char digits[4] = {};
      int n = 0;
      int rest = value;
      do {
        digits[n++] = static_cast<char>('0' + rest % 10);
        rest /= 10;
      } while (rest > 0);
      for (int i = 0; i < n; ++i) text[value][i] = digits[n - 1 - i];
      size[value] = static_cast<std::uint8_t>(n);
    }
  }
};
inline constexpr SmallDecimals kSmallDecimals{};

// Writes `value`; the caller provides kMaxDecimal32 bytes of room.
inline char* PutDecimal(char* p, std::uint32_t value) {
  if (value < 10000) {
    std::memcpy(p, kSmallDecimals.text[value], 4);
    return p + kSmallDecimals.size[value];
  }
  return std::to_chars(p, p + kMaxDecimal32, value).ptr;
}

inline char* PutDecimal(char* p, std::int32_t value) {
  // Without a branch on the sign, which samples flip at random.
  const std::uint32_t negative = static_cast<std::uint32_t>(value) >> 31;
  *p = '-';
  p += negative;
  return PutDecimal(p, (static_cast<std::uint32_t>(value) ^ (0u - negative)) + negative);
}

inline char* PutText(char* p, std::string_view text) {
  std::memcpy(p, text.data(), text.size());
  return p + text.size();
}

// `value` as exactly `width` decimal digits, zero-padded; the caller makes
// sure it fits.
inline char* PutPadded(char* p, std::uint64_t value, int width) {
  for (int i = width - 1; i >= 0; --i) {
    p[i] = static_cast<char>('0' + value % 10);
    value /= 10;
  }
  return p + width;
}

}  // namespace blackbox
}  // namespace gcuproto

#endif  // GCUPROTO_BLACKBOX_NUMBER_TEXT_H
