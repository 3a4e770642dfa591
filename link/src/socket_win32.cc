// Winsock sockets for the link library.
//
// Winsock's shutdown() does not end an accept() or a wait for data in
// another thread, so every socket has an event of its own, tied to its
// read-side network events with WSAEventSelect: Accept() and Receive() wait
// on that event, and Shutdown() sets it after marking the socket shut. The
// tie makes the socket non-blocking for good, which connect-with-timeout and
// SendAll want anyway. Waits for room to write use select(), which Shutdown()
// need not end.
#include <winsock2.h>  // and windows.h, after it as it must be
#include <ws2tcpip.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <utility>

#include "socket.h"

namespace gcuproto {
namespace link {

namespace {

// The system's text for a Winsock or Win32 error code, in UTF-8.
std::string ErrorText(int code) {
  wchar_t* text = nullptr;
  const DWORD length = ::FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, static_cast<DWORD>(code), 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::string utf8;
  if (length > 0) {
    const int size = ::WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), nullptr, 0,
                                           nullptr, nullptr);
    utf8.resize(static_cast<std::size_t>(std::max(size, 0)));
    ::WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), utf8.data(), size, nullptr,
                          nullptr);
  }
  if (text != nullptr) ::LocalFree(text);
  // The messages end in ".\r\n"; ours go on after them.
  while (!utf8.empty() &&
         (utf8.back() == '\n' || utf8.back() == '\r' || utf8.back() == '.' || utf8.back() == ' ')) {
    utf8.pop_back();
  }
  if (utf8.empty()) return "error " + std::to_string(code);
  return utf8 + " (" + std::to_string(code) + ")";
}

std::string SystemError(const std::string& what, int code = ::WSAGetLastError()) {
  return what + ": " + ErrorText(code);
}

// Winsock stays started for the life of the process: sockets may outlive
// anything that could stop it.
bool StartWinsock(std::string* error) {
  static const int status = [] {
    WSADATA data;
    return ::WSAStartup(MAKEWORD(2, 2), &data);
  }();
  if (status != 0) *error = SystemError("WSAStartup", status);
  return status == 0;
}

SOCKET Of(std::intptr_t handle) { return static_cast<SOCKET>(handle); }

// The peer's connection is gone: what POSIX reports as a closed connection.
bool Closed(int code) {
  return code == WSAECONNRESET || code == WSAECONNABORTED || code == WSAESHUTDOWN ||
         code == WSAENOTCONN || code == WSAENETRESET;
}

// Waits up to timeout_ms (negative: no limit) with select() for the socket
// to be writable, or in error while connecting; kOk when either happened.
IoStatus WaitWritable(SOCKET socket, int timeout_ms, std::string* error) {
  fd_set writable;
  fd_set failed;
  FD_ZERO(&writable);
  FD_ZERO(&failed);
  FD_SET(socket, &writable);
  FD_SET(socket, &failed);
  timeval timeout{timeout_ms / 1000, (timeout_ms % 1000) * 1000};
  const int ready = ::select(0, nullptr, &writable, &failed, timeout_ms < 0 ? nullptr : &timeout);
  if (ready > 0) return IoStatus::kOk;
  if (ready == 0) return IoStatus::kTimeout;
  *error = SystemError("select");
  return IoStatus::kError;
}

bool Resolve(const Endpoint& endpoint, bool passive, addrinfo** result, std::string* error) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_protocol = IPPROTO_TCP;
  hints.ai_flags = passive ? AI_PASSIVE : 0;
  const std::string port = std::to_string(endpoint.port);
  const int status = ::getaddrinfo(endpoint.host.c_str(), port.c_str(), &hints, result);
  if (status != 0) {
    *error = endpoint.ToString() + ": " + ErrorText(status);
    return false;
  }
  return true;
}

std::string PeerName(const sockaddr_storage& address, int length) {
  char host[NI_MAXHOST] = "?";
  char port[NI_MAXSERV] = "0";
  ::getnameinfo(reinterpret_cast<const sockaddr*>(&address), length, host, sizeof host, port,
                sizeof port, NI_NUMERICHOST | NI_NUMERICSERV);
  if (address.ss_family == AF_INET6) return "[" + std::string(host) + "]:" + port;
  return std::string(host) + ":" + port;
}

void NoDelay(SOCKET socket) {
  const BOOL on = TRUE;
  ::setsockopt(socket, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof on);
}

// A socket for one resolved address, which child processes do not inherit.
SOCKET NewSocket(const addrinfo& address) {
  return ::WSASocketW(address.ai_family, address.ai_socktype, address.ai_protocol, nullptr, 0,
                      WSA_FLAG_OVERLAPPED | WSA_FLAG_NO_HANDLE_INHERIT);
}

}  // namespace

