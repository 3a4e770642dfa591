#include <gcuproto/blackbox/can_csv_formatter.h>

#include "decode_line.h"
#include "number_text.h"
#include "sample_text.h"

namespace gcuproto {
namespace blackbox {

void CanCsvFormatter::Begin(TextBuffer* out) {
  std::string header = "seqNo,timestamp";
  if (options_.time) header += ",time";
  header += ",canId,messageId,extended,dlc,data";
  if (options_.source) header += ",source";
  header += '\n';
  out->Append(header);
}

bool CanCsvFormatter::SetSource(std::string_view name, Error* error) {
  if (name.find_first_of("\r\n") != std::string_view::npos)
    return Report(error, SourceWithLineBreak());
  source_cell_ = "," + CsvCell(name);
  return true;
}

void CanCsvFormatter::AppendRow(const BlackboxCandumpFileLine& line, TextBuffer* out) const {
  const std::string& data = line.data();
  char* q = out->Reserve(6 * kMaxDecimal32 + kMaxSecondsText + 2 * data.size() +
                         source_cell_.size() + 16);
  q = PutDecimal(q, line.seqno());
  *q++ = ',';
  q = PutDecimal(q, line.timestamp());
  if (options_.time) {
    *q++ = ',';
    q = PutSeconds(q, line.timestamp(), options_.time_scale.digits(),
                   options_.time_scale.exponent());
  }
  *q++ = ',';
  q = PutDecimal(q, line.canid());
  *q++ = ',';
  q = PutDecimal(q, line.messageid());
  q = PutText(q, line.extended() ? ",true," : ",false,");
  q = std::to_chars(q, q + 20, data.size()).ptr;
  *q++ = ',';
  q = codec::PutHexBytes(q, data, codec::HexCase::kUpper);
  q = PutText(q, source_cell_);
  *q++ = '\n';
  out->Advance(q);
}

bool CanCsvFormatter::Line(RecordKind kind, std::string_view encoded, TextBuffer* out,
                           Error* error) {
  if (!DecodeLine(kind, encoded, &line_, &can_line_, error)) return false;
  if (kind == RecordKind::kCanLine) AppendRow(can_line_, out);
  return true;
}

}  // namespace blackbox
}  // namespace gcuproto
