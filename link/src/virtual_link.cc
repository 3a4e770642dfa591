// The in-process unit behind a software server: packets queue up for one
// thread that hands them to a VirtualUnit, as a unit takes its commands one
// after the other.
#include <gcuproto/link/virtual_unit.h>

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

namespace gcuproto {
namespace link {

namespace {

constexpr std::size_t kMaxQueuedPackets = 1024;

class VirtualUnitLink : public UnitLink {
 public:
  explicit VirtualUnitLink(std::shared_ptr<const UnitSetup> setup)
      : unit_(std::move(setup), [this](const Response& response, bool unsolicited) {
          handler_(UnitPacket{response.SerializeAsString(), unsolicited});
        }) {}

  ~VirtualUnitLink() override { Close(); }

  bool Open(PacketHandler handler, std::string*) override {
    Close();
    handler_ = std::move(handler);
    open_ = true;
    worker_ = std::thread([this] { Work(); });
    return true;
  }

  bool Send(std::string packet, std::string* error) override {
    std::unique_lock<std::mutex> lock(mutex_);
    room_.wait(lock, [this] { return !open_ || queue_.size() < kMaxQueuedPackets; });
    if (!open_) {
      *error = "the unit is not connected";
      return false;
    }
    queue_.push_back(std::move(packet));
    ready_.notify_one();
    return true;
  }

  void Close() override {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      open_ = false;
      queue_.clear();
    }
    ready_.notify_all();
    room_.notify_all();
    unit_.Reset();  // ends a data request waiting for its line
    if (worker_.joinable()) worker_.join();
    unit_.Reset();
  }

  UnitIdentity Identity() const override { return unit_.Identity(); }
  std::string Describe() const override { return "virtual unit " + unit_.Identity().serial_number; }

 private:
  void Work() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
      ready_.wait(lock, [this] { return !open_ || !queue_.empty(); });
      if (!open_) return;
      std::string packet = std::move(queue_.front());
      queue_.pop_front();
      room_.notify_one();
      lock.unlock();
      unit_.Handle(packet);
      lock.lock();
    }
  }

  PacketHandler handler_;
  VirtualUnit unit_;
  std::mutex mutex_;
  std::condition_variable ready_;
  std::condition_variable room_;
  std::deque<std::string> queue_;
  bool open_ = false;
  std::thread worker_;
};

}  // namespace

std::unique_ptr<UnitLink> MakeVirtualUnitLink(std::shared_ptr<const UnitSetup> setup) {
  return std::make_unique<VirtualUnitLink>(std::move(setup));
}

UnitLink::~UnitLink() = default;

bool IsUnsolicited(const Response& response) { return response.resp_case() == Response::kCandump; }

}  // namespace link
}  // namespace gcuproto