struct Socket::Waker {
  WSAEVENT event = WSA_INVALID_EVENT;
  std::atomic<bool> shut{false};

  ~Waker() {
    if (event != WSA_INVALID_EVENT) ::WSACloseEvent(event);
  }

  // Waits up to timeout_ms (negative: no limit) for a network event or
  // Shutdown(). kOk says only "look again": an event may be stale.
  IoStatus Wait(int timeout_ms, std::string* error) {
    if (shut) return IoStatus::kClosed;
    const DWORD waited = ::WSAWaitForMultipleEvents(
        1, &event, FALSE, timeout_ms < 0 ? WSA_INFINITE : static_cast<DWORD>(timeout_ms), FALSE);
    // Reset before looking at the flag: a Shutdown() from now on sets the
    // event again, and one from before has set the flag.
    ::WSAResetEvent(event);
    if (shut) return IoStatus::kClosed;
    if (waited == WSA_WAIT_TIMEOUT) return IoStatus::kTimeout;
    if (waited == WSA_WAIT_FAILED) {
      *error = SystemError("WSAWaitForMultipleEvents");
      return IoStatus::kError;
    }
    return IoStatus::kOk;
  }
};

Socket::Socket() = default;

Socket::Socket(Handle handle) : handle_(handle) {
  if (!valid()) return;
  waker_ = std::make_unique<Waker>();
  waker_->event = ::WSACreateEvent();
  // An accepted socket starts tied to its listener's event; this replaces
  // that tie.
  if (waker_->event == WSA_INVALID_EVENT ||
      ::WSAEventSelect(Of(handle_), waker_->event, FD_ACCEPT | FD_READ | FD_CLOSE) != 0) {
    const int code = ::WSAGetLastError();  // for the caller's message, past closesocket()
    Close();
    ::WSASetLastError(code);
  }
}

Socket::~Socket() { Close(); }

Socket::Socket(Socket&& other) noexcept
    : handle_(std::exchange(other.handle_, kNoHandle)), waker_(std::move(other.waker_)) {}

Socket& Socket::operator=(Socket&& other) noexcept {
  if (this != &other) {
    Close();
    handle_ = std::exchange(other.handle_, kNoHandle);
    waker_ = std::move(other.waker_);
  }
  return *this;
}

void Socket::Close() {
  if (valid()) ::closesocket(Of(handle_));
  handle_ = kNoHandle;
  waker_.reset();
}

Socket Socket::Listen(const Endpoint& endpoint, std::string* error) {
  if (!StartWinsock(error)) return Socket();
  addrinfo* addresses = nullptr;
  if (!Resolve(endpoint, true, &addresses, error)) return Socket();
  Socket result;
  for (addrinfo* a = addresses; a != nullptr && !result.valid(); a = a->ai_next) {
    Socket candidate(static_cast<Handle>(NewSocket(*a)));
    if (!candidate.valid()) {
      *error = SystemError("socket");
      continue;
    }
    // Windows lets a second listener take a port in use unless told not to;
    // a port in TIME_WAIT is free to bind here without SO_REUSEADDR.
    const BOOL on = TRUE;
    ::setsockopt(Of(candidate.handle_), SOL_SOCKET, SO_EXCLUSIVEADDRUSE,
                 reinterpret_cast<const char*>(&on), sizeof on);
    if (::bind(Of(candidate.handle_), a->ai_addr, static_cast<int>(a->ai_addrlen)) != 0 ||
        ::listen(Of(candidate.handle_), 128) != 0) {
      const int code = ::WSAGetLastError();
      *error = SystemError("cannot listen on " + endpoint.ToString(), code);
      continue;
    }
    result = std::move(candidate);
  }
  ::freeaddrinfo(addresses);
  return result;
}

Socket Socket::Connect(const Endpoint& endpoint, int timeout_ms, std::string* error) {
  if (!StartWinsock(error)) return Socket();
  addrinfo* addresses = nullptr;
  if (!Resolve(endpoint, false, &addresses, error)) return Socket();
  Socket result;
  for (addrinfo* a = addresses; a != nullptr && !result.valid(); a = a->ai_next) {
    // Non-blocking from here on (see Socket(Handle)): connect() only starts.
    Socket candidate(static_cast<Handle>(NewSocket(*a)));
    if (!candidate.valid()) {
      *error = SystemError("socket");
      continue;
    }
    const SOCKET socket = Of(candidate.handle_);
    if (::connect(socket, a->ai_addr, static_cast<int>(a->ai_addrlen)) != 0) {
      const int code = ::WSAGetLastError();
      if (code != WSAEWOULDBLOCK) {
        *error = SystemError("cannot connect to " + endpoint.ToString(), code);
        continue;
      }
      const IoStatus ready = WaitWritable(socket, timeout_ms, error);
      if (ready == IoStatus::kTimeout) {
        *error = "cannot connect to " + endpoint.ToString() + ": timed out";
        continue;
      }
      int failure = 0;
      int length = sizeof failure;
      ::getsockopt(socket, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&failure), &length);
      if (ready != IoStatus::kOk || failure != 0) {
        *error = SystemError("cannot connect to " + endpoint.ToString(), failure);
        continue;
      }
    }
    NoDelay(socket);
    result = std::move(candidate);
  }
  ::freeaddrinfo(addresses);
  return result;
}

