// The software server: SoftwareServerRequest frames from many clients, in
// front of one unit.
//
// Packets for the unit are sent in one order and the unit answers them in
// that order, so a queue of who sent what routes each answer back. Packets
// the unit sends on its own (CAN frames) go to every client that has talked
// to the unit. Each client has a writer thread and a bounded queue of
// answers, so a slow client holds up nobody else.
#include <gcuproto/link/server.h>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <set>
#include <thread>

#include "acceptor.h"

namespace gcuproto {
namespace link {

namespace {

struct Client {
  explicit Client(Connection* c) : connection(c) {}

  Connection* connection;
  std::mutex mutex;
  std::condition_variable ready;
  std::deque<SoftwareServerResponse> queue;
  std::size_t queued_bytes = 0;
  bool closing = false;
  // Packets sent to the unit and answered, for the progress counters.
  std::int32_t sent = 0;
  std::int32_t answered = 0;
  std::int32_t unsolicited = 0;
};

struct Pending {
  std::weak_ptr<Client> client;
  std::int32_t progress = 0;
  std::int32_t progress_total = 0;
};

class SoftwareServerImpl : public SoftwareServer {
 public:
  SoftwareServerImpl(const ServerOptions& options, std::unique_ptr<UnitLink> unit)
      : unit_(std::move(unit)),
        acceptor_(options, [this](Connection& connection) { Serve(connection); }),
        started_(std::chrono::steady_clock::now()) {}

  ~SoftwareServerImpl() override { Stop(); }

  bool Start(std::string* error) {
    std::string why;
    if (!OpenUnit(&why)) {
      *error = unit_->Describe() + ": " + why;
      return false;
    }
    return acceptor_.Start(error);
  }

  std::uint16_t port() const override { return acceptor_.port(); }

  void Stop() override {
    acceptor_.Stop();
    std::lock_guard<std::mutex> lock(unit_mutex_);
    unit_->Close();
    connected_ = false;
  }

 private:
  bool OpenUnit(std::string* error) {
    connected_ = unit_->Open([this](UnitPacket packet) { FromUnit(std::move(packet)); }, error);
    return connected_;
  }

  std::uint32_t Timestamp() const {
    const auto elapsed = std::chrono::steady_clock::now() - started_;
    return static_cast<std::uint32_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count());
  }

  // Queues an answer for the client's writer; a client that lets too much
  // pile up is disconnected.
  void Deliver(const std::shared_ptr<Client>& client, SoftwareServerResponse response) {
    std::lock_guard<std::mutex> lock(client->mutex);
    if (client->closing) return;
    const std::size_t size = response.ByteSizeLong();
    if (client->queued_bytes + size > acceptor_.options().max_queued_bytes) {
      acceptor_.Log(client->connection->peer() + ": closed, it does not read its answers");
      client->closing = true;
      client->connection->Shutdown();
      client->ready.notify_all();
      return;
    }
    client->queued_bytes += size;
    client->queue.push_back(std::move(response));
    client->ready.notify_all();
  }

  void DeliverPacket(const std::shared_ptr<Client>& client, std::string bytes,
                     const Pending* answered) {
    SoftwareServerResponse response;
    ReceivePacketFromGcu* packet = response.mutable_receivepacketfromgcu();
    packet->set_timestamp(Timestamp());
    packet->set_data(std::move(bytes));
    {
      std::lock_guard<std::mutex> lock(client->mutex);
      if (answered == nullptr) {
        packet->set_progress(++client->unsolicited);
      } else if (answered->progress_total != 0) {
        // The sender counts its own progress (a flasher's blocks): echoed.
        ++client->answered;
        packet->set_progress(answered->progress);
        packet->set_progresstotal(answered->progress_total);
      } else {
        packet->set_progress(++client->answered);
        packet->set_progresstotal(client->sent);
      }
    }
    Deliver(client, std::move(response));
  }

  void FromUnit(UnitPacket packet) {
    if (packet.unsolicited) {
      std::vector<std::shared_ptr<Client>> users;
      {
        std::lock_guard<std::mutex> lock(clients_mutex_);
        users.assign(unit_users_.begin(), unit_users_.end());
      }
      for (const auto& client : users) DeliverPacket(client, packet.bytes, nullptr);
      return;
    }
    Pending pending;
    {
      std::lock_guard<std::mutex> lock(pending_mutex_);
      if (pending_.empty()) {
        acceptor_.Log(unit_->Describe() + ": an answer nobody waits for, dropped");
        return;
      }
      pending = pending_.front();
      pending_.pop_front();
    }
    if (std::shared_ptr<Client> client = pending.client.lock()) {
      DeliverPacket(client, std::move(packet.bytes), &pending);
    }
  }

  // Answers every packet still waiting, after the unit was disconnected.
  void FailPending(const std::string& why) {
    std::deque<Pending> failed;
    {
      std::lock_guard<std::mutex> lock(pending_mutex_);
      failed.swap(pending_);
    }
    Response response;
    response.set_version(1);
    response.mutable_fatalerror()->set_message(why);
    for (const Pending& pending : failed) {
      if (std::shared_ptr<Client> client = pending.client.lock()) {
        DeliverPacket(client, response.SerializeAsString(), &pending);
      }
    }
  }

