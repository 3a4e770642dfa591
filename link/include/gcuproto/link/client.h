// Host-side clients: of a unit spoken to directly (Command/Response frames)
// and of the software server (SoftwareServerRequest/Response frames).
#ifndef GCUPROTO_LINK_CLIENT_H
#define GCUPROTO_LINK_CLIENT_H

#include <gcuproto/SoftwareServer.pb.h>
#include <gcuproto/commands.pb.h>
#include <gcuproto/link/endpoint.h>
#include <gcuproto/link/export.h>
#include <gcuproto/link/frame.h>

#include <chrono>
#include <deque>
#include <functional>
#include <memory>
#include <string>

namespace gcuproto {
namespace link {

class Connection;

struct GCUPROTO_LINK_EXPORT ClientOptions {
  FrameLimits limits;
  std::chrono::milliseconds connect_timeout{5000};
  std::string token;  // sent first when not empty
};

// A unit: commands go out, its packets come back, answers in the order of the
// commands with captured CAN frames in between. One thread at a time.
class GCUPROTO_LINK_EXPORT UnitClient {
 public:
  virtual ~UnitClient();
  virtual bool Send(const Command& command, std::string* error) = 0;
  virtual ReadStatus Receive(Response* response, std::chrono::milliseconds timeout,
                             std::string* error) = 0;

  // Sends `command` and waits up to `timeout` for its answer; CAN frames that
  // arrive first go to `on_frame` (or are dropped without one). False with
  // `*error` on a timeout or a broken connection.
  bool Exchange(const Command& command, Response* answer, std::chrono::milliseconds timeout,
                std::string* error, const std::function<void(const Response&)>& on_frame = {});
};

// A unit that serves Command frames itself (gcuproto sim --port, a unit bridge).
GCUPROTO_LINK_EXPORT std::unique_ptr<UnitClient> ConnectUnit(const Endpoint& endpoint,
                                                             const ClientOptions& options,
                                                             std::string* error);

// The software server; as a UnitClient it wraps commands in sendPacketToGcu
// and unwraps the unit's receivePacketFromGcu packets.
class GCUPROTO_LINK_EXPORT ServerClient : public UnitClient {
 public:
  static std::unique_ptr<ServerClient> Connect(const Endpoint& endpoint,
                                               const ClientOptions& options, std::string* error);
  ~ServerClient() override;

  bool Send(const Command& command, std::string* error) override;
  ReadStatus Receive(Response* response, std::chrono::milliseconds timeout,
                     std::string* error) override;

  // Sends `request` and waits for the server's answer to it. For
  // sendPacketToGcu that is the unit's answer, as receivePacketFromGcu.
  bool Call(const SoftwareServerRequest& request, SoftwareServerResponse* answer,
            std::chrono::milliseconds timeout, std::string* error);

  // The envelope of the last unit packet Receive() returned.
  const ReceivePacketFromGcu& last_packet() const { return last_packet_; }

 private:
  explicit ServerClient(std::unique_ptr<Connection> connection);
  // Reads one frame, keeping unit packets and server answers apart.
  ReadStatus ReadOne(std::chrono::milliseconds timeout, std::string* error);

  std::unique_ptr<Connection> connection_;
  std::deque<SoftwareServerResponse> packets_;  // receivePacketFromGcu, not yet taken
  std::deque<SoftwareServerResponse> answers_;  // the server's own answers
  ReceivePacketFromGcu last_packet_;
};

}  // namespace link
}  // namespace gcuproto

#endif  // GCUPROTO_LINK_CLIENT_H
