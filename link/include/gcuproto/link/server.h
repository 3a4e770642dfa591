// The two servers of the link library: the software server, which serves
// SoftwareServerRequest frames in front of one unit, and the unit server,
// which serves Command frames with a virtual unit per connection.
#ifndef GCUPROTO_LINK_SERVER_H
#define GCUPROTO_LINK_SERVER_H

#include <gcuproto/SoftwareServer.pb.h>
#include <gcuproto/link/endpoint.h>
#include <gcuproto/link/export.h>
#include <gcuproto/link/frame.h>
#include <gcuproto/link/unit_link.h>
#include <gcuproto/link/virtual_unit.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace gcuproto {
namespace link {

struct GCUPROTO_LINK_EXPORT ServerOptions {
  Endpoint listen;  // 127.0.0.1, any free port
  // When not empty, a client's first frame must be a CommandData holding it.
  std::string token;
  FrameLimits limits;
  std::size_t max_clients = 64;
  // Answers waiting for a slow client; past this the client is disconnected.
  std::size_t max_queued_bytes = 32u << 20;
  // Answers a message box; without it, the box's escape button is the answer.
  std::function<ShowMessageResp::Buttons(const ShowMessageReq&)> show_message;
  // One line per event (a client refused or closed, and why); null: stderr.
  std::function<void(const std::string&)> log;
};

class GCUPROTO_LINK_EXPORT SoftwareServer {
 public:
  // Opens `unit` and starts listening; null with `*error` when either fails.
  static std::unique_ptr<SoftwareServer> Start(const ServerOptions& options,
                                               std::unique_ptr<UnitLink> unit, std::string* error);
  virtual ~SoftwareServer();
  virtual std::uint16_t port() const = 0;
  // Closes every connection and the unit; also done by the destructor.
  virtual void Stop() = 0;
};

class GCUPROTO_LINK_EXPORT UnitServer {
 public:
  static std::unique_ptr<UnitServer> Start(const ServerOptions& options,
                                           std::shared_ptr<const UnitSetup> setup,
                                           std::string* error);
  virtual ~UnitServer();
  virtual std::uint16_t port() const = 0;
  virtual void Stop() = 0;
};

}  // namespace link
}  // namespace gcuproto

#endif  // GCUPROTO_LINK_SERVER_H
