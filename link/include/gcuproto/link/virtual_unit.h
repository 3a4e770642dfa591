// A unit in software: it answers Command packets with Response packets from
// a configuration and replays a blackbox log through its data logger and CAN
// capture.
#ifndef GCUPROTO_LINK_VIRTUAL_UNIT_H
#define GCUPROTO_LINK_VIRTUAL_UNIT_H

#include <gcuproto/commands.pb.h>
#include <gcuproto/link/export.h>
#include <gcuproto/link/unit_link.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace gcuproto {
namespace link {

struct GCUPROTO_LINK_EXPORT VirtualUnitOptions {
  // Text-format unit configuration (see the README), and the name its errors give.
  std::string config_text;
  std::string config_name = "config";
  // Blackbox log whose logger and CAN lines the unit delivers; empty: none.
  std::string replay_path;
  // How fast the log's time runs: 1 its own pace, 2 twice as fast, 0 as fast as possible.
  double speed = 1.0;
  double seconds_per_tick = 0.001;  // of the log's time stamps
  // Override the configuration's serial number and firmware version.
  std::optional<std::string> serial_number;
  std::optional<std::string> firmware_version;  // "MAJOR.MINOR.BUILD"
};

// The configuration and the loaded log, shared by the units made from it.
class UnitSetup;

// Reads the configuration and the log; null with `*error` ("NAME:LINE:COLUMN:
// what", "LOG: what") when either is bad.
GCUPROTO_LINK_EXPORT std::shared_ptr<const UnitSetup> PrepareVirtualUnit(
    const VirtualUnitOptions& options, std::string* error);

class GCUPROTO_LINK_EXPORT VirtualUnit {
 public:
  // Receives every Response: answers, and captured CAN frames (unsolicited)
  // from a thread of the unit's own. Calls never overlap.
  using Sink = std::function<void(const Response& response, bool unsolicited)>;

  VirtualUnit(std::shared_ptr<const UnitSetup> setup, Sink sink);
  ~VirtualUnit();
  VirtualUnit(const VirtualUnit&) = delete;
  VirtualUnit& operator=(const VirtualUnit&) = delete;

  // Answers one packet with exactly one Response. A data request may wait
  // until the log's next line is due. Called from one thread at a time.
  void Handle(std::string_view packet);
  void Handle(const Command& command);
  // Stops the data logger and the CAN capture, as a new connection finds the unit.
  void Reset();
  UnitIdentity Identity() const;

 private:
  struct State;
  std::unique_ptr<State> state_;
};

// The in-process unit behind a software server: one VirtualUnit with a
// queue of packets and a thread that answers them.
GCUPROTO_LINK_EXPORT std::unique_ptr<UnitLink> MakeVirtualUnitLink(
    std::shared_ptr<const UnitSetup> setup);

}  // namespace link
}  // namespace gcuproto

#endif  // GCUPROTO_LINK_VIRTUAL_UNIT_H
