// Clients of a unit and of the software server.
#include <gcuproto/bootloader_commands.pb.h>
#include <gcuproto/link/client.h>
#include <gcuproto/link/connection.h>
#include <gcuproto/link/unit_link.h>

namespace gcuproto {
namespace link {

namespace {

using Clock = std::chrono::steady_clock;

// Packets kept for a later Receive() while waiting for an answer; older ones
// are dropped past this.
constexpr std::size_t kMaxKeptPackets = 4096;

std::chrono::milliseconds Left(Clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
  return left.count() > 0 ? left : std::chrono::milliseconds(0);
}

std::unique_ptr<Connection> Open(const Endpoint& endpoint, const ClientOptions& options,
                                 std::string* error) {
  std::unique_ptr<Connection> connection =
      Connection::Connect(endpoint, options.limits, options.connect_timeout, error);
  if (!connection || options.token.empty()) return connection;
  CommandData token;
  token.set_data(options.token);
  if (!connection->Write(token, error)) return nullptr;
  return connection;
}

std::string Why(ReadStatus status, const std::string& error, const std::string& peer) {
  switch (status) {
    case ReadStatus::kTimeout:
      return peer + ": no answer in time";
    case ReadStatus::kClosed:
      return peer + ": the connection was closed";
    default:
      return error;
  }
}

class DirectUnitClient : public UnitClient {
 public:
  explicit DirectUnitClient(std::unique_ptr<Connection> connection)
      : connection_(std::move(connection)) {}

  bool Send(const Command& command, std::string* error) override {
    return connection_->Write(command, error);
  }

  ReadStatus Receive(Response* response, std::chrono::milliseconds timeout,
                     std::string* error) override {
    std::string why;
    const ReadStatus status = connection_->Read(response, timeout, &why);
    if (status != ReadStatus::kOk) *error = Why(status, why, connection_->peer());
    return status;
  }

 private:
  std::unique_ptr<Connection> connection_;
};

}  // namespace

UnitClient::~UnitClient() = default;

bool UnitClient::Exchange(const Command& command, Response* answer,
                          std::chrono::milliseconds timeout, std::string* error,
                          const std::function<void(const Response&)>& on_frame) {
  if (!Send(command, error)) return false;
  const Clock::time_point deadline = Clock::now() + timeout;
  for (;;) {
    if (Receive(answer, Left(deadline), error) != ReadStatus::kOk) return false;
    if (!IsUnsolicited(*answer)) return true;
    if (on_frame) on_frame(*answer);
  }
}

std::unique_ptr<UnitClient> ConnectUnit(const Endpoint& endpoint, const ClientOptions& options,
                                        std::string* error) {
  std::unique_ptr<Connection> connection = Open(endpoint, options, error);
  if (!connection) return nullptr;
  return std::make_unique<DirectUnitClient>(std::move(connection));
}

ServerClient::ServerClient(std::unique_ptr<Connection> connection)
    : connection_(std::move(connection)) {}

ServerClient::~ServerClient() = default;

std::unique_ptr<ServerClient> ServerClient::Connect(const Endpoint& endpoint,
                                                    const ClientOptions& options,
                                                    std::string* error) {
  std::unique_ptr<Connection> connection = Open(endpoint, options, error);
  if (!connection) return nullptr;
  return std::unique_ptr<ServerClient>(new ServerClient(std::move(connection)));
}

ReadStatus ServerClient::ReadOne(std::chrono::milliseconds timeout, std::string* error) {
  SoftwareServerResponse response;
  std::string why;
  const ReadStatus status = connection_->Read(&response, timeout, &why);
  if (status != ReadStatus::kOk) {
    *error = Why(status, why, connection_->peer());
    return status;
  }
  auto& queue = response.has_receivepacketfromgcu() ? packets_ : answers_;
  if (queue.size() >= kMaxKeptPackets) queue.pop_front();
  queue.push_back(std::move(response));
  return ReadStatus::kOk;
}

bool ServerClient::Send(const Command& command, std::string* error) {
  SoftwareServerRequest request;
  command.SerializeToString(request.mutable_sendpackettogcu()->mutable_data());
  return connection_->Write(request, error);
}

ReadStatus ServerClient::Receive(Response* response, std::chrono::milliseconds timeout,
                                 std::string* error) {
  const Clock::time_point deadline = Clock::now() + timeout;
  while (packets_.empty()) {
    const ReadStatus status = ReadOne(timeout.count() < 0 ? timeout : Left(deadline), error);
    if (status != ReadStatus::kOk) return status;
  }
  last_packet_ = packets_.front().receivepacketfromgcu();
  packets_.pop_front();
  if (!response->ParseFromString(last_packet_.data())) {
    *error = connection_->peer() + ": a packet from the unit is not a Response";
    return ReadStatus::kBadFrame;
  }
  return ReadStatus::kOk;
}

bool ServerClient::Call(const SoftwareServerRequest& request, SoftwareServerResponse* answer,
                        std::chrono::milliseconds timeout, std::string* error) {
  if (!connection_->Write(request, error)) return false;
  const Clock::time_point deadline = Clock::now() + timeout;
  if (!request.has_sendpackettogcu()) {
    while (answers_.empty()) {
      if (ReadOne(Left(deadline), error) != ReadStatus::kOk) return false;
    }
    *answer = std::move(answers_.front());
    answers_.pop_front();
    return true;
  }
  // The unit's answer is the first packet that is not a CAN frame; those
  // stay for Receive().
  for (;;) {
    for (auto it = packets_.begin(); it != packets_.end(); ++it) {
      Response response;
      if (!response.ParseFromString(it->receivepacketfromgcu().data()) ||
          !IsUnsolicited(response)) {
        *answer = std::move(*it);
        packets_.erase(it);
        return true;
      }
    }
    if (ReadOne(Left(deadline), error) != ReadStatus::kOk) return false;
  }
}

}  // namespace link
}  // namespace gcuproto
