// One TCP connection carrying envelopes as delimited frames.
#ifndef GCUPROTO_LINK_CONNECTION_H
#define GCUPROTO_LINK_CONNECTION_H

#include <gcuproto/link/endpoint.h>
#include <gcuproto/link/export.h>
#include <gcuproto/link/frame.h>

#include <chrono>
#include <memory>
#include <string>

namespace google {
namespace protobuf {
class MessageLite;
}  // namespace protobuf
}  // namespace google

namespace gcuproto {
namespace link {

// One thread may read while another writes; two readers or two writers at
// once are not allowed.
class GCUPROTO_LINK_EXPORT Connection {
 public:
  struct Impl;

  static std::unique_ptr<Connection> Connect(const Endpoint& endpoint, const FrameLimits& limits,
                                             std::chrono::milliseconds timeout, std::string* error);
  explicit Connection(std::unique_ptr<Impl> impl);
  ~Connection();
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  // Writes one frame; false with `*error` when the envelope is over the limit
  // or the peer stopped reading for longer than the frame timeout.
  bool Write(const google::protobuf::MessageLite& envelope, std::string* error);
  // Reads one frame into `envelope`, waiting up to `timeout` for it to begin
  // (a negative timeout waits as long as it takes).
  ReadStatus Read(google::protobuf::MessageLite* envelope, std::chrono::milliseconds timeout,
                  std::string* error);
  // Wakes a Read() waiting in another thread; it then reports kClosed.
  void Shutdown();

  const std::string& peer() const;

 private:
  std::unique_ptr<Impl> impl_;
};

}  // namespace link
}  // namespace gcuproto

#endif  // GCUPROTO_LINK_CONNECTION_H
