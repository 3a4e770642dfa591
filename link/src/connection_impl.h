// What a Connection holds; the servers build connections from accepted sockets.
#ifndef GCUPROTO_LINK_SRC_CONNECTION_IMPL_H
#define GCUPROTO_LINK_SRC_CONNECTION_IMPL_H

#include <gcuproto/link/connection.h>
#include <google/protobuf/io/zero_copy_stream.h>

#include <memory>
#include <string>
#include <vector>

#include "socket.h"

namespace gcuproto {
namespace link {

// The receiving side of a socket as the protobuf runtime reads it, with a
// buffer of its own so that a frame's length can be looked at before the
// runtime reads the frame.
class SocketInputStream : public google::protobuf::io::ZeroCopyInputStream {
 public:
  SocketInputStream(Socket* socket, std::size_t buffer_size)
      : socket_(socket), buffer_(buffer_size) {}

  bool Next(const void** data, int* size) override;
  void BackUp(int count) override;
  bool Skip(int count) override;
  int64_t ByteCount() const override { return consumed_ + static_cast<int64_t>(position_); }

  // Waits up to timeout_ms (negative: no limit) until a byte is buffered.
  IoStatus WaitForByte(int timeout_ms);
  // The frame length at the read position, decoded without consuming it.
  // kOk with *length set; kClosed or kTimeout or kError with `error()` set
  // when the bytes do not come or are not a length.
  IoStatus PeekLength(std::uint64_t* length);

  void set_timeout_ms(int timeout_ms) { timeout_ms_ = timeout_ms; }
  // Why the last read stopped: kOk when it did not.
  IoStatus failure() const { return failure_; }
  const std::string& error() const { return error_; }
  void ClearFailure() { failure_ = IoStatus::kOk; }

 private:
  IoStatus Fill(int timeout_ms);

  Socket* socket_;
  std::vector<char> buffer_;
  std::size_t position_ = 0;  // next byte to hand out
  std::size_t end_ = 0;       // end of the buffered bytes
  int64_t consumed_ = 0;      // bytes dropped from the buffer's start
  int timeout_ms_ = -1;
  IoStatus failure_ = IoStatus::kOk;
  std::string error_;
};

struct Connection::Impl {
  Impl(Socket accepted, std::string peer_name, const FrameLimits& frame_limits)
      : socket(std::move(accepted)),
        input(&socket, 64 * 1024),
        peer(std::move(peer_name)),
        limits(frame_limits) {}

  Socket socket;
  SocketInputStream input;
  std::string peer;
  FrameLimits limits;
  std::string output;
};

}  // namespace link
}  // namespace gcuproto

#endif  // GCUPROTO_LINK_SRC_CONNECTION_IMPL_H
