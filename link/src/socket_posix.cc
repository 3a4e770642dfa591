// POSIX sockets for the link library.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <utility>

#include "socket.h"

namespace gcuproto {
namespace link {

namespace {

std::string SystemError(const std::string& what) { return what + ": " + std::strerror(errno); }

// Waits until the socket is ready for `events`; kOk when it is.
IoStatus WaitFor(int handle, short events, int timeout_ms, std::string* error) {
  pollfd entry{handle, events, 0};
  for (;;) {
    const int ready = poll(&entry, 1, timeout_ms < 0 ? -1 : timeout_ms);
    if (ready > 0) return IoStatus::kOk;
    if (ready == 0) return IoStatus::kTimeout;
    if (errno == EINTR) continue;
    *error = SystemError("poll");
    return IoStatus::kError;
  }
}

bool Resolve(const Endpoint& endpoint, bool passive, addrinfo** result, std::string* error) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = passive ? AI_PASSIVE : 0;
  const std::string port = std::to_string(endpoint.port);
  const int status = getaddrinfo(endpoint.host.c_str(), port.c_str(), &hints, result);
  if (status != 0) {
    *error = endpoint.ToString() + ": " + gai_strerror(status);
    return false;
  }
  return true;
}

std::string PeerName(const sockaddr_storage& address) {
  char host[INET6_ADDRSTRLEN] = "?";
  std::uint16_t port = 0;
  if (address.ss_family == AF_INET) {
    const auto& in = reinterpret_cast<const sockaddr_in&>(address);
    inet_ntop(AF_INET, &in.sin_addr, host, sizeof host);
    port = ntohs(in.sin_port);
    return std::string(host) + ":" + std::to_string(port);
  }
  const auto& in6 = reinterpret_cast<const sockaddr_in6&>(address);
  inet_ntop(AF_INET6, &in6.sin6_addr, host, sizeof host);
  port = ntohs(in6.sin6_port);
  return "[" + std::string(host) + "]:" + std::to_string(port);
}

void NoDelay(int handle) {
  const int on = 1;
  setsockopt(handle, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
}

}  // namespace

// shutdown() wakes poll() and accept() in other threads: nothing else is needed.
struct Socket::Waker {};

Socket::Socket() = default;

Socket::Socket(Handle handle) : handle_(handle) {}

Socket::~Socket() { Close(); }

Socket::Socket(Socket&& other) noexcept : handle_(std::exchange(other.handle_, kNoHandle)) {}

Socket& Socket::operator=(Socket&& other) noexcept {
  if (this != &other) {
    Close();
    handle_ = std::exchange(other.handle_, kNoHandle);
  }
  return *this;
}

void Socket::Close() {
  if (valid()) ::close(static_cast<int>(handle_));
  handle_ = kNoHandle;
}

Socket Socket::Listen(const Endpoint& endpoint, std::string* error) {
  addrinfo* addresses = nullptr;
  if (!Resolve(endpoint, true, &addresses, error)) return Socket();
  Socket result;
  for (addrinfo* a = addresses; a != nullptr && !result.valid(); a = a->ai_next) {
    Socket candidate(::socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC, a->ai_protocol));
    if (!candidate.valid()) {
      *error = SystemError("socket");
      continue;
    }
    const int on = 1;
    setsockopt(candidate.handle_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if (::bind(candidate.handle_, a->ai_addr, a->ai_addrlen) != 0) {
      *error = SystemError("cannot listen on " + endpoint.ToString());
      continue;
    }
    if (::listen(candidate.handle_, 128) != 0) {
      *error = SystemError("cannot listen on " + endpoint.ToString());
      continue;
    }
    result = std::move(candidate);
  }
  freeaddrinfo(addresses);
  return result;
}

Socket Socket::Connect(const Endpoint& endpoint, int timeout_ms, std::string* error) {
  addrinfo* addresses = nullptr;
  if (!Resolve(endpoint, false, &addresses, error)) return Socket();
  Socket result;
  for (addrinfo* a = addresses; a != nullptr && !result.valid(); a = a->ai_next) {
    Socket candidate(
        ::socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC | SOCK_NONBLOCK, a->ai_protocol));
    if (!candidate.valid()) {
      *error = SystemError("socket");
      continue;
    }
    if (::connect(candidate.handle_, a->ai_addr, a->ai_addrlen) != 0) {
      if (errno != EINPROGRESS) {
        *error = SystemError("cannot connect to " + endpoint.ToString());
        continue;
      }
      const IoStatus ready = WaitFor(candidate.handle_, POLLOUT, timeout_ms, error);
      int failure = 0;
      socklen_t length = sizeof failure;
      getsockopt(candidate.handle_, SOL_SOCKET, SO_ERROR, &failure, &length);
      if (ready == IoStatus::kTimeout) {
        *error = "cannot connect to " + endpoint.ToString() + ": timed out";
        continue;
      }
      if (ready != IoStatus::kOk || failure != 0) {
        errno = failure;
        *error = SystemError("cannot connect to " + endpoint.ToString());
        continue;
      }
    }
    fcntl(candidate.handle_, F_SETFL, fcntl(candidate.handle_, F_GETFL) & ~O_NONBLOCK);
    NoDelay(candidate.handle_);
    result = std::move(candidate);
  }
  freeaddrinfo(addresses);
  return result;
}

IoStatus Socket::Accept(Socket* accepted, std::string* peer, std::string* error) {
  for (;;) {
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    const int handle =
        ::accept4(handle_, reinterpret_cast<sockaddr*>(&address), &length, SOCK_CLOEXEC);
    if (handle >= 0) {
      NoDelay(handle);
      *accepted = Socket(handle);
      *peer = PeerName(address);
      return IoStatus::kOk;
    }
    if (errno == EINTR || errno == ECONNABORTED) continue;
    // A listening socket that was shut down fails with EINVAL.
    if (errno == EINVAL || errno == EBADF) return IoStatus::kClosed;
    *error = SystemError("accept");
    return IoStatus::kError;
  }
}

IoStatus Socket::Receive(char* buffer, std::size_t capacity, std::size_t* received, int timeout_ms,
                         std::string* error) {
  const IoStatus ready = WaitFor(handle_, POLLIN, timeout_ms, error);
  if (ready != IoStatus::kOk) return ready;
  for (;;) {
    const ssize_t count = ::recv(handle_, buffer, capacity, 0);
    if (count > 0) {
      *received = static_cast<std::size_t>(count);
      return IoStatus::kOk;
    }
    if (count == 0) return IoStatus::kClosed;
    if (errno == EINTR) continue;
    if (errno == ECONNRESET || errno == ENOTCONN) return IoStatus::kClosed;
    *error = SystemError("recv");
    return IoStatus::kError;
  }
}

IoStatus Socket::SendAll(const char* data, std::size_t size, int timeout_ms, std::string* error) {
  while (size > 0) {
    const ssize_t count = ::send(handle_, data, size, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (count > 0) {
      data += count;
      size -= static_cast<std::size_t>(count);
      continue;
    }
    if (count < 0 && errno == EINTR) continue;
    if (count < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      const IoStatus ready = WaitFor(handle_, POLLOUT, timeout_ms, error);
      if (ready != IoStatus::kOk) return ready;
      continue;
    }
    if (errno == EPIPE || errno == ECONNRESET) return IoStatus::kClosed;
    *error = SystemError("send");
    return IoStatus::kError;
  }
  return IoStatus::kOk;
}

void Socket::Shutdown() {
  if (valid()) ::shutdown(static_cast<int>(handle_), SHUT_RDWR);
}

std::uint16_t Socket::local_port() const {
  sockaddr_storage address{};
  socklen_t length = sizeof address;
  if (getsockname(handle_, reinterpret_cast<sockaddr*>(&address), &length) != 0) return 0;
  if (address.ss_family == AF_INET) {
    return ntohs(reinterpret_cast<const sockaddr_in&>(address).sin_port);
  }
  return ntohs(reinterpret_cast<const sockaddr_in6&>(address).sin6_port);
}

}  // namespace link
}  // namespace gcuproto
