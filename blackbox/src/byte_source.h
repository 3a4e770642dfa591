// Buffered reading of a zero-copy input stream with 64-bit positions.
#ifndef GCUPROTO_BLACKBOX_BYTE_SOURCE_H
#define GCUPROTO_BLACKBOX_BYTE_SOURCE_H

#include <google/protobuf/io/zero_copy_stream.h>

#include <cstdint>
#include <string>
#include <string_view>

namespace gcuproto {
namespace blackbox {

// Hands out the stream's own buffers where it can and copies only what
// crosses a buffer boundary. Positions count from the first byte read and
// are 64-bit, so inputs of any size work (the runtime's coded streams stop
// at 2 GiB).
class ByteSource {
 public:
  enum class Status { kOk, kEnd, kTruncated, kMalformed };

  explicit ByteSource(google::protobuf::io::ZeroCopyInputStream* input) : input_(input) {}

  std::uint64_t position() const { return base_ + static_cast<std::uint64_t>(cur_ - begin_); }

  // True when no byte is left.
  bool AtEnd() { return cur_ == end_ && !Refill(); }

  // A varint of at most `max_bytes` bytes whose last byte is at most
  // `last_byte_max`; kEnd when no byte is left at all.
  Status ReadVarint(int max_bytes, std::uint8_t last_byte_max, std::uint64_t* value);

  // `size` bytes as one contiguous view, valid until the next call. On
  // kTruncated, `*available` tells how many bytes the input still had.
  Status ReadView(std::uint64_t size, std::string_view* view, std::uint64_t* available);

  // Skips `size` bytes; kTruncated when the input ends first.
  Status Skip(std::uint64_t size, std::uint64_t* available);

 private:
  bool Refill();

  google::protobuf::io::ZeroCopyInputStream* input_;
  const std::uint8_t* begin_ = nullptr;  // start of the current buffer
  const std::uint8_t* cur_ = nullptr;
  const std::uint8_t* end_ = nullptr;
  std::uint64_t base_ = 0;  // position of begin_
  std::string scratch_;     // a view that crossed buffers
};

}  // namespace blackbox
}  // namespace gcuproto

#endif  // GCUPROTO_BLACKBOX_BYTE_SOURCE_H
