// The one place where the link library touches the operating system's
// sockets: a TCP socket with timeouts on every wait. socket_posix.cc is the
// POSIX implementation; a Winsock one would replace that file alone.
#ifndef GCUPROTO_LINK_SRC_SOCKET_H
#define GCUPROTO_LINK_SRC_SOCKET_H

#include <gcuproto/link/endpoint.h>

#include <cstddef>
#include <cstdint>
#include <string>

namespace gcuproto {
namespace link {

enum class IoStatus { kOk, kTimeout, kClosed, kError };

class Socket {
 public:
  Socket() = default;
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

  bool valid() const { return handle_ >= 0; }
  std::uint16_t local_port() const;

 private:
  explicit Socket(int handle) : handle_(handle) {}
  void Close();

  int handle_ = -1;
};

}  // namespace link
}  // namespace gcuproto

#endif  // GCUPROTO_LINK_SRC_SOCKET_H
