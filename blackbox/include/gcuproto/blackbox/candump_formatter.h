// CAN lines in the log format of Linux can-utils (candump -l).
#ifndef GCUPROTO_BLACKBOX_CANDUMP_FORMATTER_H
#define GCUPROTO_BLACKBOX_CANDUMP_FORMATTER_H

#include <gcuproto/blackbox.pb.h>
#include <gcuproto/blackbox/can_id_field.h>
#include <gcuproto/blackbox/error.h>
#include <gcuproto/blackbox/export.h>
#include <gcuproto/blackbox/line_formatter.h>
#include <gcuproto/blackbox/record.h>
#include <gcuproto/blackbox/text_buffer.h>
#include <gcuproto/blackbox/time_scale.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

namespace gcuproto {
namespace blackbox {

struct CandumpOptions {
  std::string interface_name = "can0";
  TimeScale time_scale;
  // Added to every time: the epoch seconds of time stamp 0.
  std::uint64_t start_seconds = 0;
  CanIdField id_field = CanIdField::kCanId;
};

// CAN lines as candump -l writes them and can-utils' canplayer and log2asc
// and python-can read them:
//   (0000000001.005000) can0 123#00FF10
//   (0000000001.005000) can0 18FEF100#01264B7095BADF04
// Time is the time stamp times the scale: ten digits of seconds, six of
// microseconds. A standard identifier takes three hex digits, an extended one
// (`extended` set) eight. Data of up to 8 bytes is a classic frame; 12, 16,
// 20, 24, 32, 48 or 64 bytes a CAN FD frame ("ID##0DATA"). An identifier too
// large for its frame format, another data length, or a time past ten digits
// of seconds cannot be written and is refused (kUnsupported). Logger lines
// are left out (still checked to decode).
class GCUPROTO_BLACKBOX_EXPORT CandumpFormatter : public LineFormatter {
 public:
  explicit CandumpFormatter(CandumpOptions options) : options_(std::move(options)) {}
  bool Line(RecordKind kind, std::string_view encoded, TextBuffer* out, Error* error) override;

  bool AppendLine(const BlackboxCandumpFileLine& line, TextBuffer* out, Error* error) const;

 private:
  CandumpOptions options_;
  BlackboxFileLine line_;
  BlackboxCandumpFileLine can_line_;
};

}  // namespace blackbox
}  // namespace gcuproto

#endif  // GCUPROTO_BLACKBOX_CANDUMP_FORMATTER_H
