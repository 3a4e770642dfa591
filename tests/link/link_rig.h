// What the link tests share: the configured unit, servers on loopback port 0
// and clients of them, and a raw socket for bytes no client would send.
#ifndef GCUPROTO_TESTS_LINK_LINK_RIG_H
#define GCUPROTO_TESTS_LINK_LINK_RIG_H

#include <gcuproto/link/client.h>
#include <gcuproto/link/server.h>
#include <gcuproto/link/virtual_unit.h>
#include <gtest/gtest.h>

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "scratch_dir.h"

namespace gcuproto::link::testing {

using gcuproto_test::ReadFile;
using gcuproto_test::ScratchDir;
std::string TestData(const std::string& name);  // a file of tests/link

std::shared_ptr<const UnitSetup> Unit(const std::string& replay = "", double speed = 0);

// Log lines of a server, kept for the test to look at.
class Log {
 public:
  std::function<void(const std::string&)> Sink();
  bool Holds(const std::string& part) const;
  std::string All() const;

 private:
  mutable std::mutex mutex_;
  std::vector<std::string> lines_;
};

Endpoint Loopback(std::uint16_t port);
ServerOptions Options(Log* log);

// The three ways a host tool reaches the unit.
enum class Path { kDirect, kServer, kServerOverTcp };

class Rig {
 public:
  Rig(Path path, std::shared_ptr<const UnitSetup> setup, ServerOptions options);
  std::unique_ptr<UnitClient> Client(const ClientOptions& options = {}) const;
  std::uint16_t port() const;  // of the server a client connects to

  Log log;

 private:
  Path path_;
  std::unique_ptr<UnitServer> unit_server_;
  std::unique_ptr<SoftwareServer> software_server_;
};

// A plain TCP client, for frames that are wrong on purpose.
class RawSocket {
 public:
  explicit RawSocket(std::uint16_t port);
  ~RawSocket();
  void Write(const std::string& bytes);
  void CloseWrite();
  // True once the peer has closed the connection, within `seconds`.
  bool ClosedByPeer(double seconds);

 private:
  std::intptr_t fd_ = -1;  // a SOCKET on Windows
};

}  // namespace gcuproto::link::testing

#endif  // GCUPROTO_TESTS_LINK_LINK_RIG_H
