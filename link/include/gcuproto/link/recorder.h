// A data-logger client: records what a unit's data logger and CAN capture
// deliver into a blackbox file.
#ifndef GCUPROTO_LINK_RECORDER_H
#define GCUPROTO_LINK_RECORDER_H

#include <gcuproto/datalogger_commands.pb.h>
#include <gcuproto/link/client.h>
#include <gcuproto/link/export.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

namespace gcuproto {
namespace link {

struct GCUPROTO_LINK_EXPORT RecordOptions {
  DataloggerStart logger;                    // how the data logger is started
  std::chrono::milliseconds timeout{10000};  // for each answer of the unit
  // Asked between records; true ends the session: logger and capture are
  // stopped and the file closed.
  std::function<bool()> stop_requested;
};

struct RecordSummary {
  std::uint64_t logger_lines = 0;
  std::uint64_t can_lines = 0;
};

// Starts the data logger and the CAN capture and appends every record that
// arrives to the blackbox file at `path` until `stop_requested` says so. A
// logger line is the unit's data answer byte for byte; a CAN line is
// numbered on from the line before it. The file is flushed after every
// answer, so it is valid, holding every record received, whenever the
// session ends. False with `*error` when the unit or the file fails.
GCUPROTO_LINK_EXPORT bool Record(UnitClient& unit, const std::string& path,
                                 const RecordOptions& options, RecordSummary* summary,
                                 std::string* error);

}  // namespace link
}  // namespace gcuproto

#endif  // GCUPROTO_LINK_RECORDER_H
