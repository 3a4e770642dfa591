#include <gcuproto/blackbox/candump_formatter.h>

#include <cctype>

#include "decode_line.h"
#include "number_text.h"

namespace gcuproto {
namespace blackbox {
namespace {

constexpr std::uint32_t kMaxStandardId = 0x7FF;
constexpr std::uint32_t kMaxExtendedId = 0x1FFFFFFF;
// Ten digits of seconds and six of microseconds.
constexpr std::uint64_t kMicrosecondsLimit = 10000000000000000ull;

bool IsCanFdLength(std::size_t size) {
  switch (size) {
    case 12:
    case 16:
    case 20:
    case 24:
    case 32:
    case 48:
    case 64:
      return true;
    default:
      return false;
  }
}

Error Unsupported(std::string message) {
  return Error(ErrorKind::kUnsupported, std::move(message));
}

std::string Hex(std::uint32_t value) {
  char text[8];
  const char* end = std::to_chars(text, text + sizeof text, value, 16).ptr;
  std::string hex = "0x";
  for (const char* p = text; p != end; ++p) hex += static_cast<char>(std::toupper(*p));
  return hex;
}

}  // namespace

bool CandumpFormatter::AppendLine(const BlackboxCandumpFileLine& line, TextBuffer* out,
                                  Error* error) const {
  const std::uint32_t id =
      options_.id_field == CanIdField::kCanId ? line.canid() : line.messageid();
  if (id > (line.extended() ? kMaxExtendedId : kMaxStandardId)) {
    return Report(
        error,
        Unsupported("CAN line's " +
                    std::string(options_.id_field == CanIdField::kCanId ? "canId " : "messageId ") +
                    Hex(id) + " does not fit " +
                    (line.extended() ? "an extended (29-bit)" : "a standard (11-bit)") +
                    " identifier"));
  }
  const std::size_t size = line.data().size();
  const bool fd = size > 8;
  if (fd && !IsCanFdLength(size)) {
    return Report(error,
                  Unsupported("CAN line's " + std::to_string(size) +
                              " data bytes are no CAN or CAN FD frame length (0 to 8, 12, 16, 20, "
                              "24, 32, 48, 64)"));
  }
  const std::uint64_t ticks = options_.time_scale.Microseconds(line.timestamp());
  const std::uint64_t microseconds = options_.start_seconds >= kMicrosecondsLimit / 1000000
                                         ? kMicrosecondsLimit
                                         : ticks + options_.start_seconds * 1000000;
  if (microseconds >= kMicrosecondsLimit || ticks >= kMicrosecondsLimit) {
    return Report(error, Unsupported("CAN line's time stamp " + std::to_string(line.timestamp()) +
                                     " is past the 10 digits of seconds of the candump format"));
  }
  char* q = out->Reserve(32 + options_.interface_name.size() + 2 * size);
  *q++ = '(';
  q = PutPadded(q, microseconds / 1000000, 10);
  *q++ = '.';
  q = PutPadded(q, microseconds % 1000000, 6);
  *q++ = ')';
  *q++ = ' ';
  q = PutText(q, options_.interface_name);
  *q++ = ' ';
  q = codec::PutHexNumber(q, id, line.extended() ? 8 : 3);
  *q++ = '#';
  if (fd) q = PutText(q, "#0");
  q = codec::PutHexBytes(q, line.data(), codec::HexCase::kUpper);
  *q++ = '\n';
  out->Advance(q);
  return true;
}

bool CandumpFormatter::Line(RecordKind kind, std::string_view encoded, TextBuffer* out,
                            Error* error) {
  if (!DecodeLine(kind, encoded, &line_, &can_line_, error)) return false;
  return kind == RecordKind::kLoggerLine || AppendLine(can_line_, out, error);
}

}  // namespace blackbox
}  // namespace gcuproto