  void ToUnit(const std::shared_ptr<Client>& client, const SendPacketToGcu& packet) {
    {
      std::lock_guard<std::mutex> lock(clients_mutex_);
      unit_users_.insert(client);
    }
    {
      std::lock_guard<std::mutex> lock(client->mutex);
      ++client->sent;
    }
    Pending pending{client, packet.progress(), packet.progresstotal()};
    std::string error;
    std::unique_lock<std::mutex> lock(unit_mutex_);
    if (connected_) {
      {
        std::lock_guard<std::mutex> queue_lock(pending_mutex_);
        pending_.push_back(pending);
      }
      if (unit_->Send(packet.data(), &error)) return;
      std::lock_guard<std::mutex> queue_lock(pending_mutex_);
      pending_.pop_back();
    } else {
      error = "no unit connected";
    }
    lock.unlock();
    Response response;
    response.set_version(1);
    response.mutable_fatalerror()->set_message(error);
    DeliverPacket(client, response.SerializeAsString(), &pending);
  }

  bool Reconnect() {
    std::lock_guard<std::mutex> lock(unit_mutex_);
    unit_->Close();
    connected_ = false;
    FailPending(unit_->Describe() + ": reconnected before it answered");
    std::string error;
    if (!OpenUnit(&error)) acceptor_.Log(unit_->Describe() + ": cannot reconnect: " + error);
    return connected_;
  }

  void Answer(const std::shared_ptr<Client>& client, const SoftwareServerRequest& request) {
    SoftwareServerResponse response;
    switch (request.req_case()) {
      case SoftwareServerRequest::kSendPacketToGcu:
        ToUnit(client, request.sendpackettogcu());
        return;
      case SoftwareServerRequest::kGetSerialNumber: {
        const UnitIdentity identity = unit_->Identity();
        GetSerialNumberResp* answer = response.mutable_getserialnumber();
        answer->set_serialno(identity.serial_number);
        answer->set_devicemode(identity.mode);
        answer->set_deviceusbvid(identity.usb_vid);
        answer->set_deviceusbpid(identity.usb_pid);
        break;
      }
      case SoftwareServerRequest::kGetFirmwareVersion:
        response.mutable_getfirmwareversion()->set_version(unit_->Identity().firmware_version);
        break;
      case SoftwareServerRequest::kReconnect:
        Reconnect();
        response.mutable_reconnect();
        break;
      case SoftwareServerRequest::kConnect: {
        // One unit: connecting to it (again) works, to any other does not.
        const bool same = request.connect().serialno() == unit_->Identity().serial_number;
        response.mutable_connect()->set_result(same && Reconnect() ? Ok : Error);
        break;
      }
      case SoftwareServerRequest::kShowMessage: {
        const ShowMessageReq& box = request.showmessage();
        const auto& ask = acceptor_.options().show_message;
        response.mutable_showmessage()->set_clickedbutton(
            ask ? ask(box) : static_cast<ShowMessageResp::Buttons>(box.escapebutton()));
        break;
      }
      case SoftwareServerRequest::REQ_NOT_SET:
        break;  // an empty request has an empty answer
    }
    Deliver(client, std::move(response));
  }

  void Write(const std::shared_ptr<Client>& client) {
    std::unique_lock<std::mutex> lock(client->mutex);
    for (;;) {
      client->ready.wait(lock, [&] { return client->closing || !client->queue.empty(); });
      if (client->queue.empty()) return;
      SoftwareServerResponse response = std::move(client->queue.front());
      client->queue.pop_front();
      lock.unlock();
      std::string error;
      const bool written = client->connection->Write(response, &error);
      lock.lock();
      client->queued_bytes -= std::min(client->queued_bytes, response.ByteSizeLong());
      if (!written) {
        if (!client->closing) acceptor_.Log("closed " + error);
        client->closing = true;
        client->connection->Shutdown();
        return;
      }
    }
  }

  void Serve(Connection& connection) {
    auto client = std::make_shared<Client>(&connection);
    std::thread writer([this, client] { Write(client); });
    SoftwareServerRequest request;
    std::string error;
    for (;;) {
      const ReadStatus status = connection.Read(&request, std::chrono::milliseconds(-1), &error);
      if (status == ReadStatus::kBadFrame) {
        acceptor_.Log("closed " + error);
        break;
      }
      if (status != ReadStatus::kOk) break;
      Answer(client, request);
      request.Clear();
    }
    {
      std::lock_guard<std::mutex> lock(clients_mutex_);
      unit_users_.erase(client);
    }
    {
      std::lock_guard<std::mutex> lock(client->mutex);
      client->closing = true;
      client->ready.notify_all();
    }
    writer.join();
  }

  std::unique_ptr<UnitLink> unit_;
  std::mutex unit_mutex_;  // orders packets to the unit with the pending queue
  bool connected_ = false;
  std::mutex pending_mutex_;
  std::deque<Pending> pending_;
  std::mutex clients_mutex_;
  std::set<std::shared_ptr<Client>> unit_users_;
  Acceptor acceptor_;
  std::chrono::steady_clock::time_point started_;
};

}  // namespace

SoftwareServer::~SoftwareServer() = default;

std::unique_ptr<SoftwareServer> SoftwareServer::Start(const ServerOptions& options,
                                                      std::unique_ptr<UnitLink> unit,
                                                      std::string* error) {
  auto server = std::make_unique<SoftwareServerImpl>(options, std::move(unit));
  if (!server->Start(error)) return nullptr;
  return server;
}

}  // namespace link
}  // namespace gcuproto
