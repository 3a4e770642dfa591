// What the CSV and JSON lines exports share: finding the sample blocks of a
// logger line in its encoding, and writing samples from a table.
#ifndef GCUPROTO_BLACKBOX_SAMPLE_TEXT_H
#define GCUPROTO_BLACKBOX_SAMPLE_TEXT_H

#include <gcuproto/blackbox/error.h>

#include <charconv>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "number_text.h"
#include "varint_block.h"

namespace gcuproto {
namespace blackbox {

// Where the four fields of a logger line sit in its encoding, for the
// encoding the unit writes: each field at most once, samples packed.
struct Layout {
  std::uint32_t seq_no = 0;
  std::uint32_t timestamp = 0;
  const std::uint8_t* input = nullptr;
  const std::uint8_t* input_end = nullptr;
  const std::uint8_t* output = nullptr;
  const std::uint8_t* output_end = nullptr;
};

// False for anything else (repeated or unpacked samples, unknown fields,
// malformed bytes): the general decoder then decides.
inline bool FindLayout(std::string_view encoded, Layout* layout) {
  const auto* p = reinterpret_cast<const std::uint8_t*>(encoded.data());
  const auto* end = p + encoded.size();
  while (p < end) {
    const std::uint8_t key = *p++;
    switch (key) {
      case 0x08:
        p = ReadVarint32(p, end, &layout->seq_no);
        break;
      case 0x18:
        p = ReadVarint32(p, end, &layout->timestamp);
        break;
      case 0x12:
      case 0x22: {
        const std::uint8_t** begin = key == 0x12 ? &layout->input : &layout->output;
        std::uint32_t size;
        if (*begin != nullptr || (p = ReadLength(p, end, &size)) == nullptr) return false;
        if (size > static_cast<std::size_t>(end - p)) return false;
        *begin = p;
        (key == 0x12 ? layout->input_end : layout->output_end) = p + size;
        p += size;
        break;
      }
      default:
        return false;
    }
    if (p == nullptr) return false;
  }
  return true;
}

// The zigzag-encoded samples of a layout, decoded into `samples`: inputs
// first, then outputs. False when a block is malformed.
inline bool DecodeLayout(const Layout& layout, std::vector<std::uint32_t>* samples,
                         std::size_t* inputs, std::size_t* outputs) {
  // Each sample takes at least one byte: the blocks' lengths bound the count.
  const auto input_room = static_cast<std::size_t>(layout.input_end - layout.input);
  const auto output_room = static_cast<std::size_t>(layout.output_end - layout.output);
  // One cell to spare keeps data() from being null, which DecodeBlock would
  // return for a line without samples and the caller would take as malformed.
  if (samples->size() <= input_room + output_room) samples->resize(input_room + output_room + 1);
  std::uint32_t* const in = samples->data();
  const std::uint32_t* const in_end =
      DecodeBlock<Samples::kZigZag>(layout.input, layout.input_end, in);
  if (in_end == nullptr) return false;
  std::uint32_t* const out = in + (in_end - in);
  const std::uint32_t* const out_end =
      DecodeBlock<Samples::kZigZag>(layout.output, layout.output_end, out);
  if (out_end == nullptr) return false;
  *inputs = static_cast<std::size_t>(in_end - in);
  *outputs = static_cast<std::size_t>(out_end - out);
  return true;
}

// ",sample" for the zigzag-encoded values below 2^14 (samples from -8192 to
// 8191), eight bytes each with the text's length last: one load and one store
// write a cell.
struct SmallCells {
  static constexpr std::uint32_t kCount = 1u << 14;
  struct Cell {
    char text[7];
    std::uint8_t size;
  };
  Cell cells[kCount];

  SmallCells() {
    for (std::uint32_t n = 0; n < kCount; ++n) {
      char* q = cells[n].text;
      *q++ = ',';
      q = std::to_chars(q, cells[n].text + sizeof cells[n].text, ZigZag32(n)).ptr;
      cells[n].size = static_cast<std::uint8_t>(q - cells[n].text);
    }
  }
};

inline const SmallCells& TheSmallCells() {
  static const SmallCells* const cells = new SmallCells;
  return *cells;
}

// Writes ",sample" for each of `count` zigzag-encoded samples; the caller
// provides kMaxDecimal32 + 1 bytes a sample, and 8 more.
inline char* PutSamples(char* q, const std::uint32_t* samples, std::size_t count,
                        const SmallCells& small) {
  for (std::size_t i = 0; i < count; ++i) {
    const std::uint32_t n = samples[i];
    if (n < SmallCells::kCount) {
      std::memcpy(q, &small.cells[n], sizeof(SmallCells::Cell));
      q += small.cells[n].size;
    } else {
      *q++ = ',';
      q = PutDecimal(q, ZigZag32(n));
    }
  }
  return q;
}

// Room for PutSeconds(): 29 digits of value, 40 decimals or zeros, the point.
constexpr std::size_t kMaxSecondsText = 72;

// The time stamp in seconds, exactly: ticks * digits * 10^exponent, with
// max(0, -exponent) decimals (a time scale of 0.001 gives "1.234").
inline char* PutSeconds(char* q, std::uint32_t ticks, std::uint64_t digits, int exponent) {
  __extension__ using Wide = unsigned __int128;
  Wide value = static_cast<Wide>(ticks) * digits;
  const bool zero = value == 0;
  char text[32];
  char* const end = text + sizeof text;
  char* p = end;
  do {
    *--p = static_cast<char>('0' + static_cast<int>(value % 10));
    value /= 10;
  } while (value != 0);
  const auto size = static_cast<std::size_t>(end - p);
  if (exponent >= 0) {
    q = PutText(q, std::string_view(p, size));
    if (!zero) {
      std::memset(q, '0', static_cast<std::size_t>(exponent));
      q += exponent;
    }
    return q;
  }
  const auto decimals = static_cast<std::size_t>(-exponent);
  if (size <= decimals) {
    *q++ = '0';
    *q++ = '.';
    std::memset(q, '0', decimals - size);
    q += decimals - size;
    return PutText(q, std::string_view(p, size));
  }
  q = PutText(q, std::string_view(p, size - decimals));
  *q++ = '.';
  return PutText(q, std::string_view(p + size - decimals, decimals));
}

// A CSV cell, quoted when it holds a comma, a quote or a space at either end.
inline std::string CsvCell(std::string_view text) {
  const bool quote = text.find_first_of(",\"") != std::string_view::npos || text.empty() ||
                     text.front() == ' ' || text.back() == ' ';
  if (!quote) return std::string(text);
  std::string cell = "\"";
  for (const char c : text) {
    if (c == '"') cell += '"';
    cell += c;
  }
  return cell + '"';
}

// Why a CSV cannot name its source so: a line break would end the row.
inline Error SourceWithLineBreak() {
  return Error(ErrorKind::kUnsupported,
               "the source name holds a line break, which CSV cannot hold");
}

// A JSON string, quotes included. Bytes from 0x80 up are passed on as they
// are: names are taken to be UTF-8.
inline std::string JsonString(std::string_view text) {
  std::string out = "\"";
  for (const char c : text) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (static_cast<unsigned char>(c) < 0x20) {
      char escape[6] = {'\\', 'u', '0', '0'};
      codec::PutHexBytes(escape + 4, std::string_view(&c, 1), codec::HexCase::kLower);
      out.append(escape, 6);
    } else {
      out += c;
    }
  }
  return out + '"';
}

}  // namespace blackbox
}  // namespace gcuproto

#endif  // GCUPROTO_BLACKBOX_SAMPLE_TEXT_H
