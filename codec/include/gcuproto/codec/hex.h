// Hex text of bytes: the tool's --in hex and --out hex, the CAN data of the
// blackbox exports, wire bytes in test failures. The protobuf runtime has no
// public hex codec, and none that reads the separators of pasted dumps or
// says where a dump goes wrong.
#ifndef GCUPROTO_CODEC_HEX_H
#define GCUPROTO_CODEC_HEX_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace gcuproto {
namespace codec {

enum class HexCase { kLower, kUpper };

inline const char* HexDigits(HexCase letters) {
  return letters == HexCase::kUpper ? "0123456789ABCDEF" : "0123456789abcdef";
}

// Two digits a byte, nothing between them; the caller provides the room.
inline char* PutHexBytes(char* p, std::string_view bytes, HexCase letters) {
  const char* const digits = HexDigits(letters);
  for (const char c : bytes) {
    const auto byte = static_cast<unsigned char>(c);
    *p++ = digits[byte >> 4];
    *p++ = digits[byte & 0xF];
  }
  return p;
}

// `digits` upper-case digits of `value`, zero-padded; the caller makes sure
// it fits.
inline char* PutHexNumber(char* p, std::uint32_t value, int digits) {
  const char* const table = HexDigits(HexCase::kUpper);
  for (int i = digits - 1; i >= 0; --i) {
    p[i] = table[value & 0xF];
    value >>= 4;
  }
  return p + digits;
}

// `separator` between bytes ('\0': none). With `line_bytes`, that many bytes
// to a line, and every line ends in a newline.
inline std::string EncodeHex(std::string_view bytes, HexCase letters, char separator = '\0',
                             std::size_t line_bytes = 0) {
  std::string text;
  char pair[2];
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    PutHexBytes(pair, bytes.substr(i, 1), letters);
    text.append(pair, 2);
    const bool last = i + 1 == bytes.size();
    if (line_bytes != 0 && (last || (i + 1) % line_bytes == 0)) {
      text += '\n';
    } else if (separator != '\0' && !last) {
      text += separator;
    }
  }
  return text;
}

inline int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// What separates the bytes of hex as people paste it from logs and code.
inline bool IsHexSeparator(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == ',' || c == ':';
}

struct HexError {
  enum Kind { kNotADigit, kNoDigitsAfterPrefix, kOddDigits };
  Kind kind = kNotADigit;
  std::size_t at = 0;      // the character at fault, or the start of its token
  std::size_t digits = 0;  // kOddDigits: how many the token has
};

// Appends the bytes of `text`: tokens between separators, each an optional
// 0x prefix and an even number of digits ("0x8", one digit after 0x, is also
// a byte). False at the first token that is not, with `error` saying why.
inline bool DecodeHex(std::string_view text, std::string* bytes, HexError* error) {
  std::size_t i = 0;
  while (i < text.size()) {
    if (IsHexSeparator(text[i])) {
      ++i;
      continue;
    }
    const std::size_t start = i;
    while (i < text.size() && !IsHexSeparator(text[i])) ++i;
    const std::string_view token = text.substr(start, i - start);
    const bool prefixed =
        token.size() >= 2 && token[0] == '0' && (token[1] == 'x' || token[1] == 'X');
    const std::string_view digits = prefixed ? token.substr(2) : token;
    const std::size_t digits_at = start + (prefixed ? 2 : 0);
    for (std::size_t k = 0; k < digits.size(); ++k) {
      if (HexValue(digits[k]) < 0) {
        *error = {HexError::kNotADigit, digits_at + k, 0};
        return false;
      }
    }
    if (digits.empty()) {
      *error = {HexError::kNoDigitsAfterPrefix, start, 0};
      return false;
    }
    if (digits.size() == 1 && prefixed) {
      bytes->push_back(static_cast<char>(HexValue(digits[0])));
      continue;
    }
    if (digits.size() % 2 != 0) {
      *error = {HexError::kOddDigits, start, digits.size()};
      return false;
    }
    for (std::size_t k = 0; k < digits.size(); k += 2) {
      bytes->push_back(static_cast<char>(HexValue(digits[k]) * 16 + HexValue(digits[k + 1])));
    }
  }
  return true;
}

}  // namespace codec
}  // namespace gcuproto

#endif  // GCUPROTO_CODEC_HEX_H
