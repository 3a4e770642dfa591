// The one place where the link library touches the operating system's
// sockets: a TCP socket with timeouts on every wait. socket_posix.cc and
// socket_win32.cc implement it; the build picks one.
#ifndef GCUPROTO_LINK_SRC_SOCKET_H
#define GCUPROTO_LINK_SRC_SOCKET_H

#include <gcuproto/link/endpoint.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace gcuproto {
namespace link {

enum class IoStatus { kOk, kTimeout, kClosed, kError };

class Socket {
 public:
  Socket();
  ~Socket();
  Socket(Socket&& other) noexcept;
  Socket& operator=(Socket&& other) noexcept;
  Socket(const Socket&) = delete;
  Socket& operator=(const Socket&) = delete;

  static Socket Listen(const Endpoint& endpoint, std::string* error);
  static Socket Connect(const Endpoint& endpoint, int timeout_ms, std::string* error);

  // Waits for a connection; kClosed once Shutdown() was called.
  IoStatus Accept(Socket* accepted, std::string* peer, std::string* error);
  // Reads what is there, at least one byte; waits up to timeout_ms (negative: no limit).
  IoStatus Receive(char* buffer, std::size_t capacity, std::size_t* received, int timeout_ms,
                   std::string* error);
  // Writes all bytes; each wait for room is at most timeout_ms.
  IoStatus SendAll(const char* data, std::size_t size, int timeout_ms, std::string* error);
  // Wakes a blocked Accept() or Receive() in another thread; the socket stays open.
  void Shutdown();

  bool valid() const { return handle_ != kNoHandle; }
  std::uint16_t local_port() const;

 private:
  // A descriptor on POSIX, a SOCKET (pointer-sized) on Windows; -1 is
  // neither's valid value.
  using Handle = std::intptr_t;
  static constexpr Handle kNoHandle = -1;
  // What Shutdown() uses to end another thread's wait where shutting the
  // socket down does not; each implementation says what it holds.
  struct Waker;

  explicit Socket(Handle handle);
  void Close();

  Handle handle_ = kNoHandle;
  std::unique_ptr<Waker> waker_;
};

}  // namespace link
}  // namespace gcuproto

#endif  // GCUPROTO_LINK_SRC_SOCKET_H
