#include "byte_source.h"

#include <algorithm>

namespace gcuproto {
namespace blackbox {

bool ByteSource::Refill() {
  if (keeping_) return Extend();
  base_ = position();
  if (in_window_) {
    in_window_ = false;
    window_.clear();
  }
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

ByteSource::Status ByteSource::ReadVarint(wire::VarintLimit limit, std::uint64_t* value) {
  if (AtEnd()) return Status::kEnd;
  if (end_ - cur_ >= limit.max_bytes) {
    // A malformed varint has taken all the bytes it may.
    const std::uint8_t* const after = wire::ReadVarint(cur_, end_, limit, value);
    cur_ = after != nullptr ? after : cur_ + limit.max_bytes;
    return after != nullptr ? Status::kOk : Status::kMalformed;
  }
  // Near the buffer's end the varint may go on in the next one: its bytes
  // are gathered first.
  std::uint8_t bytes[wire::kMaxVarintBytes];
  int size = 0;
  do {
    if (cur_ == end_ && !Refill()) return Status::kTruncated;
    bytes[size] = *cur_++;
  } while (bytes[size++] >= 0x80 && size < limit.max_bytes);
  return wire::ReadVarint(bytes, bytes + size, limit, value) != nullptr ? Status::kOk
                                                                        : Status::kMalformed;
}

ByteSource::Status ByteSource::ReadView(std::uint64_t size, std::string_view* view,
                                        std::uint64_t* available) {
  if (static_cast<std::uint64_t>(end_ - cur_) >= size) {
    *view = std::string_view(reinterpret_cast<const char*>(cur_), static_cast<std::size_t>(size));
    cur_ += size;
    return Status::kOk;
  }
  if (keeping_) {
    // The window is contiguous: extend it until the view fits.
    while (static_cast<std::uint64_t>(end_ - cur_) < size) {
      if (!Extend()) {
        *available = static_cast<std::uint64_t>(end_ - cur_);
        cur_ = end_;
        return Status::kTruncated;
      }
    }
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
  std::uint64_t left = size;
  while (left > 0) {
    if (cur_ == end_ && !Refill()) {
      *available = position() - start;
      return Status::kTruncated;
    }
    const std::uint64_t take =
        std::min<std::uint64_t>(left, static_cast<std::uint64_t>(end_ - cur_));
    cur_ += take;
    left -= take;
  }
  return Status::kOk;
}

bool ByteSource::SkipToEither(std::uint8_t first, std::uint8_t second) {
  for (;;) {
    for (const std::uint8_t* p = cur_; p < end_; ++p) {
      if (*p == first || *p == second) {
        cur_ = p;
        return true;
      }
    }
    cur_ = end_;
    if (!Refill()) return false;
  }
}

void ByteSource::Keep(std::uint64_t from) {
  const std::uint64_t at = position();
  if (!in_window_) {
    // The rest of the stream's buffer becomes the window.
    const std::size_t size =
        static_cast<std::size_t>(end_ - begin_) - static_cast<std::size_t>(from - base_);
    window_.clear();
    if (size > 0) window_.append(reinterpret_cast<const char*>(begin_ + (from - base_)), size);
    window_base_ = from;
    in_window_ = true;
  } else {
    // Dropping what is no longer kept, only once it is a large part of the
    // window, keeps the copying linear.
    const std::uint64_t drop = from - window_base_;
    if (drop >= (std::uint64_t{256} << 10) && 2 * drop >= window_.size()) {
      window_.erase(0, static_cast<std::size_t>(drop));
      window_base_ = from;
    }
  }
  keeping_ = true;
  begin_ = reinterpret_cast<const std::uint8_t*>(window_.data());
  end_ = begin_ + window_.size();
  base_ = window_base_;
  cur_ = begin_ + (at - base_);
}

bool ByteSource::Extend() {
  const void* data;
  int size;
  while (input_->Next(&data, &size)) {
    if (size > 0) {
      const std::size_t at = static_cast<std::size_t>(cur_ - begin_);
      window_.append(static_cast<const char*>(data), static_cast<std::size_t>(size));
      begin_ = reinterpret_cast<const std::uint8_t*>(window_.data());
      cur_ = begin_ + at;
      end_ = begin_ + window_.size();
      return true;
    }
  }
  return false;
}

}  // namespace blackbox
}  // namespace gcuproto
