// Envelopes on a TCP stream in protobuf's delimited format. The runtime's
// delimited_message_util reads and writes every frame; this file only looks
// at a frame's length first, so that an oversized frame is refused before
// any of its body is read, and says why a frame failed.
#include <gcuproto/link/connection.h>
#include <google/protobuf/io/coded_stream.h>
#include <google/protobuf/io/zero_copy_stream_impl_lite.h>
#include <google/protobuf/message_lite.h>
#include <google/protobuf/util/delimited_message_util.h>

#include <algorithm>
#include <cstring>

#include "connection_impl.h"

namespace gcuproto {
namespace link {

namespace {

constexpr std::size_t kMaxVarintBytes = 10;

int Milliseconds(std::chrono::milliseconds duration) {
  return duration.count() < 0 ? -1
                              : static_cast<int>(std::min<long long>(duration.count(), 1 << 30));
}

}  // namespace

IoStatus SocketInputStream::Fill(int timeout_ms) {
  if (position_ == end_) {
    consumed_ += static_cast<int64_t>(end_);
    position_ = end_ = 0;
  } else if (end_ == buffer_.size()) {
    // Keep the unread bytes contiguous: move them to the front.
    std::memmove(buffer_.data(), buffer_.data() + position_, end_ - position_);
    consumed_ += static_cast<int64_t>(position_);
    end_ -= position_;
    position_ = 0;
  }
  std::size_t received = 0;
  const IoStatus status = socket_->Receive(buffer_.data() + end_, buffer_.size() - end_, &received,
                                           timeout_ms, &error_);
  if (status == IoStatus::kOk) {
    end_ += received;
  } else {
    failure_ = status;
  }
  return status;
}

bool SocketInputStream::Next(const void** data, int* size) {
  if (position_ == end_ && Fill(timeout_ms_) != IoStatus::kOk) return false;
  *data = buffer_.data() + position_;
  *size = static_cast<int>(end_ - position_);
  position_ = end_;
  return true;
}

void SocketInputStream::BackUp(int count) { position_ -= static_cast<std::size_t>(count); }

bool SocketInputStream::Skip(int count) {
  while (count > 0) {
    if (position_ == end_ && Fill(timeout_ms_) != IoStatus::kOk) return false;
    const std::size_t step =
        std::min<std::size_t>(static_cast<std::size_t>(count), end_ - position_);
    position_ += step;
    count -= static_cast<int>(step);
  }
  return true;
}

IoStatus SocketInputStream::WaitForByte(int timeout_ms) {
  if (position_ < end_) return IoStatus::kOk;
  return Fill(timeout_ms);
}

IoStatus SocketInputStream::PeekLength(std::uint64_t* length) {
  for (;;) {
    const std::size_t available = std::min(end_ - position_, kMaxVarintBytes);
    const auto* begin = reinterpret_cast<const std::uint8_t*>(buffer_.data() + position_);
    const bool complete =
        std::any_of(begin, begin + available, [](std::uint8_t b) { return b < 0x80; });
    if (complete) {
      google::protobuf::io::CodedInputStream varint(begin, static_cast<int>(available));
      if (varint.ReadVarint64(length)) return IoStatus::kOk;
    }
    if (available == kMaxVarintBytes) {
      error_ = "the frame length is not a varint";
      failure_ = IoStatus::kError;
      return IoStatus::kError;
    }
    const IoStatus status = Fill(timeout_ms_);
    if (status != IoStatus::kOk) return status;
  }
}

Connection::Connection(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

Connection::~Connection() = default;

std::unique_ptr<Connection> Connection::Connect(const Endpoint& endpoint, const FrameLimits& limits,
                                                std::chrono::milliseconds timeout,
                                                std::string* error) {
  Socket socket = Socket::Connect(endpoint, Milliseconds(timeout), error);
  if (!socket.valid()) return nullptr;
  return std::make_unique<Connection>(
      std::make_unique<Impl>(std::move(socket), endpoint.ToString(), limits));
}

bool Connection::Write(const google::protobuf::MessageLite& envelope, std::string* error) {
  const std::size_t size = envelope.ByteSizeLong();
  if (size > impl_->limits.max_frame_size) {
    *error = "an envelope of " + std::to_string(size) + " bytes is over the frame limit of " +
             std::to_string(impl_->limits.max_frame_size);
    return false;
  }
  impl_->output.clear();
  {
    google::protobuf::io::StringOutputStream stream(&impl_->output);
    google::protobuf::util::SerializeDelimitedToZeroCopyStream(envelope, &stream);
  }
  std::string why;
  const IoStatus status = impl_->socket.SendAll(impl_->output.data(), impl_->output.size(),
                                                Milliseconds(impl_->limits.frame_timeout), &why);
  if (status == IoStatus::kOk) return true;
  if (status == IoStatus::kTimeout) {
    *error = impl_->peer + ": the peer does not read its frames";
  } else if (status == IoStatus::kClosed) {
    *error = impl_->peer + ": connection closed";
  } else {
    *error = impl_->peer + ": " + why;
  }
  return false;
}

ReadStatus Connection::Read(google::protobuf::MessageLite* envelope,
                            std::chrono::milliseconds timeout, std::string* error) {
  SocketInputStream& input = impl_->input;
  const std::string& peer = impl_->peer;
  input.ClearFailure();
  const IoStatus first = input.WaitForByte(Milliseconds(timeout));
  if (first == IoStatus::kTimeout) return ReadStatus::kTimeout;
  if (first == IoStatus::kClosed) return ReadStatus::kClosed;
  if (first == IoStatus::kError) {
    *error = peer + ": " + input.error();
    return ReadStatus::kBadFrame;
  }
  // The frame has begun: from here on silence is a fault.
  const int frame_timeout = Milliseconds(impl_->limits.frame_timeout);
  input.set_timeout_ms(frame_timeout);
  auto cut = [&]() {
    switch (input.failure()) {
      case IoStatus::kTimeout:
        *error =
            peer + ": idle for " + std::to_string(frame_timeout) + " ms in the middle of a frame";
        break;
      case IoStatus::kClosed:
        *error = peer + ": connection closed in the middle of a frame";
        break;
      default:
        *error = peer + ": " + input.error();
        break;
    }
    return ReadStatus::kBadFrame;
  };
  std::uint64_t length = 0;
  if (input.PeekLength(&length) != IoStatus::kOk) return cut();
  if (length > impl_->limits.max_frame_size) {
    *error = peer + ": a frame of " + std::to_string(length) + " bytes is over the limit of " +
             std::to_string(impl_->limits.max_frame_size);
    return ReadStatus::kBadFrame;
  }
  bool clean_eof = false;
  envelope->Clear();  // the runtime merges into what the envelope holds
  const bool parsed =
      google::protobuf::util::ParseDelimitedFromZeroCopyStream(envelope, &input, &clean_eof);
  if (input.failure() != IoStatus::kOk) return cut();
  if (!parsed) {
    *error = peer + ": a frame of " + std::to_string(length) + " bytes is not a " +
             envelope->GetTypeName();
    return ReadStatus::kBadFrame;
  }
  return ReadStatus::kOk;
}

void Connection::Shutdown() { impl_->socket.Shutdown(); }

const std::string& Connection::peer() const { return impl_->peer; }

}  // namespace link
}  // namespace gcuproto
