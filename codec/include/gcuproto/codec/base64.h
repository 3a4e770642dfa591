// Base64 text of bytes, for the tool's --in base64 and --out base64. The
// protobuf runtime keeps its base64 codec in internal headers, and its
// decoder reports no position.
#ifndef GCUPROTO_CODEC_BASE64_H
#define GCUPROTO_CODEC_BASE64_H

#include <cstddef>
#include <string>
#include <string_view>

namespace gcuproto {
namespace codec {

// The standard alphabet with padding, on one line.
inline std::string EncodeBase64(std::string_view bytes) {
  static constexpr char kAlphabet[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string text;
  for (std::size_t i = 0; i < bytes.size(); i += 3) {
    const std::size_t n = bytes.size() - i < 3 ? bytes.size() - i : 3;
    unsigned group = 0;
    for (std::size_t k = 0; k < 3; ++k) {
      group = (group << 8) | (k < n ? static_cast<unsigned char>(bytes[i + k]) : 0u);
    }
    for (std::size_t k = 0; k < 4; ++k)
      text += k <= n ? kAlphabet[(group >> (18 - 6 * k)) & 0x3F] : '=';
  }
  return text;
}

// A symbol of the standard or the URL-safe alphabet, or -1.
inline int Base64Value(char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+' || c == '-') return 62;
  if (c == '/' || c == '_') return 63;
  return -1;
}

struct Base64Error {
  enum Kind { kNotBase64, kAfterPadding, kPartialByte };
  Kind kind = kNotBase64;
  std::size_t at = 0;  // the character at fault; kPartialByte: the end
};

// Appends the bytes of `text`, in either alphabet; whitespace is ignored,
// padding optional but only at the end. False at the first fault.
inline bool DecodeBase64(std::string_view text, std::string* bytes, Base64Error* error) {
  unsigned bits = 0;
  int bit_count = 0;
  std::size_t symbols = 0;
  bool padded = false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == ' ' || c == '\t' || c == '\r' || c == '\n') continue;
    if (c == '=') {
      padded = true;
      continue;
    }
    const int value = Base64Value(c);
    if (value < 0 || padded) {
      *error = {value < 0 ? Base64Error::kNotBase64 : Base64Error::kAfterPadding, i};
      return false;
    }
    ++symbols;
    bits = (bits << 6) | static_cast<unsigned>(value);
    bit_count += 6;
    if (bit_count >= 8) {
      bit_count -= 8;
      bytes->push_back(static_cast<char>((bits >> bit_count) & 0xFF));
    }
  }
  if (symbols % 4 == 1) {
    *error = {Base64Error::kPartialByte, text.size()};
    return false;
  }
  return true;
}

}  // namespace codec
}  // namespace gcuproto

#endif  // GCUPROTO_CODEC_BASE64_H
