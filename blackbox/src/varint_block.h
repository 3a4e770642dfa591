// Decoding of packed zigzag samples, the bulk of every logger line.
#ifndef GCUPROTO_BLACKBOX_VARINT_BLOCK_H
#define GCUPROTO_BLACKBOX_VARINT_BLOCK_H

#include <gcuproto/codec/wire.h>

#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace gcuproto {
namespace blackbox {

using wire::ReadLength;
using wire::ReadVarint;
using wire::ReadVarint32;
using wire::ZigZag32;

// What a block decoder stores for the varint value n: the sample itself, or
// n unchanged (zigzag-encoded) for callers that look the text up by it.
enum class Samples { kDecoded, kZigZag };

template <Samples kForm>
inline std::uint32_t Store(std::uint32_t n) {
  return kForm == Samples::kDecoded ? static_cast<std::uint32_t>(ZigZag32(n)) : n;
}

// One varint of up to ten bytes, cut to 32 bits as the runtime does; null
// when it runs past `end` or is longer.
template <Samples kForm>
inline const std::uint8_t* DecodeOne(const std::uint8_t* p, const std::uint8_t* end,
                                     std::uint32_t* out) {
  const std::uint32_t n = p[0];
  if (n < 0x80) {
    *out = Store<kForm>(n);
    return p + 1;
  }
  if (end - p >= 2 && p[1] < 0x80) {
    *out = Store<kForm>((n & 0x7F) | (static_cast<std::uint32_t>(p[1]) << 7));
    return p + 2;
  }
  std::uint32_t value = 0;
  p = ReadVarint32(p, end, &value);
  if (p != nullptr) *out = Store<kForm>(value);
  return p;
}

#if defined(__SSE2__)
// Eight 16-bit varint values (below 2^14) widened to 32 bits, decoded or not.
template <Samples kForm>
inline void Store8(__m128i n, std::uint32_t* out) {
  if (kForm == Samples::kDecoded) {
    const __m128i odd = _mm_sub_epi16(_mm_setzero_si128(), _mm_and_si128(n, _mm_set1_epi16(1)));
    const __m128i value = _mm_xor_si128(_mm_srli_epi16(n, 1), odd);  // fits 16 bits signed
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out),
                     _mm_srai_epi32(_mm_unpacklo_epi16(value, value), 16));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 4),
                     _mm_srai_epi32(_mm_unpackhi_epi16(value, value), 16));
  } else {
    const __m128i zero = _mm_setzero_si128();
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_unpacklo_epi16(n, zero));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 4), _mm_unpackhi_epi16(n, zero));
  }
}
#endif

// Decodes the packed block [p, end) into `out`, which has room for one sample
// per byte. Returns the end of the samples written, or null when a varint is
// malformed. Sixteen bytes, then eight, that hold only one-byte or only
// two-byte varints (samples below 64, or below 8192, in magnitude: what a
// unit's sensors give) are decoded together.
template <Samples kForm>
inline std::uint32_t* DecodeBlock(const std::uint8_t* p, const std::uint8_t* end,
                                  std::uint32_t* out) {
#if defined(__SSE2__)
  while (end - p >= 16) {
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const int continued = _mm_movemask_epi8(bytes);
    if (continued == 0x5555) {
      const __m128i low = _mm_and_si128(bytes, _mm_set1_epi16(0x007F));
      const __m128i high = _mm_and_si128(_mm_srli_epi16(bytes, 1), _mm_set1_epi16(0x3F80));
      Store8<kForm>(_mm_or_si128(low, high), out);
      out += 8;
      p += 16;
    } else if (continued == 0) {
      const __m128i zero = _mm_setzero_si128();
      Store8<kForm>(_mm_unpacklo_epi8(bytes, zero), out);
      Store8<kForm>(_mm_unpackhi_epi8(bytes, zero), out + 8);
      out += 16;
      p += 16;
    } else {
      p = DecodeOne<kForm>(p, end, out++);
      if (p == nullptr) return nullptr;
    }
  }
#endif
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
  while (end - p >= 8) {
    std::uint64_t word;
    std::memcpy(&word, p, 8);
    const std::uint64_t continued = word & 0x8080808080808080ull;
    if (continued == 0) {
      for (int i = 0; i < 8; ++i)
        out[i] = Store<kForm>(static_cast<std::uint32_t>(word >> (8 * i)) & 0x7F);
      out += 8;
      p += 8;
    } else if (continued == 0x0080008000800080ull) {
      for (int i = 0; i < 4; ++i) {
        const auto pair = static_cast<std::uint32_t>(word >> (16 * i));
        out[i] = Store<kForm>((pair & 0x7F) | ((pair >> 1) & 0x3F80));
      }
      out += 4;
      p += 8;
    } else {
      p = DecodeOne<kForm>(p, end, out++);
      if (p == nullptr) return nullptr;
    }
  }
#endif
  while (p < end) {
    p = DecodeOne<kForm>(p, end, out++);
    if (p == nullptr) return nullptr;
  }
  return out;
}

}  // namespace blackbox
}  // namespace gcuproto

#endif  // GCUPROTO_BLACKBOX_VARINT_BLOCK_H
