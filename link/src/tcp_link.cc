// A unit reached over TCP with Command/Response frames.
#include <gcuproto/link/connection.h>
#include <gcuproto/link/unit_link.h>

#include <deque>
#include <mutex>
#include <optional>
#include <thread>

namespace gcuproto {
namespace link {

namespace {

// How long the reader waits on the socket before it looks for answers of its own.
constexpr std::chrono::milliseconds kPoll{50};

std::string FatalAnswer(const std::string& why) {
  Response response;
  response.set_version(1);
  response.mutable_fatalerror()->set_message(why);
  return response.SerializeAsString();
}

class TcpUnitLink : public UnitLink {
 public:
  TcpUnitLink(const Endpoint& endpoint, const FrameLimits& limits, UnitIdentity usb)
      : endpoint_(endpoint), limits_(limits), identity_(std::move(usb)) {}
  ~TcpUnitLink() override { Close(); }

  bool Open(PacketHandler handler, std::string* error) override {
    Close();
    connection_ = Connection::Connect(endpoint_, limits_, limits_.frame_timeout, error);
    if (!connection_ || !Identify(error)) {
      connection_.reset();
      return false;
    }
    handler_ = std::move(handler);
    running_ = true;
    reader_ = std::thread([this] { Read(); });
    return true;
  }

  bool Send(std::string packet, std::string* error) override {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!running_ || broken_) {
      *error = "the unit at " + endpoint_.ToString() + " is not connected";
      return false;
    }
    Command command;
    if (!command.ParseFromString(packet)) {
      // Not a Command: answered here, as the unit would, in its turn.
      Response response;
      response.set_version(1);
      response.set_result(commandDecodeError);
      expected_.push_back(response.SerializeAsString());
      return true;
    }
    expected_.push_back(std::nullopt);
    if (!connection_->Write(command, error)) {
      expected_.pop_back();
      return false;
    }
    return true;
  }

  void Close() override {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      running_ = false;
    }
    if (connection_) connection_->Shutdown();
    if (reader_.joinable()) reader_.join();
    connection_.reset();
    expected_.clear();
    broken_ = false;
  }

  UnitIdentity Identity() const override {
    std::lock_guard<std::mutex> lock(mutex_);
    return identity_;
  }
  std::string Describe() const override { return "unit at " + endpoint_.ToString(); }

 private:
  // Asks a freshly connected unit who it is.
  bool Identify(std::string* error) {
    Command command;
    command.set_version(1);
    command.mutable_getmodulekey();
    Response answer;
    if (!Ask(command, &answer, error)) return false;
    if (answer.has_publickey()) identity_.serial_number = answer.publickey().serialnumber();
    command.mutable_getfirmwareid();
    if (!Ask(command, &answer, error)) return false;
    if (answer.has_firmwareid()) {
      const FirmwareId& id = answer.firmwareid();
      identity_.firmware_version = std::to_string(id.major_version()) + "." +
                                   std::to_string(id.minor_version()) + "." +
                                   std::to_string(id.build_version());
    }
    return true;
  }

  bool Ask(const Command& command, Response* answer, std::string* error) {
    if (!connection_->Write(command, error)) return false;
    do {
      const ReadStatus status = connection_->Read(answer, limits_.frame_timeout, error);
      if (status == ReadStatus::kTimeout || status == ReadStatus::kClosed) {
        *error = Describe() + " does not answer";
      }
      if (status != ReadStatus::kOk) return false;
    } while (IsUnsolicited(*answer));
    return true;
  }

  // Hands on the answers made here that are next in turn.
  void DeliverLocal(std::unique_lock<std::mutex>& lock) {
    while (!expected_.empty() && expected_.front()) {
      std::string packet = std::move(*expected_.front());
      expected_.pop_front();
      lock.unlock();
      handler_(UnitPacket{std::move(packet), false});
      lock.lock();
    }
  }

  void Read() {
    Response response;
    std::string error;
    for (;;) {
      const ReadStatus status = connection_->Read(&response, kPoll, &error);
      std::unique_lock<std::mutex> lock(mutex_);
      if (!running_) return;
      if (status == ReadStatus::kOk) {
        const bool unsolicited = IsUnsolicited(response);
        if (!unsolicited && !expected_.empty()) expected_.pop_front();
        lock.unlock();
        handler_(UnitPacket{response.SerializeAsString(), unsolicited});
        lock.lock();
      } else if (status != ReadStatus::kTimeout) {
        // The unit is gone: every packet still waiting is answered with why.
        broken_ = true;
        const std::string why =
            Describe() + ": " + (status == ReadStatus::kClosed ? "connection closed" : error);
        while (!expected_.empty()) {
          std::string packet = expected_.front() ? std::move(*expected_.front()) : FatalAnswer(why);
          expected_.pop_front();
          lock.unlock();
          handler_(UnitPacket{std::move(packet), false});
          lock.lock();
        }
        return;
      }
      DeliverLocal(lock);
    }
  }

  Endpoint endpoint_;
  FrameLimits limits_;
  UnitIdentity identity_;
  PacketHandler handler_;
  std::unique_ptr<Connection> connection_;
  mutable std::mutex mutex_;
  std::deque<std::optional<std::string>> expected_;  // a local answer, or one the unit owes
  bool running_ = false;
  bool broken_ = false;
  std::thread reader_;
};

}  // namespace

std::unique_ptr<UnitLink> MakeTcpUnitLink(const Endpoint& endpoint, const FrameLimits& limits,
                                          UnitIdentity usb) {
  return std::make_unique<TcpUnitLink>(endpoint, limits, std::move(usb));
}

}  // namespace link
}  // namespace gcuproto
