#include <gcuproto/blackbox/exporter.h>
#include <gcuproto/blackbox/line_decoder.h>

#include "number_text.h"

namespace gcuproto {
namespace blackbox {
namespace {

char* PutSampleList(char* q, std::string_view name,
                    const google::protobuf::RepeatedField<std::int32_t>& samples) {
  q = PutText(q, name);
  *q++ = '[';
  for (int i = 0; i < samples.size(); ++i) {
    if (i > 0) *q++ = ',';
    q = PutDecimal(q, samples.Get(i));
  }
  *q++ = ']';
  return q;
}

}  // namespace

void JsonLinesFormatter::AppendLine(const BlackboxFileLine& line, TextBuffer* out) {
  const auto samples = static_cast<std::size_t>(line.datainput_size() + line.dataoutput_size());
  char* q = out->Reserve(128 + (kMaxDecimal32 + 1) * samples);
  q = PutText(q, "{\"kind\":\"line\",\"seqNo\":");
  q = PutDecimal(q, line.seqno());
  q = PutText(q, ",\"timestamp\":");
  q = PutDecimal(q, line.timestamp());
  q = PutSampleList(q, ",\"dataInput\":", line.datainput());
  q = PutSampleList(q, ",\"dataOutput\":", line.dataoutput());
  q = PutText(q, "}\n");
  out->Advance(q);
}

void JsonLinesFormatter::AppendLine(const BlackboxCandumpFileLine& line, TextBuffer* out) {
  char* q = out->Reserve(192 + 2 * line.data().size());
  q = PutText(q, "{\"kind\":\"lineCan\",\"seqNo\":");
  q = PutDecimal(q, line.seqno());
  q = PutText(q, ",\"timestamp\":");
  q = PutDecimal(q, line.timestamp());
  q = PutText(q, ",\"canId\":");
  q = PutDecimal(q, line.canid());
  q = PutText(q, ",\"messageId\":");
  q = PutDecimal(q, line.messageid());
  q = PutText(q, line.extended() ? ",\"extended\":true,\"data\":\"" : ",\"extended\":false,\"data\":\"");
  q = PutHexBytes(q, line.data());
  q = PutText(q, "\"}\n");
  out->Advance(q);
}

bool JsonLinesFormatter::Line(RecordKind kind, std::string_view encoded, TextBuffer* out,
                              std::string* reason) {
  if (kind == RecordKind::kLoggerLine) {
    if (!DecodeLoggerLine(encoded, &line_)) {
      *reason = "logger line does not decode";
      return false;
    }
    AppendLine(line_, out);
    return true;
  }
  if (!can_line_.ParseFromArray(encoded.data(), static_cast<int>(encoded.size()))) {
    *reason = "CAN line does not decode";
    return false;
  }
  AppendLine(can_line_, out);
  return true;
}

}  // namespace blackbox
}  // namespace gcuproto
