// Walks over a line in the encoding writers produce: one-byte keys of the
// known fields, each with its own wire type. Filters, statistics and the
// logger line decoder take their fast paths through these; what they call
// unusual is left to the general parser.
#ifndef GCUPROTO_BLACKBOX_LINE_SCAN_H
#define GCUPROTO_BLACKBOX_LINE_SCAN_H

#include <gcuproto/blackbox/filter.h>

#include <cstddef>
#include <cstdint>

#include "varint_block.h"

namespace gcuproto {
namespace blackbox {

enum class Scan { kDone, kMalformed, kUnusual };

// A logger line's seqNo and timestamp, and its samples: one by one to
// `on_sample(output, value)`, packed to `on_block(output, begin, end)`, which
// returns false when the block is malformed.
template <typename OnSample, typename OnBlock>
inline Scan ScanLoggerLine(const std::uint8_t* p, const std::uint8_t* end, std::uint32_t* seq_no,
                           std::uint32_t* timestamp, OnSample on_sample, OnBlock on_block) {
  while (p < end) {
    const std::uint8_t key = *p++;
    std::uint64_t value;
    switch (key) {
      case 0x08:
      case 0x18:
        p = ReadVarint(p, end, &value);
        if (p == nullptr) return Scan::kMalformed;
        *(key == 0x08 ? seq_no : timestamp) = static_cast<std::uint32_t>(value);
        break;
      case 0x10:
      case 0x20:
        p = ReadVarint(p, end, &value);
        if (p == nullptr) return Scan::kMalformed;
        on_sample(key == 0x20, value);
        break;
      case 0x12:
      case 0x22: {
        std::uint32_t size;
        p = ReadLength(p, end, &size);
        if (p == nullptr || size > static_cast<std::size_t>(end - p)) return Scan::kMalformed;
        if (!on_block(key == 0x22, p, p + size)) return Scan::kMalformed;
        p += size;
        break;
      }
      default:
        return Scan::kUnusual;
    }
  }
  return Scan::kDone;
}

// A CAN line's header, and the length of its data into `data_bytes` when
// that is not null.
inline Scan ScanCanLine(const std::uint8_t* p, const std::uint8_t* end, LineHeader* header,
                        std::uint64_t* data_bytes) {
  while (p < end) {
    const std::uint8_t key = *p++;
    std::uint64_t value;
    switch (key) {
      case 0x08:
      case 0x10:
      case 0x18:
      case 0x20:
      case 0x28:
        p = ReadVarint(p, end, &value);
        if (p == nullptr) return Scan::kMalformed;
        switch (key) {
          case 0x08:
            header->seq_no = static_cast<std::uint32_t>(value);
            break;
          case 0x10:
            header->timestamp = static_cast<std::uint32_t>(value);
            break;
          case 0x18:
            header->can_id = static_cast<std::uint32_t>(value);
            break;
          case 0x20:
            header->message_id = static_cast<std::uint32_t>(value);
            break;
          default:
            header->extended = value != 0;
            break;
        }
        break;
      case 0x32: {  // data
        std::uint32_t size;
        p = ReadLength(p, end, &size);
        if (p == nullptr || size > static_cast<std::size_t>(end - p)) return Scan::kMalformed;
        if (data_bytes != nullptr) *data_bytes = size;
        p += size;
        break;
      }
      default:
        return Scan::kUnusual;
    }
  }
  return Scan::kDone;
}

}  // namespace blackbox
}  // namespace gcuproto

#endif  // GCUPROTO_BLACKBOX_LINE_SCAN_H
