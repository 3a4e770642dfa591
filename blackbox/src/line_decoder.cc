#include <gcuproto/blackbox/line_decoder.h>

#include <cstdint>
#include <limits>

#include "line_scan.h"

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

Scan DecodeCommonEncoding(const std::uint8_t* p, const std::uint8_t* end, BlackboxFileLine* line) {
  std::uint32_t seq_no = 0;
  std::uint32_t timestamp = 0;
  auto* input = line->mutable_datainput();
  auto* output = line->mutable_dataoutput();
  const Scan scan = ScanLoggerLine(
      p, end, &seq_no, &timestamp,
      [&](bool to_output, std::uint64_t value) {
        (to_output ? output : input)->Add(ZigZag32(static_cast<std::uint32_t>(value)));
      },
      [&](bool to_output, const std::uint8_t* begin, const std::uint8_t* block_end) {
        return ReadPackedSamples(begin, block_end, to_output ? output : input);
      });
  if (scan != Scan::kDone) return scan;
  line->set_seqno(seq_no);
  line->set_timestamp(timestamp);
  return Scan::kDone;
}

}  // namespace

bool DecodeLoggerLine(std::string_view bytes, BlackboxFileLine* line) {
  line->Clear();
  if (bytes.size() > static_cast<std::size_t>(std::numeric_limits<int>::max())) return false;
  const auto* begin = reinterpret_cast<const std::uint8_t*>(bytes.data());
  switch (DecodeCommonEncoding(begin, begin + bytes.size(), line)) {
    case Scan::kDone:
      return true;
    case Scan::kMalformed:
      return false;
    case Scan::kUnusual:  // unknown fields, other wire types, end of group, zero key
      break;
  }
  return line->ParseFromArray(bytes.data(), static_cast<int>(bytes.size()));
}

}  // namespace blackbox
}  // namespace gcuproto
