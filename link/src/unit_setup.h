// What a virtual unit starts from: its configuration and the loaded log.
#ifndef GCUPROTO_LINK_SRC_UNIT_SETUP_H
#define GCUPROTO_LINK_SRC_UNIT_SETUP_H

#include <gcuproto/candump.pb.h>
#include <gcuproto/link/unit_link.h>
#include <gcuproto/link/virtual_unit.h>

#include <cstdint>
#include <string>
#include <vector>

#include "unit_config.pb.h"

namespace gcuproto {
namespace link {

struct ReplayLine {
  bool can = false;
  std::uint32_t timestamp = 0;
  std::string logger_line;  // the encoded BlackboxFileLine, for a logger line
  CandumpResp frame;        // for a CAN line
};

class UnitSetup {
 public:
  config::UnitConfig config;
  UnitIdentity identity;
  FirmwareId firmware;
  std::vector<ReplayLine> replay;
  double speed = 1.0;  // 0: as fast as possible
  double seconds_per_tick = 0.001;
};

}  // namespace link
}  // namespace gcuproto

#endif  // GCUPROTO_LINK_SRC_UNIT_SETUP_H
