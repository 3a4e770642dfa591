// What every export does with a line before writing it: decode it into the
// message of its kind. A line that does not decode is damage, reported the
// same way by every format, even by those that leave its kind out.
#ifndef GCUPROTO_BLACKBOX_DECODE_LINE_H
#define GCUPROTO_BLACKBOX_DECODE_LINE_H

#include <gcuproto/blackbox.pb.h>
#include <gcuproto/blackbox/error.h>
#include <gcuproto/blackbox/line_decoder.h>
#include <gcuproto/blackbox/record.h>

#include <string_view>

namespace gcuproto {
namespace blackbox {

inline bool DecodeLine(RecordKind kind, std::string_view encoded, BlackboxFileLine* line,
                       BlackboxCandumpFileLine* can_line, Error* error) {
  if (kind == RecordKind::kLoggerLine) {
    if (DecodeLoggerLine(encoded, line)) return true;
    return Report(error, Error(ErrorKind::kDamaged, "logger line does not decode"));
  }
  if (can_line->ParseFromArray(encoded.data(), static_cast<int>(encoded.size()))) return true;
  return Report(error, Error(ErrorKind::kDamaged, "CAN line does not decode"));
}

}  // namespace blackbox
}  // namespace gcuproto

#endif  // GCUPROTO_BLACKBOX_DECODE_LINE_H
