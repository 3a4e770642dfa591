// The raw test socket over Winsock.
#include <winsock2.h>
#include <ws2tcpip.h>

#include "link_rig.h"

namespace gcuproto::link::testing {

namespace {

SOCKET Of(std::intptr_t socket) { return static_cast<SOCKET>(socket); }

}  // namespace

RawSocket::RawSocket(std::uint16_t port) {
  WSADATA data;
  EXPECT_EQ(0, ::WSAStartup(MAKEWORD(2, 2), &data));
  fd_ = static_cast<std::intptr_t>(::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  EXPECT_EQ(0, ::connect(Of(fd_), reinterpret_cast<sockaddr*>(&address), sizeof address));
}

RawSocket::~RawSocket() {
  ::closesocket(Of(fd_));
  ::WSACleanup();
}

void RawSocket::Write(const std::string& bytes) {
  EXPECT_EQ(static_cast<int>(bytes.size()),
            ::send(Of(fd_), bytes.data(), static_cast<int>(bytes.size()), 0));
}

void RawSocket::CloseWrite() { ::shutdown(Of(fd_), SD_SEND); }

bool RawSocket::ClosedByPeer(double seconds) {
  WSAPOLLFD entry{Of(fd_), POLLRDNORM, 0};
  char byte;
  while (::WSAPoll(&entry, 1, static_cast<int>(seconds * 1000)) > 0) {
    if (::recv(Of(fd_), &byte, 1, 0) <= 0) return true;
  }
  return false;
}

}  // namespace gcuproto::link::testing
