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

enum class Field { kVarint, kBlock, kOther };

// The loop every scan shares. `field_of(key)` says which keys the kind of
// line has and how they are encoded; `on_varint(key, value)` takes a varint
// field, `on_block(key, begin, end)` a length-delimited one and returns false
// when its content is malformed.
template <typename FieldOf, typename OnVarint, typename OnBlock>
inline Scan ScanFields(const std::uint8_t* p, const std::uint8_t* end, FieldOf field_of,
                       OnVarint on_varint, OnBlock on_block) {
  while (p < end) {
    const std::uint8_t key = *p++;
    switch (field_of(key)) {
      case Field::kVarint: {
        std::uint64_t value;
        p = ReadVarint(p, end, &value);
        if (p == nullptr) return Scan::kMalformed;
        on_varint(key, value);
        break;
      }
      case Field::kBlock: {
        std::uint32_t size;
        p = ReadLength(p, end, &size);
        if (p == nullptr || size > static_cast<std::size_t>(end - p)) return Scan::kMalformed;
        if (!on_block(key, p, p + size)) return Scan::kMalformed;
        p += size;
        break;
      }
      case Field::kOther:
        return Scan::kUnusual;
    }
  }
  return Scan::kDone;
}

// A logger line's seqNo and timestamp, and its samples: one by one to
// `on_sample(output, value)`, packed to `on_block(output, begin, end)`, which
// returns false when the block is malformed.
template <typename OnSample, typename OnBlock>
inline Scan ScanLoggerLine(const std::uint8_t* p, const std::uint8_t* end, std::uint32_t* seq_no,
                           std::uint32_t* timestamp, OnSample on_sample, OnBlock on_block) {
  return ScanFields(
      p, end,
      [](std::uint8_t key) {
        switch (key) {
          case 0x08:  // seqNo
          case 0x10:  // one input sample
          case 0x18:  // timestamp
          case 0x20:  // one output sample
            return Field::kVarint;
          case 0x12:  // packed input samples
          case 0x22:  // packed output samples
            return Field::kBlock;
          default:
            return Field::kOther;
        }
      },
      [&](std::uint8_t key, std::uint64_t value) {
        if (key == 0x08 || key == 0x18) {
          *(key == 0x08 ? seq_no : timestamp) = static_cast<std::uint32_t>(value);
        } else {
          on_sample(key == 0x20, value);
        }
      },
      [&](std::uint8_t key, const std::uint8_t* begin, const std::uint8_t* block_end) {
        return on_block(key == 0x22, begin, block_end);
      });
}

// A CAN line's header, and the length of its data into `data_bytes` when
// that is not null.
inline Scan ScanCanLine(const std::uint8_t* p, const std::uint8_t* end, LineHeader* header,
                        std::uint64_t* data_bytes) {
  return ScanFields(
      p, end,
      [](std::uint8_t key) {
        switch (key) {
          case 0x08:  // seqNo
          case 0x10:  // timestamp
          case 0x18:  // canId
          case 0x20:  // messageId
          case 0x28:  // extended
            return Field::kVarint;
          case 0x32:  // data
            return Field::kBlock;
          default:
            return Field::kOther;
        }
      },
      [header](std::uint8_t key, std::uint64_t value) {
        if (key == 0x28) {
          header->extended = value != 0;
          return;
        }
        // Fields 1 to 4, in the order of their numbers.
        std::uint32_t* const numbers[] = {&header->seq_no, &header->timestamp, &header->can_id,
                                          &header->message_id};
        *numbers[(key >> 3) - 1] = static_cast<std::uint32_t>(value);
      },
      [data_bytes](std::uint8_t, const std::uint8_t* begin, const std::uint8_t* block_end) {
        if (data_bytes != nullptr) *data_bytes = static_cast<std::uint64_t>(block_end - begin);
        return true;
      });
}

}  // namespace blackbox
}  // namespace gcuproto

#endif  // GCUPROTO_BLACKBOX_LINE_SCAN_H
