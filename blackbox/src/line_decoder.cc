#include <gcuproto/blackbox/line_decoder.h>

#include <cstdint>
#include <limits>

#include "varint_block.h"

namespace gcuproto {
namespace blackbox {
namespace {

// Appends the zigzag varints of one packed record to `samples`, through a
// plain pointer: adding them one by one would store and reload the
// container's size for every sample.
inline bool ReadPackedSamples(const std::uint8_t* p, const std::uint8_t* end,
                              google::protobuf::RepeatedField<std::int32_t>* samples) {
  // An empty record adds nothing; it must not reach DecodeBlock, whose null
  // result means malformed, through the null elements of an empty field.
  if (p == end) return true;
  // Each sample takes at least one byte, so the record's length bounds the count.
  const int old_size = samples->size();
  const int room = static_cast<int>(end - p);
  // Reserve() is a call into the runtime even when there is room.
  if (samples->Capacity() < old_size + room) samples->Reserve(old_size + room);
  // Signed and unsigned forms of one type may alias.
  auto* const first = reinterpret_cast<std::uint32_t*>(samples->AddNAlreadyReserved(room));
  const std::uint32_t* last = DecodeBlock<Samples::kDecoded>(p, end, first);
  samples->Truncate(last == nullptr ? old_size : old_size + static_cast<int>(last - first));
  return last != nullptr;
}

enum class Outcome { kDecoded, kMalformed, kNeedsGeneralParser };

Outcome DecodeCommonEncoding(const std::uint8_t* p, const std::uint8_t* end,
                             BlackboxFileLine* line) {
  std::uint32_t seq_no = 0;
  std::uint32_t timestamp = 0;
  auto* input = line->mutable_datainput();
  auto* output = line->mutable_dataoutput();
  while (p < end) {
    const std::uint8_t key = *p++;
    std::uint64_t value;
    switch (key) {
      case 0x08:  // seqNo
      case 0x18:  // timestamp
        p = ReadVarint(p, end, &value);
        if (p == nullptr) return Outcome::kMalformed;
        (key == 0x08 ? seq_no : timestamp) = static_cast<std::uint32_t>(value);
        break;
      case 0x10:  // one dataInput sample
      case 0x20:  // one dataOutput sample
        p = ReadVarint(p, end, &value);
        if (p == nullptr) return Outcome::kMalformed;
        (key == 0x10 ? input : output)->Add(ZigZag32(static_cast<std::uint32_t>(value)));
        break;
      case 0x12:  // packed dataInput
      case 0x22:  // packed dataOutput
      {
        std::uint32_t size;
        p = ReadLength(p, end, &size);
        if (p == nullptr || size > static_cast<std::uint64_t>(end - p)) return Outcome::kMalformed;
        const std::uint8_t* record_end = p + size;
        if (!ReadPackedSamples(p, record_end, key == 0x12 ? input : output)) {
          return Outcome::kMalformed;
        }
        p = record_end;
        break;
      }
      default:  // unknown fields, other wire types, end of group, zero key
        return Outcome::kNeedsGeneralParser;
    }
  }
  line->set_seqno(seq_no);
  line->set_timestamp(timestamp);
  return Outcome::kDecoded;
}

}  // namespace

bool DecodeLoggerLine(std::string_view bytes, BlackboxFileLine* line) {
  line->Clear();
  if (bytes.size() > static_cast<std::size_t>(std::numeric_limits<int>::max())) return false;
  const auto* begin = reinterpret_cast<const std::uint8_t*>(bytes.data());
  switch (DecodeCommonEncoding(begin, begin + bytes.size(), line)) {
    case Outcome::kDecoded:
      return true;
    case Outcome::kMalformed:
      return false;
    case Outcome::kNeedsGeneralParser:
      break;
  }
  return line->ParseFromArray(bytes.data(), static_cast<int>(bytes.size()));
}

}  // namespace blackbox
}  // namespace gcuproto
