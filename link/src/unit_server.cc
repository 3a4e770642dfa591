// Command/Response frames served by a virtual unit, one unit per connection,
// as a unit bridge serves the unit on its desk.
#include <gcuproto/link/server.h>

#include "acceptor.h"

namespace gcuproto {
namespace link {

namespace {

class UnitServerImpl : public UnitServer {
 public:
  UnitServerImpl(const ServerOptions& options, std::shared_ptr<const UnitSetup> setup)
      : setup_(std::move(setup)),
        acceptor_(options, [this](Connection& connection) { Serve(connection); }) {}
  ~UnitServerImpl() override { Stop(); }

  bool Start(std::string* error) { return acceptor_.Start(error); }
  std::uint16_t port() const override { return acceptor_.port(); }
  void Stop() override { acceptor_.Stop(); }

 private:
  void Serve(Connection& connection) {
    // The unit's calls of the sink never overlap, so it may write directly.
    VirtualUnit unit(setup_, [this, &connection](const Response& response, bool) {
      std::string error;
      if (!connection.Write(response, &error)) {
        acceptor_.Log("closed " + error);
        connection.Shutdown();
      }
    });
    Command command;
    std::string error;
    for (;;) {
      const ReadStatus status = connection.Read(&command, std::chrono::milliseconds(-1), &error);
      if (status == ReadStatus::kBadFrame) {
        acceptor_.Log("closed " + error);
        break;
      }
      if (status != ReadStatus::kOk) break;
      unit.Handle(command);
      command.Clear();
    }
    unit.Reset();
  }

  std::shared_ptr<const UnitSetup> setup_;
  Acceptor acceptor_;
};

}  // namespace

UnitServer::~UnitServer() = default;

std::unique_ptr<UnitServer> UnitServer::Start(const ServerOptions& options,
                                              std::shared_ptr<const UnitSetup> setup,
                                              std::string* error) {
  auto server = std::make_unique<UnitServerImpl>(options, std::move(setup));
  if (!server->Start(error)) return nullptr;
  return server;
}

}  // namespace link
}  // namespace gcuproto
