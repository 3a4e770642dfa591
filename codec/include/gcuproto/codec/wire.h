// Varints of the protobuf wire format where the runtime's coded streams do
// not serve: read straight from a buffer on the blackbox's hot paths and in
// the tool's error reports (which need the byte at fault), written where
// records are framed by hand.
#ifndef GCUPROTO_CODEC_WIRE_H
#define GCUPROTO_CODEC_WIRE_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace gcuproto {
namespace wire {

// The readers take what the runtime's parser takes and no more: a varint
// longer than its kind allows, or one that runs past `end`, is malformed,
// and they return null; otherwise the byte after it.

// How many bytes a kind of varint may take, and the largest value its last
// possible byte may have.
struct VarintLimit {
  int max_bytes;
  std::uint8_t last_byte_max;
};
// A field's value: ten bytes, the bits past the 64th dropped.
inline constexpr VarintLimit kValueLimit{10, 0x7F};
// A field key: five bytes, of which the low 32 bits count.
inline constexpr VarintLimit kKeyLimit{5, 0x7F};
// A length: five bytes, and below 2^31.
inline constexpr VarintLimit kLengthLimit{5, 0x07};

inline constexpr int kMaxVarintBytes = 10;

inline const std::uint8_t* ReadVarint(const std::uint8_t* p, const std::uint8_t* end,
                                      VarintLimit limit, std::uint64_t* value) {
  std::uint64_t result = 0;
  for (int i = 0; i < limit.max_bytes; ++i) {
    if (p == end) return nullptr;
    const std::uint8_t byte = *p++;
    if (i == limit.max_bytes - 1 && byte > limit.last_byte_max) return nullptr;
    result |= static_cast<std::uint64_t>(byte & 0x7F) << (7 * i);
    if (byte < 0x80) {
      *value = result;
      return p;
    }
  }
  return nullptr;
}

// A field's value; most take one byte.
inline const std::uint8_t* ReadVarint(const std::uint8_t* p, const std::uint8_t* end,
                                      std::uint64_t* value) {
  if (p < end && *p < 0x80) {
    *value = *p;
    return p + 1;
  }
  return ReadVarint(p, end, kValueLimit, value);
}

// A 32-bit field's value: the low 32 bits of up to ten bytes.
inline const std::uint8_t* ReadVarint32(const std::uint8_t* p, const std::uint8_t* end,
                                        std::uint32_t* value) {
  std::uint64_t wide = 0;
  p = ReadVarint(p, end, &wide);
  if (p != nullptr) *value = static_cast<std::uint32_t>(wide);
  return p;
}

inline const std::uint8_t* ReadKey(const std::uint8_t* p, const std::uint8_t* end,
                                   std::uint32_t* key) {
  std::uint64_t wide = 0;
  p = ReadVarint(p, end, kKeyLimit, &wide);
  if (p != nullptr) *key = static_cast<std::uint32_t>(wide);
  return p;
}

inline const std::uint8_t* ReadLength(const std::uint8_t* p, const std::uint8_t* end,
                                      std::uint32_t* length) {
  std::uint64_t wide = 0;
  p = ReadVarint(p, end, kLengthLimit, &wide);
  if (p != nullptr) *length = static_cast<std::uint32_t>(wide);
  return p;
}

constexpr std::uint32_t MakeKey(std::uint32_t number, std::uint32_t wire_type) {
  return number << 3 | wire_type;
}

inline std::int32_t ZigZag32(std::uint32_t n) {
  return static_cast<std::int32_t>((n >> 1) ^ (0u - (n & 1)));
}

constexpr std::size_t VarintSize(std::uint64_t value) {
  std::size_t size = 1;
  for (; value >= 0x80; value >>= 7) ++size;
  return size;
}

// Writes the varint of `value` at `p`, which has room for kMaxVarintBytes;
// returns the byte after it.
inline char* PutVarint(char* p, std::uint64_t value) {
  for (; value >= 0x80; value >>= 7) *p++ = static_cast<char>((value & 0x7F) | 0x80);
  *p++ = static_cast<char>(value);
  return p;
}

inline void AppendVarint(std::string* out, std::uint64_t value) {
  char bytes[kMaxVarintBytes];
  out->append(bytes, static_cast<std::size_t>(PutVarint(bytes, value) - bytes));
}

inline std::string Varint(std::uint64_t value) {
  std::string out;
  AppendVarint(&out, value);
  return out;
}

// A length-delimited field: the key, the payload's length and the payload,
// as blackbox files hold their lines.
inline void AppendDelimited(std::string* out, std::uint32_t key, std::string_view payload) {
  AppendVarint(out, key);
  AppendVarint(out, payload.size());
  out->append(payload.data(), payload.size());
}

}  // namespace wire
}  // namespace gcuproto

#endif  // GCUPROTO_CODEC_WIRE_H
