#include "byte_source.h"

#include <algorithm>
#include <limits>

namespace gcuproto {
namespace blackbox {

bool ByteSource::Refill() {
  base_ = position();
  const void* data;
  int size;
  while (input_->Next(&data, &size)) {
    if (size > 0) {
      begin_ = cur_ = static_cast<const std::uint8_t*>(data);
      end_ = begin_ + size;
      return true;
    }
  }
  begin_ = cur_ = end_ = nullptr;
  return false;
}

ByteSource::Status ByteSource::ReadVarint(int max_bytes, std::uint8_t last_byte_max,
                                          std::uint64_t* value) {
  if (AtEnd()) return Status::kEnd;
  std::uint64_t result = 0;
  for (int i = 0; i < max_bytes; ++i) {
    if (cur_ == end_ && !Refill()) return Status::kTruncated;
    const std::uint8_t byte = *cur_++;
    if (i == max_bytes - 1 && byte > last_byte_max) return Status::kMalformed;
    result |= static_cast<std::uint64_t>(byte & 0x7F) << (7 * i);
    if (byte < 0x80) {
      *value = result;
      return Status::kOk;
    }
  }
  return Status::kMalformed;
}

ByteSource::Status ByteSource::ReadView(std::uint64_t size, std::string_view* view,
                                        std::uint64_t* available) {
  if (static_cast<std::uint64_t>(end_ - cur_) >= size) {
    *view = std::string_view(reinterpret_cast<const char*>(cur_), static_cast<std::size_t>(size));
    cur_ += size;
    return Status::kOk;
  }
  scratch_.clear();
  while (scratch_.size() < size) {
    if (cur_ == end_ && !Refill()) {
      *available = scratch_.size();
      return Status::kTruncated;
    }
    const std::size_t take = static_cast<std::size_t>(
        std::min<std::uint64_t>(size - scratch_.size(), static_cast<std::uint64_t>(end_ - cur_)));
    scratch_.append(reinterpret_cast<const char*>(cur_), take);
    cur_ += take;
  }
  *view = scratch_;
  return Status::kOk;
}

ByteSource::Status ByteSource::Skip(std::uint64_t size, std::uint64_t* available) {
  const std::uint64_t start = position();
  const std::uint64_t in_buffer = std::min<std::uint64_t>(size, static_cast<std::uint64_t>(end_ - cur_));
  cur_ += in_buffer;
  std::uint64_t left = size - in_buffer;
  // Past the current buffer the stream skips by itself (a file seeks).
  while (left > 0) {
    base_ = position();
    begin_ = cur_ = end_ = nullptr;
    const int step = static_cast<int>(std::min<std::uint64_t>(left, std::numeric_limits<int>::max()));
    const std::int64_t before = input_->ByteCount();
    const bool whole = input_->Skip(step);
    const std::uint64_t skipped = static_cast<std::uint64_t>(input_->ByteCount() - before);
    base_ += skipped;
    left -= skipped;
    if (!whole) {
      *available = position() - start;
      return Status::kTruncated;
    }
  }
  return Status::kOk;
}

}  // namespace blackbox
}  // namespace gcuproto