IoStatus Socket::Accept(Socket* accepted, std::string* peer, std::string* error) {
  for (;;) {
    if (waker_->shut) return IoStatus::kClosed;
    sockaddr_storage address{};
    int length = sizeof address;
    const SOCKET socket = ::accept(Of(handle_), reinterpret_cast<sockaddr*>(&address), &length);
    if (socket != INVALID_SOCKET) {
      // Children started while the server runs must not keep its connections.
      ::SetHandleInformation(reinterpret_cast<HANDLE>(socket), HANDLE_FLAG_INHERIT, 0);
      NoDelay(socket);
      *accepted = Socket(static_cast<Handle>(socket));
      if (!accepted->valid()) {
        *error = SystemError("WSAEventSelect");
        return IoStatus::kError;
      }
      *peer = PeerName(address, length);
      return IoStatus::kOk;
    }
    const int code = ::WSAGetLastError();
    if (code == WSAEWOULDBLOCK) {
      const IoStatus woken = waker_->Wait(-1, error);
      if (woken != IoStatus::kOk) return woken;
      continue;
    }
    // A connection reset before it was accepted is not the listener's fault.
    if (code == WSAECONNRESET || code == WSAEINTR) continue;
    if (code == WSAENOTSOCK || code == WSAEINVAL) return IoStatus::kClosed;
    *error = SystemError("accept", code);
    return IoStatus::kError;
  }
}

IoStatus Socket::Receive(char* buffer, std::size_t capacity, std::size_t* received, int timeout_ms,
                         std::string* error) {
  using Clock = std::chrono::steady_clock;
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
  const int chunk = static_cast<int>(std::min<std::size_t>(capacity, 1 << 30));
  for (;;) {
    if (waker_->shut) return IoStatus::kClosed;
    const int count = ::recv(Of(handle_), buffer, chunk, 0);
    if (count > 0) {
      *received = static_cast<std::size_t>(count);
      return IoStatus::kOk;
    }
    if (count == 0) return IoStatus::kClosed;
    const int code = ::WSAGetLastError();
    if (Closed(code)) return IoStatus::kClosed;
    if (code != WSAEWOULDBLOCK) {
      *error = SystemError("recv", code);
      return IoStatus::kError;
    }
    int left = -1;
    if (timeout_ms >= 0) {
      const auto remaining =
          std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
      left = static_cast<int>(std::max<decltype(remaining)>(remaining, 0));
    }
    const IoStatus woken = waker_->Wait(left, error);
    if (woken != IoStatus::kOk) return woken;
  }
}

IoStatus Socket::SendAll(const char* data, std::size_t size, int timeout_ms, std::string* error) {
  while (size > 0) {
    const int count =
        ::send(Of(handle_), data, static_cast<int>(std::min<std::size_t>(size, 1 << 30)), 0);
    if (count > 0) {
      data += count;
      size -= static_cast<std::size_t>(count);
      continue;
    }
    const int code = ::WSAGetLastError();
    if (code == WSAEWOULDBLOCK) {
      const IoStatus ready = WaitWritable(Of(handle_), timeout_ms, error);
      if (ready != IoStatus::kOk) return ready;
      continue;
    }
    if (Closed(code)) return IoStatus::kClosed;
    *error = SystemError("send", code);
    return IoStatus::kError;
  }
  return IoStatus::kOk;
}

void Socket::Shutdown() {
  if (!valid()) return;
  waker_->shut = true;
  // The peer sees the end of the stream now. Only the sending side: shutting
  // the receiving side would answer the peer's next bytes with a reset, which
  // can destroy what it has not read yet.
  ::shutdown(Of(handle_), SD_SEND);
  ::WSASetEvent(waker_->event);
}

std::uint16_t Socket::local_port() const {
  sockaddr_storage address{};
  int length = sizeof address;
  if (::getsockname(Of(handle_), reinterpret_cast<sockaddr*>(&address), &length) != 0) return 0;
  if (address.ss_family == AF_INET) {
    return ntohs(reinterpret_cast<const sockaddr_in&>(address).sin_port);
  }
  return ntohs(reinterpret_cast<const sockaddr_in6&>(address).sin6_port);
}

}  // namespace link
}  // namespace gcuproto
