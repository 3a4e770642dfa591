// Buffered reading of a zero-copy input stream with 64-bit positions.
#ifndef GCUPROTO_BLACKBOX_BYTE_SOURCE_H
#define GCUPROTO_BLACKBOX_BYTE_SOURCE_H

#include <gcuproto/codec/wire.h>
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
//
// Kept mode, for reading that must go back (resynchronising after damage, a
// record still being written when a live log ends): every byte from a kept
// position on is copied into one contiguous window, so that Rewind() can
// return to any position in it, also on a pipe.
class ByteSource {
 public:
  enum class Status { kOk, kEnd, kTruncated, kMalformed };

  explicit ByteSource(google::protobuf::io::ZeroCopyInputStream* input) : input_(input) {}

  std::uint64_t position() const { return base_ + static_cast<std::uint64_t>(cur_ - begin_); }

  // True when no byte is left.
  bool AtEnd() { return cur_ == end_ && !Refill(); }

  // A varint within `limit`; kEnd when no byte is left at all.
  Status ReadVarint(wire::VarintLimit limit, std::uint64_t* value);

  // `size` bytes as one contiguous view, valid until the next call. On
  // kTruncated, `*available` tells how many bytes the input still had.
  Status ReadView(std::uint64_t size, std::string_view* view, std::uint64_t* available);

  // The common record inline: a one-byte key that is `first_key` or
  // `second_key`, a length of one or two bytes up to `max_size`, and the whole
  // record in the current buffer. Anything else returns false and reads
  // nothing, for the general path.
  bool TryReadRecord(std::uint8_t first_key, std::uint8_t second_key, std::uint32_t max_size,
                     std::uint8_t* key, std::string_view* view) {
    const auto left = static_cast<std::size_t>(end_ - cur_);
    if (left < 3 || (cur_[0] != first_key && cur_[0] != second_key)) return false;
    std::uint32_t size = cur_[1];
    std::size_t header = 2;
    if (size >= 0x80) {
      if (cur_[2] >= 0x80) return false;
      size = (size & 0x7F) | (static_cast<std::uint32_t>(cur_[2]) << 7);
      header = 3;
    }
    if (size > max_size || left - header < size) return false;
    *key = cur_[0];
    *view = std::string_view(reinterpret_cast<const char*>(cur_ + header), size);
    cur_ += header + size;
    return true;
  }

  // Skips `size` bytes by reading them (a seek past the end of a file would
  // look like success); kTruncated when the input ends first.
  Status Skip(std::uint64_t size, std::uint64_t* available);

  // Advances to the next byte that is `first` or `second`; false at the end.
  bool SkipToEither(std::uint8_t first, std::uint8_t second);

  // Kept mode. Keep(p) keeps every byte from position p (the current
  // position or one already kept) on; Rewind(p) goes back to a kept
  // position; View(p, n) is n kept bytes from p, valid until the next call
  // that reads; Unkeep() ends kept mode.
  void Keep(std::uint64_t from);
  bool kept() const { return keeping_; }
  std::uint64_t kept_from() const { return window_base_; }
  void Rewind(std::uint64_t to) { cur_ = begin_ + (to - base_); }
  std::string_view View(std::uint64_t from, std::uint64_t size) const {
    return std::string_view(reinterpret_cast<const char*>(begin_ + (from - base_)),
                            static_cast<std::size_t>(size));
  }
  void Unkeep() { keeping_ = false; }
  // Bytes held in the window, for callers that bound their look-ahead.
  std::uint64_t kept_bytes() const { return keeping_ ? position() - window_base_ : 0; }

 private:
  bool Refill();
  // Kept mode: appends the stream's next buffer to the window.
  bool Extend();

  google::protobuf::io::ZeroCopyInputStream* input_;
  const std::uint8_t* begin_ = nullptr;  // start of the current buffer
  const std::uint8_t* cur_ = nullptr;
  const std::uint8_t* end_ = nullptr;
  std::uint64_t base_ = 0;  // position of begin_
  std::string scratch_;     // a view that crossed buffers

  bool keeping_ = false;
  std::string window_;  // kept bytes, from window_base_ on
  std::uint64_t window_base_ = 0;
  bool in_window_ = false;  // the current buffer is window_
};

}  // namespace blackbox
}  // namespace gcuproto

#endif  // GCUPROTO_BLACKBOX_BYTE_SOURCE_H
