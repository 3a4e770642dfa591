// The raw test socket over POSIX sockets.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "link_rig.h"

namespace gcuproto::link::testing {

RawSocket::RawSocket(std::uint16_t port) {
  fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  EXPECT_EQ(0, ::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address));
}

RawSocket::~RawSocket() { ::close(fd_); }

void RawSocket::Write(const std::string& bytes) {
  EXPECT_EQ(static_cast<ssize_t>(bytes.size()),
            ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL));
}

void RawSocket::CloseWrite() { ::shutdown(fd_, SHUT_WR); }

bool RawSocket::ClosedByPeer(double seconds) {
  pollfd entry{static_cast<int>(fd_), POLLIN, 0};
  char byte;
  while (::poll(&entry, 1, static_cast<int>(seconds * 1000)) > 0) {
    const ssize_t got = ::recv(fd_, &byte, 1, 0);
    if (got <= 0) return true;
  }
  return false;
}

}  // namespace gcuproto::link::testing
