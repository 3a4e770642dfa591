// The unit behind the software server, reached over some transport.
#ifndef GCUPROTO_LINK_UNIT_LINK_H
#define GCUPROTO_LINK_UNIT_LINK_H

#include <gcuproto/SoftwareServer.pb.h>
#include <gcuproto/commands.pb.h>
#include <gcuproto/link/endpoint.h>
#include <gcuproto/link/export.h>
#include <gcuproto/link/frame.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace gcuproto {
namespace link {

// Who the connected unit is, as the software server reports it.
struct GCUPROTO_LINK_EXPORT UnitIdentity {
  std::string serial_number;
  GetSerialNumberResp::DeviceMode mode = GetSerialNumberResp::ApplicationMode;
  std::uint32_t usb_vid = 0;
  std::uint32_t usb_pid = 0;
  std::string firmware_version;  // "MAJOR.MINOR.BUILD"
};

// A packet from the unit: an encoded Response. Unsolicited packets (captured
// CAN frames) answer no command.
struct UnitPacket {
  std::string bytes;
  bool unsolicited = false;
};

// True for a packet the unit sends on its own (a captured CAN frame) rather
// than as the answer to a command.
GCUPROTO_LINK_EXPORT bool IsUnsolicited(const Response& response);

// A transport to one unit. The unit answers every packet sent with exactly
// one packet, in the order sent, and may send unsolicited packets in between.
class GCUPROTO_LINK_EXPORT UnitLink {
 public:
  using PacketHandler = std::function<void(UnitPacket packet)>;

  virtual ~UnitLink();
  // Connects; from then on every packet from the unit goes to `handler`,
  // called from one thread of the link's own.
  virtual bool Open(PacketHandler handler, std::string* error) = 0;
  // Hands one packet (an encoded Command) to the unit; it may wait while the
  // unit's queue is full.
  virtual bool Send(std::string packet, std::string* error) = 0;
  // Disconnects; the handler is not called once this returns.
  virtual void Close() = 0;
  virtual UnitIdentity Identity() const = 0;
  virtual std::string Describe() const = 0;
};

// A unit reached over TCP, speaking Command/Response frames (gcuproto sim
// --port, or a unit bridge). The serial number and firmware version are asked
// from the unit on Open(); `usb` gives the mode and USB identity to report.
GCUPROTO_LINK_EXPORT std::unique_ptr<UnitLink> MakeTcpUnitLink(const Endpoint& endpoint,
                                                               const FrameLimits& limits,
                                                               UnitIdentity usb);

}  // namespace link
}  // namespace gcuproto

#endif  // GCUPROTO_LINK_UNIT_LINK_H
