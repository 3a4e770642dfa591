// What both servers share: the listening socket, a thread per connection,
// the token check and the log.
#ifndef GCUPROTO_LINK_SRC_ACCEPTOR_H
#define GCUPROTO_LINK_SRC_ACCEPTOR_H

#include <gcuproto/link/connection.h>
#include <gcuproto/link/server.h>

#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "socket.h"

namespace gcuproto {
namespace link {

class Acceptor {
 public:
  // Serves one connection in its own thread; returns when the connection ends.
  using Session = std::function<void(Connection& connection)>;

  Acceptor(const ServerOptions& options, Session session);
  ~Acceptor();

  bool Start(std::string* error);
  // Stops accepting, ends every connection and waits for their sessions.
  void Stop();
  std::uint16_t port() const { return port_; }
  const ServerOptions& options() const { return options_; }
  void Log(const std::string& line) const;

 private:
  struct Entry {
    std::shared_ptr<Connection> connection;
    std::thread thread;
    bool done = false;
  };

  void AcceptLoop();
  void Serve(Entry* entry);
  bool CheckToken(Connection& connection);

  ServerOptions options_;
  Session session_;
  Socket listener_;
  std::uint16_t port_ = 0;
  std::thread accept_thread_;
  mutable std::mutex log_mutex_;
  std::mutex mutex_;
  std::list<Entry> entries_;
  bool stopping_ = false;
};

}  // namespace link
}  // namespace gcuproto

#endif  // GCUPROTO_LINK_SRC_ACCEPTOR_H
